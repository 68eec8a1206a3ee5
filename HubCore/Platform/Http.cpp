#include "Platform/Http.h"

#include "Platform/HttpTransfer.h"

#include <QLatin1String>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Hub::Http {

using namespace Internal;

namespace {

constexpr int kPollIntervalMs = 100;

void initialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            throw TransportError(TransportCode::other, QStringLiteral("curl_global_init failed"));
    });
}


QByteArray trimmed(const char* data, std::size_t size)
{
    return QByteArray(data, static_cast<qsizetype>(size)).trimmed();
}

} // namespace

namespace Internal {

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* userData)
{
    auto* transfer = static_cast<Transfer*>(userData);
    const std::size_t length = size * count;
    transfer->lastActivity = Clock::now();
    if (length == 0)
        return 0;

    const QByteArray line = trimmed(data, length);
    QList<Header>& headers = transfer->response.headers;
    if (line.startsWith("HTTP/")) {
        // Each response of a redirect chain (and every 1xx interim reply)
        // starts with a status line; only the last one's headers are kept.
        headers.clear();
        return length;
    }
    if (line.isEmpty()) {
        const int status = transfer->currentStatus();
        if (status >= 300 && status < 400 && transfer->response.header("Location"))
            transfer->sawRedirect = true;
        return length;
    }
    if ((data[0] == ' ' || data[0] == '\t') && !headers.isEmpty()) {
        // An obsolete folded line continues the previous header's value.
        headers.last().second += ' ' + line;
        return length;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return length;
    headers.append(Header(line.left(colon).trimmed(), line.mid(colon + 1).trimmed()));
    return length;
}

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* userData)
{
    auto* transfer = static_cast<Transfer*>(userData);
    const std::size_t length = size * count;
    const Request& request = *transfer->request;
    transfer->lastActivity = Clock::now();

    // Returning anything but `length` makes curl fail with CURLE_WRITE_ERROR;
    // `abort` records which of our rules was the cause.
    constexpr std::size_t kRefuse = 0;
    if (length == 0)
        return 0;

    if (request.maxBodyBytes) {
        const std::int64_t limit = *request.maxBodyBytes;
        const int status = transfer->currentStatus();
        if (status < 200 || status > 299) {
            // An error reply is not refused for its length, which would hide
            // its status; its body is kept up to the limit and the rest
            // never read.
            if (transfer->received + static_cast<std::int64_t>(length) > limit) {
                transfer->abort = Abort::errorBodyCut;
                return kRefuse;
            }
        } else if (!transfer->checkedLength) {
            transfer->checkedLength = true;
            // Refuse at once what the server announced as too long instead
            // of downloading up to the limit first.
            if (transfer->expectedLength() > limit) {
                transfer->abort = Abort::tooLarge;
                return kRefuse;
            }
        }
        if (transfer->received + static_cast<std::int64_t>(length) > limit) {
            transfer->abort = Abort::tooLarge;
            return kRefuse;
        }
    }

    if (request.sink) {
        bool accepted = false;
        try {
            accepted = request.sink(transfer->currentStatus(), data, length);
        } catch (...) {
            transfer->callbackException = std::current_exception();
            transfer->abort = Abort::callbackThrew;
            return kRefuse;
        }
        if (!accepted) {
            transfer->abort = Abort::sinkRefused;
            return kRefuse;
        }
    } else {
        transfer->response.body.append(data, static_cast<qsizetype>(length));
    }
    transfer->received += static_cast<std::int64_t>(length);
    return length;
}

int onTransferInfo(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto* transfer = static_cast<Transfer*>(userData);
    if (transfer->stopRequested->load(std::memory_order_relaxed)) {
        transfer->abort = Abort::cancelled;
        return 1;
    }
    try {
        transfer->reportProgress();
    } catch (...) {
        transfer->callbackException = std::current_exception();
        transfer->abort = Abort::callbackThrew;
        return 1;
    }
    return 0;
}

} // namespace Internal

namespace {

bool isSslError(CURLcode code)
{
    switch (code) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
    case CURLE_USE_SSL_FAILED:
        return true;
    default:
        return false;
    }
}

