#include "Shell/AppServices.h"

#include "Account/ClerkIdentity.h"
#include "Account/DeviceStore.h"
#include "Account/HubAPI.h"
#include "Account/SystemWebAuthenticator.h"
#include "Catalog/Config.h"
#include "Catalog/Machine.h"
#include "Installer/DAWs.h"
#include "Installer/SystemAURegistry.h"
#include "Model/SystemSeams.h"
#include "Platform/LibsecretStore.h"
#include "Shell/SystemWorkspace.h"

namespace Hub::Shell {

AppServices makeAppServices()
{
    AppServices built;
    HubModelServices& services = built.model;

    services.service = std::make_shared<HubAPI>();

    built.web = std::make_shared<SystemWebAuthenticator>();
    auto identity = std::make_shared<ClerkIdentity>(makeIdentityProvider(built.web));
    services.identity = identity;
    services.codes = identity;
    services.devices =
        std::make_shared<DeviceStore>(std::make_shared<LibsecretStore>(), DeviceStore::accountFor(std::nullopt));

    // One installer holds what every install shares; each install gets a
    // copy with its own address resolver and a session its stop cancels.
    auto installer = std::make_shared<PluginInstaller>(std::make_shared<SystemAURegistry>(), false, 5.0);
    services.installerFor = [installer](PluginInstaller::URLResolver resolve, std::stop_token stop) {
        auto one = std::make_shared<PluginInstaller>(*installer);
        one->resolveURL = std::move(resolve);
        one->configuration = [stop] { return Http::Session{QString(), stop}; };
        return std::shared_ptr<const PluginInstalling>(std::move(one));
    };
    services.uninstaller = installer;
    CorePackageInstaller::Setup packages;
    packages.home = Config::homeFolder();
    services.packages = std::make_shared<CorePackageInstaller>(std::move(packages));

    services.network = makeSystemNetworkMonitor();
    services.clock = makeSystemClock();
    services.workspace = std::make_shared<SystemWorkspace>();
    services.runningDAWs = [] { return DAWs::running(); };

    services.catalog = CatalogLoader::defaultLocations();
    services.cpu = Machine::cpu();
    services.macOSVersion = Machine::platformVersion();
    services.machineID = Config::hubMachineID().value_or(QString());
    services.computerName = Machine::name();
    services.sandboxed = qEnvironmentVariableIsSet("HUBTARN_SANDBOX");
    return built;
}

} // namespace Hub::Shell
