#include "Model/SystemSeams.h"

#include "Base/Config.h"
#include "Base/HubError.h"
#include "Base/Places.h"
#include "Installer/InstallErrors.h"
#include "Installer/Placement/PrivilegedRunner.h"
#include "Platform/FileMoves.h"

#include <QDir>
#include <QNetworkInformation>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <cmath>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

class SystemNetworkMonitor final : public NetworkMonitor {
public:
    SystemNetworkMonitor()
    {
        if (QNetworkInformation::loadDefaultBackend())
            m_information = QNetworkInformation::instance();
    }

    bool online() const override
    {
        if (!m_information)
            return true; // nothing to ask: refresh outcomes decide
        return isOnline(m_information->reachability());
    }

    void watch(QObject* context, std::function<void(bool)> changed) override
    {
        if (!m_information)
            return;
        QObject::connect(m_information, &QNetworkInformation::reachabilityChanged, context,
                         [changed](QNetworkInformation::Reachability reachability) {
                             changed(isOnline(reachability));
                         });
        // A backend settles its first answer after it loads: what it says
        // now counts even when no change follows.
        changed(online());
    }

private:
    static bool isOnline(QNetworkInformation::Reachability reachability)
    {
        // Unknown counts as online: a backend that cannot tell must not
        // lock the user out of the network.
        return reachability != QNetworkInformation::Reachability::Disconnected;
    }

    QPointer<QNetworkInformation> m_information;
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }

    void sleep(double seconds, QObject* context, std::function<void()> wake) override
    {
        const double clamped = std::isfinite(seconds) && seconds > 0 ? seconds : 0.0;
        // QTimer takes an int of milliseconds: 21,600 s fits comfortably.
        QTimer::singleShot(std::chrono::milliseconds(qint64(std::ceil(clamped * 1000.0))), context,
                           std::move(wake));
    }
};

} // namespace

std::unique_ptr<NetworkMonitor> makeSystemNetworkMonitor()
{
    return std::make_unique<SystemNetworkMonitor>();
}

std::unique_ptr<Clock> makeSystemClock()
{
    return std::make_unique<SystemClock>();
}

CorePackageInstaller::CorePackageInstaller(Setup setup)
    : m_setup(std::move(setup))
{
}

CorePackageInstaller::Setup CorePackageInstaller::isolated(const QString& home, const TrustAnchors& anchors,
                                                           const QString& anchorsFile, const QString& caBundle,
                                                           const Http::Limits& limits)
{
    Setup setup;
    setup.home = home;
    setup.scriptTools.temporaryFolder = Config::downloadsFolder(home);
    setup.scriptTools.owner = QString::number(::getuid()) + u':' + QString::number(::getgid());
    setup.scriptTools.target = home;
    setup.scriptTools.anchors = anchorsFile;
    setup.anchors = anchors;
    setup.execute = [](const QString& script, const QStringList& arguments) {
        return PrivilegedRunner::runAsCurrentUser(QString(), script, arguments);
    };
    setup.caBundle = caBundle;
    setup.limits = limits;
    return setup;
}

QString CorePackageInstaller::installedHub() const
{
    // The package names the other platform's Applications folder; the
    // installer puts it in the all-users applications place.
    const QString target = m_setup.scriptTools.target;
    return QDir(Places::path(Places::Place::applicationsAllUsers, Places::isolated(target, target)))
        .filePath(u"Tarnhub.app"_s);
}

QString CorePackageInstaller::install(const QString& productName, const Release& release, bool hub,
                                      const InstallProgress& progress, std::stop_token stop) const
{
    const std::optional<Release::Download> source = release.download();
    if (!source)
        throw HubError::message(u"This release has no installer to download."_s);
    const Http::Session session{m_setup.caBundle, stop, m_setup.limits};
    QString file;
    try {
        file = Installer::download(
            source->url, source->sha256, productName,
            [&progress](double fraction) { progress(InstallStep::downloading(fraction)); }, release.size, session,
            m_setup.home);
        progress(InstallStep::verifying());
        const QString package = Installer::packageFrom(file, m_setup.tools, Installer::imageWorkFolder(m_setup.home));
        Installer::verify(package, m_setup.tools, m_setup.scriptTools.anchors);
    } catch (const FileError& error) {
        // Nothing outside the downloads folder is touched before the
        // script runs, so whatever ran out of room left the installed copy.
        if (!error.isDiskFull())
            throw;
        const QString shown = release.version.isEmpty() ? productName : productName + u' ' + release.version;
        throw HubError::message(diskFullSentence(error.path(), shown, u" and nothing was changed."_s, m_setup.home));
    }
    if (stop.stop_requested())
        throw HubError::cancelled();
    progress(InstallStep::installing());
    // The application's package is checked against its own identity; a
    // product's package against the catalog's checksum and its version.
    const std::optional<QString> packageID = hub ? std::optional<QString>(Config::bundleID()) : std::nullopt;
    const std::optional<QString> version = release.version;
    Installer::install(file, productName, source->sha256.value_or(QString()), packageID, version, m_setup.execute,
                       m_setup.scriptTools);
    if (!hub)
        return {};
    Installer::verifyInstalledHub(installedHub(), release.version, m_setup.anchors);
    return installedHub();
}

} // namespace Hub
