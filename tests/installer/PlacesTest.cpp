#include "Base/Config.h"
#include "Installer/InstallLocations.h"
#include "Installer/PluginInstaller.h"
#include "Platform/Trash.h"
#include "Reports/ReportSpool.h"
#include "Reports/SpoolLock.h"

#include "QStringPrinter.h"
#include "TestFiles.h"
#include "ToolsPaths.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

using namespace Qt::StringLiterals;
using namespace Hub;

namespace {

// Every folder that depends on the user's data or cache folder, as the code
// that uses it names it.
struct Consumers {
    QString support;
    QString downloads;
    QString spool;
    QString lockFolder;
    QString trash;
    QString settings;
    QString userVST3;

    static Consumers of(const QString& home)
    {
        const InstallRoots roots{home, u"/"_s, u"/opt"_s, Config::supportFolder(home)};
        return {Config::supportFolder(home),
                Config::downloadsFolder(home),
                ReportSpool(home).root(),
                SpoolLock::folders(home).first(),
                Trash::folder(home),
                PluginInstaller::settingsFolder({u"echo"_s, u"Tarn Audio/Echo"_s}, roots).value_or(QString()),
                InstallLocations::folder(roots, PluginFormat::vst3, InstallScope::user)};
    }
    // What they are when the data and cache folders are `data` and `cache`.
    static Consumers expected(const QString& home, const QString& data, const QString& cache)
    {
        return {data + u"/Tarn Hub"_s,  cache + u"/Tarn Hub/Downloads"_s, data + u"/Tarn Audio/Reports"_s,
                cache + u"/com.juce.locks"_s, data + u"/Trash"_s,        data + u"/Tarn Audio/Echo"_s,
                home + u"/.vst3"_s};
    }
    friend bool operator==(const Consumers&, const Consumers&) = default;
};

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

void PrintTo(const Consumers& c, std::ostream* out)
{
    for (const QString* s : {&c.support, &c.downloads, &c.spool, &c.lockFolder, &c.trash, &c.settings, &c.userVST3})
        *out << "\n  " << s->toStdString();
}

// A temporary folder stands in as the current user's home ($HOME), with the
// XDG variables as each case sets them; all three are put back afterwards.
class RealHome : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : kVariables)
            m_saved.push_back(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
        ASSERT_TRUE(m_dir.isValid());
        home = m_dir.filePath(u"me"_s);
        ASSERT_TRUE(QDir().mkpath(home));
        qputenv("HOME", QFile::encodeName(home));
        qunsetenv("XDG_DATA_HOME");
        qunsetenv("XDG_CACHE_HOME");
        ASSERT_EQ(QDir::homePath(), home);
    }
    void TearDown() override
    {
        for (size_t i = 0; i < std::size(kVariables); ++i) {
            if (m_saved[i])
                qputenv(kVariables[i], *m_saved[i]);
            else
                qunsetenv(kVariables[i]);
        }
    }

    static void setXdg(const char* name, const std::optional<QByteArray>& value)
    {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }

    static constexpr const char* kVariables[] = {"HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"};
    QTemporaryDir m_dir;
    std::vector<std::optional<QByteArray>> m_saved;
    QString home;
};

