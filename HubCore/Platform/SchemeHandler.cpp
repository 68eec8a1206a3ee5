#include "Platform/SchemeHandler.h"

#include "Base/Config.h"
#include "Base/Places.h"
#include "Base/Process.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

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

QString queryWithXdgMime(const QString& mimeType)
{
    const QString xdgMime = QStandardPaths::findExecutable(u"xdg-mime"_s);
    if (xdgMime.isEmpty())
        return {};
    const Shell::Result result = Shell::run(xdgMime, {u"query"_s, u"default"_s, mimeType}, kXdgMimeTimeout);
    return result.status == 0 ? result.output.trimmed() : QString();
}

} // namespace

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
    QStringList data = qEnvironmentVariable("XDG_DATA_DIRS").split(u':', Qt::SkipEmptyParts);
    if (data.isEmpty())
        data = {u"/usr/local/share"_s, u"/usr/share"_s};
    return {home, data, &queryWithXdgMime, &registerWithXdgMime};
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
