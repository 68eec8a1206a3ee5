#include "Catalog/CatalogLoader.h"
#include "Base/Config.h"
#include "Base/HubError.h"
#include "Base/Json.h"

#include "TestHttpsServer.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <chrono>
#include <csignal>

using namespace Qt::StringLiterals;
using namespace Hub;
using Hub::Test::TestHttpsServer;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

std::optional<QByteArray> readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.readAll();
}

// A product line of a catalog document; `feed` is a feed URL or empty.
QByteArray product(const char* id, const char* version, const QByteArray& feed = {})
{
    QByteArray p = QByteArray(R"({"id":")") + id + R"(","name":"N","tagline":"T","kind":"plugin","status":"paid",)"
                   R"("release":{"version":")" + version + R"("})";
    if (!feed.isEmpty())
        p += R"(,"feed":{"url":")" + feed + R"(","format":"a2m"})";
    return p + '}';
}

QByteArray catalogDocument(const char* updated, const std::vector<QByteArray>& products)
{
    QByteArray doc = "{\n  \"schema\": 1,\n";
    if (updated)
        doc += QByteArray("  \"updated\": \"") + updated + "\",\n";
    doc += "  \"products\": [";
    for (std::size_t i = 0; i < products.size(); ++i)
        doc += (i ? ",\n    " : "\n    ") + products[i];
    return doc + "\n  ]\n}\n";
}

QByteArray feedDocument(const char* version)
{
    return QByteArray(R"({"releases":{"standard":{"version":")") + version + R"("}}})";
}

const Release* releaseOf(const Catalog& catalog, const char* id)
{
    const Product* p = catalog.product(QString::fromLatin1(id));
    return p && p->release ? &*p->release : nullptr;
}

QString versionOf(const Catalog& catalog, const char* id)
{
    const Release* r = releaseOf(catalog, id);
    return r ? r->version : u"<none>"_s;
}

class CatalogLoaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        session.caBundle = server.caBundle();
    }

    CatalogLoader loader() const
    {
        return CatalogLoader({dir.filePath(u"support"_s), server.url(u"/catalog.json"_s), dir.filePath(u"builtin.json"_s)});
    }

    QByteArray feedURL(const char* name) const { return server.url(u"/feeds/"_s + QString::fromLatin1(name)).toEncoded(); }

    void serve(const std::string& path, const QByteArray& body, int status = 200)
    {
        server.get(path, [body, status](const httplib::Request&, httplib::Response& res) {
            res.status = status;
            res.set_content(body.toStdString(), "application/json");
        });
    }

    QTemporaryDir dir;
    TestHttpsServer server;
    Http::Session session;
};

} // namespace

// --- Choosing between the cached and the built-in copy ---------------------

