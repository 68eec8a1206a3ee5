// The assembled program end to end: scripts/try --journey runs the real
// hubtarn, sandboxed, under a virtual X server against the local maker's
// service, and its driver walks the window. These tests then look at what
// the journey left on disk and at the service.
#include "Base/Config.h"
#include "Base/Process.h"

#include "QStringPrinter.h"
#include "TestFiles.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace Hub::Test {
namespace {

// Generous for a loaded two-core machine; a journey takes seconds.
constexpr double kJourneyTimeout = 170.0;

class Journey : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    // Runs scripts/try's journey (of a fault mode, when given) in a fresh
    // folder it keeps for the checks; fails the test unless every step passed.
    void walk(const QString& fault = {})
    {
        QStringList arguments{u"TARNHUB_BUILD="_s + QString::fromUtf8(HUB_BUILD_DIR),
                              QString::fromUtf8(HUB_SOURCE_DIR) + u"/scripts/try"_s, u"--journey"_s, u"--keep"_s,
                              work()};
        if (!fault.isEmpty())
            arguments << u"--fault"_s << fault;
        const Shell::Result result = Shell::run(u"/usr/bin/env"_s, arguments, kJourneyTimeout);
        m_output = result.output;
        ASSERT_EQ(result.status, 0) << result.output.toStdString();
        const QStringList steps = journey();
        ASSERT_FALSE(steps.isEmpty());
        for (const QString& line : steps)
            EXPECT_TRUE(line.startsWith(u"ok\t"_s)) << line.toStdString();
        EXPECT_TRUE(steps.last().startsWith(u"ok\tquit\t"_s)) << result.output.toStdString();
    }

    QString work(const QString& relative = {}) const
    {
        const QString root = m_dir.filePath(u"try"_s);
        return relative.isEmpty() ? root : root + u'/' + relative;
    }

    QString home(const QString& relative) const { return work(u"home/"_s + relative); }

    QStringList journey() const
    {
        return QString::fromUtf8(readAll(work(u"journey.log"_s))).split(u'\n', Qt::SkipEmptyParts);
    }

    // The maker's service's calls to one endpoint, as it logged them.
    std::vector<QJsonObject> calls(const QString& endpoint) const
    {
        std::vector<QJsonObject> found;
        for (const QByteArray& line : readAll(work(u"service/service.log"_s)).split('\n')) {
            const QJsonObject call = QJsonDocument::fromJson(line).object();
            if (call.value("endpoint"_L1).toString() == endpoint)
                found.push_back(call);
        }
        return found;
    }

    // The pictures this journey's run left in the build's screenshots.
    QStringList pictures(const QString& journeyName) const
    {
        return QDir(QString::fromUtf8(HUB_BUILD_DIR) + u"/screenshots"_s)
            .entryList({u"e2e-"_s + journeyName + u"-*.png"_s}, QDir::Files);
    }

    QTemporaryDir m_dir;
    QString m_output;
};

