#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <stop_token>
#include <vector>

// A small blocking HTTP client on libcurl, shared by the catalog, downloads,
// sign-in and the maker's service. Every call has an explicit time-out and
// can be cancelled through a stop token. Redirects are followed only to https.
namespace Hub::Http {

// What a failed transfer reports. The first six are the codes callers test
// by name (retry rules, "offline" mapping); the rest are carried for the
// message and never retried.
enum class TransportCode {
    cannotFindHost,
    cannotConnectToHost,
    timedOut,
    notConnectedToInternet,
    networkConnectionLost,
    cancelled,
    dnsLookupFailed,
    insecureRedirect,      // a redirect to anything but https
    tooManyRedirects,
    secureConnectionFailed, // TLS handshake or certificate failure
    unsupportedURL,
    dataLengthExceedsMaximum, // more bytes than the caller allowed
    writeFailed,           // the caller's data sink refused the bytes
    other,
};

QString transportCodeName(TransportCode code);

class TransportError : public std::exception {
public:
    TransportError(TransportCode code, QString detail);
    TransportCode code() const { return m_code; }
    const QString& detail() const { return m_detail; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    TransportCode m_code;
    QString m_detail;
    QByteArray m_what;
};

// The rate a long transfer must keep up: fewer than `bytesPerSecond` on
// average over `window` seconds (whole seconds, at least one) fails it with
// timedOut. A reply that drips a byte now and then keeps an idle limit
// happy for ever; this ends it.
struct MinimumRate {
    std::int64_t bytesPerSecond = 1024;
    double window = 30.0;
};

// When the hub's long transfers give up, whatever their idle limits say.
// The defaults are the production values; a sandboxed run's service
// profile may shorten them so that its tests drip for seconds, not minutes.
struct Limits {
    double fetchDeadline = 60.0; // seconds for the catalog or one release feed, request to last byte
    MinimumRate downloadRate;    // an artifact or installer download slower than this fails
};

// How requests of one caller are sent: whom to trust and when to give up.
// The tests point caBundle at the certificate of their local server.
struct Session {
    QString caBundle;      // PEM file of trusted roots; empty: the system's store
    std::stop_token stop;  // a stop request cancels every transfer in flight
    Limits limits = {};    // read by the callers that build long requests
};

using Header = QPair<QByteArray, QByteArray>;

enum class TimeoutMode {
    total, // the whole exchange must finish within the time-out
    idle,  // connect within the time-out, then fail only after that long without a byte
};

struct Request {
    QByteArray method = "GET";
    QUrl url;
    QList<Header> headers;
    QByteArray body;                 // sent for any method when not empty
    double timeout = 60.0;           // seconds; never "no limit": 0 or less fails at once
    TimeoutMode timeoutMode = TimeoutMode::total;
    // Idle mode only: the whole exchange must still end within this many
    // seconds, however steadily the bytes come.
    std::optional<double> deadline;
    // Idle mode only: a reply slower than this fails with timedOut.
    std::optional<MinimumRate> minimumRate;
    // A successful (2xx) reply with a longer body fails with
    // dataLengthExceedsMaximum; any other reply is returned with its status
    // and at most this much of its body.
    std::optional<std::int64_t> maxBodyBytes;

    // Called with the bytes received so far and the expected total (-1 when
    // the server sent no length), from the calling thread.
    std::function<void(std::int64_t received, std::int64_t total)> progress;

    // When set, the body is handed here instead of being kept in memory;
    // returning false aborts the transfer with writeFailed. The status is
    // passed so a sink can refuse to store the body of an error reply.
    std::function<bool(int status, const char* data, std::size_t size)> sink;
};

struct Response {
    int status = 0;
    QList<Header> headers; // of the last response, after redirects
    QByteArray body;       // empty when the request had a sink
    QUrl url;              // the address that answered, after redirects

    // The first header of that name, compared without regard to case.
    std::optional<QByteArray> header(QByteArrayView name) const;
};

// Performs one request; returns any HTTP status, throws TransportError for
// everything that produced no complete HTTP reply.
Response perform(const Session& session, const Request& request);

// How one request of performAll() ended: its reply, or what perform() would
// have thrown for it (a TransportError, or whatever a callback threw).
struct Outcome {
    std::optional<Response> response;
    std::exception_ptr error;
};

// Performs every request at once on the calling thread, all on one curl
// multi handle (no thread per request), so N stalled servers cost one
// time-out, not N. The requests share their name lookups and at most
// kConnectionsPerHost connections per host, which later requests reuse.
// A host that cannot be found, reached or that leaves a request without
// any reply fails its requests that have not gone out yet at once, with
// the same code, rather than each of them waiting its turn to fail. One
// outcome per request, in order; never throws but for memory exhaustion.
std::vector<Outcome> performAll(const Session& session, const std::vector<Request>& requests);

inline constexpr long kConnectionsPerHost = 4;

// The address rule for everything the hub downloads: https, or plain http
// only to this machine ("localhost" or "127.0.0.1"), for local testing.
bool isAllowedDownloadURL(const QUrl& url);

} // namespace Hub::Http
