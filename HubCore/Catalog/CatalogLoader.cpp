#include "Catalog/CatalogLoader.h"

#include "Base/Config.h"
#include "Base/HubError.h"
#include "Base/Json.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

std::optional<QByteArray> readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

std::optional<Catalog> decodeFile(const QString& path, LocalCopy& copy)
{
    QFile file(path);
    if (!file.exists()) {
        copy = {LocalCopy::State::missing, {}};
        return std::nullopt;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        copy = {LocalCopy::State::unreadable, file.errorString()};
        return std::nullopt;
    }
    try {
        Catalog catalog = CatalogLoader::decode(file.readAll());
        copy = {LocalCopy::State::ok, {}};
        return catalog;
    } catch (const std::exception& error) {
        copy = {LocalCopy::State::unusable, QString::fromUtf8(error.what())};
        return std::nullopt;
    }
}

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

void overlay(Catalog& catalog, const std::map<QString, Release>& first, const std::map<QString, Release>& second)
{
    for (Product& product : catalog.products) {
        if (!product.feed)
            continue;
        if (auto it = first.find(product.id); it != first.end())
            product.release = it->second;
        else if (auto it2 = second.find(product.id); it2 != second.end())
            product.release = it2->second;
    }
}

Http::Request getRequest(const QUrl& url, double timeout, qint64 maxBytes)
{
    Http::Request request;
    request.url = url;
    request.timeout = timeout;
    request.timeoutMode = Http::TimeoutMode::idle;
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
            requests.push_back(getRequest(targets[i].url, timeout, targets[i].maxBytes));
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

CatalogLoader::Locations CatalogLoader::defaultLocations()
{
    return Locations{Config::supportFolder(), Config::catalogURL(), u":/catalog.json"_s};
}

CatalogLoader::CatalogLoader()
    : CatalogLoader(defaultLocations())
{
}

CatalogLoader::CatalogLoader(Locations locations)
    : m_locations(std::move(locations))
{
}

QString CatalogLoader::cacheFile() const
{
    return QDir(m_locations.supportFolder).filePath(u"catalog.json"_s);
}

QString CatalogLoader::feedCacheFile() const
{
    return QDir(m_locations.supportFolder).filePath(u"feeds.json"_s);
}

Catalog CatalogLoader::decode(const QByteArray& data)
{
    Catalog catalog = Catalog::fromJson(Json::parseObject(data));
    if (catalog.schema != 1)
        throw HubError::message(u"This catalog needs a newer Tarnhub."_s);
    return catalog;
}

std::map<QString, Release> CatalogLoader::readFeedCache() const
{
    std::map<QString, Release> out;
    const auto bytes = readFile(feedCacheFile());
    if (!bytes)
        return out;
    try {
        const QJsonObject object = Json::parseObject(*bytes);
        for (auto it = object.begin(); it != object.end(); ++it)
            out.emplace(it.key(), Release::fromJson(it.value(), it.key()));
    } catch (const Json::DecodingError&) {
        // A damaged cache counts as empty; the next live load rewrites it whole.
        return {};
    }
    return out;
}

std::optional<LoadedCatalog> CatalogLoader::loadLocal(LocalCopies* copies) const
{
    LocalCopies states;
    std::optional<Catalog> cached = decodeFile(cacheFile(), states.cached);
    std::optional<Catalog> bundled = decodeFile(m_locations.bundledCatalog, states.bundled);
    if (copies)
        *copies = states;

    std::optional<LoadedCatalog> chosen;
    if (cached && bundled) {
        // Plain text order of the stamps; the built-in copy wins only when it
        // is strictly newer, so a cache of the same catalog is kept.
        const QString cachedStamp = cached->updated.value_or(QString());
        const QString bundledStamp = bundled->updated.value_or(QString());
        if (cachedStamp < bundledStamp)
            chosen = LoadedCatalog{std::move(*bundled), CatalogSource::bundled};
        else
            chosen = LoadedCatalog{std::move(*cached), CatalogSource::cached};
    } else if (cached) {
        chosen = LoadedCatalog{std::move(*cached), CatalogSource::cached};
    } else if (bundled) {
        chosen = LoadedCatalog{std::move(*bundled), CatalogSource::bundled};
    } else {
        return std::nullopt;
    }

    overlay(chosen->catalog, readFeedCache(), {});
    return chosen;
}

QByteArray CatalogLoader::fetch(const QUrl& url, const Http::Session& session, double timeout, qint64 maxBytes)
{
    // The hub fetches nothing but https; plain http only to this machine.
    if (!Http::isAllowedDownloadURL(url))
        throw HubError::message(u"The hub only downloads over https."_s);

    const Http::Response response = Http::perform(session, getRequest(url, timeout, maxBytes));
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
