#include "Platform/Http.h"
#include "TestHttpsServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace Hub::Http {
// Failure messages name the code instead of printing its number.
void PrintTo(TransportCode code, std::ostream* out)
{
    *out << transportCodeName(code).toStdString();
}
} // namespace Hub::Http

namespace {

namespace Http = Hub::Http;
using Hub::Test::TestHttpsServer;
using Hub::Test::TestServerOptions;
using Http::TransportCode;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Http::Session trusting(const TestHttpsServer& server, std::stop_token stop = {})
{
    Http::Session session;
    session.caBundle = server.caBundle();
    session.stop = std::move(stop);
    return session;
}

Http::Request requestTo(const QUrl& url, double timeout = 5.0)
{
    Http::Request request;
    request.url = url;
    request.timeout = timeout;
    return request;
}

// The code a request fails with; a reply instead fails the test.
std::optional<TransportCode> failureOf(const Http::Session& session, const Http::Request& request)
{
    try {
        const Http::Response response = Http::perform(session, request);
        ADD_FAILURE() << "expected a transport error, got HTTP " << response.status;
    } catch (const Http::TransportError& error) {
        EXPECT_FALSE(error.detail().isEmpty());
        EXPECT_NE(std::string(error.what()).find(Http::transportCodeName(error.code()).toStdString()),
                  std::string::npos);
        return error.code();
    }
    return std::nullopt;
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Every byte value, in an order that a shifted or truncated copy cannot match.
std::string patternedBytes(std::size_t size)
{
    std::string bytes(size, '\0');
    std::uint32_t state = 2463534242u;
    for (char& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<char>(state & 0xff);
    }
    return bytes;
}

// A chunked reply without a length: `count` single bytes, one per `interval`.
void serveTrickle(TestHttpsServer& server, const std::string& path, std::size_t count,
                  std::chrono::milliseconds interval)
{
    server.get(path, [&server, count, interval](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider(
            "application/octet-stream",
            [&server, count, interval](std::size_t offset, httplib::DataSink& sink) {
                if (offset >= count) {
                    sink.done();
                    return true;
                }
                if (!server.pause(interval))
                    return false;
                return sink.write("x", 1);
            });
    });
}

// A chunked reply that sends `count` bytes and then goes silent.
void serveStall(TestHttpsServer& server, const std::string& path, std::size_t count)
{
    server.get(path, [&server, count](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider(
            "application/octet-stream", [&server, count](std::size_t offset, httplib::DataSink& sink) {
                if (offset < count)
                    return sink.write("s", 1);
                server.pause(60s);
                return false;
            });
    });
}

// A loopback port that is bound but not listening: connecting is refused,
// and no other process can take the port while the test runs.
class RefusingPort {
public:
    RefusingPort()
    {
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), length) != 0
            || ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot bind a loopback socket");
        m_port = ntohs(address.sin_port);
    }
    ~RefusingPort() { ::close(m_socket); }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    int port() const { return m_port; }

private:
    int m_socket = -1;
    int m_port = 0;
};

// --- Requests and replies -------------------------------------------------

TEST(HttpExchange, GetAndPostCarryMethodHeadersAndBodyBothWays)
{
    TestHttpsServer server;
    const std::string payload = std::string("line one\r\nline\0two\n", 19) + patternedBytes(300);
    server.get("/hello", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("X-Reply", "yes");
        response.set_content("hello there", "text/plain");
    });
    server.post("/echo", [&payload](const httplib::Request& request, httplib::Response& response) {
        // The server checks what arrived, so a mangled request cannot pass
        // by being echoed back the same wrong way.
        if (request.method != "POST" || request.get_header_value("X-Test") != "42 is the answer"
            || request.body != payload) {
            response.status = 400;
            return;
        }
        response.status = 201;
        response.set_content(std::string(request.body.rbegin(), request.body.rend()),
                             "application/octet-stream");
    });

    const Http::Response got = Http::perform(trusting(server), requestTo(server.url(QStringLiteral("/hello"))));
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.body.toStdString(), "hello there");
    EXPECT_EQ(got.header("x-REPLY").value_or("<none>").toStdString(), "yes");
    EXPECT_EQ(got.header("content-type").value_or("<none>").toStdString(), "text/plain");
    EXPECT_FALSE(got.header("X-Missing").has_value());
    EXPECT_EQ(got.url, server.url(QStringLiteral("/hello")));

    Http::Request post = requestTo(server.url(QStringLiteral("/echo")));
    post.method = "POST";
    post.headers.append(Http::Header("X-Test", "42 is the answer"));
    post.body = QByteArray(payload.data(), static_cast<qsizetype>(payload.size()));
    const Http::Response posted = Http::perform(trusting(server), post);
    EXPECT_EQ(posted.status, 201);
    EXPECT_EQ(posted.body.toStdString(), std::string(payload.rbegin(), payload.rend()));
}