TEST_F(CatalogLoaderTest, LocalChoiceByUpdateStamp)
{
    struct Case {
        const char* name;
        std::optional<QByteArray> cached;
        std::optional<QByteArray> builtin;
        std::optional<CatalogSource> source;
        const char* version;
        // How each copy fared, as loadLocal reports it: "ok", "missing",
        // "unreadable" or "unusable", then the detail for the last two.
        const char* cachedState = "ok";
        const char* builtinState = "ok";
    };
    const std::vector<Case> cases = {
        {"equal stamps keep the cache", catalogDocument("2026-05", {product("a", "2.0")}),
         catalogDocument("2026-05", {product("a", "1.0")}), CatalogSource::cached, "2.0"},
        {"a newer cache wins", catalogDocument("2026-06", {product("a", "2.0")}),
         catalogDocument("2026-05", {product("a", "1.0")}), CatalogSource::cached, "2.0"},
        {"a newer built-in copy wins", catalogDocument("2026-04", {product("a", "2.0")}),
         catalogDocument("2026-05", {product("a", "1.0")}), CatalogSource::bundled, "1.0"},
        {"a cache without a stamp loses to any stamp", catalogDocument(nullptr, {product("a", "2.0")}),
         catalogDocument("0", {product("a", "1.0")}), CatalogSource::bundled, "1.0"},
        {"an undecodable cache falls back", QByteArray(R"({"schema":1,"products":[{"id":"a"}]})"),
         catalogDocument("2026-01", {product("a", "1.0")}), CatalogSource::bundled, "1.0",
         "unusable"},
        {"a cache of a newer schema falls back", QByteArray(R"({"schema":2,"updated":"9","products":[]})"),
         catalogDocument("2026-01", {product("a", "1.0")}), CatalogSource::bundled, "1.0",
         "unusable: This catalog needs a newer Tarnhub."},
        {"a cache that is a folder falls back", QByteArray("<folder>"),
         catalogDocument("2026-01", {product("a", "1.0")}), CatalogSource::bundled, "1.0", "unreadable"},
        {"only a cache", catalogDocument("2026-01", {product("a", "2.0")}), std::nullopt, CatalogSource::cached,
         "2.0", "ok", "missing"},
        {"only a built-in copy", std::nullopt, catalogDocument("2026-01", {product("a", "1.0")}),
         CatalogSource::bundled, "1.0", "missing"},
        {"neither", std::nullopt, QByteArray("not json"), std::nullopt, "", "missing", "unusable"},
    };
    const auto stateOf = [](const LocalCopy& copy) {
        const char* names[] = {"ok", "missing", "unreadable", "unusable"};
        QString text = QString::fromLatin1(names[int(copy.state)]);
        return copy.state == LocalCopy::State::unusable && !copy.detail.isEmpty() ? text + u": "_s + copy.detail : text;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(loader().cacheFile());
        QDir(loader().cacheFile()).removeRecursively();
        QFile::remove(loader().locations().bundledCatalog);
        if (c.cached == QByteArray("<folder>"))
            QDir().mkpath(loader().cacheFile());
        else if (c.cached)
            writeFile(loader().cacheFile(), *c.cached);
        if (c.builtin)
            writeFile(loader().locations().bundledCatalog, *c.builtin);

        LocalCopies copies;
        const auto loaded = loader().loadLocal(&copies);
        // An unusable copy's detail is compared when the row gives one.
        const auto matches = [&](const LocalCopy& copy, const char* expected) {
            const QString want = QString::fromLatin1(expected);
            return want.contains(u':') ? stateOf(copy) == want : stateOf(copy).section(u':', 0, 0) == want;
        };
        EXPECT_TRUE(matches(copies.cached, c.cachedState)) << stateOf(copies.cached).toStdString();
        EXPECT_TRUE(matches(copies.bundled, c.builtinState)) << stateOf(copies.bundled).toStdString();
        ASSERT_EQ(loaded.has_value(), c.source.has_value());
        if (!loaded)
            continue;
        EXPECT_EQ(loaded->source, *c.source);
        EXPECT_EQ(versionOf(loaded->catalog, "a"), QString::fromLatin1(c.version));
    }
}

TEST_F(CatalogLoaderTest, LocalLoadLaysCachedFeedReleasesOverProductsWithAFeed)
{
    writeFile(loader().locations().bundledCatalog,
              catalogDocument("1", {product("fed", "1.0", "https://x.example/f.json"), product("plain", "1.0")}));
    writeFile(loader().feedCacheFile(), R"({"fed":{"version":"1.5"},"plain":{"version":"9.9"}})");
    auto loaded = loader().loadLocal();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(versionOf(loaded->catalog, "fed"), u"1.5"_s);
    EXPECT_EQ(versionOf(loaded->catalog, "plain"), u"1.0"_s) << "a product without a feed is never changed";

    // A damaged feeds.json counts as empty rather than failing the load.
    writeFile(loader().feedCacheFile(), R"({"fed":{"version":1.5}})");
    loaded = loader().loadLocal();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(versionOf(loaded->catalog, "fed"), u"1.0"_s);
}

// --- The live catalog ------------------------------------------------------

