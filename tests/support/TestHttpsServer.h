#pragma once

#include <httplib.h>

#include <QString>
#include <QTemporaryDir>
#include <QUrl>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace Hub::Test {

struct TestServerOptions {
    // Plain http exists so that tests can offer a redirect target that must
    // be refused, and check that http to the loopback address still works.
    bool tls = true;
    // Leaving 127.0.0.1 out of the certificate (it still names localhost)
    // lets a test show that the host name is checked, not only the chain.
    bool certificateNamesLoopbackIp = true;
    // Requests one kept-alive connection may carry before the server closes
    // it; a test that counts the client's connections raises it.
    std::size_t requestsPerConnection = 5;
};

// A real server on 127.0.0.1 with a random free port, running from
// construction to destruction. With TLS it presents a fresh self-signed
// certificate for localhost and 127.0.0.1; caBundle() is the file to trust.
//
// Routes may be added at any time, also while requests are being served:
// the server itself has one catch-all route per method that looks them up.
// A pattern is a regular expression matched against the whole path; the
// request handed to the handler has its `matches` filled. When several
// routes match, the one added last wins, so a test can replace a reply.
// Requests no route matches get 404.
class TestHttpsServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    struct Recorded {
        std::string method;
        std::string path;
        std::string body;
        httplib::Headers headers;
        int remotePort = -1; // tells one connection of the client's from another
    };

    explicit TestHttpsServer(TestServerOptions options = {});
    ~TestHttpsServer();

    TestHttpsServer(const TestHttpsServer&) = delete;
    TestHttpsServer& operator=(const TestHttpsServer&) = delete;

    // The PEM file of the server's certificate; empty without TLS.
    QString caBundle() const;
    int port() const { return m_port; }
    // "https://127.0.0.1:<port><path>" (http without TLS); path starts with '/'.
    QUrl url(const QString& path) const;

    // HEAD requests are served by the GET routes.
    void on(const std::string& method, const std::string& pattern, Handler handler);
    void get(const std::string& pattern, Handler handler) { on("GET", pattern, std::move(handler)); }
    void post(const std::string& pattern, Handler handler) { on("POST", pattern, std::move(handler)); }

    // Every request that reached a route lookup, in arrival order, recorded
    // before its handler ran.
    std::vector<Recorded> requests() const;
    int count(const std::string& path) const;
    // How many connections the recorded requests came over.
    int connections() const;

    // Serves `body` with its length, one byte every `interval`, under GET
    // `pattern`: a reply that never stalls and takes for ever.
    void drip(const std::string& pattern, std::string body, std::chrono::milliseconds interval);

    // Waits in a handler or content provider without holding up the
    // server's shutdown. Returns false, early, once the server is stopping;
    // a slow provider should then give up.
    bool pause(std::chrono::milliseconds duration) const;

private:
    struct Route {
        std::string method;
        std::regex pattern;
        Handler handler;
    };

    void dispatch(const httplib::Request& request, httplib::Response& response);

    QTemporaryDir m_directory;
    QString m_certificatePath;
    std::unique_ptr<httplib::Server> m_server;
    int m_port = 0;
    std::thread m_thread;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_stopping;
    bool m_stopRequested = false;
    std::vector<Route> m_routes;
    std::vector<Recorded> m_requests;
};

} // namespace Hub::Test
