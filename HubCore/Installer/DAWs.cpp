#include "Installer/DAWs.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <utility>
#include <vector>

using namespace Qt::StringLiterals;

namespace Hub::DAWs {

namespace {

struct KnownProgram {
    QRegularExpression name; // the whole name the program runs as
    QString bundleID;
    QString displayName;
};

KnownProgram known(const char* name, const char* bundleID, const char* displayName)
{
    return {QRegularExpression(QRegularExpression::anchoredPattern(QString::fromLatin1(name))),
            QString::fromLatin1(bundleID), QString::fromLatin1(displayName)};
}

// The DAWs that ship native programs for this platform, by the name of the
// program they run as. Names that carry a version (ardour8, and
// ardour-8.12.0 as Ardour's own bundle and Debian's package run it;
// renoise-3.4.3; Waveform13) are matched by a pattern, so a new release
// needs no new row; a DAW's helpers (ardour8-export, ardour-vst3-scanner,
// carla-bridge-native) are not the DAW.
const std::vector<KnownProgram>& knownPrograms()
{
    static const std::vector<KnownProgram> table{
        known("reaper", "com.cockos.reaper", "REAPER"),
        known("BitwigStudio|bitwig-studio", "com.bitwig.BitwigStudio", "Bitwig Studio"),
        known("Studio One|studioone", "com.presonus.studioone", "Studio One"),
        known("ardour(\\d+|-\\d.*)", "org.ardour.Ardour", "Ardour"),
        known("mixbus(\\d+|-\\d.*)", "com.harrisonaudio.Mixbus", "Mixbus"),
        known("mixbus32c(\\d+|-\\d.*)", "com.harrisonaudio.Mixbus32C", "Mixbus32C"),
        known("qtractor", "org.rncbc.qtractor", "Qtractor"),
        // Its own build is one program, Carla; a distribution's runs the
        // Python scripts carla, carla-rack and carla-patchbay.
        known("[Cc]arla|carla-rack|carla-patchbay", "studio.kx.carla", "Carla"),
        known("zrythm", "org.zrythm.Zrythm", "Zrythm"),
        // Its AppImage runs lmms.real behind a script named lmms.
        known("lmms|lmms\\.real", "io.lmms.LMMS", "LMMS"),
        known("renoise(-\\d.*)?", "com.renoise.Renoise", "Renoise"),
        known("[Ww]aveform\\d+", "com.tracktion.Waveform", "Waveform"),
    };
    return table;
}

// A program run by one of these is known by its script's name.
const QRegularExpression& interpreter()
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(u"python[0-9.]*"_s));
    return pattern;
}

QString baseName(const QString& path) { return path.mid(path.lastIndexOf(u'/') + 1); }

// The name the program runs as: the executable's, or for an interpreter
// the first argument that is not an option (its script).
QString programName(const QString& executable, const QString& processFolder)
{
    const QString base = baseName(executable);
    if (!interpreter().match(base).hasMatch())
        return base;
    QFile cmdline(processFolder + u"/cmdline"_s);
    if (!cmdline.open(QIODevice::ReadOnly))
        return base;
    const QList<QByteArray> arguments = cmdline.readAll().split('\0');
    for (qsizetype i = 1; i < arguments.size(); ++i)
        if (!arguments[i].isEmpty() && !arguments[i].startsWith('-'))
            return baseName(QFile::decodeName(arguments[i]));
    return base;
}

// The kernel marks the link of a replaced executable this way.
constexpr QStringView kDeletedSuffix = u" (deleted)";

} // namespace

const QStringList& prefixes()
{
    static const QStringList table{
        u"com.ableton.live"_s,        u"com.apple.logic10"_s,      u"com.apple.mainstage"_s,
        u"com.image-line.flstudio"_s, u"com.bitwig.BitwigStudio"_s, u"com.steinberg.cubase"_s,
        u"com.steinberg.nuendo"_s,    u"com.cockos.reaper"_s,       u"com.avid.ProTools"_s,
        u"com.presonus.studioone"_s,  u"com.apple.garageband"_s,
        // This platform's own hosts, by their desktop applications' identifiers.
        u"org.ardour.Ardour"_s,       u"com.harrisonaudio.Mixbus"_s, u"org.rncbc.qtractor"_s,
        u"studio.kx.carla"_s,         u"org.zrythm.Zrythm"_s,       u"io.lmms.LMMS"_s,
        u"com.renoise.Renoise"_s,     u"com.tracktion.Waveform"_s,
    };
    return table;
}

QStringList matching(const QList<RunningApp>& apps)
{
    QStringList names;
    for (const RunningApp& app : apps) {
        if (!app.bundleID)
            continue;
        const QString& id = *app.bundleID;
        const bool isDAW = std::any_of(prefixes().begin(), prefixes().end(),
                                       [&](const QString& prefix) { return id.startsWith(prefix); });
        if (isDAW)
            names.push_back(app.name ? *app.name : id);
    }
    return names;
}

QList<RunningApp> runningApps(const QString& procRoot)
{
    struct Process {
        qulonglong pid;
        QString folder;
        QString executable;
    };
    QList<Process> processes;
    const QDir proc(procRoot);
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
        bool numeric = false;
        const qulonglong pid = entry.toULongLong(&numeric);
        if (!numeric)
            continue;
        // Another user's process refuses the read: it is not this user's DAW.
        QString target = QFile::symLinkTarget(proc.filePath(entry + u"/exe"_s));
        if (target.isEmpty())
            continue;
        if (target.endsWith(kDeletedSuffix))
            target.chop(kDeletedSuffix.size());
        processes.push_back({pid, proc.filePath(entry), target});
    }
    std::sort(processes.begin(), processes.end(), [](const Process& a, const Process& b) { return a.pid < b.pid; });

    QList<RunningApp> apps;
    for (const Process& process : processes) {
        const QString name = programName(process.executable, process.folder);
        RunningApp app;
        for (const KnownProgram& program : knownPrograms()) {
            if (program.name.match(name).hasMatch()) {
                app.bundleID = program.bundleID;
                app.name = program.displayName;
                break;
            }
        }
        apps.push_back(std::move(app));
    }
    return apps;
}

QStringList running() { return running(u"/proc"_s); }

QStringList running(const QString& procRoot) { return matching(runningApps(procRoot)); }

} // namespace Hub::DAWs
