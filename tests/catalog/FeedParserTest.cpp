#include "Catalog/CatalogLoader.h"

#include "QStringPrinter.h"

#include <gtest/gtest.h>

#include <limits>
#include <ostream>

using namespace Hub;
using namespace Qt::StringLiterals;

namespace Hub {
[[maybe_unused]] static void PrintTo(const Release& r, std::ostream* os) { *os << r.toJson().toStdString(); }
} // namespace Hub

namespace {

Feed a2m(std::optional<QStringList> archs = std::nullopt, std::optional<QString> minMacOS = std::nullopt)
{
    return Feed{u"https://feeds.tarnaudio.example/alpha.json"_s, u"a2m"_s, std::nullopt, std::nullopt,
                std::move(archs), std::move(minMacOS)};
}

// A feed document whose "standard" channel is `entry` (JSON object text).
QByteArray standard(const char* entry)
{
    return QByteArray(R"({"releases":{"standard":)") + entry + "}}";
}

// The entry with a version and `more` keys.
std::optional<Release> parseEntry(const char* more, const Feed& feed = a2m())
{
    return CatalogLoader::parseFeed(standard(QByteArray(R"({"version":"1.0")" + QByteArray(more) + "}")), feed);
}

TEST(FeedParser, FullEntry)
{
    const QByteArray document = R"({"releases":{
        "beta":{"version":"4.0b1"},
        "standard":{"enabled":true,"version":"3.2.1",
            "package_url":"https://cdn.example/Alpha-3.2.1.pkg","download_url":"https://cdn.example/Alpha-3.2.1.dmg",
            "package_sha256":"pk","sha256":{"Alpha-3.2.1.dmg":"dm","Alpha-Full-3.2.1.dmg":"fu"},
            "notes":"New hall.","archs":["x86_64","arm64"],"min_macos":"11.5",
            "full_download_url":"https://cdn.example/Alpha-Full-3.2.1.dmg","full_download_size":734003200,
            "size":99,"artifacts":[{"format":"vst3"}]}}})";

    Release expected;
    expected.version = u"3.2.1"_s;
    expected.pkgURL = u"https://cdn.example/Alpha-3.2.1.pkg"_s;
    expected.dmgURL = u"https://cdn.example/Alpha-3.2.1.dmg"_s;
    expected.sha256 = u"pk"_s;
    expected.notes = u"New hall."_s;
    expected.archs = QStringList{u"x86_64"_s, u"arm64"_s};
    expected.minMacOS = u"11.5"_s;
    expected.fullDmgURL = u"https://cdn.example/Alpha-Full-3.2.1.dmg"_s;
    expected.fullSHA256 = u"fu"_s;
    expected.fullSize = 734003200;
    EXPECT_EQ(CatalogLoader::parseFeed(document, a2m()), expected);

    Feed beta = a2m();
    beta.channel = u"beta"_s;
    Release betaRelease;
    betaRelease.version = u"4.0b1"_s;
    EXPECT_EQ(CatalogLoader::parseFeed(document, beta), betaRelease);
}

TEST(FeedParser, SmallestEntry)
{
    Release expected;
    expected.version = QString();
    EXPECT_EQ(CatalogLoader::parseFeed(standard(R"({"version":""})"), a2m()), expected);
    expected.version = u"1.0"_s;
    EXPECT_EQ(parseEntry(R"(,"enabled":true,"package_url":"","download_url":7,"package_sha256":1,"notes":[])"), expected);
}

TEST(FeedParser, Rejections)
{
    const QByteArray good = standard(R"({"version":"1.0"})");
    Feed otherFormat = a2m();
    otherFormat.format = u"A2M"_s;
    Feed beta = a2m();
    beta.channel = u"beta"_s;

    struct Case {
        const char* name;
        QByteArray document;
        Feed feed;
    };
    for (const Case& c : {
             Case{"format compared exactly", good, otherFormat},
             Case{"not JSON", "{\"releases\":", a2m()},
             Case{"top level a list", "[" + good + "]", a2m()},
             Case{"no releases", R"({"standard":{"version":"1.0"}})", a2m()},
             Case{"releases a list", R"({"releases":[{"version":"1.0"}]})", a2m()},
             Case{"channel missing", good, beta},
             Case{"channel entry not an object", R"({"releases":{"standard":"1.0"}})", a2m()},
             Case{"disabled", standard(R"({"enabled":false,"version":"1.0"})"), a2m()},
             Case{"no version", standard(R"({"notes":"x"})"), a2m()},
             Case{"version a number", standard(R"({"version":1.0})"), a2m()},
             Case{"version null", standard(R"({"version":null})"), a2m()},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CatalogLoader::parseFeed(c.document, c.feed), std::nullopt);
    }
}

