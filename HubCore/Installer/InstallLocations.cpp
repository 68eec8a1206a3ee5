#include "Installer/InstallLocations.h"

#include "Base/Config.h"
#include "Base/Places.h"
#include "Catalog/CatalogRecords.h"
#include "Platform/FileMoves.h"
#include "Platform/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Hub::InstallLocations {

namespace {

QString join(const QString& base, const QString& relative) { return QDir(base).filePath(relative); }

QString standardized(const QString& path) { return QDir::cleanPath(path); }

int formatOrder(PluginFormat format)
{
    switch (format) {
    case PluginFormat::vst3:
        return 0;
    case PluginFormat::au:
        return 1;
    case PluginFormat::app:
        return 2;
    }
    return 3;
}

using Places::Place;

// Plug-in and application folders lie under the home or the system root,
// never under an XDG folder, so the roots alone give their bases.
Places::Bases basesOf(const InstallRoots& roots) { return Places::isolated(roots.userHome, roots.system); }

} // namespace

InstallRoots real()
{
    const Places::Bases bases = Places::of(Config::homeFolder());
    return rootsFor(bases.home, bases.system, Places::path(Place::applicationsAllUsers, bases),
                    Config::supportFolder());
}

InstallRoots isolatedRoots(const QString& home)
{
    const Places::Bases bases = Places::isolated(home, home);
    return rootsFor(home, home, Places::path(Place::applicationsAllUsers, bases), Places::path(Place::support, bases));
}

InstallRoots rootsFor(const QString& home, const QString& system, const QString& systemApplications,
                      const QString& support)
{
    const QByteArray encoded = QFile::encodeName(systemApplications);
    struct stat st {};
    const bool writable = ::stat(encoded.constData(), &st) == 0 && S_ISDIR(st.st_mode)
                          && ::access(encoded.constData(), W_OK) == 0;
    const QString userApplications = Places::path(Place::applicationsUser, Places::isolated(home, system));
    return {home, system, writable ? systemApplications : userApplications, support};
}

QString folder(const InstallRoots& roots, PluginFormat format, InstallScope scope)
{
    const bool user = scope == InstallScope::user;
    switch (format) {
    case PluginFormat::vst3:
        return Places::path(user ? Place::vst3User : Place::vst3AllUsers, basesOf(roots));
    case PluginFormat::au:
        return Places::path(user ? Place::componentsUser : Place::componentsAllUsers, basesOf(roots));
    case PluginFormat::app:
        return roots.applications;
    }
    return {};
}

QList<QString> searchFolders(PluginFormat format, const InstallRoots& roots)
{
    if (format == PluginFormat::app) {
        const Places::Bases bases = basesOf(roots);
        return {roots.applications, Places::path(Place::applicationsAllUsers, bases),
                Places::path(Place::applicationsUser, bases)};
    }
    return {folder(roots, format, InstallScope::user), folder(roots, format, InstallScope::allUsers)};
}

bool isPlainComponent(const QString& name)
{
    if (name.isEmpty() || name.startsWith(u'.') || name.contains(u'/') || name.contains(u':'))
        return false;
    for (const char32_t c : name.toUcs4())
        if (c < 0x20 || c == 0x7F)
            return false;
    return true;
}

bool isPlainName(const QString& name) { return isPlainComponent(name) && pluginFormatFromBundleName(name); }