// The XDG variables count for the user's own home only, and only when they
// hold an absolute path; plug-in folders never follow them.
TEST_F(RealHome, XdgFoldersCountOnlyForTheOwnHomeAndOnlyWhenAbsolute)
{
    const QString other = m_dir.filePath(u"other"_s);
    const QString xdg = m_dir.filePath(u"xdg"_s);
    const struct {
        const char* name;
        bool ownHome;
        std::optional<QByteArray> data;
        std::optional<QByteArray> cache;
        bool dataFromXdg;
        bool cacheFromXdg;
    } rows[] = {
        {"unset", true, std::nullopt, std::nullopt, false, false},
        {"both absolute", true, QFile::encodeName(xdg + u"/data"_s), QFile::encodeName(xdg + u"/cache/"_s), true, true},
        {"relative data", true, "xdg/data", QFile::encodeName(xdg + u"/cache"_s), false, true},
        {"empty cache", true, QFile::encodeName(xdg + u"/data"_s), "", true, false},
        {"another home", false, QFile::encodeName(xdg + u"/data"_s), QFile::encodeName(xdg + u"/cache"_s), false,
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        setXdg("XDG_DATA_HOME", row.data);
        setXdg("XDG_CACHE_HOME", row.cache);
        const QString subject = row.ownHome ? home : other;
        const QString data = row.dataFromXdg ? xdg + u"/data"_s : subject + u"/.local/share"_s;
        const QString cache = row.cacheFromXdg ? xdg + u"/cache"_s : subject + u"/.cache"_s;
        EXPECT_EQ(Consumers::of(subject), Consumers::expected(subject, data, cache));
        if (row.ownHome) {
            const InstallRoots live = InstallLocations::real();
            EXPECT_EQ(live.userHome, home);
            EXPECT_EQ(live.support, data + u"/Tarn Hub"_s);
        }
    }
}

TEST_F(RealHome, IsolatedRootsKeepEverythingUnderTheHomeWhateverXdgSays)
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath(u"xdg/data"_s)));
    const InstallRoots roots = InstallLocations::isolatedRoots(home);
    EXPECT_EQ(roots, (InstallRoots{home, home, home + u"/Applications"_s, home + u"/.local/share/Tarn Hub"_s}));
    EXPECT_EQ(InstallLocations::folder(roots, PluginFormat::vst3, InstallScope::allUsers),
              home + u"/usr/local/lib/vst3"_s);
    // A writable <home>/opt is the applications folder, as /opt is on a live machine.
    ASSERT_TRUE(QDir().mkpath(home + u"/opt"_s));
    EXPECT_EQ(InstallLocations::isolatedRoots(home).applications, home + u"/opt"_s);
}

TEST_F(RealHome, OldCachesMoveBetweenTheXdgFolders)
{
    const QString data = m_dir.filePath(u"xdg/data"_s);
    qputenv("XDG_DATA_HOME", QFile::encodeName(data));
    qunsetenv("HUBTARN_SANDBOX");
    Hub::Test::writeAll(data + u"/Tarnaudio Hub/catalog.json"_s, "old catalog");

    Config::moveOldCaches(home, Config::bundleID());
    EXPECT_EQ(Hub::Test::readAll(data + u"/Tarn Hub/catalog.json"_s), "old catalog");
    EXPECT_EQ(entries(home), QStringList());
}

// The real program, as a new user would first run it: it names the Linux
// places and the build tree's tools it runs from, and creates nothing in the
// home folder.
TEST_F(RealHome, TheStatusReportNamesThePlacesAndCreatesNothing)
{
    QProcess status;
    status.setProgram(QString::fromUtf8(HUBTARN_PROGRAM));
    status.setArguments({u"--status"_s});
    status.setProcessEnvironment(QProcessEnvironment::systemEnvironment()); // HOME and no XDG, as set above
    status.start();
    ASSERT_TRUE(status.waitForFinished(120000));
    ASSERT_EQ(status.exitCode(), 0) << status.readAllStandardError().toStdString();
    const QString out = QString::fromUtf8(status.readAllStandardOutput());
    for (const QString& line : QStringList{
             u"Plug-ins for you: "_s + home + u"/.vst3 (VST3), "_s + home + u"/.components (Audio Units)\n"_s,
          u"Plug-ins for all users: /usr/local/lib/vst3 (VST3), /usr/local/lib/components (Audio Units)\n"_s,
          u"Support folder: "_s + home + u"/.local/share/Tarn Hub\n"_s,
          u"Downloads: "_s + home + u"/.cache/Tarn Hub/Downloads\n"_s,
          u"Helper tools: "_s + Hub::Test::toolsFolder() + u'\n'})
        EXPECT_TRUE(out.contains(line)) << line.toStdString() << "\nin:\n" << out.toStdString();
    EXPECT_EQ(entries(home), QStringList());
}

} // namespace
