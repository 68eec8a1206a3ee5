// The running application: links and when they reach the model, the
// window's commands, the quit guard and the last-window rule, the restart
// after its own update, and the real program's hand-off and status report.
#include "BundleFactory.h"
#include "ShellTestSupport.h"
#include "ViewTestSupport.h"

#include "Account/SystemWebAuthenticator.h"
#include "Base/Config.h"
#include "Kit/ConfirmDialog.h"
#include "Kit/Pill.h"
#include "Platform/CallbackInbox.h"
#include "Platform/PropertyList.h"
#include "Shell/Application.h"
#include "Shell/MainWindow.h"
#include "Shell/SystemWorkspace.h"

#include <QAction>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

#include <signal.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Hub::Test {
namespace {

class ShellApp : public ShellFixture {
protected:
    void SetUp() override
    {
        ModelFixture::SetUp();
        m_catalog.products = {plugin(u"echo"_s, u"2.0"_s), plugin(u"notes"_s, u"1.0"_s)};
        m_catalog.hub = Release{};
        m_catalog.hub->version = u"999.0"_s;
        m_catalog.hub->pkgURL = u"https://tarnaudio.example/Tarnhub.pkg"_s;
        m_catalog.hub->sha256 = QString(64, u'c');
    }

    void TearDown() override
    {
        // A held worker would keep the model's pool from ever finishing.
        for (auto& [id, gate] : installer->gates)
            gate->open();
        m_app.reset();
        ModelFixture::TearDown();
    }

    void buildApp(std::shared_ptr<SystemWebAuthenticator> web = nullptr)
    {
        build(m_catalog);
        Shell::Application::Hooks hooks;
        hooks.exit = [this] { events.append(u"exit"_s); };
        hooks.startDetached = [this](const QString& program) {
            events.append(u"start "_s + program);
            return startWorks;
        };
        hooks.releaseInbox = [this] { events.append(u"release inbox"_s); };
        m_app = std::make_unique<Shell::Application>(model.get(), std::move(web),
                                                     [](QWidget* parent) {
                                                         auto* main = new QWidget(parent);
                                                         main->setObjectName(u"mainPlaceholder"_s);
                                                         return main;
                                                     },
                                                     std::move(hooks));
    }

    Shell::MainWindow* window() const { return m_app->window(); }

    void showWindow()
    {
        window()->show();
        window()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window(), kPatience));
    }

    // Signed in, window up, the splash over.
    void toMain()
    {
        signInStored();
        buildApp();
        showWindow();
        clock->advance(HubModel::kSplashSeconds);
        ASSERT_TRUE(eventually([this] { return model->screen() == Screen::main && !model->loading(); }));
    }

    // An install held by a gate, so a job works until the test lets it go.
    void holdAnInstall()
    {
        installer->gates[u"echo"_s] = std::make_shared<Gate>();
        model->requestInstall(*m_catalog.product(u"echo"_s), {PluginFormat::vst3}, InstallScope::user);
        ASSERT_TRUE(eventually([this] { return installer->gates[u"echo"_s]->reached() == 1; }));
        ASSERT_TRUE(model->busy());
    }

    void press(const QKeySequence& keys) { QTest::keySequence(window(), keys); }

    Kit::ConfirmDialog* question() const { return window()->findChild<Kit::ConfirmDialog*>(); }

    int count(const QString& call) const { return int(log->calls().count(call)); }

    Catalog m_catalog;
    std::unique_ptr<Shell::Application> m_app;
    QStringList events;
    bool startWorks = true;
};

