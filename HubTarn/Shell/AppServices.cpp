#include "Shell/AppServices.h"

#include "Account/ClerkFAPI.h"
#include "Account/ClerkIdentity.h"
#include "Account/DeviceStore.h"
#include "Account/HubAPI.h"
#include "Account/KeychainClerkTokenStore.h"
#include "Account/SystemWebAuthenticator.h"
#include "Base/Config.h"
#include "Base/Machine.h"
#include "Base/Process.h"
#include "Installer/DAWs.h"
#include "Installer/InstallLocations.h"
#include "Installer/Placement/AllUsersScript.h"
#include "Installer/Placement/PrivilegedRunner.h"
#include "Installer/SystemAURegistry.h"
#include "Model/SystemSeams.h"
#include "Platform/LibsecretStore.h"
#include "Platform/MemorySecretStore.h"
#include "Shell/SystemWorkspace.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <unistd.h>

namespace Hub::Shell {

namespace {

// The sign-in of a sandboxed run: its own client (never the process's
// shared one), its device token in `secrets`.
ClerkIdentity sandboxedIdentity(const Sandbox& sandbox, const std::shared_ptr<SecretStore>& secrets,
                                std::shared_ptr<WebAuthenticating> web)
{
    const ServiceProfile* profile = sandbox.profile ? &*sandbox.profile : nullptr;
    const QString key = profile ? profile->publishableKey : Config::clerkPublishableKey();
    const std::optional<QUrl> base = profile ? std::optional(profile->signInBase) : ClerkIdentity::frontendAPI(key);
    if (key.isEmpty() || !base)
        return ClerkIdentity(key, nullptr);
    ClerkFAPI::Dependencies dependencies;
    dependencies.tokens = std::make_shared<KeychainClerkTokenStore>(secrets);
    dependencies.web = std::move(web);
    return ClerkIdentity(
        key, std::make_shared<ClerkFAPI>(*base, Http::Session{profile ? profile->caBundle : QString(), {}},
                                         std::move(dependencies)));
}

// The all-users script of a sandboxed run, which runs it as the current
// user into the home's all-users places: its work folder is in the home,
// its signature check trusts the anchor every other check of the run
// trusts (`anchorsFile`, the profile's; empty: the build's), and unless the
// user is root the copies stay the user's, as everything in the home is.
AllUsersScript::Tools sandboxScriptTools(const QString& home, const ToolPaths& applets, const QString& anchorsFile)
{
    AllUsersScript::Tools tools = AllUsersScript::Tools::withApplets(applets);
    tools.workRoot = Config::downloadsFolder(home);
    QDir().mkpath(tools.workRoot);
    if (::geteuid() != 0)
        tools.chown = QStringLiteral("/usr/bin/true");
    if (anchorsFile.isEmpty())
        return tools;
    // The script runs "$CODESIGN" with its own arguments: the anchor goes
    // in through a wrapper of the run's own, in the home.
    const QString folder = home + QStringLiteral("/.local/state/hubtarn/tools");
    const QString wrapper = folder + QStringLiteral("/codesign");
    const QByteArray text = "#!/bin/sh\nexec " + quoted(applets.codesign).toUtf8() + ' '
                            + quoted(QStringLiteral("--anchors=") + anchorsFile).toUtf8() + " \"$@\"\n";
    QSaveFile file(wrapper);
    if (QDir().mkpath(folder) && file.open(QIODevice::WriteOnly) && file.write(text) == text.size()
        && file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) && file.commit())
        tools.codesign = wrapper;
    else
        qWarning().noquote() << "sandbox: cannot write" << wrapper << "so installs for all users trust the build's anchor";
    return tools;
}

} // namespace

