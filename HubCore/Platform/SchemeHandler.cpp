#include "Platform/SchemeHandler.h"

#include "Catalog/Config.h"
#include "Catalog/Places.h"
#include "Installer/Shell.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace Hub::SchemeHandler {

namespace {

constexpr double kXdgMimeTimeout = 10.0;

// An Exec argument: quoted when it holds a reserved character, with the
// quoting escapes applied first and the string escapes of the file format
// after (so a backslash ends up as four). "%" is always doubled: a lone one
// would be taken for a field code.
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

} // namespace

QString desktopFileName(const QString& bundleID)
{
    return bundleID + ".url-handler.desktop"_L1;
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
    const QString fileName = desktopFileName(bundleID);
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
