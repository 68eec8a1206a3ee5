#pragma once

#include "Catalog/CatalogRecords.h"
#include "Catalog/SharedTypes.h"
#include "Installer/AURegistry.h"
#include "Installer/InstallErrors.h"
#include "Installer/Placement/AllUsersScript.h"
#include "Installer/Placement/PrivilegedRunner.h"
#include "Installer/PluginUninstalling.h"
#include "Installer/Removal/TrashScript.h"
#include "Installer/Signing/CodeSignature.h"
#include "Platform/Http.h"
#include "Platform/ToolPaths.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace Hub {

// Progress of one install. Called on the installing thread; must be safe to
// call from any thread and must not block.
using InstallProgress = std::function<void(const InstallStep& step)>;

// What the app model uses of the installer.
class PluginInstalling {
public:
    virtual ~PluginInstalling() = default;

    virtual QList<InstalledFormat> installed(const Product& product, const InstallRoots& roots) const = 0;
    virtual QList<InstalledFormat> install(const Product& product, const Release& release,
                                           const std::set<PluginFormat>& formats, InstallScope scope,
                                           const InstallRoots& roots, const InstallProgress& progress) const = 0;
};

// One verified bundle in the staging folder, ready to be placed.
struct StagedBundle {
    StagedBundle(Artifact artifact, QString bundle, CodeSignature::MeasuredFiles measured = {})
        : artifact(std::move(artifact))
        , bundle(std::move(bundle))
        , measured(std::move(measured))
    {
    }

    Artifact artifact;
    QString bundle; // path of the staged bundle
    CodeSignature::MeasuredFiles measured; // its files' digests, taken as it was unpacked
};

// The installer: the collaborators that install, scan and uninstall share,
// and the install pipeline. A plain value; the app model builds one and sets
// `resolveURL` on a copy for each install. Every operation blocks the
// calling thread; cancellation comes through the stop token of the
// sessions that `configuration` makes.
class PluginInstaller : public PluginInstalling, public PluginUninstalling {
public:
    // (product identifier, artifact, release version) to the address to
    // download from. Whatever it throws ends the install with that error.
    using URLResolver = std::function<QUrl(const QString& productID, const Artifact& artifact, const QString& version)>;
    // A fresh HTTP session for one artifact download: trusted roots and the
    // stop token that cancels it.
    using SessionFactory = std::function<Http::Session()>;

    std::shared_ptr<AURegistry> registry;
    bool allowUnsigned = false;
    double registrationTimeout = 5.0; // seconds, per registry wait
    // Seconds without a byte before a download fails; empty: the
    // downloader's own minute. Only a stand-in service shortens it.
    std::optional<double> downloadIdleTimeout;
    URLResolver resolveURL;           // empty: the artifact's catalog url
    TrashHook trash;
    PrivilegedHook privileged;
    SessionFactory configuration;
    // Stand-ins of the platform: where the tool applets live and which
    // signing anchors are trusted. Production uses the installed tools and
    // the pinned anchor; tests pass the build tree's tools and their PKI.
    ToolPaths tools = ToolPaths::installed();
    TrustAnchors anchors = TrustAnchors::pinned();

    // `configuration` defaults to a session with the system's roots and no
    // stop token.
    PluginInstaller(std::shared_ptr<AURegistry> registry, bool allowUnsigned, double registrationTimeout,
                    SessionFactory configuration = {}, URLResolver resolveURL = {},
                    TrashHook trash = PrivilegedRunner::moveToTrash,
                    PrivilegedHook privileged = PrivilegedRunner::runAsAdministrator);

    // ---- The pipeline -----------------------------------------------------

    QList<InstalledFormat> installed(const Product& product, const InstallRoots& roots) const override;

    // Downloads, checks and places the chosen formats of `release`; returns
    // one InstalledFormat per chosen artifact, in the order vst3, au, app.
    // Throws HubError (cancelled included), InstallRecoveryError when
    // automatic recovery could not finish, and AUNotListedYet, after `done`,
    // when an Audio Unit was placed but not listed in time.
    QList<InstalledFormat> install(const Product& product, const Release& release,
                                   const std::set<PluginFormat>& formats, InstallScope scope,
                                   const InstallRoots& roots, const InstallProgress& progress) const override;

