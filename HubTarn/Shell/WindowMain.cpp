#include "Base/Config.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"
#include "Platform/CallbackInbox.h"
#include "Platform/SchemeHandler.h"
#include "Shell/AppServices.h"
#include "Shell/Application.h"
#include "Shell/CommandLine.h"
#include "Shell/MainWindow.h"
#include "Shell/ServiceProfile.h"
#include "Shell/TestDriver.h"
#include "Views/Frame/MainView.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QProcessEnvironment>
#include <QStringList>
#include <QThreadPool>
#include <QTimer>
#include <QWindow>
#include <QUrl>

#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// The window's icon, in the sizes drawn from the mark when the program was
// built.
QIcon applicationIcon()
{
    QIcon icon;
    const QDir icons(u":/icons"_s);
    for (const QString& name : icons.entryList(QDir::Files))
        icon.addFile(icons.filePath(name)); // each PNG says its own size
    return icon;
}

// Whether this process goes on as the one instance: a status to end with
// when another instance took the inbox first. Without an inbox at all it
// runs without the hand-off.
std::optional<int> takeInbox(std::unique_ptr<Hub::CallbackInbox>& inbox, const QList<QUrl>& links)
{
    switch (inbox->listen()) {
    case Hub::CallbackInbox::Listen::otherInstance: {
        if (const std::optional<int> status = Hub::Shell::handLinksOver(links, inbox->socketPath()))
            return *status;
        std::fprintf(stderr, "%s\n", Hub::Shell::kNotTakenSentence); // it has not started listening yet
        return 1;
    }
    case Hub::CallbackInbox::Listen::failed:
        inbox.reset(); // the reason is logged
        break;
    case Hub::CallbackInbox::Listen::listening:
        break;
    }
    return std::nullopt;
}

void setUpApplication(QApplication& app)
{
    Hub::Shell::setIdentity();
    QApplication::setWindowIcon(applicationIcon());
    // The desktop matches the window to the launcher entry, and its icon.
    QGuiApplication::setDesktopFileName(Hub::Config::bundleID());
    // Ending is the shell's decision: the last-window rule and the quit guard.
    QApplication::setQuitOnLastWindowClosed(false);
    Hub::Kit::Theme::install(app);
}

// How long ago the user launched the program: `hubtarn` became this
// program in place, so the process's start is the launch. Empty when the
// system does not say.
std::optional<qint64> msecsSinceLaunch()
{
    QFile stat(u"/proc/self/stat"_s);
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    // The fields after the program's name, which may itself hold spaces and
    // parentheses; the start time is the 22nd field, the 20th of these.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    bool ok = false;
    const qint64 startTicks = fields.value(19).toLongLong(&ok);
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    timespec now{};
    if (!ok || ticksPerSecond <= 0 || ::clock_gettime(CLOCK_BOOTTIME, &now) != 0)
        return std::nullopt;
    // The start is known to a tick; the latest moment within it keeps the
    // splash's minimum a minimum.
    const qint64 elapsed = qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000 - (startTicks + 1) * 1000 / ticksPerSecond;
    if (elapsed < 0 || elapsed > 60 * 1000)
        return std::nullopt;
    return elapsed;
}

// Links start `hubtarn`, which hands them to this window or starts it.
// Claiming them reads a few files and, rarely, runs xdg-mime, which can
// take a while: the window never waits for it.
void claimLinks()
{
    const QString program = QDir(QCoreApplication::applicationDirPath()).filePath(QLatin1StringView(Hub::Shell::kProgramName));
    QThreadPool::globalInstance()->start([program] {
        Hub::SchemeHandler::claimLinks(program, Hub::SchemeHandler::systemDesktop(Hub::Config::homeFolder()));
    });
}

// Runs claimLinks() once the window has first been drawn: the window draws
// itself while it handles its first exposure, and the timer runs after.
class AfterFirstExposure : public QObject {
public:
    explicit AfterFirstExposure(QWindow* window)
        : QObject(window)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed()) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, [this] {
                claimLinks();
                deleteLater();
            });
        }
        return false;
    }
};

// Called once the window is shown.
void claimLinksAfterFirstPaint(QWidget* window)
{
    QWindow* handle = window->windowHandle();
    if (handle && !handle->isExposed())
        new AfterFirstExposure(handle);
    else
        QTimer::singleShot(0, qApp, [] { claimLinks(); });
}

} // namespace

// `hubtarn-window`: the window, started by `hubtarn` (main.cpp) when one
// must open. Run on its own it answers like `hubtarn`.
int main(int argc, char* argv[])
{
    // Run on its own: the answers that need no window come first, before any GUI exists.
    const Hub::Shell::CommandLine command = Hub::Shell::parseCommandLine(argc, argv);
    if (const std::optional<int> status = Hub::Shell::answerWithoutWindow(command, argc, argv))
        return *status;
    QList<QUrl> links = command.links;

    std::optional<Hub::Shell::Sandbox> sandbox;
    try {
        sandbox = Hub::Shell::sandboxFromEnvironment();
    } catch (const Hub::Shell::ServiceProfileError& error) {
        std::fprintf(stderr, "hubtarn: %s\n", error.what());
        return 2;
    }

    // One instance per user: `hubtarn` found none listening, but another
    // may have started since; the lock decides, and the loser hands over.
    auto relay = std::make_unique<Hub::Shell::LinkRelay>();
    auto inbox = std::make_unique<Hub::CallbackInbox>(Hub::callbackSocketPath(Hub::Config::bundleID()),
                                                      [relay = relay.get()](const QUrl& url) { relay->post(url); });
    if (const std::optional<int> status = takeInbox(inbox, links))
        return *status;
    // The first instance needs a display; Qt would abort without one.
    if (!Hub::Shell::hasGraphicalSession(QProcessEnvironment::systemEnvironment())) {
        inbox.reset();
        std::fprintf(stderr, "%s\n", Hub::Shell::kNoSessionSentence);
        return 1;
    }

    QApplication app(argc, argv);
    setUpApplication(app);

    Hub::Shell::AppServices services = Hub::Shell::makeAppServices(sandbox);
    // The splash's minimum counts from the launch, so the work before the
    // model exists (loading the libraries, connecting to the display) is
    // done while the splash would be showing anyway.
    if (const std::optional<qint64> elapsed = msecsSinceLaunch())
        services.model.launched = services.model.clock->now().addMSecs(-*elapsed);
    Hub::HubModel model(std::move(services.model));

    Hub::Shell::Application::Hooks hooks;
    hooks.releaseInbox = [&inbox] { inbox.reset(); };
    Hub::Shell::Application shell(
        &model, services.web, [&model](QWidget* parent) { return new Hub::Views::MainView(&model, parent); },
        std::move(hooks));
    QObject::connect(relay.get(), &Hub::Shell::LinkRelay::arrived, &shell, &Hub::Shell::Application::route);
    for (const QUrl& url : links)
        shell.route(url);
    relay->drain();

    if (!Hub::Shell::attachTestDriver(sandbox, shell.window(), &model))
        return 2;
    shell.window()->show();
    claimLinksAfterFirstPaint(shell.window());
    const int status = QApplication::exec();
    QThreadPool::globalInstance()->waitForDone();
    return status;
}
