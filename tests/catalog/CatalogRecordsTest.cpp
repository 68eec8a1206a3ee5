#include "Catalog/CatalogRecords.h"
#include "Base/Json.h"

#include "QStringPrinter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <ostream>

using namespace Hub;
using namespace Qt::StringLiterals;

[[maybe_unused]] static void PrintTo(const QByteArray& b, std::ostream* os) { *os << b.toStdString(); }

namespace {

Catalog decodeCatalog(const QByteArray& data)
{
    return Catalog::fromJson(Json::parseObject(data));
}

// Every record and every key the catalog knows, each with a value that would
// show if it were lost: the 2^53 + 1 and 2^63 - 1 sizes do not survive a trip
// through a double.
const char kRichCatalog[] = R"json({
  "schema": 1,
  "updated": "2024-05-01T10:00:00Z",
  "hub": {"version": "1.4.0", "sha256": "h1", "size": 1000, "notes": "Faster start.",
          "pkg_url": "https://tarnaudio.example/hub.pkg", "min_macos": "12.0"},
  "products": [
    {
      "id": "alpha", "name": "Alpha Verb", "tagline": "Big \"rooms\", small caf\u00e9\nSecond line",
      "kind": "plugin", "formats": ["vst3", "au"], "status": "paid", "price": "$49",
      "accent": "#ff5500", "icon": "img/alpha.png", "accent_text": "#ffffff", "tint": "#101010",
      "tile": "#202020", "tile_text": "#303030", "display_name": "ALPHA",
      "release": {
        "version": "2.1.0", "sha256": "r1", "size": 9007199254740993, "notes": "Fixes.",
        "artifacts": [
          {"format": "vst3", "url": "https://tarnaudio.example/a.vst3.zip", "sha256": "a1", "size": 10,
           "bundle": "Alpha.vst3", "archs": ["arm64", "x86_64"], "bundle_id": "com.tarnaudio.alpha.vst3"},
          {"format": "au", "url": "https://tarnaudio.example/a.component.zip", "sha256": "a2",
           "bundle": "Alpha.component", "au": {"type": "aufx", "subtype": "Alph", "manufacturer": "Tarn"},
           "archs": []}
        ],
        "archs": ["arm64"], "pkg_url": "https://tarnaudio.example/alpha.pkg",
        "dmg_url": "https://tarnaudio.example/alpha.dmg", "min_macos": "11.0",
        "full_dmg_url": "https://tarnaudio.example/alpha-full.dmg", "full_sha256": "f1",
        "full_size": 9223372036854775807
      },
      "feed": {"url": "https://feeds.tarnaudio.example/alpha.json", "format": "a2m", "channel": "beta",
               "archs": ["arm64"], "update_only": false, "min_macos": "12"},
      "install": {"bundles": ["~/.vst3/Alpha.vst3", "/usr/local/lib/components/Alpha.component"]},
      "releases": [{"version": "2.0.0", "date": "2024-01-02", "notes": ["One", "Two"]},
                   {"version": "1.0.0", "notes": []}],
      "buy_url": "https://tarnaudio.example/buy/alpha", "page_url": "https://tarnaudio.example/alpha"
    },
    {"id": "beta", "name": "Beta Box", "tagline": "Soon", "kind": "app", "status": "coming_soon"}
  ],
  "hub_releases": [{"version": "1.4.0", "notes": ["Hub notes"]}]
})json";

// ---- Round trip and encoding ----------------------------------------------

TEST(CatalogEncoding, RoundTripKeepsEveryFieldAndByte)
{
    const Catalog decoded = decodeCatalog(kRichCatalog);
    ASSERT_EQ(decoded.products.size(), 2u);
    const Product& alpha = decoded.products[0];
    EXPECT_EQ(alpha.tagline, u"Big \"rooms\", small caf\u00e9\nSecond line"_s);
    EXPECT_EQ(alpha.release->size, 9007199254740993LL);
    EXPECT_EQ(alpha.release->fullSize, 9223372036854775807LL);
    EXPECT_EQ(alpha.release->artifacts->at(1).archs, QStringList{});
    EXPECT_EQ(alpha.feed->updateOnly, false);

    const QByteArray encoded = decoded.toJson();
    EXPECT_TRUE(encoded.contains("\"size\":9007199254740993,")) << encoded.constData();
    EXPECT_TRUE(encoded.contains("\"full_size\":9223372036854775807}")) << encoded.constData();
    // The input holds only known keys and no nulls, so nothing may be dropped or added.
    EXPECT_EQ(QJsonDocument::fromJson(encoded), QJsonDocument::fromJson(kRichCatalog)) << encoded.constData();

    const Catalog again = decodeCatalog(encoded);
    EXPECT_EQ(again, decoded);
    EXPECT_EQ(again.toJson(), encoded);
}

