#pragma once

#include "Account/DeviceStoring.h"
#include "Base/Config.h"
#include "Account/HubService.h"
#include "Account/IdentityCodeVerifying.h"
#include "Account/IdentityProvider.h"
#include "Catalog/CatalogLoader.h"
#include "Installer/PluginInstaller.h"
#include "Installer/PluginUninstalling.h"
#include "Model/Seams.h"
#include "Reports/ReportSender.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace Hub {

// Everything the model is built over. The shell fills it with the core's
// service objects; tests with fakes.
struct HubModelServices {
    std::shared_ptr<const HubService> service;
    std::shared_ptr<const IdentityProvider> identity;
    std::shared_ptr<const IdentityCodeVerifying> codes;
    std::shared_ptr<DeviceStoring> devices;
    // The installer for one install, with its download addresses resolved
    // through `resolve` and its downloads cancelled through `stop`.
    std::function<std::shared_ptr<const PluginInstalling>(PluginInstaller::URLResolver resolve, std::stop_token stop)>
        installerFor;
    std::shared_ptr<const PluginUninstalling> uninstaller;
    std::shared_ptr<const PackageInstalling> packages;
    std::shared_ptr<NetworkMonitor> network;
    std::shared_ptr<Clock> clock;
    std::shared_ptr<Workspace> workspace;
    RunningDAWs runningDAWs;

    // Where the catalog comes from; the support folder is replaced by the
    // model's own.
    CatalogLoader::Locations catalog;
    QString caBundle;                 // trusted roots for catalog fetches; empty: the system's
    Http::Limits httpLimits = {};     // when catalog fetches give up
    ReportSender::Client reports;     // where reports go; its stop token is the model's
    std::optional<QString> home;      // an isolated home folder
    QString cpu;                      // "arm64" or "x86_64"
    QString macOSVersion;             // the platform version releases are checked against
    QString machineID;
    QString computerName;
    bool sandboxed = false;           // skips the start-up clean of old downloads
    bool signInAvailable = true;      // false: the build has no sign-in key
    // When the user launched the program, on `clock`: the splash's minimum
    // counts from there. Unset: from the model's making.
    std::optional<QDateTime> launched;
    bool selfUpdates = Config::selfUpdates(); // false: the system's packages update the program
};

} // namespace Hub
