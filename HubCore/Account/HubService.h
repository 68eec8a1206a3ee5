#pragma once

#include "Catalog/SharedTypes.h"

#include <QString>
#include <QStringList>
#include <QUrl>

namespace Hub {

// What the account check tells beyond "still signed in": the products whose
// beta the account takes part in, and further products shared with it.
struct AccountReply {
    QStringList betas;
    QStringList products;

    friend bool operator==(const AccountReply&, const AccountReply&) = default;
};

// The most characters a feedback message may have, and its length as the
// service counts it: the characters a person sees (an accented letter or an
// emoji is one), once white space and line breaks are trimmed from both ends.
inline constexpr qsizetype kMaxFeedbackCharacters = 2000;
qsizetype feedbackLength(const QString& message);

// The maker's service as the app model sees it. Every call blocks for one
// HTTP exchange; all but signOut throw HubError.
class HubService {
public:
    virtual ~HubService() = default;

    // Registers this machine with a sign-in session token (a JWT).
    virtual DeviceSession registerDevice(const QString& clerkJWT, const QString& machineID,
                                         const QString& deviceName) const = 0;
    // Returns normally while the device session is still good.
    virtual AccountReply account(const DeviceSession& device, const QString& machineID) const = 0;
    virtual void feedback(const DeviceSession& device, const QString& product, const QString& version,
                          FeedbackKind kind, const QString& message) const = 0;
    // The address to download one artifact from, http or https.
    virtual QUrl downloadURL(const DeviceSession& device, const QString& product, PluginFormat format,
                             const QString& version) const = 0;
    // The signed-in account page, always https on the maker's web site.
    virtual QUrl siteLink(const DeviceSession& device) const = 0;
    // Tells the service to forget the device; never fails.
    virtual void signOut(const DeviceSession& device) const noexcept = 0;
};

} // namespace Hub
