#pragma once

#include "Base/Process.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The installer's two replaceable hooks and their defaults. The installer
// value holds one of each; the app model passes the defaults, or hooks of
// its own when it runs under an isolated home folder.
namespace Hub {

// Runs a /bin/sh script with administrator rights: (prompt, script,
// arguments), the arguments becoming $1, $2, ... Never throws: a refused or
// dismissed authentication is a status and an output like any other. The
// runners below report a script's own status 126 or 127 as 125, so that
// those two always mean the authentication.
using PrivilegedHook =
    std::function<Shell::Result(const QString& prompt, const QString& script, const QStringList& arguments)>;

// Moves one item out of the way and returns where it now lies (none when
// that is not known). Throws FileError, which tells a permission error
// from others.
using TrashHook = std::function<std::optional<QString>(const QString& path)>;

namespace PrivilegedRunner {

// Text that marks a cancelled administrator prompt in a hook's output.
inline constexpr char16_t kCancelledMarker[] = u"(-128)";

// What the hub's own scripts say in a hook's output: each line that begins
// "Tarnhub: ", whole and in order, with its line feed; empty when there is
// none. The lines of the tools a script ran (which name the root-only work
// folder and the staging folder) and of whatever stood between (pkexec, the
// administrator's helper) are not the hub's words for the user.
QString scriptReasons(const QString& output);

// The name of the one program an installed copy runs as the administrator,
// in its helpers folder (see ToolPaths): "hubtarn-admin STEP ARGUMENT...",
// STEP one of PrivilegedSteps' names. It builds that step's script itself
// and runs it with the arguments as $1, $2, ..., after checking every path
// against the places the step may touch, turning the script's own 126 and
// 127 into 125. The installed polkit policy names it, so the password
// dialog says what the password is for.
inline constexpr char kHelperName[] = "hubtarn-admin";

// What runs the script: "/bin/sh -c <wrapper> hub <script> <arguments>",
// the wrapper turning the script's own 126 and 127 into 125.
QStringList shellArguments(const QString& script, const QStringList& arguments);

// The default privileged hook: an installed copy has pkexec run its bundle's
// helper with the name of the script's step (see PrivilegedSteps::of) and
// the arguments, the dialog then showing the policy's sentence; a program
// run from the build tree, which has no bundle, has pkexec run /bin/sh with
// shellArguments. A time-out of 900 seconds either way. The prompt is not
// passed on: polkit shows the policy's own message. A dismissed dialog
// (pkexec's status 126) gets a line with "(-128)" appended, which callers
// read as a cancellation.
Shell::Result runAsAdministrator(const QString& prompt, const QString& script, const QStringList& arguments);

// The same with the pkexec program and the helper given (empty: /bin/sh),
// for tests that put stand-ins there. A script that is none of the steps
// never reaches the helper: status 2 and a "Tarnhub: " line.
Shell::Result runWithPkexec(const QString& pkexec, const QString& helper, const QString& script,
                            const QStringList& arguments, double timeout);
Shell::Result runWithPkexec(const QString& pkexec, const QString& script, const QStringList& arguments,
                            double timeout);

// The hook for an isolated home folder and for tests: the script runs as the
// current user, as "/bin/sh -c <script> hub <arguments>", time-out 900 seconds.
Shell::Result runAsCurrentUser(const QString& prompt, const QString& script, const QStringList& arguments);

// The prompt with every character removed that could end a quoted text or a
// line (double quote, backslash, and line or paragraph separators counted
// by a character's first code point); all else kept whole, emoji included.
QString cleanedPrompt(const QString& prompt);

// The default trash hook: the desktop's Trash of the current user's home.
std::optional<QString> moveToTrash(const QString& path);

// A trash hook that moves items into `folder` instead, which it creates
// when missing; an item whose name is taken there becomes "Foo 2.component",
// "Foo 3.component", ... ("Foo 2" without an extension). Never overwrites.
TrashHook moveInto(const QString& folder);

} // namespace PrivilegedRunner
} // namespace Hub
