// The values the views derive from the model's state. Each is recomputed
// on every redraw, so none copies the catalog or walks it more than once.
#include "Model/HubModel.h"

#include "Catalog/Config.h"
#include "Catalog/Versions.h"
#include "Installer/InstallLocations.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

bool fits(const Release& release, const QString& cpu, const QString& version)
{
    return release.fit(cpu, version).kind == Release::FitKind::fine;
}

bool hasArtifacts(const Release& release)
{
    return release.artifacts && !release.artifacts->empty();
}

// The highest version among copies of `format`; none without a copy.
std::optional<QString> newestOf(const QList<InstalledFormat>& installed, PluginFormat format)
{
    std::optional<QString> newest;
    for (const InstalledFormat& copy : installed)
        if (copy.format == format && (!newest || Versions::compare(copy.version, *newest) > 0))
            newest = copy.version;
    return newest;
}

} // namespace

// ---- The products shown -----------------------------------------------------

bool HubModel::isShown(const Product& product) const
{
    if (!m_catalog || !m_catalog->product(product.id))
        return false;
    if (product.status != "invite"_L1)
        return true;
    return m_account && m_account->products.contains(product.id);
}

std::vector<Product> HubModel::products() const
{
    std::vector<Product> shown;
    if (!m_catalog)
        return shown;
    for (const Product& product : m_catalog->products)
        if (product.status != "invite"_L1)
            shown.push_back(product);
    if (m_account)
        for (const QString& id : m_account->products)
            if (const Product* shared = m_catalog->product(id); shared && shared->status == "invite"_L1)
                shown.push_back(*shared);
    return shown;
}

std::optional<Product> HubModel::product(const std::optional<QString>& id) const
{
    if (!id || !m_catalog)
        return std::nullopt;
    const Product* found = m_catalog->product(*id);
    if (!found || !isShown(*found))
        return std::nullopt;
    return *found;
}

ProductState HubModel::state(const Product& product) const
{
    const auto found = m_states.find(product.id);
    return found == m_states.end() ? ProductState{} : found->second;
}

bool HubModel::isSoon(const Product& product) const
{
    return product.isComingSoon();
}

bool HubModel::isBeta(const Product& product) const
{
    return m_account && m_account->betas.contains(product.id);
}

std::vector<Product> HubModel::updates() const
{
    std::vector<Product> result;
    for (Product& product : products())
        if (!isSoon(product) && hasUpdate(product))
            result.push_back(std::move(product));
    return result;
}

std::optional<Release> HubModel::hubUpdate() const
{
    if (!m_catalog || !m_catalog->hub || !Versions::isNewer(m_catalog->hub->version, Config::hubVersion()))
        return std::nullopt;
    return m_catalog->hub;
}

// ---- Versions and formats ---------------------------------------------------

std::optional<QString> HubModel::installedVersion(const Product& product) const
{
    const auto found = m_states.find(product.id);
    if (found == m_states.end())
        return std::nullopt;
    std::optional<QString> newest;
    for (const InstalledFormat& copy : found->second.installed)
        if (!newest || Versions::compare(copy.version, *newest) > 0)
            newest = copy.version;
    return newest;
}

std::vector<PluginFormat> HubModel::formatsOffered(const Product& product) const
{
    std::vector<PluginFormat> offered;
    if (!product.release || !product.release->artifacts)
        return offered;
    for (PluginFormat format : kAllPluginFormats)
        for (const Artifact& artifact : *product.release->artifacts)
            if (artifact.format == format && artifact.runsOn(cpu())) {
                offered.push_back(format);
                break;
            }
    return offered;
}

std::set<PluginFormat> HubModel::updateFormatsAvailable(const Product& product) const
{
    std::set<PluginFormat> formats;
    const auto found = m_states.find(product.id);
    if (!product.release || found == m_states.end())
        return formats;
    for (PluginFormat format : formatsOffered(product))
        if (const std::optional<QString> installed = newestOf(found->second.installed, format))
            if (Versions::isNewer(product.release->version, *installed))
                formats.insert(format);
    return formats;
}

bool HubModel::hasUpdate(const Product& product) const
{
    if (isSoon(product) || !product.release || !product.release->installable()
        || !fits(*product.release, cpu(), macOSVersion()))
        return false;
    const auto found = m_states.find(product.id);
    if (found == m_states.end() || found->second.installed.isEmpty())
        return false;
    if (hasArtifacts(*product.release))
        return !updateFormatsAvailable(product).empty();
    const std::optional<QString> installed = installedVersion(product);
    return installed && Versions::isNewer(product.release->version, *installed);
}