TEST_F(CatalogLoaderTest, LiveCatalogIsCachedByteForByte)
{
    // Unknown keys, spacing and key order must survive: the cache is the
    // document as received, not a re-encoding of what we understood.
    const QByteArray live = "{ \"products\" : [" + product("a", "3.0") +
                            "], \"extra\": {\"nested\": [1, 2.5]}, \"schema\":1, \"updated\":\"2026-12-01\" }\r\n";
    serve("/catalog.json", live);

    const auto loaded = loader().load(session);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->source, CatalogSource::live);
    EXPECT_EQ(versionOf(loaded->catalog, "a"), u"3.0"_s);
    EXPECT_EQ(readFile(loader().cacheFile()), live);

    // The next start-up uses that cache.
    const auto local = loader().loadLocal();
    ASSERT_TRUE(local);
    EXPECT_EQ(local->source, CatalogSource::cached);
    EXPECT_EQ(local->catalog, loaded->catalog);
}

TEST_F(CatalogLoaderTest, FetchesCarryTheUserAgentAndOnlyStatus200Counts)
{
    serve("/catalog.json", catalogDocument("1", {product("a", "3.0", feedURL("a.json"))}));
    serve("/feeds/a.json", feedDocument("3.1"));
    ASSERT_TRUE(loader().loadRemote(std::nullopt, session));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& r : requests) {
        auto agent = r.headers.find("User-Agent");
        ASSERT_NE(agent, r.headers.end()) << r.path;
        EXPECT_EQ(agent->second, "tarnaudio-hub/" + Config::hubVersion().toStdString());
        // Every load fetches again because the hub keeps no copy of its own;
        // it asks nothing of the caches between it and the site.
        for (const char* header : {"Cache-Control", "Pragma", "If-None-Match", "If-Modified-Since"})
            EXPECT_FALSE(r.headers.contains(header)) << r.path << " sent " << header;
    }

    serve("/other", "{}", 203);
    try {
        CatalogLoader::fetch(server.url(u"/other"_s), session, 6.0);
        ADD_FAILURE() << "a 203 reply was accepted";
    } catch (const HubError& e) {
        EXPECT_EQ(e, HubError::message(u"HTTP error"_s));
    }
}

TEST_F(CatalogLoaderTest, AFailedLiveCatalogChangesNoFile)
{
    const QByteArray cachedCatalog = catalogDocument("2026-01", {product("a", "1.0", feedURL("a.json"))});
    const QByteArray cachedFeeds = R"({"a":{"version":"1.1"}})";
    serve("/feeds/a.json", feedDocument("1.2"));

    struct Case {
        const char* name;
        QByteArray body;
        int status;
    };
    const std::vector<Case> cases = {
        {"server error", catalogDocument("2027", {}), 500},
        {"not found", "", 404},
        {"not JSON", "<html>maintenance</html>", 200},
        {"a product without a tagline", R"({"schema":1,"products":[{"id":"a","name":"N","kind":"k","status":"s"}]})",
         200},
        {"a newer schema", R"({"schema":2,"products":[]})", 200},
        {"a fraction for the schema", R"({"schema":1.5,"products":[]})", 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(loader().cacheFile(), cachedCatalog);
        writeFile(loader().feedCacheFile(), cachedFeeds);
        serve("/catalog.json", c.body, c.status);

        const auto known = loader().loadLocal();
        ASSERT_TRUE(known);
        EXPECT_FALSE(loader().loadRemote(known->catalog, session));
        EXPECT_EQ(readFile(loader().cacheFile()), cachedCatalog);
        EXPECT_EQ(readFile(loader().feedCacheFile()), cachedFeeds) << "feed releases fetched meanwhile are dropped";

        const auto loaded = loader().load(session);
        ASSERT_TRUE(loaded);
        EXPECT_EQ(loaded->source, CatalogSource::cached);
        EXPECT_EQ(versionOf(loaded->catalog, "a"), u"1.1"_s);
    }
    EXPECT_EQ(QDir(loader().locations().supportFolder).entryList(QDir::Files | QDir::Hidden),
              (QStringList{u"catalog.json"_s, u"feeds.json"_s}))
        << "no temporary file is left behind";
}

// The cache files are written aside and renamed into place: a write that
// fails midway (here: the file size limit, which binds root too) leaves
// both old files whole, and the live catalog is still returned.
TEST_F(CatalogLoaderTest, AWriteThatFailsMidwayLeavesTheOldCacheFiles)
{
    const QByteArray cachedCatalog = catalogDocument("2026-01", {product("a", "1.0", feedURL("a.json"))});
    const QByteArray cachedFeeds = R"({"a":{"version":"1.1"}})";
    writeFile(loader().cacheFile(), cachedCatalog);
    writeFile(loader().feedCacheFile(), cachedFeeds);

    constexpr rlim_t kLimit = 16 * 1024;
    const QByteArray padding(4 * kLimit, ' ');
    serve("/catalog.json", catalogDocument("2027-01", {product("a", "1.0", feedURL("a.json"))}) + padding);
    serve("/feeds/a.json", R"({"releases":{"standard":{"version":"1.2","notes":")" + QByteArray(4 * kLimit, 'n')
                               + R"("}}})");

    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = old;
    limited.rlim_cur = kLimit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const auto live = loader().loadRemote(std::nullopt, session);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_TRUE(live);
    EXPECT_EQ(live->updated, u"2027-01"_s);
    EXPECT_EQ(versionOf(*live, "a"), u"1.2"_s);
    EXPECT_EQ(readFile(loader().cacheFile()), cachedCatalog);
    EXPECT_EQ(readFile(loader().feedCacheFile()), cachedFeeds);
    EXPECT_EQ(QDir(loader().locations().supportFolder).entryList(QDir::Files | QDir::Hidden),
              (QStringList{u"catalog.json"_s, u"feeds.json"_s}));
}

