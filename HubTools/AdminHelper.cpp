#include "AdminChecks.h"
#include "AdminPlacing.h"

#include "Base/Config.h"
#include "Base/Places.h"
#include "Catalog/SharedTypes.h"
#include "Installer/ApplicationEntries.h"
#include "Installer/InstallLocations.h"
#include "Installer/Placement/PrivilegedRunner.h"
#include "Installer/Placement/PrivilegedSteps.h"
#include "Platform/FileMoves.h"
#include "Platform/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// hubtarn-admin STEP [ARGUMENT...]
//
// The one program an installed Tarnhub runs as the administrator, through
// pkexec under its own polkit policy, whose dialog promises to change
// plug-ins for all users; so it does nothing else. STEP names one of the
// hub's own steps (see PrivilegedSteps), whose script is built here, never
// taken from the command line, and the arguments are names only: one that
// is no text in the system's encoding is refused. Before anything runs,
// every path is checked against the places that step may touch (see
// AdminChecks), and every program the script runs must be root's alone:
// the applets beside this helper in an installed bundle's Contents/Helpers
// and the system's tools. Bundles placed for all users are the helper's own
// copies, read with the caller's rights and checked under the helper's own
// rules (see AdminPlacing).
// A refusal is one sentence on standard error and status 2, with nothing
// changed. The script runs under /bin/sh with the arguments as $1, $2, ...
// through the same status wrapper as the build tree's fallback: the
// script's own 126 and 127 become 125, leaving those two to pkexec (a
// dismissed dialog, a refusal). The Trash step runs its script for the
// items in all-users places only: the caller's own items are moved with
// the caller's own rights (see moveAsCaller), and the hub's own bundle is
// refused. After a step that succeeded, the helper brings the system's menu
// entries in line (see updateMenuEntries).
namespace {

constexpr int kRefused = 2;

// The step's script stops cleanly on a hang-up, interrupt or termination
// (it puts back what it moved): the helper passes each on and waits for
// the script to finish its undo, rather than dying and leaving it behind.
volatile sig_atomic_t g_script = 0;

void passOn(int number)
{
    if (g_script > 0)
        ::kill(pid_t(g_script), number);
}

int refuse(const QString& sentence)
{
    std::fprintf(stderr, "hubtarn-admin: %s\n", qPrintable(sentence));
    return kRefused;
}

// "<bundle>/Contents/Helpers" when this program lies there.
std::optional<QString> ownHelpersFolder()
{
    const QString self = QFileInfo(u"/proc/self/exe"_s).symLinkTarget();
    const QDir helpers = QFileInfo(self).absoluteDir();
    if (helpers.dirName() != "Helpers"_L1 || QFileInfo(helpers.absolutePath()).dir().dirName() != "Contents"_L1)
        return std::nullopt;
    return helpers.absolutePath();
}

// The exit status of `child`, passing on signals meanwhile; 125 when it
// didn't exit by itself.
int statusOf(pid_t child)
{
    g_script = child;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return 125;
    g_script = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 125;
}

// The caller's own items, in the caller's own places, are the caller's to
// move: a child that has dropped to the caller's user, group and groups
// moves them into the caller's Trash as the desktop would, with no right
// the caller lacks, so a link the caller swaps in leads only where the
// caller could go anyway. Each item it can't move is a "Tarnhub: " line.
int moveAsCaller(const QStringList& items, const Hub::AdminChecks::Caller& caller)
{
    std::fflush(stderr);
    const pid_t child = ::fork();
    if (child < 0)
        return 125;
    if (child != 0)
        return statusOf(child);
    if (::setgroups(caller.groups.size(), caller.groups.data()) != 0
        || ::setresgid(caller.gid, caller.gid, caller.gid) != 0 || ::setresuid(caller.uid, caller.uid, caller.uid) != 0
        || (caller.uid != 0 && ::setuid(0) == 0)) {
        std::fprintf(stderr, "hubtarn-admin: couldn't take on your own rights.\n");
        ::_exit(125);
    }
    int status = 0;
    for (const QString& item : items) {
        try {
            Hub::Trash::moveToTrash(item, caller.home);
        } catch (const std::exception&) {
            if (Hub::FileMoves::existsNoFollow(item)) {
                std::fprintf(stderr, "Tarnhub: couldn't move %s\n", qPrintable(item));
                status = 1;
            }
        }
    }
    std::fflush(stderr);
    ::_exit(status);
}

// The system's menu entries follow the applications placed for all users
// and those moved to the Trash. Written here, from the placed copy that the
// script checked, since an entry the caller wrote could put any command in
// every user's menu. Only the entry files in the system's applications
// folder are written, and only when that folder is root's alone.
void updateMenuEntries(Hub::PrivilegedSteps::Step step, const QStringList& arguments)
{
    using namespace Hub;
    // Every user's menu reads these, whatever mask the caller had.
    ::umask(022);
    InstallRoots roots;
    roots.system = u"/"_s;
    const QString applications = Places::path(Places::Place::applicationsAllUsers, Places::isolated(u"/"_s, u"/"_s));
    if (!AdminChecks::isRootsPlace(ApplicationEntries::folder(roots, InstallScope::allUsers)))
        return;
    const auto isApplicationForAllUsers = [&](const QString& path) {
        return QFileInfo(path).path() == applications && pluginFormatFromBundleName(QFileInfo(path).fileName()) == PluginFormat::app;
    };
    switch (step) {
    case PrivilegedSteps::Step::placeForAllUsers:
        for (qsizetype i = 1; i < arguments.size(); i += 4)
            if (isApplicationForAllUsers(arguments[i]) && !ApplicationEntries::addPlaced(arguments[i], roots))
                std::fprintf(stderr, "hubtarn-admin: no menu entry for %s\n", qPrintable(arguments[i]));
        break;
    case PrivilegedSteps::Step::moveToTrash:
        for (qsizetype i = 3; i < arguments.size(); ++i)
            if (isApplicationForAllUsers(arguments[i]) && !QFileInfo::exists(arguments[i]))
                ApplicationEntries::removePlaced(arguments[i], roots);
        break;
    case PrivilegedSteps::Step::installPackage:
        break;
    }
}

// Runs the step's script under /bin/sh with `arguments` and the
// `inherited` descriptors open: its status, or 125 when it could not run or
// did not end by itself.
int runScript(const Hub::PrivilegedSteps::Script& script, const QStringList& arguments,
              const std::vector<int>& inherited)
{
    using namespace Hub;
    std::vector<QByteArray> encoded{QByteArrayLiteral("/bin/sh")};
    for (const QString& argument : PrivilegedRunner::shellArguments(script.text, arguments))
        encoded.push_back(argument.toLocal8Bit());
    std::vector<char*> pointers;
    for (QByteArray& argument : encoded)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    const pid_t child = ::fork();
    if (child < 0) {
        std::fprintf(stderr, "hubtarn-admin: fork: %s\n", std::strerror(errno));
        return 125;
    }
    if (child == 0) {
        for (const int descriptor : inherited)
            ::fcntl(descriptor, F_SETFD, 0);
        ::execv("/bin/sh", pointers.data());
        std::fprintf(stderr, "hubtarn-admin: /bin/sh: %s\n", std::strerror(errno));
        ::_exit(125);
    }
    return statusOf(child);
}

} // namespace

