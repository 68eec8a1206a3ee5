#include "QStringPrinter.h"
#include "TestFiles.h"

#include "Base/Config.h"
#include "Base/Machine.h"
#include "Catalog/CatalogLoader.h"
#include "Shell/CommandLine.h"
#include "Shell/StatusReport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;
using Hub::Test::entriesOf;

namespace {

struct Answer {
    int status = -1;
    QString out;
    QString err;
};

// The real program with only the variables given (no display unless named).
Answer runProgram(const QStringList& arguments, const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QString::fromUtf8(HUBTARN_PROGRAM), arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir().mkpath(runtime()));
        ASSERT_TRUE(QFile::setPermissions(runtime(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        m_environment.insert(u"HOME"_s, m_dir.filePath(u"home"_s));
        m_environment.insert(u"XDG_RUNTIME_DIR"_s, runtime());
        m_environment.insert(u"PATH"_s, qEnvironmentVariable("PATH"));
    }
    QString runtime() const { return m_dir.filePath(u"run"_s); }

    QTemporaryDir m_dir;
    QProcessEnvironment m_environment;
};

// Each option answers on the stream and with the status Linux programs use,
// and a wrong argument is named.
TEST_F(CommandLine, OptionsAnswerOnTheirStreamWithTheirStatus)
{
    struct Row {
        QStringList arguments;
        int status;
        QString out; // exact, or the start of it for the help
        QString err;
    };
    const QString version = u"Tarnhub "_s + Hub::Config::hubVersion() + u'\n';
    const QString tryHelp = u"\nTry 'hubtarn --help' for more information.\n"_s;
    const QString otherScheme = u"hubtarn: 'https://example.com/x' is not a Tarnhub link; links start with hubtarn: or "_s
                                + Hub::Config::bundleID() + u':';
    const Row rows[] = {
        {{u"--help"_s}, 0, u"Usage: hubtarn [--] [LINK...]\n"_s, {}},
        {{u"-h"_s}, 0, u"Usage: hubtarn [--] [LINK...]\n"_s, {}},
        {{u"--version"_s}, 0, version, {}},
        {{u"--frobnicate"_s}, 2, {}, u"hubtarn: unknown option '--frobnicate'"_s + tryHelp},
        {{u"hubtarn:echo"_s, u"-x"_s}, 2, {}, u"hubtarn: unknown option '-x'"_s + tryHelp},
        {{u"--version"_s, u"hubtarn:echo"_s}, 2, {}, u"hubtarn: --version takes no other arguments"_s + tryHelp},
        {{u"not a link"_s}, 2, {}, u"hubtarn: not a link: 'not a link'"_s + tryHelp},
        {{u"hubtarn:echo"_s, u"https://example.com/x"_s}, 2, {}, otherScheme + tryHelp},
        {{u"--"_s, u"--status"_s}, 2, {}, u"hubtarn: not a link: '--status'"_s + tryHelp},
        {{u"--"_s, u"-x"_s}, 2, {}, u"hubtarn: not a link: '-x'"_s + tryHelp},
        // "--" ends the options; nothing after it is nothing to refuse.
        {{u"--status"_s, u"--"_s}, 0, u"Tarnhub "_s + Hub::Config::hubVersion() + u" ("_s, {}},
        {{u"--version"_s, u"--"_s}, 0, version, {}},
        {{u"--version"_s, u"--"_s, u"hubtarn:echo"_s}, 2, {}, u"hubtarn: --version takes no other arguments"_s + tryHelp},
        {{u"hubtarn:echo"_s, u"--version"_s, u"--"_s}, 2, {}, u"hubtarn: --version takes no other arguments"_s + tryHelp},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments.join(u' ').toStdString());
        const Answer answer = runProgram(row.arguments, m_environment);
        EXPECT_EQ(answer.status, row.status);
        EXPECT_TRUE(answer.out.startsWith(row.out)) << answer.out.toStdString();
        if (row.out.isEmpty()) {
            EXPECT_EQ(answer.out, QString());
        }
        EXPECT_EQ(answer.err, row.err);
    }
    const QString help = runProgram({u"--help"_s}, m_environment).out;
    for (const QString& option : {u"--status"_s, u"--version"_s, u"-h, --help"_s})
        EXPECT_TRUE(help.contains(option)) << help.toStdString();
    EXPECT_EQ(entriesOf(runtime()), QStringList()) << "no option opens the link inbox";
}

// Without a display the window cannot open: one sentence and status 1
// instead of Qt's abort, and no socket left behind; the status report still
// answers.
TEST_F(CommandLine, WithoutADisplayTheProgramSaysSoAndLeavesNoSocket)
{
    // "--" ends the options, so the link after it is taken like any other.
    for (const QStringList& arguments :
         {QStringList(), QStringList{u"hubtarn:echo"_s}, QStringList{u"--"_s, u"hubtarn:echo"_s}}) {
        SCOPED_TRACE(arguments.join(u' ').toStdString());
        const Answer answer = runProgram(arguments, m_environment);
        EXPECT_EQ(answer.status, 1);
        EXPECT_EQ(answer.err, QString::fromUtf8(Hub::Shell::kNoSessionSentence) + u'\n');
        // The lock file stays, as after every run; the socket goes.
        EXPECT_FALSE(QFileInfo::exists(runtime() + u'/' + Hub::Config::bundleID() + u".sock"_s))
            << entriesOf(runtime()).join(u' ').toStdString();
    }
    EXPECT_EQ(runProgram({u"--status"_s}, m_environment).status, 0);
}

// `hubtarn` answers on QtCore alone and starts the window's program only
// for a window: the dynamic loader's own list of what it maps at start.
TEST_F(CommandLine, TheCommandLoadsNoGuiLibrary)
{
    m_environment.insert(u"LD_TRACE_LOADED_OBJECTS"_s, u"1"_s);
    const Answer loaded = runProgram({u"--status"_s}, m_environment);
    ASSERT_EQ(loaded.status, 0) << loaded.err.toStdString();
    EXPECT_TRUE(loaded.out.contains(u"libQt6Core.so"_s)) << loaded.out.toStdString();
    // The network and cryptography libraries are the slow half of a start.
    for (const QString& library : {u"libQt6Gui"_s, u"libQt6Widgets"_s, u"libQt6DBus"_s, u"libcurl"_s, u"libcrypto"_s})
        EXPECT_FALSE(loaded.out.contains(library)) << library.toStdString() << "\n" << loaded.out.toStdString();
}

TEST(GraphicalSession, ADisplayOrAPlatformWithoutOneIsASession)
{
    struct Row {
        const char* variable;
        const char* value;
        bool session;
    };
    const Row rows[] = {
        {nullptr, nullptr, false},          {"DISPLAY", ":0", true},
        {"WAYLAND_DISPLAY", "wayland-0", true}, {"DISPLAY", "", false},
        {"QT_QPA_PLATFORM", "offscreen", true}, {"QT_QPA_PLATFORM", "xcb", false},
        {"QT_QPA_PLATFORM", "wayland;xcb", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.variable ? row.variable + std::string("=") + row.value : "nothing");
        QProcessEnvironment environment;
        if (row.variable)
            environment.insert(QString::fromUtf8(row.variable), QString::fromUtf8(row.value));
        EXPECT_EQ(Hub::Shell::hasGraphicalSession(environment), row.session);
    }
}

// The program's identity is set once, so a QSettings made anywhere (the
// model's, the report opt-in's) lands in the program's own file.
TEST(ProgramIdentity, EverySettingLandsInTheProgramsOwnFile)
{
    Hub::Shell::setIdentity();
    const QString file = QSettings().fileName();
    EXPECT_EQ(file, QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u"/Tarn Audio/"_s
                        + Hub::Config::bundleID() + u".conf"_s);
    EXPECT_FALSE(file.contains(u"Unknown Organization"_s));
}

// A distribution's package says where its updates come from and names no
// release of its own to update to; a program that updates itself names it.
TEST(StatusReport, APackagedProgramSaysItsUpdatesComeFromThePackages)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Hub::Catalog catalog;
    catalog.hub = Hub::Release{};
    catalog.hub->version = u"999.0"_s;
    const QString bundled = dir.filePath(u"catalog.json"_s);
    Hub::Test::writeFile(bundled, catalog.toJson());
    const Hub::CatalogLoader loader({dir.filePath(u"support"_s), QUrl(), bundled});
    const QString packages = QString::fromUtf8(Hub::Config::kUpdatesFromPackages) + u'\n';
    struct Row {
        bool selfUpdates;
        bool saysPackages;
        bool namesLatest;
    };
    for (const Row& row : {Row{true, false, true}, Row{false, true, false}}) {
        SCOPED_TRACE(row.selfUpdates);
        const QString report = Hub::statusReport(loader, row.selfUpdates);
        EXPECT_EQ(report.contains(packages), row.saysPackages) << report.toStdString();
        EXPECT_EQ(report.contains(u"Latest Tarnhub: 999.0\n"_s), row.namesLatest) << report.toStdString();
        // The machine by its name and processor; a release's minimum system
        // is the other platform's version, which this one has none of.
        EXPECT_TRUE(report.contains(u"\nMachine: "_s + Hub::Machine::name() + u", "_s + Hub::Machine::cpu() + u'\n'))
            << report.toStdString();
    }
}

} // namespace
