#include "Platform/HttpTransfer.h"

#include <QLatin1String>
#include <QStringBuilder>

#include <algorithm>
#include <cmath>

namespace Hub::Http::Internal {

namespace {

constexpr long kMaxRedirects = 10;
constexpr long kLowSpeedMarginSeconds = 5;

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

// Refuses what must not go out: a stopped session, an address that is not
// http(s), a header that would smuggle another line into ours.
void checkRequest(const Session& session, const Request& request)
{
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
}

// The address, the redirect rule, whom to trust and the headers.
void setAddress(Transfer& transfer)
{
    CURL* easy = transfer.easy;
    setOption(easy, CURLOPT_PRIVATE, static_cast<void*>(&transfer));
    setOption(easy, CURLOPT_NOSIGNAL, 1L);
    // A name server that drops queries leaves the C library's lookup
    // running until it gives up (10 s and more). Curl would wait for its
    // thread when the transfer times out or is taken back; this lets it
    // leave the thread to end on its own, so the time-out holds.
    setOption(easy, CURLOPT_QUICK_EXIT, 1L);
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
}

void setMethodAndBody(CURL* easy, const Request& request)
{
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
}

long millis(double seconds)
{
    return std::max(1L, std::lround(std::clamp(seconds, 0.001, 7 * 86400.0) * 1000.0));
}

void setTimeouts(CURL* easy, const Request& request)
{
    const long timeoutMs = timeoutMillis(request);
    setOption(easy, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
    if (request.timeoutMode == TimeoutMode::total) {
        setOption(easy, CURLOPT_TIMEOUT_MS, timeoutMs);
        return;
    }
    if (request.deadline && !std::isnan(*request.deadline))
        setOption(easy, CURLOPT_TIMEOUT_MS, millis(*request.deadline));
    if (request.minimumRate) {
        const MinimumRate& rate = *request.minimumRate;
        setOption(easy, CURLOPT_LOW_SPEED_LIMIT,
                  static_cast<long>(std::clamp<std::int64_t>(rate.bytesPerSecond, 1, 1L << 30)));
        setOption(easy, CURLOPT_LOW_SPEED_TIME,
                  std::isnan(rate.window) ? 30L : static_cast<long>(std::ceil(std::clamp(rate.window, 1.0, 86400.0))));
        return;
    }
    // The idle limit itself is the clock kept in the transfer loop. curl's
    // low-speed check only backs it up, with a margin: curl refreshes its
    // speed once per wall-clock second and averages it over up to five,
    // so with no margin it fails steady slow replies now and then, and
    // it notices a stall late anyway.
    setOption(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    setOption(easy, CURLOPT_LOW_SPEED_TIME,
              static_cast<long>(std::ceil(timeoutMs / 1000.0)) + kLowSpeedMarginSeconds);
}

void setCallbacks(Transfer& transfer)
{
    CURL* easy = transfer.easy;
    setOption(easy, CURLOPT_HEADERFUNCTION, onHeader);
    setOption(easy, CURLOPT_HEADERDATA, &transfer);
    setOption(easy, CURLOPT_WRITEFUNCTION, onBody);
    setOption(easy, CURLOPT_WRITEDATA, &transfer);
    setOption(easy, CURLOPT_NOPROGRESS, 0L);
    setOption(easy, CURLOPT_XFERINFOFUNCTION, onTransferInfo);
    setOption(easy, CURLOPT_XFERINFODATA, &transfer);
}

} // namespace

// A zero would mean "no limit" to curl, and every call has one; the upper
// bound keeps the conversions in range.
long timeoutMillis(const Request& request)
{
    return millis(std::isnan(request.timeout) ? 60.0 : request.timeout);
}

void prepare(Transfer& transfer, const Session& session, const Request& request)
{
    transfer.request = &request;
    checkRequest(session, request);

    transfer.urlBytes = request.url.toEncoded();
    transfer.caBundle = session.caBundle.toLocal8Bit();
    transfer.headerList = buildHeaderList(request);
    transfer.easyHandle.reset(curl_easy_init());
    if (!transfer.easyHandle)
        throw TransportError(TransportCode::other, QStringLiteral("could not create a curl handle"));
    transfer.easy = transfer.easyHandle.get();

    setAddress(transfer);
    setMethodAndBody(transfer.easy, request);
    setTimeouts(transfer.easy, request);
    setCallbacks(transfer);
}

} // namespace Hub::Http::Internal
