#include "Installer/PluginInstaller.h"

#include "Base/HubError.h"
#include "Base/Machine.h"
#include "Base/Process.h"
#include "Installer/ApplicationEntries.h"
#include "Installer/InstallLocations.h"
#include "Platform/FileMoves.h"
#include "Platform/SecureExtract.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <filesystem>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace fs = std::filesystem;

namespace Hub {

namespace {

constexpr auto kStagingKeep = std::chrono::seconds(86'400);        // one day
constexpr auto kRecoveryKeep = std::chrono::seconds(2'592'000);    // 30 days

// How much larger than its download an archive may say it unpacks to.
// Deflate packs at most about 1032:1, and only runs of one byte; plug-ins
// (code, presets, samples, artwork) pack 2:1 to 10:1, and even a bundle
// padded with silence stays far below 200:1. An archive that claims more is
// a bomb, whatever its total, and is refused before a byte is written. A
// total under kRatioFloor is never refused for its ratio: writing that much
// costs nothing, and a small bundle of text may well pack tighter.
constexpr qint64 kMaxUnpackRatio = 200;
constexpr qint64 kRatioFloor = 64 << 20;

fs::path native(const QString& path) { return fs::path(QFile::encodeName(path).toStdString()); }

// The files extraction wrote below `bundle`, by path inside it.
CodeSignature::MeasuredFiles measuredInside(const SecureExtract::WrittenFiles& written, const QString& bundle)
{
    CodeSignature::MeasuredFiles measured;
    const QString prefix = bundle + u'/';
    for (const auto& [path, file] : written.files) {
        if (path.startsWith(prefix))
            measured.emplace(path.mid(prefix.size()), CodeResources::Digest{file.sha256, file.size, {}});
    }
    return measured;
}

// When an entry came into being: its birth time where the file system
// keeps one, else its last modification. None when it cannot be read.
std::optional<std::chrono::system_clock::time_point> createdAt(const QString& path)
{
    struct statx status {};
    if (::statx(AT_FDCWD, native(path).c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME, &status) != 0)
        return std::nullopt;
    if (!(status.stx_mask & (STATX_BTIME | STATX_MTIME)))
        return std::nullopt;
    const statx_timestamp stamp = (status.stx_mask & STATX_BTIME) ? status.stx_btime : status.stx_mtime;
    return std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
        std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec)));
}

// Removes the work folder when the install ends, however it ends, unless
// recovery material must stay; then it gets the marker instead.
class WorkFolder {
public:
    explicit WorkFolder(QString path)
        : m_path(std::move(path))
    {
    }
    ~WorkFolder()
    {
        if (keep) {
            PluginInstaller::writeRecoveryMarker(m_path);
            return;
        }
        std::error_code ignored;
        fs::remove_all(native(m_path), ignored);
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    const QString& path() const { return m_path; }
    QString file(const QString& name) const { return m_path + u'/' + name; }

    bool keep = false;

private:
    QString m_path;
};

} // namespace

PluginInstaller::PluginInstaller(std::shared_ptr<AURegistry> registry, bool allowUnsigned,
                                 double registrationTimeout, SessionFactory configuration, URLResolver resolveURL,
                                 TrashHook trash, PrivilegedHook privileged)
    : registry(std::move(registry))
    , allowUnsigned(allowUnsigned)
    , registrationTimeout(registrationTimeout)
    , resolveURL(std::move(resolveURL))
    , trash(std::move(trash))
    , privileged(std::move(privileged))
    , configuration(configuration ? std::move(configuration) : SessionFactory([] { return Http::Session{}; }))
{
}

QList<InstalledFormat> PluginInstaller::installed(const Product& product, const InstallRoots& roots) const
{
    return InstallLocations::installed(product, roots);
}

QString PluginInstaller::stagingRoot(const InstallRoots& roots) { return roots.support + u"/Staging"_s; }

QString PluginInstaller::newUUID() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(); }

std::vector<Artifact> PluginInstaller::choose(const Product& product, const Release& release,
                                              const std::set<PluginFormat>& formats)
{
    return choose(product, release, formats, Machine::cpu());
}

