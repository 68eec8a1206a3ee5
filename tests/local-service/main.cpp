// hub-local-service FOLDER [--fault checksum|stall|unauthorized]
//
// The maker's service on this machine, for trying the program and for the
// end-to-end tests: see LocalService.h for what it writes into FOLDER.
#include "LocalService.h"

#include <QCoreApplication>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <exception>

#include <pthread.h>

using namespace Qt::StringLiterals;

namespace {

int usage()
{
    std::fprintf(stderr, "usage: hub-local-service FOLDER [--fault checksum|stall|unauthorized]\n");
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    // Blocked before any thread starts, so every thread the servers make
    // inherits the mask and only the wait below takes the signals.
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    sigaddset(&stopping, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopping, nullptr);

    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    Hub::LocalService::Fault fault = Hub::LocalService::Fault::none;
    if (const qsizetype at = arguments.indexOf(u"--fault"_s); at >= 0) {
        const std::optional<Hub::LocalService::Fault> named = Hub::LocalService::faultNamed(arguments.value(at + 1));
        if (!named)
            return usage();
        fault = *named;
        arguments.remove(at, 2);
    }
    if (arguments.size() != 1 || arguments.first().startsWith(u'-'))
        return usage();

    try {
        Hub::LocalService::LocalService service(arguments.first(), fault);
        QString text = u"Tarnhub's local service answers at "_s + service.address() + u".\n"_s
            + u"Service profile: "_s + service.profilePath() + u"\n"_s;
        for (const Hub::LocalService::Account& account : service.accounts()) {
            text += u"Sign in as "_s + account.email + u" with the password "_s + account.password;
            text += account.code ? u" (it asks for the code "_s + *account.code + u")\n"_s : u" (no code)\n"_s;
        }
        std::fputs(text.toUtf8().constData(), stdout);
        std::fflush(stdout);

        int received = 0;
        sigwait(&stopping, &received);
        std::fprintf(stdout, "Stopping the local service.\n");
        std::fflush(stdout);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
