#pragma once

#include "Platform/SecretStore.h"

#include <chrono>

namespace Hub {

// Generic-password items in the user's Secret Service (gnome-keyring,
// KeePassXC, ...) over D-Bus, one item per service and account, stored in
// the default collection under a schema named after the application.
//
// Each call waits at most `timeout` for the service, including a prompt
// the service may show to unlock the collection; a call that runs out of
// time answers `failed`. Calls are serialised within the process.
class LibsecretStore : public SecretStore {
public:
    explicit LibsecretStore(std::chrono::milliseconds timeout = std::chrono::seconds(20));

    ReadResult read(const QString& service, const QString& account) const override;
    Status update(const QString& service, const QString& account, const QByteArray& data) override;
    Status add(const QString& service, const QString& account, const QByteArray& data,
               const std::optional<QString>& label) override;
    Status remove(const QString& service, const QString& account) override;

    // Said once per process when no Secret Service answers.
    static constexpr char kNoServiceSentence[] =
        "Tarnhub: no keyring service is running, so your sign-in will not be kept after you quit.";

private:
    std::chrono::milliseconds m_timeout;
};

} // namespace Hub
