#include "BundleFactory.h"
#include "BundleSigner.h"
#include "QStringPrinter.h"
#include "TestFiles.h"
#include "TestHttpsServer.h"
#include "TestPKI.h"

#include "Base/Config.h"
#include "Base/HubError.h"
#include "Installer/ArtifactDownload.h"
#include "Installer/PluginInstaller.h"
#include "Platform/FileMoves.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>
#include <stop_token>

#include <cerrno>
#include <csignal>

#include <sys/resource.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace Hub;
using Hub::Test::BundlePlan;
using Hub::Test::readAll;
using Hub::Test::TestHttpsServer;

namespace {

QByteArray pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = 0x9e3779b9u;
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = char(state >> 24);
    }
    return bytes;
}

QString hexSHA256(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// The sentence of the HubError `call` throws; "no error" when it returns.
template<typename Call>
QString sentenceOf(Call&& call)
{
    try {
        call();
    } catch (const HubError& error) {
        return error.kind() == HubError::Kind::cancelled ? u"<cancelled>"_s : error.errorDescription();
    }
    return u"no error"_s;
}

Http::Session trusting(const TestHttpsServer& server, std::stop_token stop = {})
{
    return Http::Session{server.caBundle(), std::move(stop)};
}

class DownloaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.isValid());
        m_target = m_folder.filePath(u"vst3.zip"_s);
    }

    QString download(const std::string& path, std::optional<qint64> size, QList<double>* fractions = nullptr,
                     std::stop_token stop = {})
    {
        const ArtifactDownloader downloader(m_target, u"VST3"_s, size, [fractions](double fraction) {
            if (fractions)
                fractions->append(fraction);
        });
        return sentenceOf([&] {
            m_result = downloader.run(m_server.url(QString::fromStdString(path)), trusting(m_server, stop));
        });
    }

    // Only the target may be left in the folder, and only after a success.
    QStringList leftovers() const
    {
        return QDir(m_folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
    }

    TestHttpsServer m_server;
    QTemporaryDir m_folder;
    QString m_target;
    PluginInstaller::Downloaded m_result;
};

const QString kTransport = u"Download failed. Check your connection and try again."_s;
const QString kWrongSize = u"The VST3 download is damaged (wrong size). Try again."_s;
const QString kHttpsOnly = u"The hub only downloads over https."_s;

} // namespace

// ---- A finished download is exactly the bytes served, counted and hashed ----

TEST_F(DownloaderTest, TheBodyLandsAtTheTargetWithItsSizeAndDigest)
{
    const QByteArray body = pattern(3 * 1024 * 1024 + 17);
    m_server.get("/a.zip", [&body](const httplib::Request&, httplib::Response& response) {
        response.set_content(body.toStdString(), "application/zip");
    });
    QList<double> fractions;
    ASSERT_EQ(download("/a.zip", body.size(), &fractions), u"no error"_s);

    EXPECT_EQ(readAll(m_target), body);
    EXPECT_EQ(m_result.size, body.size());
    EXPECT_EQ(m_result.sha256, hexSHA256(body));
    EXPECT_EQ(leftovers(), QStringList{u"vst3.zip"_s});
    ASSERT_FALSE(fractions.isEmpty());
    EXPECT_EQ(fractions.last(), 1.0);
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));

    const auto requests = m_server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    const auto agent = requests[0].headers.find("User-Agent");
    ASSERT_NE(agent, requests[0].headers.end());
    EXPECT_EQ(QString::fromStdString(agent->second), u"tarnaudio-hub/"_s + Config::hubVersion());
}

TEST_F(DownloaderTest, AReplyWithoutALengthReportsNoFractionsButStillArrives)
{
    m_server.get("/a.zip", [](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("application/zip", [](std::size_t offset, httplib::DataSink& sink) {
            if (offset >= 4096) {
                sink.done();
                return true;
            }
            return sink.write(std::string(1024, 'z').data(), 1024);
        });
    });
    QList<double> fractions;
    ASSERT_EQ(download("/a.zip", std::nullopt, &fractions), u"no error"_s);
    EXPECT_EQ(readAll(m_target), QByteArray(4096, 'z'));
    EXPECT_TRUE(fractions.isEmpty());
}