void makePrivateFolder(const QString& path)
{
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    QString built;
    for (const QString& piece : clean.split(u'/')) {
        if (piece.isEmpty()) {
            if (built.isEmpty())
                built = u"/"_s;
            continue;
        }
        built = join(built, piece);
        if (::mkdir(QFile::encodeName(built).constData(), 0700) != 0 && errno != EEXIST)
            throw FileError(errno, built);
    }
    // Whatever already had the name must be a folder itself: a file or a
    // link there is refused and keeps its mode.
    const int fd = ::open(QFile::encodeName(clean).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        throw FileError(errno == ELOOP ? ENOTDIR : errno, clean);
    const int failed = ::fchmod(fd, 0700) != 0 ? errno : 0;
    ::close(fd);
    if (failed)
        throw FileError(failed, clean);
}

std::optional<InstallScope> scope(const QString& bundlePath, PluginFormat format, const InstallRoots& roots)
{
    const QString parent = standardized(standardized(bundlePath) + u"/.."_s);
    if (format == PluginFormat::app) {
        const Places::Bases bases = basesOf(roots);
        if (parent == standardized(Places::path(Place::applicationsUser, bases)))
            return InstallScope::user;
        if (parent == standardized(roots.applications))
            return InstallScope::allUsers;
        if (parent == standardized(Places::path(Place::applicationsAllUsers, bases)))
            return InstallScope::allUsers;
        return std::nullopt;
    }
    if (parent == standardized(folder(roots, format, InstallScope::user)))
        return InstallScope::user;
    if (parent == standardized(folder(roots, format, InstallScope::allUsers)))
        return InstallScope::allUsers;
    return std::nullopt;
}

std::optional<QString> legacyPath(const QString& catalogPath, const InstallRoots& roots)
{
    QString base;
    QString rest;
    if (catalogPath.startsWith(u"~/"_s)) {
        base = roots.userHome;
        rest = catalogPath.mid(2);
    } else if (catalogPath.startsWith(u'/')) {
        base = roots.system;
        rest = catalogPath.mid(1);
    } else {
        return std::nullopt;
    }
    const QStringList pieces = rest.split(u'/', Qt::KeepEmptyParts);
    if (pieces.isEmpty() || !isPlainName(pieces.back()))
        return std::nullopt;
    QString result = base;
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const QString& piece = pieces[i];
        if (i + 1 < pieces.size()
            && (piece.isEmpty() || piece == u"."_s || piece == u".."_s || piece.contains(u':')))
            return std::nullopt;
        result = join(result, piece);
    }
    return result;
}

std::optional<QString> bundleVersion(const QString& bundlePath)
{
    const QVariantMap info = PropertyList::readDictionary(join(bundlePath, u"Contents/Info.plist"_s));
    if (auto version = PropertyList::text(info, u"CFBundleShortVersionString"_s))
        return version;
    return PropertyList::text(info, u"CFBundleVersion"_s);
}

QList<InstalledFormat> installed(const Product& product, const InstallRoots& roots)
{
    struct Candidate {
        PluginFormat format;
        QString path;
    };
    QList<Candidate> candidates;
    if (product.release && product.release->artifacts) {
        for (const Artifact& artifact : *product.release->artifacts) {
            if (!isPlainName(artifact.bundle))
                continue;
            for (const QString& searched : searchFolders(artifact.format, roots))
                candidates.push_back({artifact.format, join(searched, artifact.bundle)});
        }
    }
    if (product.install) {
        for (const QString& path : product.install->bundles) {
            const auto resolved = legacyPath(path, roots);
            if (!resolved)
                continue;
            const QString name = QDir(*resolved).dirName();
            const auto format = pluginFormatFromBundleName(name);
            if (!format)
                continue;
            candidates.push_back({*format, *resolved});
            // A package puts an application in the all-users place even
            // when this user may not write there.
            if (*format == PluginFormat::app)
                for (const QString& searched : searchFolders(PluginFormat::app, roots))
                    candidates.push_back({*format, join(searched, name)});
        }
    }

    QList<InstalledFormat> found;
    QSet<QString> met;
    for (const Candidate& candidate : candidates) {
        if (!scope(candidate.path, candidate.format, roots))
            continue;
        const QString path = standardized(candidate.path);
        if (met.contains(path))
            continue;
        met.insert(path);
        if (auto version = bundleVersion(path))
            found.push_back({candidate.format, path, *version});
    }
    std::stable_sort(found.begin(), found.end(), [](const InstalledFormat& a, const InstalledFormat& b) {
        if (a.format != b.format)
            return formatOrder(a.format) < formatOrder(b.format);
        return a.path < b.path;
    });
    return found;
}

} // namespace Hub::InstallLocations
