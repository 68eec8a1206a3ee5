#include "Installer/PluginInstaller.h"

#include "Base/Config.h"
#include "Base/HubError.h"
#include "Base/Process.h"
#include "Installer/InstallLocations.h"
#include "Platform/FileMoves.h"

#include <QDir>
#include <QFile>

#include <filesystem>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace fs = std::filesystem;

namespace Hub {

namespace {

constexpr double kUnpackTimeout = 300.0;

QString standardized(const QString& path) { return QDir::cleanPath(QDir(path).absolutePath()); }

// The quad's requirement: empty when unsigned bundles are allowed, else the
// maker's requirement for an identifier that can be spliced into it.
QString requirementFor(const std::optional<QString>& bundleID, bool allowUnsigned)
{
    if (allowUnsigned)
        return {};
    if (!CodeSignature::isPlainBundleID(bundleID))
        throw HubError::message(u"This release has no usable bundle id, so the hub won't install it."_s);
    return CodeSignature::requirement(bundleID, Config::teamID());
}

bool isWritable(const QString& folder) { return ::access(QFile::encodeName(folder).constData(), W_OK) == 0; }

} // namespace

AllUsersScript::Tools PluginInstaller::allUsersScriptTools() const
{
    return scriptTools ? *scriptTools : AllUsersScript::Tools::withApplets(tools);
}

namespace {

// What a failed run of the all-users script means to the user, in the
// hub's own words only: the script's reason, or none. A tool's output
// (naming a work or staging folder) or a refusal of whatever ran the script
// is never shown as it is.
std::exception_ptr scriptFailure(const Shell::Result& run)
{
    if (run.output.contains(QStringView(PrivilegedRunner::kCancelledMarker)))
        return std::make_exception_ptr(HubError::cancelled());
    const QString reasons = PrivilegedRunner::scriptReasons(run.output);
    if (reasons.contains(u"originals preserved at"_s))
        return std::make_exception_ptr(InstallRecoveryError(reasons));
    if (reasons.isEmpty())
        return std::make_exception_ptr(HubError::message(u"The install failed."_s));
    return std::make_exception_ptr(HubError::message(u"The install failed.\n"_s + outputTail(reasons)));
}

// One all-users install: the bundles split between per-user replacements
// (applications in a writable folder) and the script's items, and how each
// stage is undone when a later one fails.
class AllUsersInstall {
public:
    AllUsersInstall(const PluginInstaller& installer, const Product& product, const InstallRoots& roots,
                    qsizetype count)
        : m_installer(installer), m_product(product), m_roots(roots), m_results(count)
    {
    }

    QList<InstalledFormat> run(const QList<StagedBundle>& bundles, const std::optional<QString>& spares)
    {
        QStringList arguments;
        try {
            arguments = sortOut(bundles, spares);
        } catch (...) {
            failBeforePlacing(std::current_exception());
        }
        if (m_admin.isEmpty()) {
            try {
                verifyUsers();
            } catch (...) {
                failBeforePlacing(std::current_exception());
            }
        } else {
            runScript(arguments);
            verifyPlaced();
        }
        m_installer.finishUsers(m_users);
        return m_results;
    }

private:
    // Backs up what each target holds and prepares the per-user
    // replacements; the script's arguments for the rest.
    QStringList sortOut(const QList<StagedBundle>& bundles, const std::optional<QString>& spares)
    {
        for (qsizetype i = 0; i < bundles.size(); ++i) {
            const StagedBundle& pair = bundles[i];
            const QString folder = InstallLocations::folder(m_roots, pair.artifact.format, InstallScope::allUsers);
            const QString target = QDir(folder).filePath(pair.artifact.bundle);
            std::optional<QString> archive;
            if (FileMoves::existsNoFollow(target))
                archive = m_installer.backup(target, pair.artifact.format, m_product.id, m_roots);

            if (pair.artifact.format == PluginFormat::app && isWritable(folder)) {
                m_users.append(
                    m_installer.prepareReplacement(pair.bundle, pair.artifact, folder, spares, pair.measured));
                m_results[i] = m_users.last().result;
            } else {
                m_admin.append({i, pair.artifact, pair.bundle, target, archive});
            }
        }

        QStringList arguments;
        for (const PluginInstaller::AdminItem& item : std::as_const(m_admin)) {
            const std::optional<QString> id =
                item.artifact.bundleID ? item.artifact.bundleID : PluginInstaller::bundleID(item.staged);
            arguments << item.staged << item.target << requirementFor(id, m_installer.allowUnsigned)
                      << PluginInstaller::shortVersion(item.staged);
        }
        return arguments;
    }

    // Nothing has gone through the script, or the script undid its own work:
    // only the per-user replacements need undoing.
    [[noreturn]] void failBeforePlacing(const std::exception_ptr& first)
    {
        const QStringList remaining = m_installer.rollbackUsers(m_users);
        if (remaining.isEmpty())
            std::rethrow_exception(first);
        // The first failure may itself name a kept work folder; both
        // sentences stay, so the user learns every place a copy lies.
        throw InstallRecoveryError::after(errorSentence(first), u"Installation could not be fully restored. "_s
                                                                    + remaining.join(u", "_s));
    }