TransportCode mapCurlCode(CURLcode code, const Transfer& transfer)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return TransportCode::cannotFindHost;
    case CURLE_COULDNT_RESOLVE_PROXY:
        return TransportCode::dnsLookupFailed;
    case CURLE_COULDNT_CONNECT: {
        long osErrno = 0;
        curl_easy_getinfo(transfer.easy, CURLINFO_OS_ERRNO, &osErrno);
        if (osErrno == ENETUNREACH || osErrno == ENETDOWN)
            return TransportCode::notConnectedToInternet;
        return TransportCode::cannotConnectToHost;
    }
    case CURLE_OPERATION_TIMEDOUT:
        return TransportCode::timedOut;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
        return TransportCode::networkConnectionLost;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        // The first address was checked before the transfer started, so a
        // refused address after a redirect is the redirect's target.
        return transfer.sawRedirect ? TransportCode::insecureRedirect : TransportCode::unsupportedURL;
    case CURLE_TOO_MANY_REDIRECTS:
        return TransportCode::tooManyRedirects;
    default:
        return isSslError(code) ? TransportCode::secureConnectionFailed : TransportCode::other;
    }
}

[[noreturn]] void throwForAbort(const Transfer& transfer, const QString& detail)
{
    switch (transfer.abort) {
    case Abort::cancelled:
        throw TransportError(TransportCode::cancelled, QStringLiteral("the request was cancelled"));
    case Abort::idleTimeout:
        throw TransportError(TransportCode::timedOut,
                             QStringLiteral("no data moved for %1 s").arg(transfer.request->timeout));
    case Abort::tooLarge:
        throw TransportError(TransportCode::dataLengthExceedsMaximum,
                             QStringLiteral("the reply is longer than %1 bytes")
                                 .arg(transfer.request->maxBodyBytes.value_or(0)));
    case Abort::sinkRefused:
        throw TransportError(TransportCode::writeFailed, QStringLiteral("the data sink refused the reply"));
    case Abort::callbackThrew:
        std::rethrow_exception(transfer.callbackException);
    case Abort::errorBodyCut:
    case Abort::none:
        break;
    }
    throw TransportError(TransportCode::other, detail);
}

} // namespace

QString transportCodeName(TransportCode code)
{
    switch (code) {
    case TransportCode::cannotFindHost:
        return QStringLiteral("cannotFindHost");
    case TransportCode::cannotConnectToHost:
        return QStringLiteral("cannotConnectToHost");
    case TransportCode::timedOut:
        return QStringLiteral("timedOut");
    case TransportCode::notConnectedToInternet:
        return QStringLiteral("notConnectedToInternet");
    case TransportCode::networkConnectionLost:
        return QStringLiteral("networkConnectionLost");
    case TransportCode::cancelled:
        return QStringLiteral("cancelled");
    case TransportCode::dnsLookupFailed:
        return QStringLiteral("dnsLookupFailed");
    case TransportCode::insecureRedirect:
        return QStringLiteral("insecureRedirect");
    case TransportCode::tooManyRedirects:
        return QStringLiteral("tooManyRedirects");
    case TransportCode::secureConnectionFailed:
        return QStringLiteral("secureConnectionFailed");
    case TransportCode::unsupportedURL:
        return QStringLiteral("unsupportedURL");
    case TransportCode::dataLengthExceedsMaximum:
        return QStringLiteral("dataLengthExceedsMaximum");
    case TransportCode::writeFailed:
        return QStringLiteral("writeFailed");
    case TransportCode::other:
        return QStringLiteral("other");
    }
    return QStringLiteral("other");
}

TransportError::TransportError(TransportCode code, QString detail)
    : m_code(code)
    , m_detail(std::move(detail))
    , m_what((transportCodeName(code) % QStringLiteral(": ") % m_detail).toUtf8())
{
}

std::optional<QByteArray> Response::header(QByteArrayView name) const
{
    for (const Header& header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    }
    return std::nullopt;
}

