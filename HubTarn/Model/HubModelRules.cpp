// The values the views derive from the model's state. Each is recomputed
// on every redraw, so none copies the catalog or walks it more than once.
#include "Model/HubModel.h"
#include "Model/HubModelPrivate.h"

#include "Base/Config.h"
#include "Base/Versions.h"
#include "Installer/InstallLocations.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

bool hasArtifacts(const Release& release)
{
    return release.artifacts && !release.artifacts->empty();
}

// The highest version among the copies `counts` accepts; none without one.
template<typename Counts>
std::optional<QString> newestOf(const QList<InstalledFormat>& installed, Counts counts)
{
    std::optional<QString> newest;
    for (const InstalledFormat& copy : installed)
        if (counts(copy) && (!newest || Versions::compare(copy.version, *newest) > 0))
            newest = copy.version;
    return newest;
}

std::optional<QString> newestOf(const QList<InstalledFormat>& installed, PluginFormat format)
{
    return newestOf(installed, [format](const InstalledFormat& copy) { return copy.format == format; });
}

// `text` with each " · " read as ", ", appended to `out`.
void appendSpoken(QString& out, QStringView text)
{
    bool first = true;
    for (QStringView piece : text.tokenize(u" · ")) {
        if (!first)
            out += u", ";
        out += piece;
        first = false;
    }
}

} // namespace

// ---- The products shown -----------------------------------------------------

bool HubModel::isShown(const Product& product) const
{
    // One of the catalog's own products is in it by definition: the row
    // rules ask this for every row, and need no lookup for it.
    const std::optional<Catalog>& catalog = *d->catalog;
    const bool own = catalog && !catalog->products.empty() && &product >= catalog->products.data()
                     && &product < catalog->products.data() + catalog->products.size();
    if (!own && !catalogProduct(product.id))
        return false;
    if (!product.isInvite())
        return true;
    return d->account && d->account->products.contains(product.id);
}

HubModel::ProductList HubModel::products() const
{
    ProductList shown;
    forEachShown([&](const Product& product) { shown.push_back(std::cref(product)); });
    return shown;
}

const Product* HubModel::product(const std::optional<QString>& id) const
{
    if (!id)
        return nullptr;
    const Product* found = catalogProduct(*id);
    return found && isShown(*found) ? found : nullptr;
}

ProductState HubModel::state(const Product& product) const
{
    const auto found = d->states.find(product.id);
    return found == d->states.end() ? ProductState{} : found->second;
}

bool HubModel::isSoon(const Product& product) const
{
    return product.isComingSoon();
}

bool HubModel::isBeta(const Product& product) const
{
    return d->account && d->account->betas.contains(product.id);
}

HubModel::ProductList HubModel::updates() const
{
    ProductList result;
    forEachShown([&](const Product& product) {
        if (hasUpdate(product))
            result.push_back(std::cref(product));
    });
    return result;
}

std::optional<Release> HubModel::hubUpdate() const
{
    const std::optional<Catalog>& catalog = *d->catalog;
    if (!d->services.selfUpdates || !catalog || !catalog->hub || !Versions::isNewer(catalog->hub->version, Config::hubVersion()))
        return std::nullopt;
    return catalog->hub;
}

// ---- Versions and formats ---------------------------------------------------

const HubModel::Facts& HubModel::facts(const Product& product) const
{
    // Only the catalog's own products are cached: a copy may be stale.
    const std::vector<Product>* products = *d->catalog ? &(*d->catalog)->products : nullptr;
    if (!products || products->empty() || &product < products->data() || &product >= products->data() + products->size()) {
        d->uncachedFacts = Facts();
        computeFacts(product, d->uncachedFacts);
        const auto found = d->states.find(product.id);
        d->uncachedFacts.state = found == d->states.end() ? nullptr : &found->second;
        d->uncachedFacts.stateKnown = true;
        return d->uncachedFacts;
    }
    // Worked out in place: a new catalog's first redraw fills every entry.
    std::optional<Facts>& cached = d->facts[std::size_t(&product - products->data())];
    if (!cached)
        computeFacts(product, cached.emplace());
    if (!cached->stateKnown) {
        const auto found = d->states.find(product.id);
        cached->state = found == d->states.end() ? nullptr : &found->second;
        cached->stateKnown = true;
    }
    return *cached;
}

void HubModel::forgetFacts(const QString& productID)
{
    if (!*d->catalog)
        return;
    // A scan forgets thousands of products one by one: looked up, unless
    // the catalog lists an identifier twice and every entry must go.
    if (!d->repeatedIDs) {
        const auto found = d->productIndex.constFind(productID);
        if (found != d->productIndex.constEnd())
            d->facts[std::size_t(*found)].reset();
        return;
    }
    for (std::size_t i = 0; i < d->facts.size(); ++i)
        if ((*d->catalog)->products[i].id == productID)
            d->facts[i].reset();
}