// A product link waits for the window, then the model holds it until the
// main screen shows: straight after the splash, or after signing in.
TEST_F(ShellApp, AProductLinkWaitsForTheWindowAndThenForTheMainScreen)
{
    for (const bool stored : {true, false}) {
        SCOPED_TRACE(stored ? "signed in" : "signs in first");
        renew();
        if (stored)
            signInStored();
        buildApp();

        m_app->route(QUrl(u"hubtarn:echo"_s));
        EXPECT_EQ(m_app->earlyLinks().size(), 1u);
        EXPECT_TRUE(clock->pending().empty()) << "the model starts with the window, not before";
        EXPECT_EQ(model->page(), std::nullopt);

        showWindow();
        EXPECT_TRUE(m_app->earlyLinks().empty());
        EXPECT_EQ(model->page(), std::nullopt) << "the splash is still up";
        clock->advance(HubModel::kSplashSeconds);
        ASSERT_TRUE(eventually([this] { return model->screen() != Screen::splash; }));
        if (!stored) {
            EXPECT_EQ(model->screen(), Screen::login);
            EXPECT_EQ(model->page(), std::nullopt);
            model->signIn(u"ada@example.com"_s, u"pw"_s);
        }
        ASSERT_TRUE(eventually([this] { return model->page() == std::optional<QString>(u"echo"_s); }));
        EXPECT_EQ(model->screen(), Screen::main);
    }
}

// The browser's redirect ends the waiting sign-in, even before the window
// shows, and is never taken for a product link.
TEST_F(ShellApp, TheSignInCallbackEndsTheBrowserSignIn)
{
    std::atomic<int> opened = 0;
    auto web = std::make_shared<SystemWebAuthenticator>([&opened](const QUrl&) {
        ++opened;
        return true;
    });
    buildApp(web);
    QUrl returned;
    std::thread waiting([&] {
        returned = web->authenticate(QUrl(u"https://accounts.example/oauth"_s), Config::bundleID(), {});
    });
    ASSERT_TRUE(eventually([&] { return opened == 1; }));

    const QUrl callback(Config::bundleID() + u"://callback?rotating_token_nonce=abc"_s);
    m_app->route(callback);
    waiting.join();
    EXPECT_EQ(returned, callback);
    EXPECT_TRUE(m_app->earlyLinks().empty());
}

