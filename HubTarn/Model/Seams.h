#pragma once

#include "Catalog/CatalogRecords.h"
#include "Installer/PluginInstaller.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <stop_token>

class QObject;

// The app model's own seams: what it needs of the platform beyond the
// core's interfaces, so that its tests run with fakes and no display.
namespace Hub {

// Whether the network path is up. The application uses QNetworkInformation
// and counts as online when no backend is available.
class NetworkMonitor {
public:
    virtual ~NetworkMonitor() = default;

    virtual bool online() const = 0;
    // Calls `changed` on `context`'s thread whenever the answer changes,
    // until `context` is destroyed. The system monitor also calls it right
    // away with the answer it starts with; callers must not count on that.
    virtual void watch(QObject* context, std::function<void(bool online)> changed) = 0;
};

// Time, and waiting for it. All the model's timing goes through here, so
// tests move a fake clock instead of sleeping.
class Clock {
public:
    virtual ~Clock() = default;

    virtual QDateTime now() const = 0;
    // Calls `wake` on `context`'s thread once `seconds` (a negative number
    // counts as 0) have passed, unless `context` is destroyed first.
    virtual void sleep(double seconds, QObject* context, std::function<void()> wake) = 0;
};

// Opening things outside the program. The model checks every address
// before it gets here; implementations open what they are given.
class Workspace {
public:
    virtual ~Workspace() = default;

    virtual void openURL(const QUrl& url) = 0;
    virtual void openApplication(const QString& bundlePath) = 0;
    // Shows the files selected in the file manager. When nothing could show
    // them, calls `failed` (on the calling thread, maybe later) with the
    // folder it could not open.
    virtual void reveal(const QStringList& paths, std::function<void(const QString& folder)> failed) = 0;
    // Opens the folder itself in the file manager; when nothing could, calls
    // `failed` as reveal() does.
    virtual void openFolder(const QString& path, std::function<void(const QString& folder)> failed) = 0;
};

// The package path: products that ship as an installer package, and the
// application's own update. Blocks; throws HubError.
class PackageInstalling {
public:
    virtual ~PackageInstalling() = default;

    // Downloads, checks and installs the release's package, reporting
    // downloading, verifying and installing. For the application itself
    // (`hub`) it also checks the installed bundle and returns its path;
    // otherwise it returns an empty text.
    virtual QString install(const QString& productName, const Release& release, bool hub,
                            const InstallProgress& progress, std::stop_token stop) const = 0;
};

// The names of the DAWs running now.
using RunningDAWs = std::function<QStringList()>;

} // namespace Hub
