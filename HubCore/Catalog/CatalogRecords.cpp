#include "Catalog/CatalogRecords.h"

#include "Base/Config.h"
#include "Base/Json.h"

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

template <typename T>
QByteArray encodeList(const std::vector<T>& items)
{
    std::vector<QByteArray> encoded;
    encoded.reserve(items.size());
    for (const T& item : items)
        encoded.push_back(item.toJson());
    return Json::encodeArray(encoded);
}

template <typename T>
void addRecord(Json::ObjectWriter& w, QAnyStringView key, const std::optional<T>& value)
{
    if (value)
        w.addEncoded(key, value->toJson());
}

template <typename T>
void addList(Json::ObjectWriter& w, QAnyStringView key, const std::optional<std::vector<T>>& value)
{
    if (value)
        w.addEncoded(key, encodeList(*value));
}

template <typename Decode>
auto listOf(Decode decode)
{
    return [decode](const Json::Value& v, const Json::Path& path) { return Json::decodeList(v, path, decode); };
}

} // namespace

// ReleaseNote

ReleaseNote ReleaseNote::fromJson(const Json::Value& value, const Json::Path& path)
{
    const Json::ObjectReader r(value, path);
    ReleaseNote n;
    n.version = r.string("version"_L1);
    n.date = r.optionalString("date"_L1);
    n.notes = r.required("notes"_L1, Json::decodeStringList);
    return n;
}

QByteArray ReleaseNote::toJson() const
{
    Json::ObjectWriter w;
    w.add("version"_L1, version).add("date"_L1, date).add("notes"_L1, notes);
    return w.finish();
}

// Artifact

Artifact Artifact::fromJson(const Json::Value& value, const Json::Path& path)
{
    const Json::ObjectReader r(value, path);
    Artifact a;
    a.format = r.required("format"_L1, decodePluginFormat);
    a.url = r.string("url"_L1);
    a.sha256 = r.string("sha256"_L1);
    a.size = r.optionalInt64("size"_L1);
    a.bundle = r.string("bundle"_L1);
    a.au = r.optional("au"_L1, AUDescriptor::fromJson);
    a.archs = r.optionalStringList("archs"_L1);
    a.bundleID = r.optionalString("bundle_id"_L1);
    return a;
}

QByteArray Artifact::toJson() const
{
    Json::ObjectWriter w;
    w.add("format"_L1, rawValue(format)).add("url"_L1, url).add("sha256"_L1, sha256).add("size"_L1, size);
    w.add("bundle"_L1, bundle);
    addRecord(w, "au"_L1, au);
    w.add("archs"_L1, archs).add("bundle_id"_L1, bundleID);
    return w.finish();
}

// Release

Release Release::fromJson(const Json::Value& value, const Json::Path& path)
{
    const Json::ObjectReader r(value, path);
    Release rel;
    rel.version = r.string("version"_L1);
    rel.sha256 = r.optionalString("sha256"_L1);
    rel.size = r.optionalInt64("size"_L1);
    rel.notes = r.optionalString("notes"_L1);
    rel.artifacts = r.optional("artifacts"_L1, listOf(Artifact::fromJson));
    rel.archs = r.optionalStringList("archs"_L1);
    rel.pkgURL = r.optionalString("pkg_url"_L1);
    rel.dmgURL = r.optionalString("dmg_url"_L1);
    rel.minMacOS = r.optionalString("min_macos"_L1);
    rel.fullDmgURL = r.optionalString("full_dmg_url"_L1);
    rel.fullSHA256 = r.optionalString("full_sha256"_L1);
    rel.fullSize = r.optionalInt64("full_size"_L1);
    return rel;
}

Release Release::decode(const QByteArray& data)
{
    return fromJson(Json::parse(data), {});
}

QByteArray Release::toJson() const
{
    Json::ObjectWriter w;
    w.add("version"_L1, version).add("sha256"_L1, sha256).add("size"_L1, size).add("notes"_L1, notes);
    addList(w, "artifacts"_L1, artifacts);
    w.add("archs"_L1, archs)
        .add("pkg_url"_L1, pkgURL)
        .add("dmg_url"_L1, dmgURL)
        .add("min_macos"_L1, minMacOS)
        .add("full_dmg_url"_L1, fullDmgURL)
        .add("full_sha256"_L1, fullSHA256)
        .add("full_size"_L1, fullSize);
    return w.finish();
}

// Feed

Feed Feed::fromJson(const Json::Value& value, const Json::Path& path)
{
    const Json::ObjectReader r(value, path);
    Feed f;
    f.url = r.string("url"_L1);
    f.format = r.string("format"_L1);
    f.channel = r.optionalString("channel"_L1);
    f.archs = r.optionalStringList("archs"_L1);
    f.updateOnly = r.optionalBool("update_only"_L1);
    f.minMacOS = r.optionalString("min_macos"_L1);
    return f;
}

QByteArray Feed::toJson() const
{
    Json::ObjectWriter w;
    w.add("url"_L1, url)
        .add("format"_L1, format)
        .add("channel"_L1, channel)
        .add("archs"_L1, archs)
        .add("update_only"_L1, updateOnly)
        .add("min_macos"_L1, minMacOS);
    return w.finish();
}

