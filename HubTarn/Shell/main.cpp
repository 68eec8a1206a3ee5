// `hubtarn`, the command users run. Everything that needs no window lives
// here, on QtCore alone: the options, the status report, handing links to
// the running window and the sentence for a session without a display. The
// window's program, with its GUI libraries, starts only when a window must
// open: this process becomes it, with the same arguments and environment.
#include "Base/Config.h"
#include "Platform/CallbackInbox.h"
#include "Shell/CommandLine.h"

#include <QProcessEnvironment>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace {

// Beside this executable, wherever it was started from.
std::filesystem::path windowProgram()
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return self.parent_path() / Hub::Shell::kWindowProgramName;
}

} // namespace

int main(int argc, char* argv[])
{
    const Hub::Shell::CommandLine command = Hub::Shell::parseCommandLine(argc, argv);
    if (const std::optional<int> status = Hub::Shell::answerWithoutWindow(command, argc, argv))
        return *status;

    // A sandboxed run (scripts/try, the end-to-end tests) belongs to the
    // window's program from the start: it reads the run's service profile,
    // with its certificates, before anything else.
    if (!Hub::Config::testSwitch("HUBTARN_SANDBOX")) {
        // One window per user: a running one takes the links, and no second
        // window starts.
        const QString inbox = Hub::callbackSocketPath(Hub::Config::bundleID());
        if (const std::optional<int> status = Hub::Shell::handLinksOver(command.links, inbox))
            return *status;

        // The window needs a display; Qt would abort without one.
        if (!Hub::Shell::hasGraphicalSession(QProcessEnvironment::systemEnvironment())) {
            std::fprintf(stderr, "%s\n", Hub::Shell::kNoSessionSentence);
            return 1;
        }
    }
    // The window program takes the inbox itself, so two launches at the
    // same moment still end with one window.
    const std::filesystem::path window = windowProgram();
    ::execv(window.c_str(), argv);
    std::fprintf(stderr, "hubtarn: the window can't be started: %s: %s\n", window.c_str(), std::strerror(errno));
    return 1;
}
