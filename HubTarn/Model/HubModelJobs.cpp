// Installs, updates, removals and the other work on products.
#include "Model/HubModel.h"
#include "Model/HubModelPrivate.h"

#include "Base/Config.h"
#include "Base/Versions.h"
#include "Installer/ApplicationEntries.h"
#include "Installer/InstallErrors.h"
#include "Installer/InstallLocations.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <mutex>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

const QString kInstallWarning = u"Close it first so it loads the new version. Plug-ins are replaced while it stays "
                                u"open, and it may keep using the old one until you restart it."_s;
const QString kUninstallWarning = u"Close it first. An open DAW keeps the removed plug-in loaded until you quit it."_s;

// What one install or removal left: the product's copies afterwards (the
// installer may have placed some before failing) and how it ended.
struct JobResult {
    QList<InstalledFormat> installed;
    std::optional<QString> warning;
    std::exception_ptr error;
};

// A package's installer places what it holds, whatever the feed named:
// copies found afterwards, none of them in the release's version, mean the
// release was not installed, however the installer ended.
std::exception_ptr placedVersionMismatch(const QList<InstalledFormat>& placed, const Release& release)
{
    const InstalledFormat* found = nullptr;
    for (const InstalledFormat& copy : placed) {
        if (Versions::compare(copy.version, release.version) == std::strong_ordering::equal)
            return nullptr;
        found = found ? found : &copy;
    }
    if (!found)
        return nullptr;
    return std::make_exception_ptr(HubError::message(QFileInfo(found->path).fileName() + u" is version "_s
                                                     + (found->version.isEmpty() ? u"?"_s : found->version)
                                                     + u", not "_s + release.version + u". Try again later."_s));
}

// What a removal took away: the whole product when no copy is left, else
// the formats whose copies went ("echo's AU is in the Trash."), so that a
// VST3 left installed is never said to be gone.
QString trashSentence(const Product& product, const QList<InstalledFormat>& before,
                      const QList<InstalledFormat>& after)
{
    QStringList went;
    for (PluginFormat format : kAllPluginFormats) {
        const bool gone = std::any_of(before.begin(), before.end(), [&](const InstalledFormat& copy) {
            return copy.format == format && std::none_of(after.begin(), after.end(), [&](const InstalledFormat& left) {
                       return left.path == copy.path;
                   });
        });
        if (gone)
            went.append(label(format));
    }
    if (after.isEmpty() || went.isEmpty())
        return product.shown() + u" is in the Trash."_s;
    return product.shown() + u"'s "_s + went.join(u" and "_s) + (went.size() == 1 ? u" is"_s : u" are"_s)
           + u" in the Trash."_s;
}

} // namespace

std::optional<HubError> HubModel::Private::hubError(const std::exception_ptr& error)
{
    if (!error)
        return std::nullopt;
    try {
        std::rethrow_exception(error);
    } catch (const HubError& hubError) {
        return hubError;
    } catch (...) {
        return std::nullopt;
    }
}

bool HubModel::Private::isCancelled(const std::exception_ptr& error)
{
    const std::optional<HubError> known = hubError(error);
    return known && known->kind() == HubError::Kind::cancelled;
}

bool HubModel::Private::isUnauthorized(const std::exception_ptr& error)
{
    const std::optional<HubError> known = hubError(error);
    return known && known->isUnauthorized();
}

namespace {

QString stepWord(InstallStep::Kind kind)
{
    switch (kind) {
    case InstallStep::Kind::downloading:
        return u"downloading"_s;
    case InstallStep::Kind::verifying:
        return u"verifying"_s;
    case InstallStep::Kind::installing:
        return u"installing"_s;
    case InstallStep::Kind::registering:
        return u"registering"_s;
    case InstallStep::Kind::done:
        break;
    }
    return {};
}

// The newest step an installer reported, passed to the main thread at most
// once per event-loop turn however fast the installer reports.
struct ProgressSlot {
    std::mutex mutex;
    InstallStep latest;
    bool posted = false;
};

} // namespace

