#include "Account/SystemWebAuthenticator.h"
#include "Account/WebSessionBox.h"
#include "Base/HubError.h"

#include <gtest/gtest.h>

#include <QList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <optional>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

// Readable failures.
void PrintTo(const QUrl& url, std::ostream* os)
{
    *os << url.toString().toStdString();
}

namespace Hub {

void PrintTo(const HubError& error, std::ostream* os)
{
    *os << "HubError(" << static_cast<int>(error.kind()) << ", " << error.code().toStdString() << ", "
        << error.errorDescription().toStdString() << ")";
}

namespace {

constexpr auto kWait = 5s;
const QString kScheme = u"com.tarnaudio.tarnhub"_s;
const QUrl kSignInPage(u"https://accounts.example.com/o/oauth2/auth?client_id=abc&state=s1"_s);
const QUrl kCallback(u"com.tarnaudio.tarnhub://callback?rotating_token_nonce=n1"_s);

using Outcome = WebSessionBox::Result;

// Stands in for the user's browser: records what it was asked to show.
class FakeBrowser {
public:
    explicit FakeBrowser(bool opens = true)
        : m_opens(opens)
    {
    }

    SystemWebAuthenticator::BrowserOpener opener()
    {
        return [this](const QUrl& url) {
            const std::lock_guard guard(m_lock);
            m_opened.append(url);
            m_changed.notify_all();
            return m_opens;
        };
    }

    // True once the browser has been asked to show `count` pages.
    bool waitForOpen(qsizetype count = 1)
    {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, kWait, [&] { return m_opened.size() >= count; });
    }

    QList<QUrl> opened() const
    {
        const std::lock_guard guard(m_lock);
        return m_opened;
    }

private:
    const bool m_opens;
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    QList<QUrl> m_opened;
};

// One authenticate call on its own thread, the way the sign-in client's
// worker runs it. Leaving the scope stops the call, so a failing test never
// hangs on it.
class SignInCall {
public:
    SignInCall(SystemWebAuthenticator& web, QUrl page = kSignInPage, QString scheme = kScheme)
        : m_web(web)
        , m_outcome(m_promise.get_future())
        , m_thread([this, &web, page, scheme](std::stop_token stop) {
            try {
                m_promise.set_value(web.authenticate(page, scheme, stop));
            } catch (const HubError& error) {
                m_promise.set_value(error);
            }
        })
    {
    }

    // The caller's result, or none while it still waits after `timeout`.
    std::optional<Outcome> outcome(std::chrono::milliseconds timeout = kWait)
    {
        if (m_outcome.wait_for(timeout) != std::future_status::ready)
            return std::nullopt;
        if (!m_result)
            m_result = m_outcome.get();
        return m_result;
    }

    // A call that ignores its stop must still not hang the test run: the
    // user's cancel is the second way out.
    ~SignInCall()
    {
        m_thread.request_stop();
        for (int attempt = 0; attempt < 50 && m_outcome.valid()
             && m_outcome.wait_for(100ms) != std::future_status::ready;
             ++attempt)
            m_web.cancel();
    }

