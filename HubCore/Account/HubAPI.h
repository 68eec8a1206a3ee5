#pragma once

#include "Account/HubService.h"
#include "Platform/Http.h"

#include <QJsonObject>
#include <QJsonValue>

#include <optional>

namespace Hub {

// The maker's HTTP service (API version 1). Immutable; calls may run from
// several threads at once. Every call is one POST through HubHTTP::post;
// nothing is cached or retried.
class HubAPI : public HubService {
public:
    // `site` is the maker's web site whose host (or a subdomain of it) the
    // account page must be on.
    explicit HubAPI(QUrl base = defaultBase(), Http::Session session = {}, QString hubVersion = defaultHubVersion(),
                    QUrl site = defaultSite());

    static QUrl defaultBase();
    static QString defaultHubVersion();
    static QUrl defaultSite();

    DeviceSession registerDevice(const QString& clerkJWT, const QString& machineID,
                                 const QString& deviceName) const override;
    AccountReply account(const DeviceSession& device, const QString& machineID) const override;
    void feedback(const DeviceSession& device, const QString& product, const QString& version, FeedbackKind kind,
                  const QString& message) const override;
    QUrl downloadURL(const DeviceSession& device, const QString& product, PluginFormat format,
                     const QString& version) const override;
    QUrl siteLink(const DeviceSession& device) const override;
    void signOut(const DeviceSession& device) const noexcept override;

    // The user object of a registration reply: "id" non-empty text; "email"
    // and "name" taken when text, else empty.
    static std::optional<HubUser> user(const QJsonValue& value);

    // A list of product identifiers from the account reply, read tolerantly:
    // anything but a list is empty, entries that are not plain identifiers
    // are dropped, and each identifier is kept once.
    static QStringList productIDs(const QJsonValue& value);

    const QUrl& base() const { return m_base; }
    const QString& hubVersion() const { return m_hubVersion; }

private:
    QUrl endpoint(const QString& path) const;
    QJsonObject post(const QString& path, const QJsonObject& body, const DeviceSession& device) const;

    QUrl m_base;
    Http::Session m_session;
    QString m_hubVersion;
    QUrl m_site;
};

} // namespace Hub
