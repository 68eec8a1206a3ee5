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
#include <QProcessEnvironment>
#include <QStringList>
#include <QThreadPool>
#include <QUrl>

#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr std::chrono::seconds kHandOverTimeout{10};

} // namespace

int main(int argc, char* argv[])
{
    // The answers that need no window come first, before any GUI exists.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const Hub::Shell::CommandLine command = Hub::Shell::parseCommandLine(arguments);
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

    // One instance per user: a second launch hands its links (or a bare
    // "hubtarn:", which just brings the window forward) to the first.
    auto relay = std::make_unique<Hub::Shell::LinkRelay>();
    auto inbox = std::make_unique<Hub::CallbackInbox>(Hub::callbackSocketPath(Hub::Config::bundleID()),
                                                      [relay = relay.get()](const QUrl& url) { relay->post(url); });
    switch (inbox->listen()) {
    case Hub::CallbackInbox::Listen::otherInstance: {
        if (links.isEmpty())
            links.append(QUrl(u"hubtarn:"_s));
        for (const QUrl& url : links)
            if (!Hub::CallbackInbox::send(inbox->socketPath(), url, kHandOverTimeout)) {
                std::fprintf(stderr, "hubtarn: the running instance did not take the link\n");
                return 1;
            }
        return 0;
    }
    case Hub::CallbackInbox::Listen::failed:
        inbox.reset(); // runs without the hand-off; the reason is logged
        break;
    case Hub::CallbackInbox::Listen::listening:
        break;
    }
    // The first instance needs a display; Qt would abort without one.
    if (!Hub::Shell::hasGraphicalSession(QProcessEnvironment::systemEnvironment())) {
        inbox.reset();
        std::fprintf(stderr, "%s\n", Hub::Shell::kNoSessionSentence);
        return 1;
    }

    QApplication app(argc, argv);
    Hub::Shell::setIdentity();
    QApplication::setWindowIcon(Hub::Shell::applicationIcon());
    // The desktop matches the window to the launcher entry, and its icon.
    QGuiApplication::setDesktopFileName(Hub::Config::bundleID());
    // Ending is the shell's decision: the last-window rule and the quit guard.
    QApplication::setQuitOnLastWindowClosed(false);
    Hub::Kit::Theme::install(app);

    // xdg-mime can take a while; the window does not wait for it.
    QThreadPool::globalInstance()->start([program = QCoreApplication::applicationFilePath()] {
        Hub::SchemeHandler::claimLinks(program, Hub::SchemeHandler::systemDesktop(Hub::Config::homeFolder()));
    });

    Hub::Shell::AppServices services = Hub::Shell::makeAppServices(sandbox);
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
    const int status = QApplication::exec();
    QThreadPool::globalInstance()->waitForDone();
    return status;
}
