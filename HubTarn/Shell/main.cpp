#include "Catalog/CatalogLoader.h"
#include "Catalog/Config.h"
#include "Catalog/Places.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"
#include "Platform/CallbackInbox.h"
#include "Platform/SchemeHandler.h"
#include "Shell/AppServices.h"
#include "Shell/Application.h"
#include "Shell/MainWindow.h"
#include "Shell/ServiceProfile.h"
#include "Shell/StatusReport.h"
#include "Shell/TestDriver.h"
#include "Views/MainView.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QThreadPool>
#include <QUrl>

#include <cstdio>
#include <cstring>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr std::chrono::seconds kHandOverTimeout{10};

void setIdentity()
{
    // The application's name is its bundle identifier: the core recognises
    // the application by it, and user settings are stored under it.
    QCoreApplication::setApplicationName(Hub::Config::bundleID());
    QCoreApplication::setApplicationVersion(Hub::Config::hubVersion());
}

int usage()
{
    std::fprintf(stderr, "usage: hubtarn [--status | LINK]\n");
    return 2;
}

// An installed copy runs as <bundle>/Contents/MacOS/hubtarn and its
// desktop entries come with it; a build run from anywhere else registers
// the sign-in callback's handler itself, once per place it runs from.
bool needsSchemeHandler(const QString& executable)
{
    if (QFileInfo(executable).absolutePath().endsWith(u"/Contents/MacOS"_s))
        return false;
    QFile written(QDir(Hub::Places::path(Hub::Places::Place::desktopEntries, Hub::Config::homeFolder()))
                      .filePath(Hub::SchemeHandler::desktopFileName(Hub::Config::bundleID())));
    return !written.open(QIODevice::ReadOnly)
        || written.readAll() != Hub::SchemeHandler::desktopEntry(Hub::Config::bundleID(), executable);
}

} // namespace

int main(int argc, char* argv[])
{
    // The status report needs no display: answer it before any GUI exists.
    if (argc == 2 && std::strcmp(argv[1], "--status") == 0) {
        QCoreApplication app(argc, argv);
        setIdentity();
        const QByteArray report = Hub::statusReport(Hub::CatalogLoader()).toUtf8();
        std::fwrite(report.constData(), 1, static_cast<size_t>(report.size()), stdout);
        return 0;
    }

    // Every other argument is a link the desktop hands over.
    QList<QUrl> links;
    for (int i = 1; i < argc; ++i) {
        const QUrl url(QString::fromLocal8Bit(argv[i]), QUrl::StrictMode);
        if (!url.isValid() || url.scheme().isEmpty() || QByteArray(argv[i]).startsWith('-'))
            return usage();
        links.append(url);
    }

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

    QApplication app(argc, argv);
    setIdentity();
    // The desktop matches the window to the launcher entry, and its icon.
    QGuiApplication::setDesktopFileName(Hub::Config::bundleID());
    // Ending is the shell's decision: the last-window rule and the quit guard.
    QApplication::setQuitOnLastWindowClosed(false);
    Hub::Kit::Theme::install(app);

    // xdg-mime can take a while; the window does not wait for it.
    if (needsSchemeHandler(QCoreApplication::applicationFilePath()))
        QThreadPool::globalInstance()->start([program = QCoreApplication::applicationFilePath()] {
            Hub::SchemeHandler::installSchemeHandler(Hub::Config::homeFolder(), program);
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
