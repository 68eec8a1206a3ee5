#include "Reports/ReportSpool.h"

#include "ReportsTestSupport.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <limits>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using Hub::ContextValue;
using Hub::RecordResult;
using Hub::RecordStatus;
using Hub::Report;
using Hub::ReportContext;
using Hub::ReportFile;
using Hub::Test::readBytes;
using Hub::Test::treeOf;
using Hub::Test::writeBytes;

class ReportSpoolTest : public Hub::Test::SpoolFixture {
protected:
    Report stored(const QString& product, const QString& code) const
    {
        return Report::decode(readBytes(reportPath(product, code)));
    }
};

// ---- Which codes and products may be written ------------------------------

struct CodeCase {
    const char* given;
    const char* stored; // nullptr: refused
};

class CodeRuleTest : public ReportSpoolTest, public ::testing::WithParamInterface<CodeCase> {};

TEST_P(CodeRuleTest, RecordsUnderTheHubPrefixOrRefusesWithoutWriting)
{
    const CodeCase c = GetParam();
    const RecordResult result = spool.record(makeReport(u"hub"_s, QString::fromUtf8(c.given)));
    if (c.stored) {
        ASSERT_TRUE(result.recorded()) << result.error->errorDescription().toStdString();
        EXPECT_EQ(result.path, reportPath(u"hub"_s, QString::fromUtf8(c.stored)));
        EXPECT_EQ(stored(u"hub"_s, QString::fromUtf8(c.stored)).code, QString::fromUtf8(c.stored));
    } else {
        EXPECT_EQ(result.status, RecordStatus::invalidCode);
        ASSERT_TRUE(result.error);
        EXPECT_TRUE(result.error->errorDescription().contains(u"isn't valid"_s));
        EXPECT_EQ(treeOf(home.path()), QStringList()) << "nothing may be written for a refused code";
    }
}

const std::string kSixty(60, 'a');
const std::string kSixtyOne(61, 'a');
const std::string k64 = "hub." + kSixty;
const std::string k65 = "hub." + kSixtyOne;

INSTANTIATE_TEST_SUITE_P(Codes, CodeRuleTest,
    ::testing::Values(
        CodeCase{"install", "hub.install"},
        CodeCase{"hub.install", "hub.install"},
        CodeCase{"hub.account", "hub.account"},
        CodeCase{"keychain.read", "hub.keychain.read"},
        CodeCase{"x_1-2", "hub.x_1-2"},
        CodeCase{k64.c_str(), k64.c_str()}, // 64 characters in all: the most the pattern allows
        CodeCase{k65.c_str(), nullptr},
        CodeCase{"", nullptr},
        CodeCase{"hub.", nullptr},
        CodeCase{"hub.Install", nullptr},
        CodeCase{"Install", nullptr},
        CodeCase{"bad code", nullptr},
        CodeCase{"a/b", nullptr},
        CodeCase{"../x", nullptr},
        CodeCase{"install\n", nullptr}));

class HostileProductTest : public ReportSpoolTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(HostileProductTest, IsRefusedAndNothingIsWrittenAnywhere)
{
    // A sibling folder of the spool that "../x" would reach.
    const QString outside = QDir(spool.root()).filePath(u"../x"_s);
    const RecordResult result = spool.record(makeReport(QString::fromUtf8(GetParam()), u"hub.install"_s));

    EXPECT_EQ(result.status, RecordStatus::invalidProduct);
    ASSERT_TRUE(result.error);
    EXPECT_TRUE(result.error->errorDescription().contains(u"product identifier"_s));
    EXPECT_TRUE(result.path.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(outside));
    // Not in the spool, not beside it, not in its parents, no lock taken.
    EXPECT_EQ(treeOf(home.path()), QStringList());
}

INSTANTIATE_TEST_SUITE_P(Products, HostileProductTest,
    ::testing::Values("../x", "..", ".", "", "a/b", "/abs", "../../../../tmp/x", ".hidden", "Tarn", "a b",
                      "x\n"));

