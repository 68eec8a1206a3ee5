#include "Reports/ReportSender.h"

#include "Base/HubError.h"
#include "Reports/ReportSpool.h"
#include "ReportsTestSupport.h"
#include "TestHttpsServer.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>

#include <gtest/gtest.h>

#include <atomic>

using namespace Qt::StringLiterals;

namespace {

using Hub::HubError;
using Hub::Report;
using Hub::ReportFile;
using Hub::Test::TestHttpsServer;
namespace ReportSender = Hub::ReportSender;

QJsonArray reportsOf(const TestHttpsServer::Recorded& request)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object().value("reports"_L1).toArray();
}

QStringList codesOf(const QJsonArray& reports)
{
    QStringList codes;
    for (const QJsonValue& report : reports)
        codes << report.toObject().value("code"_L1).toString();
    return codes;
}

class ReportSenderTest : public Hub::Test::SpoolFixture {
protected:
    TestHttpsServer server;

    ReportSender::Client client() const
    {
        ReportSender::Client c;
        c.base = server.url(u"/v1/"_s);
        c.session.caBundle = server.caBundle();
        return c;
    }

    // `count` reports, newest first as the spool loads them.
    std::vector<ReportFile> spoolReports(int count)
    {
        for (int i = 0; i < count; ++i) {
            now = 1000 + i;
            EXPECT_TRUE(spool.record(makeReport(u"hub"_s, u"c"_s + QString::number(i).rightJustified(3, u'0')))
                            .recorded());
        }
        std::vector<ReportFile> files = spool.load();
        EXPECT_EQ(files.size(), std::size_t(count));
        return files;
    }

    void replyWith(std::string body, int status = 200)
    {
        server.post("/v1/report", [body = std::move(body), status](const httplib::Request&, httplib::Response& res) {
            res.status = status;
            res.set_content(body, "application/json");
        });
    }

    std::vector<TestHttpsServer::Recorded> uploads() const
    {
        std::vector<TestHttpsServer::Recorded> out;
        for (const auto& request : server.requests())
            if (request.path == "/v1/report")
                out.push_back(request);
        return out;
    }
};

TEST_F(ReportSenderTest, SendsInBatchesOfFiftyInTheGivenOrderAndDeletesWhatWasAccepted)
{
    const std::vector<ReportFile> files = spoolReports(120);
    replyWith(R"({"ok":true})");

    EXPECT_EQ(ReportSender::send(files, spool, client()), 120);

    const auto requests = uploads();
    ASSERT_EQ(requests.size(), 3u);
    QStringList sent;
    std::vector<qsizetype> sizes;
    for (const auto& request : requests) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.headers.count("Authorization"), 0u);
        EXPECT_EQ(request.headers.find("Content-Type")->second, "application/json");
        EXPECT_EQ(request.headers.find("Accept")->second, "application/json");
        const QJsonArray reports = reportsOf(request);
        sizes.push_back(reports.size());
        sent << codesOf(reports);
    }
    EXPECT_EQ(sizes, (std::vector<qsizetype>{50, 50, 20}));
    QStringList given;
    for (const ReportFile& file : files)
        given << file.report.code;
    EXPECT_EQ(sent, given) << "every report once, newest first";
    EXPECT_TRUE(spool.load().empty());
}

