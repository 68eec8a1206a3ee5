#include "Installer/ApplicationEntries.h"

#include "Base/Config.h"
#include "Base/Digest.h"
#include "Base/Places.h"
#include "Platform/PropertyList.h"
#include "Platform/SchemeHandler.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Hub::ApplicationEntries {

namespace {

// The key that ties an entry to the copy it starts, so removing one copy
// never takes the entry of another.
constexpr auto kBundleKey = "X-Tarnhub-Bundle="_L1;

// A value of the desktop entry format: its string escapes applied.
QString entryValue(QString text)
{
    return text.replace(u"\\"_s, u"\\\\"_s)
        .replace(u"\n"_s, u"\\n"_s)
        .replace(u"\t"_s, u"\\t"_s)
        .replace(u"\r"_s, u"\\r"_s);
}

// C0, DEL and C1: none may reach a line of an entry, escaped or not.
bool hasControlCharacter(const QString& text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

// The bundle's icon a Linux menu can show: CFBundleIconFile in
// Contents/Resources, as named or with ".png" or ".svg" added. None for
// other kinds (the other platform's .icns) or a name leading out.
QString iconOf(const QString& bundle, const QVariantMap& info)
{
    const QString named = PropertyList::text(info, u"CFBundleIconFile"_s).value_or(QString());
    if (named.isEmpty() || named.contains(u'/') || named == "."_L1 || named == ".."_L1)
        return {};
    const QDir resources(QDir(bundle).filePath(u"Contents/Resources"_s));
    for (const QString& candidate : QStringList{named, named + u".png"_s, named + u".svg"_s}) {
        const QString suffix = QFileInfo(candidate).suffix().toLower();
        const QFileInfo file(resources.filePath(candidate));
        if ((suffix == "png"_L1 || suffix == "svg"_L1) && file.isFile() && !file.isSymLink())
            return file.filePath();
    }
    return {};
}

bool write(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly)
           && file.write(bytes) == bytes.size() && file.commit();
}

// The copy an entry of ours starts; empty for an entry without the key.
QString bundleNamedIn(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QString text = QString::fromUtf8(line);
        if (text.startsWith(kBundleKey))
            return text.mid(kBundleKey.size()).replace(u"\\\\"_s, u"\\"_s);
    }
    return {};
}

// The bundle's name without ".app".
QString bareName(const QString& bundle)
{
    QString name = QFileInfo(bundle).fileName();
    if (name.endsWith(".app"_L1))
        name.chop(4);
    return name;
}

// Our entries in `folder` that name `bundle`, whatever their file names:
// earlier versions named an entry after its product or its bundle's
// identifier, and those go with their copy too.
QStringList entriesNaming(const QString& folder, const QString& bundle)
{
    const QString wanted = QDir::cleanPath(bundle);
    QStringList paths;
    const QDir entries(folder);
    for (const QString& name : entries.entryList({Config::bundleID() + u".*.desktop"_s}, QDir::Files)) {
        const QString path = entries.filePath(name);
        if (QDir::cleanPath(bundleNamedIn(path)) == wanted)
            paths.append(path);
    }
    return paths;
}

// Writes `text` as the one entry of `bundle` in `folder`: over the entry
// that already names it (an update keeps the name a menu or a dock may have
// pinned), else under the copy's own name; any second entry naming it goes.
// Another copy's entry is never written, whatever its product or identifier.
bool writeFor(const QString& folder, const QString& bundle, const QByteArray& text)
{
    QStringList existing = entriesNaming(folder, bundle);
    const QString path = existing.isEmpty() ? QDir(folder).filePath(fileName(bundle)) : existing.takeFirst();
    if (!write(path, text))
        return false;
    for (const QString& duplicate : std::as_const(existing))
        if (!QFile::remove(duplicate))
            qWarning().noquote() << "menu entry: cannot remove" << duplicate;
    return true;
}

void removeIn(const QString& folder, const QString& bundle)
{
    for (const QString& path : entriesNaming(folder, bundle))
        if (!QFile::remove(path))
            qWarning().noquote() << "menu entry: cannot remove" << path;
}

} // namespace