TEST(CatalogEncoding, ReleaseKeysInOrder)
{
    const Artifact artifact{.format = PluginFormat::au, .url = u"https://x.example/a.zip"_s, .sha256 = u"ef"_s,
                            .size = 5, .bundle = u"A.component"_s, .bundleID = u"com.tarn.a"_s,
                            .au = AUDescriptor{u"aufx"_s, u"Alph"_s, u"Tarn"_s}, .archs = QStringList{u"x86_64"_s}};
    const Release release{.version = u"2.0"_s, .pkgURL = u"https://x.example/p.pkg"_s,
                          .dmgURL = u"https://x.example/d.dmg"_s, .sha256 = u"ab"_s, .size = 12, .minMacOS = u"12.0"_s,
                          .notes = u"Fixes"_s, .artifacts = std::vector<Artifact>{artifact},
                          .archs = QStringList{u"arm64"_s, u"x86_64"_s}, .fullDmgURL = u"https://x.example/f.dmg"_s,
                          .fullSHA256 = u"cd"_s, .fullSize = 34};

    const QByteArray artifactJson =
        R"({"format":"au","url":"https://x.example/a.zip","sha256":"ef","size":5,"bundle":"A.component",)"
        R"("au":{"type":"aufx","subtype":"Alph","manufacturer":"Tarn"},"archs":["x86_64"],"bundle_id":"com.tarn.a"})";
    EXPECT_EQ(artifact.toJson(), artifactJson);
    EXPECT_EQ(release.toJson(),
              QByteArray(R"({"version":"2.0","sha256":"ab","size":12,"notes":"Fixes","artifacts":[)" + artifactJson
                  + R"(],"archs":["arm64","x86_64"],"pkg_url":"https://x.example/p.pkg",)"
                    R"("dmg_url":"https://x.example/d.dmg","min_macos":"12.0","full_dmg_url":"https://x.example/f.dmg",)"
                    R"("full_sha256":"cd","full_size":34})"));

    // An empty processor list means "runs nowhere", so it must not vanish like an absent one.
    Artifact bare;
    bare.url = u"u"_s;
    bare.sha256 = u"s"_s;
    bare.bundle = u"b"_s;
    EXPECT_EQ(bare.toJson(), R"({"format":"vst3","url":"u","sha256":"s","bundle":"b"})");
    bare.archs = QStringList{};
    EXPECT_EQ(bare.toJson(), R"({"format":"vst3","url":"u","sha256":"s","bundle":"b","archs":[]})");

    Feed feed{u"f"_s, u"a2m"_s, u"beta"_s, true, QStringList{u"arm64"_s}, u"12"_s};
    EXPECT_EQ(feed.toJson(),
              R"({"url":"f","format":"a2m","channel":"beta","archs":["arm64"],"update_only":true,"min_macos":"12"})");
}

TEST(CatalogEncoding, SettingsFolderIsAnOptionalTextWrittenLast)
{
    const QByteArray product = R"({"id":"e","name":"E","tagline":"t","kind":"plugin","status":"free",)"
                               R"("page_url":"https://x.example/e","settings_folder":"Tarn Audio/Echo"})";
    const Catalog c = decodeCatalog(R"({"schema":1,"products":[)" + product + "]}");
    EXPECT_EQ(c.products.at(0).settingsFolder, u"Tarn Audio/Echo"_s);
    EXPECT_EQ(c.products.at(0).toJson(), product);
    EXPECT_FALSE(decodeCatalog(R"({"schema":1,"products":[{"id":"e","name":"E","tagline":"t","kind":"plugin",)"
                               R"("status":"free","settings_folder":null}]})")
                     .products.at(0)
                     .settingsFolder);
    try {
        decodeCatalog(R"({"schema":1,"products":[{"id":"e","name":"E","tagline":"t","kind":"plugin",)"
                      R"("status":"free","settings_folder":["Tarn Audio/Echo"]}]})");
        ADD_FAILURE() << "decoded";
    } catch (const Json::DecodingError& error) {
        EXPECT_EQ(error.path(), u"products[0].settings_folder"_s) << error.what();
    }
}

TEST(CatalogEncoding, SmallestCatalog)
{
    const QByteArray smallest = R"({"schema":1,"products":[]})";
    const Catalog c = decodeCatalog(smallest);
    EXPECT_EQ(c.schema, 1);
    EXPECT_TRUE(c.products.empty());
    EXPECT_FALSE(c.updated);
    EXPECT_FALSE(c.hub);
    EXPECT_FALSE(c.hubReleases);
    EXPECT_EQ(c.toJson(), smallest);
}

