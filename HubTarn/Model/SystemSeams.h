#pragma once

#include "Installer/Packages/Installer.h"
#include "Model/Seams.h"

#include <memory>

// The application's implementations of the model's seams (the workspace
// is the shell's).
namespace Hub {

// QNetworkInformation's reachability; online when no backend can be loaded.
std::unique_ptr<NetworkMonitor> makeSystemNetworkMonitor();

// The wall clock and single-shot timers.
std::unique_ptr<Clock> makeSystemClock();

// The core's installer functions: download, packageFrom, verify, install
// and, for the application, verifyInstalledHub of "Tarnhub.app" in the
// all-users applications place under the package's target.
class CorePackageInstaller : public PackageInstalling {
public:
    struct Setup {
        QString home;
        ToolPaths tools = ToolPaths::installed();
        PackageScript::Tools scriptTools = PackageScript::Tools::installed();
        TrustAnchors anchors = TrustAnchors::pinned();
        Installer::Execute execute;     // empty: the administrator runner
        QString caBundle;               // empty: the system's roots
    };

    explicit CorePackageInstaller(Setup setup);

    QString install(const QString& productName, const Release& release, bool hub, const InstallProgress& progress,
                    std::stop_token stop) const override;

    // Where the application's own package puts it.
    QString installedHub() const;

private:
    Setup m_setup;
};

} // namespace Hub
