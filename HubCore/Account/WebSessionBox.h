#pragma once

#include "Base/HubError.h"

#include <QString>
#include <QUrl>

#include <future>
#include <mutex>
#include <optional>
#include <variant>

namespace Hub {

// One browser sign-in wait. Completion, the user's cancel, the task's
// cancellation and a failed start may all race to end it; the first `finish`
// decides, later ones are ignored, so the waiting caller resumes exactly once.
class WebSessionBox {
public:
    using Result = std::variant<QUrl, HubError>;

    explicit WebSessionBox(QString callbackScheme);

    WebSessionBox(const WebSessionBox&) = delete;
    WebSessionBox& operator=(const WebSessionBox&) = delete;

    // Resumes the waiting caller with `result`. True when this call decided
    // the outcome; false when the box had already finished. Any thread.
    bool finish(Result result);

    // Finishes with `url` when its scheme is the callback scheme, compared
    // without regard to case (URL schemes are case-insensitive). False when
    // the address is not this wait's callback or the box already finished.
    bool offerCallback(const QUrl& url);

    bool isFinished() const;

    // Blocks until the first `finish`; returns its URL or throws its HubError.
    // Called once, by the one caller.
    QUrl wait();

private:
    const QString m_callbackScheme;
    mutable std::mutex m_lock;
    // Guarded by m_lock. Taken out by the first finish, so no one can resume
    // the caller a second time; resumed after the lock is released.
    std::optional<std::promise<QUrl>> m_continuation;
    std::future<QUrl> m_outcome;
};

} // namespace Hub