void HubModel::computeFacts(const Product& product, Facts& f) const
{
    const auto found = d->states.find(product.id);
    static const QList<InstalledFormat> none;
    computeFacts(product, found == d->states.end() ? none : found->second.installed, cpu(), macOSVersion(), f);
}

void HubModel::computeFacts(const Product& product, const QList<InstalledFormat>& installed, const QString& cpu,
                            const QString& osVersion, Facts& f)
{
    weighVersions(product, installed, cpu, osVersion, f);
    addTexts(product, f);
}

void HubModel::weighVersions(const Product& product, const QList<InstalledFormat>& installed, const QString& cpu,
                             const QString& osVersion, Facts& f)
{
    f.installed = !installed.isEmpty();
    if (f.installed)
        f.installedVersion = newestOf(installed, [](const InstalledFormat&) { return true; });
    if (!product.release)
        return;
    const Release& release = *product.release;
    f.installable = release.installable();
    f.fit = release.fit(cpu, osVersion);
    if (!f.installed)
        return;
    for (PluginFormat format : formatsOffered(product, cpu))
        if (const std::optional<QString> version = newestOf(installed, format))
            if (Versions::isNewer(release.version, *version)) {
                f.stale.insert(format);
                if (!f.from || Versions::compare(*version, *f.from) < 0)
                    f.from = version; // the oldest copy the update replaces
            }
    if (product.isComingSoon() || !f.installable || f.fit.kind != Release::FitKind::fine) {
        f.from.reset();
        return;
    }
    if (hasArtifacts(release)) {
        f.update = !f.stale.empty();
    } else {
        f.update = f.installedVersion && Versions::isNewer(release.version, *f.installedVersion);
        f.from = f.update ? f.installedVersion : std::nullopt;
    }
    if (!f.update)
        f.from.reset();
}

void HubModel::addTexts(const Product& product, Facts& f)
{
    f.shown = product.shown();
    f.caption = captionOf(product, f);
    if (f.update) {
        f.spokenAtRest = f.shown + u", update available, "_s + f.from.value_or(QString()) + u" to "_s
                         + product.release->version;
    } else {
        // Made for every row of a new catalog: one allocation, not four.
        f.spokenAtRest.reserve(f.shown.size() + 2 + (f.caption.tag ? f.caption.tag->size() + 2 : 0)
                               + f.caption.text.size());
        f.spokenAtRest += f.shown;
        f.spokenAtRest += u", ";
        if (f.caption.tag) {
            f.spokenAtRest += *f.caption.tag;
            f.spokenAtRest += u", ";
        }
        appendSpoken(f.spokenAtRest, f.caption.text);
    }
}

std::optional<QString> HubModel::installedVersion(const Product& product, const std::set<PluginFormat>& formats) const
{
    const auto found = d->states.find(product.id);
    if (found == d->states.end())
        return std::nullopt;
    return newestOf(found->second.installed, [&formats](const InstalledFormat& copy) {
        return formats.empty() || formats.contains(copy.format);
    });
}

std::vector<PluginFormat> HubModel::formatsOffered(const Product& product) const
{
    return formatsOffered(product, cpu());
}

std::vector<PluginFormat> HubModel::formatsOffered(const Product& product, const QString& cpu)
{
    std::vector<PluginFormat> offered;
    if (!product.release || !product.release->artifacts)
        return offered;
    for (PluginFormat format : kAllPluginFormats)
        for (const Artifact& artifact : *product.release->artifacts)
            if (artifact.format == format && artifact.runsOn(cpu)) {
                offered.push_back(format);
                break;
            }
    return offered;
}

std::set<PluginFormat> HubModel::updateFormatsAvailable(const Product& product) const
{
    return facts(product).stale;
}

bool HubModel::hasUpdate(const Product& product) const
{
    return facts(product).update;
}

std::optional<QString> HubModel::updateFromVersion(const Product& product) const
{
    return facts(product).from;
}

std::set<PluginFormat> HubModel::defaultFormats(const Product& product) const
{
    std::set<PluginFormat> chosen;
    const std::vector<PluginFormat> offered = formatsOffered(product);
    for (PluginFormat format : offered)
        if (format == PluginFormat::app || (format == PluginFormat::au && d->installAU)
            || (format == PluginFormat::vst3 && d->installVST3))
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
        if (isWithin(QDir::cleanPath(copy.path), InstallLocations::folder(d->roots, copy.format, InstallScope::allUsers))
            && QDir::cleanPath(copy.path)
                   != QDir::cleanPath(InstallLocations::folder(d->roots, copy.format, InstallScope::allUsers)))
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
                   && isWithin(QDir::cleanPath(copy.path), InstallLocations::folder(d->roots, format, InstallScope::user));
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
    return abbreviatingHome(path, d->roots.userHome);
}