namespace {

// The reply of a transfer curl is done with, or the error it ended in.
Response conclude(Transfer& transfer)
{
    const QString detail = transfer.errorBuffer[0] != '\0'
        ? QString::fromUtf8(transfer.errorBuffer)
        : QString::fromUtf8(curl_easy_strerror(transfer.result.value_or(CURLE_OK)));

    if (transfer.abort != Abort::errorBodyCut) {
        if (transfer.abort != Abort::none || !transfer.result)
            throwForAbort(transfer, detail);
        if (*transfer.result == CURLE_ABORTED_BY_CALLBACK || *transfer.result == CURLE_WRITE_ERROR)
            throwForAbort(transfer, detail);
        if (*transfer.result != CURLE_OK)
            throw TransportError(mapCurlCode(*transfer.result, transfer), detail);
    }

    // The last bytes may have arrived after curl's final progress call.
    transfer.reportProgress();

    long status = 0;
    curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &status);
    transfer.response.status = static_cast<int>(status);
    const char* effectiveUrl = nullptr;
    curl_easy_getinfo(transfer.easy, CURLINFO_EFFECTIVE_URL, &effectiveUrl);
    transfer.response.url = effectiveUrl ? QUrl::fromEncoded(QByteArray(effectiveUrl)) : transfer.request->url;
    return std::move(transfer.response);
}

