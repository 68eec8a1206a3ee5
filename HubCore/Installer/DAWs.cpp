#include "Installer/DAWs.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <array>
#include <utility>

using namespace Qt::StringLiterals;

namespace Hub::DAWs {

namespace {

struct KnownProgram {
    QStringView executable; // the base name of /proc/<pid>/exe
    QStringView bundleID;
    QStringView name;
};

// The DAWs that ship native programs for this platform, by the executable
// they run as.
constexpr std::array<KnownProgram, 5> kKnownPrograms{{
    {u"reaper", u"com.cockos.reaper", u"REAPER"},
    {u"BitwigStudio", u"com.bitwig.BitwigStudio", u"Bitwig Studio"},
    {u"bitwig-studio", u"com.bitwig.BitwigStudio", u"Bitwig Studio"},
    {u"Studio One", u"com.presonus.studioone", u"Studio One"},
    {u"studioone", u"com.presonus.studioone", u"Studio One"},
}};

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
    QList<std::pair<qulonglong, QString>> processes;
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
        processes.push_back({pid, target});
    }
    std::sort(processes.begin(), processes.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });

    QList<RunningApp> apps;
    for (const auto& [pid, executable] : processes) {
        const QString base = executable.mid(executable.lastIndexOf(u'/') + 1);
        RunningApp app;
        for (const KnownProgram& known : kKnownPrograms) {
            if (known.executable == base) {
                app.bundleID = known.bundleID.toString();
                app.name = known.name.toString();
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
