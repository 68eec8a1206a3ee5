#include "Installer/InstallLocations.h"
#include "Installer/SystemAURegistry.h"

#include "BundleFactory.h"
#include "ToolsPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

using Hub::AUDescriptor;
using Hub::SystemAURegistry;
using Listing = SystemAURegistry::Listing;
using Clock = std::chrono::steady_clock;
using Hub::Test::BundlePlan;
namespace BundleFactory = Hub::Test::BundleFactory;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void writeScript(const QString& path, const QByteArray& text)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("#!/bin/sh\n" + text);
    file.close();
    file.setPermissions(file.permissions() | QFile::ExeOwner);
}

// --- The rules ------------------------------------------------------------------

TEST(FourCC, FourPrintableAsciiBytesBigEndian)
{
    EXPECT_EQ(SystemAURegistry::fourCC(u"aufx"_s), 0x61756678u);
    EXPECT_EQ(SystemAURegistry::fourCC(u"Tarn"_s), 0x5461726Eu);
    EXPECT_EQ(SystemAURegistry::fourCC(u"a b~"_s), 0x6120627Eu);
    for (const QString& bad : {u"auf"_s, u"aufxx"_s, u""_s, u"éabc"_s, u"ab\tc"_s, u"abc\u007F"_s, u"ab€"_s})
        EXPECT_EQ(SystemAURegistry::fourCC(bad), std::nullopt) << bad.toStdString();
}

TEST(ValidatorListing, TextsDecideBeforeTheStatus)
{
    EXPECT_EQ(SystemAURegistry::listing(0, u"AudioUnit Name: X\ndidn't find the component"_s), Listing::missing);
    EXPECT_EQ(SystemAURegistry::listing(0, u"anything"_s), Listing::listed);
    EXPECT_EQ(SystemAURegistry::listing(1, u"  AudioUnit Name: Echos"_s), Listing::listed);
    EXPECT_EQ(SystemAURegistry::listing(1, u"Manufacturer String: Tarnaudio"_s), Listing::listed);
    EXPECT_EQ(SystemAURegistry::listing(1, u"audiounit name: lower case"_s), Listing::unknown);
    EXPECT_EQ(SystemAURegistry::listing(15, u""_s), Listing::unknown);
    EXPECT_EQ(SystemAURegistry::listing(-1, u"Couldn't run /usr/bin/auval"_s), Listing::unknown);
}

TEST(ComponentDescriptor, TheFirstAudioComponentEntry)
{
    QTemporaryDir dir;
    BundlePlan recipe;
    recipe.name = u"Echos.component"_s;
    recipe.withComponent(u"aufx"_s, u"Echo"_s, u"Tarn"_s).withComponent(u"aumf"_s, u"Ech2"_s, u"Tarn"_s);
    const QString two = BundleFactory::create(dir.path(), recipe);
    EXPECT_EQ(Hub::auDescriptorOfComponent(two), (AUDescriptor{u"aufx"_s, u"Echo"_s, u"Tarn"_s}));

    BundlePlan none;
    none.name = u"None.component"_s;
    EXPECT_EQ(Hub::auDescriptorOfComponent(BundleFactory::create(dir.path(), none)), std::nullopt);
    EXPECT_EQ(Hub::auDescriptorOfComponent(dir.filePath(u"Missing.component"_s)), std::nullopt);

    // A code written as a number is not text.
    const QString odd = dir.filePath(u"Odd.component"_s);
    QDir().mkpath(odd + u"/Contents"_s);
    QFile plist(odd + u"/Contents/Info.plist"_s);
    ASSERT_TRUE(plist.open(QIODevice::WriteOnly));
    plist.write("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>AudioComponents</key><array><dict>"
                "<key>type</key><string>aufx</string><key>subtype</key><integer>7</integer>"
                "<key>manufacturer</key><string>Tarn</string></dict></array></dict></plist>");
    plist.close();
    EXPECT_EQ(Hub::auDescriptorOfComponent(odd), std::nullopt);
}

