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

QList<InstalledFormat> PluginInstaller::installForAllUsers(const QList<StagedBundle>& bundles, const Product& product,
                                                           const InstallRoots& roots,
                                                           const std::optional<QString>& spares) const
{
    QList<UserReplacement> users;
    QList<AdminItem> admin;
    QList<InstalledFormat> results(bundles.size());

    // Nothing has gone through the script, or the script undid its own work:
    // only the per-user replacements need undoing.
    const auto failBeforePlacing = [&](const std::exception_ptr& first) {
        const QStringList remaining = rollbackUsers(users);
        if (remaining.isEmpty())
            std::rethrow_exception(first);
        // The first failure may itself name a kept work folder; both
        // sentences stay, so the user learns every place a copy lies.
        throw InstallRecoveryError::after(errorSentence(first), u"Installation could not be fully restored. "_s
                                                                    + remaining.join(u", "_s));
    };

    const auto verifyUsers = [&] {
        for (const UserReplacement& replacement : std::as_const(users))
            CodeSignature::verify(replacement.target,
                                  replacement.artifact.bundleID ? replacement.artifact.bundleID
                                                                : bundleID(replacement.target),
                                  allowUnsigned, anchors);
    };

    QStringList arguments;
    try {
        for (qsizetype i = 0; i < bundles.size(); ++i) {
            const StagedBundle& pair = bundles[i];
            const QString folder = InstallLocations::folder(roots, pair.artifact.format, InstallScope::allUsers);
            const QString target = QDir(folder).filePath(pair.artifact.bundle);
            std::optional<QString> archive;
            if (FileMoves::existsNoFollow(target))
                archive = backup(target, pair.artifact.format, product.id, roots);

            if (pair.artifact.format == PluginFormat::app && isWritable(folder)) {
                users.append(prepareReplacement(pair.bundle, pair.artifact, folder, spares, pair.measured));
                results[i] = users.last().result;
            } else {
                admin.append({i, pair.artifact, pair.bundle, target, archive});
            }
        }

        for (const AdminItem& item : std::as_const(admin)) {
            const std::optional<QString> id = item.artifact.bundleID ? item.artifact.bundleID : bundleID(item.staged);
            arguments << item.staged << item.target << requirementFor(id, allowUnsigned) << shortVersion(item.staged);
        }
    } catch (...) {
        failBeforePlacing(std::current_exception());
    }

    if (admin.isEmpty()) {
        try {
            verifyUsers();
        } catch (...) {
            failBeforePlacing(std::current_exception());
        }
        finishUsers(users);
        return results;
    }

    const QString prompt = u"Tarnhub wants to install "_s + product.shown() + u" for all users."_s;
    Shell::Result run;
    try {
        run = privileged(prompt, AllUsersScript::text(allUsersScriptTools()), arguments);
    } catch (...) {
        // The hook promises not to throw; if one does, the per-user
        // replacements are still undone.
        failBeforePlacing(std::current_exception());
    }
    if (run.status != 0) {
        std::exception_ptr error;
        if (run.output.contains(QStringView(PrivilegedRunner::kCancelledMarker)))
            error = std::make_exception_ptr(HubError::cancelled());
        else if (run.output.contains(u"originals preserved at"_s))
            error = std::make_exception_ptr(InstallRecoveryError(run.output));
        else
            error = std::make_exception_ptr(
                HubError::message(u"The install failed.\n"_s + outputTail(run.output)));
        failBeforePlacing(error);
    }

    try {
        for (const AdminItem& item : std::as_const(admin)) {
            CodeSignature::verify(item.target, item.artifact.bundleID ? item.artifact.bundleID : bundleID(item.target),
                                  allowUnsigned, anchors);
            if (shortVersion(item.target) != shortVersion(item.staged))
                throw HubError::message(u"The installed version changed during verification."_s);
            results[item.index] = {item.artifact.format, standardized(item.target),
                                   bundleVersion(item.target).value_or(QString())};
        }
        verifyUsers();
    } catch (...) {
        // Everything was placed but something no longer checks out: the
        // previous versions go back from their archives.
        const std::exception_ptr first = std::current_exception();
        const bool restored = restore(admin, product, roots);
        const QStringList remaining = rollbackUsers(users);
        if (restored && remaining.isEmpty())
            throw;
        throw InstallRecoveryError::after(errorSentence(first), u"Installation could not be fully restored. "_s
                                                                    + remaining.join(u", "_s));
    }

    finishUsers(users);
    return results;
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