// All feeds are fetched at once: however many stall, the batch ends after
// about one idle time-out rather than one per group of them. The bound is
// a quarter of what fetching eight at a time would take.
TEST_F(CatalogLoaderTest, StalledFeedsCostOneTimeOutTogether)
{
    server.get("/feeds/stalled-.*", [this](const httplib::Request&, httplib::Response& res) {
        server.pause(std::chrono::minutes(2));
        res.set_content(feedDocument("9.9").toStdString(), "application/json");
    });
    constexpr int kFeeds = 96;
    constexpr double kTimeout = 2.0;
    std::vector<std::pair<QString, Feed>> feeds;
    for (int i = 0; i < kFeeds; ++i) {
        const QByteArray name = "stalled-" + QByteArray::number(i) + ".json";
        feeds.emplace_back(QString::number(i), Feed{QString::fromUtf8(feedURL(name.constData())), u"a2m"_s,
                                                    std::nullopt, std::nullopt, std::nullopt, std::nullopt});
    }

    const auto start = std::chrono::steady_clock::now();
    const auto fetched = CatalogLoader::fetchFeeds(feeds, session, kTimeout);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

    EXPECT_TRUE(fetched.empty());
    EXPECT_LT(elapsed.count(), kTimeout * kFeeds / 8 / 4);
    // A host that left its first requests unanswered is not asked the rest.
    EXPECT_LE(server.requests().size(), std::size_t(Http::kConnectionsPerHost));
}

// A catalog or feed that sends a byte now and then never trips the idle
// limit; the session's deadline ends it, and the refresh goes on with the
// copy it has. Both documents are whole and valid, so without the deadline
// they would arrive, after many seconds, and be used.
TEST_F(CatalogLoaderTest, ADripThatNeverStallsEndsAtTheFetchDeadline)
{
    constexpr std::chrono::milliseconds kInterval(150);
    writeFile(loader().locations().bundledCatalog, catalogDocument("1", {product("a", "1.0", feedURL("a.json"))}));
    server.drip("/catalog.json", catalogDocument("2", {product("a", "2.0", feedURL("a.json"))}).toStdString(),
                kInterval);
    server.drip("/feeds/a.json", feedDocument("2.1").toStdString(), kInterval);
    session.limits.fetchDeadline = 1.0;

    const auto loaded = loader().load(session);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->source, CatalogSource::bundled);
    EXPECT_EQ(versionOf(loaded->catalog, "a"), u"1.0"_s);
    EXPECT_FALSE(QDir(loader().locations().supportFolder).exists());

    const Feed feed{QString::fromUtf8(feedURL("a.json")), u"a2m"_s, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
    EXPECT_TRUE(CatalogLoader::fetchFeeds({{u"a"_s, feed}}, session).empty());
}