// --- The wait, against the auval applet over a temporary machine ----------------

class RegistryWait : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_tools = Hub::Test::buildTreeTools();
        ASSERT_TRUE(QFileInfo(m_tools.auval).isExecutable()) << m_tools.auval.toStdString();
        // The validator looks at this machine's folders, and records each
        // call and each answer given.
        m_tools.auval = m_dir.filePath(u"auval"_s);
        writeScript(m_tools.auval, "echo \"$*\" >> '" + QFile::encodeName(m_dir.filePath(u"calls"_s)) + "'\n'"
                                       + QFile::encodeName(Hub::Test::buildTreeTools().auval) + "' --folder '"
                                       + QFile::encodeName(components(home())) + "' --folder '"
                                       + QFile::encodeName(components(system())) + "' \"$@\"\nstatus=$?\necho $status >> '"
                                       + QFile::encodeName(m_dir.filePath(u"answers"_s)) + "'\nexit $status\n");
    }

    QString home() const { return m_dir.filePath(u"home"_s); }
    QString system() const { return m_dir.filePath(u"root"_s); }
    Hub::InstallRoots roots() const { return Hub::InstallLocations::rootsFor(home(), system(), {}, {}); }
    QString components(const QString& root) const
    {
        const auto scope = root == home() ? Hub::InstallScope::user : Hub::InstallScope::allUsers;
        return Hub::InstallLocations::folder(roots(), Hub::PluginFormat::au, scope);
    }
    QStringList calls() const
    {
        QFile file(m_dir.filePath(u"calls"_s));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }
    // Waits, without a fixed sleep, until the validator has answered once.
    bool waitForFirstAnswer() const
    {
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        while (!QFileInfo(m_dir.filePath(u"answers"_s)).size()) {
            if (Clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    QString installEchos(const QString& root) const
    {
        BundlePlan recipe;
        recipe.name = u"Echos.component"_s;
        recipe.withComponent(u"aufx"_s, u"Echo"_s, u"Tarn"_s, u"Tarnaudio: Echos"_s);
        return BundleFactory::create(components(root), recipe);
    }

    const AUDescriptor m_echos{u"aufx"_s, u"Echo"_s, u"Tarn"_s};
    QTemporaryDir m_dir;
    Hub::ToolPaths m_tools;
};

TEST_F(RegistryWait, LookupReadsTheComponentsFoldersOfBothScopes)
{
    const SystemAURegistry registry(m_tools);
    EXPECT_EQ(registry.lookup(m_echos, 20), Listing::missing);
    installEchos(system());
    EXPECT_EQ(registry.lookup(m_echos, 20), Listing::listed);
    EXPECT_TRUE(registry.isRegistered(m_echos));
    EXPECT_EQ(registry.lookup({u"aufx"_s, u"Echo"_s, u"Othr"_s}, 20), Listing::missing);
    // The codes go to the validator as eight upper-case hexadecimal digits.
    ASSERT_FALSE(calls().isEmpty());
    EXPECT_EQ(calls().front(), u"-v 61756678 4563686F 5461726E"_s);
}

TEST_F(RegistryWait, AnInvalidCodeIsMissingWithoutRunningTheValidator)
{
    const SystemAURegistry registry(m_tools);
    const AUDescriptor shortCode{u"auf"_s, u"Echo"_s, u"Tarn"_s};
    EXPECT_EQ(registry.lookup(shortCode, 20), Listing::missing);
    EXPECT_EQ(registry.lookup({u"aufx"_s, u"Échö"_s, u"Tarn"_s}, 20), Listing::missing);
    EXPECT_TRUE(calls().isEmpty());

    EXPECT_TRUE(const_cast<SystemAURegistry&>(registry).refreshAndWaitGone(shortCode, 5));
    const auto start = Clock::now();
    EXPECT_FALSE(const_cast<SystemAURegistry&>(registry).refreshAndWait(shortCode, 0.4));
    EXPECT_GE(secondsSince(start), 0.4);
}

TEST_F(RegistryWait, AnInstalledComponentIsListedAtOnce)
{
    installEchos(home());
    SystemAURegistry registry(m_tools);
    EXPECT_TRUE(registry.refreshAndWait(m_echos, 60));
    EXPECT_EQ(calls().size(), 1) << "the first answer must end the wait";
    EXPECT_FALSE(registry.refreshAndWaitGone(m_echos, 0.3));
}

TEST_F(RegistryWait, WithATimeOutOfZeroOneLookupStillDecides)
{
    installEchos(home());
    SystemAURegistry registry(m_tools);
    EXPECT_TRUE(registry.refreshAndWait(m_echos, 0));
    EXPECT_EQ(calls().size(), 1);
}

TEST_F(RegistryWait, AComponentThatAppearsDuringTheWaitEndsIt)
{
    SystemAURegistry registry(m_tools);
    // Installed once the wait has seen it missing, however long that takes.
    bool installedDuringTheWait = false;
    std::thread installer([this, &installedDuringTheWait] {
        installedDuringTheWait = waitForFirstAnswer();
        installEchos(home());
    });
    const auto start = Clock::now();
    const bool listed = registry.refreshAndWait(m_echos, 60);
    installer.join();
    ASSERT_TRUE(installedDuringTheWait);
    EXPECT_TRUE(listed);
    EXPECT_LT(secondsSince(start), 30.0) << "the wait must end when the component appears, not at its deadline";
    EXPECT_GE(calls().size(), 2);
}

TEST_F(RegistryWait, AMissingComponentRunsOutAtTheDeadline)
{
    SystemAURegistry registry(m_tools);
    const auto start = Clock::now();
    EXPECT_FALSE(registry.refreshAndWait(m_echos, 0.8));
    const double elapsed = secondsSince(start);
    EXPECT_GE(elapsed, 0.8);
    EXPECT_LT(elapsed, 8.0);
    // Polled every 250 ms, not in a tight loop.
    EXPECT_GE(calls().size(), 2);
    EXPECT_LE(calls().size(), 6);
}

TEST_F(RegistryWait, ARemovedComponentIsGone)
{
    const QString bundle = installEchos(home());
    SystemAURegistry registry(m_tools);
    ASSERT_TRUE(registry.refreshAndWait(m_echos, 5));
    ASSERT_TRUE(QDir(bundle).removeRecursively());
    EXPECT_TRUE(registry.refreshAndWaitGone(m_echos, 5));
}

TEST_F(RegistryWait, AValidatorThatSaysNothingUsefulIsUnknownAndNeverEndsTheWaitEarly)
{
    writeScript(m_tools.auval, "echo 'Validator crashed'\nexit 3\n");
    SystemAURegistry registry(m_tools);
    EXPECT_EQ(registry.lookup(m_echos, 20), Listing::unknown);
    EXPECT_FALSE(registry.refreshAndWaitGone(m_echos, 0.3));

    m_tools.auval = m_dir.filePath(u"no-such-validator"_s);
    EXPECT_EQ(SystemAURegistry(m_tools).lookup(m_echos, 20), Listing::unknown);
}

TEST_F(RegistryWait, TheRegistrarRestartIsTheKillallApplet)
{
    const QString log = m_dir.filePath(u"killall-calls"_s);
    m_tools.killall = m_dir.filePath(u"killall"_s);
    writeScript(m_tools.killall, "echo \"$*\" >> '" + QFile::encodeName(log) + "'\nexit 1\n");
    installEchos(home());
    SystemAURegistry registry(m_tools);
    EXPECT_TRUE(registry.refreshAndWait(m_echos, 1));
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "-9 AudioComponentRegistrar\n");
}

} // namespace