TEST_F(ReportSenderTest, UploadedReportsCarryTheSpoolKeysAndScrubbedMessages)
{
    // A plug-in's file, neither scrubbed nor cut.
    const QString longTail(600, u'y');
    Hub::Test::writeBytes(reportPath(u"tarn-verb"_s, u"plugin.crash"_s),
                          R"({"v":1,"product":"tarn-verb","code":"plugin.crash","machine_id":"M","count":3,)"
                          R"("first_at":1,"last_at":2,"message":"/home/anna/x by anna@x.org )"
                              + longTail.toUtf8() + R"(",)"
                          R"x("host":"/Users/anna/Apps/Live.app","version":"2.0 (anna@x.org)","os":"/home/anna",)x"
                          R"("reporter":"/media/anna/Disk/r","format":"/Volumes/Anna Disk/x","arch":"/home/anna",)"
                          R"("context":{"n":1.5,"b":true,"path":"/home/anna/Music/k.wav","/home/anna/key":"v"}})");
    replyWith(R"({"ok":true})");

    ASSERT_EQ(ReportSender::send(spool.load(), spool, client()), 1);

    const QJsonObject report = reportsOf(uploads().at(0)).at(0).toObject();
    const QString message = report.value("message"_L1).toString();
    EXPECT_TRUE(message.startsWith(u"~/x by <email> yyy"_s)) << message.toStdString();
    EXPECT_EQ(message.size(), 500);
    EXPECT_EQ(report.value("machine_id"_L1).toString(), u"M"_s);
    EXPECT_EQ(report.value("count"_L1).toInteger(), 3);
    EXPECT_EQ(report.value("first_at"_L1).toInteger(), 1);
    const QJsonObject expectedContext{
        {u"n"_s, 1.5}, {u"b"_s, true}, {u"path"_s, u"~/Music/k.wav"_s}, {u"~/key"_s, u"v"_s}};
    EXPECT_EQ(report.value("context"_L1).toObject(), expectedContext);
    const std::pair<const char*, QString> texts[] = {
        {"host", u"~/Apps/Live.app"_s}, {"version", u"2.0 (<email>)"_s}, {"os", u"~"_s},
        {"reporter", u"/media/\u2026/r"_s}, {"format", u"/Volumes/\u2026/x"_s}, {"arch", u"~"_s},
        {"product", u"tarn-verb"_s}, {"code", u"plugin.crash"_s}};
    for (const auto& [key, expected] : texts)
        EXPECT_EQ(report.value(QLatin1StringView(key)).toString(), expected) << key;
}

