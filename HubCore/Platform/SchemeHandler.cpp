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
#include <cctype>
#include <optional>
#include <utility>
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

// A key file as GLib's reader takes it: groups of keys, a later group or
// key of the same name merging into (and over) the earlier one. None for a
// file that reader refuses whole (a line that is neither a comment, a group
// nor a key, a key before any group), since the desktop then reads nothing
// of it either.
using KeyFile = QHash<QString, QHash<QString, QString>>;

std::optional<KeyFile> loadKeyFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    KeyFile groups;
    QHash<QString, QString>* group = nullptr;
    for (QByteArray line : file.readAll().split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        qsizetype start = 0;
        while (start < line.size() && std::isspace(static_cast<unsigned char>(line[start])))
            ++start;
        line = line.mid(start);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            const qsizetype close = line.indexOf(']');
            const QByteArray after = line.mid(close + 1);
            if (close > 0 && std::all_of(after.begin(), after.end(), [](char c) { return c == ' ' || c == '\t'; })) {
                group = &groups[QString::fromUtf8(line.mid(1, close - 1))];
                continue;
            }
        }
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0 || !group)
            return std::nullopt;
        QByteArray key = line.left(equals);
        while (key.endsWith(' ') || key.endsWith('\t'))
            key.chop(1);
        // "Name[de]" names a locale's value; any other bracket is no key.
        const qsizetype open = key.indexOf('[');
        const bool bracketsFit = open < 0 ? !key.contains(']') : open > 0 && key.indexOf(']') == key.size() - 1;
        if (key.isEmpty() || key.startsWith(' ') || !bracketsFit)
            return std::nullopt;
        qsizetype value = equals + 1;
        while (value < line.size() && std::isspace(static_cast<unsigned char>(line[value])))
            ++value;
        (*group)[QString::fromUtf8(key)] = QString::fromUtf8(line.mid(value));
    }
    return groups;
}

// A value's escapes undone; as a list, split at each unescaped ";", where
// a final empty item is no item and an empty one between two is. None for
// an escape the format does not know.
std::optional<QStringList> unescaped(const QString& value, bool asList)
{
    QStringList items;
    QString item;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (asList && c == u';') {
            items.append(std::exchange(item, {}));
            continue;
        }
        if (c != u'\\') {
            item += c;
            continue;
        }
        if (++i == value.size())
            return std::nullopt;
        // Each escape the format knows, and the character it stands for.
        static const std::pair<QChar, QChar> kEscapes[] = {
            {u's', u' '}, {u'n', u'\n'}, {u't', u'\t'}, {u'r', u'\r'}, {u'\\', u'\\'}};
        const QChar escaped = value[i];
        if (escaped == u';') {
            item += asList ? u";"_s : u"\\;"_s;
            continue;
        }
        const auto known = std::find_if(std::begin(kEscapes), std::end(kEscapes),
                                        [escaped](const auto& pair) { return pair.first == escaped; });
        if (known == std::end(kEscapes))
            return std::nullopt;
        item += known->second;
    }
    if (!asList || !item.isEmpty())
        items.append(item);
    return items;
}

// Adds `ids` to `list` but those it holds or `except` names, the way GLib
// grows its lists, quirk included: a list not yet begun takes `ids` whole.
void extend(std::optional<QStringList>& list, const QStringList& ids, const std::optional<QStringList>& except)
{
    if (!list) {
        list = ids;
        return;
    }
    for (const QString& id : ids)
        if (!list->contains(id) && !(except && except->contains(id)))
            list->append(id);
}

// One folder's lists of a type's handlers, merged from its files in their
// order, each file's additions before its removals.
struct Associations {
    std::optional<QStringList> defaults;
    std::optional<QStringList> added;
    std::optional<QStringList> removed;
};

// Merges one association file into `into`. Only a plain mimeapps.list and
// a cache may add or remove; a desktop's own list and defaults.list only
// name defaults, whatever else they hold.
void readAssociations(const QString& path, const QString& mimeType, const QString& addedGroup, bool mayChange,
                      Associations& into)
{
    const std::optional<KeyFile> file = loadKeyFile(path);
    if (!file)
        return;
    const auto ids = [&](const QString& group) -> std::optional<QStringList> {
        const auto found = file->constFind(group);
        if (found == file->cend() || !found->contains(mimeType))
            return std::nullopt;
        return unescaped(found->value(mimeType), true);
    };
    if (mayChange) {
        if (const std::optional<QStringList> added = ids(addedGroup))
            extend(into.added, *added, into.removed);
        if (const std::optional<QStringList> removed = ids(u"Removed Associations"_s))
            extend(into.removed, *removed, into.added);
    }
    if (const std::optional<QStringList> defaults = ids(u"Default Applications"_s))
        extend(into.defaults, *defaults, std::nullopt);
}