TEST(HttpExchange, OtherMethodsAndEmptyBodiesGoOutAsAsked)
{
    TestHttpsServer server;
    const auto ok = [](const httplib::Request&, httplib::Response& response) {
        response.set_content("ok", "text/plain");
    };
    server.post("/empty-post", ok);
    server.on("PUT", "/put", ok);
    server.on("DELETE", "/delete", ok);

    Http::Request emptyPost = requestTo(server.url(QStringLiteral("/empty-post")));
    emptyPost.method = "POST";
    EXPECT_EQ(Http::perform(trusting(server), emptyPost).status, 200);

    Http::Request put = requestTo(server.url(QStringLiteral("/put")));
    put.method = "PUT";
    put.body = "replacement";
    EXPECT_EQ(Http::perform(trusting(server), put).status, 200);

    Http::Request remove = requestTo(server.url(QStringLiteral("/delete")));
    remove.method = "DELETE";
    EXPECT_EQ(Http::perform(trusting(server), remove).status, 200);

    const auto log = server.requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].method, "POST");
    EXPECT_EQ(log[0].body, "");
    auto length = log[0].headers.find("Content-Length");
    ASSERT_NE(length, log[0].headers.end()) << "an empty POST must still say it has no body";
    EXPECT_EQ(length->second, "0");
    EXPECT_EQ(log[1].method, "PUT");
    EXPECT_EQ(log[1].body, "replacement");
    EXPECT_EQ(log[2].method, "DELETE");
    EXPECT_EQ(log[2].body, "");
}

TEST(HttpExchange, ErrorStatusesAreRepliesNotFailures)
{
    TestHttpsServer server;
    server.get("/broken", [](const httplib::Request&, httplib::Response& response) {
        response.status = 503;
        response.set_header("Retry-After", "7");
        response.set_content("try later", "text/plain");
    });

    const Http::Response broken = Http::perform(trusting(server), requestTo(server.url(QStringLiteral("/broken"))));
    EXPECT_EQ(broken.status, 503);
    EXPECT_EQ(broken.body.toStdString(), "try later");
    EXPECT_EQ(broken.header("retry-after").value_or("<none>").toStdString(), "7");

    const Http::Response missing = Http::perform(trusting(server), requestTo(server.url(QStringLiteral("/nowhere"))));
    EXPECT_EQ(missing.status, 404);
}

TEST(HttpExchange, AHeaderWithALineBreakOrNulIsRefusedBeforeSending)
{
    TestHttpsServer server;
    const std::vector<Http::Header> headers = {
        {"Authorization", "Bearer a\r\nX-Injected: 1"},
        {"Authorization", "Bearer a\nb"},
        {"Authorization", "Bearer a\rb"},
        {"x-clerk-client-id", QByteArray("client\0b", 8)},
        {"X-Split\r\nX-Injected", "1"},
    };
    for (const Http::Header& header : headers) {
        SCOPED_TRACE(header.first.toStdString());
        Http::Request request = requestTo(server.url(QStringLiteral("/any")));
        request.headers.append(header);
        EXPECT_EQ(failureOf(trusting(server), request), TransportCode::other);
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST(HttpExchange, ConcurrentCallsFromManyThreadsStaySeparate)
{
    TestHttpsServer server;
    server.get(R"(/item/(\d+))", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content("item " + request.matches[1].str(), "text/plain");
    });

    constexpr int kThreads = 8;
    constexpr int kCallsEach = 5;
    std::atomic<int> correct = 0;
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&server, &correct, t] {
                for (int call = 0; call < kCallsEach; ++call) {
                    const int id = t * 100 + call;
                    const Http::Response response = Http::perform(
                        trusting(server), requestTo(server.url(QStringLiteral("/item/%1").arg(id))));
                    if (response.status == 200 && response.body == "item " + QByteArray::number(id))
                        ++correct;
                }
            });
        }
    }
    EXPECT_EQ(correct.load(), kThreads * kCallsEach);
}

