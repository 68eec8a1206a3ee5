#pragma once

#include "Platform/Http.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>
#include <stdexcept>

namespace Hub::Shell {

// Where a sandboxed program connects and what it trusts when it runs
// against a stand-in of the maker's service (the local service of
// scripts/try and the end-to-end tests). A JSON object:
//
//   {"api_base": "https://127.0.0.1:<port>/api/v1/",   the maker's service
//    "catalog": "https://127.0.0.1:<port>/catalog.json",
//    "sign_in": "https://127.0.0.1:<port>",            the sign-in service
//    "publishable_key": "pk_test_...",
//    "tls_root": "/path/tls-root.pem",                 the only TLS root trusted
//    "signing_anchor": "/path/signing-anchor.pem",     the only code-signing anchor
//    "download_idle_timeout": 8,                        optional: seconds without a byte
//                                                       before a download fails
//    "fetch_deadline": 5,                               optional: seconds for the catalog or a feed
//    "download_minimum_rate": 1024,                     optional: bytes per second a download
//    "download_rate_window": 30}                        must average over this many seconds
struct ServiceProfile {
    QUrl apiBase;
    QUrl catalogURL;
    QUrl signInBase;
    QString publishableKey;
    QString caBundle;
    QByteArray signingAnchorPem;
    QString signingAnchorFile; // the same, for the tools that read it themselves
    std::optional<double> downloadIdleTimeout;
    Http::Limits limits; // the production values unless the profile names others

    // Reads and checks the file; every value must be there and usable.
    // Throws ServiceProfileError with the sentence to show.
    static ServiceProfile read(const QString& path);
};

class ServiceProfileError : public std::runtime_error {
public:
    explicit ServiceProfileError(const QString& sentence)
        : std::runtime_error(sentence.toStdString())
    {
    }
};

// How this run is set apart from the user's own: a sandboxed run keeps
// everything under its home folder and may be pointed at a service profile.
struct Sandbox {
    QString home; // the isolated home folder
    std::optional<ServiceProfile> profile;
};

// The sandbox of a run: none unless `sandboxed` (HUBTARN_SANDBOX set), and
// then `profilePath` (HUBTARN_SERVICE_PROFILE), when given, is read.
// Outside the sandbox the profile is never read, so nothing from outside
// the build can change where the program connects or whom it trusts.
// Throws ServiceProfileError for a profile that cannot be used.
std::optional<Sandbox> sandboxFor(bool sandboxed, const std::optional<QString>& profilePath, const QString& home);

// The same from this process's test switches (see Config::testSwitch: an
// installed copy has none, so it is never sandboxed) and home folder.
std::optional<Sandbox> sandboxFromEnvironment();

} // namespace Hub::Shell