TEST(CatalogEncoding, NullOptionalsAreAbsentAndNeverWritten)
{
    const Catalog c = decodeCatalog(R"({"schema":1,"updated":null,"hub":null,"hub_releases":null,"products":[
        {"id":"a","name":"A","tagline":"t","kind":"plugin","status":"free","formats":null,"price":null,
         "accent":null,"icon":null,"accent_text":null,"tint":null,"tile":null,"tile_text":null,
         "display_name":null,"feed":null,"install":null,"releases":[{"version":"1","date":null,"notes":[]}],
         "buy_url":null,"page_url":null,
         "release":{"version":"1","sha256":null,"size":null,"notes":null,"archs":null,"pkg_url":null,
                    "dmg_url":null,"min_macos":null,"full_dmg_url":null,"full_sha256":null,"full_size":null,
                    "artifacts":[{"format":"au","url":"u","sha256":"s","bundle":"b","size":null,"au":null,
                                  "archs":null,"bundle_id":null}]}}]})");
    EXPECT_FALSE(c.updated);
    EXPECT_FALSE(c.products.at(0).displayName);
    EXPECT_FALSE(c.products.at(0).release->minMacOS);
    EXPECT_FALSE(c.products.at(0).release->artifacts->at(0).archs);
    EXPECT_EQ(c.toJson(),
              R"({"schema":1,"products":[{"id":"a","name":"A","tagline":"t","kind":"plugin","status":"free",)"
              R"("release":{"version":"1","artifacts":[{"format":"au","url":"u","sha256":"s","bundle":"b"}]},)"
              R"("releases":[{"version":"1","notes":[]}]}]})");
}

TEST(CatalogEncoding, UnknownKeysAreIgnoredAndNotWrittenBack)
{
    const Catalog c = decodeCatalog(R"({"schema":1,"future":{"x":[1,2]},"products":[
        {"id":"a","name":"A","tagline":"t","kind":"plugin","status":"free","rating":5,
         "release":{"version":"1","extra":"x","artifacts":[{"format":"vst3","url":"u","sha256":"s","bundle":"b","z":null}]}}]})");
    EXPECT_EQ(c.toJson(),
              R"({"schema":1,"products":[{"id":"a","name":"A","tagline":"t","kind":"plugin","status":"free",)"
              R"("release":{"version":"1","artifacts":[{"format":"vst3","url":"u","sha256":"s","bundle":"b"}]}}]})");
}

// ---- Strict decoding ------------------------------------------------------

// Sets the value at a '/'-separated path of keys and list indexes; an
// undefined value removes the key.
QJsonValue edited(const QJsonValue& node, QStringView path, const QJsonValue& value)
{
    const qsizetype slash = path.indexOf(u'/');
    const QStringView head = slash < 0 ? path : path.left(slash);
    const QStringView rest = slash < 0 ? QStringView() : path.mid(slash + 1);
    if (node.isArray()) {
        QJsonArray a = node.toArray();
        const int i = head.toInt();
        a[i] = rest.isEmpty() ? value : edited(a.at(i), rest, value);
        return a;
    }
    QJsonObject o = node.toObject();
    if (!rest.isEmpty())
        o.insert(head, edited(o.value(head), rest, value));
    else if (value.isUndefined())
        o.remove(head);
    else
        o.insert(head, value);
    return o;
}

// A copy of the rich catalog with one or two keys spoilt; `path` is read
// first, so it is the key the error must name.
struct BadDocument {
    const char* name;
    const char* path;
    const char* json; // the new value as JSON text; nullptr removes the key
    const char* laterPath = nullptr;
    const char* laterJson = nullptr;
};

[[maybe_unused]] void PrintTo(const BadDocument& d, std::ostream* os) { *os << d.name; }

class StrictDecoding : public testing::TestWithParam<BadDocument> {};

TEST_P(StrictDecoding, FailsTheWholeDocumentNamingTheFirstBadKey)
{
    const BadDocument& c = GetParam();
    QJsonValue document = QJsonDocument::fromJson(kRichCatalog).object();
    const auto spoil = [&](const char* path, const char* json) {
        const QJsonValue value = json ? QJsonDocument::fromJson(QByteArray("[" + QByteArray(json) + "]")).array().at(0)
                                      : QJsonValue(QJsonValue::Undefined);
        document = edited(document, QString::fromUtf8(path), value);
    };
    spoil(c.path, c.json);
    if (c.laterPath)
        spoil(c.laterPath, c.laterJson);

    QString expected = QString::fromUtf8(c.path);
    expected.replace(QRegularExpression(u"/([0-9]+)"_s), u"[\\1]"_s).replace(u'/', u'.');
    try {
        decodeCatalog(QJsonDocument(document.toObject()).toJson());
        ADD_FAILURE() << "decoded";
    } catch (const Json::DecodingError& error) {
        EXPECT_EQ(error.path(), expected) << error.what();
    }
}

const auto caseName = [](const auto& info) { return std::string(info.param.name); };