std::optional<QString> HubModel::updateFromVersion(const Product& product) const
{
    if (!hasUpdate(product))
        return std::nullopt;
    if (!hasArtifacts(*product.release))
        return installedVersion(product);
    // The oldest copy the update replaces, so "1.0 → 2.0" names what the
    // user actually has behind.
    std::optional<QString> oldest;
    const QList<InstalledFormat>& installed = m_states.at(product.id).installed;
    for (PluginFormat format : updateFormatsAvailable(product))
        if (const std::optional<QString> version = newestOf(installed, format))
            if (!oldest || Versions::compare(*version, *oldest) < 0)
                oldest = version;
    return oldest;
}

std::set<PluginFormat> HubModel::defaultFormats(const Product& product) const
{
    std::set<PluginFormat> chosen;
    const std::vector<PluginFormat> offered = formatsOffered(product);
    for (PluginFormat format : offered)
        if (format == PluginFormat::app || (format == PluginFormat::au && m_installAU)
            || (format == PluginFormat::vst3 && m_installVST3))
            chosen.insert(format);
    if (chosen.empty())
        chosen.insert(offered.begin(), offered.end());
    return chosen;
}

std::set<PluginFormat> HubModel::updateFormats(const Product& product) const
{
    std::set<PluginFormat> formats = updateFormatsAvailable(product);
    if (!formats.empty())
        return formats;
    const ProductState current = state(product);
    for (PluginFormat format : formatsOffered(product))
        if (std::any_of(current.installed.begin(), current.installed.end(),
                        [format](const InstalledFormat& copy) { return copy.format == format; }))
            formats.insert(format);
    return formats.empty() ? defaultFormats(product) : formats;
}

// ---- Installed copies and where they live -----------------------------------

std::optional<QString> HubModel::appPath(const Product& product) const
{
    for (const InstalledFormat& copy : state(product).installed)
        if (copy.format == PluginFormat::app)
            return copy.path;
    return std::nullopt;
}

QList<InstalledFormat> HubModel::allUsersCopies(const Product& product) const
{
    QList<InstalledFormat> copies;
    for (const InstalledFormat& copy : state(product).installed)
        if (isWithin(QDir::cleanPath(copy.path), InstallLocations::folder(m_roots, copy.format, InstallScope::allUsers))
            && QDir::cleanPath(copy.path)
                   != QDir::cleanPath(InstallLocations::folder(m_roots, copy.format, InstallScope::allUsers)))
            copies.append(copy);
    return copies;
}

QList<InstalledFormat> HubModel::legacyCopies(const Product& product) const
{
    const QList<InstalledFormat> installed = state(product).installed;
    const QList<InstalledFormat> forAll = allUsersCopies(product);
    // A user's own copy is one that is not itself an all-users copy: an
    // application's folder is the same for both, so it never counts.
    const auto hasOwnCopy = [&](PluginFormat format) {
        return std::any_of(installed.begin(), installed.end(), [&](const InstalledFormat& copy) {
            return copy.format == format && !forAll.contains(copy)
                   && isWithin(QDir::cleanPath(copy.path), InstallLocations::folder(m_roots, format, InstallScope::user));
        });
    };
    QList<InstalledFormat> legacy;
    for (const InstalledFormat& copy : forAll)
        if (hasOwnCopy(copy.format))
            legacy.append(copy);
    return legacy;
}

QString HubModel::abbreviated(const QString& path) const
{
    return abbreviatingHome(path, m_roots.userHome);
}

QString HubModel::placeName(const InstalledFormat& copy) const
{
    const QString path = QDir::cleanPath(copy.path);
    if (copy.format != PluginFormat::app) {
        if (isWithin(path, InstallLocations::folder(m_roots, copy.format, InstallScope::user)))
            return u"just for you"_s;
        if (isWithin(path, InstallLocations::folder(m_roots, copy.format, InstallScope::allUsers)))
            return u"for all users"_s;
    }
    return abbreviated(QFileInfo(path).path());
}

// ---- Texts ------------------------------------------------------------------

QString HubModel::fitText(const Release::Fit& fit)
{
    switch (fit.kind) {
    case Release::FitKind::fine:
        return {};
    case Release::FitKind::needsAppleSilicon:
        return u"needs Apple Silicon"_s;
    case Release::FitKind::needsIntel:
        return u"needs an Intel computer"_s;
    case Release::FitKind::needsMacOS:
        return u"needs macOS "_s + fit.minimum;
    }
    return {};
}

QString HubModel::installLabel(const Product&)
{
    return u"Install"_s;
}

QString HubModel::statusWord(const Product& product) const
{
    QString word;
    const std::optional<QString> installed = installedVersion(product);
    if (product.release && product.release->installable() && !fits(*product.release, cpu(), macOSVersion()))
        word = fitText(product.release->fit(cpu(), macOSVersion()));
    else if (hasUpdate(product))
        word = u"update "_s + product.release->version + u" available"_s;
    else if (installed)
        word = u"installed "_s + *installed + (isSoon(product) ? u" · not released yet"_s : QString());
    else if (isSoon(product))
        word = u"coming soon"_s;
    else if (product.status == "free"_L1)
        word = u"free"_s;
    else if (isBeta(product))
        word = u"invited"_s;
    else
        word = u"available now"_s;
    if (isBeta(product))
        word += u" · beta"_s;
    return word;
}

