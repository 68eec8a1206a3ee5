#pragma once

#include "Catalog/SharedTypes.h"

#include <QString>

#include <optional>
#include <stop_token>
#include <vector>

namespace Hub {

// How the app model signs the user in. Every failure is a HubError whose
// description is the sentence to show; HubError::cancelled() when the user
// closed the browser sign-in, the provider refused access, or `stop` was
// requested; code "needs_code" when a code must go to IdentityCodeVerifying;
// code "provider_off" when that provider's button should go.
// Calls block; any thread.
class IdentityProvider {
public:
    virtual ~IdentityProvider() = default;

    // Returns the session token (a JWT) for device registration.
    virtual QString signIn(const QString& email, const QString& password, std::stop_token stop) const = 0;
    virtual QString signIn(OAuthProvider provider, std::stop_token stop) const = 0;
    // The providers to offer, in order; nothing when that cannot be known.
    virtual std::optional<std::vector<OAuthProvider>> socialProviders(std::stop_token stop) const = 0;
    virtual void signOut(std::stop_token stop) const noexcept = 0;
};

} // namespace Hub
