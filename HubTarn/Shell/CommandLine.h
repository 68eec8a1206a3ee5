#pragma once

#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// The program's command line, answered as Linux programs answer theirs:
// --help and --version on standard output with status 0, a wrong argument
// named on standard error with status 2, and a sentence with status 1
// where there is no graphical session for the window.
namespace Hub::Shell {

struct CommandLine {
    enum class Action {
        window,  // open the window, or hand the links to the running one
        status,  // --status: the report, no display needed
        help,    // -h, --help
        version, // --version
        refused, // `refusal` names what was wrong
    };
    Action action = Action::window;
    QList<QUrl> links;
    QString refusal;
};

// `arguments` without the program's own name.
CommandLine parseCommandLine(const QStringList& arguments);
// The same over main()'s arguments, the program's name left out.
CommandLine parseCommandLine(int argc, char** argv);

QString helpText();
// "Tarnhub <version>" and a line break.
QString versionText();

// The one command users run, and the window's program beside it (in the
// build tree and in the bundle's Contents/MacOS alike): `hubtarn` answers
// whatever needs no window on QtCore alone and starts `hubtarn-window` only
// when a window must open.
inline constexpr char kProgramName[] = "hubtarn";
inline constexpr char kWindowProgramName[] = "hubtarn-window";

inline constexpr char kNotTakenSentence[] = "hubtarn: the running instance did not take the link";
inline constexpr char kNoSessionSentence[] = "Tarnhub needs a graphical session; try `hubtarn --status`.";

// Whether the window can be shown: a Wayland or X display is named, or Qt
// was told to use a platform that needs neither (offscreen, for example).
bool hasGraphicalSession(const QProcessEnvironment& environment);

// Answers every action but `window` (the status report needs a
// QCoreApplication, made here) and returns the exit status; none for the
// window.
std::optional<int> answerWithoutWindow(const CommandLine& command, int& argc, char** argv);

// The second launch's side of the single-instance inbox at `socketPath`:
// hands `links` (none: a bare "hubtarn:", which just brings the window
// forward) to the window running for this user. The exit status (after
// kNotTakenSentence on standard error when the window did not take them);
// none when no window listens there.
std::optional<int> handLinksOver(QList<QUrl> links, const QString& socketPath);

// Names the application once, before anything reads a setting, so every
// QSettings lands in the program's own file
// (~/.config/Tarn Audio/<bundle id>.conf), never under "Unknown
// Organization".
void setIdentity();

} // namespace Hub::Shell
