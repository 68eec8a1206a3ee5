#pragma once

#include "Platform/ToolPaths.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

#include <sys/types.h>

namespace testing {
class Environment;
}

// Running part of a test as an ordinary user. The tests run as root, which
// passes every permission check; what an ordinary user meets only shows when
// a process runs as another user, here user and group 65534 through setpriv.
namespace Hub::Test {

inline constexpr uid_t kNobody = 65534;

inline const QString kSetpriv = QStringLiteral("/usr/bin/setpriv");

// The arguments to kSetpriv that run `command` as kNobody with no
// supplementary groups, so no group of root's lends it rights.
QStringList asNobody(const QStringList& command);

// A subject is this test executable started again, as kNobody, to carry out
// one step the tests then check from the parent. `variable` names the
// environment variable that carries the job to the child.
//
// Registers a global test environment that, when `variable` is set, runs
// `subject` with its value before any test and ends the process with the
// subject's status: the tests themselves only run in the parent.
::testing::Environment* addSubjectEnvironment(const char* variable, std::function<int(const QString&)> subject);

// A folder of this process that every user can reach (mode 0755 in the
// temporary folder), removed when the process ends. The checkout and its
// build tree may lie in a private home folder that kNobody cannot enter, so
// whatever kNobody runs is placed here. In a subject it is the parent's.
QString reachableFolder();

// `program` placed in reachableFolder() under its own name (a hard link, or
// a copy across file systems), for kNobody to run.
QString reachableProgram(const QString& program);

// The build tree's applets, placed so that kNobody can run them.
ToolPaths reachableTools();

// Starts this executable again as kNobody, from reachableFolder(), with
// `variable` set to `job`. Returns the child's exit status (-1 when it could
// not run).
int runSelfAsNobody(const char* variable, const QString& job);

// Gives `root` and everything below it to `owner` (links themselves, not
// their targets), so that a subject may change what the test prepared.
void chownTree(const QString& root, uid_t owner);

// The subject's key/value job files: one "key=value" per line.
void writeJob(const QString& path, const QMap<QString, QString>& values);
QMap<QString, QString> readJob(const QString& path);

} // namespace Hub::Test