// ---- A failed download leaves nothing behind and the target untouched ----

// The catalog size limits the archive, not an error page: a page longer
// than the archive still reads as the status it came with.
TEST_F(DownloaderTest, AnErrorStatusNamesTheStatusAndStoresNothing)
{
    struct Case {
        const char* name;
        int status;
        std::size_t bodyBytes; // 0: an endless body without a length
    };
    for (const Case& c : {Case{"short page", 404, 8}, Case{"page longer than the archive", 404, 5000},
                          Case{"endless page", 503, 0}}) {
        SCOPED_TRACE(c.name);
        writeAll(m_target, "an older archive");
        m_server.get("/a.zip", [c](const httplib::Request&, httplib::Response& response) {
            response.status = c.status;
            if (c.bodyBytes > 0) {
                response.set_content(std::string(c.bodyBytes, 'x'), "text/html");
                return;
            }
            response.set_chunked_content_provider("text/html", [](std::size_t, httplib::DataSink& sink) {
                return sink.write(std::string(65536, 'x').data(), 65536);
            });
        });
        EXPECT_EQ(download("/a.zip", 100), u"Download failed (%1). Try again later."_s.arg(c.status));
        EXPECT_EQ(readAll(m_target), "an older archive");
        EXPECT_EQ(leftovers(), QStringList{u"vst3.zip"_s});
    }
}

TEST_F(DownloaderTest, AConnectionCutShortIsATransportFailure)
{
    m_server.get("/a.zip", [](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(100000, "application/zip",
                                      [](std::size_t, std::size_t, httplib::DataSink& sink) {
                                          sink.write("0123456789", 10);
                                          return false; // drops the connection
                                      });
    });
    EXPECT_EQ(download("/a.zip", 100000), kTransport);
    EXPECT_TRUE(leftovers().isEmpty());
}

// A write this computer refuses (here a file-size limit, as a quota or a
// failing disk would) is no network fault: the sentence says what the
// system said, and nothing is left behind.
TEST_F(DownloaderTest, AWriteTheSystemRefusesNamesTheFileFaultNotTheNetwork)
{
    const QByteArray body = pattern(1024 * 1024);
    m_server.get("/a.zip", [&body](const httplib::Request&, httplib::Response& response) {
        response.set_content(body.toStdString(), "application/zip");
    });
    struct rlimit before {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    // Past the limit a write fails with EFBIG rather than stopping the test.
    const sighandler_t handler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = before;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const QString sentence = download("/a.zip", body.size());
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &before), 0);
    ::signal(SIGXFSZ, handler);

    EXPECT_EQ(sentence, u"Couldn't write the download: "_s + qt_error_string(EFBIG) + u"."_s);
    EXPECT_TRUE(leftovers().isEmpty());
}