std::vector<Artifact> PluginInstaller::choose(const Product& product, const Release& release,
                                              const std::set<PluginFormat>& formats, const QString& cpu)
{
    const QString shown = product.shown();
    if (!release.artifacts || release.artifacts->empty())
        throw HubError::message(shown + u' ' + release.version + u" installs with its package, not per format."_s);
    if (formats.empty())
        throw HubError::message(u"Choose at least one format to install."_s);

    std::vector<Artifact> chosen;
    for (const PluginFormat format : kAllPluginFormats) {
        if (!formats.contains(format))
            continue;
        const auto& artifacts = *release.artifacts;
        const auto found = std::find_if(artifacts.begin(), artifacts.end(), [&](const Artifact& artifact) {
            return artifact.format == format && artifact.runsOn(cpu);
        });
        if (found == artifacts.end())
            throw HubError::message(shown + u' ' + release.version + u" has no "_s + label(format)
                                    + u" download for this computer."_s);
        if (!InstallLocations::isPlainName(found->bundle) || pluginFormatFromBundleName(found->bundle) != format)
            throw HubError::message(u"The catalog entry for "_s + shown + u' ' + label(format) + u" is invalid ("_s
                                    + found->bundle + u")."_s);
        chosen.push_back(*found);
    }
    return chosen;
}

void PluginInstaller::cleanStaging(const InstallRoots& roots, const TrashHook& trash)
{
    cleanStaging(roots, trash, std::chrono::system_clock::now());
}

void PluginInstaller::cleanStaging(const InstallRoots& roots, const TrashHook& trash,
                                   std::chrono::system_clock::time_point now)
{
    const QString root = stagingRoot(roots);
    QStringList entries;
    std::error_code error;
    for (fs::directory_iterator it(native(root), error), end; !error && it != end; it.increment(error))
        entries.append(root + u'/' + QFile::decodeName(QByteArray::fromStdString(it->path().filename().string())));

    for (const QString& entry : std::as_const(entries)) {
        const auto created = createdAt(entry);
        // An entry whose age cannot be read counts as very old.
        const auto age = created ? now - *created : std::chrono::system_clock::duration::max();
        if (FileMoves::existsNoFollow(entry + u'/' + kRecoveryMarker)) {
            if (age > kRecoveryKeep && trash) {
                try {
                    trash(entry);
                } catch (...) {
                    // Left for the next clean-up.
                }
            }
        } else if (age > kStagingKeep) {
            std::error_code ignored;
            fs::remove_all(native(entry), ignored);
        }
    }
    cleanStrays(roots, trash);
}

namespace {

using Report = std::function<void(const InstallStep&)>;

// A write that ran out of room.
bool isDiskFull(const std::exception_ptr& error)
{
    if (!error)
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const FileError& failure) {
        return failure.isDiskFull();
    } catch (...) {
        return false;
    }
}

// What an install that ran out of room says: which disk, and that what was
// installed before is still there as it was.
QString diskFullSentence(const QString& path, const Product& product, const Release& release,
                         const QList<InstalledFormat>& kept, const QString& home)
{
    const QString shown = product.shown();
    if (kept.isEmpty())
        return Hub::diskFullSentence(path, shown + u' ' + release.version, u" and nothing was changed."_s, home);
    const bool oneVersion = std::all_of(kept.begin(), kept.end(), [&](const InstalledFormat& format) {
        return format.version == kept.first().version && !format.version.isEmpty();
    });
    return Hub::diskFullSentence(path, shown + u' ' + release.version,
                                 u"; "_s + shown + (oneVersion ? u' ' + kept.first().version : QString())
                                     + u" is still installed as it was."_s,
                                 home);
}

// Each artifact's share of the progress bar: by catalog size when every
// size is known, else equal shares.
std::vector<double> downloadShares(const std::vector<Artifact>& artifacts)
{
    std::vector<double> weights;
    double sum = 0.0;
    bool allSized = true;
    for (const Artifact& artifact : artifacts) {
        const double weight = artifact.size && *artifact.size > 0 ? double(*artifact.size) : 0.0;
        allSized = allSized && weight > 0.0;
        weights.push_back(weight);
        sum += weight;
    }
    for (double& weight : weights)
        weight = allSized && sum > 0.0 ? weight / sum : 1.0 / double(artifacts.size());
    return weights;
}

QUrl downloadAddress(const PluginInstaller& installer, const Product& product, const Artifact& artifact,
                     const QString& version)
{
    QUrl url;
    if (installer.resolveURL) {
        url = installer.resolveURL(product.id, artifact, version);
    } else {
        url = QUrl(artifact.url, QUrl::StrictMode);
        if (artifact.url.isEmpty() || !url.isValid())
            throw HubError::message(u"The download address of "_s + artifact.bundle + u" is invalid."_s);
    }
    PluginInstaller::checkScheme(url);
    return url;
}

