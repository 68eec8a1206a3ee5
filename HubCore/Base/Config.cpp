#include "Base/Config.h"

#include "Base/Digest.h"
#include "Base/Machine.h"
#include "Base/Places.h"
#include "BuildConfig.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <mutex>

using namespace Qt::StringLiterals;

namespace Hub::Config {

namespace {

QUrl siteWithPath(const QString& path)
{
    QUrl url = site();
    url.setPath(path);
    return url;
}

} // namespace

QString bundleID() { return QString::fromUtf8(BuildConfig::kBundleID); }
QString teamID() { return QString::fromUtf8(BuildConfig::kTeamID); }

QUrl site()
{
    static const QUrl url(QString::fromUtf8(BuildConfig::kSite));
    return url;
}

QUrl accountPage()
{
    static const QUrl url = siteWithPath(u"/account"_s);
    return url;
}

QString supportEmail() { return QString::fromUtf8(BuildConfig::kSupportEmail); }

QUrl changelog(const QString& anchor)
{
    // The anchor is appended as text, like the rest of the address, so a
    // product identifier lands after "#" unchanged.
    return QUrl(site().toString() + u"/changelog#"_s + anchor);
}

QUrl apiBase()
{
    QString text = QString::fromUtf8(BuildConfig::kApiBase);
    if (!text.endsWith(u'/'))
        text += u'/';
    return QUrl(text);
}

QUrl apiOrigin()
{
    QUrl origin = apiBase();
    origin.setPath(QString());
    origin.setQuery(QString());
    origin.setFragment(QString());
    return origin.isValid() ? origin : apiBase();
}

QUrl catalogURL() { return siteWithPath(u"/catalog.json"_s); }

QString clerkPublishableKey() { return QString::fromUtf8(BuildConfig::kClerkPublishableKey).trimmed(); }

QString hubVersion()
{
    const QString v = QString::fromUtf8(BuildConfig::kVersion);
    return v.isEmpty() ? u"0.0.0"_s : v;
}

bool selfUpdates() { return BuildConfig::kSelfUpdate; }

std::optional<QString> hubMachineID()
{
    return Machine::id(u"tarnaudio-hub|"_s, Machine::platformUUID());
}

QString homeFolder() { return QDir::homePath(); }

QString supportFolder()
{
    static std::once_flag moved;
    std::call_once(moved, [] { moveOldCaches(homeFolder(), runningBundleID()); });
    return supportFolder(homeFolder());
}

QString supportFolder(const QString& home) { return Places::path(Places::Place::support, home); }

QString downloadsFolder() { return downloadsFolder(homeFolder()); }
QString downloadsFolder(const QString& home) { return Places::path(Places::Place::downloads, home); }

QString runningBundleID()
{
    if (!QCoreApplication::instance())
        return {};
    return QCoreApplication::applicationName();
}

void moveOldCaches(const QString& home, const QString& running)
{
    if (running.isEmpty() || running != bundleID())
        return;
    if (testSwitch("HUBTARN_SANDBOX"))
        return;
    const Places::Bases bases = Places::of(home);
    const QDir oldDir(Places::path(Places::Place::oldSupport, bases));
    const QString newPath = Places::path(Places::Place::support, bases);
    for (const auto name : {"catalog.json"_L1, "feeds.json"_L1}) {
        const QString from = oldDir.filePath(name);
        const QString to = QDir(newPath).filePath(name);
        if (!QFileInfo::exists(from) || QFileInfo::exists(to))
            continue;
        QDir().mkpath(newPath);
        // QFile::rename never replaces an existing file, so a copy that
        // appears in the meantime is kept. Errors are ignored on purpose:
        // the caches are rebuilt by the next live load.
        QFile::rename(from, to);
    }
}

std::optional<QString> bundleOf(const QString& executable)
{
    const QDir macOS = QFileInfo(executable).absoluteDir();
    const QDir contents(macOS.absolutePath() + u"/.."_s);
    if (macOS.dirName() != "MacOS"_L1 || QDir::cleanPath(contents.absolutePath()).section(u'/', -1) != "Contents"_L1)
        return std::nullopt;
    return QDir::cleanPath(contents.absoluteFilePath(u".."_s));
}

std::optional<QString> runningBundle()
{
    static const std::optional<QString> bundle = bundleOf(QFileInfo(u"/proc/self/exe"_s).symLinkTarget());
    return bundle;
}

std::optional<QString> testSwitch(const char* name)
{
    if (runningBundle() || !qEnvironmentVariableIsSet(name))
        return std::nullopt;
    return qEnvironmentVariable(name);
}

} // namespace Hub::Config