// ---- Job state ----------------------------------------------------------------

QString HubModel::installCode(const QString& lastStep)
{
    return lastStep.isEmpty() ? u"hub.install"_s : u"hub.install."_s + lastStep;
}

bool HubModel::isWorking(const QString& productID) const
{
    const auto found = d->states.find(productID);
    return found != d->states.end() && found->second.job.isWorking();
}

void HubModel::setJob(const QString& productID, const Job& job)
{
    if (!d->states.contains(productID))
        forgetFacts(productID); // it knew no state
    ProductState& current = d->states[productID];
    if (current.job == job)
        return;
    const bool ended = current.job.isWorking() && !job.isWorking();
    // A download's progress concerns that product's row alone.
    const bool sameStep = current.job.kind == job.kind;
    current.job = job;
    Q_EMIT productStateChanged(productID);
    if (!sameStep)
        Q_EMIT statesChanged();
    if (ended)
        maybeRestart();
}

void HubModel::rescan(const Product& product, const QList<InstalledFormat>& installed)
{
    d->rescanned.insert(product.id, ++d->rescans);
    // No entry is made for nothing: facts that know no entry stay right.
    const auto found = d->states.find(product.id);
    if (found == d->states.end() ? installed.isEmpty() : found->second.installed == installed)
        return;
    d->setInstalled(product.id, installed);
    forgetFacts(product.id);
    Q_EMIT productStateChanged(product.id);
    Q_EMIT statesChanged();
}

InstallProgress HubModel::Private::progressFor(HubModel* model, const QString& productID, std::shared_ptr<QString> lastStep)
{
    auto slot = std::make_shared<ProgressSlot>();
    QPointer<HubModel> self(model);
    return [self, slot, productID, lastStep](const InstallStep& step) {
        if (step.kind == InstallStep::Kind::done)
            return; // the outcome arrives with the result
        {
            const std::lock_guard lock(slot->mutex);
            slot->latest = step;
            if (std::exchange(slot->posted, true))
                return;
        }
        QMetaObject::invokeMethod(
            self.data(),
            [self, slot, productID, lastStep] {
                InstallStep latest;
                {
                    const std::lock_guard lock(slot->mutex);
                    latest = slot->latest;
                    slot->posted = false;
                }
                if (!self)
                    return;
                *lastStep = stepWord(latest.kind);
                const Job job = Job::from(latest);
                const auto found = self->d->states.find(productID);
                const Job current = productID.isEmpty() ? self->d->hubJob
                                    : found == self->d->states.end() ? Job::idle()
                                                                    : found->second.job;
                // Only a new whole percent or a new step is news to the views.
                if (current.kind == job.kind && current.percent() == job.percent())
                    return;
                if (productID.isEmpty())
                    self->assign(self->d->hubJob, job, &HubModel::hubJobChanged);
                else
                    self->setJob(productID, job);
            },
            Qt::QueuedConnection);
    };
}

// ---- Requests -----------------------------------------------------------------

bool HubModel::warnAboutDAWs(const QString& message, const QString& confirm, std::function<void()> run)
{
    const QStringList daws = d->services.runningDAWs();
    if (daws.isEmpty()) {
        run();
        return false;
    }
    // A confirmation handled twice (a double click, a replayed event) must
    // still start the work once.
    auto fired = std::make_shared<bool>(false);
    d->dawWarning = DAWWarning{daws, message, confirm, [fired, run = std::move(run)] {
                                  if (!std::exchange(*fired, true))
                                      run();
                              }};
    Q_EMIT dawWarningChanged();
    return true;
}