int main(int argc, char** argv)
{
    using namespace Hub;
    if (argc < 2)
        return refuse(u"usage: hubtarn-admin STEP [ARGUMENT...]"_s);
    const QString stepName = QString::fromLocal8Bit(argv[1]);
    const std::optional<PrivilegedSteps::Step> step = PrivilegedSteps::named(stepName);
    if (!step) {
        QStringList names;
        for (const PrivilegedSteps::Step each : PrivilegedSteps::kSteps)
            names.append(PrivilegedSteps::name(each));
        return refuse(u"it runs only the hub's own steps ("_s + names.join(u", "_s) + u"), never a script."_s);
    }
    QStringList arguments;
    for (int i = 2; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
        // A name this program would read as another (bytes that are no
        // text in the system's encoding become U+FFFD) is not the one given.
        if (arguments.last().toLocal8Bit() != QByteArrayView(argv[i]))
            return refuse(u"argument "_s + QString::number(i - 1) + u" isn't a name in the system's encoding."_s);
    }

    const std::optional<AdminChecks::Caller> caller = AdminChecks::callerOf(qgetenv("PKEXEC_UID"));
    if (!caller)
        return refuse(u"it runs only through pkexec, which names the user who asked."_s);
    if (const std::optional<QString> problem = AdminChecks::refusal(*step, arguments, *caller))
        return refuse(*problem);

    const std::optional<QString> helpers = ownHelpersFolder();
    if (!helpers || !AdminChecks::isRootGuarded(*helpers))
        return refuse(u"it runs only from an installed bundle's helpers folder that only root may change."_s);
    const PrivilegedSteps::Script script = PrivilegedSteps::script(*step, *helpers);
    for (const QString& program : script.programs)
        if (!AdminChecks::isRootGuarded(program))
            return refuse(program + u" is missing or may be changed by someone other than root, so nothing is run."_s);

    struct sigaction forward {};
    forward.sa_handler = passOn;
    sigemptyset(&forward.sa_mask);
    for (const int number : {SIGHUP, SIGINT, SIGTERM})
        ::sigaction(number, &forward, nullptr);

    const QString ownBundle = QDir::cleanPath(*helpers + u"/../.."_s);
    QStringList scriptArguments = arguments;
    int callersStatus = 0;
    if (*step == PrivilegedSteps::Step::moveToTrash) {
        QStringList callersItems;
        scriptArguments = arguments.mid(0, 3);
        for (const QString& item : arguments.mid(3)) {
            if (item == ownBundle)
                return refuse(item + u" was refused: it is the hub itself."_s);
            (AdminChecks::isCallersItem(item, *caller) ? callersItems : scriptArguments).append(item);
        }
        if (!callersItems.isEmpty())
            callersStatus = moveAsCaller(callersItems, *caller);
        if (scriptArguments.size() == 3) {
            if (callersStatus == 0)
                updateMenuEntries(*step, arguments);
            return callersStatus;
        }
    }

    // What is placed is the helper's own copy of each staged bundle, read
    // with the caller's rights, under the rule and version the helper read
    // from that copy.
    std::optional<AdminPlacing::Taken> taken;
    if (*step == PrivilegedSteps::Step::placeForAllUsers) {
        AdminPlacing::Outcome outcome = AdminPlacing::take(arguments, *caller, ownBundle);
        if (!outcome.taken)
            return refuse(outcome.refusal);
        taken = std::move(outcome.taken);
        scriptArguments = taken->arguments;
    }
    const int status = runScript(script, scriptArguments, taken ? taken->places : std::vector<int>());
    if (taken)
        AdminPlacing::release(*taken);
    if (status == 0 && callersStatus == 0)
        updateMenuEntries(*step, arguments);
    return status != 0 ? status : callersStatus;
}