// Install

Install Install::fromJson(const Json::Value& value, const Json::Path& path)
{
    const Json::ObjectReader r(value, path);
    return Install{r.required("bundles"_L1, Json::decodeStringList)};
}

QByteArray Install::toJson() const
{
    return Json::ObjectWriter().add("bundles"_L1, bundles).finish();
}

// Product

Product Product::fromJson(const Json::Value& value, const Json::Path& path)
{
    const Json::ObjectReader r(value, path);
    Product p;
    p.id = r.string("id"_L1);
    p.name = r.string("name"_L1);
    p.tagline = r.string("tagline"_L1);
    p.kind = r.string("kind"_L1);
    p.formats = r.optionalStringList("formats"_L1);
    p.status = r.string("status"_L1);
    p.price = r.optionalString("price"_L1);
    p.accent = r.optionalString("accent"_L1);
    p.icon = r.optionalString("icon"_L1);
    p.accentText = r.optionalString("accent_text"_L1);
    p.tint = r.optionalString("tint"_L1);
    p.tile = r.optionalString("tile"_L1);
    p.tileText = r.optionalString("tile_text"_L1);
    p.displayName = r.optionalString("display_name"_L1);
    p.release = r.optional("release"_L1, Release::fromJson);
    p.feed = r.optional("feed"_L1, Feed::fromJson);
    p.install = r.optional("install"_L1, Install::fromJson);
    p.releases = r.optional("releases"_L1, listOf(ReleaseNote::fromJson));
    p.buyURL = r.optionalString("buy_url"_L1);
    p.pageURL = r.optionalString("page_url"_L1);
    p.settingsFolder = r.optionalString("settings_folder"_L1);
    return p;
}

QByteArray Product::toJson() const
{
    Json::ObjectWriter w;
    w.add("id"_L1, id)
        .add("name"_L1, name)
        .add("tagline"_L1, tagline)
        .add("kind"_L1, kind)
        .add("formats"_L1, formats)
        .add("status"_L1, status)
        .add("price"_L1, price)
        .add("accent"_L1, accent)
        .add("icon"_L1, icon)
        .add("accent_text"_L1, accentText)
        .add("tint"_L1, tint)
        .add("tile"_L1, tile)
        .add("tile_text"_L1, tileText)
        .add("display_name"_L1, displayName);
    addRecord(w, "release"_L1, release);
    addRecord(w, "feed"_L1, feed);
    addRecord(w, "install"_L1, install);
    addList(w, "releases"_L1, releases);
    w.add("buy_url"_L1, buyURL).add("page_url"_L1, pageURL).add("settings_folder"_L1, settingsFolder);
    return w.finish();
}

bool Product::isComingSoon() const { return status == "coming_soon"_L1; }
bool Product::isFree() const { return status == "free"_L1; }
bool Product::isInvite() const { return status == "invite"_L1; }
bool Product::isApp() const { return kind == "app"_L1; }

QString Product::shown() const
{
    return displayName ? *displayName : name.toLower();
}

std::optional<QUrl> Product::iconURL() const
{
    if (!icon || icon->isEmpty())
        return std::nullopt;
    const QUrl parsed(*icon, QUrl::StrictMode);
    if (!parsed.isValid())
        return std::nullopt;
    return Config::site().resolved(parsed);
}

bool Product::updateOnly() const
{
    if (!feed || !feed->updateOnly.value_or(false))
        return false;
    return !release || !release->fullDmgURL;
}

std::vector<ReleaseNote> Product::history() const
{
    std::vector<ReleaseNote> list = releases.value_or(std::vector<ReleaseNote>{});
    if (!release || !release->notes || release->notes->isEmpty())
        return list;
    for (const ReleaseNote& entry : list)
        if (entry.version == release->version)
            return list;
    list.insert(list.begin(), ReleaseNote{release->version, std::nullopt, QStringList{*release->notes}});
    return list;
}

// Catalog

Catalog Catalog::fromJson(const Json::Value& value, const Json::Path& path)
{
    const Json::ObjectReader r(value, path);
    Catalog c;
    c.schema = r.required("schema"_L1, Json::decodeInt64);
    c.updated = r.optionalString("updated"_L1);
    c.hub = r.optional("hub"_L1, Release::fromJson);
    c.products = r.required("products"_L1, listOf(Product::fromJson));
    c.hubReleases = r.optional("hub_releases"_L1, listOf(ReleaseNote::fromJson));
    return c;
}

QByteArray Catalog::toJson() const
{
    Json::ObjectWriter w;
    w.add("schema"_L1, schema).add("updated"_L1, updated);
    addRecord(w, "hub"_L1, hub);
    w.addEncoded("products"_L1, encodeList(products));
    addList(w, "hub_releases"_L1, hubReleases);
    return w.finish();
}

const Product* Catalog::product(const QString& id) const
{
    for (const Product& p : products)
        if (p.id == id)
            return &p;
    return nullptr;
}

} // namespace Hub