// The first check fetches every feed at once; on one host they share a few
// connections (and so a few name lookups) instead of opening one each.
TEST(CatalogFeedConnections, FeedsOfOneHostShareAFewConnections)
{
    TestHttpsServer server({.requestsPerConnection = 1000});
    server.get("/feeds/.*", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(feedDocument("2.0").toStdString(), "application/json");
    });
    std::vector<std::pair<QString, Feed>> feeds;
    for (int i = 0; i < 100; ++i)
        feeds.emplace_back(QString::number(i), Feed{server.url(u"/feeds/"_s + QString::number(i)).toString(), u"a2m"_s,
                                                    std::nullopt, std::nullopt, std::nullopt, std::nullopt});
    const auto fetched = CatalogLoader::fetchFeeds(feeds, Http::Session{server.caBundle(), {}});
    EXPECT_EQ(fetched.size(), feeds.size());
    EXPECT_EQ(server.requests().size(), feeds.size());
    EXPECT_LE(server.connections(), Http::kConnectionsPerHost);
}

TEST_F(CatalogLoaderTest, NothingIsWrittenWhenTheServerCannotBeReached)
{
    // A port nobody listens on: take the server's and stop using it.
    QUrl closed;
    {
        TestHttpsServer gone;
        closed = gone.url(u"/catalog.json"_s);
    }
    const CatalogLoader unreachable({dir.filePath(u"support"_s), closed, dir.filePath(u"builtin.json"_s)});
    writeFile(unreachable.locations().bundledCatalog, catalogDocument("1", {product("a", "1.0")}));
    const auto loaded = unreachable.load(session);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->source, CatalogSource::bundled);
    EXPECT_FALSE(QDir(unreachable.locations().supportFolder).exists());
}

// --- Release feeds ---------------------------------------------------------

TEST_F(CatalogLoaderTest, FeedReleasesOverlayTheLiveCatalogAndAccumulate)
{
    writeFile(loader().feedCacheFile(),
              R"({"broken":{"version":"0.9"},"gone":{"version":"7.0"},"ok":{"version":"1.3"}})");
    serve("/catalog.json",
          catalogDocument("1", {product("ok", "1.0", feedURL("ok.json")), product("broken", "1.0", feedURL("broken.json")),
                                product("nocache", "1.0", feedURL("nocache.json")), product("plain", "1.0")}));
    serve("/feeds/ok.json", feedDocument("1.4"));
    serve("/feeds/broken.json", "oops", 500);
    serve("/feeds/nocache.json", R"({"releases":{"beta":{"version":"5.0"}}})"); // no "standard" channel

    const auto live = loader().loadRemote(std::nullopt, session);
    ASSERT_TRUE(live);
    EXPECT_EQ(versionOf(*live, "ok"), u"1.4"_s) << "the release just fetched beats the one kept from before";
    EXPECT_EQ(versionOf(*live, "broken"), u"0.9"_s) << "a failed feed keeps its last good release";
    EXPECT_EQ(versionOf(*live, "nocache"), u"1.0"_s) << "without a last good release, the catalog's own";
    EXPECT_EQ(versionOf(*live, "plain"), u"1.0"_s);

    const auto feeds = readFile(loader().feedCacheFile());
    ASSERT_TRUE(feeds);
    const QJsonObject stored = Json::parseObject(*feeds);
    EXPECT_EQ(stored.keys(), (QStringList{u"broken"_s, u"gone"_s, u"ok"_s}));
    EXPECT_EQ(Release::fromJson(stored.value("ok"_L1), {}).version, u"1.4"_s);
    EXPECT_EQ(Release::fromJson(stored.value("broken"_L1), {}).version, u"0.9"_s);
    EXPECT_EQ(Release::fromJson(stored.value("gone"_L1), {}).version, u"7.0"_s)
        << "a product that left the catalog keeps its entry";
}