    // The artifacts of `release` for this machine, one per wanted format, in
    // the order vst3, au, app. Throws HubError::message.
    static std::vector<Artifact> choose(const Product& product, const Release& release,
                                        const std::set<PluginFormat>& formats);
    // The same for a given processor ("arm64", "x86_64").
    static std::vector<Artifact> choose(const Product& product, const Release& release,
                                        const std::set<PluginFormat>& formats, const QString& cpu);

    // Removes work folders older than a day, hands those kept for recovery
    // to `trash` after 30 days, then cleans stray spares. An entry's age is
    // `now` minus its birth time (its modification time where the file
    // system keeps no birth time). Never throws.
    static void cleanStaging(const InstallRoots& roots, const TrashHook& trash);
    static void cleanStaging(const InstallRoots& roots, const TrashHook& trash,
                             std::chrono::system_clock::time_point now);

    // <support>/Staging
    static QString stagingRoot(const InstallRoots& roots);

    // ---- Downloads and staged checks --------------------------------------

    // https, or http to localhost or 127.0.0.1 only. Throws HubError::message.
    static void checkScheme(const QUrl& url);

    // What a finished download wrote, counted and hashed as it was written.
    struct Downloaded {
        qint64 size = 0;
        QString sha256; // lower-case hexadecimal
    };

    // Downloads `url` into `archive` with a session from `configuration`.
    // Stops as soon as more bytes arrive than the artifact's catalog size.
    // `progress` gets the fraction of this artifact done.
    Downloaded download(const QUrl& url, const Artifact& artifact, const QString& archive,
                        const std::function<void(double)>& progress) const;

    // Size and SHA-256 of the downloaded archive against the catalog. With
    // `digest` (made while downloading) the file is not read again.
    static void checkDownload(const QString& archive, const Artifact& artifact, bool allowUnsigned,
                              const std::optional<QString>& digest = std::nullopt);

    // The unpacked bundle: a real folder, the expected identifier and
    // version, and an intact signature by the maker.
    // `measured`: digests taken as the bundle was unpacked (see CodeSignature::verify).
    static void verifyStaged(const QString& staged, const Artifact& artifact, const QString& version,
                             bool allowUnsigned, const TrustAnchors& anchors = TrustAnchors::pinned(),
                             const CodeSignature::MeasuredFiles& measured = {});

    // Readers of Contents/Info.plist; a missing or odd list reads as empty.
    static std::optional<QString> bundleID(const QString& bundle);
    static QString shortVersion(const QString& bundle);
    static std::optional<QString> bundleVersion(const QString& bundle);

    // ---- Per-user placement -----------------------------------------------

    // One bundle this installer has put in place for the user.
    struct UserReplacement {
        InstalledFormat result;
        Artifact artifact;
        QString target; // the bundle's final path
        QString spare;  // "<bundle>.hub-new-<UUID>" in the same folder
        bool existed = false;
    };

    // Places the staged bundles for the current user; one result per bundle,
    // in input order. Undoes its own partial work before it throws.
    QList<InstalledFormat> installForUser(const QList<StagedBundle>& bundles, const Product& product,
                                          const InstallRoots& roots, const std::optional<QString>& spares) const;
    // `measured` stands in for reading the placed files when the bundle is
    // the staged folder itself, renamed, not a copy.
    UserReplacement prepareReplacement(const QString& staged, const Artifact& artifact, const QString& into,
                                       const std::optional<QString>& spares,
                                       const CodeSignature::MeasuredFiles& measured = {}) const;
    // Exchanges the two paths atomically. Throws HubError::message.
    static void swap(const QString& a, const QString& b);
    // The spare paths that could not be put right, last replacement first.
    QStringList rollbackUsers(const QList<UserReplacement>& replacements) const;
    void finishUsers(const QList<UserReplacement>& replacements) const;
    // Appends the spare's path as one line to the spares list.
    static void record(const QString& spare, const QString& spares);
    static void cleanStrays(const InstallRoots& roots, const TrashHook& trash);

    // ---- Backups and recovery ---------------------------------------------

    // Names inside an install's work folder.
    static constexpr QLatin1StringView kPreviousBackups{"previous-backups"};
    static constexpr QLatin1StringView kRecoveryBackups{"recovery-backups"};
    static constexpr QLatin1StringView kSparesList{"spares.txt"};
    static constexpr QLatin1StringView kRecoveryMarker{"PRESERVE-RECOVERY.txt"};
    static constexpr char kRecoveryMarkerText[] =
        "Automatic recovery was incomplete. Keep these originals for manual recovery.\n";