TEST_F(ReportSpoolTest, ProductIdentifiersOfTheCatalogAreAccepted)
{
    for (const QString& product : {u"hub"_s, u"tarn-verb"_s, u"echo_2.0"_s}) {
        const RecordResult result = spool.record(makeReport(product, u"install"_s));
        ASSERT_TRUE(result.recorded()) << product.toStdString();
        EXPECT_TRUE(QFileInfo::exists(reportPath(product, u"hub.install"_s)));
    }
}

// ---- Merging a problem that happens again ----------------------------------

TEST_F(ReportSpoolTest, SecondRecordRaisesTheCountAndMovesOnlyTheLastTime)
{
    Report first = makeReport(u"hub"_s, u"hub.install"_s);
    first.message = u"first"_s;
    first.version = u"1.0"_s;
    now = 1000;
    ASSERT_TRUE(spool.record(first).recorded());

    Report again = makeReport(u"hub"_s, u"hub.install"_s);
    now = 2000;
    ASSERT_TRUE(spool.record(again).recorded());

    const Report merged = stored(u"hub"_s, u"hub.install"_s);
    EXPECT_EQ(merged.count, 2);
    EXPECT_EQ(merged.firstAt, 1000);
    EXPECT_EQ(merged.lastAt, 2000);
    EXPECT_EQ(merged.message, u"first"_s) << "a record without a message keeps the old one";
    EXPECT_EQ(merged.version, u"1.0"_s);

    Report third = makeReport(u"hub"_s, u"hub.install"_s);
    third.message = u"third"_s;
    third.version = u"1.1"_s;
    third.context = ReportContext{{u"step"_s, ContextValue(u"swap"_s)}};
    now = 3000;
    ASSERT_TRUE(spool.record(third).recorded());

    const Report latest = stored(u"hub"_s, u"hub.install"_s);
    EXPECT_EQ(latest.count, 3);
    EXPECT_EQ(latest.firstAt, 1000);
    EXPECT_EQ(latest.lastAt, 3000);
    EXPECT_EQ(latest.message, u"third"_s);
    EXPECT_EQ(latest.version, u"1.1"_s);
    EXPECT_EQ(latest.context, third.context);
    EXPECT_EQ(spool.load().size(), 1u) << "a repeated problem adds no file";
}

TEST_F(ReportSpoolTest, MergeKeepsWhatThePluginWroteAboutItself)
{
    // A plug-in's file: its own format, host, reporter and machine facts.
    writeBytes(reportPath(u"tarn-verb"_s, u"hub.install"_s),
               R"({"v":1,"product":"tarn-verb","code":"hub.install","format":"vst3","host":"Live 12",)"
               R"("reporter":"plugin","os":"macOS 14.5","arch":"arm64","machine_id":"M1","count":4,)"
               R"("first_at":10,"last_at":20,"extra":"kept by nobody"})");

    Report ours = makeReport(u"tarn-verb"_s, u"hub.install"_s);
    ours.format = u"hub"_s;
    ours.host = u"Tarnhub 1.0"_s;
    ours.reporter = u"hub"_s;
    ours.os = u"Debian GNU/Linux 12"_s;
    ours.arch = u"x86_64"_s;
    ours.machineID = u"M2"_s;
    ours.v = 7;
    now = 30;
    ASSERT_TRUE(spool.record(ours).recorded());

    const Report merged = stored(u"tarn-verb"_s, u"hub.install"_s);
    EXPECT_EQ(merged.v, 1);
    EXPECT_EQ(merged.format, u"vst3"_s);
    EXPECT_EQ(merged.host, u"Live 12"_s);
    EXPECT_EQ(merged.reporter, u"plugin"_s);
    EXPECT_EQ(merged.os, u"macOS 14.5"_s);
    EXPECT_EQ(merged.arch, u"arm64"_s);
    EXPECT_EQ(merged.machineID, u"M1"_s);
    EXPECT_EQ(merged.count, 5);
    EXPECT_EQ(merged.firstAt, 10);
    EXPECT_EQ(merged.lastAt, 30);
}