// The program a command line starts, by the shell's quoting; empty when
// the line does not parse.
QString firstWord(const QString& command)
{
    QString word;
    qsizetype i = 0;
    while (i < command.size() && command[i].isSpace())
        ++i;
    for (; i < command.size() && !command[i].isSpace(); ++i) {
        const QChar c = command[i];
        if (c == u'\'') {
            const qsizetype close = command.indexOf(u'\'', i + 1);
            if (close < 0)
                return {};
            word += command.mid(i + 1, close - i - 1);
            i = close;
        } else if (c == u'"') {
            for (++i;; ++i) {
                if (i == command.size())
                    return {};
                if (command[i] == u'"')
                    break;
                if (command[i] == u'\\' && i + 1 < command.size() && u"$`\"\\\n"_s.contains(command[i + 1]))
                    ++i;
                word += command[i];
            }
        } else if (c == u'\\') {
            if (++i == command.size())
                return {};
            word += command[i];
        } else {
            word += c;
        }
    }
    return word;
}

// A program as the desktop finds one: a path that is an executable file,
// or a name found so on $PATH.
bool isFoundProgram(const QString& program)
{
    if (program.isEmpty())
        return false;
    if (program.contains(u'/')) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable();
    }
    return !QStandardPaths::findExecutable(program).isEmpty();
}

// An entry the desktop would start: an application whose TryExec and
// Exec programs are there.
bool isRunnableEntry(const QString& path)
{
    const std::optional<KeyFile> file = loadKeyFile(path);
    if (!file)
        return false;
    const auto entry = file->constFind(u"Desktop Entry"_s);
    if (entry == file->cend() || entry->value(u"Type"_s) != "Application"_L1)
        return false;
    for (const QString& key : {u"TryExec"_s, u"Exec"_s}) {
        const std::optional<QStringList> value = unescaped(entry->value(key), false);
        if (!value)
            return false;
        if (!value->first().isEmpty() && !isFoundProgram(key == "Exec"_L1 ? firstWord(value->first()) : value->first()))
            return false;
    }
    return true;
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
    // The folders from the most to the least important, as GLib ranks
    // them: the configuration folders (association lists only) before the
    // data folders' applications, the user's before the system's.
    struct Folder {
        QString path;
        bool holdsEntries;
        Associations lists;
    };
    std::vector<Folder> ranked;
    ranked.push_back({folders.configHome, false, {}});
    for (const QString& config : folders.configDirs)
        ranked.push_back({config, false, {}});
    ranked.push_back({QDir(folders.dataHome).filePath(u"applications"_s), true, {}});
    for (const QString& data : folders.dataDirs)
        ranked.push_back({QDir(data).filePath(u"applications"_s), true, {}});

    for (Folder& folder : ranked) {
        const QDir dir(folder.path);
        for (const QString& desktop : folders.desktops)
            readAssociations(dir.filePath(desktop + u"-mimeapps.list"_s), mimeType, u"Added Associations"_s, false,
                             folder.lists);
        readAssociations(dir.filePath(u"mimeapps.list"_s), mimeType, u"Added Associations"_s, true, folder.lists);
        if (folder.holdsEntries) {
            readAssociations(dir.filePath(u"defaults.list"_s), mimeType, u"Added Associations"_s, false,
                             folder.lists);
            readAssociations(dir.filePath(u"mimeinfo.cache"_s), mimeType, u"MIME Cache"_s, true, folder.lists);
        }
    }

    // A folder's additions and removals do not reach an entry that a more
    // important folder holds: that one hides the entry of the same name.
    const auto hidden = [&ranked](std::size_t rank, const QString& id) {
        for (std::size_t i = 0; i < rank; ++i)
            if (ranked[i].holdsEntries && QFileInfo(QDir(ranked[i].path).filePath(id)).isFile())
                return true;
        return false;
    };
    // Every folder's defaults first, then what each folder adds and no
    // more important one removed.
    QStringList candidates;
    for (const Folder& folder : ranked)
        for (const QString& id : folder.lists.defaults.value_or(QStringList()))
            if (!candidates.contains(id))
                candidates.append(id);
    QStringList removed;
    for (std::size_t rank = 0; rank < ranked.size(); ++rank) {
        const Associations& lists = ranked[rank].lists;
        for (const QString& id : lists.added.value_or(QStringList()))
            if (!hidden(rank, id) && !removed.contains(id) && !candidates.contains(id))
                candidates.append(id);
        for (const QString& id : lists.removed.value_or(QStringList()))
            if (!hidden(rank, id) && !removed.contains(id) && !candidates.contains(id))
                removed.append(id);
    }
    // The first that an entry folder holds as an entry the desktop would run.
    for (const QString& id : candidates)
        for (const Folder& folder : ranked)
            if (folder.holdsEntries && isRunnableEntry(QDir(folder.path).filePath(id)))
                return id;
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