    // Archives the installed bundle into the product's backups folder and
    // returns the archive's path. Throws HubError::message.
    QString backup(const QString& bundle, PluginFormat format, const QString& product,
                   const InstallRoots& roots) const;

    // <support>/Backups/<product>
    static QString backupsFolder(const InstallRoots& roots, const QString& product);

    // Copies the backups folder, when it exists, to "previous-backups" in
    // the work folder, its files as hard links where the file system allows;
    // returns whether it existed. A failed copy throws.
    static bool snapshotBackups(const QString& backups, const QString& work);

    // After a failed placement: puts the backups folder back as it was and
    // throws what the user must see: the placement's error unchanged when
    // everything is as before, else an InstallRecoveryError naming where the
    // material lies, with `keepWork` set. Always throws.
    [[noreturn]] static void restoreBackups(const std::exception_ptr& placementError, const QString& backups,
                                            const QString& work, bool existed, bool& keepWork);

    // Writes the recovery marker into a work folder kept for recovery;
    // failures are ignored.
    static void writeRecoveryMarker(const QString& work);

    // The text of a new UUID, upper-case hexadecimal in groups 8-4-4-4-12.
    static QString newUUID();

    // ---- All-users placement ----------------------------------------------

    // One bundle placed through the all-users script.
    struct AdminItem {
        qsizetype index = 0; // position in the install's bundle list
        Artifact artifact;
        QString staged;
        QString target;
        std::optional<QString> backup; // archive of what was at target; none for a fresh install
    };

    // What the all-users script runs. Unset: the installer's `tools` and the
    // system's own programs; tests put shims here.
    std::optional<AllUsersScript::Tools> scriptTools;

    // Places the staged bundles for all users: applications going into a
    // writable Applications folder as for the user, everything else through
    // one run of the all-users script with one administrator prompt. One
    // result per bundle, in input order. Throws HubError (cancelled when the
    // prompt was dismissed) after undoing what it did, or
    // InstallRecoveryError naming where the copies lie.
    QList<InstalledFormat> installForAllUsers(const QList<StagedBundle>& bundles, const Product& product,
                                              const InstallRoots& roots, const std::optional<QString>& spares) const;
    // Puts back the bundles that were at the items' targets, from their
    // backup archives, through the script again (a second prompt); targets
    // without an archive go to the Trash. True when every item is as before.
    // Never throws.
    bool restore(const QList<AdminItem>& items, const Product& product, const InstallRoots& roots) const;
    AllUsersScript::Tools allUsersScriptTools() const;

    // ---- Uninstall, Trash and settings removal ----------------------------

    // The programs the privileged Trash script runs; tests put shims here.
    TrashScript::Tools trashTools = TrashScript::Tools::installed();

    QList<InstalledFormat> uninstall(const Product& product, const UninstallOptions& options,
                                     const InstallRoots& roots) const override;

    // The note for a bundle that is neither the catalog's identifier for its
    // name nor signed by the maker's team; none when it may be removed.
    static std::optional<QString> ownershipProblem(const QString& bundle, PluginFormat format, const Product& product,
                                                   const TrustAnchors& anchors = TrustAnchors::pinned());

    // EACCES or EPERM, in the error or any error nested in it.
    static bool isPermissionError(const std::exception& error);

    // Moves the items to the user's Trash with one administrator prompt.
    // Throws HubError::cancelled for a dismissed prompt, HubError::message
    // when anything is left or the script failed, FileError when the Trash
    // folder cannot be made.
    void trashAsAdministrator(const QStringList& paths, const Product& product, const InstallRoots& roots) const;

    // Moves the archives of formats not in `keeping` (the whole folder when
    // it is empty) from the product's backups folder to the Trash. Never throws.
    void removeBackups(const QString& productID, const std::set<PluginFormat>& keeping,
                       const InstallRoots& roots) const;

    // "Tarn Audio/<name>" in the user's data folder (see Places), only for a
    // record of exactly "Tarn Audio/<plain name>" that is not the report spool.
    static std::optional<QString> settingsFolder(const SettingsFolderRecord& record, const InstallRoots& roots);

    // Moves the settings folder to the Trash; a note for the user when it
    // could not or would not, none otherwise.
    std::optional<QString> removeSettings(const SettingsFolderRecord& record, const InstallRoots& roots) const;
};

// Lower-case hexadecimal SHA-256 of a file's bytes, read in 1 MiB chunks.
// Throws FileError when the file cannot be opened or read.
namespace Installer {
QString fileSHA256(const QString& path);
}

} // namespace Hub