QString HubModel::placeName(const InstalledFormat& copy) const
{
    const QString path = QDir::cleanPath(copy.path);
    if (copy.format != PluginFormat::app) {
        if (isWithin(path, InstallLocations::folder(d->roots, copy.format, InstallScope::user)))
            return u"just for you"_s;
        if (isWithin(path, InstallLocations::folder(d->roots, copy.format, InstallScope::allUsers)))
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
        return u"needs an Arm computer"_s;
    case Release::FitKind::needsIntel:
        return u"needs an x86-64 computer"_s;
    case Release::FitKind::needsMacOS:
        // The release names a version of the other platform, which this
        // system has none of: what it needs cannot be named here.
        return u"not for this system"_s;
    }
    return {};
}

QString HubModel::installLabel(const Product&)
{
    return u"Install"_s;
}

QString HubModel::statusWord(const Product& product) const
{
    const Facts& f = facts(product);
    QString word;
    if (f.unfit())
        word = fitText(f.fit);
    else if (f.update)
        word = u"update "_s + product.release->version + u" available"_s;
    else if (f.installedVersion)
        word = u"installed "_s + *f.installedVersion + (isSoon(product) ? u" · not released yet"_s : QString());
    else if (isSoon(product))
        word = u"coming soon"_s;
    else if (product.isFree())
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
    const Facts& f = facts(product);
    if (f.unfit())
        return std::nullopt;
    if (f.update)
        return RowAction::update;
    if (f.installed)
        return std::nullopt;
    if (product.updateOnly())
        return product.pageURL ? std::optional(RowAction::get) : std::nullopt;
    if (f.installable)
        return RowAction::install;
    return product.pageURL ? std::optional(RowAction::get) : std::nullopt;
}

RowContext HubModel::rowContext(const Product& product) const
{
    const Facts& f = facts(product);
    const Job job = f.state ? f.state->job : Job::idle();
    const auto spokenAs = [](QString text, RowContextKind kind) { return RowContext{text, kind, text}; };
    if (job.kind == Job::Kind::failed)
        return spokenAs(u"Failed: "_s + job.message, RowContextKind::failure);
    if (job.kind == Job::Kind::warning)
        return spokenAs(u"Warning: "_s + job.message, RowContextKind::warning);
    if (f.unfit())
        return spokenAs(fitText(f.fit), RowContextKind::warning);
    if (f.update)
        if (const std::optional<QString> note = updateNote(product))
            return spokenAs(*note, RowContextKind::updateNote);
    if (job.kind == Job::Kind::done)
        return spokenAs(job.message, RowContextKind::done);
    return {product.tagline, RowContextKind::plain, std::nullopt};
}

std::optional<QString> HubModel::updateNote(const Product& product)
{
    if (!product.release)
        return std::nullopt;
    // The catalog's own entries, without the copy history() makes: the
    // entry history() adds for the release holds the release's note, which
    // is the answer below anyway.
    if (product.releases)
        for (const ReleaseNote& entry : *product.releases)
            if (entry.version == product.release->version && !entry.notes.isEmpty())
                return entry.notes.first();
    if (product.release->notes && !product.release->notes->isEmpty())
        return product.release->notes;
    return std::nullopt;
}

Caption HubModel::caption(const Product& product) const
{
    return facts(product).caption;
}

Caption HubModel::captionOf(const Product& product, const Facts& f)
{
    if (f.unfit())
        return {std::nullopt, fitText(f.fit), false};
    if (f.from)
        return {std::nullopt, *f.from + u" → "_s + product.release->version, true};
    if (f.installedVersion)
        return {std::nullopt, u"installed "_s + *f.installedVersion, false};
    if (product.isComingSoon())
        return {std::nullopt, u"coming soon"_s, false};
    const QString formats = product.formats ? product.formats->join(u" · "_s) : QString();
    if (product.isFree())
        return {u"free"_s, formats, false};
    return {std::nullopt, formats, false};
}

QString HubModel::spoken(const Product& product) const
{
    const Facts& f = facts(product);
    if (f.state && f.state->job.isWorking())
        return f.shown + u", "_s + f.state->job.shortText();
    return f.spokenAtRest;
}

QString HubModel::name(const QString& productID) const
{
    if (productID == "hub"_L1)
        return u"Tarnhub"_s;
    if (const Product* found = product(productID))
        return found->shown();
    return productID;
}

PluginSections HubModel::pluginSections() const
{
    PluginSections sections;
    if (!*d->catalog)
        return sections;
    const qsizetype most = qsizetype((*d->catalog)->products.size());
    QStringList withUpdate;
    QStringList without;
    sections.add.reserve(most);
    withUpdate.reserve(most);
    without.reserve(most);
    const auto place = [&](const Product& product) {
        const Facts& f = facts(product);
        if (!f.installed)
            sections.add.append(product.id);
        else if (f.update)
            withUpdate.append(product.id);
        else
            without.append(product.id);
    };
    forEachShown(place);
    sections.onMac = std::move(withUpdate);
    sections.onMac += without;
    return sections;
}

bool HubModel::busy() const
{
    if (d->hubJob.isWorking())
        return true;
    return std::any_of(d->states.begin(), d->states.end(), [](const auto& entry) { return entry.second.job.isWorking(); });
}

} // namespace Hub
