#include "SelfUpdateTestSupport.h"
#include "TestHttpsServer.h"

#include "Installer/PluginInstaller.h"

#include <QCryptographicHash>
#include <QRegularExpression>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace Hub;
using namespace Hub::Test;

namespace {

QByteArray body(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + 7) & 0xff);
    return bytes;
}

QString digestOf(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

class SelfUpdateDownloadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        m_server.get("/hub.pkg", [this](const httplib::Request&, httplib::Response& response) {
            response.set_content(m_body.toStdString(), "application/octet-stream");
        });
        m_server.get("/missing.pkg", [](const httplib::Request&, httplib::Response& response) {
            response.status = 404;
            response.set_content("not here", "text/plain");
        });
    }

    QString downloads() const { return Config::downloadsFolder(m_home.path()); }

    QString downloadSentence(const QString& route, const std::optional<QString>& sha256,
                             const std::optional<qint64>& size = std::nullopt, QString* file = nullptr)
    {
        return sentenceOf([&] {
            const QString result = Installer::download(m_server.url(route), sha256, u"Tarnhub"_s, {}, size,
                                                       Http::Session{m_server.caBundle(), {}}, m_home.path());
            if (file)
                *file = result;
        });
    }

    QTemporaryDir m_home;
    TestHttpsServer m_server;
    QByteArray m_body = body(200 * 1024);
};

TEST_F(SelfUpdateDownloadTest, AVerifiedDownloadLandsInTheDownloadsFolder)
{
    std::vector<double> fractions;
    const QString file = Installer::download(m_server.url(u"/hub.pkg"_s), u"  "_s + digestOf(m_body).toUpper() + u"\n"_s,
                                             u"Tarn hub é"_s, [&](double f) { fractions.push_back(f); }, m_body.size(),
                                             Http::Session{m_server.caBundle(), {}}, m_home.path());
    EXPECT_EQ(QFileInfo(file).path(), downloads());
    EXPECT_TRUE(QRegularExpression(u"^Tarnhub-[0-9a-f]{8}\\.pkg$"_s).match(QFileInfo(file).fileName()).hasMatch())
        << file.toStdString();
    QFile downloaded(file);
    ASSERT_TRUE(downloaded.open(QIODevice::ReadOnly));
    EXPECT_EQ(downloaded.readAll(), m_body);
    ASSERT_FALSE(fractions.empty());
    EXPECT_DOUBLE_EQ(fractions.back(), 1.0);
    EXPECT_EQ(entriesOf(downloads()), QStringList({QFileInfo(file).fileName()})) << "no partial file is left";

    const auto requests = m_server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto agent = requests.front().headers.find("User-Agent");
    ASSERT_NE(agent, requests.front().headers.end());
    EXPECT_EQ(QString::fromStdString(agent->second), u"tarnaudio-hub/"_s + Config::hubVersion());
}

TEST_F(SelfUpdateDownloadTest, FailedOrMismatchingDownloadsLeaveNothingBehind)
{
    EXPECT_EQ(downloadSentence(u"/missing.pkg"_s, digestOf(m_body)), u"Download failed (404). Try again later."_s);
    EXPECT_EQ(entriesOf(downloads()), QStringList());

    EXPECT_EQ(downloadSentence(u"/hub.pkg"_s, digestOf("something else")),
              u"The download is damaged (checksum mismatch). Try again."_s);
    EXPECT_EQ(entriesOf(downloads()), QStringList());

    EXPECT_EQ(downloadSentence(u"/hub.pkg"_s, digestOf(m_body), m_body.size() - 1),
              u"The Tarnhub download is damaged (wrong size). Try again."_s);
    EXPECT_EQ(entriesOf(downloads()), QStringList());
}

