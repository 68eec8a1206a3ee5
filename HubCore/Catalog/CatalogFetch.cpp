// The catalog's network half: the live catalog and the release feeds. Apart
// from the local half (CatalogLoader.cpp), so what only reads the disk (the
// status report) never loads the HTTP client.
#include "Catalog/CatalogLoader.h"

#include "Base/Config.h"
#include "Base/HubError.h"
#include "Base/Json.h"

#include <QDir>
#include <QSaveFile>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

bool writeAtomically(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

// Idle for `timeout` at most, and done within the session's deadline: a
// catalog that drips a byte a second would otherwise hold the refresh, and
// the account check behind it, for ever.
Http::Request getRequest(const QUrl& url, double timeout, qint64 maxBytes, const Http::Session& session)
{
    Http::Request request;
    request.url = url;
    request.timeout = timeout;
    request.timeoutMode = Http::TimeoutMode::idle;
    request.deadline = session.limits.fetchDeadline;
    request.maxBodyBytes = maxBytes;
    request.headers.push_back({"User-Agent", "tarnaudio-hub/" + Config::hubVersion().toUtf8()});
    return request;
}

struct Target {
    QUrl url; // an address the hub does not fetch from is left out
    qint64 maxBytes = 0;
};

// The bodies of the 200 replies, all fetched at once on this thread; a failed
// fetch gives none.
std::vector<std::optional<QByteArray>> fetchBodies(const std::vector<Target>& targets, const Http::Session& session,
                                                   double timeout)
{
    std::vector<std::optional<QByteArray>> bodies(targets.size());
    try {
        std::vector<Http::Request> requests;
        std::vector<std::size_t> sent;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            if (!Http::isAllowedDownloadURL(targets[i].url))
                continue;
            requests.push_back(getRequest(targets[i].url, timeout, targets[i].maxBytes, session));
            sent.push_back(i);
        }
        std::vector<Http::Outcome> outcomes = Http::performAll(session, requests);
        for (std::size_t k = 0; k < outcomes.size(); ++k)
            if (outcomes[k].response && outcomes[k].response->status == 200)
                bodies[sent[k]] = std::move(outcomes[k].response->body);
    } catch (...) {
        // Out of memory: what was not kept counts as a failed fetch.
    }
    return bodies;
}

void appendFeedTargets(std::vector<Target>& targets, const std::vector<std::pair<QString, Feed>>& feeds)
{
    for (const auto& [id, feed] : feeds) {
        const QUrl url(feed.url, QUrl::StrictMode);
        targets.push_back({feed.url.isEmpty() || !url.isValid() ? QUrl() : url, CatalogLoader::kMaxFeedBytes});
    }
}

// The releases of the feeds whose bodies start at `first`; unusable ones are left out.
std::map<QString, Release> parseFeeds(const std::vector<std::pair<QString, Feed>>& feeds,
                                      const std::vector<std::optional<QByteArray>>& bodies, std::size_t first)
{
    std::map<QString, Release> out;
    for (std::size_t i = 0; i < feeds.size(); ++i) {
        const std::optional<QByteArray>& body = bodies[first + i];
        if (!body)
            continue;
        if (std::optional<Release> release = CatalogLoader::parseFeed(*body, feeds[i].second))
            out.insert_or_assign(feeds[i].first, std::move(*release));
    }
    return out;
}

std::vector<std::pair<QString, Feed>> feedsOf(const Catalog& catalog)
{
    std::vector<std::pair<QString, Feed>> out;
    for (const Product& p : catalog.products)
        if (p.feed)
            out.emplace_back(p.id, *p.feed);
    return out;
}

} // namespace

QByteArray CatalogLoader::fetch(const QUrl& url, const Http::Session& session, double timeout, qint64 maxBytes)
{
    // The hub fetches nothing but https; plain http only to this machine.
    if (!Http::isAllowedDownloadURL(url))
        throw HubError::message(u"The hub only downloads over https."_s);

    const Http::Response response = Http::perform(session, getRequest(url, timeout, maxBytes, session));
    if (response.status != 200)
        throw HubError::message(u"HTTP error"_s);
    return response.body;
}

std::map<QString, Release> CatalogLoader::fetchFeeds(const std::vector<std::pair<QString, Feed>>& feeds,
                                                     const Http::Session& session, double timeout)
{
    std::vector<Target> targets;
    appendFeedTargets(targets, feeds);
    return parseFeeds(feeds, fetchBodies(targets, session, timeout), 0);
}

std::optional<Catalog> CatalogLoader::loadRemote(const std::optional<Catalog>& known,
                                                 const Http::Session& session) const
{
    const std::vector<std::pair<QString, Feed>> knownFeeds = known ? feedsOf(*known) : decltype(knownFeeds){};

    // The catalog downloads while the known products' feeds are fetched.
    std::vector<Target> targets{{m_locations.catalogURL, kMaxCatalogBytes}};
    appendFeedTargets(targets, knownFeeds);
    const std::vector<std::optional<QByteArray>> bodies = fetchBodies(targets, session, kTimeout);
    std::map<QString, Release> fetched = parseFeeds(knownFeeds, bodies, 1);

    const std::optional<QByteArray>& bytes = bodies.front();
    if (!bytes)
        return std::nullopt;
    Catalog live;
    try {
        live = decode(*bytes);
    } catch (const std::exception&) {
        return std::nullopt;
    }

    // Products new in the live catalog get their feed fetched now; a product
    // whose feed was tried above is not tried again, even at another address.
    std::vector<std::pair<QString, Feed>> missing;
    for (auto& pair : feedsOf(live)) {
        const bool tried = std::any_of(knownFeeds.begin(), knownFeeds.end(),
                                       [&](const auto& k) { return k.first == pair.first; });
        if (!tried && !fetched.contains(pair.first))
            missing.push_back(std::move(pair));
    }
    if (!missing.empty())
        fetched.merge(fetchFeeds(missing, session));

    std::map<QString, Release> cached = readFeedCache();
    overlay(live, fetched, cached);

    QDir().mkpath(m_locations.supportFolder);
    writeAtomically(cacheFile(), *bytes);

    for (auto& [id, release] : fetched)
        cached.insert_or_assign(id, release);
    Json::ObjectWriter feedsJson;
    for (const auto& [id, release] : cached)
        feedsJson.addEncoded(id, release.toJson());
    writeAtomically(feedCacheFile(), feedsJson.finish());

    return live;
}

std::optional<LoadedCatalog> CatalogLoader::load(const Http::Session& session) const
{
    std::optional<LoadedCatalog> local = loadLocal();
    std::optional<Catalog> live =
        loadRemote(local ? std::optional<Catalog>(local->catalog) : std::nullopt, session);
    if (live)
        return LoadedCatalog{std::move(*live), CatalogSource::live};
    return local;
}

} // namespace Hub
