#pragma once

#include "TestHttpsServer.h"

#include "Account/ClerkFAPI.h"
#include "Account/KeychainClerkTokenStore.h"
#include "Account/WebAuthenticating.h"
#include "Platform/MemorySecretStore.h"

#include <QDateTime>
#include <QUrl>

#include <functional>
#include <memory>

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Hub::Test {

// The hosted sign-in service's Frontend API on a TestHttpsServer: the
// sign-in, OAuth, second-factor, sign-up transfer, session-token, sign-out
// and environment endpoints under "/v1/".
//
// By default it behaves like the service: accounts added with addAccount
// sign in with their password (422 "form_password_incorrect" or
// "form_identifier_not_found" otherwise) and ask for their second factors;
// a typed code must match the account's code (422 "form_code_incorrect");
// an OAuth sign-in hands out a provider page with the configured client
// identifier and completes on reload, or turns "transferable" when set so.
// Every default reply rotates the device token ("Authorization: dvt_<n>")
// and carries the client. A queued reply replaces the default for one
// request of its endpoint and is sent exactly as scripted.
class FakeClerkService {
public:
    enum class Endpoint {
        signIns,
        prepareFirstFactor,
        reloadSignIn,
        signUps,
        prepareSecondFactor,
        attemptSecondFactor,
        sessionTokens,
        signOut,
        environment,
    };

    struct Reply {
        int status = 200;
        std::string body = "{}";
        httplib::Headers headers;
    };

    struct Call {
        Endpoint endpoint;
        std::string method;
        std::string target; // path and query exactly as sent
        std::string path;
        std::string body;
        std::vector<std::pair<std::string, std::string>> form;  // decoded, in the order sent
        std::vector<std::pair<std::string, std::string>> query; // decoded, in the order sent
        httplib::Headers headers;

        std::optional<std::string> header(const std::string& name) const;
        std::optional<std::string> formValue(const std::string& key) const;
        std::optional<std::string> queryValue(const std::string& key) const;
    };

    struct Account {
        std::string email;
        std::string password;
        std::vector<std::string> secondFactors; // "email_code", "phone_code", "totp", ... in offered order
        std::string code = "424242";
    };

    explicit FakeClerkService(TestHttpsServer& server);

    FakeClerkService(const FakeClerkService&) = delete;
    FakeClerkService& operator=(const FakeClerkService&) = delete;

    // The Frontend API root to hand the client: "https://127.0.0.1:<port>".
    QUrl base() const;

    void addAccount(Account account);
    // The provider page's "client_id"; empty: the provider is not configured.
    void setProviderClientID(std::string clientID);
    // An OAuth account without a user: the reload says "transferable".
    void setTransferable(bool transferable);
    // The whole body of the environment reply.
    void setEnvironment(std::string json);
    void queueReply(Endpoint endpoint, Reply reply);

    std::vector<Call> calls() const;
    std::vector<Call> calls(Endpoint endpoint) const;
    // The device token the latest default reply handed out.
    std::string lastIssuedToken() const;
    // The e-mail of the account whose sign-in made the session that a
    // session token ("jwt_<session>", "last_<session>") names; nothing for
    // an OAuth sign-in or a token this service never issued.
    std::optional<std::string> accountOf(const std::string& sessionToken) const;

    // An error reply body: {"errors":[{"code":..., "message":..., "long_message":...}]}.
    static std::string errorBody(const std::string& code, const std::string& message = {},
                                 const std::optional<std::string>& longMessage = std::nullopt);

private:
    struct SignIn {
        std::string account; // e-mail; empty for OAuth
        std::string strategy;
    };

    void handle(Endpoint endpoint, const httplib::Request& request, httplib::Response& response);
    // The default behaviour; runs with m_mutex held.
    Reply answer(Endpoint endpoint, const Call& call);
    Reply withClient(int status, const std::string& responseJson);
    std::string newSession();

    TestHttpsServer& m_server;

    mutable std::mutex m_mutex;
    std::map<std::string, Account> m_accounts;
    std::map<std::string, SignIn> m_signIns;
    std::map<std::string, std::string> m_sessionAccounts; // session -> e-mail
    std::map<Endpoint, std::deque<Reply>> m_queued;
    std::vector<Call> m_calls;
    std::string m_providerClientID = "provider-client-1";
    bool m_transferable = false;
    std::string m_environment;
    std::string m_session;     // the client's last active session
    std::string m_issuedToken; // the latest rotating token
    int m_counter = 0;
};

// The browser sign-in for tests: records the pages it is asked to open and
// answers with `answer` (by default the callback with a nonce).
class ScriptedWebAuthenticator : public WebAuthenticating {
public:
    std::function<QUrl(const QUrl& page, const QString& callbackScheme)> answer;

    QUrl authenticate(const QUrl& url, const QString& callbackScheme, std::stop_token stop) override;
    std::vector<QUrl> opened() const;

private:
    mutable std::mutex m_mutex;
    std::vector<QUrl> m_opened;
};

// A sign-in client wired to a FakeClerkService over real HTTPS, with its
// device token in an in-memory keyring and its retry sleeps recorded
// instead of slept.
struct ClerkTestBed {
    TestHttpsServer server;
    FakeClerkService service{server};
    std::shared_ptr<MemorySecretStore> secrets = std::make_shared<MemorySecretStore>();
    std::shared_ptr<KeychainClerkTokenStore> tokens = std::make_shared<KeychainClerkTokenStore>(secrets);
    std::shared_ptr<ScriptedWebAuthenticator> web = std::make_shared<ScriptedWebAuthenticator>();
    QDateTime now = QDateTime(QDate(2030, 1, 2), QTime(3, 4, 5), Qt::UTC);

    // A new client on the fake service; every sleep it asks for is recorded.
    std::shared_ptr<ClerkFAPI> client();
    std::vector<double> sleeps() const;
    // The device token in the keyring item; nothing when there is no item.
    std::optional<QString> storedToken() const;
    void storeToken(const QString& token);

private:
    mutable std::mutex m_mutex;
    std::vector<double> m_sleeps;
};

} // namespace Hub::Test
