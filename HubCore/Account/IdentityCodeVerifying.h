#pragma once

#include <QString>

#include <stop_token>

namespace Hub {

// The second step of a sign-in that answered "needs_code".
class IdentityCodeVerifying {
public:
    virtual ~IdentityCodeVerifying() = default;

    // Returns the session token; throws HubError like IdentityProvider.
    virtual QString verify(const QString& code, std::stop_token stop) const = 0;
};

} // namespace Hub