// --- Redirects -------------------------------------------------------------

TEST(HttpRedirects, HttpsRedirectsAreFollowedAndOnlyTheLastHeadersKept)
{
    TestHttpsServer server;
    server.get("/start", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("X-Hop", "start");
        response.set_header("X-Only-On-Start", "1");
        response.set_redirect("/middle", 302);
    });
    server.get("/middle", [&server](const httplib::Request&, httplib::Response& response) {
        response.set_header("X-Hop", "middle");
        response.set_redirect(server.url(QStringLiteral("/end")).toString().toStdString(), 301);
    });
    server.get("/end", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("X-Hop", "end");
        response.set_content("arrived", "text/plain");
    });

    const Http::Response response = Http::perform(trusting(server), requestTo(server.url(QStringLiteral("/start"))));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body.toStdString(), "arrived");
    EXPECT_EQ(response.url, server.url(QStringLiteral("/end")));
    EXPECT_EQ(response.header("X-Hop").value_or("<none>").toStdString(), "end");
    EXPECT_FALSE(response.header("X-Only-On-Start").has_value());
    EXPECT_FALSE(response.header("Location").has_value());
    const auto hops = std::count_if(response.headers.begin(), response.headers.end(),
                                    [](const Http::Header& h) { return h.first.compare("X-Hop", Qt::CaseInsensitive) == 0; });
    EXPECT_EQ(hops, 1);
    EXPECT_EQ(server.count("/end"), 1);
}

TEST(HttpRedirects, ARedirectToPlainHttpIsRefusedBeforeItIsFollowed)
{
    TestHttpsServer secure;
    TestHttpsServer plain(TestServerOptions{.tls = false});
    plain.get("/target", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("plain", "text/plain");
    });
    plain.get("/to-self", [](const httplib::Request&, httplib::Response& response) {
        response.set_redirect("/target");
    });
    secure.get("/downgrade", [&plain](const httplib::Request&, httplib::Response& response) {
        response.set_redirect(plain.url(QStringLiteral("/target")).toString().toStdString());
    });

    EXPECT_EQ(failureOf(trusting(secure), requestTo(secure.url(QStringLiteral("/downgrade")))),
              TransportCode::insecureRedirect);
    EXPECT_EQ(plain.count("/target"), 0);

    // Plain http is fine as a first address (the loopback services use it),
    // but a redirect from there must still lead to https.
    const Http::Response direct = Http::perform(Http::Session{}, requestTo(plain.url(QStringLiteral("/target"))));
    EXPECT_EQ(direct.status, 200);
    EXPECT_EQ(direct.body.toStdString(), "plain");
    EXPECT_EQ(failureOf(Http::Session{}, requestTo(plain.url(QStringLiteral("/to-self")))),
              TransportCode::insecureRedirect);
    EXPECT_EQ(plain.count("/target"), 1);
}

TEST(HttpRedirects, TenRedirectsAreFollowedAndAnEleventhIsTooMany)
{
    TestHttpsServer server;
    server.get(R"(/hop/(\d+))", [](const httplib::Request& request, httplib::Response& response) {
        const int left = std::stoi(request.matches[1].str());
        if (left == 0)
            response.set_content("landed", "text/plain");
        else
            response.set_redirect("/hop/" + std::to_string(left - 1));
    });

    const Http::Response ten = Http::perform(trusting(server), requestTo(server.url(QStringLiteral("/hop/10"))));
    EXPECT_EQ(ten.status, 200);
    EXPECT_EQ(ten.body.toStdString(), "landed");

    EXPECT_EQ(failureOf(trusting(server), requestTo(server.url(QStringLiteral("/hop/11")))),
              TransportCode::tooManyRedirects);
}

// --- Trust -----------------------------------------------------------------

