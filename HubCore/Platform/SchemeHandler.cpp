#include "Platform/SchemeHandler.h"

#include "Base/Config.h"
#include "Base/Places.h"
#include "Base/Process.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <vector>

using namespace Qt::StringLiterals;

namespace Hub::SchemeHandler {

namespace {

constexpr double kXdgMimeTimeout = 10.0;

// The program an entry runs: the Exec key's first word, unquoted; empty
// when there is none.
QString programOf(const QString& entryFile)
{
    QFile file(entryFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.startsWith("Exec="))
            continue;
        // Undo the string escapes, then the quoting, as execArgument applied them.
        const QString exec = QString::fromUtf8(line.mid(5)).replace(u"\\\\"_s, u"\\"_s);
        if (!exec.startsWith(u'"'))
            return exec.section(u' ', 0, 0).replace(u"%%"_s, u"%"_s);
        QString program;
        for (qsizetype i = 1; i < exec.size() && exec[i] != u'"'; ++i) {
            if (exec[i] == u'\\' && i + 1 < exec.size())
                ++i;
            program += exec[i];
        }
        return program.replace(u"%%"_s, u"%"_s);
    }
    return {};
}

bool isInstalled(const QString& executable)
{
    return QFileInfo(executable).absolutePath().endsWith(u"/Contents/MacOS"_s);
}

// The registered entry's file, looked for where the desktop looks: the
// user's folder first, then the system's.
QString findEntry(const QString& fileName, const Desktop& desktop)
{
    QStringList folders{Places::path(Places::Place::desktopEntries, desktop.home)};
    for (const QString& data : desktop.systemDataFolders)
        folders.append(QDir(data).filePath(u"applications"_s));
    for (const QString& folder : folders) {
        const QString path = QDir(folder).filePath(fileName);
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}

// The three groups of a mimeapps.list (and the one of a mimeinfo.cache) that
// name a type's handlers, each handler list in its file's order.
struct Associations {
    QStringList defaults;
    QStringList added;
    QStringList removed;
};

// Reads `mimeType`'s lists from one association file; nothing from a
// missing or unreadable file. Keys are compared exactly, as the desktop's
// own readers do; "#" starts a comment line.
Associations readAssociations(const QString& path, const QString& mimeType)
{
    Associations found;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return found;
    QStringList* group = nullptr;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            group = line == "[Default Applications]" ? &found.defaults
                : line == "[Added Associations]" || line == "[MIME Cache]" ? &found.added
                : line == "[Removed Associations]" ? &found.removed
                                                     : nullptr;
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!group || equals < 0 || QString::fromUtf8(line.left(equals).trimmed()) != mimeType)
            continue;
        for (const QByteArray& id : line.mid(equals + 1).split(';')) {
            if (!id.trimmed().isEmpty())
                group->append(QString::fromUtf8(id.trimmed()));
        }
    }
    return found;
}

} // namespace

MimeAppsFolders mimeAppsFolders(const QString& home)
{
    const auto list = [](const char* variable, const QStringList& fallback) {
        QStringList folders;
        for (const QString& folder : qEnvironmentVariable(variable).split(u':', Qt::SkipEmptyParts)) {
            if (QDir::isAbsolutePath(folder)) // a relative entry is invalid and ignored
                folders.append(QDir::cleanPath(folder));
        }
        return folders.isEmpty() ? fallback : folders;
    };
    MimeAppsFolders folders;
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The variables describe the process's own home; another home is read as it lies.
    const bool ownHome = QDir::cleanPath(home) == QDir::cleanPath(QDir::homePath());
    folders.configHome = ownHome && QDir::isAbsolutePath(configHome) ? QDir::cleanPath(configHome)
                                                                     : QDir(home).filePath(u".config"_s);
    folders.configDirs = list("XDG_CONFIG_DIRS", {u"/etc/xdg"_s});
    folders.dataHome = QFileInfo(Places::path(Places::Place::desktopEntries, home)).path();
    folders.dataDirs = list("XDG_DATA_DIRS", {u"/usr/local/share"_s, u"/usr/share"_s});
    for (const QString& desktop : qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts))
        folders.desktops.append(desktop.toLower());
    return folders;
}

QString defaultHandler(const QString& mimeType, const MimeAppsFolders& folders)
{
    QStringList applications{QDir(folders.dataHome).filePath(u"applications"_s)};
    for (const QString& data : folders.dataDirs)
        applications.append(QDir(data).filePath(u"applications"_s));
    const auto installed = [&applications](const QString& id) {
        return std::any_of(applications.begin(), applications.end(),
                           [&id](const QString& folder) { return QFileInfo(QDir(folder).filePath(id)).isFile(); });
    };

    // The association files from the most to the least important: the
    // configuration folders before the (older) data folders, the user's
    // before the system's, and in each the current desktops' own lists first.
    QStringList listFolders{folders.configHome};
    listFolders += folders.configDirs;
    listFolders += applications;
    QStringList names;
    for (const QString& desktop : folders.desktops)
        names.append(desktop + u"-mimeapps.list"_s);
    names.append(u"mimeapps.list"_s);
    std::vector<Associations> lists;
    for (const QString& folder : listFolders) {
        for (const QString& name : names)
            lists.push_back(readAssociations(QDir(folder).filePath(name), mimeType));
    }

    // The first default that is installed, by the files' order.
    for (const Associations& list : lists) {
        for (const QString& id : list.defaults) {
            if (installed(id))
                return id;
        }
    }
    // Without one: the first association a file adds and no file of the
    // same or higher rank removes, then the programs that declare the type
    // (the folders' caches), by the folders' order.
    QStringList removed;
    for (const Associations& list : lists) {
        removed += list.removed;
        for (const QString& id : list.added) {
            if (!removed.contains(id) && installed(id))
                return id;
        }
    }
    for (const QString& folder : applications) {
        for (const QString& id : readAssociations(QDir(folder).filePath(u"mimeinfo.cache"_s), mimeType).added) {
            if (!removed.contains(id) && installed(id))
                return id;
        }
    }
    return {};
}

