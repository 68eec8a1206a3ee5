#pragma once

// What the two halves of the HTTP client share: the request builder
// (HttpRequest.cpp) readies a transfer, the transfer loop (Http.cpp) runs
// a batch of them on one curl multi handle and reads their replies.

#include "Platform/Http.h"

#include <curl/curl.h>

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <optional>

namespace Hub::Http::Internal {

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

// The time-out in milliseconds: never zero, which would mean "no limit" to curl.
long timeoutMillis(const Request& request);

// Readies one transfer for the multi handle, its callbacks pointed at
// `transfer`; throws TransportError for an address or option the request
// cannot go out with.
void prepare(Transfer& transfer, const Session& session, const Request& request);

// The callbacks curl calls with a Transfer as user data (Http.cpp).
std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* userData);
std::size_t onBody(char* data, std::size_t size, std::size_t count, void* userData);
int onTransferInfo(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

} // namespace Hub::Http::Internal