TEST_F(Journey, InstallsUpdatesRemovesReportsAndSendsFeedbackThroughTheRealWindow)
{
    walk();
    QStringList names;
    for (const QString& line : journey())
        names << line.section(u'\t', 1, 1);
    EXPECT_EQ(names, (QStringList{u"sign-in screen"_s, u"sign in"_s, u"refresh"_s, u"plug-ins tab"_s,
                                  u"install from a row"_s, u"install from a page"_s, u"update from a row"_s,
                                  u"update all"_s, u"change a setting"_s, u"send problem reports"_s, u"uninstall"_s,
                                  u"web page"_s, u"release notes"_s, u"feedback"_s, u"quit"_s,
                                  // The second launch over the same home.
                                  u"sign-in screen"_s, u"sign in"_s, u"setting kept"_s, u"quit"_s}));
    EXPECT_TRUE(m_output.contains(u"Installed Echo 1.2.0 from its row: VST3 at ~/.vst3/Echo.vst3"_s))
        << m_output.toStdString();
    // Its sheet was walked by keys, and the AU chosen there then turned off
    // by assistive technology went nowhere, not even to the Trash later.
    for (const QString& place : {u".components/Echo.component"_s, u".local/share/Trash/files/Echo.component"_s})
        EXPECT_FALSE(QFileInfo::exists(home(place))) << place.toStdString();

    // Installed from the page with AU left out: the VST3 alone, the maker's
    // bundle byte for byte.
    EXPECT_EQ(treeListing(home(u".vst3/Moraine.vst3"_s)),
              treeListing(work(u"service/bundles/moraine/0.4.0/vst3/Moraine.vst3"_s)));
    QStringList moraine;
    for (QDirIterator it(home(QString()), {u"Moraine*"_s}, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString found = it.next();
        if (!found.contains(u"/Moraine.vst3/"_s))
            moraine << found;
    }
    EXPECT_EQ(moraine, QStringList{home(u".vst3/Moraine.vst3"_s)});
    // The try names the home it ran in, and where the copies the window
    // calls "~/..." really are: Moraine, not the removed Echo.
    EXPECT_TRUE(m_output.contains(u"Tarnhub's home folder for this try: "_s + work(u"home"_s) + u" (kept).\n"_s))
        << m_output.toStdString();
    const QString ended = m_output.section(u"Installed when the journey ended:\n"_s, 1);
    EXPECT_TRUE(ended.contains(u"  ~/.vst3/Moraine.vst3 is "_s + home(u".vst3/Moraine.vst3"_s) + u'\n'))
        << m_output.toStdString();
    EXPECT_FALSE(ended.contains(u"Echo.vst3"_s)) << m_output.toStdString();

    // The updates, from a row and with Update all, are the maker's bundles
    // where the old ones were.
    for (const auto& [name, version] : {std::pair{u"Drift"_s, u"2.1.0"_s}, std::pair{u"Sedge"_s, u"1.2.0"_s},
                                        std::pair{u"Scree"_s, u"2.0.1"_s}}) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(treeListing(home(u".vst3/"_s + name + u".vst3"_s)),
                  treeListing(work(u"service/bundles/"_s + name.toLower() + u'/' + version + u"/vst3/"_s + name
                                   + u".vst3"_s)));
    }
    // The removed bundle is whole in the Trash, with what the file manager
    // needs to put it back.
    EXPECT_FALSE(QFileInfo::exists(home(u".vst3/Echo.vst3"_s)));
    EXPECT_EQ(treeListing(home(u".local/share/Trash/files/Echo.vst3"_s)),
              treeListing(work(u"service/bundles/echo/1.2.0/vst3/Echo.vst3"_s)));
    EXPECT_TRUE(readAll(home(u".local/share/Trash/info/Echo.vst3.trashinfo"_s))
                    .contains(QByteArray("Path=" + QUrl::toPercentEncoding(home(u".vst3/Echo.vst3"_s), "/"))));

    // The More menu's addresses reached the sandbox's workspace, not a browser.
    EXPECT_EQ(QString::fromUtf8(readAll(home(u".local/state/hubtarn/opened.log"_s))),
              u"open https://tarnaudio.example/plugins/echo\nopen "_s
                  + Config::changelog(u"echo"_s).toString(QUrl::FullyEncoded) + u'\n');

    // The problem report the earlier run left reached the service.
    const std::vector<QJsonObject> reports = calls(u"report"_s);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports.front().value("status"_L1).toInt(), 200);
    const QJsonArray sent = reports.front().value("body"_L1).toObject().value("reports"_L1).toArray();
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent.at(0).toObject().value("product"_L1).toString(), u"glasswing"_s);
    EXPECT_EQ(sent.at(0).toObject().value("code"_L1).toString(), u"hub.install.downloading"_s);

    const std::vector<QJsonObject> feedback = calls(u"hub/feedback"_s);
    ASSERT_EQ(feedback.size(), 1u);
    const QJsonObject body = feedback.front().value("body"_L1).toObject();
    EXPECT_EQ(body.value("product"_L1).toString(), u"lumen"_s);
    EXPECT_EQ(body.value("version"_L1).toString(), u"0.9.2"_s);
    EXPECT_EQ(body.value("kind"_L1).toString(), u"love"_s);
    EXPECT_EQ(body.value("message"_L1).toString(),
              u"Tried the beta of Lumen end to end; the shimmer tail is lovely."_s);
    EXPECT_EQ(feedback.front().value("status"_L1).toInt(), 200);
    // Once per launch: a sandboxed run keeps its secrets in memory only.
    EXPECT_EQ(calls(u"hub/device"_s).size(), 2u);

    EXPECT_GE(pictures(u"journey"_s).size(), 20);
    EXPECT_GE(pictures(u"again"_s).size(), 4);
}

