#include "Platform/Http.h"

#include <curl/curl.h>

#include <QLatin1String>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Hub::Http {

namespace {

constexpr long kMaxRedirects = 10;
constexpr int kPollIntervalMs = 100;
constexpr long kLowSpeedMarginSeconds = 5;

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

void initialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            throw TransportError(TransportCode::other, QStringLiteral("curl_global_init failed"));
    });
}

// Why our own callbacks stopped a transfer; curl only says "aborted" or
// "write error", which does not tell a cancel from a refused body.
enum class Abort {
    none,
    cancelled,
    idleTimeout,
    tooLarge,
    sinkRefused,
    callbackThrew,
    errorBodyCut, // not a failure: the reply is complete enough to report
};

using Clock = std::chrono::steady_clock;

// Everything the callbacks of one transfer share, and what curl points into.
// Callbacks run on the calling thread (inside curl_multi_perform), so only
// the stop flag, shared by every transfer of a batch, is atomic.
struct Transfer {
    const Request* request = nullptr;
    const std::atomic<bool>* stopRequested = nullptr;
    CURL* easy = nullptr;
    Response response;

    char errorBuffer[CURL_ERROR_SIZE] = {};
    QByteArray urlBytes;
    QByteArray caBundle;
    HeaderList headerList;
    EasyHandle easyHandle;
    bool attached = false;
    std::optional<CURLcode> result;
    std::int64_t lastUploaded = -1;

    Abort abort = Abort::none;
    std::exception_ptr callbackException;

    std::int64_t received = 0;
    std::int64_t lastReported = -1;
    bool checkedLength = false;
    bool sawRedirect = false; // a complete 3xx reply with a Location arrived

    Clock::time_point lastActivity = Clock::now();
    bool idleClockStarted = false;

    int currentStatus() const
    {
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        return static_cast<int>(status);
    }

    std::int64_t expectedLength() const
    {
        curl_off_t length = -1;
        if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK)
            return -1;
        return length >= 0 ? static_cast<std::int64_t>(length) : -1;
    }

    void reportProgress()
    {
        if (!request->progress || received == lastReported)
            return;
        lastReported = received;
        request->progress(received, expectedLength());
    }
};

QByteArray trimmed(const char* data, std::size_t size)
{
    return QByteArray(data, static_cast<qsizetype>(size)).trimmed();
}

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

bool isAllowedScheme(const QString& scheme)
{
    return scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) == 0
        || scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0;
}

void setOption(CURL* easy, CURLoption option, auto value)
{
    const CURLcode code = curl_easy_setopt(easy, option, value);
    if (code != CURLE_OK) {
        throw TransportError(TransportCode::other,
                             QStringLiteral("curl option %1: %2")
                                 .arg(static_cast<int>(option))
                                 .arg(QString::fromUtf8(curl_easy_strerror(code))));
    }
}

// A zero would mean "no limit" to curl, and every call has one; the upper
// bound keeps the conversions in range.
long timeoutMillis(const Request& request)
{
    const double seconds = std::isnan(request.timeout) ? 60.0 : std::clamp(request.timeout, 0.001, 7 * 86400.0);
    return std::max(1L, std::lround(seconds * 1000.0));
}

HeaderList buildHeaderList(const Request& request)
{
    HeaderList list;
    auto append = [&list](const QByteArray& line) {
        curl_slist* extended = curl_slist_append(list.get(), line.constData());
        if (!extended)
            throw TransportError(TransportCode::other, QStringLiteral("out of memory for headers"));
        static_cast<void>(list.release());
        list.reset(extended);
    };
    bool callerSetExpect = false;
    for (const Header& header : request.headers) {
        if (header.first.compare("Expect", Qt::CaseInsensitive) == 0)
            callerSetExpect = true;
        // curl drops "Name:" as "remove this header"; "Name;" sends it empty.
        if (header.second.isEmpty())
            append(header.first + ';');
        else
            append(header.first + ": " + header.second);
    }
    // curl otherwise waits up to a second for "100 Continue" before sending
    // a large body, which a plain server never answers.
    if (!callerSetExpect)
        append(QByteArrayLiteral("Expect:"));
    return list;
}