TEST_F(ReportSpoolTest, OldFileWithoutCountOrFirstTimeMergesAsTheRulesSay)
{
    writeBytes(reportPath(u"hub"_s, u"hub.a"_s), R"({"v":1,"product":"hub","code":"hub.a"})");
    writeBytes(reportPath(u"hub"_s, u"hub.b"_s),
               R"({"v":1,"product":"hub","code":"hub.b","count":9223372036854775807,"first_at":5})");

    ASSERT_TRUE(spool.record(makeReport(u"hub"_s, u"hub.a"_s)).recorded());
    ASSERT_TRUE(spool.record(makeReport(u"hub"_s, u"hub.b"_s)).recorded());

    const Report a = stored(u"hub"_s, u"hub.a"_s);
    EXPECT_EQ(a.count, 2) << "a missing count counts as 1";
    EXPECT_EQ(a.firstAt, std::nullopt) << "a missing first time stays missing";
    EXPECT_EQ(a.lastAt, now);
    EXPECT_EQ(stored(u"hub"_s, u"hub.b"_s).count, std::numeric_limits<qint64>::max())
        << "the largest count neither fails nor wraps";
}

// ---- Another program's file that is not a report ---------------------------

// A table row's name as gtest takes it: letters and digits only.
std::string rowName(std::string name)
{
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return name;
}

// `json` with blanks after it, `size` bytes in all.
QByteArray padded(const QByteArray& json, qint64 size)
{
    return json + QByteArray(qsizetype(size) - json.size(), ' ');
}

struct ForeignFile {
    const char* what;
    QByteArray bytes;
};

class ForeignFileTest : public ReportSpoolTest, public ::testing::WithParamInterface<ForeignFile> {};

TEST_P(ForeignFileTest, IsLeftByteForByteAndTheResultSaysSo)
{
    const QString path = reportPath(u"tarn-verb"_s, u"hub.install"_s);
    writeBytes(path, GetParam().bytes);

    Report ours = makeReport(u"tarn-verb"_s, u"install"_s);
    ours.message = u"Couldn't install"_s;
    const RecordResult result = spool.record(ours);

    EXPECT_EQ(result.status, RecordStatus::unreadableFile);
    EXPECT_FALSE(result.recorded());
    EXPECT_EQ(result.path, path);
    ASSERT_TRUE(result.error);
    EXPECT_TRUE(result.error->errorDescription().contains(u"left as it is"_s));
    EXPECT_EQ(readBytes(path), GetParam().bytes);
    EXPECT_EQ(treeOf(QFileInfo(path).path()), QStringList{u"hub.install.json"_s}) << "no second file beside it";
    EXPECT_TRUE(spool.load().empty());
}

INSTANTIATE_TEST_SUITE_P(Files, ForeignFileTest,
    ::testing::Values(
        ForeignFile{"not JSON", "{\"v\":1,\"product\":\"tarn-verb\",\"co"},
        ForeignFile{"a list", "[1,2]"},
        ForeignFile{"no product", R"({"v":1,"code":"hub.install","count":3})"},
        ForeignFile{"v as text", R"({"v":"1","product":"tarn-verb","code":"hub.install"})"},
        ForeignFile{"count with a fraction", R"({"v":1,"product":"tarn-verb","code":"hub.install","count":2.5})"},
        ForeignFile{"message as a number", R"({"v":1,"product":"tarn-verb","code":"hub.install","message":5})"},
        ForeignFile{"context value null",
                    R"({"v":1,"product":"tarn-verb","code":"hub.install","context":{"a":null}})"},
        ForeignFile{"binary", QByteArray("\x00\xff\xfe\x01", 4)},
        ForeignFile{"a report one byte over the size cap",
                    padded(R"({"v":1,"product":"tarn-verb","code":"hub.install"})", Hub::ReportSpool::kMaxFileBytes + 1)}),
    [](const auto& info) { return rowName(info.param.what); });