AppServices makeAppServices(const std::optional<Sandbox>& sandbox)
{
    AppServices built;
    HubModelServices& services = built.model;
    const ServiceProfile* profile = sandbox && sandbox->profile ? &*sandbox->profile : nullptr;
    // Empty: the system's roots.
    const QString caBundle = profile ? profile->caBundle : QString();
    const TrustAnchors anchors = profile ? TrustAnchors::fromPem(profile->signingAnchorPem) : TrustAnchors::pinned();

    services.service = profile ? std::make_shared<HubAPI>(profile->apiBase, Http::Session{caBundle, {}})
                               : std::make_shared<HubAPI>();

    built.web = std::make_shared<SystemWebAuthenticator>();
    const std::shared_ptr<SecretStore> secrets = sandbox ? std::shared_ptr<SecretStore>(std::make_shared<MemorySecretStore>())
                                                         : std::make_shared<LibsecretStore>();
    auto identity = std::make_shared<ClerkIdentity>(sandbox ? sandboxedIdentity(*sandbox, secrets, built.web)
                                                            : makeIdentityProvider(built.web));
    services.identity = identity;
    services.codes = identity;
    services.signInAvailable = identity->fapi() != nullptr;
    services.devices = std::make_shared<DeviceStore>(
        secrets, DeviceStore::accountFor(sandbox ? std::optional(sandbox->home) : std::nullopt));

    // One installer holds what every install shares; each install gets a
    // copy with its own address resolver and a session its stop cancels.
    // A sandboxed run's Audio Units are listed from its home's places.
    QStringList componentFolders;
    if (sandbox) {
        const InstallRoots roots = InstallLocations::isolatedRoots(sandbox->home);
        for (const InstallScope scope : {InstallScope::user, InstallScope::allUsers})
            componentFolders << InstallLocations::folder(roots, PluginFormat::au, scope);
    }
    auto installer = std::make_shared<PluginInstaller>(
        std::make_shared<SystemAURegistry>(ToolPaths::installed(), componentFolders), false, 5.0);
    installer->anchors = anchors;
    if (sandbox) {
        installer->privileged = PrivilegedRunner::runAsCurrentUser;
        installer->scriptTools =
            sandboxScriptTools(sandbox->home, installer->tools, profile ? profile->signingAnchorFile : QString());
    }
    if (profile)
        installer->downloadIdleTimeout = profile->downloadIdleTimeout;
    const Http::Limits limits = profile ? profile->limits : Http::Limits{};
    services.installerFor = [installer, caBundle, limits](PluginInstaller::URLResolver resolve, std::stop_token stop) {
        auto one = std::make_shared<PluginInstaller>(*installer);
        one->resolveURL = std::move(resolve);
        one->configuration = [caBundle, stop, limits] { return Http::Session{caBundle, stop, limits}; };
        return std::shared_ptr<const PluginInstalling>(std::move(one));
    };
    services.uninstaller = installer;
    CorePackageInstaller::Setup packages;
    packages.home = Config::homeFolder();
    packages.caBundle = caBundle;
    packages.limits = limits;
    // A sandboxed run installs packages as the user into its home, never
    // through the administrator prompt; only there may a profile's anchor
    // reach the package tools.
    if (sandbox)
        packages = CorePackageInstaller::isolated(sandbox->home, anchors,
                                                  profile ? profile->signingAnchorFile : QString(), caBundle, limits);
    services.packages = std::make_shared<CorePackageInstaller>(std::move(packages));

    services.network = makeSystemNetworkMonitor();
    services.clock = makeSystemClock();
    // A test driver walking the sandboxed window checks what would have
    // opened; nothing may start a browser or file manager on the machine.
    if (sandbox && Config::testSwitch("HUBTARN_TEST_DRIVER"))
        services.workspace = std::make_shared<RecordingWorkspace>(sandbox->home + QStringLiteral("/.local/state/hubtarn/opened.log"));
    else
        services.workspace = std::make_shared<SystemWorkspace>();
    services.runningDAWs = [] { return DAWs::running(); };

    services.catalog = CatalogLoader::defaultLocations();
    services.caBundle = caBundle;
    services.httpLimits = limits;
    services.reports.session.caBundle = caBundle;
    if (profile) {
        services.catalog.catalogURL = profile->catalogURL;
        services.reports.base = profile->apiBase;
    }
    services.cpu = Machine::cpu();
    services.macOSVersion = Machine::platformVersion();
    services.machineID = Config::hubMachineID().value_or(QString());
    services.computerName = Machine::name();
    if (sandbox)
        services.home = sandbox->home;
    services.sandboxed = sandbox.has_value();
    return built;
}

} // namespace Hub::Shell
