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
        Http::Limits limits = {};       // when the download gives up
    };

    explicit CorePackageInstaller(Setup setup);

    // The setup of a run under the isolated home `home`: the package
    // script runs as the current user (never through the administrator
    // prompt), makes its work folder in the home's downloads folder, keeps
    // the staged copies the user's own and installs with `home` as the
    // system root, so packages land in the home's places as all-users
    // plug-ins do. `anchorsFile` (empty: the tools' own anchor) is the
    // anchor the assessment trusts, before and inside the script, and
    // `anchors` the one the installed application is checked against.
    static Setup isolated(const QString& home, const TrustAnchors& anchors, const QString& anchorsFile,
                          const QString& caBundle, const Http::Limits& limits = {});

    const Setup& setup() const { return m_setup; }

    QString install(const QString& productName, const Release& release, bool hub, const InstallProgress& progress,
                    std::stop_token stop) const override;

    // Where the application's own package puts it.
    QString installedHub() const;

private:
    Setup m_setup;
};

} // namespace Hub