// An empty file can be no one's report (a write a full disk cut short once
// left one): it would block every later report of its product and code.
TEST_F(ReportSpoolTest, AnEmptyFileOfThisUsersIsReplacedByTheReport)
{
    const QString path = reportPath(u"tarn-verb"_s, u"hub.install"_s);
    writeBytes(path, "");

    Report ours = makeReport(u"tarn-verb"_s, u"install"_s);
    ours.message = u"Couldn't install"_s;
    ASSERT_TRUE(spool.record(ours).recorded());

    const Report written = stored(u"tarn-verb"_s, u"hub.install"_s);
    EXPECT_EQ(written.count, 1);
    EXPECT_EQ(written.firstAt, now);
    EXPECT_EQ(written.message, u"Couldn't install"_s);
    EXPECT_EQ(spool.load().size(), 1u);
}

TEST_F(ReportSpoolTest, AFolderInPlaceOfTheFileIsNotReplaced)
{
    const QString path = reportPath(u"hub"_s, u"hub.install"_s);
    ASSERT_TRUE(QDir().mkpath(path + u"/inside"_s));
    const RecordResult result = spool.record(makeReport(u"hub"_s, u"install"_s));
    EXPECT_EQ(result.status, RecordStatus::unreadableFile);
    EXPECT_TRUE(QFileInfo(path + u"/inside"_s).isDir());
}

TEST_F(ReportSpoolTest, AFileThatCannotBeWrittenIsReportedNotHidden)
{
    // The product folder's place is taken by a file, so nothing can be written.
    writeBytes(QDir(spool.root()).filePath(u"hub"_s), "a file");
    const RecordResult result = spool.record(makeReport(u"hub"_s, u"install"_s));
    EXPECT_EQ(result.status, RecordStatus::notWritten);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(readBytes(QDir(spool.root()).filePath(u"hub"_s)), "a file");
}

// ---- What lies in a report's place but is no plain file ---------------------

// Runs `call` on a thread of its own. A call stuck opening a named pipe is
// freed by opening the pipe's other end, so the test fails rather than hangs.
template <typename Call>
auto withinLimit(const QString& pipe, Call&& call)
{
    auto result = std::async(std::launch::async, std::forward<Call>(call));
    if (result.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) {
        ADD_FAILURE() << "the spool blocked on " << pipe.toStdString();
        const int fd = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
    }
    return result.get();
}

struct Stranger {
    const char* what;
    // Puts it at `path`; anything it points to goes in `beside`.
    std::function<void(const QString& path, const QString& beside)> make;
    mode_t type;
    QString reason; // how the spool's listing names it
};

[[maybe_unused]] void PrintTo(const Stranger& stranger, std::ostream* os) { *os << stranger.what; }

const QByteArray kElsewhere = R"({"v":1,"product":"p","code":"hub.x","count":1})";

class StrangerTest : public ReportSpoolTest, public ::testing::WithParamInterface<Stranger> {};