TEST(HttpTls, OnlyTheGivenCertificateIsTrusted)
{
    TestHttpsServer server;
    TestHttpsServer stranger;
    server.get("/secret", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("secret", "text/plain");
    });
    const Http::Request request = requestTo(server.url(QStringLiteral("/secret")));

    EXPECT_EQ(failureOf(Http::Session{}, request), TransportCode::secureConnectionFailed)
        << "the system's roots must not vouch for a self-signed certificate";
    EXPECT_EQ(failureOf(trusting(stranger), request), TransportCode::secureConnectionFailed)
        << "another server's certificate must not vouch for this one";
    EXPECT_EQ(server.count("/secret"), 0);

    EXPECT_EQ(Http::perform(trusting(server), request).body.toStdString(), "secret");
}

TEST(HttpTls, TheHostNameMustMatchTheCertificate)
{
    TestHttpsServer server(TestServerOptions{.certificateNamesLoopbackIp = false});
    server.get("/named", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("named", "text/plain");
    });

    EXPECT_EQ(failureOf(trusting(server), requestTo(server.url(QStringLiteral("/named")))),
              TransportCode::secureConnectionFailed);

    QUrl byName = server.url(QStringLiteral("/named"));
    byName.setHost(QStringLiteral("localhost"));
    EXPECT_EQ(Http::perform(trusting(server), requestTo(byName)).body.toStdString(), "named");
}

// --- Failures without a reply ----------------------------------------------

TEST(HttpFailures, ARefusedConnectionIsCannotConnectToHost)
{
    const RefusingPort closed;
    const QUrl url(QStringLiteral("https://127.0.0.1:%1/").arg(closed.port()));
    EXPECT_EQ(failureOf(Http::Session{}, requestTo(url)), TransportCode::cannotConnectToHost);
}

TEST(HttpFailures, AReplyCutShortIsALostConnection)
{
    TestHttpsServer server;
    server.get("/cut", [](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(1000, "application/octet-stream",
                                      [](std::size_t, std::size_t, httplib::DataSink& sink) {
                                          sink.write("0123456789", 10);
                                          return false; // drops the connection
                                      });
    });
    EXPECT_EQ(failureOf(trusting(server), requestTo(server.url(QStringLiteral("/cut")))),
              TransportCode::networkConnectionLost);
}

TEST(HttpFailures, AddressesThatAreNotHttpAreRefusedWithoutContact)
{
    TestHttpsServer server;
    const auto refused = [&server](const QUrl& url) { return failureOf(trusting(server), requestTo(url)); };
    EXPECT_EQ(refused(QUrl(QStringLiteral("ftp://127.0.0.1:%1/file").arg(server.port()))),
              TransportCode::unsupportedURL);
    EXPECT_EQ(refused(QUrl(QStringLiteral("file:///etc/hostname"))), TransportCode::unsupportedURL);
    EXPECT_EQ(refused(QUrl()), TransportCode::unsupportedURL);
    EXPECT_TRUE(server.requests().empty());
}

// --- Time-outs -------------------------------------------------------------

TEST(HttpTimeouts, TheTotalLimitEndsAReplyThatIsLate)
{
    TestHttpsServer server;
    server.get("/late", [&server](const httplib::Request&, httplib::Response& response) {
        server.pause(60s);
        response.set_content("late", "text/plain");
    });

    const auto start = Clock::now();
    EXPECT_EQ(failureOf(trusting(server), requestTo(server.url(QStringLiteral("/late")), 0.3)),
              TransportCode::timedOut);
    EXPECT_GE(secondsSince(start), 0.25);
    EXPECT_LT(secondsSince(start), 10.0);
}

TEST(HttpTimeouts, TheTotalLimitHoldsEvenWhileBytesKeepComing)
{
    TestHttpsServer server;
    // Far longer than the bound below, so that only the limit can end it in time.
    serveTrickle(server, "/trickle", 300, 100ms);

    const auto start = Clock::now();
    EXPECT_EQ(failureOf(trusting(server), requestTo(server.url(QStringLiteral("/trickle")), 0.6)),
              TransportCode::timedOut);
    EXPECT_LT(secondsSince(start), 10.0);
}

