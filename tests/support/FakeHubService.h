#pragma once

#include "TestHttpsServer.h"

#include <QJsonObject>
#include <QUrl>

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace Hub::Test {

// The maker's service on a TestHttpsServer, answering "hub/device",
// "hub/account", "hub/feedback", "hub/download", "hub/site-link",
// "hub/signout" and "report" under base().
//
// By default it behaves like the real service: it insists on JSON object
// bodies with the keys each endpoint needs (400 with an "error" otherwise),
// issues a device token at registration, answers 401 with "{}" for a device
// token it does not know, forgets the token at sign-out, and keeps every
// report batch ({"ok": true}). A scripted reply replaces all of that for
// its endpoint (the request is still recorded).
class FakeHubService {
public:
    struct Reply {
        int status = 200;
        std::string body = "{}";
        std::string contentType = "application/json";
    };

    struct Call {
        std::string endpoint; // "hub/device", "report", ...
        std::string body;
        std::optional<QJsonObject> json; // the body, when it is a JSON object
        httplib::Headers headers;

        // The first header of that name (names compare without case); empty when absent.
        std::string header(const std::string& name) const;
        bool hasHeader(const std::string& name) const;
    };

    struct User {
        std::string id = "user_1";
        std::string email = "ada@example.com";
        std::string name = "Ada";
    };

    // Serves under `prefix` of the server's address, which must start and end
    // with '/'. The server must outlive it; on destruction its endpoints are
    // handed back to the server, which then answers them with 404.
    explicit FakeHubService(TestHttpsServer& server, std::string prefix = "/v1/");
    ~FakeHubService();

    FakeHubService(const FakeHubService&) = delete;
    FakeHubService& operator=(const FakeHubService&) = delete;

    // The API base to hand the client: "https://127.0.0.1:<port>/v1/".
    QUrl base() const;

    void acceptToken(const std::string& deviceToken);
    bool isAccepted(const std::string& deviceToken) const;

    // A standing reply for `endpoint`, answered to every later request.
    void setReply(const std::string& endpoint, Reply reply);
    // One-shot replies, answered in order before any standing or default one.
    void queueReply(const std::string& endpoint, Reply reply);
    // Back to the default behaviour (drops standing and queued replies).
    void resetReply(const std::string& endpoint);

    void setUser(User user);
    // Who a registration's sign-in token belongs to; when it answers
    // nothing, the user set with setUser.
    void setUserLookup(std::function<std::optional<User>(const std::string& signInToken)> lookup);
    // Fields added to the default answer of "hub/account" (betas, products).
    void setAccountFields(QJsonObject fields);
    // Called with every request after it was recorded and answered, on the
    // server's thread, outside the service's lock.
    void setObserver(std::function<void(const Call& call, const Reply& reply)> observer);
    // What "hub/site-link" answers by default.
    void setSiteLink(std::string url);

    // Recorded requests in arrival order; all endpoints when `endpoint` is empty.
    std::vector<Call> calls(const std::string& endpoint = {}) const;

private:
    void handle(const std::string& endpoint, const httplib::Request& request, httplib::Response& response);
    Reply answer(const std::string& endpoint, const Call& call);
    std::optional<std::string> deviceTokenOf(const Call& call) const;

    TestHttpsServer& m_server;
    std::string m_prefix;

    mutable std::mutex m_mutex;
    std::set<std::string> m_tokens;
    std::map<std::string, Reply> m_standing;
    std::map<std::string, std::deque<Reply>> m_queued;
    std::vector<Call> m_calls;
    User m_user;
    std::function<std::optional<User>(const std::string&)> m_userLookup;
    QJsonObject m_accountFields;
    std::function<void(const Call&, const Reply&)> m_observer;
    std::string m_siteLink = "https://tarnaudio.example/account";
    int m_issued = 0;
};

} // namespace Hub::Test
