#include "Catalog/CatalogLoader.h"

#include "Base/Config.h"
#include "Base/HubError.h"
#include "Base/Json.h"

#include <QDir>
#include <QFile>

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
    Catalog catalog = Catalog::fromJson(Json::parse(data));
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
        const Json::Value object = Json::parse(*bytes);
        for (const auto& [id, release] : object.members())
            out.insert_or_assign(id, Release::fromJson(release, id));
    } catch (const Json::DecodingError&) {
        // A damaged cache counts as empty; the next live load rewrites it whole.
        return {};
    }
    return out;
}

void CatalogLoader::overlay(Catalog& catalog, const std::map<QString, Release>& first,
                            const std::map<QString, Release>& second)
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

} // namespace Hub
