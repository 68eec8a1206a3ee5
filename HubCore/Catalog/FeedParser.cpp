// Release feeds in the "a2m" format: one JSON document per product that
// announces its current release per channel.
#include "Catalog/CatalogLoader.h"

#include "Base/Json.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace Hub {

namespace {

std::optional<QString> nonEmptyString(const QJsonObject& o, QLatin1StringView key)
{
    const QJsonValue v = o.value(key);
    if (!v.isString() || v.toString().isEmpty())
        return std::nullopt;
    return v.toString();
}

std::optional<QString> stringValue(const QJsonObject& o, QLatin1StringView key)
{
    const QJsonValue v = o.value(key);
    return v.isString() ? std::optional(v.toString()) : std::nullopt;
}

// The table of checksums by download file name; anything but an object
// whose every value is text counts as empty.
std::map<QString, QString> checksumTable(const QJsonValue& v)
{
    std::map<QString, QString> table;
    if (!v.isObject())
        return table;
    const QJsonObject o = v.toObject();
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (!it.value().isString())
            return {};
        table[it.key()] = it.value().toString();
    }
    return table;
}

QString fileNameOf(const QString& address)
{
    const QUrl url(address, QUrl::StrictMode);
    return url.isValid() ? url.fileName() : QString();
}

std::optional<QStringList> stringArray(const QJsonValue& v)
{
    if (!v.isArray())
        return std::nullopt;
    QStringList out;
    for (const QJsonValue& e : v.toArray()) {
        if (!e.isString())
            return std::nullopt;
        out.push_back(e.toString());
    }
    return out;
}

bool isMinimumVersion(const QString& text)
{
    // One to three groups of ASCII digits; the whole text, no trailing line break.
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(u"[0-9]+(\\.[0-9]+){0,2}"_s));
    return pattern.match(text).hasMatch();
}

} // namespace

std::optional<Release> CatalogLoader::parseFeed(const QByteArray& data, const Feed& feed)
{
    if (feed.format != "a2m"_L1)
        return std::nullopt;

    QJsonObject document;
    try {
        document = Json::parseObject(data);
    } catch (const Json::DecodingError&) {
        return std::nullopt;
    }

    const QJsonValue releases = document.value("releases"_L1);
    if (!releases.isObject())
        return std::nullopt;
    const QJsonValue entryValue = releases.toObject().value(feed.channel.value_or(u"standard"_s));
    if (!entryValue.isObject())
        return std::nullopt;
    const QJsonObject entry = entryValue.toObject();

    const QJsonValue enabled = entry.value("enabled"_L1);
    if (enabled.isBool() && !enabled.toBool())
        return std::nullopt;

    const QJsonValue version = entry.value("version"_L1);
    if (!version.isString())
        return std::nullopt;

    Release release;
    release.version = version.toString();
    release.pkgURL = nonEmptyString(entry, "package_url"_L1);
    release.dmgURL = nonEmptyString(entry, "download_url"_L1);

    release.sha256 = stringValue(entry, "package_sha256"_L1);
    const std::map<QString, QString> table = checksumTable(entry.value("sha256"_L1));
    if (!release.pkgURL && release.dmgURL) {
        const auto found = table.find(fileNameOf(*release.dmgURL));
        release.sha256 = found != table.end() ? std::optional(found->second) : std::nullopt;
    }

    release.notes = stringValue(entry, "notes"_L1);

    std::optional<QStringList> archs = stringArray(entry.value("archs"_L1));
    if (!archs || archs->isEmpty())
        archs = feed.archs;
    if (archs) {
        QStringList known;
        for (const QString& a : *archs)
            if (a == "arm64"_L1 || a == "x86_64"_L1)
                known.push_back(a);
        release.archs = known.isEmpty() ? std::nullopt : std::optional(known);
    }

    if (auto m = stringValue(entry, "min_macos"_L1); m && isMinimumVersion(*m))
        release.minMacOS = m;
    else if (feed.minMacOS && isMinimumVersion(*feed.minMacOS))
        release.minMacOS = feed.minMacOS;

    if (auto full = nonEmptyString(entry, "full_download_url"_L1)) {
        const QUrl url(*full, QUrl::StrictMode);
        const auto found = url.isValid() ? table.find(url.fileName()) : table.end();
        if (found != table.end()) {
            release.fullDmgURL = full;
            release.fullSHA256 = found->second;
            release.fullSize = Json::wholeNumber(entry.value("full_download_size"_L1));
        }
    }

    return release;
}

} // namespace Hub