// Quit asks only while a job works; the answer decides.
TEST_F(ShellApp, QuitAsksWhileAJobWorksAndTheAnswerDecides)
{
    struct Row {
        const char* name;
        bool busy;
        const char* answer; // the button pressed in the question, if one is asked
        bool ends;
    };
    const Row rows[] = {
        {"idle", false, nullptr, true},
        {"busy, quit anyway", true, "confirmButton", true},
        {"busy, cancel", true, "cancelButton", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        renew();
        events.clear();
        toMain();
        if (row.busy)
            holdAnInstall();

        press(QKeySequence(u"Ctrl+Q"_s));
        if (row.answer) {
            Kit::ConfirmDialog* asked = question();
            ASSERT_NE(asked, nullptr);
            ASSERT_TRUE(QTest::qWaitForWindowExposed(asked, kPatience));
            EXPECT_EQ(child<QLabel>(asked, u"confirmTitle"_s)->text(), u"An install is still running"_s);
            EXPECT_TRUE(events.isEmpty()) << "nothing ends before the answer";
            saveScreenshot(asked, u"shell-quit-guard"_s);
            QTest::mouseClick(child<Kit::Pill>(asked, QString::fromUtf8(row.answer)), Qt::LeftButton);
        } else {
            EXPECT_EQ(question(), nullptr);
        }
        EXPECT_EQ(events, row.ends ? QStringList{u"exit"_s} : QStringList{});
        // A second Quit after ending does not end twice.
        if (row.ends) {
            press(QKeySequence(u"Ctrl+Q"_s));
            EXPECT_EQ(events, QStringList{u"exit"_s});
        }
    }
}

// Closing the last window ends the program; while a job works, the close
// button and Ctrl+W ask the quit question, and the answer decides.
TEST_F(ShellApp, ClosingTheWindowWhileAJobWorksAsksTheQuitQuestion)
{
    struct Row {
        const char* name;
        bool busy;
        bool closeButton;   // the window manager's close, else Ctrl+W
        const char* answer; // the button pressed in the question
        bool ends;
    };
    const Row rows[] = {
        {"idle, Ctrl+W", false, false, nullptr, true},
        {"busy, Ctrl+W, cancel", true, false, "cancelButton", false},
        {"busy, close button, cancel", true, true, "cancelButton", false},
        {"busy, close button, quit anyway", true, true, "confirmButton", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        renew();
        events.clear();
        toMain();
        if (row.busy)
            holdAnInstall();
        if (row.closeButton)
            window()->close();
        else
            press(QKeySequence(u"Ctrl+W"_s));
        if (!row.answer) {
            EXPECT_EQ(question(), nullptr);
            EXPECT_EQ(events, QStringList{u"exit"_s});
            continue;
        }
        EXPECT_TRUE(window()->isVisible()) << "the window stays while asked";
        Kit::ConfirmDialog* asked = question();
        ASSERT_NE(asked, nullptr) << "closing while a job works must ask";
        ASSERT_TRUE(QTest::qWaitForWindowExposed(asked, kPatience));
        EXPECT_EQ(child<QLabel>(asked, u"confirmTitle"_s)->text(), u"An install is still running"_s);
        EXPECT_EQ(asked->confirmButton()->text(), u"Quit Anyway"_s);
        EXPECT_TRUE(events.isEmpty());
        QTest::mouseClick(child<Kit::Pill>(asked, QString::fromUtf8(row.answer)), Qt::LeftButton);
        EXPECT_EQ(events, row.ends ? QStringList{u"exit"_s} : QStringList{});
        EXPECT_TRUE(window()->isVisible());
    }
}

TEST_F(ShellApp, CheckForUpdatesRefreshesEvenWhileOffline)
{
    toMain();
    const int before = count(u"account tok-1"_s);
    network->set(false);
    press(QKeySequence(u"Ctrl+R"_s));
    ASSERT_TRUE(eventually([&] { return count(u"account tok-1"_s) == before + 1 && !model->loading(); }));
    EXPECT_TRUE(window()->checkForUpdatesAction()->isEnabled());
}

// After its own update the program starts the new one and ends without
// asking; the inbox is free first, or the new program would hand itself
// over to this one. When the new one cannot start, this one stays.
TEST_F(ShellApp, TheOwnUpdateRestartsWithoutAskingOnceTheInboxIsFree)
{
    const QString program = u"/opt/Applications/Tarnhub.app/Contents/MacOS/hubtarn"_s;
    for (const bool starts : {true, false}) {
        SCOPED_TRACE(starts ? "starts" : "cannot start");
        renew();
        events.clear();
        startWorks = starts;
        toMain();
        model->updateHub();
        ASSERT_TRUE(eventually([this] { return events.size() >= 2; }));
        QCoreApplication::processEvents();
        EXPECT_EQ(question(), nullptr);
        QStringList expected{u"release inbox"_s, u"start "_s + program};
        if (starts)
            expected.append(u"exit"_s);
        EXPECT_EQ(events, expected);
    }
}

// A second launch hands its link to the running instance over the inbox
// and ends with 0; the running instance routes it like any other link.
TEST_F(ShellApp, ASecondLaunchHandsItsLinkToTheRunningInstance)
{
    toMain();
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    Shell::LinkRelay relay;
    CallbackInbox inbox(callbackSocketPath(Config::bundleID(), runtime.path(), ::getuid()),
                        [&relay](const QUrl& url) { relay.post(url); });
    ASSERT_EQ(inbox.listen(), CallbackInbox::Listen::listening);
    QStringList arrived;
    QObject::connect(&relay, &Shell::LinkRelay::arrived, m_app.get(), [&](const QUrl& url) {
        arrived.append(url.toString());
        m_app->route(url);
    });

    struct Row {
        QStringList arguments;
        int status;
        QStringList arrived;
    };
    const Row rows[] = {
        {{u"hubtarn:echo"_s}, 0, {u"hubtarn:echo"_s}},
        // A bare launch only brings the window forward.
        {{}, 0, {u"hubtarn:"_s}},
        {{u"--bogus"_s}, 2, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments.join(u' ').toStdString());
        arrived.clear();
        QProcess second;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_RUNTIME_DIR"_s, runtime.path());
        env.insert(u"HOME"_s, m_home.path());
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        second.setProcessEnvironment(env);
        second.start(QString::fromUtf8(HUBTARN_PROGRAM), row.arguments);
        ASSERT_TRUE(second.waitForFinished(kPatience * 4));
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), row.status) << second.readAllStandardError().toStdString();
        if (!row.arrived.isEmpty()) {
            ASSERT_TRUE(eventually([&] { return arrived.size() == row.arrived.size(); }));
        }
        QCoreApplication::processEvents();
        EXPECT_EQ(arrived, row.arrived);
    }
    EXPECT_EQ(model->page(), std::optional<QString>(u"echo"_s));
}