INSTANTIATE_TEST_SUITE_P(RequiredKeys, StrictDecoding, testing::Values(
    BadDocument{"SchemaMissing", "schema", nullptr},
    BadDocument{"ProductsMissing", "products", nullptr},
    BadDocument{"ProductsNull", "products", "null"},
    BadDocument{"ProductId", "products/1/id", nullptr},
    BadDocument{"ProductNameNull", "products/0/name", "null"},
    BadDocument{"ProductTagline", "products/1/tagline", nullptr},
    BadDocument{"ProductKind", "products/0/kind", nullptr},
    BadDocument{"ProductStatus", "products/0/status", "null"},
    BadDocument{"ReleaseVersion", "products/0/release/version", nullptr},
    BadDocument{"HubVersion", "hub/version", "null"},
    BadDocument{"ArtifactFormat", "products/0/release/artifacts/1/format", nullptr},
    BadDocument{"ArtifactUrl", "products/0/release/artifacts/0/url", nullptr},
    BadDocument{"ArtifactSha", "products/0/release/artifacts/0/sha256", "null"},
    BadDocument{"ArtifactBundle", "products/0/release/artifacts/1/bundle", nullptr},
    BadDocument{"AuType", "products/0/release/artifacts/1/au/type", "null"},
    BadDocument{"AuSubtype", "products/0/release/artifacts/1/au/subtype", nullptr},
    BadDocument{"AuManufacturer", "products/0/release/artifacts/1/au/manufacturer", nullptr},
    BadDocument{"FeedUrl", "products/0/feed/url", nullptr},
    BadDocument{"FeedFormat", "products/0/feed/format", "null"},
    BadDocument{"InstallBundles", "products/0/install/bundles", nullptr},
    BadDocument{"NoteVersion", "products/0/releases/1/version", nullptr},
    BadDocument{"NoteNotes", "hub_releases/0/notes", nullptr}),
    caseName);

INSTANTIATE_TEST_SUITE_P(WrongTypes, StrictDecoding, testing::Values(
    BadDocument{"TextForNumber", "schema", "\"1\""},
    BadDocument{"FractionForInt64", "products/0/release/size", "1.5"},
    BadDocument{"HugeForInt64", "products/0/release/full_size", "1e30"},
    BadDocument{"TextForArtifactSize", "products/0/release/artifacts/0/size", "\"10\""},
    BadDocument{"NumberForText", "products/1/name", "5"},
    BadDocument{"ObjectForList", "products/0/formats", "{}"},
    BadDocument{"ObjectForProducts", "products", "{}"},
    BadDocument{"NumberInTextList", "products/0/release/artifacts/0/archs/1", "1"},
    BadDocument{"TextForBool", "products/0/feed/update_only", "\"true\""},
    BadDocument{"TextForProduct", "products/1", "\"beta\""},
    BadDocument{"ListForRelease", "products/0/release", "[]"},
    BadDocument{"BoolForDate", "products/0/releases/0/date", "true"}),
    caseName);

INSTANTIATE_TEST_SUITE_P(ArtifactFormats, StrictDecoding, testing::Values(
    BadDocument{"UpperCase", "products/0/release/artifacts/0/format", "\"VST3\""},
    BadDocument{"BundleExtension", "products/0/release/artifacts/1/format", "\"component\""},
    BadDocument{"Empty", "products/0/release/artifacts/0/format", "\"\""}),
    caseName);

// Two bad keys in one record: the error names the one read first, which is
// neither alphabetical nor the order the fields are declared in.
INSTANTIATE_TEST_SUITE_P(FirstInKeyOrder, StrictDecoding, testing::Values(
    BadDocument{"CatalogUpdatedBeforeHub", "updated", "1", "hub", "1"},
    BadDocument{"CatalogProductsBeforeHubReleases", "products/0/id", "1", "hub_releases", "1"},
    BadDocument{"ProductNameBeforeKind", "products/0/name", nullptr, "products/0/kind", "1"},
    BadDocument{"ProductFormatsBeforeStatus", "products/0/formats", "1", "products/0/status", nullptr},
    BadDocument{"ProductIconBeforeAccentText", "products/0/icon", "1", "products/0/accent_text", "1"},
    BadDocument{"ProductDisplayNameBeforeRelease", "products/0/display_name", "1", "products/0/release/version", nullptr},
    BadDocument{"ProductReleasesBeforeBuyUrl", "products/0/releases", "1", "products/0/buy_url", "1"},
    BadDocument{"ReleaseSizeBeforeNotes", "products/0/release/size", "\"1\"", "products/0/release/notes", "1"},
    BadDocument{"ReleaseArchsBeforePkgUrl", "products/0/release/archs", "1", "products/0/release/pkg_url", "1"},
    BadDocument{"ReleaseMinMacOSBeforeFullDmg", "products/0/release/min_macos", "1", "products/0/release/full_dmg_url", "1"},
    BadDocument{"ArtifactBundleBeforeAu", "products/0/release/artifacts/1/bundle", nullptr, "products/0/release/artifacts/1/au", "1"},
    BadDocument{"ArtifactArchsBeforeBundleId", "products/0/release/artifacts/0/archs", "1", "products/0/release/artifacts/0/bundle_id", "1"},
    BadDocument{"FeedArchsBeforeUpdateOnly", "products/0/feed/archs", "1", "products/0/feed/update_only", "1"},
    BadDocument{"EarlierProductFirst", "products/0/price", "1", "products/1/id", nullptr}),
    caseName);