bool methodIs(const QByteArray& method, const char* name)
{
    return method.compare(name, Qt::CaseInsensitive) == 0;
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

// Readies one transfer for the multi handle; throws TransportError for an
// address or option the request cannot go out with.
void prepare(Transfer& transfer, const Session& session, const Request& request)
{
    transfer.request = &request;
    if (session.stop.stop_requested())
        throw TransportError(TransportCode::cancelled, QStringLiteral("the request was cancelled"));

    const QUrl& url = request.url;
    if (!url.isValid() || url.host().isEmpty() || !isAllowedScheme(url.scheme())) {
        throw TransportError(TransportCode::unsupportedURL,
                             QStringLiteral("not an http(s) address: ") % url.toDisplayString());
    }

    // Header values come from replies (tokens, identifiers); a line break
    // would let one smuggle a header or a second request into ours.
    for (const Header& header : request.headers) {
        for (const QByteArray* part : {&header.first, &header.second}) {
            if (part->contains('\r') || part->contains('\n') || part->contains('\0')) {
                throw TransportError(TransportCode::other,
                                     QStringLiteral("the header %1 holds a line break or a NUL byte")
                                         .arg(QString::fromLatin1(header.first.left(64).toPercentEncoding())));
            }
        }
    }

    transfer.urlBytes = url.toEncoded();
    transfer.caBundle = session.caBundle.toLocal8Bit();
    transfer.headerList = buildHeaderList(request);
    transfer.easyHandle.reset(curl_easy_init());
    if (!transfer.easyHandle)
        throw TransportError(TransportCode::other, QStringLiteral("could not create a curl handle"));
    CURL* easy = transfer.easyHandle.get();
    transfer.easy = easy;

    setOption(easy, CURLOPT_PRIVATE, static_cast<void*>(&transfer));
    setOption(easy, CURLOPT_NOSIGNAL, 1L);
    setOption(easy, CURLOPT_ERRORBUFFER, transfer.errorBuffer);
    setOption(easy, CURLOPT_URL, transfer.urlBytes.constData());
    setOption(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    setOption(easy, CURLOPT_FOLLOWLOCATION, 1L);
    setOption(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    setOption(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    setOption(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    setOption(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!transfer.caBundle.isEmpty()) {
        setOption(easy, CURLOPT_CAINFO, transfer.caBundle.constData());
        // Only the given roots: the system directory must not widen them.
        setOption(easy, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    }
    setOption(easy, CURLOPT_HTTPHEADER, transfer.headerList.get());

    // Any method other than GET and POST goes out by name. HEAD must use
    // NOBODY, or curl would wait for a body that never comes.
    const QByteArray& method = request.method;
    const bool isHead = methodIs(method, "HEAD");
    const bool isPost = methodIs(method, "POST");
    if (isHead)
        setOption(easy, CURLOPT_NOBODY, 1L);
    else if (!methodIs(method, "GET") && !isPost)
        setOption(easy, CURLOPT_CUSTOMREQUEST, method.constData());
    // Methods that carry a body send "Content-Length: 0" when it is empty,
    // which servers that require a length expect.
    const bool sendsBody = !request.body.isEmpty() || isPost || methodIs(method, "PUT")
        || methodIs(method, "PATCH");
    if (sendsBody) {
        setOption(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        setOption(easy, CURLOPT_POSTFIELDS, request.body.constData());
        if (methodIs(method, "GET"))
            setOption(easy, CURLOPT_CUSTOMREQUEST, "GET");
    }

    const long timeoutMs = timeoutMillis(request);
    setOption(easy, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
    if (request.timeoutMode == TimeoutMode::total) {
        setOption(easy, CURLOPT_TIMEOUT_MS, timeoutMs);
    } else {
        // The idle limit itself is the clock kept in the loop below. curl's
        // low-speed check only backs it up, with a margin: curl refreshes its
        // speed once per wall-clock second and averages it over up to five,
        // so with no margin it fails steady slow replies now and then, and
        // it notices a stall late anyway.
        setOption(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
        setOption(easy, CURLOPT_LOW_SPEED_TIME,
                  static_cast<long>(std::ceil(timeoutMs / 1000.0)) + kLowSpeedMarginSeconds);
    }

    setOption(easy, CURLOPT_HEADERFUNCTION, onHeader);
    setOption(easy, CURLOPT_HEADERDATA, &transfer);
    setOption(easy, CURLOPT_WRITEFUNCTION, onBody);
    setOption(easy, CURLOPT_WRITEDATA, &transfer);
    setOption(easy, CURLOPT_NOPROGRESS, 0L);
    setOption(easy, CURLOPT_XFERINFOFUNCTION, onTransferInfo);
    setOption(easy, CURLOPT_XFERINFODATA, &transfer);
}

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

std::vector<Outcome> performEach(const Session& session, const std::vector<const Request*>& requests)
{
    std::vector<Outcome> outcomes(requests.size());
    const auto failAll = [&outcomes](std::exception_ptr error) {
        for (Outcome& outcome : outcomes)
            if (!outcome.response && !outcome.error)
                outcome.error = error;
    };
    try {
        initialiseCurlOnce();
    } catch (...) {
        failAll(std::current_exception());
        return outcomes;
    }

    // Declared before the multi handle: every easy handle is detached (by
    // `detach` below) and the multi handle cleaned up before they go.
    std::vector<std::unique_ptr<Transfer>> transfers;
    std::atomic<bool> stopRequested{false};
    MultiHandle multiHandle(curl_multi_init());
    if (!multiHandle) {
        failAll(std::make_exception_ptr(
            TransportError(TransportCode::other, QStringLiteral("could not create a curl handle"))));
        return outcomes;
    }
    CURLM* multi = multiHandle.get();
    struct Detach {
        CURLM* multi;
        std::vector<std::unique_ptr<Transfer>>& transfers;
        ~Detach()
        {
            for (auto& transfer : transfers)
                if (transfer->attached)
                    curl_multi_remove_handle(multi, transfer->easy);
        }
    } detach{multi, transfers};

    std::size_t pending = 0;
    transfers.reserve(requests.size());
    for (std::size_t i = 0; i < requests.size(); ++i) {
        auto& transfer = transfers.emplace_back(std::make_unique<Transfer>());
        transfer->stopRequested = &stopRequested;
        try {
            prepare(*transfer, session, *requests[i]);
            if (curl_multi_add_handle(multi, transfer->easy) != CURLM_OK)
                throw TransportError(TransportCode::other, QStringLiteral("could not start the transfer"));
            transfer->attached = true;
            ++pending;
        } catch (...) {
            outcomes[i].error = std::current_exception();
        }
    }

    const auto finish = [&](std::size_t i) {
        Transfer& transfer = *transfers[i];
        curl_multi_remove_handle(multi, transfer.easy);
        transfer.attached = false;
        --pending;
        try {
            outcomes[i].response = conclude(transfer);
        } catch (...) {
            outcomes[i].error = std::current_exception();
        }
    };

    // Declared after the handles, so it is gone (and any callback running on
    // another thread has finished) before the multi handle is cleaned up.
    std::stop_callback onStop(session.stop, [&stopRequested, multi] {
        stopRequested.store(true);
        curl_multi_wakeup(multi);
    });

    while (pending > 0) {
        int running = 0;
        CURLMcode multiCode = curl_multi_perform(multi, &running);
        if (multiCode == CURLM_OK) {
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                if (message->msg != CURLMSG_DONE)
                    continue;
                void* owner = nullptr;
                curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &owner);
                static_cast<Transfer*>(owner)->result = message->data.result;
            }
            const bool stopping = stopRequested.load();
            const auto now = Clock::now();
            for (std::size_t i = 0; i < transfers.size(); ++i) {
                Transfer& transfer = *transfers[i];
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
            if (pending == 0)
                break;
            multiCode = curl_multi_poll(multi, nullptr, 0, kPollIntervalMs, nullptr);
        }
        if (multiCode != CURLM_OK) {
            failAll(std::make_exception_ptr(
                TransportError(TransportCode::other, QString::fromUtf8(curl_multi_strerror(multiCode)))));
            break;
        }
    }
    return outcomes;
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