TEST(HttpTimeouts, TheIdleLimitLetsASlowSteadyReplyFinish)
{
    TestHttpsServer server;
    serveTrickle(server, "/trickle", 15, 100ms);

    Http::Request request = requestTo(server.url(QStringLiteral("/trickle")), 1.0);
    request.timeoutMode = Http::TimeoutMode::idle;
    const auto start = Clock::now();
    const Http::Response response = Http::perform(trusting(server), request);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body.toStdString(), std::string(15, 'x'));
    EXPECT_GT(secondsSince(start), 1.0) << "the reply must outlast the limit for this to show anything";
}

TEST(HttpTimeouts, TheIdleLimitEndsAReplyThatStalls)
{
    TestHttpsServer server;
    serveStall(server, "/stall", 3);
    server.get("/silent", [&server](const httplib::Request&, httplib::Response& response) {
        server.pause(60s);
        response.set_content("too late", "text/plain");
    });

    Http::Request stalling = requestTo(server.url(QStringLiteral("/stall")), 1.0);
    stalling.timeoutMode = Http::TimeoutMode::idle;
    auto start = Clock::now();
    EXPECT_EQ(failureOf(trusting(server), stalling), TransportCode::timedOut);
    // A second of silence, not an average speed over several seconds.
    EXPECT_GE(secondsSince(start), 0.95);
    EXPECT_LT(secondsSince(start), 10.0);

    Http::Request silent = requestTo(server.url(QStringLiteral("/silent")), 0.5);
    silent.timeoutMode = Http::TimeoutMode::idle;
    start = Clock::now();
    EXPECT_EQ(failureOf(trusting(server), silent), TransportCode::timedOut);
    EXPECT_LT(secondsSince(start), 10.0);
}

// --- Cancellation ----------------------------------------------------------

TEST(HttpCancellation, AStopRequestEndsATransferInFlightPromptly)
{
    TestHttpsServer server;
    std::promise<void> arrived;
    std::once_flag once;
    server.get("/wait", [&](const httplib::Request&, httplib::Response& response) {
        std::call_once(once, [&arrived] { arrived.set_value(); });
        server.pause(120s);
        response.set_content("too late", "text/plain");
    });

    // The stop comes once the request is at the server, however long that takes.
    std::stop_source source;
    std::atomic<Clock::time_point> stoppedAt{Clock::time_point::max()};
    std::jthread stopper([&source, &stoppedAt, reached = arrived.get_future()] {
        reached.wait();
        stoppedAt = Clock::now();
        source.request_stop();
    });
    EXPECT_EQ(failureOf(trusting(server, source.get_token()), requestTo(server.url(QStringLiteral("/wait")), 300.0)),
              TransportCode::cancelled);
    EXPECT_LT(secondsSince(stoppedAt.load()), 30.0) << "the server would have answered after 120 s";
    EXPECT_EQ(server.count("/wait"), 1);
}

TEST(HttpCancellation, AStopFromTheCallingThreadEndsTheDownload)
{
    TestHttpsServer server;
    serveTrickle(server, "/trickle", 15, 50ms);

    std::stop_source source;
    std::int64_t lastSeen = 0;
    Http::Request request = requestTo(server.url(QStringLiteral("/trickle")));
    request.progress = [&source, &lastSeen](std::int64_t received, std::int64_t) {
        lastSeen = received;
        if (received >= 3)
            source.request_stop();
    };
    EXPECT_EQ(failureOf(trusting(server, source.get_token()), request), TransportCode::cancelled);
    EXPECT_GE(lastSeen, 3);
    EXPECT_LT(lastSeen, 15);
}

TEST(HttpCancellation, AnAlreadyStoppedSessionSendsNothing)
{
    TestHttpsServer server;
    std::stop_source source;
    source.request_stop();
    EXPECT_EQ(failureOf(trusting(server, source.get_token()), requestTo(server.url(QStringLiteral("/any")))),
              TransportCode::cancelled);
    EXPECT_TRUE(server.requests().empty());
}

// --- Bodies: limits, sinks, progress --------------------------------------

