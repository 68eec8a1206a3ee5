#include "Shell/CommandLine.h"

#include "Base/Config.h"
#include "Catalog/CatalogLoader.h"
#include "Platform/CallbackInbox.h"
#include "Shell/StatusReport.h"

#include <QCoreApplication>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace Hub::Shell {

namespace {

constexpr std::chrono::seconds kHandOverTimeout{10};

void write(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

CommandLine refused(const QString& why)
{
    CommandLine command;
    command.action = CommandLine::Action::refused;
    command.refusal = why;
    return command;
}

} // namespace

CommandLine parseCommandLine(const QStringList& arguments)
{
    static const QList<std::pair<QString, CommandLine::Action>> kOptions = {
        {u"--status"_s, CommandLine::Action::status},
        {u"--help"_s, CommandLine::Action::help},
        {u"-h"_s, CommandLine::Action::help},
        {u"--version"_s, CommandLine::Action::version},
    };
    CommandLine command;
    bool options = true;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        // "--" ends the options: what follows is links, even when it starts
        // with a dash.
        if (options && argument == "--"_L1) {
            options = false;
            continue;
        }
        if (options && argument.startsWith(u'-')) {
            const auto option = std::find_if(kOptions.begin(), kOptions.end(),
                                             [&](const auto& entry) { return entry.first == argument; });
            if (option == kOptions.end())
                return refused(u"unknown option '"_s + argument + u'\'');
            // Alone, or followed only by the "--" that ends the options.
            const bool alone = i == 0 && (arguments.size() == 1 || (arguments.size() == 2 && arguments[1] == "--"_L1));
            if (!alone)
                return refused(argument + u" takes no other arguments"_s);
            command.action = option->second;
            return command;
        }
        const QUrl url(argument, QUrl::StrictMode);
        if (!url.isValid() || url.scheme().isEmpty())
            return refused(u"not a link: '"_s + argument + u'\'');
        // Only the program's own links reach the window; anything else
        // would be dropped there without a word.
        const QString scheme = url.scheme().toLower();
        if (scheme != "hubtarn"_L1 && scheme != Config::bundleID())
            return refused(u"'"_s + argument + u"' is not a Tarnhub link; links start with hubtarn: or "_s
                           + Config::bundleID() + u':');
        command.links.append(url);
    }
    return command;
}

QString helpText()
{
    return u"Usage: hubtarn [--] [LINK...]\n"
           u"       hubtarn --status | --version | --help\n"
           u"Installs, updates and removes Tarn Audio's plug-ins.\n"
           u"\n"
           u"Without an option, opens the window, or brings the running one forward,\n"
           u"and hands it each LINK (hubtarn:<product>, or a sign-in's return link);\n"
           u"-- ends the options.\n"
           u"\n"
           u"Options:\n"
           u"  --status    print where things go, the catalog in use and every product's\n"
           u"              installed copies; needs no display\n"
           u"  --version   print the version\n"
           u"  -h, --help  print this help\n"_s;
}

QString versionText() { return u"Tarnhub "_s + Config::hubVersion() + u'\n'; }

bool hasGraphicalSession(const QProcessEnvironment& environment)
{
    if (!environment.value(u"WAYLAND_DISPLAY"_s).isEmpty() || !environment.value(u"DISPLAY"_s).isEmpty())
        return true;
    // The first platform Qt is told to try; xcb and wayland need a display.
    const QString platform = environment.value(u"QT_QPA_PLATFORM"_s).section(u';', 0, 0).section(u':', 0, 0);
    return !platform.isEmpty() && platform != "xcb"_L1 && !platform.startsWith("wayland"_L1);
}

CommandLine parseCommandLine(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return parseCommandLine(arguments);
}

std::optional<int> answerWithoutWindow(const CommandLine& command, int& argc, char** argv)
{
    switch (command.action) {
    case CommandLine::Action::window:
        return std::nullopt;
    case CommandLine::Action::status: {
        QCoreApplication app(argc, argv);
        setIdentity();
        write(stdout, statusReport(CatalogLoader(), Config::selfUpdates()));
        return 0;
    }
    case CommandLine::Action::help:
        write(stdout, helpText());
        return 0;
    case CommandLine::Action::version:
        write(stdout, versionText());
        return 0;
    case CommandLine::Action::refused:
        write(stderr, u"hubtarn: "_s + command.refusal + u"\nTry 'hubtarn --help' for more information.\n"_s);
        return 2;
    }
    return 2;
}

std::optional<int> handLinksOver(QList<QUrl> links, const QString& socketPath)
{
    if (links.isEmpty())
        links.append(QUrl(u"hubtarn:"_s));
    for (qsizetype i = 0; i < links.size(); ++i) {
        switch (CallbackInbox::deliver(socketPath, links[i], kHandOverTimeout)) {
        case CallbackInbox::Delivery::taken:
            continue;
        case CallbackInbox::Delivery::nobodyListens:
            // Before the first link: no window yet. After it: the window
            // ended while taking them.
            if (i == 0)
                return std::nullopt;
            break;
        case CallbackInbox::Delivery::notTaken:
            break;
        }
        std::fprintf(stderr, "%s\n", kNotTakenSentence);
        return 1;
    }
    return 0;
}

void setIdentity()
{
    // The application's name is its bundle identifier: the core recognises
    // the application by it, and user settings are stored under it.
    QCoreApplication::setOrganizationName(u"Tarn Audio"_s);
    QCoreApplication::setApplicationName(Config::bundleID());
    QCoreApplication::setApplicationVersion(Config::hubVersion());
}

} // namespace Hub::Shell