std::optional<RowAction> HubModel::rowAction(const Product& product) const
{
    if (!isShown(product) || isSoon(product))
        return std::nullopt;
    const bool installable = product.release && product.release->installable();
    if (installable && !fits(*product.release, cpu(), macOSVersion()))
        return std::nullopt;
    if (hasUpdate(product))
        return RowAction::update;
    if (!state(product).installed.isEmpty())
        return std::nullopt;
    if (product.updateOnly())
        return product.pageURL ? std::optional(RowAction::get) : std::nullopt;
    if (installable)
        return RowAction::install;
    return product.pageURL ? std::optional(RowAction::get) : std::nullopt;
}

RowContext HubModel::rowContext(const Product& product) const
{
    const Job job = state(product).job;
    const auto spokenAs = [](QString text, RowContextKind kind) { return RowContext{text, kind, text}; };
    if (job.kind == Job::Kind::failed)
        return spokenAs(u"Failed: "_s + job.message, RowContextKind::failure);
    if (job.kind == Job::Kind::warning)
        return spokenAs(u"Warning: "_s + job.message, RowContextKind::warning);
    if (product.release && product.release->installable() && !fits(*product.release, cpu(), macOSVersion()))
        return spokenAs(fitText(product.release->fit(cpu(), macOSVersion())), RowContextKind::warning);
    if (hasUpdate(product)) {
        std::optional<QString> note;
        for (const ReleaseNote& entry : product.history())
            if (entry.version == product.release->version && !entry.notes.isEmpty()) {
                note = entry.notes.first();
                break;
            }
        if (!note && product.release->notes)
            note = product.release->notes;
        if (note)
            return spokenAs(*note, RowContextKind::updateNote);
    }
    if (job.kind == Job::Kind::done)
        return spokenAs(job.message, RowContextKind::done);
    return {product.tagline, RowContextKind::plain, std::nullopt};
}

Caption HubModel::caption(const Product& product) const
{
    if (product.release && product.release->installable() && !fits(*product.release, cpu(), macOSVersion()))
        return {std::nullopt, fitText(product.release->fit(cpu(), macOSVersion())), false};
    if (const std::optional<QString> from = updateFromVersion(product))
        return {std::nullopt, *from + u" → "_s + product.release->version, true};
    if (const std::optional<QString> installed = installedVersion(product))
        return {std::nullopt, u"installed "_s + *installed, false};
    if (isSoon(product))
        return {std::nullopt, u"coming soon"_s, false};
    const QString formats = product.formats.value_or(QStringList()).join(u" · "_s);
    if (product.status == "free"_L1)
        return {u"free"_s, formats, false};
    return {std::nullopt, formats, false};
}

QString HubModel::spoken(const Product& product) const
{
    const QString shown = product.shown();
    const Job job = state(product).job;
    if (job.isWorking())
        return shown + u", "_s + job.shortText();
    if (hasUpdate(product))
        return shown + u", update available, "_s + updateFromVersion(product).value_or(QString()) + u" to "_s
               + product.release->version;
    const Caption said = caption(product);
    QString text = shown + u", "_s;
    if (said.tag)
        text += *said.tag + u", "_s;
    return text + QString(said.text).replace(u" · "_s, u", "_s);
}

QString HubModel::name(const QString& productID) const
{
    if (productID == "hub"_L1)
        return u"Tarnhub"_s;
    if (const std::optional<Product> found = product(productID))
        return found->shown();
    return productID;
}

PluginSections HubModel::pluginSections() const
{
    PluginSections sections;
    if (!m_catalog)
        return sections;
    QStringList withUpdate;
    QStringList without;
    const auto place = [&](const Product& product) {
        const auto found = m_states.find(product.id);
        if (found == m_states.end() || found->second.installed.isEmpty())
            sections.add.append(product.id);
        else if (hasUpdate(product))
            withUpdate.append(product.id);
        else
            without.append(product.id);
    };
    for (const Product& product : m_catalog->products)
        if (product.status != "invite"_L1)
            place(product);
    if (m_account)
        for (const QString& id : m_account->products)
            if (const Product* shared = m_catalog->product(id); shared && shared->status == "invite"_L1)
                place(*shared);
    sections.onMac = withUpdate + without;
    return sections;
}

bool HubModel::busy() const
{
    if (m_hubJob.isWorking())
        return true;
    return std::any_of(m_states.begin(), m_states.end(), [](const auto& entry) { return entry.second.job.isWorking(); });
}

} // namespace Hub
