#pragma once

#include "Account/IdentityCodeVerifying.h"
#include "Account/IdentityProvider.h"
#include "Base/HubError.h"

#include <QString>
#include <QUrl>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace Hub {

class ClerkFAPI;
class WebAuthenticating;

// Sign-in through the hosted sign-in service. Holds no state of its own:
// copies share the one client of their publishable key, so every copy
// drives the same sign-in. Checks the user's input before any request,
// recovers once from a session left over at the service, and turns every
// failure into a HubError with the sentence the sign-in screen shows.
class ClerkIdentity final : public IdentityProvider, public IdentityCodeVerifying {
public:
    // `fapi` may be null: sign-in is then not set up in this build.
    ClerkIdentity(QString publishableKey, std::shared_ptr<ClerkFAPI> fapi);

    // The Frontend API root that a publishable key names, "https://<host>".
    static std::optional<QUrl> frontendAPI(const QString& publishableKey);

    QString signIn(const QString& email, const QString& password, std::stop_token stop = {}) const override;
    QString signIn(OAuthProvider provider, std::stop_token stop = {}) const override;
    std::optional<std::vector<OAuthProvider>> socialProviders(std::stop_token stop = {}) const override;
    void signOut(std::stop_token stop = {}) const noexcept override;
    QString verify(const QString& code, std::stop_token stop = {}) const override;

    // The user's wording of any failure of the sign-in client.
    static HubError hubError(std::exception_ptr error);
    // The user's wording of one of the service's error codes.
    static HubError hubError(const QString& code, const std::optional<QString>& message);

    const QString& publishableKey() const { return m_publishableKey; }
    const std::shared_ptr<ClerkFAPI>& fapi() const { return m_fapi; }

private:
    QString run(const std::function<QString()>& operation, std::stop_token stop) const;

    QString m_publishableKey;
    std::shared_ptr<ClerkFAPI> m_fapi;
};

// The application's identity provider: the configured publishable key and
// its shared client, which opens OAuth sign-ins through `web`.
ClerkIdentity makeIdentityProvider(std::shared_ptr<WebAuthenticating> web);

} // namespace Hub
