#pragma once

#include "Catalog/CatalogRecords.h"
#include "Catalog/SharedTypes.h"
#include "Platform/Http.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace Hub {

struct LoadedCatalog {
    Catalog catalog;
    CatalogSource source = CatalogSource::bundled;
};

// How one local copy fared when it was read: a status report shows this
// beside the catalog without decoding the copy a second time.
struct LocalCopy {
    enum class State { ok, missing, unreadable, unusable };
    State state = State::missing;
    QString detail; // why it was unreadable or unusable
};

struct LocalCopies {
    LocalCopy cached;
    LocalCopy bundled;
};

// Produces the catalog the application shows, from the copy built into the
// application, the copy cached in the support folder and the live copy, and
// lays the products' release feeds over it. All state lives in two files:
// catalog.json (the last good live catalog, byte for byte) and feeds.json
// (the last good release of every product's feed, accumulated).
//
// Every operation blocks; run it off the main thread. Network failures never
// escape loadRemote/load: the caller keeps the catalog it has.
class CatalogLoader {
public:
    struct Locations {
        QString supportFolder;   // holds catalog.json and feeds.json
        QUrl catalogURL;         // the live catalog
        QString bundledCatalog;  // the built-in copy (a Qt resource path in the application)
    };

    // The application's own locations; reaching the support folder for the
    // first time moves old cache files in (see Config::supportFolder).
    static Locations defaultLocations();

    CatalogLoader();
    explicit CatalogLoader(Locations locations);

    const Locations& locations() const { return m_locations; }
    QString cacheFile() const;
    QString feedCacheFile() const;

    // Decodes one catalog document. Throws Json::DecodingError, or HubError
    // "This catalog needs a newer Tarnhub." for a schema other than 1.
    static Catalog decode(const QByteArray& data);

    // The better of the cached and built-in copies, with the cached feed
    // releases laid over it; none when neither decodes. With `copies`, also
    // says how each copy fared.
    std::optional<LoadedCatalog> loadLocal(LocalCopies* copies = nullptr) const;

    // One GET with the application's User-Agent, idle for at most `timeout`
    // and done within the session's fetchDeadline. Throws Http::TransportError,
    // or HubError for a refused address or any status but 200.
    static QByteArray fetch(const QUrl& url, const Http::Session& session, double timeout,
                            qint64 maxBytes = kMaxCatalogBytes);

    // Fetches every feed at once on the calling thread and parses them;
    // failures are left out. `timeout` is each fetch's idle limit, the
    // session's fetchDeadline its whole limit.
    static std::map<QString, Release> fetchFeeds(const std::vector<std::pair<QString, Feed>>& feeds,
                                                 const Http::Session& session, double timeout = kTimeout);

    // The release a feed document announces for the feed's channel; none when
    // the document cannot be used. Pure: no network, no disk.
    static std::optional<Release> parseFeed(const QByteArray& data, const Feed& feed);

    // Fetches the live catalog and the feeds, updates both cache files, and
    // returns the live catalog with feed releases laid over it; none (and no
    // file changed) when the live catalog cannot be had.
    std::optional<Catalog> loadRemote(const std::optional<Catalog>& known, const Http::Session& session) const;

    // loadLocal(), then loadRemote() with it; the live catalog when it came.
    std::optional<LoadedCatalog> load(const Http::Session& session) const;

    static constexpr double kTimeout = 6.0;
    static constexpr qint64 kMaxCatalogBytes = 32 * 1024 * 1024;
    static constexpr qint64 kMaxFeedBytes = 4 * 1024 * 1024;

private:
    std::map<QString, Release> readFeedCache() const;
    // Each product with a feed takes its release from `first`, else from
    // `second`.
    static void overlay(Catalog& catalog, const std::map<QString, Release>& first,
                        const std::map<QString, Release>& second);

    Locations m_locations;
};

} // namespace Hub