// Downloads and checks every artifact into the work folder; the archives,
// in the artifacts' order.
QStringList downloadAll(const PluginInstaller& installer, const Product& product, const Release& release,
                        const std::vector<Artifact>& artifacts, const WorkFolder& work, const Report& report)
{
    const std::vector<double> weights = downloadShares(artifacts);
    QStringList archives;
    double base = 0.0;
    for (std::size_t index = 0; index < artifacts.size(); ++index) {
        const Artifact& artifact = artifacts[index];
        const QUrl url = downloadAddress(installer, product, artifact, release.version);
        const QString archive = work.file(rawValue(artifact.format) + u".zip"_s);
        const double weight = weights[index];
        const PluginInstaller::Downloaded downloaded =
            installer.download(url, artifact, archive, [&report, base, weight](double fraction) {
                report(InstallStep::downloading(std::min(base + fraction * weight, 1.0)));
            });
        PluginInstaller::checkDownload(archive, artifact, installer.allowUnsigned, downloaded.sha256);
        archives.append(archive);
        base += weight;
    }
    return archives;
}

// Unpacks one archive beside it and verifies the bundle it holds.
StagedBundle unpackOne(const PluginInstaller& installer, const Release& release, const Artifact& artifact,
                       const QString& archive, const WorkFolder& work)
{
    const QString unpacked = work.file(rawValue(artifact.format));
    InstallLocations::makePrivateFolder(unpacked);
    // Unpacked here rather than by a tool, so that each file's digest is
    // taken as it is written: the folder is this process's alone, so the
    // signature check need not read the bytes back.
    SecureExtract::WrittenFiles written;
    const QString download = u"The "_s + label(artifact.format) + u" download"_s;
    try {
        const SecureExtract::Checked checked = SecureExtract::check(archive, SecureExtract::Formats::zip);
        const qint64 declared = checked.declaredBytes();
        if (declared > kRatioFloor && declared > kMaxUnpackRatio * QFileInfo(archive).size())
            throw HubError::message(download + u" claims to unpack to over "_s + QString::number(kMaxUnpackRatio)
                                    + u" times its size, which no plug-in does, so the hub won't install it."_s);
        SecureExtract::extract(checked, unpacked, &written);
    } catch (const SecureExtract::Error& error) {
        switch (error.kind()) {
        case SecureExtract::Error::Kind::diskFull:
            throw FileError(ENOSPC, unpacked);
        case SecureExtract::Error::Kind::tooLarge:
            throw HubError::message(download + u" unpacks to more than "_s
                                    + QString::number(SecureExtract::kMaxDeclaredBytes / 1'000'000'000)
                                    + u" GB, so the hub won't install it."_s);
        case SecureExtract::Error::Kind::moreThanDeclared:
            throw HubError::message(download
                                    + u" is damaged (a file holds more than its stated size), so the hub won't install it."_s);
        default:
            throw HubError::message(u"Couldn't unpack the "_s + label(artifact.format) + u" download. Try again."_s);
        }
    }
    QFile::remove(archive);

    const QString bundle = unpacked + u'/' + artifact.bundle;
    CodeSignature::MeasuredFiles measured = measuredInside(written, artifact.bundle);
    PluginInstaller::verifyStaged(bundle, artifact, release.version, installer.allowUnsigned, installer.anchors,
                                  measured);
    return {artifact, bundle, std::move(measured)};
}

// Unpacks and verifies every archive, each on a thread of its own: the work
// is hashing and writing, and the archives share nothing. When several
// fail, the first artifact's fault is the one reported.
QList<StagedBundle> unpackAll(const PluginInstaller& installer, const Release& release,
                              const std::vector<Artifact>& artifacts, const QStringList& archives,
                              const WorkFolder& work)
{
    std::vector<std::optional<StagedBundle>> staged(artifacts.size());
    std::vector<std::exception_ptr> faults(artifacts.size());
    const auto unpack = [&](std::size_t index) {
        try {
            staged[index] = unpackOne(installer, release, artifacts[index], archives[qsizetype(index)], work);
        } catch (...) {
            faults[index] = std::current_exception();
        }
    };
    {
        std::vector<std::jthread> others;
        for (std::size_t index = 1; index < artifacts.size(); ++index)
            others.emplace_back(unpack, index);
        if (!artifacts.empty())
            unpack(0);
    }
    // A full disk fails every unpack at once, some perhaps in ways that do
    // not say so; the disk is what the user must hear about.
    for (const std::exception_ptr& fault : faults)
        if (isDiskFull(fault))
            std::rethrow_exception(fault);
    QList<StagedBundle> out;
    for (std::size_t index = 0; index < artifacts.size(); ++index) {
        if (faults[index])
            std::rethrow_exception(faults[index]);
        out.append(std::move(*staged[index]));
    }
    return out;
}

// Places the staged bundles in `scope`; after a failed placement the
// backups folder is put back and the error thrown (see restoreBackups).
QList<InstalledFormat> place(const PluginInstaller& installer, const QList<StagedBundle>& staged,
                             const Product& product, InstallScope scope, const InstallRoots& roots,
                             WorkFolder& work)
{
    const QString backups = PluginInstaller::backupsFolder(roots, product.id);
    const bool backupsExisted = PluginInstaller::snapshotBackups(backups, work.path());
    const QString spares = work.file(PluginInstaller::kSparesList);

    QList<InstalledFormat> results;
    try {
        switch (scope) {
        case InstallScope::user:
            results = installer.installForUser(staged, product, roots, spares);
            break;
        case InstallScope::allUsers:
            results = installer.installForAllUsers(staged, product, roots, spares);
            break;
        }
    } catch (...) {
        PluginInstaller::restoreBackups(std::current_exception(), backups, work.path(), backupsExisted, work.keep);
    }
    return results;
}

// The bundles of the Audio Units the registry did not list in time.
QStringList unlistedAudioUnits(const PluginInstaller& installer, const QList<StagedBundle>& staged,
                               const QList<InstalledFormat>& results, const Report& report)
{
    QStringList notListed;
    for (qsizetype index = 0; index < staged.size(); ++index) {
        const Artifact& artifact = staged[index].artifact;
        if (artifact.format != PluginFormat::au)
            continue;
        report(InstallStep::registering());
        const std::optional<AUDescriptor> descriptor =
            artifact.au ? artifact.au : auDescriptorOfComponent(results[index].path);
        // Without a registry there is no one to confirm the listing.
        if (!descriptor || !installer.registry
            || !installer.registry->refreshAndWait(*descriptor, installer.registrationTimeout))
            notListed.append(artifact.bundle);
    }
    return notListed;
}

} // namespace

