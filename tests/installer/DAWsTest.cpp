#include "Installer/DAWs.h"

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
    ASSERT_EQ(DAWs::prefixes().size(), 11);
    for (const QString& prefix : DAWs::prefixes())
        EXPECT_EQ(DAWs::matching({app(prefix + u".x"_s, u"n"_s)}), QStringList{u"n"_s}) << prefix.toStdString();
}

class ProcRoot : public ::testing::Test {
protected:
    void process(const QString& pid, const QByteArray& exe)
    {
        const QString folder = m_dir.filePath(pid);
        ASSERT_TRUE(QDir().mkpath(folder));
        if (!exe.isEmpty()) {
            ASSERT_EQ(::symlink(exe.constData(), QFile::encodeName(folder + u"/exe"_s).constData()), 0);
        }
    }
    QTemporaryDir m_dir;
};

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
