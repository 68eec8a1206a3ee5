#include "BundleFactory.h"
#include "BundleSigner.h"
#include "QStringPrinter.h"
#include "SmallDisk.h"
#include "TestFiles.h"
#include "TestHttpsServer.h"
#include "TestPKI.h"
#include "ToolsPaths.h"

#include "Base/Config.h"
#include "Base/HubError.h"
#include "Base/Machine.h"
#include "Catalog/CatalogRecords.h"
#include "Installer/InstallErrors.h"
#include "Installer/InstallLocations.h"
#include "Installer/PluginInstaller.h"
#include "Platform/FileMoves.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <memory>
#include <mutex>

#include <cerrno>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace Hub;
namespace SmallDisk = Hub::Test::SmallDisk;

using Hub::Test::noise;

namespace {

// A stored zip of `bundle` (its folder name kept) whose executable comes
// first or last, so a disk that fills up meets it at a known point.
QByteArray zipOf(const QString& bundle, bool executableLast)
{
    const QString parent = QFileInfo(bundle).path();
    QStringList paths{bundle};
    QDirIterator it(bundle, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths.append(it.next());
    std::sort(paths.begin(), paths.end());
    const QString executable = bundle + u"/Contents/MacOS/Echo"_s;
    paths.removeOne(executable);
    if (executableLast)
        paths.append(executable);
    else
        paths.insert(1, executable);

    std::vector<char> buffer(8 << 20);
    size_t used = 0;
    std::unique_ptr<archive, decltype(&archive_write_free)> zip(archive_write_new(), archive_write_free);
    archive_write_set_format_zip(zip.get());
    archive_write_zip_set_compression_store(zip.get());
    archive_write_open_memory(zip.get(), buffer.data(), buffer.size(), &used);
    for (const QString& path : std::as_const(paths)) {
        struct stat status {};
        ::lstat(QFile::encodeName(path).constData(), &status);
        std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(), archive_entry_free);
        archive_entry_copy_stat(entry.get(), &status);
        archive_entry_set_pathname(entry.get(), QFile::encodeName(path.mid(parent.size() + 1)).constData());
        const QByteArray bytes = S_ISREG(status.st_mode) ? Hub::Test::readAll(path) : QByteArray();
        archive_entry_set_size(entry.get(), bytes.size());
        EXPECT_EQ(archive_write_header(zip.get(), entry.get()), ARCHIVE_OK) << archive_error_string(zip.get());
        if (!bytes.isEmpty()) {
            EXPECT_EQ(archive_write_data(zip.get(), bytes.constData(), size_t(bytes.size())), bytes.size());
        }
    }
    EXPECT_EQ(archive_write_close(zip.get()), ARCHIVE_OK);
    return QByteArray(buffer.data(), qsizetype(used));
}

// Where in an install the disk has no more room; nowhere: room to spare.
enum class RunsOut { atDownload, atFirstEntry, atLastEntry, atBackup, nowhere };

struct Row {
    const char* name;
    bool update; // an older echo is installed
    RunsOut at;
};

constexpr qsizetype kExecutable = 96 * 1024;
constexpr qsizetype kOlderExecutable = 1024 * 1024; // more than the room left for its backup

class DiskFullTest : public ::testing::TestWithParam<Row> {
protected:
    static void SetUpTestSuite()
    {
        if (SmallDisk::available())
            s_pki = std::make_unique<Hub::Test::TestPKI>();
    }
    static void TearDownTestSuite() { s_pki.reset(); }

    void SetUp() override
    {
        if (!SmallDisk::available())
            GTEST_SKIP() << SmallDisk::why().toStdString();
        m_disk = std::make_unique<QTemporaryDir>(SmallDisk::root() + u"/install-XXXXXX"_s);
        ASSERT_TRUE(m_disk->isValid());
        const QString base = m_disk->path();
        m_roots = InstallLocations::rootsFor(base + u"/home"_s, base + u"/system"_s, base + u"/system/Applications"_s,
                                             Config::supportFolder(base + u"/home"_s));
        QDir().mkpath(base + u"/system/Applications"_s);

        m_server.get("/files/(.+)", [this](const httplib::Request&, httplib::Response& response) {
            const std::lock_guard lock(m_mutex);
            response.set_content(m_served.toStdString(), "application/zip");
        });
        m_installer = std::make_unique<PluginInstaller>(
            nullptr, false, 0.25, [this] { return Http::Session{m_server.caBundle(), {}}; },
            PluginInstaller::URLResolver{}, PrivilegedRunner::moveInto(base + u"/trash"_s),
            PrivilegedRunner::runAsCurrentUser);
        m_installer->tools = Hub::Test::buildTreeTools();
        m_installer->anchors = s_pki->anchors();
        m_product.id = u"echo"_s;
        m_product.name = u"Echo"_s;
        m_release.version = u"2.1.0"_s;
    }