    void verifyUsers()
    {
        for (const PluginInstaller::UserReplacement& replacement : std::as_const(m_users))
            CodeSignature::verify(replacement.target,
                                  replacement.artifact.bundleID ? replacement.artifact.bundleID
                                                                : PluginInstaller::bundleID(replacement.target),
                                  m_installer.allowUnsigned, m_installer.anchors);
    }

    // One run of the script, behind one administrator prompt.
    void runScript(const QStringList& arguments)
    {
        const QString prompt = u"Tarnhub wants to install "_s + m_product.shown() + u" for all users."_s;
        Shell::Result run;
        try {
            run = m_installer.privileged(prompt, AllUsersScript::text(m_installer.allUsersScriptTools()), arguments);
        } catch (...) {
            // The hook promises not to throw; if one does, the per-user
            // replacements are still undone.
            failBeforePlacing(std::current_exception());
        }
        if (run.status != 0)
            failBeforePlacing(scriptFailure(run));
    }

    // Checks every placed bundle; when one no longer checks out, the
    // previous versions go back from their archives.
    void verifyPlaced()
    {
        try {
            for (const PluginInstaller::AdminItem& item : std::as_const(m_admin)) {
                CodeSignature::verify(item.target,
                                      item.artifact.bundleID ? item.artifact.bundleID
                                                             : PluginInstaller::bundleID(item.target),
                                      m_installer.allowUnsigned, m_installer.anchors);
                if (PluginInstaller::shortVersion(item.target) != PluginInstaller::shortVersion(item.staged))
                    throw HubError::message(u"The installed version changed during verification."_s);
                m_results[item.index] = {item.artifact.format, standardized(item.target),
                                         PluginInstaller::bundleVersion(item.target).value_or(QString())};
            }
            verifyUsers();
        } catch (...) {
            const std::exception_ptr first = std::current_exception();
            const bool restored = m_installer.restore(m_admin, m_product, m_roots);
            const QStringList remaining = m_installer.rollbackUsers(m_users);
            if (restored && remaining.isEmpty())
                throw;
            throw InstallRecoveryError::after(errorSentence(first), u"Installation could not be fully restored. "_s
                                                                        + remaining.join(u", "_s));
        }
    }

    const PluginInstaller& m_installer;
    const Product& m_product;
    const InstallRoots& m_roots;
    QList<InstalledFormat> m_results;
    QList<PluginInstaller::UserReplacement> m_users;
    QList<PluginInstaller::AdminItem> m_admin;
};

} // namespace

QList<InstalledFormat> PluginInstaller::installForAllUsers(const QList<StagedBundle>& bundles, const Product& product,
                                                           const InstallRoots& roots,
                                                           const std::optional<QString>& spares) const
{
    return AllUsersInstall(*this, product, roots, bundles.size()).run(bundles, spares);
}

bool PluginInstaller::restore(const QList<AdminItem>& items, const Product& product, const InstallRoots& roots) const
{
    const QString work = QDir(stagingRoot(roots)).filePath(u"restore-"_s + newUUID());
    try {
        InstallLocations::makePrivateFolder(work);
    } catch (...) {
        // The unpacking below fails without it, which counts as not restored.
    }

    bool restored = true;
    QStringList quads;
    QStringList removals;
    for (qsizetype p = 0; p < items.size(); ++p) {
        const AdminItem& item = items[p];
        if (!item.backup) {
            // A fresh install is undone by taking the new bundle away.
            removals.append(item.target);
            continue;
        }
        const QString unpackedFolder = QDir(work).filePath(QString::number(p));
        const QString unpacked = QDir(unpackedFolder).filePath(item.artifact.bundle);
        try {
            const Shell::Result unpacking =
                Shell::run(tools.ditto, {u"-x"_s, u"-k"_s, *item.backup, unpackedFolder}, kUnpackTimeout);
            if (unpacking.status != 0)
                throw HubError::message(unpacking.output);
            const std::optional<QString> id = item.artifact.bundleID ? item.artifact.bundleID : bundleID(unpacked);
            CodeSignature::verify(unpacked, id, allowUnsigned, anchors);
            quads << unpacked << item.target << requirementFor(id, allowUnsigned) << shortVersion(unpacked);
        } catch (...) {
            removals.append(item.target);
            restored = false;
        }
    }

    if (!quads.isEmpty()) {
        const QString prompt = u"Tarnhub wants to put back the previous "_s + product.shown() + u"."_s;
        try {
            restored = privileged(prompt, AllUsersScript::text(allUsersScriptTools()), quads).status == 0 && restored;
        } catch (...) {
            restored = false;
        }
        for (const AdminItem& item : items) {
            if (!item.backup)
                continue;
            qsizetype destination = -1;
            for (qsizetype q = 1; q < quads.size() && destination < 0; q += 4) {
                if (quads[q] == item.target)
                    destination = q;
            }
            if (destination < 0) {
                restored = false;
                continue;
            }
            try {
                CodeSignature::verify(item.target,
                                      item.artifact.bundleID ? item.artifact.bundleID : bundleID(item.target),
                                      allowUnsigned, anchors);
                if (shortVersion(item.target) != quads[destination + 2])
                    restored = false;
            } catch (...) {
                restored = false;
            }
        }
    }

    if (!removals.isEmpty()) {
        try {
            trashAsAdministrator(removals, product, roots);
        } catch (...) {
            restored = false;
        }
    }

    std::error_code ignored;
    fs::remove_all(fs::path(QFile::encodeName(work).toStdString()), ignored);
    return restored;
}

} // namespace Hub