TEST(StrictDecodingMessage, NamesPathAndReason)
{
    const auto failure = [](const QByteArray& data) -> std::string {
        try {
            decodeCatalog(data);
        } catch (const Json::DecodingError& error) {
            return error.what();
        }
        return "decoded";
    };
    EXPECT_EQ(failure(R"({"schema":1,"products":[{"id":"a","name":"A","kind":"plugin","status":"free"}]})"),
              "products[0].tagline: missing");
    EXPECT_EQ(failure(R"({"schema":null,"products":[]})"), "schema: is null");
    EXPECT_EQ(failure(R"({"schema":1,"products":[{"id":"a","name":"A","tagline":"t","kind":"plugin","status":1}]})"),
              "products[0].status: expected text, found a number");
}

// The document text itself, not a value rebuilt by Qt: these are the inputs
// that Qt's own parser takes and should not.
TEST(StrictJsonText, RefusesWhatALenientParserTakes)
{
    struct Case {
        const char* name;
        QByteArray release; // the release object of the only product
        const char* path;   // the key the error names; "" for a fault of the text
        const char* reason; // the start of the reason
    };
    const auto rawText = [](char byte) -> QByteArray { return QByteArray(R"({"version":"1)") + byte + R"(0"})"; };
    for (const Case& c : {
             Case{"raw tab in a string", rawText('\t'), "", "not valid JSON (control character in a string at offset"},
             Case{"raw line break in a string", rawText('\n'), "", "not valid JSON (control character"},
             Case{"raw NUL in a string", rawText('\0'), "", "not valid JSON (control character"},
             Case{"raw line break in a key", "{\"vers\nion\":\"1\"}", "", "not valid JSON (control character"},
             Case{"one below INT64_MIN", R"({"version":"1","size":-9223372036854775809})",
                  "products[0].release.size", "expected a whole number within 64 bits"},
             Case{"1024 below INT64_MIN", R"({"version":"1","full_size":-9223372036854776832})",
                  "products[0].release.full_size", "expected a whole number within 64 bits"},
             Case{"one above INT64_MAX", R"({"version":"1","size":9223372036854775808})", "products[0].release.size",
                  "expected a whole number within 64 bits"},
             Case{"fraction lost in a double", R"({"version":"1","size":1.00000000000000001})",
                  "products[0].release.size", "expected a whole number within 64 bits"},
             Case{"invalid UTF-8", "{\"version\":\"1\xC3(\"}", "", "not valid JSON (illegal UTF-8"},
             Case{"leading zero", R"({"version":"1","size":012})", "", "not valid JSON (illegal number"},
             // About 1e399, though its exponent is negative.
             Case{"too large, with a negative exponent",
                  R"({"version":"1","size":1)" + QByteArray(400, '0') + "e-1}", "",
                  "not valid JSON (number out of range"},
             Case{"trailing comma", R"({"version":"1",})", "", "not valid JSON (expected a key"},
             Case{"deep nesting", R"({"version":"1","x":)" + QByteArray(100000, '[') + "}", "",
                  "not valid JSON (too deeply nested"},
         }) {
        SCOPED_TRACE(c.name);
        const QByteArray document = R"({"schema":1,"products":[{"id":"a","name":"A","tagline":"t","kind":"plugin",)"
                                    R"("status":"free","release":)" + c.release + "}]}";
        try {
            decodeCatalog(document);
            ADD_FAILURE() << "decoded";
        } catch (const Json::DecodingError& error) {
            EXPECT_EQ(error.path(), QString::fromUtf8(c.path));
            EXPECT_TRUE(error.reason().startsWith(QString::fromUtf8(c.reason))) << error.what();
        }
    }
}

// Numbers and strings at the edges of what a reader of doubles and of UTF-8
// gets wrong: a number is an integer exactly when its text is one, however
// long its text or large its exponent, and U+FEFF inside a string is a
// character like any other.
TEST(StrictJsonText, ReadsEdgeNumbersAndMarksByTheirText)
{
    const QByteArray longOne = "1" + QByteArray(1'000'001, '0') + "e-1000001";
    struct Case {
        const char* name;
        QByteArray number;
        std::optional<qint64> whole; // none: not an integer
    };
    for (const Case& c : {
             Case{"a megabyte-long one", longOne, 1},
             Case{"the same, a tenth of it", "1" + QByteArray(1'000'001, '0') + "e-1000002", std::nullopt},
             Case{"a fraction just past 2^52", "-8446744073709550.04", std::nullopt},
             Case{"a fraction past 2^62", "4611686018427387904.5", std::nullopt},
             Case{"a fraction just under 2^52", "4503599627370495.5", std::nullopt},
             Case{"2^62 spelt with a fraction and an exponent", "46116860184273879.04e2", qint64(1) << 62},
             Case{"an exponent past a long run of digits", "1e18", qint64(1'000'000'000'000'000'000)},
         }) {
        SCOPED_TRACE(c.name);
        const QJsonObject object = Json::parseObject("{\"n\":" + c.number + "}");
        EXPECT_EQ(Json::wholeNumber(object.value("n"_L1)), c.whole);
        if (!c.whole) {
            EXPECT_THROW(Json::decodeInt64(object.value("n"_L1), u"n"_s), Json::DecodingError);
        }
    }

    const QByteArray bom = "\xEF\xBB\xBF";
    const QJsonObject marks = Json::parseObject(bom + "{\"" + bom + "key\":\"" + bom + bom + "a\\n" + bom + "\"}");
    ASSERT_EQ(marks.keys(), QStringList{u"\uFEFFkey"_s});
    EXPECT_EQ(marks.value(u"\uFEFFkey"_s).toString(), u"\uFEFF\uFEFFa\n\uFEFF"_s);
}

// The reader's own values, and Qt's values made from them, hold what Qt's
// reader holds wherever Qt reads exactly: a repeated key's last value wins,
// in records too. Numbers are whole by their text alone.
TEST(StrictJsonText, ReadsADocumentAsQtDoesWhereQtIsExact)
{
    const QByteArray document =
        R"({"n":[25E+1,1.5,-0,-0.0,1e-5,123456789012345678,0.1,-9223372036854775808,1.0e15,9007199254740992.0],)"
        R"("s":["a\t\u00e9\ud83c\udfb5","\u0000",")" "\xEF\xBF\xBE" R"(",""],"o":{"z":1,"a":{"d":[null,true,false]},"z":2},)"
        R"("wide":{"k3":3,"k1":1,"k2":2},"p":{"id":"a","name":"first","tagline":"t","kind":"plugin","status":"free","name":"last"}})";
    const QJsonObject byQt = QJsonDocument::fromJson(document).object();
    ASSERT_FALSE(byQt.isEmpty());
    EXPECT_EQ(Json::parseObject(document), byQt);

    // Short words share their text; near-equal ones (a NUL more, one byte
    // else, one byte longer) never stand for each other, however many.
    QByteArray words = "{\"w\":[";
    QStringList expected;
    for (int i = 0; i < 400; ++i) {
        QString word;
        for (int k = 0; k <= i % 7; ++k)
            word += u"ab\u00e9\u0000"_s.at((i >> (2 * k)) % 4);
        words += (i ? "," : "") + QJsonDocument(QJsonArray{word}).toJson(QJsonDocument::Compact).mid(1).chopped(1);
        expected.append(word);
    }
    EXPECT_EQ(Json::decodeStringList(Json::parse(words + "]}").member("w"_L1), u"w"_s), expected);

    const Json::Value ours = Json::parse(document);
    EXPECT_EQ(ours.member("o"_L1).member("z"_L1).wholeNumber(), 2);
    EXPECT_EQ(Product::fromJson(ours.member("p"_L1), u"p"_s).name, u"last"_s);
    EXPECT_EQ(ours.member("s"_L1).toQt(), byQt.value("s"_L1));
    std::vector<bool> whole;
    const Json::Value numbers = ours.member("n"_L1);
    for (Json::Value n = numbers.firstElement(); !n.isUndefined(); n = numbers.elementAfter(n))
        whole.push_back(n.wholeNumber().has_value());
    EXPECT_EQ(whole, (std::vector<bool>{true, false, true, true, false, true, false, true, true, true}));
    const QJsonArray asQt = Json::parseObject(document).value("n"_L1).toArray();
    for (qsizetype i = 0; i < asQt.size(); ++i)
        EXPECT_EQ(Json::wholeNumber(asQt.at(i)).has_value(), whole[std::size_t(i)]) << i;
}

TEST(StrictJsonText, KeepsWhatIsValid)
{
    const QByteArray document =
        "\xEF\xBB\xBF" R"( {"schema":1,"products":[{"id":"a\t\u00e9\ud83c\udfb5","name":"A","tagline":"t",)"
        R"("kind":"plugin","status":"free","release":{"version":"1","size":-9223372036854775808,)"
        R"("full_size":25e-1e0,"extra":[1.5,-0,{"deep":[null,true]}]}}]} )";
    // 25e-1e0 is not a number: make sure the valid spellings are the only ones taken.
    EXPECT_THROW(decodeCatalog(document), Json::DecodingError);

    QByteArray valid = document;
    valid.replace("25e-1e0", "25E+1");
    const Catalog catalog = decodeCatalog(valid);
    ASSERT_EQ(catalog.products.size(), 1u);
    const Product& product = catalog.products.front();
    EXPECT_EQ(product.id, u"a\t\u00e9\U0001F3B5"_s);
    EXPECT_EQ(product.release->size, std::numeric_limits<qint64>::min());
    EXPECT_EQ(product.release->fullSize, 250);
}

// Whole documents: half a surrogate pair (a string cut in the middle of an
// emoji) reads as U+FFFD, in a key as in a value, and mends nothing else;
// anything after the top-level object is refused.
TEST(StrictJsonText, ReadsHalfSurrogatePairsAndRefusesTextAfterTheObject)
{
    struct Case {
        const char* name;
        QByteArray document;
        std::optional<QJsonObject> read; // none: refused
        const char* reason = "";         // the refusal
    };
    const QString replacement = u"\uFFFD"_s;
    for (const Case& c : {
             Case{"a high half at the end", R"({"s":"\ud83d"})", QJsonObject{{"s"_L1, replacement}}},
             Case{"a low half alone", R"({"s":"a\udc00b"})", QJsonObject{{"s"_L1, u"a\uFFFDb"_s}}},
             Case{"a high half before another escape", R"({"s":"\ud83d\u0041"})", QJsonObject{{"s"_L1, u"\uFFFDA"_s}}},
             Case{"a high half before a whole pair", R"({"s":"\uD83D\ud83d\ude00"})",
                  QJsonObject{{"s"_L1, u"\uFFFD\U0001F600"_s}}},
             Case{"a high half before an escaped backslash", R"({"s":"\ud83d\\ud83d\\"})",
                  QJsonObject{{"s"_L1, u"\uFFFD\\ud83d\\"_s}}},
             Case{"half a pair in a key", R"({"\udfff":"\"\ud83d","s":[]})",
                  QJsonObject{{replacement, u"\"\uFFFD"_s}, {"s"_L1, QJsonArray{}}}},
             Case{"half a pair and a bad escape", R"({"s":"\ud83d","t":"\x"})", std::nullopt,
                  "not valid JSON (illegal escape sequence at offset 22)"},
             Case{"half a pair, then text after the object", R"({"s":"\ud83d"} x)", std::nullopt,
                  "not valid JSON (garbage at the end of the document at offset 15)"},
             Case{"text after the object", R"({"a":1} x)", std::nullopt,
                  "not valid JSON (garbage at the end of the document at offset 8)"},
             Case{"a fault inside, then text after the object", R"({"a":["\x"]} x)", std::nullopt,
                  "not valid JSON (illegal escape sequence at offset 10)"},
             Case{"an object that never closes", R"({"a":[1,2])", std::nullopt,
                  "not valid JSON (misplaced punctuation at offset 0)"},
             Case{"a second object", R"({"a":1}{"a":2})", std::nullopt,
                  "not valid JSON (garbage at the end of the document at offset 7)"},
             Case{"a stray bracket", R"({"a":1}])", std::nullopt,
                  "not valid JSON (garbage at the end of the document at offset 7)"},
         }) {
        SCOPED_TRACE(c.name);
        try {
            EXPECT_EQ(Json::parseObject(c.document), c.read.value_or(QJsonObject{{"refused"_L1, false}}));
            EXPECT_EQ(Json::parse(c.document).member("s"_L1).toString(), c.read->value("s"_L1).toString());
        } catch (const Json::DecodingError& error) {
            EXPECT_FALSE(c.read) << error.what();
            EXPECT_EQ(error.description().toStdString(), c.reason);
        }
    }
}