    void stopTask() { m_thread.request_stop(); }

private:
    SystemWebAuthenticator& m_web;
    std::promise<Outcome> m_promise;
    std::future<Outcome> m_outcome;
    std::optional<Outcome> m_result;
    std::jthread m_thread;
};

std::optional<Outcome> url(const QUrl& value) { return Outcome(value); }
std::optional<Outcome> error(const HubError& value) { return Outcome(value); }

const HubError kCannotOpen = HubError::message(u"Couldn't open the sign-in window. Try again."_s);

// --- The callback ends the wait ------------------------------------------------

TEST(WebSignInCompletion, ReturnsTheCallbackAfterOpeningTheSignInPage)
{
    FakeBrowser browser;
    SystemWebAuthenticator web(browser.opener());
    SignInCall call(web);
    ASSERT_TRUE(browser.waitForOpen());
    EXPECT_EQ(browser.opened(), QList<QUrl>{kSignInPage});

    EXPECT_TRUE(web.deliverCallback(kCallback));
    EXPECT_EQ(call.outcome(), url(kCallback));
}

TEST(WebSignInCompletion, MatchesTheCallbackSchemeWithoutRegardToCase)
{
    FakeBrowser browser;
    SystemWebAuthenticator web(browser.opener());
    SignInCall call(web, kSignInPage, u"Com.TarnAudio.TarnHub"_s);
    ASSERT_TRUE(browser.waitForOpen());

    EXPECT_TRUE(web.deliverCallback(kCallback));
    EXPECT_EQ(call.outcome(), url(kCallback));
}

TEST(WebSignInCompletion, IgnoresAddressesThatAreNotTheCallback)
{
    FakeBrowser browser;
    SystemWebAuthenticator web(browser.opener());
    SignInCall call(web);
    ASSERT_TRUE(browser.waitForOpen());

    for (const QString& other : {u"https://evil.example/callback?rotating_token_nonce=x"_s,
             u"com.tarnaudio.tarnhubx://callback"_s, u"tarnhub://callback"_s, u"callback?x=1"_s, QString()}) {
        EXPECT_FALSE(web.deliverCallback(QUrl(other))) << other.toStdString();
    }
    EXPECT_EQ(call.outcome(50ms), std::nullopt) << "a foreign address ended the wait";

    EXPECT_TRUE(web.deliverCallback(kCallback));
    EXPECT_EQ(call.outcome(), url(kCallback));
}

TEST(WebSignInCompletion, SecondCallbackIsIgnored)
{
    FakeBrowser browser;
    SystemWebAuthenticator web(browser.opener());
    SignInCall call(web);
    ASSERT_TRUE(browser.waitForOpen());

    EXPECT_TRUE(web.deliverCallback(kCallback));
    EXPECT_FALSE(web.deliverCallback(QUrl(u"com.tarnaudio.tarnhub://callback?rotating_token_nonce=n2"_s)));
    EXPECT_EQ(call.outcome(), url(kCallback));
}

// --- The user or the task ends the wait ---------------------------------------

TEST(WebSignInCancel, UserCancelEndsTheWaitAndLaterCallbacksAreIgnored)
{
    FakeBrowser browser;
    SystemWebAuthenticator web(browser.opener());
    SignInCall call(web);
    ASSERT_TRUE(browser.waitForOpen());

    web.cancel();
    EXPECT_EQ(call.outcome(), error(HubError::cancelled()));
    EXPECT_FALSE(web.deliverCallback(kCallback));
}

TEST(WebSignInCancel, TaskCancelEndsTheWaitAndLaterCallbacksAreIgnored)
{
    FakeBrowser browser;
    SystemWebAuthenticator web(browser.opener());
    SignInCall call(web);
    ASSERT_TRUE(browser.waitForOpen());

    call.stopTask();
    EXPECT_EQ(call.outcome(), error(HubError::cancelled()));
    EXPECT_FALSE(web.deliverCallback(kCallback));
}

TEST(WebSignInCancel, TaskCancelledBeforehandOpensNoBrowser)
{
    FakeBrowser browser;
    SystemWebAuthenticator web(browser.opener());
    std::stop_source stop;
    stop.request_stop();

    EXPECT_EQ(std::optional<Outcome>([&]() -> Outcome {
        try {
            return web.authenticate(kSignInPage, kScheme, stop.get_token());
        } catch (const HubError& e) {
            return e;
        }
    }()),
        error(HubError::cancelled()));
    EXPECT_TRUE(browser.opened().isEmpty());
}

TEST(WebSignInCancel, CancelWithNothingWaitingDoesNotEndTheNextSignIn)
{
    FakeBrowser browser;
    SystemWebAuthenticator web(browser.opener());
    web.cancel();
    SignInCall call(web);
    ASSERT_TRUE(browser.waitForOpen());

    EXPECT_EQ(call.outcome(50ms), std::nullopt);
    EXPECT_TRUE(web.deliverCallback(kCallback));
    EXPECT_EQ(call.outcome(), url(kCallback));
}

TEST(WebSignInCancel, NewSignInEndsTheOneStillWaiting)
{
    FakeBrowser browser;
    SystemWebAuthenticator web(browser.opener());
    SignInCall first(web);
    ASSERT_TRUE(browser.waitForOpen(1));
    SignInCall second(web);
    ASSERT_TRUE(browser.waitForOpen(2));

    EXPECT_EQ(first.outcome(), error(HubError::cancelled()));
    EXPECT_TRUE(web.deliverCallback(kCallback));
    EXPECT_EQ(second.outcome(), url(kCallback));
}

// --- The browser cannot be opened ---------------------------------------------

TEST(WebSignInOpenFailure, BrowserThatDoesNotStartFailsWithTheSentence)
{
    FakeBrowser browser(false);
    SystemWebAuthenticator web(browser.opener());
    SignInCall call(web);

    EXPECT_EQ(call.outcome(), error(kCannotOpen));
    EXPECT_EQ(browser.opened().size(), 1);
    EXPECT_FALSE(web.deliverCallback(kCallback)) << "a failed sign-in must not keep waiting";
}

TEST(WebSignInOpenFailure, OpenerThatThrowsFailsWithTheSentence)
{
    SystemWebAuthenticator web([](const QUrl&) -> bool { throw std::runtime_error("no display"); });
    SignInCall call(web);
    EXPECT_EQ(call.outcome(), error(kCannotOpen));
}

TEST(WebSignInOpenFailure, OnlyWebPagesAreHandedToTheBrowser)
{
    FakeBrowser browser;
    SystemWebAuthenticator web(browser.opener());
    for (const QString& page : {u"file:///etc/passwd"_s, u"com.tarnaudio.tarnhub://callback"_s,
             u"javascript:alert(1)"_s, u"--help"_s, QString()}) {
        SignInCall call(web, QUrl(page));
        EXPECT_EQ(call.outcome(), error(kCannotOpen)) << page.toStdString();
    }
    EXPECT_TRUE(browser.opened().isEmpty());
}

// --- Racing ends resume the caller exactly once --------------------------------

TEST(WebSignInOnce, ConcurrentFinishesDecideOnceAndTheFirstWins)
{
    constexpr int kRounds = 200;
    constexpr int kRacers = 4;
    for (int round = 0; round < kRounds; ++round) {
        WebSessionBox box(kScheme);
        std::atomic<int> winners = 0;
        std::atomic<int> winner = -1;
        {
            std::vector<std::jthread> racers;
            for (int i = 0; i < kRacers; ++i) {
                racers.emplace_back([&, i] {
                    const QUrl url(u"com.tarnaudio.tarnhub://callback?n="_s + QString::number(i));
                    if (box.finish(url)) {
                        ++winners;
                        winner = i;
                    }
                });
            }
        }
        ASSERT_EQ(winners, 1);
        EXPECT_TRUE(box.isFinished());
        EXPECT_EQ(box.wait(), QUrl(u"com.tarnaudio.tarnhub://callback?n="_s + QString::number(winner)));
    }
}

TEST(WebSignInOnce, CallbackUserCancelAndTaskCancelRacingGiveOneOutcome)
{
    constexpr int kRounds = 100;
    for (int round = 0; round < kRounds; ++round) {
        FakeBrowser browser;
        SystemWebAuthenticator web(browser.opener());
        SignInCall call(web);
        ASSERT_TRUE(browser.waitForOpen());

        std::atomic<bool> delivered = false;
        {
            std::jthread callback([&] { delivered = web.deliverCallback(kCallback); });
            std::jthread user([&] { web.cancel(); });
            std::jthread task([&] { call.stopTask(); });
        }
        const std::optional<Outcome> outcome = call.outcome();
        ASSERT_TRUE(outcome.has_value());
        // The callback counts as delivered exactly when the caller got it.
        EXPECT_EQ(*outcome, delivered ? Outcome(kCallback) : Outcome(HubError::cancelled()));
    }
}

} // namespace
} // namespace Hub