QString folder(const InstallRoots& roots, InstallScope scope)
{
    if (scope == InstallScope::allUsers)
        return QDir(roots.system).filePath(u"usr/local/share/applications"_s);
    return Places::path(Places::Place::desktopEntries, Places::of(roots.userHome, roots.system));
}

QString fileName(const QString& bundle)
{
    return Config::bundleID() + u".app-"_s + sha256Hex(QDir::cleanPath(bundle)).left(16) + u".desktop"_s;
}

QString executableOf(const QString& bundle)
{
    const QDir folder(bundle);
    const QVariantMap info = PropertyList::readDictionary(folder.filePath(u"Contents/Info.plist"_s));
    QString name = PropertyList::text(info, u"CFBundleExecutable"_s).value_or(QString());
    if (name.isEmpty())
        name = bareName(bundle);
    if (name.isEmpty() || name.contains(u'/') || name == "."_L1 || name == ".."_L1)
        return {};
    return folder.filePath(u"Contents/MacOS/"_s + name);
}

QByteArray entry(const QString& name, const QString& bundle)
{
    const QString program = executableOf(bundle);
    const QString icon = iconOf(bundle, PropertyList::readDictionary(QDir(bundle).filePath(u"Contents/Info.plist"_s)));
    if (program.isEmpty() || !QDir::isAbsolutePath(program))
        return {};
    for (const QString& field : {name, program, icon, bundle})
        if (hasControlCharacter(field))
            return {};
    QString text = u"[Desktop Entry]\n"
                   u"Type=Application\n"
                   u"Name="_s
                   + entryValue(name) + u"\nExec="_s + SchemeHandler::execArgument(program) + u"\nTryExec="_s
                   + entryValue(program) + u'\n';
    if (!icon.isEmpty())
        text += u"Icon="_s + entryValue(icon) + u'\n';
    text += u"Terminal=false\n"
            u"Categories=AudioVideo;Audio;\n"_s
            + kBundleKey + entryValue(bundle) + u'\n';
    return text.toUtf8();
}

void add(const Product& product, const QString& bundle, const InstallRoots& roots, InstallScope scope)
{
    const QByteArray text = entry(product.name.isEmpty() ? product.id : product.name, bundle);
    if (text.isEmpty()) {
        qWarning().noquote() << "menu entry: cannot name" << bundle << "in a desktop entry";
        return;
    }
    const QString own = folder(roots, scope);
    // The administrator's helper has written the one for all users already.
    if (scope == InstallScope::allUsers && !entriesNaming(own, bundle).isEmpty())
        return;
    if (writeFor(own, bundle, text))
        return;
    if (scope == InstallScope::allUsers && writeFor(folder(roots, InstallScope::user), bundle, text))
        return;
    qWarning().noquote() << "menu entry: cannot write an entry for" << bundle << "in" << own;
}

void remove(const QString& bundle, const InstallRoots& roots)
{
    removeIn(folder(roots, InstallScope::user), bundle);
    removePlaced(bundle, roots);
}

bool addPlaced(const QString& bundle, const InstallRoots& roots)
{
    const QVariantMap info = PropertyList::readDictionary(QDir(bundle).filePath(u"Contents/Info.plist"_s));
    const QString identifier = PropertyList::text(info, u"CFBundleIdentifier"_s).value_or(QString());
    // Anchored on the whole text: "$" alone would let a final line feed pass.
    static const QRegularExpression plain(QRegularExpression::anchoredPattern(u"[A-Za-z0-9_-][A-Za-z0-9._-]*"_s));
    if (!plain.match(identifier).hasMatch() || identifier.contains(".."_L1))
        return false;
    QString name = PropertyList::text(info, u"CFBundleName"_s).value_or(QString());
    if (name.isEmpty())
        name = bareName(bundle);
    const QByteArray text = entry(name, bundle);
    return !text.isEmpty() && writeFor(folder(roots, InstallScope::allUsers), bundle, text);
}

void removePlaced(const QString& bundle, const InstallRoots& roots)
{
    removeIn(folder(roots, InstallScope::allUsers), bundle);
}

} // namespace Hub::ApplicationEntries