    static Hub::Test::BundlePlan recipe(const QString& version, qsizetype executable)
    {
        Hub::Test::BundlePlan recipe;
        recipe.name = u"Echo.vst3"_s;
        recipe.bundleID = u"com.tarnaudio.echo"_s;
        recipe.shortVersion = version;
        recipe.executable = noise(executable, quint32(executable));
        recipe.withFile(u"Contents/Resources/presets.txt"_s, "warm\nbright\n");
        return recipe;
    }

    // Serves a signed 2.1.0 whose executable comes first or last.
    Artifact serve(bool executableLast)
    {
        const QString bundle = Hub::Test::BundleFactory::create(m_fixtures.path(), recipe(u"2.1.0"_s, kExecutable));
        Hub::Test::signBundle(bundle, s_pki->maker());
        const QByteArray zip = zipOf(bundle, executableLast);
        {
            const std::lock_guard lock(m_mutex);
            m_served = zip;
        }
        qint64 files = 0;
        QDirIterator it(bundle, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files += QFileInfo(it.next()).size();
        m_unpacked = files;

        Artifact artifact;
        artifact.format = PluginFormat::vst3;
        artifact.bundle = u"Echo.vst3"_s;
        artifact.bundleID = u"com.tarnaudio.echo"_s;
        artifact.sha256 = QString::fromLatin1(QCryptographicHash::hash(zip, QCryptographicHash::Sha256).toHex());
        artifact.size = zip.size();
        artifact.archs = QStringList{Machine::cpu()};
        artifact.url = m_server.url(u"/files/echo.zip"_s).toString();
        return artifact;
    }

    // The room an install gets, so that it runs out where the row says.
    qint64 roomFor(RunsOut at, qint64 archive) const
    {
        switch (at) {
        case RunsOut::atDownload:
            return archive / 2;
        case RunsOut::atFirstEntry:
            return archive + 4096;
        case RunsOut::atLastEntry:
            return archive + m_unpacked - kExecutable / 2;
        case RunsOut::atBackup:
            // Twice what the unpacked files take, with a block each: the
            // unpack fits, the older executable's backup does not.
            return archive + 2 * (m_unpacked + 16 * 4096) + 64 * 1024;
        case RunsOut::nowhere:
            return SmallDisk::freeBytes(m_disk->path());
        }
        return 0;
    }

    QString pluginFolder() const { return InstallLocations::folder(m_roots, PluginFormat::vst3, InstallScope::user); }

    static inline std::unique_ptr<Hub::Test::TestPKI> s_pki;
    std::unique_ptr<QTemporaryDir> m_disk;
    QTemporaryDir m_fixtures;
    InstallRoots m_roots;
    Hub::Test::TestHttpsServer m_server;
    std::mutex m_mutex;
    QByteArray m_served;
    qint64 m_unpacked = 0;
    std::unique_ptr<PluginInstaller> m_installer;
    Product m_product;
    Release m_release;
};

TEST_P(DiskFullTest, FailsNamingTheDiskAndLeavesTheInstalledCopyAsItWas)
{
    const Row row = GetParam();
    const Artifact artifact = serve(row.at != RunsOut::atFirstEntry);
    if (row.update) {
        Hub::Test::BundleFactory::create(pluginFolder(), recipe(u"2.0.0"_s, kOlderExecutable));
        Hub::Test::writeAll(PluginInstaller::backupsFolder(m_roots, m_product.id) + u"/1.9.0-vst3.zip"_s,
                            "older backup");
    }
    const QStringList pluginsBefore = Hub::Test::treeListing(pluginFolder());
    const QStringList backupsBefore = Hub::Test::treeListing(PluginInstaller::backupsFolder(m_roots, m_product.id));
    ASSERT_TRUE(SmallDisk::leaveFree(m_disk->path(), roomFor(row.at, *artifact.size)))
        << "the small disk has only " << SmallDisk::freeBytes(m_disk->path()) << " bytes free";

    QString sentence = u"installed"_s;
    m_release.artifacts = std::vector<Artifact>{artifact};
    InstallStep::Kind reached = InstallStep::Kind::downloading;
    try {
        m_installer->install(m_product, m_release, {PluginFormat::vst3}, InstallScope::user, m_roots,
                             [&reached](const InstallStep& step) { reached = step.kind; });
    } catch (...) {
        sentence = errorSentence(std::current_exception());
    }

    // The step the install got to shows where the room ran out.
    const InstallStep::Kind expectedStep = row.at == RunsOut::atDownload     ? InstallStep::Kind::downloading
                                           : row.at == RunsOut::atBackup     ? InstallStep::Kind::installing
                                           : row.at == RunsOut::nowhere      ? InstallStep::Kind::done
                                                                             : InstallStep::Kind::verifying;
    EXPECT_EQ(int(reached), int(expectedStep));
    if (row.at == RunsOut::nowhere) {
        // The same install, with room, goes through: the rows above fail
        // for want of space alone.
        EXPECT_EQ(sentence, u"installed"_s);
        EXPECT_EQ(PluginInstaller::shortVersion(pluginFolder() + u"/Echo.vst3"_s), u"2.1.0"_s);
        return;
    }
    const QString kept = row.update ? u"; echo 2.0.0 is still installed as it was."_s : u" and nothing was changed."_s;
    EXPECT_EQ(sentence, QString(u"The disk at "_s + SmallDisk::root() + u" is full, so echo 2.1.0 wasn't installed"_s
                                + kept + u" Free up some space and try again."_s));
    EXPECT_EQ(Hub::Test::treeListing(pluginFolder()), pluginsBefore);
    EXPECT_EQ(Hub::Test::treeListing(PluginInstaller::backupsFolder(m_roots, m_product.id)), backupsBefore);
    EXPECT_EQ(Hub::Test::entriesOf(PluginInstaller::stagingRoot(m_roots)), QStringList());
}

// A home that is a disk of its own is named the way the window names every
// path in the home: "~".
using HomeDiskFullTest = DiskFullTest;

TEST_F(HomeDiskFullTest, NamesAHomeOnItsOwnDiskAsTheWindowDoes)
{
    const QString home = SmallDisk::root();
    const QString base = m_disk->path();
    m_roots = InstallLocations::rootsFor(home, base + u"/system"_s, base + u"/system/Applications"_s,
                                         Config::supportFolder(home));
    const Artifact artifact = serve(false);
    ASSERT_TRUE(SmallDisk::leaveFree(m_disk->path(), roomFor(RunsOut::atDownload, *artifact.size)));

    m_release.artifacts = std::vector<Artifact>{artifact};
    QString sentence = u"installed"_s;
    try {
        m_installer->install(m_product, m_release, {PluginFormat::vst3}, InstallScope::user, m_roots, {});
    } catch (...) {
        sentence = errorSentence(std::current_exception(), home);
    }
    EXPECT_EQ(sentence, u"The disk at ~ is full, so echo 2.1.0 wasn't installed and nothing was changed. Free up some "_s
                        u"space and try again."_s);
    // The same for a file error that reaches the window as it is.
    EXPECT_EQ(errorSentence(std::make_exception_ptr(FileError(ENOSPC, pluginFolder())), home),
              u"The disk at ~ is full. Free up some space and try again."_s);
}

INSTANTIATE_TEST_SUITE_P(
    Installs, DiskFullTest,
    ::testing::Values(Row{"InstallAtDownload", false, RunsOut::atDownload},
                      Row{"InstallAtFirstEntry", false, RunsOut::atFirstEntry},
                      Row{"InstallAtLastEntry", false, RunsOut::atLastEntry},
                      Row{"UpdateAtDownload", true, RunsOut::atDownload},
                      Row{"UpdateAtFirstEntry", true, RunsOut::atFirstEntry},
                      Row{"UpdateAtLastEntry", true, RunsOut::atLastEntry},
                      Row{"UpdateAtBackup", true, RunsOut::atBackup},
                      Row{"InstallWithRoom", false, RunsOut::nowhere}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

} // namespace