class HttpBodies : public ::testing::Test {
protected:
    HttpBodies()
    {
        m_server.get("/sized", [this](const httplib::Request&, httplib::Response& response) {
            response.set_content(m_bytes, "application/octet-stream");
        });
        m_server.get("/chunked", [this](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider(
                "application/octet-stream", [this](std::size_t offset, httplib::DataSink& sink) {
                    if (offset >= m_bytes.size()) {
                        sink.done();
                        return true;
                    }
                    const std::size_t piece = std::min<std::size_t>(64 * 1024, m_bytes.size() - offset);
                    return sink.write(m_bytes.data() + offset, piece);
                });
        });
        m_server.get("/missing", [](const httplib::Request&, httplib::Response& response) {
            response.status = 404;
            response.set_content("no such file", "text/plain");
        });
    }

    Http::Request requestFor(const char* path) const
    {
        return requestTo(m_server.url(QString::fromUtf8(path)));
    }
    std::int64_t size() const { return static_cast<std::int64_t>(m_bytes.size()); }

    const std::string m_bytes = patternedBytes(1024 * 1024 + 7);
    TestHttpsServer m_server;
};

TEST_F(HttpBodies, MaxBodyBytesAllowsTheLimitAndRefusesOneMore)
{
    for (const char* path : {"/sized", "/chunked"}) {
        SCOPED_TRACE(path);
        Http::Request exact = requestFor(path);
        exact.maxBodyBytes = size();
        const Http::Response response = Http::perform(trusting(m_server), exact);
        EXPECT_EQ(response.body.size(), size());

        Http::Request under = requestFor(path);
        under.maxBodyBytes = size() - 1;
        EXPECT_EQ(failureOf(trusting(m_server), under), TransportCode::dataLengthExceedsMaximum);
    }
}

TEST_F(HttpBodies, ASinkGetsExactlyTheBytesAndTheStatus)
{
    for (const char* path : {"/sized", "/chunked"}) {
        SCOPED_TRACE(path);
        std::string received;
        std::vector<int> statuses;
        Http::Request request = requestFor(path);
        request.sink = [&](int status, const char* data, std::size_t length) {
            statuses.push_back(status);
            received.append(data, length);
            return true;
        };
        const Http::Response response = Http::perform(trusting(m_server), request);
        EXPECT_EQ(response.status, 200);
        EXPECT_TRUE(response.body.isEmpty());
        EXPECT_TRUE(received == m_bytes) << "got " << received.size() << " bytes of " << m_bytes.size();
        ASSERT_FALSE(statuses.empty());
        EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 200), std::ssize(statuses));
    }

    std::string errorBody;
    int errorStatus = 0;
    Http::Request missing = requestFor("/missing");
    missing.sink = [&](int status, const char* data, std::size_t length) {
        errorStatus = status;
        errorBody.append(data, length);
        return true;
    };
    EXPECT_EQ(Http::perform(trusting(m_server), missing).status, 404);
    EXPECT_EQ(errorStatus, 404);
    EXPECT_EQ(errorBody, "no such file");
}

TEST_F(HttpBodies, ASinkThatRefusesEndsTheTransfer)
{
    int calls = 0;
    Http::Request request = requestFor("/sized");
    request.sink = [&calls](int, const char*, std::size_t) {
        ++calls;
        return false;
    };
    EXPECT_EQ(failureOf(trusting(m_server), request), TransportCode::writeFailed);
    EXPECT_EQ(calls, 1);
}

TEST_F(HttpBodies, ProgressRisesToTheFullSize)
{
    struct Step {
        std::int64_t received;
        std::int64_t total;
    };
    for (const auto& [path, expectedTotal] : {std::pair{"/sized", size()}, std::pair{"/chunked", std::int64_t{-1}}}) {
        SCOPED_TRACE(path);
        std::vector<Step> steps;
        Http::Request request = requestFor(path);
        request.progress = [&steps](std::int64_t received, std::int64_t total) {
            steps.push_back({received, total});
        };
        Http::perform(trusting(m_server), request);

        ASSERT_GE(steps.size(), 2u);
        EXPECT_EQ(steps.back().received, size());
        for (std::size_t i = 1; i < steps.size(); ++i)
            EXPECT_GT(steps[i].received, steps[i - 1].received) << "at step " << i;
        for (const Step& step : steps) {
            if (step.received > 0) {
                EXPECT_EQ(step.total, expectedTotal);
            }
        }
    }
}

} // namespace
