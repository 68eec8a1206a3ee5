#include "Installer/DAWs.h"

#include "QStringPrinter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

namespace DAWs = Hub::DAWs;
using DAWs::RunningApp;

RunningApp app(const QString& id, std::optional<QString> name = std::nullopt)
{
    return {id, std::move(name)};
}

TEST(DAWMatching, PrefixesAreMatchedCaseSensitively)
{
    const QList<RunningApp> apps{
        app(u"com.steinberg.cubase13"_s, u"Cubase 13"_s),
        app(u"com.apple.logic"_s, u"Logic"_s),
        app(u"com.Cockos.reaper"_s, u"wrong case"_s),
        app(u"com.cockos.reaper"_s),
        {std::nullopt, u"No identifier"_s},
        app(u"com.apple.garageband10"_s, u"GarageBand"_s),
        app(u"com.example.notes"_s, u"Notes"_s),
        app(u"com.steinberg.cubase13"_s, u"Cubase 13"_s),
    };
    EXPECT_EQ(DAWs::matching(apps),
              (QStringList{u"Cubase 13"_s, u"com.cockos.reaper"_s, u"GarageBand"_s, u"Cubase 13"_s}));
    EXPECT_TRUE(DAWs::matching({}).isEmpty());
}

TEST(DAWMatching, EveryPrefixOfTheTableCounts)
{
    ASSERT_EQ(DAWs::prefixes().size(), 19);
    for (const QString& prefix : DAWs::prefixes())
        EXPECT_EQ(DAWs::matching({app(prefix + u".x"_s, u"n"_s)}), QStringList{u"n"_s}) << prefix.toStdString();
}

// A process of a /proc-like folder: its exe link and, as the kernel gives
// it, its cmdline (each argument ended by a NUL).
void addProcess(const QString& root, const QString& pid, const QByteArray& exe, const QByteArrayList& cmdline = {})
{
    const QString folder = root + u'/' + pid;
    ASSERT_TRUE(QDir().mkpath(folder));
    if (!exe.isEmpty()) {
        ASSERT_EQ(::symlink(exe.constData(), QFile::encodeName(folder + u"/exe"_s).constData()), 0);
    }
    QFile file(folder + u"/cmdline"_s);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    for (const QByteArray& argument : cmdline)
        file.write(argument + '\0');
}

class ProcRoot : public ::testing::Test {
protected:
    void process(const QString& pid, const QByteArray& exe) { addProcess(m_dir.path(), pid, exe); }
    QTemporaryDir m_dir;
};

// Each host as its own build, its AppImage or Debian's package runs it, and
// the helpers beside it that are not the host.
TEST(RunningDAWs, EachLinuxHostIsKnownByTheProgramItRunsAs)
{
    const struct {
        QByteArray exe;
        QByteArrayList cmdline;
        QString name; // empty: not a DAW
    } table[] = {
        {"/opt/REAPER/reaper", {}, u"REAPER"_s},
        {"/opt/bitwig-studio/bitwig-studio", {}, u"Bitwig Studio"_s},
        {"/opt/PreSonus/Studio One 6/Studio One", {}, u"Studio One"_s},
        {"/opt/Ardour-8.12.0/bin/ardour-8.12.0", {}, u"Ardour"_s},
        {"/usr/lib/ardour7/ardour-7.3.0~ds0", {}, u"Ardour"_s},
        {"/home/me/src/ardour/build/gtk2_ardour/ardour8", {}, u"Ardour"_s},
        {"/usr/lib/ardour7/utils/ardour7-export", {}, {}},
        {"/usr/lib/ardour7/ardour-vst3-scanner", {}, {}},
        {"/usr/lib/ardour7/ardour-exec-wrapper", {}, {}},
        {"/opt/Mixbus-10.0.0/bin/mixbus-10.0.0", {}, u"Mixbus"_s},
        {"/opt/Mixbus32C-10.0.0/bin/mixbus32c-10.0.0", {}, u"Mixbus32C"_s},
        {"/usr/bin/qtractor", {}, u"Qtractor"_s},
        {"/opt/Carla-2.5.8/Carla", {}, u"Carla"_s},
        {"/usr/bin/python3.11", {"/usr/bin/python3", "/usr/share/carla/carla", "--with-appname=/usr/bin/carla"},
         u"Carla"_s},
        {"/usr/bin/python3.11", {"python3", "-O", "/usr/share/carla/carla-rack"}, u"Carla"_s},
        {"/usr/bin/python3.11", {"python3", "/usr/share/carla/carla-patchbay"}, u"Carla"_s},
        {"/usr/bin/python3.11", {"python3", "/home/me/bin/mixer-notes"}, {}},
        {"/usr/bin/python3.11", {}, {}},
        {"/usr/lib/carla/carla-bridge-native", {}, {}},
        {"/usr/lib/carla/carla-discovery-native", {}, {}},
        {"/usr/bin/zrythm", {}, u"Zrythm"_s},
        {"/usr/bin/lmms", {}, u"LMMS"_s},
        {"/tmp/.mount_lmmsAbC123/usr/bin/lmms.real", {}, u"LMMS"_s},
        {"/usr/lib/x86_64-linux-gnu/lmms/RemoteZynAddSubFx", {}, {}},
        {"/usr/local/bin/renoise-3.4.3", {}, u"Renoise"_s},
        {"/home/me/Renoise_3_4_3_Linux/renoise", {}, u"Renoise"_s},
        {"/usr/local/share/renoise-3.4.3/AudioPluginServer_x86_64", {}, {}},
        {"/usr/bin/Waveform13", {}, u"Waveform"_s},
        {"/app/bin/waveform12", {}, u"Waveform"_s},
        {"/usr/bin/audiowaveform", {}, {}},
        {"/home/me/bin/reaper-notes", {}, {}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.exe.toStdString() + " " + row.cmdline.join(' ').toStdString());
        QTemporaryDir proc;
        ASSERT_TRUE(proc.isValid());
        ASSERT_NO_FATAL_FAILURE(addProcess(proc.path(), u"4242"_s, row.exe, row.cmdline));
        EXPECT_EQ(DAWs::running(proc.path()), row.name.isEmpty() ? QStringList() : QStringList{row.name});
    }
}

TEST_F(ProcRoot, RunningDAWsAreNamedInProcessOrder)
{
    process(u"1234"_s, "/opt/REAPER/reaper");
    process(u"88"_s, "/usr/bin/bash");
    process(u"700"_s, "/opt/bitwig-studio/BitwigStudio (deleted)");
    process(u"9001"_s, "/opt/REAPER/reaper");
    process(u"self"_s, "/opt/REAPER/reaper");   // not a process number
    process(u"55"_s, {});                        // exe unreadable: another user's
    process(u"66"_s, "/home/me/bin/reaper-notes"); // a different program
    EXPECT_EQ(DAWs::running(m_dir.path()), (QStringList{u"Bitwig Studio"_s, u"REAPER"_s, u"REAPER"_s}));
}

TEST_F(ProcRoot, NoDAWNoNames)
{
    process(u"1"_s, "/sbin/init");
    EXPECT_TRUE(DAWs::running(m_dir.path()).isEmpty());
    EXPECT_TRUE(DAWs::running(m_dir.filePath(u"missing"_s)).isEmpty());
}

} // namespace