// "--status" needs no display, and lists each product's installed copies.
TEST(ShellStatus, TheStatusReportListsInstalledCopiesWithoutADisplay)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    BundlePlan vst3;
    vst3.name = u"Moraine.vst3"_s;
    vst3.shortVersion = u"0.9.1"_s;
    const QString vst3Path = BundleFactory::create(home.filePath(u".vst3"_s), vst3);
    BundlePlan au = vst3;
    au.name = u"Moraine.component"_s;
    au.shortVersion = u"0.9.3"_s;
    const QString auPath = BundleFactory::create(home.filePath(u".components"_s), au);

    QProcess status;
    QProcessEnvironment env;
    env.insert(u"HOME"_s, home.path());
    env.insert(u"PATH"_s, qEnvironmentVariable("PATH"));
    status.setProcessEnvironment(env); // no DISPLAY, no platform plugin chosen
    status.start(QString::fromUtf8(HUBTARN_PROGRAM), {u"--status"_s});
    ASSERT_TRUE(status.waitForFinished(kPatience * 4));
    ASSERT_EQ(status.exitCode(), 0) << status.readAllStandardError().toStdString();
    const QString out = QString::fromUtf8(status.readAllStandardOutput());
    // The product's line and the copies listed right below it.
    const QStringList lines = out.split(u'\n');
    const auto moraine = std::find_if(lines.begin(), lines.end(),
                                      [](const QString& line) { return line.startsWith(u"  moraine "_s); });
    ASSERT_NE(moraine, lines.end()) << out.toStdString();
    QStringList copies;
    for (auto line = moraine + 1; line != lines.end() && line->startsWith(u"    "_s); ++line)
        copies.append(*line);
    EXPECT_EQ(copies, (QStringList{u"    installed VST3 at "_s + vst3Path + u", version 0.9.1"_s,
                                   u"    installed AU at "_s + auPath + u", version 0.9.3"_s}))
        << out.toStdString();
    EXPECT_EQ(out.count(u"    installed "_s), 2) << "no other product claims them";
}

// The executable an "open" starts stays inside the bundle, whatever its
// information list says.
TEST(ShellWorkspace, TheExecutableOfABundleStaysInsideIt)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Row {
        const char* name;
        std::optional<QString> declared; // CFBundleExecutable
        QString expected;                // relative to the bundle; empty: none
    };
    const Row rows[] = {
        {"declared", u"Moraine"_s, u"Contents/MacOS/Moraine"_s},
        {"undeclared", std::nullopt, u"Contents/MacOS/Fieldbook"_s},
        {"a path out", u"../../../bin/sh"_s, QString()},
        {"the folder itself", u".."_s, QString()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString bundle = dir.filePath(QString::fromUtf8(row.name) + u"/Fieldbook.app"_s);
        QByteArray plist = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>";
        if (row.declared)
            plist += "<key>CFBundleExecutable</key><string>" + row.declared->toUtf8() + "</string>";
        plist += "</dict></plist>\n";
        ASSERT_TRUE(QDir().mkpath(bundle + u"/Contents"_s));
        QFile file(bundle + u"/Contents/Info.plist"_s);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(plist);
        file.close();
        EXPECT_EQ(Shell::SystemWorkspace::executableOf(bundle),
                  row.expected.isEmpty() ? QString() : QDir(bundle).filePath(row.expected));
    }
}