// Every number that is not whole is the double nearest its text, near 2^53
// too; wholeNumber() refuses each, however whole that double is.
TEST(StrictJsonText, ReadsAFractionAsTheNearestDouble)
{
    struct Case {
        QByteArray number;
        double nearest;
    };
    for (const Case& c : {
             Case{"4503599627370496.5", 4503599627370496.0},
             Case{"-4503599627370497.5", -4503599627370498.0},
             Case{"-8446744073709550.04", -8446744073709550.0},
             Case{"9007199254740991.5", 9007199254740992.0},
             Case{"1.00000000000000001", 1.0},
             Case{"4503599627370495.5", 4503599627370495.5},
             Case{"-1e-400", -0.0},
             // Too small for a double, though no exponent says so.
             Case{"0." + QByteArray(330, '0') + "1", 0.0},
             Case{"-0." + QByteArray(330, '0') + "1", -0.0},
             Case{"0.0001e-320", 0.0},
             Case{"4.9406564584124654e-324", std::numeric_limits<double>::denorm_min()},
             Case{"0.000001e-302", 1e-308},
         }) {
        SCOPED_TRACE(c.number.left(40).toStdString());
        const Json::Value document = Json::parse(QByteArray("{\"n\":") + c.number + "}");
        const Json::Value n = document.member("n"_L1);
        EXPECT_EQ(n.toDouble(), c.nearest);
        EXPECT_EQ(std::signbit(n.toDouble()), std::signbit(c.nearest));
        EXPECT_EQ(n.wholeNumber(), std::nullopt);
    }
}