// Recording, loading and deleting go on without waiting, leave the thing
// and whatever it points to as they were, and say why nothing was recorded.
TEST_P(StrangerTest, IsLeftAloneWithoutWaitingOnIt)
{
    const QString beside = home.filePath(u"beside"_s);
    ASSERT_TRUE(QDir().mkpath(beside));
    const QString path = reportPath(u"p"_s, u"hub.x"_s);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    GetParam().make(path, beside);

    const RecordResult result = withinLimit(path, [&] { return spool.record(makeReport(u"p"_s, u"x"_s)); });
    EXPECT_EQ(result.status, RecordStatus::unreadableFile);
    ASSERT_TRUE(result.error);
    EXPECT_TRUE(result.error->errorDescription().startsWith(u"The report file "_s + path + u" can't be read ("_s))
        << result.error->errorDescription().toStdString();
    EXPECT_TRUE(result.error->errorDescription().endsWith(u"); it was left as it is and the report was not recorded."_s));

    // A report loaded before the thing took its place is not deleted through it.
    ASSERT_TRUE(spool.record(makeReport(u"p"_s, u"y"_s)).recorded());
    const std::vector<ReportFile> loaded = withinLimit(path, [&] { return spool.load(); });
    ASSERT_EQ(loaded.size(), 1u) << "the thing is not loaded as a report";
    const QString other = reportPath(u"p"_s, u"hub.y"_s);
    ASSERT_TRUE(QFile::remove(other));
    GetParam().make(other, beside + u"/y"_s);
    withinLimit(other, [&] { spool.deleteFiles(loaded); });

    // The listing names both for what they are, without opening either.
    const Hub::SpoolContents found = withinLimit(path, [&] { return spool.contents(); });
    EXPECT_TRUE(found.reports.empty());
    EXPECT_EQ(found.unreadable,
              (std::vector<Hub::UnreadableReport>{{path, GetParam().reason}, {other, GetParam().reason}}));

    for (const QString& place : {path, other}) {
        struct stat info = {};
        ASSERT_EQ(::lstat(QFile::encodeName(place).constData(), &info), 0) << place.toStdString();
        EXPECT_EQ(info.st_mode & S_IFMT, GetParam().type) << place.toStdString();
    }
    for (const QString& target : QStringList{beside + u"/report.json"_s, beside + u"/y/report.json"_s}) {
        if (QFileInfo(target).isFile()) {
            EXPECT_EQ(readBytes(target), kElsewhere) << target.toStdString();
        }
    }
}

void makePipe(const QString& path)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0) << path.toStdString();
}

void makeLink(const QString& target, const QString& path)
{
    ASSERT_TRUE(QFile::link(target, path)) << path.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Things, StrangerTest,
    ::testing::Values(
        Stranger{"a named pipe", [](const QString& path, const QString&) { makePipe(path); }, S_IFIFO,
                 u"it is a named pipe"_s},
        Stranger{"a folder", [](const QString& path, const QString&) { ASSERT_TRUE(QDir().mkpath(path + u"/in"_s)); },
                 S_IFDIR, u"it is a folder"_s},
        Stranger{"a link to a report outside the spool",
                 [](const QString& path, const QString& beside) {
                     QDir().mkpath(beside);
                     writeBytes(beside + u"/report.json"_s, kElsewhere);
                     makeLink(beside + u"/report.json"_s, path);
                 },
                 S_IFLNK, u"it is a link"_s},
        Stranger{"a link to a named pipe",
                 [](const QString& path, const QString& beside) {
                     QDir().mkpath(beside);
                     makePipe(beside + u"/pipe"_s);
                     makeLink(beside + u"/pipe"_s, path);
                 },
                 S_IFLNK, u"it is a link"_s}),
    [](const auto& info) { return rowName(info.param.what); });

// Reports name the machine: on a home other users may list, a spool folder
// an older hub made 0755 and its 0644 reports are this user's alone after
// the next record, whatever the umask; this user still reads and merges them.
TEST_F(ReportSpoolTest, ReportsAreReadableByTheirOwnerAlone)
{
    const QString old = reportPath(u"p"_s, u"hub.old"_s);
    writeBytes(old, R"({"v":1,"product":"p","code":"hub.old","count":1})");
    const QString product = QFileInfo(old).path();
    for (const auto& [place, mode] : {std::pair{spool.root(), 0755}, {product, 0755}, {old, 0644}})
        ASSERT_EQ(::chmod(QFile::encodeName(place).constData(), mode_t(mode)), 0);

    const mode_t mask = ::umask(022);
    const bool merged = spool.record(makeReport(u"p"_s, u"old"_s)).recorded();
    const bool fresh = spool.record(makeReport(u"q"_s, u"new"_s)).recorded();
    ::umask(mask);
    ASSERT_TRUE(merged);
    ASSERT_TRUE(fresh);

    for (const auto& [place, mode] : {std::pair{spool.root(), 0700}, {product, 0700},
                                      {QFileInfo(reportPath(u"q"_s, u"hub.new"_s)).path(), 0700}, {old, 0600},
                                      {reportPath(u"q"_s, u"hub.new"_s), 0600}}) {
        struct stat info = {};
        ASSERT_EQ(::stat(QFile::encodeName(place).constData(), &info), 0) << place.toStdString();
        EXPECT_EQ(info.st_mode & 07777, mode_t(mode)) << place.toStdString();
    }
    EXPECT_EQ(stored(u"p"_s, u"hub.old"_s).count, 2);
}

