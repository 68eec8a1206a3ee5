// What a batch of requests does when the network misbehaves: a name server
// that never answers, a host that refuses connections. Run in a network of
// the process's own (PrivateNetwork), so the silent name server is the only
// one and the connection counts are this process's alone.
#include "Catalog/CatalogLoader.h"
#include "Platform/Http.h"

#include "PrivateNetwork.h"
#include "TestHttpsServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

namespace Http = Hub::Http;
namespace PrivateNetwork = Hub::Test::PrivateNetwork;
using Hub::Test::TestHttpsServer;
using Http::TransportCode;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::optional<TransportCode> codeOf(const Http::Outcome& outcome)
{
    if (!outcome.error)
        return std::nullopt;
    try {
        std::rethrow_exception(outcome.error);
    } catch (const Http::TransportError& error) {
        return error.code();
    } catch (...) {
        return std::nullopt;
    }
}

class NetworkFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!PrivateNetwork::available())
            GTEST_SKIP() << PrivateNetwork::why().toStdString();
    }
};

// The C library waits 30 s for the silent server. The hub's time-out is 1 s
// here, so a fetch that ends near it was not held until the lookup gave up;
// the bound leaves a loaded machine most of the difference.
constexpr double kTimeout = 1.0;
constexpr double kWellBeforeTheLookupGivesUp = 15.0;

Http::Request feedRequest(const QString& host, int i, Http::TimeoutMode mode)
{
    Http::Request request;
    request.url = QUrl(QStringLiteral("https://%1/feeds/%2.json").arg(host).arg(i));
    request.timeout = kTimeout;
    request.timeoutMode = mode;
    if (mode == Http::TimeoutMode::idle)
        request.deadline = 60.0;
    return request;
}

// One request alone, and a hundred to the same name: each batch ends at its
// time-out, failed, however long the lookup it started goes on.
TEST_F(NetworkFaults, AFetchEndsAtItsTimeOutWhileTheNameServerIsSilent)
{
    struct Row {
        const char* what;
        int requests;
        Http::TimeoutMode mode;
    };
    for (const Row& row : {Row{"one, total limit", 1, Http::TimeoutMode::total},
                           Row{"one, idle limit", 1, Http::TimeoutMode::idle},
                           Row{"a hundred, idle limit", 100, Http::TimeoutMode::idle}}) {
        SCOPED_TRACE(row.what);
        std::vector<Http::Request> requests;
        for (int i = 0; i < row.requests; ++i)
            requests.push_back(feedRequest(PrivateNetwork::deadName(), i, row.mode));
        const auto start = Clock::now();
        const std::vector<Http::Outcome> outcomes = Http::performAll(Http::Session{}, requests);
        const double elapsed = secondsSince(start);
        EXPECT_LT(elapsed, kWellBeforeTheLookupGivesUp);
        ASSERT_EQ(outcomes.size(), requests.size());
        for (const Http::Outcome& outcome : outcomes)
            EXPECT_EQ(codeOf(outcome), TransportCode::timedOut);
    }
}

// The refresh's own path: the catalog and its feeds on a name that never
// resolves end at the time-out, and the copy on disk is what the hub shows.
TEST_F(NetworkFaults, TheCatalogRefreshEndsAtItsTimeOutWhileTheNameServerIsSilent)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QUrl catalog(QStringLiteral("https://%1/catalog.json").arg(PrivateNetwork::deadName()));
    std::vector<std::pair<QString, Hub::Feed>> feeds;
    for (int i = 0; i < 20; ++i)
        feeds.emplace_back(QString::number(i),
                           Hub::Feed{QStringLiteral("https://%1/feeds/%2.json").arg(PrivateNetwork::deadName()).arg(i),
                                     QStringLiteral("a2m"), {}, {}, {}, {}});

    const auto start = Clock::now();
    EXPECT_THROW(Hub::CatalogLoader::fetch(catalog, Http::Session{}, kTimeout, 1024), std::exception);
    EXPECT_TRUE(Hub::CatalogLoader::fetchFeeds(feeds, Http::Session{}, kTimeout).empty());
    EXPECT_LT(secondsSince(start), kWellBeforeTheLookupGivesUp);
}

// A host that refuses connections fails its queued requests at once: the
// first few attempts (one per connection it may have) tell, and the rest
// are not tried again each.
TEST_F(NetworkFaults, ARefusingHostIsTriedByAFewRequestsNotByEach)
{
    constexpr int kRequests = 20;
    std::vector<Http::Request> requests;
    for (int i = 0; i < kRequests; ++i)
        requests.push_back(feedRequest(QStringLiteral("127.0.0.1:9"), i, Http::TimeoutMode::idle));
    const long long before = PrivateNetwork::failedConnectionAttempts();
    ASSERT_GE(before, 0);

    const std::vector<Http::Outcome> outcomes = Http::performAll(Http::Session{}, requests);

    ASSERT_EQ(outcomes.size(), requests.size());
    for (const Http::Outcome& outcome : outcomes)
        EXPECT_EQ(codeOf(outcome), TransportCode::cannotConnectToHost);
    const long long attempts = PrivateNetwork::failedConnectionAttempts() - before;
    EXPECT_GE(attempts, 1);
    EXPECT_LE(attempts, Http::kConnectionsPerHost);
}

// A host that leaves one request unanswered is failed for the requests
// still waiting, not for one it is answering: that reply goes on to its end.
TEST_F(NetworkFaults, ARequestUnderWayOutlivesASiblingThatFailedItsHost)
{
    TestHttpsServer server;
    server.get("/stall", [&server](const httplib::Request&, httplib::Response& response) {
        server.pause(60s);
        response.set_content("late", "text/plain");
    });
    constexpr std::size_t kBytes = 30;
    server.get("/steady", [&server](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("text/plain", [&server](std::size_t offset, httplib::DataSink& sink) {
            if (offset >= kBytes) {
                sink.done();
                return true;
            }
            return server.pause(100ms) && sink.write("x", 1);
        });
    });
    std::vector<Http::Request> requests(2);
    for (Http::Request& request : requests) {
        request.timeout = kTimeout;
        request.timeoutMode = Http::TimeoutMode::idle;
    }
    requests[0].url = server.url(QStringLiteral("/stall"));
    requests[1].url = server.url(QStringLiteral("/steady"));

    const std::vector<Http::Outcome> outcomes = Http::performAll(Http::Session{server.caBundle(), {}}, requests);

    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(codeOf(outcomes[0]), TransportCode::timedOut);
    ASSERT_TRUE(outcomes[1].response.has_value());
    EXPECT_EQ(outcomes[1].response->status, 200);
    EXPECT_EQ(outcomes[1].response->body, QByteArray(kBytes, 'x'));
}

} // namespace

int main(int argc, char** argv)
{
    // Before any thread starts: the namespaces refuse a process with more.
    PrivateNetwork::prepare();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
