#include "Installer/Placement/PrivilegedRunner.h"

#include "Base/Config.h"
#include "Installer/Placement/PrivilegedSteps.h"
#include "Platform/FileMoves.h"
#include "Platform/ToolPaths.h"
#include "Platform/Trash.h"

#include <QDir>
#include <QFileInfo>
#include <QTextBoundaryFinder>

#include <cerrno>
#include <filesystem>

using namespace Qt::StringLiterals;

namespace Hub::PrivilegedRunner {

namespace {

constexpr double kAdministratorTimeout = 900.0;
// pkexec's status when the user dismissed the authentication dialog.
constexpr int kPkexecDismissed = 126;
// The helper's status for a refused request.
constexpr int kNotAStep = 2;

// The script's own status, except that 126 and 127 become 125: pkexec
// answers 126 for a dismissed dialog and 127 for a refusal, and a script
// that merely ran a tool that could not execute must not read as either.
constexpr char16_t kStatusWrapper[] = u"script=$1\n"
                                      u"shift\n"
                                      u"/bin/sh -c \"$script\" \"$0\" \"$@\"\n"
                                      u"status=$?\n"
                                      u"case $status in 126|127) exit 125 ;; esac\n"
                                      u"exit $status\n";

bool isLineBreak(char32_t c)
{
    switch (c) {
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x85:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

} // namespace

QString scriptReasons(const QString& output)
{
    QString reasons;
    for (const QStringView line : QStringView(output).split(u'\n', Qt::SkipEmptyParts))
        if (line.startsWith(u"Tarnhub: "))
            reasons += line + u'\n';
    return reasons;
}

QStringList shellArguments(const QString& script, const QStringList& arguments)
{
    return QStringList{u"-c"_s, QString::fromUtf16(kStatusWrapper), u"hub"_s, script} + arguments;
}

Shell::Result runWithPkexec(const QString& pkexec, const QString& script, const QStringList& arguments,
                            double timeout)
{
    return runWithPkexec(pkexec, QString(), script, arguments, timeout);
}

Shell::Result runWithPkexec(const QString& pkexec, const QString& helper, const QString& script,
                            const QStringList& arguments, double timeout)
{
    QStringList command;
    if (helper.isEmpty()) {
        command = QStringList{u"/bin/sh"_s} + shellArguments(script, arguments);
    } else if (const std::optional<PrivilegedSteps::Step> step = PrivilegedSteps::of(script)) {
        command = QStringList{helper, PrivilegedSteps::name(*step)} + arguments;
    } else {
        return {kNotAStep, u"Tarnhub: the administrator's helper runs only the hub's own steps.\n"_s};
    }
    Shell::Result result = Shell::run(pkexec, command, timeout);
    if (result.status == kPkexecDismissed) {
        if (!result.output.isEmpty() && !result.output.endsWith(u'\n'))
            result.output += u'\n';
        result.output += u"The administrator password dialog was dismissed. "_s
                         + QStringView(kCancelledMarker);
    }
    return result;
}

Shell::Result runAsAdministrator(const QString& /*prompt*/, const QString& script, const QStringList& arguments)
{
    // An installed copy never falls back to handing pkexec a shell: a
    // missing helper fails like a refused one.
    const std::optional<QString> helpers = ToolPaths::helpersFolder();
    const QString helper = helpers ? QDir(*helpers).filePath(QString::fromLatin1(kHelperName)) : QString();
    return runWithPkexec(u"/usr/bin/pkexec"_s, helper, script, arguments, kAdministratorTimeout);
}

Shell::Result runAsCurrentUser(const QString& /*prompt*/, const QString& script, const QStringList& arguments)
{
    return Shell::run(u"/bin/sh"_s, shellArguments(script, arguments), kAdministratorTimeout);
}

QString cleanedPrompt(const QString& prompt)
{
    QString cleaned;
    cleaned.reserve(prompt.size());
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, prompt);
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end != -1; end = finder.toNextBoundary()) {
        const QStringView character = QStringView(prompt).mid(start, end - start);
        start = end;
        if (character.isEmpty())
            continue;
        const char32_t first = character.toUcs4().value(0);
        if (first == U'"' || first == U'\\' || isLineBreak(first))
            continue;
        cleaned += character;
    }
    return cleaned;
}

std::optional<QString> moveToTrash(const QString& path) { return Trash::moveToTrash(path, Config::homeFolder()); }

TrashHook moveInto(const QString& folder)
{
    return [folder](const QString& path) -> std::optional<QString> {
        std::error_code ec;
        std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), ec);
        if (ec)
            throw FileError(ec.value(), folder);
        // "Foo.vst3/" names Foo.vst3 as much as "Foo.vst3" does.
        const QString name = QFileInfo(QDir::cleanPath(path)).fileName();
        for (int number = 1;; ++number) {
            const QString target = QDir(folder).filePath(Trash::candidateName(name, number));
            if (FileMoves::existsNoFollow(target))
                continue;
            try {
                FileMoves::moveNoReplace(path, target);
                return target;
            } catch (const FileError& error) {
                // Taken between the test and the move: the next number.
                if (error.code() == std::errc::file_exists && error.path() == target)
                    continue;
                throw;
            }
        }
    };
}

} // namespace Hub::PrivilegedRunner