void HubModel::requestInstall(const Product& product, const std::set<PluginFormat>& formats, InstallScope scope)
{
    if (!isShown(product) || isSoon(product) || !product.release || !product.release->installable()
        || product.release->fit(cpu(), macOSVersion()).kind != Release::FitKind::fine)
        return;
    const InstallRequest request{product, formats, scope};
    const auto run = [this, request] { startInstall(request); };
    const bool appOnly = formats == std::set<PluginFormat>{PluginFormat::app};
    const bool packagedApp = formatsOffered(product).empty() && product.kind == "app"_L1
                             && product.formats == QStringList{u"App"_s};
    if (appOnly || packagedApp)
        run();
    else
        warnAboutDAWs(kInstallWarning, u"Continue anyway"_s, run);
}

void HubModel::requestUninstall(const Product& product, const UninstallOptions& options, bool legacy)
{
    const auto run = [this, product, options] { startUninstall(product, options); };
    if (options.formats == std::set<PluginFormat>{PluginFormat::app})
        run();
    else
        warnAboutDAWs(kUninstallWarning, legacy ? u"Remove anyway"_s : u"Uninstall anyway"_s, run);
}

void HubModel::requestRemoveLegacy(const Product& product)
{
    UninstallOptions options;
    for (const InstalledFormat& copy : legacyCopies(product))
        options.formats.insert(copy.format);
    if (options.formats.empty())
        return;
    options.scopes = {InstallScope::allUsers};
    requestUninstall(product, options, true);
}

HubModel::InstallRequest HubModel::updateRequest(const Product& product) const
{
    if (formatsOffered(product).empty())
        return {product, {}, InstallScope::allUsers};
    // An update goes where the copies are: for all users only when every
    // copy is there.
    const QList<InstalledFormat> installed = state(product).installed;
    const bool allForAll = !installed.isEmpty() && allUsersCopies(product).size() == installed.size();
    return {product, updateFormats(product), allForAll ? InstallScope::allUsers : InstallScope::user};
}

void HubModel::requestUpdateAll()
{
    std::vector<InstallRequest> queue;
    for (const Product& product : updates())
        queue.push_back(updateRequest(product));
    if (queue.empty())
        return;
    warnAboutDAWs(kInstallWarning, u"Continue anyway"_s, [this, queue] { runUpdates(queue); });
}

void HubModel::runUpdates(std::vector<InstallRequest> queue)
{
    while (!queue.empty()) {
        const InstallRequest next = queue.front();
        queue.erase(queue.begin());
        // Another queue or the user may have brought it up to date since
        // this queue was made; installing it again would be wasted work.
        if (const Product* current = product(next.product.id); current && hasUpdate(*current)) {
            startInstall(next, [this, queue] { runUpdates(queue); });
            return;
        }
    }
}

// ---- Install --------------------------------------------------------------------

// One job per product: a second request while one runs (update all during
// an update, a quiet update, a late confirmation) is skipped. A newer copy
// on the computer is refused, and the product's job line says so.
bool HubModel::refusesInstall(const InstallRequest& request)
{
    const Product& product = request.product;
    if (isWorking(product.id) || d->shutDown || d->restarting || !product.release)
        return true;
    const Release& release = *product.release;
    // Only a copy this install replaces can be newer than the release: a
    // newer copy of a format left alone is no reason to refuse the rest.
    if (const std::optional<QString> installed = installedVersion(product, request.formats);
        installed && Versions::compare(*installed, release.version) > 0) {
        setJob(product.id, Job::failed(u"This computer has "_s + product.shown() + u" "_s + *installed
                                       + u", newer than "_s + release.version + u", so the hub left it there."_s));
        return true;
    }
    return false;
}

PluginInstaller::URLResolver HubModel::Private::downloadResolver() const
{
    PluginInstaller::URLResolver resolve;
    if (session)
        resolve = [service = services.service, session = *this->session](
                      const QString& productID, const Artifact& artifact, const QString& version) {
            return service->downloadURL(session, productID, artifact.format, version);
        };
    return resolve;
}