// A folder opens through xdg-open, and only how xdg-open ends says whether
// anything opened it: one that fails (Debian without a file manager) or is
// not there leaves the folder unopened, for "Show in Files" and for the
// settings' "Show" alike; one that succeeds is no failure.
TEST(ShellWorkspace, OnlyTheOpenersExitSaysTheFolderOpened)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString bin = dir.filePath(u"bin"_s);
    const QString folder = dir.filePath(u".vst3"_s);
    const QString marker = dir.filePath(u"opened"_s);
    ASSERT_TRUE(QDir().mkpath(bin) && QDir().mkpath(folder + u"/Echo.vst3"_s));
    const QByteArray keptPath = qgetenv("PATH");
    const QByteArray keptBus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    // No session bus, so reveal() goes straight to the opener.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir.filePath(u"no-bus"_s).toUtf8());
    qputenv("PATH", bin.toUtf8());
    const struct {
        const char* name;
        std::optional<int> exit; // none: no opener at all
    } rows[] = {{"a file manager took it", 0}, {"no file manager", 3}, {"no xdg-open", std::nullopt}};
    for (const auto& row : rows) {
        QFile::remove(bin + u"/xdg-open"_s);
        if (row.exit) {
            QFile script(bin + u"/xdg-open"_s);
            ASSERT_TRUE(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\necho \"$$ $1\" > '" + marker.toUtf8() + "'\nexit " + QByteArray::number(*row.exit) + "\n");
            script.close();
            ASSERT_TRUE(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        }
        for (const bool reveal : {true, false}) {
            SCOPED_TRACE(std::string(row.name) + (reveal ? " (Show in Files)" : " (Show)"));
            QFile::remove(marker);
            QStringList failures;
            Shell::SystemWorkspace workspace;
            const auto failed = [&failures](const QString& shut) { failures.append(shut); };
            if (reveal)
                workspace.reveal({folder + u"/Echo.vst3"_s}, failed);
            else
                workspace.openFolder(folder, failed);
            if (row.exit != 0) {
                EXPECT_TRUE(QTest::qWaitFor([&] { return !failures.isEmpty(); }, kPatience));
                EXPECT_EQ(failures, QStringList{folder});
            }
            if (!row.exit)
                continue;
            ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo(marker).size() > 0; }, kPatience));
            QFile opened(marker);
            ASSERT_TRUE(opened.open(QIODevice::ReadOnly));
            const QList<QByteArray> words = opened.readAll().trimmed().split(' ');
            ASSERT_EQ(words.size(), 2);
            EXPECT_EQ(QString::fromUtf8(words[1]), folder) << "the opener was handed another folder";
            // Gone from the process table means reaped, and its end already
            // waits in the event loop.
            const pid_t pid = pid_t(words[0].toInt());
            ASSERT_TRUE(QTest::qWaitFor([pid] { return ::kill(pid, 0) != 0; }, kPatience));
            QCoreApplication::processEvents();
            if (*row.exit == 0) {
                EXPECT_EQ(failures, QStringList()) << "a folder that opened was reported as not opened";
            }
        }
    }
    // The openers' ends are handled; what they left goes now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    qputenv("PATH", keptPath);
    if (keptBus.isEmpty())
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    else
        qputenv("DBUS_SESSION_BUS_ADDRESS", keptBus);
}

} // namespace
} // namespace Hub::Test