// A value taken from a parse that has ended keeps its document: another
// document of the same size, read after it, takes the memory a freed one left.
TEST(StrictJsonText, AValueOutlivesTheParseItCameFrom)
{
    const Json::Value text = Json::parse(R"({"s":"the first document","n":[7,8]})").member("s"_L1);
    const Json::Value number = Json::parse(R"({"s":"the first document","n":[7,8]})").member("n"_L1).firstElement();
    const Json::Value other = Json::parse(R"({"s":"the other document","n":[1,2]})");
    EXPECT_EQ(text.toString(), u"the first document"_s);
    EXPECT_EQ(number.wholeNumber(), 7);
    EXPECT_EQ(other.member("s"_L1).toString(), u"the other document"_s);
}

// ---- Product's derived members --------------------------------------------

Product product(const QString& status = u"paid"_s, const QString& kind = u"plugin"_s)
{
    Product p;
    p.id = u"alpha"_s;
    p.name = u"Alpha Verb"_s;
    p.tagline = u"t"_s;
    p.kind = kind;
    p.status = status;
    return p;
}

TEST(ProductDerived, StatusAndKindAreExactWords)
{
    struct Case {
        QString status;
        bool comingSoon, free, invite;
    };
    for (const Case& c : {Case{u"coming_soon"_s, true, false, false}, Case{u"free"_s, false, true, false},
                          Case{u"invite"_s, false, false, true}, Case{u"paid"_s, false, false, false},
                          Case{u"Free"_s, false, false, false}, Case{u"coming soon"_s, false, false, false},
                          Case{u"invite "_s, false, false, false}}) {
        SCOPED_TRACE(c.status.toStdString());
        const Product p = product(c.status);
        EXPECT_EQ(p.isComingSoon(), c.comingSoon);
        EXPECT_EQ(p.isFree(), c.free);
        EXPECT_EQ(p.isInvite(), c.invite);
    }
    EXPECT_TRUE(product(u"paid"_s, u"app"_s).isApp());
    EXPECT_FALSE(product(u"paid"_s, u"App"_s).isApp());
    EXPECT_FALSE(product(u"paid"_s, u"plugin"_s).isApp());
}