// ---- What the file holds ---------------------------------------------------

TEST_F(ReportSpoolTest, FileIsCompactJsonWithSortedKeysAndNoNulls)
{
    Report report = makeReport(u"hub"_s, u"install"_s);
    report.version = u"1.2"_s;
    report.message = u"Couldn't install"_s;
    report.context = ReportContext{{u"z"_s, ContextValue(true)}, {u"a"_s, ContextValue(3.0)}};
    now = 1234;
    const RecordResult result = spool.record(report);
    ASSERT_TRUE(result.recorded());

    EXPECT_EQ(readBytes(result.path),
              R"({"code":"hub.install","context":{"a":3,"z":true},"count":1,"first_at":1234,"last_at":1234,)"
              R"("message":"Couldn't install","product":"hub","v":1,"version":"1.2"})");
}

TEST_F(ReportSpoolTest, MessageIsScrubbedAndCutTo500Characters)
{
    Report report = makeReport(u"hub"_s, u"install"_s);
    report.message = u"Couldn't open /Users/anna/Music/x.vst3 for Anna.Smith@Example.COM "_s + QString(600, u'x');
    const RecordResult result = spool.record(report);
    ASSERT_TRUE(result.recorded());

    const QString message = *stored(u"hub"_s, u"hub.install"_s).message;
    EXPECT_TRUE(message.startsWith(u"Couldn't open ~/Music/x.vst3 for <email> xxx"_s)) << message.toStdString();
    EXPECT_EQ(message.size(), 500);
    EXPECT_FALSE(message.contains(u"anna"_s, Qt::CaseInsensitive));
}

TEST_F(ReportSpoolTest, ContextValuesKeepTheirKind)
{
    writeBytes(reportPath(u"hub"_s, u"hub.ctx"_s),
               R"({"v":1,"product":"hub","code":"hub.ctx","context":{"b":true,"n":3,"t":"3"}})");
    const std::vector<ReportFile> files = spool.load();
    ASSERT_EQ(files.size(), 1u);
    const ReportContext expected{
        {u"b"_s, ContextValue(true)}, {u"n"_s, ContextValue(3.0)}, {u"t"_s, ContextValue(u"3"_s)}};
    EXPECT_EQ(files[0].report.context, expected);
}

// ---- Loading ---------------------------------------------------------------

TEST_F(ReportSpoolTest, LoadsNewestFirstAndKeepsListingOrderForEqualTimes)
{
    const auto put = [&](const char* product, const char* code, const char* lastAt) {
        QByteArray json = R"({"v":1,"product":")" + QByteArray(product) + R"(","code":")" + QByteArray(code) + '"';
        if (lastAt)
            json += R"(,"last_at":)" + QByteArray(lastAt);
        writeBytes(reportPath(QString::fromUtf8(product), QString::fromUtf8(code)), json + '}');
    };
    put("a", "hub.none", nullptr);
    put("a", "hub.old", "100");
    put("b", "hub.new", "300");
    put("b", "hub.tie1", "200");
    put("c", "hub.tie2", "200");
    put("c", "hub.negative", "-5");

    QStringList codes;
    for (const ReportFile& file : spool.load())
        codes << file.report.code;
    EXPECT_EQ(codes, (QStringList{u"hub.new"_s, u"hub.tie1"_s, u"hub.tie2"_s, u"hub.old"_s, u"hub.none"_s,
                                  u"hub.negative"_s}));
}

