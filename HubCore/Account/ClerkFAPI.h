#pragma once

#include "Account/ClerkRecords.h"
#include "Account/ClerkTokenStoring.h"
#include "Account/WebAuthenticating.h"
#include "Catalog/SharedTypes.h"
#include "Platform/Http.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <vector>

namespace Hub {

// The client of the hosted sign-in service's Frontend API, as a native app
// uses it: one instance per publishable key, holding the rotating device
// token, the last client the service described and a sign-in waiting for a
// code.
//
// Thread safety: every member function may be called from any thread. The
// state is guarded by one mutex that is held only while it is read or
// written, never across a request, a retry sleep or the browser sign-in, so
// a sign-out can run while an OAuth sign-in waits for the browser. Calls
// interleave at those waits exactly as they would on the service.
//
// Blocking calls take a stop token; a stop ends them with
// HubError::cancelled() (or the transport's `cancelled` error while a
// request is in flight).
class ClerkFAPI {
public:
    // Waits `seconds` or until `stop` is requested, whichever comes first.
    using Sleeper = std::function<void(double seconds, std::stop_token stop)>;
    using Clock = std::function<QDateTime()>;
    // Builds the instance for a key's Frontend API root.
    using Factory = std::function<std::shared_ptr<ClerkFAPI>(const QUrl& base)>;
    using Form = std::map<QString, std::optional<QString>>;
    using Query = std::map<QString, QString>;

    struct PendingSignIn {
        QString id;
        QString strategy; // "email_code", "phone_code" or "totp"
        friend bool operator==(const PendingSignIn&, const PendingSignIn&) = default;
    };

    struct Dependencies {
        std::shared_ptr<ClerkTokenStoring> tokens;
        std::shared_ptr<WebAuthenticating> web;
        Sleeper sleep;          // empty: a real, stoppable sleep
        Clock now;              // empty: the current UTC time
        QString appVersion;     // empty: Config::hubVersion()
        QString locale;         // empty: preferredLanguage()
    };

    // `base` is the Frontend API root (scheme, host and port are used);
    // `session` says whom to trust and may carry a stop token for every call.
    ClerkFAPI(QUrl base, Http::Session session, Dependencies dependencies);

    ClerkFAPI(const ClerkFAPI&) = delete;
    ClerkFAPI& operator=(const ClerkFAPI&) = delete;

    // The process's instance for `publishableKey` (the exact text is the
    // table's key), made by `make` on first request and kept for the life of
    // the process. Nothing when the key names no Frontend API.
    static std::shared_ptr<ClerkFAPI> shared(const QString& publishableKey, const Factory& make);
    // The application's factory: the keyring-backed token store under
    // "<bundle id>.clerk" / "clerkDeviceToken", the given browser sign-in,
    // the system's trusted roots.
    static Factory applicationFactory(std::shared_ptr<WebAuthenticating> web);

    // "application/x-www-form-urlencoded": absent values dropped, keys
    // sorted, everything but A-Z a-z 0-9 - . _ ~ percent-encoded.
    static QString formEncode(const Form& form);
    // The wait before a retry from "Retry-After" or "X-RateLimit-Reset",
    // 0.5 s without either, always within 0.1 - 5.0 s.
    static double retryDelay(const Http::Response& response, const QDateTime& now);
    static std::optional<QDateTime> httpDate(const QString& text);
    // The first of the user's preferred languages, "en" when none.
    static QString preferredLanguage();
    static QString preferredLanguage(const QStringList& uiLanguages);

    const QUrl& base() const { return m_base; }

    // Throws HubError::message when no address can be formed.
    Http::Request makeRequest(const QByteArray& method, const QString& path, const Form& form, const Query& query,
                              double timeout) const;
    // Performs `request`, retrying once where the service or the network
    // allow it. Throws Http::TransportError or HubError::cancelled().
    Http::Response send(const Http::Request& request, bool retry, std::stop_token stop = {});
    // Takes the rotating device token and the client from any reply.
    void adopt(const Http::Response& response);
    // Reads the stored device token, once per instance.
    void loadToken();

    // Never throws; nothing when the environment could not be read.
    std::optional<EnvironmentDTO> loadEnvironment(double timeout, std::stop_token stop = {});
    // The providers the instance offers, google before apple; nothing when unknown.
    std::optional<std::vector<OAuthProvider>> socialProviders(std::stop_token stop = {});

    // The sign-in flows. Each returns the session token (a JWT) or throws
    // HubError, FAPIError or Http::TransportError; HubError::api "needs_code"
    // means a code must be passed to attemptCode.
    QString signInWithPassword(const QString& identifier, const QString& password, std::stop_token stop = {});
    QString signInWithOAuth(OAuthProvider provider, std::stop_token stop = {});
    QString attemptCode(const QString& code, std::stop_token stop = {});
    // Ends the client's sessions at the service; never throws.
    void signOut(std::stop_token stop = {}) noexcept;

    // Snapshots of the state, for the identity provider and the tests.
    std::optional<QString> deviceToken() const;
    std::optional<QString> clientID() const;
    std::optional<ClientDTO> lastClient() const;
    std::optional<PendingSignIn> pending() const;

private:
    class Call;

    Http::Response send(const Http::Request& request, bool retry, const Call& call);
    void sleep(double seconds, const Call& call);
    std::optional<EnvironmentDTO> loadEnvironment(double timeout, const Call& call);
    Envelope<SignInDTO> createSignIn(const Form& form, const Call& call);
    QString finish(const std::optional<SignInDTO>& signIn, const std::optional<ClientDTO>& client, const Call& call);
    QString jwt(const QString& sessionID, const Call& call);
    QString signUpTransfer(const Call& call);
    // Sends a request (after loading the token), adopts the reply and reads
    // it as `Record`, raising the reply's FAPIError.
    template <typename Record>
    Record exchange(const QByteArray& method, const QString& path, const Form& form, const Query& query,
                    const Call& call);

    void setPending(std::optional<PendingSignIn> pending);
    // Drops the device token and the client identifier here and in the store.
    void forgetDevice();
    // Writes the token change numbered `generation` to the store unless a
    // later change has already been written; nothing: clear the store.
    void persistToken(quint64 generation, const std::optional<QString>& token);

    const QUrl m_base;
    const Http::Session m_session;
    const std::shared_ptr<ClerkTokenStoring> m_tokens;
    const std::shared_ptr<WebAuthenticating> m_web;
    const Sleeper m_sleep;
    const Clock m_now;
    const QString m_appVersion;
    const QString m_locale;

    mutable std::mutex m_mutex; // guards the fields below, never held across a wait
    std::optional<QString> m_deviceToken;
    bool m_tokenLoaded = false;
    std::optional<QString> m_clientID;
    std::optional<ClientDTO> m_lastClient;
    std::optional<PendingSignIn> m_pending;
    std::optional<bool> m_sessionMinter;
    std::optional<EnvironmentDTO> m_environment;
    quint64 m_tokenGeneration = 0; // counts changes of m_deviceToken

    std::mutex m_loadMutex;  // makes the one store read happen once
    std::mutex m_storeMutex; // orders store writes; guards m_storedGeneration
    quint64 m_storedGeneration = 0;
};

} // namespace Hub
