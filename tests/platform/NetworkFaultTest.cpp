// What a batch of requests does when the network misbehaves: a name server
// that never answers, a host that refuses connections. Run in a network of
// the process's own (PrivateNetwork), so the silent name server is the only
// one and the connection counts are this process's alone.
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

Http::Request feedRequest(const QString& host, int i)
{
    Http::Request request;
    request.url = QUrl(QStringLiteral("https://%1/feeds/%2.json").arg(host).arg(i));
    request.timeout = 1.0;
    request.timeoutMode = Http::TimeoutMode::idle;
    return request;
}

// A host that refuses connections fails its queued requests at once: the
// first few attempts (one per connection it may have) tell, and the rest
// are not tried again each.
TEST_F(NetworkFaults, ARefusingHostIsTriedByAFewRequestsNotByEach)
{
    constexpr int kRequests = 20;
    std::vector<Http::Request> requests;
    for (int i = 0; i < kRequests; ++i)
        requests.push_back(feedRequest(QStringLiteral("127.0.0.1:9"), i));
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

} // namespace

int main(int argc, char** argv)
{
    // Before any thread starts: the namespaces refuse a process with more.
    PrivateNetwork::prepare();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