TEST_F(CatalogLoaderTest, EachProductsFeedIsTriedOncePerLoad)
{
    // Known: "moved" at old.json (which fails), "renamed" at known.json (which works).
    const Catalog known = CatalogLoader::decode(catalogDocument(
        "1", {product("moved", "1.0", feedURL("old.json")), product("renamed", "1.0", feedURL("known.json")),
              product("dropped", "1.0", feedURL("dropped.json"))}));
    serve("/feeds/old.json", "", 503);
    serve("/feeds/known.json", feedDocument("2.0"));
    serve("/feeds/dropped.json", feedDocument("3.0"));
    serve("/feeds/new.json", feedDocument("4.0"));
    serve("/feeds/moved-live.json", feedDocument("9.0"));
    serve("/feeds/renamed-live.json", feedDocument("9.0"));
    serve("/catalog.json",
          catalogDocument("2", {product("moved", "1.0", feedURL("moved-live.json")),
                                product("renamed", "1.0", feedURL("renamed-live.json")),
                                product("new", "1.0", feedURL("new.json"))}));

    const auto live = loader().loadRemote(known, session);
    ASSERT_TRUE(live);
    EXPECT_EQ(versionOf(*live, "moved"), u"1.0"_s);
    EXPECT_EQ(versionOf(*live, "renamed"), u"2.0"_s) << "the release from the known feed record is used";
    EXPECT_EQ(versionOf(*live, "new"), u"4.0"_s) << "a product new in the live catalog has its feed fetched";

    EXPECT_EQ(server.count("/feeds/old.json"), 1);
    EXPECT_EQ(server.count("/feeds/moved-live.json"), 0) << "a feed that failed is not tried again at another address";
    EXPECT_EQ(server.count("/feeds/renamed-live.json"), 0);
    EXPECT_EQ(server.count("/feeds/new.json"), 1);
    EXPECT_EQ(server.count("/catalog.json"), 1);

    const QJsonObject stored = Json::parseObject(*readFile(loader().feedCacheFile()));
    EXPECT_EQ(Release::fromJson(stored.value("dropped"_L1), {}).version, u"3.0"_s)
        << "a release fetched for a product the live catalog no longer lists is still stored";
}

TEST_F(CatalogLoaderTest, FeedsAreFetchedOnlyOverHttpsOrFromThisMachine)
{
    TestHttpsServer plain({.tls = false});
    plain.get("/feeds/local.json", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(feedDocument("2.0").toStdString(), "application/json");
    });
    const std::string plainTarget = plain.url(u"/feeds/local.json"_s).toEncoded().toStdString();
    server.get("/feeds/downgrade.json", [plainTarget](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(plainTarget);
    });
    server.get("/feeds/hop.json", [this](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(server.url(u"/feeds/secure.json"_s).toEncoded().toStdString());
    });
    serve("/feeds/secure.json", feedDocument("3.0"));

    serve("/catalog.json",
          catalogDocument("1", {product("local", "1.0", plain.url(u"/feeds/local.json"_s).toEncoded()),
                                product("downgrade", "1.0", feedURL("downgrade.json")),
                                product("hop", "1.0", feedURL("hop.json")),
                                product("remote", "1.0", "http://feeds.tarnaudio.invalid/remote.json"),
                                product("ftp", "1.0", "ftp://127.0.0.1/ftp.json")}));

    const auto live = loader().loadRemote(std::nullopt, session);
    ASSERT_TRUE(live);
    EXPECT_EQ(versionOf(*live, "local"), u"2.0"_s) << "plain http to 127.0.0.1 is allowed";
    EXPECT_EQ(versionOf(*live, "hop"), u"3.0"_s) << "https to https redirects are followed";
    EXPECT_EQ(versionOf(*live, "downgrade"), u"1.0"_s) << "a redirect to http is refused";
    EXPECT_EQ(versionOf(*live, "remote"), u"1.0"_s);
    EXPECT_EQ(versionOf(*live, "ftp"), u"1.0"_s);
    EXPECT_EQ(plain.count("/feeds/local.json"), 1) << "the refused redirect never reached the plain server";

    try {
        CatalogLoader::fetch(QUrl(u"http://feeds.tarnaudio.invalid/remote.json"_s), session, 6.0);
        ADD_FAILURE() << "plain http to another host was fetched";
    } catch (const HubError& e) {
        EXPECT_EQ(e.errorDescription(), u"The hub only downloads over https."_s);
    }
}