TEST_F(SelfUpdateDownloadTest, NoRequestIsSentWithoutAChecksumOrOverPlainHttp)
{
    const QString noChecksum = u"This release has no checksum in the catalog, so the hub won't install it."_s;
    EXPECT_EQ(downloadSentence(u"/hub.pkg"_s, std::nullopt), noChecksum);
    EXPECT_EQ(downloadSentence(u"/hub.pkg"_s, u" \n\t"_s), noChecksum);
    EXPECT_EQ(m_server.requests().size(), 0u);
    EXPECT_FALSE(QFile::exists(downloads())) << "not even the folder is made";

    const auto plain = [&](const QString& address) {
        return sentenceOf([&] {
            Installer::download(QUrl(address), digestOf(m_body), u"Tarnhub"_s, {}, std::nullopt,
                                Http::Session{m_server.caBundle(), {}}, m_home.path());
        });
    };
    EXPECT_EQ(plain(u"http://example.com/hub.pkg"_s), u"The hub only downloads over https."_s);
    EXPECT_EQ(plain(u"ftp://127.0.0.1/hub.pkg"_s), u"The hub only downloads over https."_s);
    EXPECT_EQ(m_server.requests().size(), 0u);
}

TEST_F(SelfUpdateDownloadTest, ACancelledDownloadIsACancellationAndLeavesNothing)
{
    std::stop_source stop;
    stop.request_stop();
    const QString sentence = sentenceOf([&] {
        Installer::download(m_server.url(u"/hub.pkg"_s), digestOf(m_body), u"Tarnhub"_s, {}, std::nullopt,
                            Http::Session{m_server.caBundle(), stop.get_token()}, m_home.path());
    });
    EXPECT_EQ(sentence, u"<cancelled>"_s);
    EXPECT_EQ(entriesOf(downloads()), QStringList());
}

TEST(SelfUpdateDownloadName, KeepsOnlySafeCharacters)
{
    const QRegularExpression uuid(u"^download-[0-9a-f]{8}\\.pkg$"_s);
    EXPECT_TRUE(uuid.match(Installer::downloadName(QString(), QUrl(u"https://h/get"_s))).hasMatch());
    EXPECT_TRUE(uuid.match(Installer::downloadName(u"é /"_s, QUrl(u"https://h/x."_s))).hasMatch());
    const QString name = Installer::downloadName(u"Tarn Hub 2.0_beta-1 ü"_s, QUrl(u"https://h/a/b.DMG?x=1"_s));
    EXPECT_TRUE(QRegularExpression(u"^TarnHub2\\.0_beta-1-[0-9a-f]{8}\\.DMG$"_s).match(name).hasMatch())
        << name.toStdString();
}

// ---- The downloads folder's clean-up ----------------------------------------------

void setModified(const QString& path, qint64 seconds)
{
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

TEST(SelfUpdateCleanDownloads, RemovesOnlyEntriesOlderThanADay)
{
    QTemporaryDir home;
    const QString folder = Config::downloadsFolder(home.path());
    ASSERT_TRUE(QDir().mkpath(folder + u"/Old folder/inner"_s));
    writeFileOrThrow(folder + u"/Old folder/inner/file"_s, "x");
    writeFileOrThrow(folder + u"/old.pkg"_s, "x");
    writeFileOrThrow(folder + u"/fresh.pkg"_s, "x");
    writeFileOrThrow(folder + u"/.hidden.partial"_s, "x");
    QTemporaryDir elsewhere;
    writeFileOrThrow(elsewhere.filePath(u"target"_s), "keep");
    ASSERT_TRUE(QFile::link(elsewhere.filePath(u"target"_s), folder + u"/old-link"_s));

    const QDateTime now = QDateTime::fromSecsSinceEpoch(1'800'000'000);
    const qint64 t = now.toSecsSinceEpoch();
    setModified(folder + u"/Old folder"_s, t - 86401);
    setModified(folder + u"/old.pkg"_s, t - 86401);
    setModified(folder + u"/.hidden.partial"_s, t - 200000);
    setModified(folder + u"/old-link"_s, t - 86401);
    setModified(folder + u"/fresh.pkg"_s, t - 86399);
    setModified(elsewhere.filePath(u"target"_s), t - 999999);

    Installer::cleanDownloads(home.path(), now);
    EXPECT_EQ(entriesOf(folder), QStringList({u"fresh.pkg"_s}));
    EXPECT_TRUE(QFile::exists(elsewhere.filePath(u"target"_s))) << "a link is removed, never followed";

    // A missing folder is quietly nothing to do.
    QTemporaryDir empty;
    Installer::cleanDownloads(empty.path(), now);
    EXPECT_FALSE(QFile::exists(Config::downloadsFolder(empty.path())));
}

} // namespace