QList<InstalledFormat> PluginInstaller::install(const Product& product, const Release& release,
                                                const std::set<PluginFormat>& formats, InstallScope scope,
                                                const InstallRoots& roots, const InstallProgress& progress) const
{
    const Report report = [&progress](const InstallStep& step) {
        if (progress)
            progress(step);
    };

    if (!InstallLocations::isPlainComponent(product.id))
        throw HubError::message(u"Invalid product identifier."_s);
    const std::vector<Artifact> artifacts = choose(product, release, formats);
    cleanStaging(roots, trash);

    QList<StagedBundle> staged;
    QList<InstalledFormat> results;
    try {
        const QString root = stagingRoot(roots);
        InstallLocations::makePrivateFolder(root);
        const QString workPath = root + u'/' + newUUID();
        InstallLocations::makePrivateFolder(workPath);
        WorkFolder work(workPath);

        report(InstallStep::downloading(0.0));
        const QStringList archives = downloadAll(*this, product, release, artifacts, work, report);
        report(InstallStep::downloading(1.0));
        report(InstallStep::verifying());
        staged = unpackAll(*this, release, artifacts, archives, work);
        report(InstallStep::installing());
        results = place(*this, staged, product, scope, roots, work);
    } catch (const FileError& error) {
        // Whatever ran out of room, the placement has put everything back
        // by now (a recovery that could not finish throws its own error), and
        // the work folder is gone with what it held.
        if (!error.isDiskFull())
            throw;
        // Found by the bundles this release would have replaced.
        Product scanned = product;
        scanned.release = release;
        throw HubError::message(diskFullSentence(error.path(), product, release, installed(scanned, roots), roots.userHome));
    }
    // An application's entry follows the place it went to: one meant for
    // all users lands in the user's own folder when that is all that could
    // be written.
    for (const InstalledFormat& copy : results)
        if (copy.format == PluginFormat::app)
            ApplicationEntries::add(product, copy.path, roots,
                                    InstallLocations::scope(copy.path, PluginFormat::app, roots).value_or(scope));
    const QStringList notListed = unlistedAudioUnits(*this, staged, results, report);
    report(InstallStep::done());
    if (!notListed.isEmpty())
        throw AUNotListedYet(notListed, results);
    return results;
}

} // namespace Hub