TEST_F(ReportSenderTest, AFailedSecondBatchKeepsItsFilesAndTheRest)
{
    const std::vector<ReportFile> files = spoolReports(120);
    std::atomic<int> calls = 0;
    server.post("/v1/report", [&calls](const httplib::Request&, httplib::Response& res) {
        if (++calls == 2) {
            res.status = 500;
            res.set_content(R"({"error":"overloaded","message":"Busy."})", "application/json");
        } else {
            res.set_content(R"({"ok":true})", "application/json");
        }
    });

    try {
        ReportSender::send(files, spool, client());
        FAIL() << "a failed batch must throw";
    } catch (const HubError& error) {
        EXPECT_EQ(error.code(), u"overloaded"_s);
        EXPECT_EQ(error.errorDescription(), u"Busy."_s);
    }

    EXPECT_EQ(uploads().size(), 2u) << "no batch after the failed one";
    for (std::size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(QFileInfo::exists(files[i].url), i >= 50) << "file " << i;
}

constexpr const char* kNotAccepted = "The report server didn't accept the reports.";

TEST_F(ReportSenderTest, AnUnreachableServiceKeepsEveryFile)
{
    const std::vector<ReportFile> files = spoolReports(3);
    ReportSender::Client c = client();
    c.base = QUrl(u"https://127.0.0.1:1/v1/"_s);
    try {
        ReportSender::send(files, spool, c);
        FAIL() << "expected an error";
    } catch (const HubError& error) {
        EXPECT_EQ(error, HubError::message(u"Couldn't reach Tarnaudio. Check your connection and try again."_s))
            << "a plain message, not the account calls' offline error";
    }
    EXPECT_EQ(spool.load().size(), 3u);
}

// The upload's own rules: the status says nothing, only the body does. A
// 401 from the report endpoint must not tell the user to sign in again.
TEST_F(ReportSenderTest, TheStatusIsNotExamined)
{
    struct Case {
        const char* name;
        int status;
        const char* body;
        std::optional<HubError> error; // nothing: accepted
    };
    const HubError unavailable =
        HubError::api(u"server_error"_s, u"Tarnaudio is unavailable right now. Try again in a few minutes."_s);
    const Case cases[] = {
        {"401 accepting", 401, R"({"ok":true})", std::nullopt},
        {"500 accepting", 500, R"({"ok":true})", std::nullopt},
        {"401 with an empty object", 401, "{}", HubError::message(QString::fromUtf8(kNotAccepted))},
        {"401 with a page", 401, "<html>Unauthorized</html>", unavailable},
        {"401 naming an error", 401, R"({"error":"unauthorized"})",
         HubError::api(u"unauthorized"_s, u"Something went wrong (unauthorized)."_s)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<ReportFile> files = spoolReports(1);
        replyWith(c.body, c.status);
        try {
            EXPECT_EQ(ReportSender::send(files, spool, client()), c.error ? -1 : 1);
            EXPECT_FALSE(c.error);
            EXPECT_TRUE(spool.load().empty());
        } catch (const HubError& error) {
            ASSERT_TRUE(c.error) << error.errorDescription().toStdString();
            EXPECT_EQ(error, *c.error);
            EXPECT_EQ(spool.load(), files);
            spool.deleteFiles(files);
        }
    }
}

struct Refusal {
    const char* name;
    const char* body;
    int status;
    const char* sentence; // nullptr: the service's own error
};

class RefusedBatchTest : public ReportSenderTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedBatchTest, KeepsTheFiles)
{
    const std::vector<ReportFile> files = spoolReports(2);
    replyWith(GetParam().body, GetParam().status);

    try {
        ReportSender::send(files, spool, client());
        ADD_FAILURE() << "a refused batch must throw";
    } catch (const HubError& error) {
        if (GetParam().sentence) {
            EXPECT_EQ(error.errorDescription(), QString::fromUtf8(GetParam().sentence));
        }
    }
    EXPECT_EQ(spool.load(), files) << "nothing deleted, nothing changed";
}

INSTANTIATE_TEST_SUITE_P(Replies, RefusedBatchTest,
    ::testing::Values(
        Refusal{"OkFalse", R"({"ok":false})", 200, kNotAccepted},
        Refusal{"OkAsText", R"({"ok":"true"})", 200, kNotAccepted},
        Refusal{"OkAsNumber", R"({"ok":1})", 200, kNotAccepted},
        Refusal{"OkMissing", R"({})", 200, kNotAccepted},
        Refusal{"ErrorWithOk", R"({"ok":true,"error":"nope"})", 200, "Something went wrong (nope)."},
        Refusal{"NotJson", "<html>Bad gateway</html>", 502, nullptr},
        Refusal{"JsonList", "[true]", 200, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReportSenderTest, AFileChangedSinceLoadingStaysForTheNextUpload)
{
    const std::vector<ReportFile> files = spoolReports(2);
    // The plug-in merges a new occurrence while the upload is under way.
    server.post("/v1/report", [this](const httplib::Request&, httplib::Response& res) {
        now = 5000;
        EXPECT_TRUE(spool.record(makeReport(u"hub"_s, u"c000"_s)).recorded());
        res.set_content(R"({"ok":true})", "application/json");
    });

    EXPECT_EQ(ReportSender::send(files, spool, client()), 2) << "the batch was accepted";

    const std::vector<ReportFile> left = spool.load();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].report.code, u"hub.c000"_s);
    EXPECT_EQ(left[0].report.count, 2);
}

TEST_F(ReportSenderTest, NothingToSendMakesNoRequest)
{
    replyWith(R"({"ok":true})");
    EXPECT_EQ(ReportSender::send({}, spool, client()), 0);
    EXPECT_TRUE(uploads().empty());
}

TEST_F(ReportSenderTest, AReplacementTransportIsUsedInsteadOfTheNetwork)
{
    const std::vector<ReportFile> files = spoolReports(51);
    ReportSender::Client c = client();
    c.base = QUrl(u"https://127.0.0.1:1/v1/"_s); // would fail if reached
    QStringList paths;
    std::vector<qsizetype> sizes;
    c.transport = [&](const QJsonObject& body, const QString& path) {
        paths << path;
        sizes.push_back(body.value("reports"_L1).toArray().size());
        return QJsonObject{{u"ok"_s, true}};
    };

    EXPECT_EQ(ReportSender::send(files, spool, c), 51);
    EXPECT_EQ(paths, (QStringList{u"report"_s, u"report"_s}));
    EXPECT_EQ(sizes, (std::vector<qsizetype>{50, 1}));
    EXPECT_TRUE(spool.load().empty());
}

// ---- The opt-in ------------------------------------------------------------

TEST(ReportOptInTest, IsOffUntilSetAndStoredAtOnce)
{
    QTemporaryDir folder;
    const QString file = folder.filePath(u"settings.ini"_s);
    {
        QSettings settings(file, QSettings::IniFormat);
        EXPECT_FALSE(ReportSender::optedIn(settings));
        ReportSender::setOptedIn(settings, true);
        // Another reader of the same settings sees it while this one is open.
        QSettings other(file, QSettings::IniFormat);
        EXPECT_TRUE(ReportSender::optedIn(other));
        EXPECT_TRUE(other.contains(u"SendReports"_s));
    }
    QSettings settings(file, QSettings::IniFormat);
    ReportSender::setOptedIn(settings, false);
    QSettings again(file, QSettings::IniFormat);
    EXPECT_FALSE(ReportSender::optedIn(again));
}

} // namespace