// Whether an idle-mode transfer has gone without a byte for longer than its limit.
bool idleTooLong(Transfer& transfer, Clock::time_point now)
{
    if (transfer.request->timeoutMode != TimeoutMode::idle)
        return false;
    curl_off_t uploaded = 0;
    curl_easy_getinfo(transfer.easy, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    if (uploaded != transfer.lastUploaded) {
        transfer.lastUploaded = uploaded;
        transfer.lastActivity = now;
    }
    if (!transfer.idleClockStarted) {
        // Connecting has its own limit; the idle clock starts once the
        // connection is ready to carry the request.
        curl_off_t ready = 0;
        curl_easy_getinfo(transfer.easy, CURLINFO_PRETRANSFER_TIME_T, &ready);
        if (ready > 0) {
            transfer.idleClockStarted = true;
            transfer.lastActivity = std::max(transfer.lastActivity, now);
        }
        return false;
    }
    return now - transfer.lastActivity > std::chrono::milliseconds(timeoutMillis(*transfer.request));
}

// A failure that says the host, not the request, is the trouble: no name,
// no connection, no secure channel, or not a byte of reply in time. Every
// other request to that host would meet it too.
bool failsTheHost(const Outcome& outcome, const Transfer& transfer)
{
    if (!outcome.error || transfer.currentStatus() != 0)
        return false;
    try {
        std::rethrow_exception(outcome.error);
    } catch (const TransportError& error) {
        switch (error.code()) {
        case TransportCode::cannotFindHost:
        case TransportCode::dnsLookupFailed:
        case TransportCode::cannotConnectToHost:
        case TransportCode::notConnectedToInternet:
        case TransportCode::secureConnectionFailed:
        case TransportCode::timedOut:
            return true;
        default:
            return false;
        }
    } catch (...) {
        return false;
    }
}

// An address's host as "host:port".
QString hostKey(const QUrl& url)
{
    const int defaultPort = url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0 ? 80 : 443;
    return url.host().toLower() + u':' + QString::number(url.port(defaultPort));
}

// Where a transfer is going now (after any redirect).
QString hostOf(const Transfer& transfer)
{
    const char* effective = nullptr;
    curl_easy_getinfo(transfer.easy, CURLINFO_EFFECTIVE_URL, &effective);
    return hostKey(effective ? QUrl::fromEncoded(QByteArray(effective)) : transfer.request->url);
}

// Whether a transfer's request has not gone out yet: it waits for a
// connection, a name or a handshake.
bool notSent(const Transfer& transfer)
{
    curl_off_t ready = 0;
    curl_easy_getinfo(transfer.easy, CURLINFO_PRETRANSFER_TIME_T, &ready);
    return ready == 0 && transfer.currentStatus() == 0;
}

// One performEach(): its transfers on one multi handle, driven until each
// has ended, with one outcome per request.
class Batch {
public:
    explicit Batch(std::size_t size) : m_outcomes(size) {}

    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    ~Batch()
    {
        // The stop callback goes first, so none runs on another thread while
        // the handles are detached; every easy handle is detached before the
        // multi handle is cleaned up.
        m_onStop.reset();
        for (auto& transfer : m_transfers)
            if (transfer->attached)
                curl_multi_remove_handle(m_multi.get(), transfer->easy);
    }

    std::vector<Outcome> run(const Session& session, const std::vector<const Request*>& requests)
    {
        if (!start())
            return std::move(m_outcomes);
        attach(session, requests);
        m_onStop.emplace(session.stop, StopAll{&m_stopRequested, m_multi.get()});
        drive();
        return std::move(m_outcomes);
    }

private:
    struct StopAll {
        std::atomic<bool>* stopRequested;
        CURLM* multi;
        void operator()() const
        {
            stopRequested->store(true);
            curl_multi_wakeup(multi);
        }
    };

    // curl and the multi handle; false, with every outcome failed, without them.
    bool start()
    {
        try {
            initialiseCurlOnce();
        } catch (...) {
            failAll(std::current_exception());
            return false;
        }
        m_multi.reset(curl_multi_init());
        if (!m_multi) {
            failAll(std::make_exception_ptr(
                TransportError(TransportCode::other, QStringLiteral("could not create a curl handle"))));
            return false;
        }
        // A hundred feeds on one host would otherwise look its name up a
        // hundred times at once and open as many connections; past the
        // limit, transfers wait for a connection to come free and reuse it.
        curl_multi_setopt(m_multi.get(), CURLMOPT_MAX_HOST_CONNECTIONS, kConnectionsPerHost);
        return true;
    }

    // Readies one transfer per request and starts as many as their hosts
    // take; one that cannot start gets its error as its outcome.
    void attach(const Session& session, const std::vector<const Request*>& requests)
    {
        m_transfers.reserve(requests.size());
        m_hosts.reserve(requests.size());
        for (std::size_t i = 0; i < requests.size(); ++i) {
            auto& transfer = m_transfers.emplace_back(std::make_unique<Transfer>());
            transfer->stopRequested = &m_stopRequested;
            m_hosts.push_back(hostKey(requests[i]->url));
            try {
                prepare(*transfer, session, *requests[i]);
                m_waiting.push_back(i);
                ++m_pending;
            } catch (...) {
                m_outcomes[i].error = std::current_exception();
            }
        }
        admit();
    }

    // Hands curl the waiting transfers whose host has a connection free,
    // and fails at once those whose host has failed. Curl queues the rest
    // itself otherwise, and starts them the moment a sibling fails, before
    // the failure is known here: each would look the name up, or try the
    // refusing port, once more.
    void admit()
    {
        std::erase_if(m_waiting, [this](std::size_t i) {
            if (m_stopRequested.load()) {
                end(i, std::make_exception_ptr(
                           TransportError(TransportCode::cancelled, QStringLiteral("the request was cancelled"))));
                return true;
            }
            if (const auto failed = m_failedHosts.find(m_hosts[i]); failed != m_failedHosts.end()) {
                end(i, failed->second);
                return true;
            }
            int& busy = m_busy[m_hosts[i]];
            if (busy >= kConnectionsPerHost)
                return false;
            Transfer& transfer = *m_transfers[i];
            if (curl_multi_add_handle(m_multi.get(), transfer.easy) != CURLM_OK) {
                end(i, std::make_exception_ptr(
                           TransportError(TransportCode::other, QStringLiteral("could not start the transfer"))));
                return true;
            }
            transfer.attached = true;
            ++busy;
            return true;
        });
    }

    // Ends a transfer that is not (or no longer) with curl.
    void end(std::size_t i, std::exception_ptr error)
    {
        m_outcomes[i].error = std::move(error);
        --m_pending;
    }

    // Takes a transfer back from curl, freeing its host's connection.
    void detach(std::size_t i)
    {
        Transfer& transfer = *m_transfers[i];
        curl_multi_remove_handle(m_multi.get(), transfer.easy);
        transfer.attached = false;
        --m_busy[m_hosts[i]];
    }

    // Runs the multi handle until every attached transfer has ended.
    void drive()
    {
        CURLM* multi = m_multi.get();
        while (m_pending > 0) {
            int running = 0;
            CURLMcode multiCode = curl_multi_perform(multi, &running);
            if (multiCode == CURLM_OK) {
                collectResults();
                endFinished();
                admit();
                if (m_pending == 0)
                    break;
                multiCode = curl_multi_poll(multi, nullptr, 0, kPollIntervalMs, nullptr);
            }
            if (multiCode != CURLM_OK) {
                failAll(std::make_exception_ptr(
                    TransportError(TransportCode::other, QString::fromUtf8(curl_multi_strerror(multiCode)))));
                break;
            }
        }
    }

    // Notes the result of each transfer curl is done with.
    void collectResults()
    {
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(m_multi.get(), &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            void* owner = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &owner);
            static_cast<Transfer*>(owner)->result = message->data.result;
        }
    }

    // Ends the transfers that are done, stopped or idle too long, then those
    // that wait for a host that has just failed.
    void endFinished()
    {
        const bool stopping = m_stopRequested.load();
        const auto now = Clock::now();
        for (std::size_t i = 0; i < m_transfers.size(); ++i) {
            Transfer& transfer = *m_transfers[i];
            if (!transfer.attached)
                continue;
            // An abort by a callback ends the transfer at once; curl would
            // only report it on a later round anyway.
            if (!transfer.result && transfer.abort == Abort::none) {
                if (stopping)
                    transfer.abort = Abort::cancelled;
                else if (idleTooLong(transfer, now))
                    transfer.abort = Abort::idleTimeout;
            }
            if (transfer.result || transfer.abort != Abort::none)
                finish(i);
        }
        if (m_failedHosts.empty())
            return;
        for (std::size_t i = 0; i < m_transfers.size(); ++i) {
            Transfer& transfer = *m_transfers[i];
            if (!transfer.attached || !notSent(transfer))
                continue;
            const auto failed = m_failedHosts.find(hostOf(transfer));
            if (failed == m_failedHosts.end())
                continue;
            detach(i);
            end(i, failed->second);
        }
    }

    void finish(std::size_t i)
    {
        Transfer& transfer = *m_transfers[i];
        detach(i);
        --m_pending;
        try {
            m_outcomes[i].response = conclude(transfer);
        } catch (...) {
            m_outcomes[i].error = std::current_exception();
        }
        if (failsTheHost(m_outcomes[i], transfer))
            m_failedHosts.try_emplace(hostOf(transfer), m_outcomes[i].error);
    }

    void failAll(std::exception_ptr error)
    {
        for (Outcome& outcome : m_outcomes)
            if (!outcome.response && !outcome.error)
                outcome.error = error;
    }

    // Destroyed in reverse: the stop callback before the multi handle, the
    // multi handle before the transfers whose easy handles it held.
    std::vector<Outcome> m_outcomes;
    std::vector<std::unique_ptr<Transfer>> m_transfers;
    std::atomic<bool> m_stopRequested{false};
    MultiHandle m_multi;
    std::optional<std::stop_callback<StopAll>> m_onStop;
    std::size_t m_pending = 0;
    std::map<QString, std::exception_ptr> m_failedHosts; // host:port -> how its first request failed
    std::vector<QString> m_hosts;       // each request's host:port, as asked
    std::map<QString, int> m_busy;      // host:port -> its transfers with curl
    std::vector<std::size_t> m_waiting; // transfers not yet with curl, in order
};

std::vector<Outcome> performEach(const Session& session, const std::vector<const Request*>& requests)
{
    return Batch(requests.size()).run(session, requests);
}

} // namespace

Response perform(const Session& session, const Request& request)
{
    Outcome outcome = std::move(performEach(session, {&request}).front());
    if (outcome.error)
        std::rethrow_exception(outcome.error);
    return std::move(*outcome.response);
}

std::vector<Outcome> performAll(const Session& session, const std::vector<Request>& requests)
{
    std::vector<const Request*> pointers;
    pointers.reserve(requests.size());
    for (const Request& request : requests)
        pointers.push_back(&request);
    return performEach(session, pointers);
}

} // namespace Hub::Http