QString execArgument(const QString& argument)
{
    static const QString reserved = u" \t\"'\\><~|&;$*?#()`"_s;
    bool needsQuotes = false;
    for (const QChar c : argument)
        needsQuotes = needsQuotes || reserved.contains(c);

    QString text;
    if (needsQuotes) {
        QString quoted;
        for (const QChar c : argument) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                quoted += u'\\';
            quoted += c;
        }
        text = u'"' + quoted.replace(u"\\"_s, u"\\\\"_s) + u'"';
    } else {
        text = argument;
    }
    return text.replace(u"%"_s, u"%%"_s);
}

QString desktopFileName(const QString& bundleID)
{
    return bundleID + ".url-handler.desktop"_L1;
}

QString buildTreeFileName(const QString& bundleID)
{
    return bundleID + ".build-tree.desktop"_L1;
}

Desktop systemDesktop(const QString& home)
{
    const MimeAppsFolders folders = mimeAppsFolders(home);
    return {home, folders.dataDirs, [folders](const QString& mimeType) { return defaultHandler(mimeType, folders); },
            &registerWithXdgMime};
}

bool claimLinks(const QString& executable, const Desktop& desktop)
{
    const QString bundleID = Config::bundleID();
    const QString mimeType = "x-scheme-handler/"_L1 + bundleID;
    const QString registered = desktop.query(mimeType);
    if (isInstalled(executable)) {
        if (registered != buildTreeFileName(bundleID) || findEntry(desktopFileName(bundleID), desktop).isEmpty())
            return false;
        desktop.registrar(desktopFileName(bundleID), mimeType);
        return true;
    }
    if (!registered.isEmpty()) {
        const QString entry = findEntry(registered, desktop);
        const QString program = entry.isEmpty() ? QString() : programOf(entry);
        if (!program.isEmpty() && QFileInfo(program).isExecutable())
            return false; // someone's, and still there: a build tree never takes it
    }
    return installSchemeHandler(desktop.home, executable, desktop.registrar);
}

QByteArray desktopEntry(const QString& bundleID, const QString& executable)
{
    if (!QFileInfo(executable).isAbsolute())
        return {};
    for (const QChar c : executable) {
        if (c.category() == QChar::Other_Control)
            return {};
    }
    const QString text = u"[Desktop Entry]\n"
                         u"Type=Application\n"
                         u"Name=Tarnhub\n"
                         u"Exec="_s
        + execArgument(executable) + u" %u\n"_s
        + u"Terminal=false\n"
          u"NoDisplay=true\n"
          u"MimeType=x-scheme-handler/"_s
        + bundleID + u";\n"_s;
    return text.toUtf8();
}

void registerWithXdgMime(const QString& desktopFileName, const QString& mimeType)
{
    const QString xdgMime = QStandardPaths::findExecutable(u"xdg-mime"_s);
    if (xdgMime.isEmpty()) {
        qWarning().noquote() << "scheme handler: xdg-mime is not installed; links of" << mimeType
                             << "may not reach the application";
        return;
    }
    const Shell::Result result = Shell::run(xdgMime, {u"default"_s, desktopFileName, mimeType}, kXdgMimeTimeout);
    if (result.status != 0)
        qWarning().noquote() << "scheme handler: xdg-mime default failed with status" << result.status << ":"
                             << result.output.trimmed();
}

bool installSchemeHandler(const QString& home, const QString& executable)
{
    return installSchemeHandler(home, executable, &registerWithXdgMime);
}

bool installSchemeHandler(const QString& home, const QString& executable, const Registrar& registrar)
{
    const QString bundleID = Config::bundleID();
    const QByteArray entry = desktopEntry(bundleID, executable);
    if (entry.isEmpty()) {
        qWarning().noquote() << "scheme handler: cannot name this program in a desktop entry:" << executable;
        return false;
    }
    const QString folder = Places::path(Places::Place::desktopEntries, home);
    const QString fileName = buildTreeFileName(bundleID);
    QSaveFile file(QDir(folder).filePath(fileName));
    if (!QDir().mkpath(folder) || !file.open(QIODevice::WriteOnly) || file.write(entry) != entry.size()
        || !file.commit()) {
        qWarning().noquote() << "scheme handler: cannot write" << file.fileName() << ":" << file.errorString();
        return false;
    }
    registrar(fileName, "x-scheme-handler/"_L1 + bundleID);
    return true;
}

} // namespace Hub::SchemeHandler
