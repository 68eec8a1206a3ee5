#include "AdminChecks.h"

#include "Base/Config.h"
#include "Base/Versions.h"
#include "BuildConfig.h"
#include "Base/Places.h"
#include "Catalog/SharedTypes.h"
#include "Installer/InstallLocations.h"

#include <QDir>
#include <QFile>

#include <climits>
#include <cstdlib>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace Hub::AdminChecks {

namespace {

using Places::Place;
using PrivilegedSteps::Step;

std::optional<struct stat> statNoFollow(const QString& path)
{
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return status;
}

std::optional<QString> realPath(const QString& path)
{
    char resolved[PATH_MAX];
    if (!::realpath(QFile::encodeName(path).constData(), resolved))
        return std::nullopt;
    return QFile::decodeName(resolved);
}

QString parentOf(const QString& path) { return QFileInfo(path).path(); }

// Absolute, no "..", "." or empty component, no trailing slash.
bool isClean(const QString& path) { return path.startsWith(u'/') && path.size() > 1 && QDir::cleanPath(path) == path; }

// Every folder from "/" down to `path` is what it is named: none is a link.
bool isReachedWithoutLinks(const QString& folder) { return realPath(folder) == folder; }

QString refused(const QString& path, const QString& why) { return path + u" was refused: "_s + why; }

// `path` lies strictly inside `folder`, the caller's own "Tarn Hub/<leaf>"
// (see callersFolder), every folder from "Tarn Hub" down and the item
// itself the caller's, and no link on the way.
std::optional<QString> callersOwn(const QString& path, const QString& folder, const Caller& caller)
{
    if (!isClean(path))
        return refused(path, u"it isn't a plain absolute path."_s);
    const QString leaf = QFileInfo(folder).fileName();
    if (!path.startsWith(folder + u'/'))
        return refused(path, u"it isn't in your "_s + leaf.toLower() + u" folder."_s);
    if (!isReachedWithoutLinks(parentOf(path)))
        return refused(path, u"a symbolic link leads there."_s);
    QString at = parentOf(folder);
    // "Tarn Hub", then each name below it down to the item itself.
    const QStringList below = path.mid(at.size() + 1).split(u'/');
    for (qsizetype i = 0; i <= below.size(); ++i) {
        const std::optional<struct stat> status = statNoFollow(at);
        if (!status || status->st_uid != caller.uid)
            return refused(path, u"it isn't yours."_s);
        const bool isItem = i == below.size();
        if (isItem ? S_ISLNK(status->st_mode) : !S_ISDIR(status->st_mode))
            return refused(path, u"a symbolic link leads there."_s);
        if (!isItem)
            at += u'/' + below[i];
    }
    return std::nullopt;
}

// The caller's own staging or downloads folder, in the data and cache
// folders of their home: the hub's caller may have named others in its
// environment, but pkexec leaves that out and a user's word for where their
// folders lie is not taken for a place root reads from.
QString callersFolder(Place place, const Caller& caller)
{
    const Places::Bases bases = Places::isolated(caller.home, u"/"_s);
    if (place == Place::support)
        return Places::path(Place::support, bases) + u"/Staging"_s;
    return Places::path(place, bases);
}

QString allUsers(Place place) { return Places::path(place, Places::isolated(u"/"_s, u"/"_s)); }

// A bundle name directly inside `folder`, which lies where only root writes.
bool isInRootPlace(const QString& path, const QString& folder)
{
    return isClean(path) && parentOf(path) == folder && InstallLocations::isPlainName(QFileInfo(path).fileName())
           && isRootsPlace(folder);
}

// The all-users place a bundle of that name belongs in.
QString allUsersPlaceFor(const QString& name)
{
    switch (pluginFormatFromBundleName(name).value_or(PluginFormat::app)) {
    case PluginFormat::vst3:
        return allUsers(Place::vst3AllUsers);
    case PluginFormat::au:
        return allUsers(Place::componentsAllUsers);
    case PluginFormat::app:
        break;
    }
    return allUsers(Place::applicationsAllUsers);
}

bool isInCallersPlace(const QString& path, const Caller& caller)
{
    if (!isClean(path) || !InstallLocations::isPlainName(QFileInfo(path).fileName()))
        return false;
    const Places::Bases bases = Places::isolated(caller.home, u"/"_s);
    const QString folder = parentOf(path);
    for (const Place place : {Place::vst3User, Place::componentsUser, Place::applicationsUser})
        if (folder == Places::path(place, bases))
            return isReachedWithoutLinks(folder);
    return false;
}

std::optional<QString> placing(const QStringList& arguments, const Caller& caller)
{
    if (arguments.isEmpty() || arguments.size() % 4 != 0)
        return u"Placing for all users takes four arguments per bundle."_s;
    for (qsizetype i = 0; i < arguments.size(); i += 4) {
        if (const std::optional<QString> problem = callersOwn(arguments[i], callersFolder(Place::support, caller), caller))
            return problem;
        const QString& destination = arguments[i + 1];
        if (!isInRootPlace(destination, allUsersPlaceFor(QFileInfo(destination).fileName())))
            return refused(destination, u"it isn't a bundle in the place for all users that its kind belongs in."_s);
    }
    return std::nullopt;
}

bool isCallersGroup(const QString& text, const Caller& caller)
{
    const std::optional<uint> gid = plainId(text.toLatin1());
    return gid && (*gid == caller.gid || std::find(caller.groups.begin(), caller.groups.end(), *gid) != caller.groups.end());
}

std::optional<QString> trashing(const QStringList& arguments, const Caller& caller)
{
    if (arguments.size() < 4)
        return u"Moving to the Trash takes the Trash, your ids and at least one item."_s;
    // The ids first, then the items, then the Trash: a refusal names the
    // first thing that is wrong, whatever the rest.
    if (plainId(arguments[1].toLatin1()) != caller.uid || !isCallersGroup(arguments[2], caller))
        return u"The ids given aren't yours."_s;
    for (qsizetype i = 3; i < arguments.size(); ++i) {
        const QString& item = arguments[i];
        const bool allUsersItem = isInRootPlace(item, allUsersPlaceFor(QFileInfo(item).fileName()));
        if (!allUsersItem && !isInCallersPlace(item, caller))
            return refused(item, u"it isn't a bundle in a plug-in or applications place."_s);
    }
    const QString& trash = arguments[0];
    const std::optional<struct stat> status = statNoFollow(trash);
    if (trash != callersTrash(caller) || !isReachedWithoutLinks(trash) || !status || !S_ISDIR(status->st_mode)
        || status->st_uid != caller.uid)
        return refused(trash, u"it isn't your Trash."_s);
    return std::nullopt;
}

std::optional<QString> packaging(const QStringList& arguments, const Caller& caller)
{
    if (arguments.size() != 7)
        return u"Installing a package takes seven arguments."_s;
    if (const std::optional<QString> problem = callersOwn(arguments[0], callersFolder(Place::downloads, caller), caller))
        return problem;
    if (arguments[5] != Config::teamID() || arguments[6] != "0"_L1)
        return u"Only a package signed by the hub's own maker is installed."_s;
    // The script checks the package is this version; whether that version
    // may be installed is decided here.
    const QString& packageID = arguments[3];
    const QString& version = arguments[4];
    if (Versions::parts(version).isEmpty())
        return u"A package is installed only in the version its release names."_s;
    if (!packageID.isEmpty() && packageID != Config::bundleID())
        return u"A package names no identifier but the hub's own."_s;
    if (packageID == Config::bundleID()
        && Versions::compare(version, QString::fromUtf8(BuildConfig::kVersion)) == std::strong_ordering::less)
        return u"The hub is never replaced by an older version than the "_s + QString::fromUtf8(BuildConfig::kVersion)
               + u" installed."_s;
    return std::nullopt;
}

} // namespace

