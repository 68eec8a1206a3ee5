// The package path of a sandboxed run against the local maker's service:
// the model and the very services the shell builds for the sandbox, the
// real applets and the package script, unprivileged, into the isolated
// home. A package trusted only through the profile's anchor must reach the
// home's places; anything the shell built for the sandbox that still asked
// for the administrator or trusted only the build's anchor stops it.
#include "LocalService.h"

#include "Shell/AppServices.h"
#include "Shell/ServiceProfile.h"

#include "Base/Config.h"
#include "Base/Places.h"
#include "Installer/ApplicationEntries.h"
#include "Installer/PluginInstaller.h"
#include "Model/HubModel.h"

#include "QStringPrinter.h"

#include <QCoreApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace Hub::Test {
namespace {

constexpr int kWaitMs = 120000;

class SandboxPackageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_home = m_dir.filePath(u"home"_s);
        ASSERT_TRUE(QDir().mkpath(m_home));
        m_service = std::make_unique<LocalService::LocalService>(m_dir.filePath(u"service"_s),
                                                                 LocalService::Fault::none);
        const std::optional<Shell::Sandbox> sandbox = Shell::sandboxFor(true, m_service->profilePath(), m_home);
        ASSERT_TRUE(sandbox && sandbox->profile);
        m_model = std::make_unique<HubModel>(Shell::makeAppServices(sandbox).model);
        m_model->start();
        ASSERT_TRUE(QTest::qWaitFor([this] { return m_model->product(u"loom"_s) && m_model->hubUpdate(); }, kWaitMs))
            << "the local catalog never arrived";
    }

    void TearDown() override
    {
        if (m_model)
            m_model->shutdown();
    }

    QTemporaryDir m_dir;
    QString m_home;
    std::unique_ptr<LocalService::LocalService> m_service;
    std::unique_ptr<HubModel> m_model;
};

// Loom ships as a package, Glasswing's feed as a disk image holding one;
// each lands in the home's all-users place for its format.
TEST_F(SandboxPackageTest, APackageProductInstallsIntoTheHomesPlacesAndTheScanFindsIt)
{
    struct Row {
        QString id;
        PluginFormat format;
        Places::Place place;
        QString bundle;
    };
    for (const Row& row : {Row{u"loom"_s, PluginFormat::app, Places::Place::applicationsAllUsers, u"Loom.app"_s},
                           Row{u"glasswing"_s, PluginFormat::vst3, Places::Place::vst3AllUsers,
                               u"Glasswing.vst3"_s}}) {
        SCOPED_TRACE(row.id.toStdString());
        const Product& product = *m_model->product(row.id);
        ASSERT_TRUE(product.release && product.release->download());
        m_model->requestInstall(product, {}, InstallScope::allUsers);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !m_model->state(product).job.isWorking(); }, kWaitMs));

        const Product& now = *m_model->product(row.id);
        const ProductState state = m_model->state(now);
        EXPECT_EQ(state.job.kind, Job::Kind::done) << state.job.message.toStdString();
        const QString placed = QDir(Places::path(row.place, Places::isolated(m_home, m_home))).filePath(row.bundle);
        ASSERT_EQ(state.installed.size(), 1);
        EXPECT_EQ(state.installed[0].format, row.format);
        EXPECT_EQ(state.installed[0].path, placed);
        EXPECT_EQ(state.installed[0].version, now.release->version);
        EXPECT_EQ(PluginInstaller::shortVersion(placed), now.release->version);
        // An application reaches the desktop's menu, for all users as the
        // package placed it; a plug-in has no entry.
        QFile entry(QDir(ApplicationEntries::folder(m_model->roots(), InstallScope::allUsers))
                        .filePath(ApplicationEntries::fileName(placed)));
        EXPECT_EQ(entry.open(QIODevice::ReadOnly), row.format == PluginFormat::app);
        if (row.format == PluginFormat::app) {
            const QByteArray names = "\nTryExec=" + QFile::encodeName(ApplicationEntries::executableOf(placed));
            EXPECT_TRUE(entry.readAll().contains(names)) << entry.fileName().toStdString();
        }
    }
}

// A plug-in for all users goes through the all-users script, run as the
// current user; its check of the copy trusts the profile's anchor as the
// rest of the run does, so the maker's signed bundles reach the home's
// all-users places, where the Audio Unit is then listed.
TEST_F(SandboxPackageTest, APlugInForAllUsersGoesThroughTheScriptIntoTheHomesPlaces)
{
    const Product& product = *m_model->product(u"echo"_s);
    ASSERT_TRUE(product.release);
    m_model->requestInstall(product, {PluginFormat::vst3, PluginFormat::au}, InstallScope::allUsers);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_model->state(product).job.isWorking(); }, kWaitMs));

    const ProductState state = m_model->state(*m_model->product(u"echo"_s));
    EXPECT_EQ(state.job.kind, Job::Kind::done) << state.job.message.toStdString();
    const Places::Bases bases = Places::isolated(m_home, m_home);
    QStringList placed;
    for (const InstalledFormat& copy : state.installed) {
        EXPECT_EQ(copy.version, product.release->version) << copy.path.toStdString();
        placed.append(copy.path);
    }
    EXPECT_EQ(placed, (QStringList{QDir(Places::path(Places::Place::vst3AllUsers, bases)).filePath(u"Echo.vst3"_s),
                                   QDir(Places::path(Places::Place::componentsAllUsers, bases))
                                       .filePath(u"Echo.component"_s)}));
}

TEST_F(SandboxPackageTest, TheOwnUpdateInstallsIntoTheHomeThenAsksToStartTheNewProgram)
{
    const std::optional<Release> update = m_model->hubUpdate();
    ASSERT_TRUE(update);
    QSignalSpy restart(m_model.get(), &HubModel::restartRequested);
    m_model->updateHub();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return restart.count() == 1 || m_model->hubJob().kind == Job::Kind::failed; }, kWaitMs));
    ASSERT_EQ(restart.count(), 1) << m_model->hubJob().message.toStdString();

    const QString hub =
        QDir(Places::path(Places::Place::applicationsAllUsers, Places::isolated(m_home, m_home))).filePath(u"Tarnhub.app"_s);
    EXPECT_EQ(restart.at(0).at(0).toString(), hub + u"/Contents/MacOS/hubtarn"_s);
    EXPECT_EQ(PluginInstaller::shortVersion(hub), update->version);
    EXPECT_TRUE(m_model->restarting());
}

} // namespace
} // namespace Hub::Test

// The model lives on a thread with an event loop; results come back through it.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