// A download the service spoils: the update fails with its sentence, the
// copy in place stays byte for byte, and one problem report says why.
class SpoiltDownload : public Journey, public ::testing::WithParamInterface<const char*> {};

TEST_P(SpoiltDownload, FailsOnItsJobLineKeepsThePreviousCopyAndWritesAReport)
{
    const QString fault = QString::fromLatin1(GetParam());
    walk(fault);
    EXPECT_TRUE(m_output.contains(u"The update of Drift failed: "_s)) << m_output.toStdString();
    EXPECT_EQ(treeListing(home(u".vst3/Drift.vst3"_s)), treeListing(work(u"service/home-seed/.vst3/Drift.vst3"_s)));

    QStringList reports;
    for (QDirIterator it(home(u".local/share/Tarn Audio"_s), {u"*.json"_s}, QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();) {
        const QJsonObject report = QJsonDocument::fromJson(readAll(it.next())).object();
        if (report.value("product"_L1).toString() == u"drift"_s)
            reports << report.value("code"_L1).toString() + u": "_s + report.value("message"_L1).toString();
    }
    ASSERT_EQ(reports.size(), 1) << reports.join(u'\n').toStdString();
    EXPECT_TRUE(reports.first().startsWith(u"hub.install"_s)) << reports.first().toStdString();
    if (fault == "checksum"_L1) {
        EXPECT_TRUE(reports.first().contains(u"checksum mismatch"_s)) << reports.first().toStdString();
    }
    EXPECT_GE(pictures(fault).size(), fault == "stall"_L1 ? 6 : 5);
}

// The stalled download ends after the seconds without a byte that the
// stall mode's profile gives, not the program's own minute.
INSTANTIATE_TEST_SUITE_P(Faults, SpoiltDownload, ::testing::Values("checksum", "stall"));

TEST_F(Journey, AnAccountTheServiceRefusesSendsTheUserBackToSignIn)
{
    walk(u"unauthorized"_s);
    const std::vector<QJsonObject> account = calls(u"hub/account"_s);
    ASSERT_FALSE(account.empty());
    EXPECT_EQ(account.front().value("status"_L1).toInt(), 401);
    EXPECT_GE(pictures(u"unauthorized"_s).size(), 4);
}

// A fault mode the service does not have is the try's own usage error,
// before anything starts.
TEST(TryOptions, AnUnknownFaultModeIsRefusedWithStatusTwoAndItsOwnSentence)
{
    const Shell::Result result = Shell::run(
        u"/usr/bin/env"_s,
        {u"TARNHUB_BUILD="_s + QString::fromUtf8(HUB_BUILD_DIR), QString::fromUtf8(HUB_SOURCE_DIR) + u"/scripts/try"_s,
         u"--journey"_s, u"--fault"_s, u"bogus"_s},
        60);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.output,
              u"scripts/try: there is no fault mode 'bogus'; the modes are checksum, stall and unauthorized.\n"_s);
}

// A profile the sandboxed program cannot use ends it at once, before any
// window, with its reason: it never falls back to the real service.
TEST(ServiceProfileRefusal, AMalformedProfileEndsTheProgramWithItsReasonAndStatusTwo)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString profile = dir.filePath(u"profile.json"_s);
    writeAll(profile, "{\"api_base\": \"https://127.0.0.1:1/v1/\"");
    const Shell::Result result = Shell::run(
        u"/usr/bin/env"_s,
        {u"-i"_s, u"HOME="_s + dir.path(), u"XDG_RUNTIME_DIR="_s + dir.path(), u"HUBTARN_SANDBOX=1"_s,
         u"HUBTARN_SERVICE_PROFILE="_s + profile, QString::fromUtf8(HUB_PROGRAM)},
        60);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.output,
              u"hubtarn: The service profile "_s + profile + u" can't be used: it is not a JSON object.\n"_s);
}

} // namespace
} // namespace Hub::Test