void HubModel::startInstall(const InstallRequest& request, std::function<void()> finished)
{
    if (refusesInstall(request)) {
        if (finished)
            finished();
        return;
    }
    const Product& product = request.product;
    const Release release = *product.release;
    setJob(product.id, Job::downloading(0.0));

    const quint64 generation = d->generation;
    auto lastStep = std::make_shared<QString>();
    const InstallProgress progress = Private::progressFor(this, product.id, lastStep);
    const std::stop_token stop = d->stop.get_token();
    const std::shared_ptr<const PluginInstalling> scanner = d->services.installerFor({}, stop);
    const bool package = formatsOffered(product).empty() && release.download().has_value();
    std::function<JobResult()> work;
    if (package) {
        work = [packages = d->services.packages, product, release, progress, stop, scanner, roots = d->roots] {
            JobResult result;
            try {
                packages->install(product.shown(), release, false, progress, stop);
            } catch (...) {
                result.error = std::current_exception();
            }
            result.installed = scanner->installed(product, roots);
            if (!result.error)
                result.error = placedVersionMismatch(result.installed, release);
            // A maker's package places its applications itself; their menu
            // entries follow where the scan found them.
            if (!result.error)
                for (const InstalledFormat& copy : result.installed)
                    if (copy.format == PluginFormat::app)
                        ApplicationEntries::add(
                            product, copy.path, roots,
                            InstallLocations::scope(copy.path, PluginFormat::app, roots).value_or(InstallScope::allUsers));
            return result;
        };
    } else {
        const std::shared_ptr<const PluginInstalling> installer = d->services.installerFor(d->downloadResolver(), stop);
        work = [installer, product, release, request, progress, scanner, roots = d->roots] {
            JobResult result;
            try {
                installer->install(product, release, request.formats, request.scope, roots, progress);
            } catch (const AUNotListedYet& notListed) {
                result.warning = notListed.description();
            } catch (...) {
                result.error = std::current_exception();
            }
            result.installed = scanner->installed(product, roots);
            return result;
        };
    }
    submit(Keep::always, std::move(work), [this, request, lastStep, finished, generation](Outcome<JobResult> outcome) {
        JobResult result = outcome.value ? std::move(*outcome.value) : JobResult{{}, {}, outcome.error};
        const Product& product = request.product;
        if (outcome.value)
            rescan(product, result.installed);
        if (result.warning) {
            setJob(product.id, Job::warning(*result.warning));
        } else if (!result.error) {
            setJob(product.id, Job::done(product.shown() + u" "_s + product.release->version + u" is installed."_s));
        } else if (Private::isCancelled(result.error)) {
            setJob(product.id, Job::idle());
        } else {
            const QString sentence = errorSentence(result.error, d->roots.userHome);
            record(product.id, installCode(*lastStep), sentence);
            setJob(product.id, Job::failed(sentence));
            // A refusal of the session that was signed out meanwhile says
            // nothing about the one signed in now.
            if (Private::isUnauthorized(result.error) && generation == d->generation)
                signOutHere(true);
        }
        if (finished)
            finished();
    });
}

// ---- Uninstall ------------------------------------------------------------------

void HubModel::startUninstall(const Product& product, const UninstallOptions& options)
{
    if (isWorking(product.id) || d->shutDown || d->restarting)
        return;
    const Job before = state(product).job;
    const QList<InstalledFormat> copiesBefore = state(product).installed;
    setJob(product.id, Job::removing());
    const std::shared_ptr<const PluginInstalling> scanner = d->services.installerFor({}, d->stop.get_token());
    submit(
        Keep::always,
        [uninstaller = d->services.uninstaller, scanner, product, options, roots = d->roots] {
            JobResult result;
            try {
                uninstaller->uninstall(product, options, roots);
            } catch (...) {
                result.error = std::current_exception();
            }
            result.installed = scanner->installed(product, roots);
            return result;
        },
        [this, product, before, copiesBefore](Outcome<JobResult> outcome) {
            JobResult result = outcome.value ? std::move(*outcome.value) : JobResult{{}, {}, outcome.error};
            if (outcome.value)
                rescan(product, result.installed);
            if (!result.error) {
                setJob(product.id, Job::done(trashSentence(product, copiesBefore, result.installed)));
            } else if (Private::isCancelled(result.error)) {
                setJob(product.id, before.isWorking() ? Job::idle() : before);
            } else {
                const QString sentence = errorSentence(result.error, d->roots.userHome);
                record(product.id, u"hub.uninstall"_s, sentence);
                setJob(product.id, Job::failed(sentence));
            }
        });
}

