#include "Installer/PluginInstaller.h"

#include "Base/Config.h"
#include "Base/HubError.h"
#include "Base/Places.h"
#include "Installer/ApplicationEntries.h"
#include "Installer/InstallLocations.h"
#include "Platform/FileMoves.h"
#include "Platform/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

struct Target {
    PluginFormat format;
    QString path;
};

QString fileName(const QString& path) { return QFileInfo(path).fileName(); }

QByteArray native(const QString& path) { return QFile::encodeName(path); }

bool isRealFolder(const QString& path)
{
    struct stat st {};
    return ::lstat(native(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isWritable(const QString& path) { return ::access(native(path).constData(), W_OK) == 0; }

// The parent folder the user cannot write to, or a bundle folder the user
// cannot change: the user-side move would fail half-way or not at all.
bool needsPrivileges(const QString& path)
{
    if (!isWritable(QFileInfo(path).absolutePath()))
        return true;
    return isRealFolder(path) && !isWritable(path);
}

QString describe(const std::exception& error)
{
    if (const auto* file = dynamic_cast<const FileError*>(&error))
        return file->description();
    if (const auto* hub = dynamic_cast<const HubError*>(&error))
        return hub->errorDescription();
    return QString::fromLocal8Bit(error.what());
}

// Creates each missing folder of `path` with 0700, like the Trash that file
// managers make; existing folders are left as they are.
void makeMissingFolders(const QString& path)
{
    QString built;
    for (const QString& piece : path.split(u'/')) {
        built = built.isEmpty() && piece.isEmpty() ? u"/"_s : QDir(built).filePath(piece);
        if (piece.isEmpty())
            continue;
        if (::mkdir(native(built).constData(), 0700) != 0 && errno != EEXIST)
            throw FileError(errno, built);
    }
}

std::optional<PluginFormat> archiveFormat(const QString& name)
{
    for (const PluginFormat format : {PluginFormat::vst3, PluginFormat::au, PluginFormat::app})
        if (name.endsWith(u'-' + rawValue(format) + u".zip"_s))
            return format;
    return std::nullopt;
}

void trashIgnoringFailure(const TrashHook& trash, const QString& path)
{
    try {
        trash(path);
    } catch (...) {
        // Pruning backups is tidying up: a backup that stays costs disk
        // space, never a bundle.
    }
}

} // namespace

std::optional<SettingsFolderRecord> SettingsFolderRecord::of(const Product& product)
{
    if (!product.settingsFolder)
        return std::nullopt;
    return SettingsFolderRecord{product.shown(), *product.settingsFolder};
}

namespace {

// The installed copies the options choose that the product owns; a note
// for each one it does not.
std::vector<Target> chosenTargets(const PluginInstaller& installer, const Product& product,
                                  const UninstallOptions& options, const InstallRoots& roots, QStringList& notes)
{
    std::vector<Target> targets;
    for (const InstalledFormat& entry : installer.installed(product, roots)) {
        if (!options.formats.contains(entry.format))
            continue;
        const std::optional<InstallScope> scope = InstallLocations::scope(entry.path, entry.format, roots);
        if (!scope || !options.scopes.contains(*scope))
            continue;
        if (const std::optional<QString> problem =
                PluginInstaller::ownershipProblem(entry.path, entry.format, product, installer.anchors)) {
            notes.append(*problem);
            continue;
        }
        targets.push_back({entry.format, entry.path});
    }
    return targets;
}

// The registry codes of the Audio Units among `targets`, each once: the
// catalog's, else the component's own.
std::vector<AUDescriptor> audioUnitsOf(const std::vector<Target>& targets, const Product& product)
{
    std::vector<AUDescriptor> descriptors;
    for (const Target& target : targets) {
        if (target.format != PluginFormat::au)
            continue;
        std::optional<AUDescriptor> descriptor;
        if (product.release && product.release->artifacts) {
            for (const Artifact& artifact : *product.release->artifacts) {
                if (artifact.format == PluginFormat::au && artifact.bundle == fileName(target.path)) {
                    descriptor = artifact.au;
                    break;
                }
            }
        }
        if (!descriptor)
            descriptor = auDescriptorOfComponent(target.path);
        if (descriptor && std::find(descriptors.begin(), descriptors.end(), *descriptor) == descriptors.end())
            descriptors.push_back(*descriptor);
    }
    return descriptors;
}

// Moves the targets to the Trash: those the user cannot move first, with
// one prompt; then the rest, retrying those refused for permission with
// another prompt. A dismissed or failed first prompt throws.
void trashTargets(const PluginInstaller& installer, const std::vector<Target>& targets, const Product& product,
                  const InstallRoots& roots, QStringList& notes)
{
    QStringList privileged;
    std::vector<const Target*> ordinary;
    for (const Target& target : targets) {
        if (needsPrivileges(target.path))
            privileged.append(target.path);
        else
            ordinary.push_back(&target);
    }
    // A dismissed prompt or a failed script ends the uninstall before any
    // other copy moves, so the user sees one outcome for the whole product.
    if (!privileged.isEmpty())
        installer.trashAsAdministrator(privileged, product, roots);

    QStringList retry;
    for (const Target* target : ordinary) {
        try {
            installer.trash(target->path);
        } catch (const std::exception& error) {
            if (!FileMoves::existsNoFollow(target->path))
                continue;
            if (PluginInstaller::isPermissionError(error))
                retry.append(target->path);
            else
                notes.append(u"Couldn't move "_s + fileName(target->path) + u" to the Trash ("_s + describe(error)
                             + u")."_s);
        }
    }
    if (!retry.isEmpty()) {
        try {
            installer.trashAsAdministrator(retry, product, roots);
        } catch (const std::exception& error) {
            notes.append(describe(error));
        }
    }
}

} // namespace

QList<InstalledFormat> PluginInstaller::uninstall(const Product& product, const UninstallOptions& options,
                                                  const InstallRoots& roots) const
{
    QStringList notes;
    const std::vector<Target> targets = chosenTargets(*this, product, options, roots, notes);
    // Read before anything moves: a component in the Trash has no codes to read.
    const std::vector<AUDescriptor> descriptors = audioUnitsOf(targets, product);
    trashTargets(*this, targets, product, roots, notes);
    for (const Target& target : targets)
        if (target.format == PluginFormat::app && !FileMoves::existsNoFollow(target.path))
            ApplicationEntries::remove(target.path, roots);

    const QList<InstalledFormat> remaining = installed(product, roots);
    std::set<PluginFormat> remainingFormats;
    for (const InstalledFormat& entry : remaining)
        remainingFormats.insert(entry.format);
    if (!remainingFormats.contains(PluginFormat::au) && registry) {
        for (const AUDescriptor& descriptor : descriptors)
            registry->refreshAndWaitGone(descriptor, registrationTimeout);
    }

    removeBackups(product.id, remainingFormats, roots);

    if (options.removeSettings) {
        if (const std::optional<SettingsFolderRecord> record = SettingsFolderRecord::of(product)) {
            if (const std::optional<QString> note = removeSettings(*record, roots))
                notes.append(*note);
        }
    }

    if (!notes.isEmpty())
        throw HubError::message(notes.join(u'\n'));
    return installed(product, roots);
}

std::optional<QString> PluginInstaller::ownershipProblem(const QString& bundle, PluginFormat /*format*/,
                                                         const Product& product, const TrustAnchors& anchors)
{
    const QString name = fileName(bundle);
    QStringList known;
    if (product.release && product.release->artifacts) {
        for (const Artifact& artifact : *product.release->artifacts)
            if (artifact.bundle == name && artifact.bundleID && !artifact.bundleID->isEmpty())
                known.append(*artifact.bundleID);
    }
    const std::optional<QString> own = bundleID(bundle);
    if (own && known.contains(*own))
        return std::nullopt;
    if (CodeSignature::teamID(bundle, anchors) == Config::teamID())
        return std::nullopt;
    return name + u" in "_s + QFileInfo(bundle).absolutePath()
           + u" isn't signed by Tarnaudio, so the hub left it there. Move it to the Trash in Files if you want it gone."_s;
}

bool PluginInstaller::isPermissionError(const std::exception& error)
{
    if (const auto* file = dynamic_cast<const FileError*>(&error)) {
        if (file->isPermissionError())
            return true;
    } else if (const auto* system = dynamic_cast<const std::system_error*>(&error)) {
        const std::error_condition condition = system->code().default_error_condition();
        if (condition == std::errc::permission_denied || condition == std::errc::operation_not_permitted)
            return true;
    }
    if (const auto* nested = dynamic_cast<const std::nested_exception*>(&error)) {
        if (!nested->nested_ptr())
            return false;
        try {
            nested->rethrow_nested();
        } catch (const std::exception& inner) {
            return isPermissionError(inner);
        } catch (...) {
            return false;
        }
    }
    return false;
}

void PluginInstaller::trashAsAdministrator(const QStringList& paths, const Product& product,
                                           const InstallRoots& roots) const
{
    const QString trashFolder = Trash::folder(roots.userHome);
    // The script runs as root and refuses a Trash it would have to create
    // in the user's folders; the user makes it here with their own rights.
    for (const QString& folder : QStringList{trashFolder, trashFolder + u"/files"_s, trashFolder + u"/info"_s})
        if (!FileMoves::existsNoFollow(folder))
            makeMissingFolders(folder);

    const QStringList arguments = QStringList{trashFolder, QString::number(::getuid()), QString::number(::getgid())}
                                  + paths;
    const QString prompt = u"Tarnhub wants to move "_s + product.shown() + u" to the Trash."_s;
    const Shell::Result result = privileged(prompt, TrashScript::text(trashTools), arguments);
    if (result.status != 0 && result.output.contains(QStringView(PrivilegedRunner::kCancelledMarker)))
        throw HubError::cancelled();

    QStringList left;
    for (const QString& path : paths)
        if (FileMoves::existsNoFollow(path))
            left.append(fileName(path));
    if (result.status == 0 && left.isEmpty())
        return;
    if (left.isEmpty())
        for (const QString& path : paths)
            left.append(fileName(path));
    const QString sentence = u"Couldn't move "_s + left.join(u", "_s) + u" to the Trash."_s;
    // Only the script's own words, never a tool's or a refusal of what ran
    // it; and only their end, but a line naming a folder where an item was
    // kept must never be cut off: it is the only pointer to it.
    const QString reasons = PrivilegedRunner::scriptReasons(result.output);
    if (reasons.isEmpty())
        throw HubError::message(sentence);
    const QString tail = outputTail(reasons);
    QString kept;
    for (const QString& line : reasons.split(u'\n', Qt::SkipEmptyParts))
        if (line.contains(u" is kept in "_s) && !tail.contains(line))
            kept += line + u'\n';
    throw HubError::message(sentence + u'\n' + kept + tail);
}

void PluginInstaller::removeBackups(const QString& productID, const std::set<PluginFormat>& keeping,
                                    const InstallRoots& roots) const
{
    if (!InstallLocations::isPlainComponent(productID))
        return;
    const QString folder = backupsFolder(roots, productID);
    if (!FileMoves::existsNoFollow(folder))
        return;
    if (keeping.empty()) {
        trashIgnoringFailure(trash, folder);
        return;
    }
    const QStringList entries =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& entry : entries) {
        const std::optional<PluginFormat> format = archiveFormat(entry);
        if (format && !keeping.contains(*format))
            trashIgnoringFailure(trash, QDir(folder).filePath(entry));
    }
}

std::optional<QString> PluginInstaller::settingsFolder(const SettingsFolderRecord& record, const InstallRoots& roots)
{
    const QStringList pieces = record.folder.split(u'/');
    if (pieces.size() != 2 || pieces[0] != "Tarn Audio"_L1 || !InstallLocations::isPlainComponent(pieces[1])
        || pieces[1].compare("reports"_L1, Qt::CaseInsensitive) == 0)
        return std::nullopt;
    return QDir(Places::path(Places::Place::makerFolder, roots.userHome)).filePath(pieces[1]);
}

std::optional<QString> PluginInstaller::removeSettings(const SettingsFolderRecord& record,
                                                       const InstallRoots& roots) const
{
    const std::optional<QString> folder = settingsFolder(record, roots);
    if (!folder)
        return u"The settings folder of "_s + record.product + u" ("_s + record.folder
               + u") isn't one the hub manages, so it was left alone."_s;
    if (!FileMoves::existsNoFollow(*folder))
        return std::nullopt;
    if (!isRealFolder(*folder))
        return *folder + u" isn't a plain folder, so the hub left it there."_s;
    try {
        trash(*folder);
    } catch (const std::exception& error) {
        return u"Couldn't move "_s + fileName(*folder) + u" settings to the Trash ("_s + describe(error) + u")."_s;
    }
    return std::nullopt;
}

} // namespace Hub
