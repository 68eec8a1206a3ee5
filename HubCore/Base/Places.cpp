#include "Base/Places.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace Hub::Places {

namespace {

enum class Base { home, system, data, cache };

struct Entry {
    Place place;
    Base base;
    QLatin1StringView relative;
};

// The one table: every folder the core names derives from it.
constexpr Entry kPlaces[] = {
    {Place::vst3User, Base::home, ".vst3"_L1},
    {Place::vst3AllUsers, Base::system, "usr/local/lib/vst3"_L1},
    {Place::componentsUser, Base::home, ".components"_L1},
    {Place::componentsAllUsers, Base::system, "usr/local/lib/components"_L1},
    {Place::applicationsAllUsers, Base::system, "opt"_L1},
    {Place::applicationsUser, Base::home, "Applications"_L1},
    {Place::support, Base::data, "Tarn Hub"_L1},
    {Place::oldSupport, Base::data, "Tarnaudio Hub"_L1},
    {Place::downloads, Base::cache, "Tarn Hub/Downloads"_L1},
    {Place::makerFolder, Base::data, "Tarn Audio"_L1},
    {Place::lockFolder, Base::cache, "com.juce.locks"_L1},
    {Place::trash, Base::data, "Trash"_L1},
    {Place::desktopEntries, Base::data, "applications"_L1},
};

// The other platform's folders a package may name, and their places here.
struct InstallLocation {
    QLatin1StringView location;
    Place allUsers;
    Place user;
};

constexpr InstallLocation kInstallLocations[] = {
    {"/Library/Audio/Plug-Ins/VST3"_L1, Place::vst3AllUsers, Place::vst3User},
    {"/Library/Audio/Plug-Ins/Components"_L1, Place::componentsAllUsers, Place::componentsUser},
    {"/Applications"_L1, Place::applicationsAllUsers, Place::applicationsUser},
};

// An XDG variable's folder, or the default when it is unset, empty or
// relative (a relative value is invalid and must be ignored).
QString xdgFolder(const char* variable, const QString& fallback)
{
    const QString value = qEnvironmentVariable(variable);
    return QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : fallback;
}

const QString& baseFolder(Base base, const Bases& bases)
{
    switch (base) {
    case Base::home:
        return bases.home;
    case Base::system:
        return bases.system;
    case Base::data:
        return bases.data;
    case Base::cache:
        return bases.cache;
    }
    return bases.home;
}

} // namespace

Bases isolated(const QString& home, const QString& system)
{
    const QDir dir(home);
    return {home, system, dir.filePath(u".local/share"_s), dir.filePath(u".cache"_s)};
}

Bases of(const QString& home, const QString& system)
{
    Bases bases = isolated(home, system);
    if (QDir::cleanPath(home) != QDir::cleanPath(QDir::homePath()))
        return bases;
    bases.data = xdgFolder("XDG_DATA_HOME", bases.data);
    bases.cache = xdgFolder("XDG_CACHE_HOME", bases.cache);
    return bases;
}

QString path(Place place, const Bases& bases)
{
    for (const Entry& entry : kPlaces)
        if (entry.place == place)
            return QDir(baseFolder(entry.base, bases)).filePath(entry.relative);
    return {};
}

QString path(Place place, const QString& home) { return path(place, of(home)); }

std::optional<Place> forInstallLocation(const QString& location, bool intoHome)
{
    if (!location.startsWith(u'/'))
        return std::nullopt;
    // The other platform's file system ignores case, so its packages may too.
    const QString cleaned = QDir::cleanPath(location);
    for (const InstallLocation& entry : kInstallLocations)
        if (cleaned.compare(entry.location, Qt::CaseInsensitive) == 0)
            return intoHome ? entry.user : entry.allUsers;
    return std::nullopt;
}

} // namespace Hub::Places

namespace Hub {

bool isWithin(const QString& path, const QString& folder)
{
    if (folder.isEmpty())
        return false;
    QString base = folder;
    while (base.size() > 1 && base.endsWith(u'/'))
        base.chop(1);
    if (!path.startsWith(base))
        return false;
    return path.size() == base.size() || base == u"/"_s || path.at(base.size()) == u'/';
}

QString abbreviatingHome(const QString& path, const QString& home)
{
    QString base = home;
    while (base.size() > 1 && base.endsWith(u'/'))
        base.chop(1);
    if (base.isEmpty() || base == u"/"_s || !isWithin(path, base))
        return path;
    return u'~' + path.mid(base.size());
}

} // namespace Hub