TEST(ProductDerived, ShownName)
{
    Product p = product();
    EXPECT_EQ(p.shown(), u"alpha verb"_s);
    p.displayName = u"ALPHA"_s;
    EXPECT_EQ(p.shown(), u"ALPHA"_s);
    p.displayName = QString();
    EXPECT_EQ(p.shown(), QString());
}

TEST(ProductDerived, IconAddress)
{
    struct Case {
        std::optional<QString> icon;
        std::optional<QUrl> expected;
    };
    for (const Case& c : {Case{std::nullopt, std::nullopt},
                          Case{u"img/a.png"_s, QUrl(u"https://tarnaudio.example/img/a.png"_s)},
                          Case{u"/img/a.png"_s, QUrl(u"https://tarnaudio.example/img/a.png"_s)},
                          Case{u"https://cdn.example/x/a.png?v=2"_s, QUrl(u"https://cdn.example/x/a.png?v=2"_s)},
                          Case{u"http://a b/a.png"_s, std::nullopt}}) {
        SCOPED_TRACE(c.icon.value_or(u"(absent)"_s).toStdString());
        Product p = product();
        p.icon = c.icon;
        EXPECT_EQ(p.iconURL(), c.expected);
    }
}

TEST(ProductDerived, UpdateOnly)
{
    Product p = product();
    EXPECT_FALSE(p.updateOnly());
    p.feed = Feed{u"f"_s, u"a2m"_s, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
    EXPECT_FALSE(p.updateOnly());
    p.feed->updateOnly = false;
    EXPECT_FALSE(p.updateOnly());
    p.feed->updateOnly = true;
    EXPECT_TRUE(p.updateOnly()); // no release at all
    p.release = Release{};
    EXPECT_TRUE(p.updateOnly());
    // A full disk image makes a first install possible after all.
    p.release->fullDmgURL = u"https://x.example/f.dmg"_s;
    EXPECT_FALSE(p.updateOnly());
}

TEST(ProductDerived, HistoryPutsCurrentNotesInFront)
{
    const ReleaseNote older{u"1.0"_s, u"2023-01-01"_s, {u"First"_s}};
    Product p = product();
    EXPECT_TRUE(p.history().empty());

    Release current;
    current.version = u"1.1"_s;
    current.notes = u"Fixes."_s;
    p.release = current;
    EXPECT_EQ(p.history(), (std::vector<ReleaseNote>{{u"1.1"_s, std::nullopt, {u"Fixes."_s}}}));

    p.releases = std::vector<ReleaseNote>{older};
    EXPECT_EQ(p.history(), (std::vector<ReleaseNote>{{u"1.1"_s, std::nullopt, {u"Fixes."_s}}, older}));

    // An entry for the current version already says it better.
    const ReleaseNote listed{u"1.1"_s, u"2023-02-01"_s, {u"Listed"_s}};
    p.releases = std::vector<ReleaseNote>{older, listed};
    EXPECT_EQ(p.history(), (std::vector<ReleaseNote>{older, listed}));

    p.releases = std::vector<ReleaseNote>{older};
    p.release->notes = QString();
    EXPECT_EQ(p.history(), std::vector<ReleaseNote>{older});
    p.release->notes.reset();
    EXPECT_EQ(p.history(), std::vector<ReleaseNote>{older});
}

} // namespace