// A byte every few dozen milliseconds never trips the idle limit; below the
// session's minimum rate the download fails like a lost connection, with
// nothing left behind, long before the drip would have finished.
TEST_F(DownloaderTest, ADownloadBelowTheMinimumRateFailsAsALostConnection)
{
    const QByteArray body = pattern(300);
    m_server.drip("/a.zip", body.toStdString(), std::chrono::milliseconds(40));
    Http::Session session = trusting(m_server);
    session.limits.downloadRate = {1000, 1.0};
    const ArtifactDownloader downloader(m_target, u"VST3"_s, body.size(), {});
    EXPECT_EQ(sentenceOf([&] { m_result = downloader.run(m_server.url(u"/a.zip"_s), session); }), kTransport);
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(DownloaderTest, MoreBytesThanTheCatalogSizeStopTheDownload)
{
    // An endless reply without a length: the download must stop at the
    // catalog's size instead of filling the disk.
    auto sent = std::make_shared<std::atomic<std::size_t>>(0);
    m_server.get("/a.zip", [sent](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("application/zip", [sent](std::size_t, httplib::DataSink& sink) {
            *sent += 65536;
            return *sent < 512u * 1024 * 1024 && sink.write(std::string(65536, 'e').data(), 65536);
        });
    });
    EXPECT_EQ(download("/a.zip", 100000), kWrongSize);
    EXPECT_LT(sent->load(), 64u * 1024 * 1024);
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(DownloaderTest, AnAnnouncedLengthAboveTheCatalogSizeIsRefusedAtOnce)
{
    const QByteArray body = pattern(200000);
    m_server.get("/a.zip", [&body](const httplib::Request&, httplib::Response& response) {
        response.set_content(body.toStdString(), "application/zip");
    });
    EXPECT_EQ(download("/a.zip", body.size() - 1), kWrongSize);
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(DownloaderTest, ARedirectToPlainHttpIsRefusedWithTheHttpsSentence)
{
    TestHttpsServer plain(Hub::Test::TestServerOptions{.tls = false});
    plain.get("/a.zip", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("payload", "application/zip");
    });
    const std::string to = plain.url(u"/a.zip"_s).toString().toStdString();
    m_server.get("/a.zip", [to](const httplib::Request&, httplib::Response& response) {
        response.set_redirect(to);
    });
    EXPECT_EQ(download("/a.zip", 7), kHttpsOnly);
    EXPECT_EQ(plain.count("/a.zip"), 0);
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(DownloaderTest, AStopRequestEndsTheDownloadAsCancelled)
{
    std::stop_source stop;
    m_server.get("/a.zip", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(10 * 1024 * 1024, "application/zip",
                                      [this](std::size_t, std::size_t, httplib::DataSink& sink) {
                                          if (!m_server.pause(std::chrono::milliseconds(5)))
                                              return false;
                                          return sink.write(std::string(16384, 'c').data(), 16384);
                                      });
    });
    QList<double> fractions;
    const ArtifactDownloader downloader(m_target, u"VST3"_s, 10 * 1024 * 1024, [&](double fraction) {
        fractions.append(fraction);
        stop.request_stop();
    });
    EXPECT_EQ(sentenceOf([&] { downloader.run(m_server.url(u"/a.zip"_s), trusting(m_server, stop.get_token())); }),
              u"<cancelled>"_s);
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST(DownloadTransport, AHostThatCannotBeReachedIsATransportFailure)
{
    QTemporaryDir folder;
    const ArtifactDownloader downloader(folder.filePath(u"au.zip"_s), u"AU"_s, std::nullopt, {});
    // Port 1 on the loopback address: nothing listens there.
    EXPECT_EQ(sentenceOf([&] { downloader.run(QUrl(u"https://127.0.0.1:1/au.zip"_s), Http::Session{}); }),
              kTransport);
    EXPECT_TRUE(QDir(folder.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

// ---- The address rule ----

TEST(DownloadScheme, HttpsAndLocalHttpPassEverythingElseIsRefused)
{
    for (const QString& good : {u"https://example.invalid/a.zip"_s, u"HTTPS://example.invalid/a.zip"_s,
                                u"http://localhost:8080/a.zip"_s, u"http://127.0.0.1/a.zip"_s,
                                u"http://LOCALHOST/a.zip"_s})
        EXPECT_EQ(sentenceOf([&] { PluginInstaller::checkScheme(QUrl(good)); }), u"no error"_s) << good.toStdString();
    for (const QString& bad : {u"http://downloads.invalid/a.zip"_s, u"ftp://127.0.0.1/a.zip"_s, u"a.zip"_s,
                               u"http:///a.zip"_s, u"file:///tmp/a.zip"_s})
        EXPECT_EQ(sentenceOf([&] { PluginInstaller::checkScheme(QUrl(bad)); }), kHttpsOnly) << bad.toStdString();
}

// ---- The archive checks ----

class ArchiveCheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_archive = m_folder.filePath(u"vst3.zip"_s);
        writeAll(m_archive, m_bytes);
        m_artifact.format = PluginFormat::vst3;
        m_artifact.bundle = u"Echo.vst3"_s;
        m_artifact.size = m_bytes.size();
        m_artifact.sha256 = hexSHA256(m_bytes);
    }

    QString check(bool allowUnsigned = false, std::optional<QString> digest = std::nullopt)
    {
        return sentenceOf([&] { PluginInstaller::checkDownload(m_archive, m_artifact, allowUnsigned, digest); });
    }

    QTemporaryDir m_folder;
    QByteArray m_bytes = pattern(1024 * 1024 - 1);
    QString m_archive;
    Artifact m_artifact;
};

TEST_F(ArchiveCheckTest, TheRightSizeAndDigestPassInAnyCaseAndWithTrailingSpace)
{
    EXPECT_EQ(check(), u"no error"_s);
    m_artifact.sha256 = u"  "_s + m_artifact.sha256.toUpper() + u"\n"_s;
    EXPECT_EQ(check(), u"no error"_s);
}

TEST_F(ArchiveCheckTest, OneByteOffInSizeIsRefused)
{
    m_artifact.size = 1024 * 1024;
    EXPECT_EQ(check(), kWrongSize);
}

TEST_F(ArchiveCheckTest, AMissingZeroOrNegativeSizeSkipsTheSizeCheck)
{
    for (const std::optional<qint64> size : {std::optional<qint64>(), std::optional<qint64>(0), std::optional<qint64>(-5)}) {
        m_artifact.size = size;
        EXPECT_EQ(check(), u"no error"_s);
    }
}

TEST_F(ArchiveCheckTest, OneFlippedByteIsAChecksumMismatch)
{
    QByteArray flipped = m_bytes;
    flipped[4711] = char(flipped[4711] ^ 0x01);
    writeAll(m_archive, flipped);
    EXPECT_EQ(check(), u"The VST3 download is damaged (checksum mismatch). Try again."_s);
}

TEST_F(ArchiveCheckTest, ADigestMadeWhileDownloadingIsTrustedInsteadOfReadingAgain)
{
    EXPECT_EQ(check(false, hexSHA256("something else")),
              u"The VST3 download is damaged (checksum mismatch). Try again."_s);
    EXPECT_EQ(check(false, hexSHA256(m_bytes)), u"no error"_s);
}

TEST_F(ArchiveCheckTest, NoChecksumIsRefusedUnlessUnsignedIsAllowed)
{
    m_artifact.sha256 = u" \n"_s;
    EXPECT_EQ(check(), u"This release has no checksum in the catalog, so the hub won't install it."_s);
    // Allowed without a checksum: the file is not even read.
    ::unlink(QFile::encodeName(m_archive).constData());
    m_artifact.size.reset();
    EXPECT_EQ(check(true), u"no error"_s);
}

TEST(FileDigest, MatchesTheBytesAcrossChunkBoundariesAndFailsForAMissingFile)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(u"blob"_s);
    for (const qsizetype size : {qsizetype(0), qsizetype(1 << 20), qsizetype((1 << 20) * 2 + 3)}) {
        const QByteArray bytes = pattern(size);
        writeAll(path, bytes);
        EXPECT_EQ(Installer::fileSHA256(path), hexSHA256(bytes)) << size;
    }
    EXPECT_THROW(Installer::fileSHA256(folder.filePath(u"missing"_s)), FileError);
}

// ---- The staged bundle checks ----

class StagedCheckTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_pki = std::make_unique<Hub::Test::TestPKI>(); }
    static void TearDownTestSuite() { s_pki.reset(); }

    void SetUp() override
    {
        m_artifact.format = PluginFormat::au;
        m_artifact.bundle = u"Echo.component"_s;
        m_artifact.bundleID = u"com.tarnaudio.echo"_s;
    }

    QString stage(BundlePlan recipe, const Hub::Test::SigningIdentity* signer)
    {
        recipe.name = u"Echo.component"_s;
        const QString bundle = Hub::Test::BundleFactory::create(m_folder.path(), recipe);
        if (signer)
            Hub::Test::signBundle(bundle, *signer);
        return bundle;
    }

    QString verify(const QString& bundle, const QString& version = u"2.1.0"_s)
    {
        return sentenceOf([&] {
            PluginInstaller::verifyStaged(bundle, m_artifact, version, false, s_pki->anchors());
        });
    }

    static BundlePlan echo(const QString& id = u"com.tarnaudio.echo"_s, std::optional<QString> version = u"2.1"_s)
    {
        BundlePlan recipe;
        recipe.bundleID = id;
        recipe.shortVersion = std::move(version);
        return recipe;
    }

    static inline std::unique_ptr<Hub::Test::TestPKI> s_pki;
    QTemporaryDir m_folder;
    Artifact m_artifact;
};

TEST_F(StagedCheckTest, AMakerSignedBundleOfTheReleaseVersionPasses)
{
    EXPECT_EQ(verify(stage(echo(), &s_pki->maker())), u"no error"_s);
}

TEST_F(StagedCheckTest, AMissingBundleOrALinkToAFolderIsNotContained)
{
    const QString sentence = u"The AU download doesn't contain Echo.component."_s;
    EXPECT_EQ(verify(m_folder.filePath(u"Echo.component"_s)), sentence);

    QTemporaryDir elsewhere;
    const QString real = Hub::Test::BundleFactory::create(elsewhere.path(), [] {
        BundlePlan recipe = echo();
        recipe.name = u"Echo.component"_s;
        return recipe;
    }());
    Hub::Test::signBundle(real, s_pki->maker());
    ASSERT_EQ(::symlink(QFile::encodeName(real).constData(),
                        QFile::encodeName(m_folder.filePath(u"Echo.component"_s)).constData()), 0);
    EXPECT_EQ(verify(m_folder.filePath(u"Echo.component"_s)), sentence);
}

TEST_F(StagedCheckTest, AnotherIdentifierIsRefusedByName)
{
    EXPECT_EQ(verify(stage(echo(u"com.tarnaudio.other"_s), &s_pki->maker())),
              u"Echo.component is com.tarnaudio.other, not com.tarnaudio.echo, so the hub won't install it."_s);
}

TEST_F(StagedCheckTest, WithoutACatalogIdentifierTheBundlesOwnIsUsedForTheSignature)
{
    m_artifact.bundleID.reset();
    EXPECT_EQ(verify(stage(echo(u"com.tarnaudio.other"_s), &s_pki->maker())), u"no error"_s);
}

TEST_F(StagedCheckTest, TheVersionMustEqualTheReleaseNumerically)
{
    const QString bundle = stage(echo(u"com.tarnaudio.echo"_s, u"2.1.1"_s), &s_pki->maker());
    EXPECT_EQ(verify(bundle), u"Echo.component is version 2.1.1, not 2.1.0. Try again later."_s);
    EXPECT_EQ(verify(bundle, u"2.1.1.0"_s), u"no error"_s);
}

TEST_F(StagedCheckTest, AMissingVersionIsShownAsAQuestionMark)
{
    EXPECT_EQ(verify(stage(echo(u"com.tarnaudio.echo"_s, std::nullopt), &s_pki->maker())),
              u"Echo.component is version ?, not 2.1.0. Try again later."_s);
}

TEST_F(StagedCheckTest, AnotherTeamsOrABrokenSignatureIsRefused)
{
    const QString foreign = stage(echo(), &s_pki->otherTeam());
    EXPECT_EQ(verify(foreign), u"Echo.component isn't signed by Tarnaudio, so the hub won't install it."_s);

    std::filesystem::remove_all(QFile::encodeName(foreign).toStdString());
    const QString tampered = stage(echo(), &s_pki->maker());
    writeAll(tampered + u"/Contents/MacOS/Echo"_s, "patched");
    EXPECT_TRUE(verify(tampered).startsWith(u"Echo.component has a broken signature"_s)) << verify(tampered).toStdString();
}

TEST(BundleReaders, ReadTheInformationListAndTreatAMissingOneAsEmpty)
{
    QTemporaryDir folder;
    BundlePlan recipe;
    recipe.name = u"Echo.vst3"_s;
    recipe.bundleID = u"com.tarnaudio.echo"_s;
    recipe.shortVersion.reset();
    recipe.bundleVersion = u"77"_s;
    const QString bundle = Hub::Test::BundleFactory::create(folder.path(), recipe);
    EXPECT_EQ(PluginInstaller::bundleID(bundle), u"com.tarnaudio.echo"_s);
    EXPECT_EQ(PluginInstaller::shortVersion(bundle), QString());
    EXPECT_EQ(PluginInstaller::bundleVersion(bundle), u"77"_s);

    const QString empty = folder.filePath(u"Nothing.vst3"_s);
    QDir().mkpath(empty);
    EXPECT_EQ(PluginInstaller::bundleID(empty), std::nullopt);
    EXPECT_EQ(PluginInstaller::bundleVersion(empty), std::nullopt);
}