// ---- Opening things ---------------------------------------------------------------

void HubModel::openLink(const QUrl& url)
{
    // Catalog addresses are remote data: nothing but web pages, and mail to
    // the maker's own support address, leaves the program.
    const QString scheme = url.scheme();
    const bool web = (scheme == "https"_L1 || scheme == "http"_L1) && url.isValid() && !url.host().isEmpty();
    const bool support = scheme == "mailto"_L1 && url.path() == Config::supportEmail() && !url.hasQuery()
                         && !url.hasFragment();
    if (web || support)
        d->services.workspace->openURL(url);
}

void HubModel::openApp(const Product& product)
{
    if (const std::optional<QString> path = appPath(product))
        d->services.workspace->openApplication(*path);
}

void HubModel::reveal(const Product& product)
{
    QStringList paths;
    for (const InstalledFormat& copy : state(product).installed)
        paths.append(copy.path);
    if (paths.isEmpty())
        return;
    // Nothing else would tell: the page's job line says what did not open.
    d->services.workspace->reveal(paths, [self = QPointer(this), id = product.id](const QString& folder) {
        const Product* shown = self ? self->product(id) : nullptr;
        if (!shown || self->state(*shown).job.isWorking())
            return;
        self->setJob(id, Job::warning(self->folderNotOpened(folder)));
    });
}

QString HubModel::folderNotOpened(const QString& folder) const
{
    return u"Couldn't open the folder "_s + abbreviated(folder) + u": no file manager answered."_s;
}

void HubModel::openFolder(const QString& path, std::function<void(const QString& sentence)> failed)
{
    QString folder = QDir::cleanPath(path);
    while (!QFileInfo::exists(folder) && folder.split(u'/', Qt::SkipEmptyParts).size() >= 2)
        folder = QFileInfo(folder).path();
    d->services.workspace->openFolder(folder, [self = QPointer(this), failed = std::move(failed)](const QString& shut) {
        if (self && failed)
            failed(self->folderNotOpened(shut));
    });
}

void HubModel::openAccountPage()
{
    setAccountMenu(false);
    if (!d->session || d->offline) {
        openLink(Config::accountPage());
        return;
    }
    submit(Keep::sameSession, [service = d->services.service, session = *d->session] { return service->siteLink(session); },
           [this](Outcome<QUrl> outcome) { openLink(outcome.value.value_or(Config::accountPage())); });
}

void HubModel::sendFeedback(const Product& product, FeedbackKind kind, const QString& message,
                            std::function<void(std::optional<HubError>)> done)
{
    if (!d->session) {
        done(HubError::message(u"Sign in to send feedback."_s));
        return;
    }
    QString version = installedVersion(product).value_or(product.release ? product.release->version : QString());
    const quint64 generation = d->generation;
    submit(
        Keep::always,
        [service = d->services.service, session = *d->session, id = product.id, version, kind, message] {
            service->feedback(session, id, version, kind, message);
        },
        [this, generation, done](Outcome<std::monostate> outcome) {
            if (outcome.value) {
                done(std::nullopt);
                return;
            }
            const HubError error = Private::hubError(outcome.error).value_or(HubError::message(errorSentence(outcome.error)));
            if (error.isUnauthorized() && generation == d->generation)
                signOutHere(true);
            done(error);
        });
}

} // namespace Hub