bool isCallersItem(const QString& path, const Caller& caller) { return isInCallersPlace(path, caller); }

bool isRootsPlace(const QString& folder)
{
    // The place need not exist yet; what exists of it (a link counts, and
    // is refused) must be root's.
    QString existing = folder;
    while (!statNoFollow(existing) && existing != u"/"_s)
        existing = parentOf(existing);
    return isReachedWithoutLinks(existing) && isRootGuarded(existing);
}

std::optional<Caller> callerOf(const QByteArray& pkexecUid)
{
    const std::optional<uint> uid = plainId(pkexecUid);
    if (!uid)
        return std::nullopt;
    const struct passwd* user = ::getpwuid(*uid);
    if (!user || !user->pw_dir || user->pw_dir[0] != '/')
        return std::nullopt;
    Caller caller;
    caller.uid = user->pw_uid;
    caller.gid = user->pw_gid;
    caller.home = QDir::cleanPath(QFile::decodeName(user->pw_dir));
    int count = 64;
    caller.groups.resize(size_t(count));
    if (::getgrouplist(user->pw_name, user->pw_gid, caller.groups.data(), &count) < 0) {
        caller.groups.resize(size_t(count));
        ::getgrouplist(user->pw_name, user->pw_gid, caller.groups.data(), &count);
    }
    caller.groups.resize(size_t(std::max(count, 0)));
    return caller;
}

std::optional<uint> plainId(const QByteArray& text)
{
    // One spelling for each id: no sign, space or leading zero, nothing a
    // later reader could take for another number.
    if (text.isEmpty() || text.size() > 10 || (text.size() > 1 && text.startsWith('0')))
        return std::nullopt;
    for (const char digit : text)
        if (digit < '0' || digit > '9')
            return std::nullopt;
    const qulonglong value = text.toULongLong();
    if (value >= qulonglong(uid_t(-1)))
        return std::nullopt;
    return uint(value);
}

QString callersTrash(const Caller& caller)
{
    return Places::path(Place::trash, Places::isolated(caller.home, u"/"_s));
}

std::optional<QString> refusal(Step step, const QStringList& arguments, const Caller& caller)
{
    switch (step) {
    case Step::placeForAllUsers:
        return placing(arguments, caller);
    case Step::moveToTrash:
        return trashing(arguments, caller);
    case Step::installPackage:
        return packaging(arguments, caller);
    }
    return u"Unknown step."_s;
}

bool isRootGuarded(const QString& path)
{
    const auto guardedChain = [](const QString& start) {
        for (QString at = start;; at = parentOf(at)) {
            const std::optional<struct stat> status = statNoFollow(at);
            if (!status || status->st_uid != 0)
                return false;
            const bool othersWrite = (status->st_mode & (S_IWGRP | S_IWOTH)) != 0;
            if (othersWrite && !(S_ISDIR(status->st_mode) && (status->st_mode & S_ISVTX)))
                return false;
            if (at == u"/"_s)
                return true;
        }
    };
    const std::optional<QString> real = realPath(path);
    const std::optional<QString> folder = realPath(parentOf(path));
    return real && folder && guardedChain(*real) && guardedChain(*folder);
}

} // namespace Hub::AdminChecks