TEST_F(ReportSpoolTest, LoadSkipsWhatIsNotAReportAndLeavesItOnDisk)
{
    // As large as a report may be; one byte more and it is not read.
    const QByteArray good = padded(R"({"v":1,"product":"p","code":"hub.good"})", Hub::ReportSpool::kMaxFileBytes);
    writeBytes(reportPath(u"p"_s, u"hub.good"_s), good);
    const QStringList strays = {
        spool.root() + u"/hub.root.json"_s,            // directly in the root
        spool.root() + u"/p/hub.upper.JSON"_s,         // extension in capitals
        spool.root() + u"/p/hub.txt"_s,                // another extension
        spool.root() + u"/p/nested/hub.deep.json"_s,   // below a product folder
        spool.root() + u"/p/bad-code.json"_s,          // a code failing the pattern
        spool.root() + u"/p/broken.json"_s,            // not JSON
        spool.root() + u"/p/hub.huge.json"_s,          // over the size cap
    };
    writeBytes(strays[0], R"({"v":1,"product":"p","code":"hub.root"})");
    writeBytes(strays[1], R"({"v":1,"product":"p","code":"hub.upper"})");
    writeBytes(strays[2], R"({"v":1,"product":"p","code":"hub.txt"})");
    writeBytes(strays[3], R"({"v":1,"product":"p","code":"hub.deep"})");
    writeBytes(strays[4], R"({"v":1,"product":"p","code":"Bad Code"})");
    writeBytes(strays[5], "{");
    writeBytes(strays[6], padded(R"({"v":1,"product":"p","code":"hub.huge"})", Hub::ReportSpool::kMaxFileBytes + 1));

    const std::vector<ReportFile> files = spool.load();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].url, reportPath(u"p"_s, u"hub.good"_s));
    EXPECT_EQ(files[0].id(), files[0].url);
    EXPECT_EQ(files[0].data, good);
    for (const QString& stray : strays)
        EXPECT_TRUE(QFileInfo::exists(stray)) << stray.toStdString();
}

// ---- Deleting what was uploaded ------------------------------------------

TEST_F(ReportSpoolTest, DeleteKeepsAFileChangedSinceItWasLoaded)
{
    ASSERT_TRUE(spool.record(makeReport(u"hub"_s, u"a"_s)).recorded());
    ASSERT_TRUE(spool.record(makeReport(u"hub"_s, u"b"_s)).recorded());
    const std::vector<ReportFile> loaded = spool.load();
    ASSERT_EQ(loaded.size(), 2u);

    // Another occurrence is merged into b after it was loaded.
    now += 10;
    ASSERT_TRUE(spool.record(makeReport(u"hub"_s, u"b"_s)).recorded());
    spool.deleteFiles(loaded);

    EXPECT_FALSE(QFileInfo::exists(reportPath(u"hub"_s, u"hub.a"_s)));
    ASSERT_TRUE(QFileInfo::exists(reportPath(u"hub"_s, u"hub.b"_s)));
    EXPECT_EQ(stored(u"hub"_s, u"hub.b"_s).count, 2) << "both occurrences survive to the next upload";
    EXPECT_TRUE(QFileInfo(QDir(spool.root()).filePath(u"hub"_s)).isDir()) << "product folders stay";
}

TEST_F(ReportSpoolTest, DeleteSkipsFilesAlreadyGone)
{
    ASSERT_TRUE(spool.record(makeReport(u"hub"_s, u"a"_s)).recorded());
    ASSERT_TRUE(spool.record(makeReport(u"hub"_s, u"b"_s)).recorded());
    const std::vector<ReportFile> loaded = spool.load();
    ASSERT_TRUE(QFile::remove(loaded[0].url));
    spool.deleteFiles(loaded);
    EXPECT_TRUE(spool.load().empty());
}

} // namespace

namespace {

// ---- Writers in one process ------------------------------------------------

TEST_F(ReportSpoolTest, ConcurrentRecordsLoseNoOccurrence)
{
    constexpr int kThreads = 4;
    constexpr int kEach = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([this] {
            for (int i = 0; i < kEach; ++i)
                EXPECT_TRUE(spool.record(makeReport(u"hub"_s, u"install"_s)).recorded());
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(stored(u"hub"_s, u"hub.install"_s).count, kThreads * kEach);
}

} // namespace