TEST(FeedParser, Checksum)
{
    struct Case {
        const char* name;
        const char* more;
        std::optional<QString> sha256;
    };
    for (const Case& c : {
             Case{"package checksum", R"(,"package_url":"https://c.example/A.pkg","download_url":"https://c.example/A.dmg",
                    "package_sha256":"pk","sha256":{"A.dmg":"dm"})", u"pk"_s},
             Case{"table is for disk images only", R"(,"package_url":"https://c.example/A.pkg","sha256":{"A.pkg":"t"})",
                  std::nullopt},
             Case{"image checksum from table", R"(,"download_url":"https://c.example/d/A.dmg","package_sha256":"pk",
                    "sha256":{"B.dmg":"b","A.dmg":"dm"})", u"dm"_s},
             Case{"empty package address", R"(,"package_url":"","download_url":"https://c.example/A.dmg",
                    "package_sha256":"pk","sha256":{"A.dmg":"dm"})", u"dm"_s},
             Case{"query not part of the name", R"(,"download_url":"https://c.example/A.dmg?sig=1","sha256":{"A.dmg":"dm"})",
                  u"dm"_s},
             Case{"image not in table", R"(,"download_url":"https://c.example/A.dmg","package_sha256":"pk",
                    "sha256":{"a.dmg":"dm"})", std::nullopt},
             Case{"table with a number voids it", R"(,"download_url":"https://c.example/A.dmg",
                    "sha256":{"A.dmg":"dm","B.dmg":2})", std::nullopt},
             Case{"table a list", R"(,"download_url":"https://c.example/A.dmg","sha256":["dm"])", std::nullopt},
         }) {
        SCOPED_TRACE(c.name);
        const auto release = parseEntry(c.more);
        ASSERT_TRUE(release);
        EXPECT_EQ(release->sha256, c.sha256);
    }
}

TEST(FeedParser, Processors)
{
    const QStringList arm{u"arm64"_s};
    const QStringList intel{u"x86_64"_s};
    struct Case {
        const char* name;
        const char* more;
        std::optional<QStringList> feedArchs;
        std::optional<QStringList> archs;
    };
    for (const Case& c : {
             Case{"entry wins", R"(,"archs":["arm64"])", intel, arm},
             Case{"feed when entry has none", "", QStringList{u"x86_64"_s, u"arm64"_s},
                  QStringList{u"x86_64"_s, u"arm64"_s}},
             Case{"feed when entry list empty", R"(,"archs":[])", intel, intel},
             Case{"feed when entry list not all text", R"(,"archs":["arm64",5])", intel, intel},
             Case{"entry text, not a list", R"(,"archs":"arm64")", std::nullopt, std::nullopt},
             Case{"unknown names dropped, duplicates kept", R"(,"archs":["ppc","arm64","arm64","ARM64","x86_64"])",
                  std::nullopt, QStringList{u"arm64"_s, u"arm64"_s, u"x86_64"_s}},
             Case{"nothing known left, no fallback", R"(,"archs":["ppc"])", arm, std::nullopt},
             Case{"feed list filtered too", "", QStringList{u"i386"_s}, std::nullopt},
             Case{"none anywhere", "", std::nullopt, std::nullopt},
         }) {
        SCOPED_TRACE(c.name);
        const auto release = parseEntry(c.more, a2m(c.feedArchs));
        ASSERT_TRUE(release);
        EXPECT_EQ(release->archs, c.archs);
    }
}

TEST(FeedParser, MinimumMacOS)
{
    struct Case {
        const char* name;
        const char* more;
        std::optional<QString> feedMinimum;
        std::optional<QString> minimum;
    };
    for (const Case& c : {
             Case{"one group", R"(,"min_macos":"12")", std::nullopt, u"12"_s},
             Case{"three groups", R"(,"min_macos":"10.15.7")", u"11"_s, u"10.15.7"_s},
             Case{"four groups", R"(,"min_macos":"10.15.7.1")", std::nullopt, std::nullopt},
             Case{"four groups, feed's", R"(,"min_macos":"10.15.7.1")", u"11.0"_s, u"11.0"_s},
             Case{"trailing dot", R"(,"min_macos":"12.")", std::nullopt, std::nullopt},
             Case{"prefix", R"(,"min_macos":"v12")", std::nullopt, std::nullopt},
             Case{"trailing line break", R"(,"min_macos":"12.0\n")", std::nullopt, std::nullopt},
             Case{"leading space", R"(,"min_macos":" 12")", std::nullopt, std::nullopt},
             Case{"empty", R"(,"min_macos":"")", u"11"_s, u"11"_s},
             Case{"other script's digits", R"(,"min_macos":"\u0661\u0662")", std::nullopt, std::nullopt},
             Case{"a number", R"(,"min_macos":12)", u"13.1"_s, u"13.1"_s},
             Case{"feed's when entry has none", "", u"13.1"_s, u"13.1"_s},
             Case{"feed's must match too", "", u"13.x"_s, std::nullopt},
         }) {
        SCOPED_TRACE(c.name);
        const auto release = parseEntry(c.more, a2m(std::nullopt, c.feedMinimum));
        ASSERT_TRUE(release);
        EXPECT_EQ(release->minMacOS, c.minimum);
    }
}

TEST(FeedParser, FullDiskImage)
{
    const QString full = u"https://c.example/F.dmg"_s;
    struct Case {
        const char* name;
        const char* url;
        const char* size; // JSON text, nullptr for none
        const char* table;
        bool found;
        std::optional<qint64> expectedSize;
    };
    for (const Case& c : {
             Case{"complete", "https://c.example/F.dmg", "5", R"({"F.dmg":"fu"})", true, 5},
             Case{"size past 2^53", "https://c.example/F.dmg", "9007199254740993", R"({"F.dmg":"fu"})", true,
                  9007199254740993},
             Case{"size missing", "https://c.example/F.dmg", nullptr, R"({"F.dmg":"fu"})", true, std::nullopt},
             Case{"size as text", "https://c.example/F.dmg", "\"5\"", R"({"F.dmg":"fu"})", true, std::nullopt},
             Case{"size a fraction", "https://c.example/F.dmg", "5.5", R"({"F.dmg":"fu"})", true, std::nullopt},
             Case{"size too big", "https://c.example/F.dmg", "1e30", R"({"F.dmg":"fu"})", true, std::nullopt},
             Case{"size INT64_MIN", "https://c.example/F.dmg", "-9223372036854775808", R"({"F.dmg":"fu"})", true,
                  std::numeric_limits<qint64>::min()},
             Case{"size one below INT64_MIN", "https://c.example/F.dmg", "-9223372036854775809", R"({"F.dmg":"fu"})",
                  true, std::nullopt},
             Case{"size 1000 below INT64_MIN", "https://c.example/F.dmg", "-9223372036854776808",
                  R"({"F.dmg":"fu"})", true, std::nullopt},
             Case{"size written with an exponent", "https://c.example/F.dmg", "5e2", R"({"F.dmg":"fu"})", true, 500},
             Case{"size a fraction too small for a double", "https://c.example/F.dmg", "1e-400", R"({"F.dmg":"fu"})",
                  true, std::nullopt},
             Case{"not in table", "https://c.example/F.dmg", "5", R"({"G.dmg":"g"})", false, std::nullopt},
             Case{"table voided", "https://c.example/F.dmg", "5", R"({"F.dmg":"fu","x":1})", false, std::nullopt},
             Case{"address does not parse", "https://c example/F.dmg", "5", R"({"F.dmg":"fu"})", false, std::nullopt},
             Case{"address empty", "", "5", R"({"":"fu"})", false, std::nullopt},
         }) {
        SCOPED_TRACE(c.name);
        QByteArray more = R"(,"full_download_url":")" + QByteArray(c.url) + R"(","sha256":)" + c.table;
        if (c.size)
            more += R"(,"full_download_size":)" + QByteArray(c.size);
        const auto release = parseEntry(more.constData());
        ASSERT_TRUE(release);
        EXPECT_EQ(release->fullDmgURL, c.found ? std::optional(full) : std::nullopt);
        EXPECT_EQ(release->fullSHA256, c.found ? std::optional(u"fu"_s) : std::nullopt);
        EXPECT_EQ(release->fullSize, c.expectedSize);
    }
}

} // namespace
