// The sheets: what each shows and the one request it hands the model, the
// password sentence as an ordinary user meets it, and the keyboard.
#include "FrameTestSupport.h"

#include "AsOtherUser.h"
#include "TestFiles.h"
#include "TestHttpsServer.h"

#include "Kit/Control.h"
#include "Kit/Pill.h"
#include "Kit/Segmented.h"
#include "Kit/Switches.h"
#include "Kit/Theme.h"
#include "Views/Sheets/FeedbackSheet.h"
#include "Views/Sheets/InstallSheet.h"
#include "Views/Sheets/SheetView.h"
#include "Views/Sheets/SheetKit.h"
#include "Views/Sheets/UninstallSheet.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QWindow>

#include <functional>
#include <mutex>

#include <sys/stat.h>
#include <unistd.h>

namespace Hub::Test {
namespace {

using Views::FormatBox;

constexpr char kSubjectVariable[] = "HUB_SHEET_SUBJECT";
const QString kPasswordFooter =
    u"Everything goes to the Trash. Your system asks for your password once for the copies installed for all users."_qs;
const QString kPlainFooter = u"Everything goes to the Trash."_qs;

class SheetsTest : public FrameFixture {
protected:
    // Opens the sheet through the model, as every view does.
    Views::SheetView* present(const Sheet& sheet)
    {
        model->setSheet(sheet);
        Views::SheetView* host = view->sheetView();
        EXPECT_NE(host, nullptr);
        if (host) {
            EXPECT_TRUE(QTest::qWaitForWindowExposed(host, kPatience));
        }
        return host;
    }

    // Saves the sheet once its window has followed its content's height.
    static void picture(Views::SheetView* host, const QString& name)
    {
        // Layouts settle in posted events; a person sees them settled.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        EXPECT_TRUE(QTest::qWaitFor([&] { return host->height() == host->contentHeight(); }, kPatience))
            << "the window keeps a height its content does not have";
        saveScreenshot(host, name);
    }

    // A key or a click closes a sheet at once; a few seconds is the limit,
    // so a dead Escape fails here rather than at the suite's time-out.
    bool dismissed()
    {
        return QTest::qWaitFor([this] { return !model->sheet() && !view->sheetView(); }, kCloseLimit);
    }
    static constexpr int kCloseLimit = 5000;

    // What has the keyboard's focus, by object name or, for a segment, its title.
    static QString focusName()
    {
        QWidget* focused = QApplication::focusWidget();
        if (!focused)
            return u"<none>"_qs;
        if (!focused->objectName().isEmpty())
            return focused->objectName();
        auto* button = qobject_cast<QAbstractButton*>(focused);
        return button ? button->text() : u"<unnamed>"_qs;
    }

    QString labelText(QWidget* root, const QString& name) { return child<QLabel>(root, name)->text(); }

    QStringList tiles(QWidget* root)
    {
        QStringList found;
        for (const FormatBox* box : root->findChildren<FormatBox*>())
            if (box->isVisible())
                found.append(label(box->format()) + (box->isOn() ? u" on: "_qs : u" off: "_qs) + box->detail());
        return found;
    }

    static Views::SheetTitle* titleOf(QWidget* host)
    {
        auto* title = host->findChild<Views::SheetTitle*>();
        EXPECT_NE(title, nullptr);
        return title;
    }

    bool logged(const QString& call)
    {
        return eventually([&] { return log->calls().contains(call); });
    }
};

// ---- Uninstall ----------------------------------------------------------------

TEST_F(SheetsTest, UninstallShowsEachCopyAndOffersOnlyASettingsFolderTheInstallerWouldMove)
{
    const struct Row {
        const char* id;
        std::optional<QString> folder;
        QString caption; // empty: no switch
        bool switchOff;
        std::set<PluginFormat> untick;
        QString request;
    } table[] = {
        {"valid", u"Tarn Audio/Valid"_qs, u"~/.local/share/Tarn Audio/Valid goes to the Trash."_qs, false, {},
         u"uninstall valid vst3 au app user allUsers settings"_qs},
        {"switched-off", u"Tarn Audio/Off"_qs, u"~/.local/share/Tarn Audio/Off goes to the Trash."_qs, true,
         {PluginFormat::au}, u"uninstall switched-off vst3 app user allUsers kept"_qs},
        {"no-folder", std::nullopt, {}, false, {}, u"uninstall no-folder vst3 au app user allUsers kept"_qs},
        {"reports", u"Tarn Audio/Reports"_qs, {}, false, {}, u"uninstall reports vst3 au app user allUsers kept"_qs},
        {"outside", u"Other Maker/Outside"_qs, {}, false, {}, u"uninstall outside vst3 au app user allUsers kept"_qs},
        {"dot-dot", u"Tarn Audio/.."_qs, {}, false, {}, u"uninstall dot-dot vst3 au app user allUsers kept"_qs},
    };
    for (const Row& row : table) {
        Product product = plugin(QString::fromLatin1(row.id), u"1.5.0"_qs);
        product.settingsFolder = row.folder;
        catalog.products.push_back(product);
        installer->copies[product.id] = {copy(PluginFormat::vst3, u"1.4.2"_qs),
                                         copy(PluginFormat::au, u"1.4.2"_qs),
                                         copy(PluginFormat::vst3, u"1.3.0"_qs, InstallScope::allUsers),
                                         copy(PluginFormat::app, u"1.4.2"_qs)};
    }
    ASSERT_NO_FATAL_FAILURE(open());
    for (const Row& row : table) {
        SCOPED_TRACE(row.id);
        const QString id = QString::fromLatin1(row.id);
        Views::SheetView* host = present(Sheet::uninstall(id));
        ASSERT_NE(host, nullptr);
        EXPECT_EQ(titleOf(host)->title(), u"uninstall "_qs + id);
        EXPECT_EQ(titleOf(host)->detail(), u"Installed 1.4.2"_qs);
        // One tile per format, in the formats' order, each copy in stored order.
        EXPECT_EQ(tiles(host), (QStringList{u"VST3 on: 1.4.2 just for you · 1.3.0 for all users"_qs,
                                            u"AU on: 1.4.2 just for you"_qs, u"App on: 1.4.2 in ~/Applications"_qs}));
        // These copies live only in the fake installer: a write check that
        // fails for any reason, a missing copy too, names the password.
        EXPECT_EQ(labelText(host, u"uninstallFooter"_qs), kPasswordFooter);
        auto* settings = child<Kit::InkSwitch>(host, u"removeSettings"_qs);
        EXPECT_EQ(settings->isVisible(), !row.caption.isEmpty());
        if (settings->isVisible()) {
            EXPECT_EQ(labelText(host, u"settingsCaption"_qs), row.caption);
            // The caption is the switch's description, read once with it.
            EXPECT_EQ(spoken(settings)->text(QAccessible::Name), u"Also remove settings and presets"_qs);
            EXPECT_EQ(spoken(settings)->text(QAccessible::Description), row.caption);
            if (row.switchOff)
                clickCentre(settings);
        }
        for (PluginFormat format : row.untick)
            clickCentre(child<FormatBox>(host, u"formatBox-"_qs + rawValue(format)));
        picture(host, u"sheet-uninstall-"_qs + id);
        clickCentre(child<Kit::Pill>(host, u"uninstallButton"_qs));
        EXPECT_TRUE(dismissed());
        EXPECT_TRUE(logged(row.request));
    }
}

TEST_F(SheetsTest, UninstallIsDisabledWithNothingChosenEvenWithTheSettingsSwitchOn)
{
    Product product = plugin(u"quiet"_qs, u"1.0"_qs);
    product.settingsFolder = u"Tarn Audio/Quiet"_qs;
    catalog.products.push_back(product);
    installer->copies[u"quiet"_qs] = {copy(PluginFormat::au, u"1.0"_qs)};
    ASSERT_NO_FATAL_FAILURE(open());
    Views::SheetView* host = present(Sheet::uninstall(u"quiet"_qs));
    ASSERT_NE(host, nullptr);
    auto* uninstall = child<Kit::Pill>(host, u"uninstallButton"_qs);
    auto* au = child<FormatBox>(host, u"formatBox-au"_qs);
    // A click in the tile's empty corner area still toggles it.
    QTest::mouseClick(au, Qt::LeftButton, {}, QPoint(au->width() - 20, au->height() / 2));
    EXPECT_FALSE(au->isOn());
    EXPECT_TRUE(child<Kit::InkSwitch>(host, u"removeSettings"_qs)->isChecked());
    EXPECT_FALSE(uninstall->isEnabled());
    picture(host, u"sheet-uninstall-nothing-chosen"_qs);
    clickCentre(au);
    EXPECT_TRUE(uninstall->isEnabled());
}

// ---- The password sentence as an ordinary user --------------------------------

// The subject: this executable again as another user, drawing the uninstall
// sheet over a model whose all-users VST3 folder belongs to root. It writes
// the footer with every copy chosen, with VST3 unticked and ticked again,
// and a picture of the first.
struct PasswordSubject : SheetsTest {
    void TestBody() override {}

    int run(const QString& jobPath)
    {
        const QMap<QString, QString> job = readJob(jobPath);
        SetUp();
        const QString home = m_home.path();
        // The all-users folder is root's, reached through a link from the
        // isolated home.
        QDir().mkpath(home + u"/usr/local/lib"_qs);
        if (!QFile::link(job[u"system"_qs], home + u"/usr/local/lib/vst3"_qs))
            return 2;
        catalog.products = {plugin(u"echo"_qs, u"2.0"_qs)};
        installer->copies.clear();
        const InstalledFormat mine = copy(PluginFormat::vst3, u"1.4.2"_qs, InstallScope::user, u"Echo"_qs);
        const InstalledFormat mineAU = copy(PluginFormat::au, u"1.4.2"_qs, InstallScope::user, u"Echo"_qs);
        QDir().mkpath(mine.path);
        QDir().mkpath(mineAU.path);
        installer->copies[u"echo"_qs] = {mine,
                                         copy(PluginFormat::vst3, u"1.3.0"_qs, InstallScope::allUsers, u"Echo"_qs),
                                         mineAU};
        startModel();
        Views::SheetView host(model.get(), Sheet::uninstall(u"echo"_qs), nullptr);
        host.show();
        if (!QTest::qWaitForWindowExposed(&host, kPatience))
            return 4;
        auto* footer = host.findChild<QLabel*>(u"uninstallFooter"_qs);
        auto* vst3 = host.findChild<FormatBox*>(u"formatBox-vst3"_qs);
        if (!footer || !vst3)
            return 3;
        QStringList seen{footer->text(), vst3->detail()};
        host.grab().save(job[u"picture"_qs]);
        clickCentre(vst3);
        seen.append(footer->text());
        clickCentre(vst3);
        seen.append(footer->text());
        writeAll(job[u"result"_qs], seen.join(u'\n').toUtf8());
        TearDown();
        return 0;
    }
};

[[maybe_unused]] ::testing::Environment* const kSubject =
    addSubjectEnvironment(kSubjectVariable, [](const QString& job) { return PasswordSubject().run(job); });

TEST(SheetsAsAnotherUser, ThePasswordSentenceFollowsTheChosenCopiesTheUserMayNotWrite)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "running the sheet as another user needs root";
    // Outside the checkout, where the other user can reach it.
    QTemporaryDir dir(QDir::tempPath() + u"/hub-sheet-XXXXXX"_qs);
    ASSERT_TRUE(dir.isValid());
    const QString base = dir.path();
    ASSERT_EQ(::chmod(QFile::encodeName(base).constData(), 0755), 0);
    ASSERT_TRUE(QDir().mkpath(base + u"/system/Echo.vst3"_qs));
    ASSERT_TRUE(QDir().mkpath(base + u"/out"_qs));
    chownTree(base + u"/out"_qs, kNobody);
    writeJob(base + u"/job.txt"_qs, {{u"system"_qs, base + u"/system"_qs},
                                    {u"result"_qs, base + u"/out/result.txt"_qs},
                                    {u"picture"_qs, base + u"/out/picture.png"_qs}});
    ASSERT_EQ(runSelfAsNobody(kSubjectVariable, base + u"/job.txt"_qs), 0);
    const QStringList seen = QString::fromUtf8(readAll(base + u"/out/result.txt"_qs)).split(u'\n');
    EXPECT_EQ(seen, (QStringList{kPasswordFooter, u"1.4.2 just for you · 1.3.0 for all users"_qs, kPlainFooter,
                                 kPasswordFooter}));
    QImage picture(base + u"/out/picture.png"_qs);
    ASSERT_FALSE(picture.isNull());
    saveScreenshot(picture, u"sheet-uninstall-password"_qs);
}

// ---- Install -------------------------------------------------------------------

// A live catalog the test changes between refreshes.
class InstallSheetTest : public SheetsTest {
protected:
    void serve(const Catalog& live)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_live = live.toJson();
        }
    }

    void SetUp() override
    {
        SheetsTest::SetUp();
        m_server.get("/catalog.json", [this](const httplib::Request&, httplib::Response& response) {
            const std::lock_guard lock(m_mutex);
            response.set_content(m_live.toStdString(), "application/json");
        });
        caBundle = m_server.caBundle();
        catalogURL = m_server.url(u"/catalog.json"_qs);
    }

    void refreshTo(const Catalog& live)
    {
        serve(live);
        model->refresh(true);
        ASSERT_TRUE(eventually([this] { return !model->loading(); }));
    }

    TestHttpsServer m_server;
    std::mutex m_mutex;
    QByteArray m_live;
};

TEST_F(InstallSheetTest, TheReleaseArrivingFillsTheDefaultsAndInstallSendsOnlyFormatsStillOffered)
{
    Product late = plugin(u"late"_qs, u"2.1.0"_qs);
    Product bare = late;
    bare.release.reset();
    bare.formats = QStringList{u"vst3"_qs, u"Au"_qs, u"Midi"_qs};
    catalog.products.push_back(bare);
    serve(catalog);
    ASSERT_NO_FATAL_FAILURE(open());
    Views::SheetView* host = present(Sheet::install(u"late"_qs));
    ASSERT_NE(host, nullptr);
    auto* install = child<Kit::Pill>(host, u"installButton"_qs);
    // No release yet: the package form, AU first, fixed on.
    EXPECT_EQ(tiles(host), (QStringList{u"AU on: For Macs only: no Linux host loads Audio Units"_qs,
                                        u"VST3 on: Ardour, Reaper, Bitwig, Qtractor, Carla, Waveform"_qs}));
    EXPECT_TRUE(install->isEnabled());
    picture(host, u"sheet-install-package"_qs);

    // The release arrives: the offered form with the defaults ticked, VST3
    // alone for a new user (no Linux host loads an Audio Unit).
    Catalog live = catalog;
    live.products.back() = late;
    ASSERT_NO_FATAL_FAILURE(refreshTo(live));
    EXPECT_EQ(titleOf(host)->detail(),
              u"x86-64 · 2.1.0"_qs);
    EXPECT_EQ(tiles(host), (QStringList{u"VST3 on: Ardour, Reaper, Bitwig, Qtractor, Carla, Waveform"_qs,
                                        u"AU off: For Macs only: no Linux host loads Audio Units"_qs}));
    EXPECT_EQ(labelText(host, u"installNote"_qs),
              u"Installs just for you, no password needed. Close your DAW first so it loads the new version."_qs);
    picture(host, u"sheet-install-offered"_qs);
    clickCentre(child<FormatBox>(host, u"formatBox-au"_qs));

    // A refresh takes AU away while the sheet is up: only VST3 goes.
    live.products.back().release->artifacts->pop_back();
    ASSERT_NO_FATAL_FAILURE(refreshTo(live));
    EXPECT_EQ(qobject_cast<Views::InstallSheet*>(host->body())->chosen(), (std::set{PluginFormat::vst3, PluginFormat::au}));
    clickCentre(install);
    EXPECT_TRUE(dismissed());
    EXPECT_TRUE(logged(u"install late vst3 user"_qs));
}

// What the user unticks stays off the computer: the request names only
// the ticked formats, whichever one is left out.
TEST_F(SheetsTest, AnUntickedFormatIsNotInstalled)
{
    ASSERT_NO_FATAL_FAILURE(open());
    model->setInstallAU(true); // both start ticked
    const struct Row {
        PluginFormat untick;
        QString request;
    } table[] = {
        {PluginFormat::au, u"install reverb vst3 user"_qs},
        {PluginFormat::vst3, u"install reverb au user"_qs},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(rawValue(row.untick).toStdString());
        const qsizetype calls = log->calls().size();
        Views::SheetView* host = present(Sheet::install(u"reverb"_qs));
        ASSERT_NE(host, nullptr);
        clickCentre(child<FormatBox>(host, u"formatBox-"_qs + rawValue(row.untick)));
        clickCentre(child<Kit::Pill>(host, u"installButton"_qs));
        EXPECT_TRUE(dismissed());
        ASSERT_TRUE(eventually([&] { return log->calls().size() > calls; }));
        EXPECT_EQ(log->calls().mid(calls).first(), row.request);
        ASSERT_TRUE(eventually([&] { return !stateOf(u"reverb"_qs).job.isWorking(); }));
        // Back to not installed for the next row.
        installer->copies.erase(u"reverb"_qs);
        model->refresh(false);
        ASSERT_TRUE(eventually([&] { return !model->loading() && stateOf(u"reverb"_qs).installed.isEmpty(); }));
    }
}

// Assistive technology's toggle turns a tile off as a click does, and the
// choice follows the tile however its state changed: what it shows off is
// neither installed nor moved to the Trash. A package's fixed tile offers
// nothing to toggle and stays on.
TEST_F(SheetsTest, ATileTurnedOffByAssistiveTechnologyIsLeftOutAndAFixedTileOffersNoAction)
{
    installer->copies[u"echo"_qs] = {copy(PluginFormat::vst3, u"1.0"_qs), copy(PluginFormat::au, u"1.0"_qs)};
    Product package = plugin(u"boxed"_qs, u"1.0"_qs);
    package.release.reset();
    catalog.products.push_back(package);
    ASSERT_NO_FATAL_FAILURE(open());
    model->setInstallAU(true); // both start ticked
    const struct Row {
        Sheet sheet;
        PluginFormat off;
        const char* button;
        QString request;
    } table[] = {
        {Sheet::install(u"reverb"_qs), PluginFormat::au, "installButton", u"install reverb vst3 user"_qs},
        {Sheet::uninstall(u"echo"_qs), PluginFormat::vst3, "uninstallButton", u"uninstall echo au user allUsers kept"_qs},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(rawValue(row.off).toStdString());
        Views::SheetView* host = present(row.sheet);
        ASSERT_NE(host, nullptr);
        auto* box = child<FormatBox>(host, u"formatBox-"_qs + rawValue(row.off));
        QAccessibleInterface* tile = spoken(box);
        EXPECT_EQ(tile->role(), QAccessible::CheckBox);
        EXPECT_EQ(tile->text(QAccessible::Name), label(row.off));
        EXPECT_TRUE(tile->state().checked);
        ASSERT_NE(tile->actionInterface(), nullptr);
        AccessEvents events;
        tile->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        EXPECT_FALSE(box->isOn());
        EXPECT_FALSE(tile->state().checked);
        // The sheet's title stays as it was: nothing is heard but the tile.
        EXPECT_EQ(events.count(QAccessible::NameChanged, child(host, u"sheetTitle"_qs)), 0);
        // Qt's own toggle, which clicks nothing, is heard as well.
        box->toggle();
        box->toggle();
        EXPECT_FALSE(box->isOn());
        picture(host, u"sheet-toggled-off-"_qs + rawValue(row.off));
        clickCentre(child<Kit::Pill>(host, QString::fromLatin1(row.button)));
        EXPECT_TRUE(dismissed());
        EXPECT_TRUE(logged(row.request)) << log->calls().join(u'\n').toStdString();
    }

    Views::SheetView* host = present(Sheet::install(u"boxed"_qs));
    ASSERT_NE(host, nullptr);
    auto* fixed = child<FormatBox>(host, u"formatBox-au"_qs);
    QAccessibleInterface* tile = spoken(fixed);
    EXPECT_TRUE(tile->state().checked);
    EXPECT_TRUE(!tile->actionInterface() || tile->actionInterface()->actionNames().isEmpty());
    fixed->toggle();
    EXPECT_TRUE(fixed->isOn()) << "a package's tile was turned off";
    EXPECT_TRUE(tile->state().checked);
    QTest::keyClick(host, Qt::Key_Escape);
    EXPECT_TRUE(dismissed());
}

// A standalone application is found in the desktop's applications menu.
TEST_F(InstallSheetTest, AnApplicationIsFoundInTheApplicationsMenu)
{
    Product app = plugin(u"standalone"_qs, u"1.0"_qs);
    Artifact artifact = app.release->artifacts->front();
    artifact.format = PluginFormat::app;
    artifact.bundle = u"Standalone.app"_qs;
    app.release->artifacts = std::vector<Artifact>{artifact};
    catalog.products.push_back(app);
    serve(catalog);
    ASSERT_NO_FATAL_FAILURE(open());
    Views::SheetView* host = present(Sheet::install(u"standalone"_qs));
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(tiles(host), QStringList{u"App on: Standalone, in your applications menu"_qs});
    EXPECT_EQ(labelText(host, u"installNote"_qs), u"Shows in your applications menu."_qs);
}

TEST_F(InstallSheetTest, InstallIsDisabledOnceNoChosenFormatIsOfferedAnyMore)
{
    Product echo = plugin(u"solo"_qs, u"1.0"_qs);
    catalog.products.push_back(echo);
    serve(catalog);
    ASSERT_NO_FATAL_FAILURE(open());
    Views::SheetView* host = present(Sheet::install(u"solo"_qs));
    ASSERT_NE(host, nullptr);
    // The user keeps only AU; the next release brings VST3 alone.
    clickCentre(child<FormatBox>(host, u"formatBox-au"_qs));
    clickCentre(child<FormatBox>(host, u"formatBox-vst3"_qs));
    Catalog live = catalog;
    live.products.back().release->artifacts->pop_back();
    ASSERT_NO_FATAL_FAILURE(refreshTo(live));
    EXPECT_EQ(tiles(host), QStringList{u"VST3 off: Ardour, Reaper, Bitwig, Qtractor, Carla, Waveform"_qs});
    EXPECT_FALSE(child<Kit::Pill>(host, u"installButton"_qs)->isEnabled());
    EXPECT_EQ(labelText(host, u"installNote"_qs), u"Installs just for you, no password needed."_qs);
    picture(host, u"sheet-install-nothing-offered"_qs);
    // Return presses nothing that is disabled.
    QTest::keyClick(host, Qt::Key_Return);
    EXPECT_NE(view->sheetView(), nullptr);
    EXPECT_FALSE(log->calls().join(u'\n').contains(u"install solo"_qs));
}

// ---- Feedback ------------------------------------------------------------------

TEST_F(SheetsTest, FeedbackShowsTheServiceAnswerInTheSheetAndCountsWhatTheServiceCounts)
{
    const QString full(kMaxFeedbackCharacters, u'a');
    const struct Row {
        const char* name;
        QString message;
        bool signOutFirst;
        std::optional<HubError> answer;
        QString counter;
        bool sendable;
        QString error; // after Send; empty: sent
    } table[] = {
        {"blank", u"  \n \n"_qs, false, {}, u"0 / 2000"_qs, false, {}},
        {"too-long", full + u'b', false, {}, u"2001 / 2000"_qs, false, {}},
        {"at-limit-with-blanks", u"\n  "_qs + full + u"  \n"_qs, false, {}, u"2000 / 2000"_qs, true, {}},
        {"emoji", u"é🎛️"_qs, false, {}, u"2 / 2000"_qs, true, {}},
        {"service", u"Hello"_qs, false, HubError::message(u"Keep it under 2,000 characters."_qs), u"5 / 2000"_qs,
         true, u"Keep it under 2,000 characters."_qs},
        // Signs the user out here, so the last row meets no session at all.
        {"unauthorized", u"Hello"_qs, false, HubError::api(u"unauthorized"_qs, u"Sign in again to continue."_qs),
         u"5 / 2000"_qs, true, u"Sign in again to continue."_qs},
        {"signed-out", u"Hello"_qs, true, {}, u"5 / 2000"_qs, true, u"Sign in to send feedback."_qs},
    };
    catalog.products[0].pageURL = u"https://tarnaudio.example/echo/beta"_qs;
    ASSERT_NO_FATAL_FAILURE(open());
    for (const Row& row : table) {
        SCOPED_TRACE(row.name);
        {
            const std::lock_guard lock(service->mutex);
            service->feedbackError = row.answer;
        }
        Views::SheetView* host = present(Sheet::feedback(u"echo"_qs));
        ASSERT_NE(host, nullptr);
        auto* sheet = qobject_cast<Views::FeedbackSheet*>(host->body());
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(titleOf(host)->detail(),
                  u"Goes to Tarnaudio with your name and version 1.0"_qs);
        if (&row == &table[0]) {
            picture(host, u"sheet-feedback-empty"_qs);
            clickCentre(child(host, u"betaPageButton"_qs));
            EXPECT_EQ(workspace->opened, QStringList{u"https://tarnaudio.example/echo/beta"_qs});
        }
        child<Kit::Segmented>(host, u"feedbackKind"_qs)->segment(1)->click();
        child<QPlainTextEdit>(host, u"feedbackEditor"_qs)->setPlainText(row.message);
        auto* counter = child<QLabel>(host, u"feedbackCounter"_qs);
        EXPECT_EQ(counter->text(), row.counter);
        EXPECT_EQ(counter->palette().color(QPalette::WindowText),
                  row.counter.startsWith(u"2001"_qs) ? Kit::Theme::bad() : Kit::Theme::dim());
        auto* send = child<Kit::Pill>(host, u"sendButton"_qs);
        EXPECT_EQ(send->isEnabled(), row.sendable);
        if (row.signOutFirst)
            model->signOut();
        if (row.sendable) {
            clickCentre(send);
            ASSERT_TRUE(eventually([&] { return !sheet->isSending(); }));
            if (row.error.isEmpty()) {
                EXPECT_TRUE(sheet->isSent());
                EXPECT_TRUE(child<QLabel>(host, u"thanksTitle"_qs)->isVisible());
            } else {
                EXPECT_EQ(labelText(host, u"feedbackError"_qs), row.error);
                EXPECT_TRUE(child<QLabel>(host, u"feedbackError"_qs)->isVisible());
                EXPECT_EQ(sheet->message(), row.message) << "the message stays for another try";
                EXPECT_TRUE(send->isEnabled());
            }
        }
        picture(host, u"sheet-feedback-"_qs + QString::fromLatin1(row.name));
        if (row.answer && row.answer->isUnauthorized()) {
            EXPECT_FALSE(model->session().has_value()) << "an unauthorized answer signs out here";
        }
        // Return closes the thank-you; Escape the form.
        QTest::keyClick(host, sheet->isSent() ? Qt::Key_Return : Qt::Key_Escape);
        EXPECT_TRUE(dismissed());
    }
    // The model hands the message over as typed; the service trims it.
    EXPECT_TRUE(log->calls().contains(u"feedback echo 1.0 bug \n  "_qs + full + u"  \n"_qs));
    EXPECT_TRUE(log->calls().contains(u"feedback echo 1.0 bug é🎛️"_qs));
}

TEST_F(SheetsTest, WhileASendRunsSendWaitsAndCancelStillClosesWithoutStoppingIt)
{
    ASSERT_NO_FATAL_FAILURE(open());
    auto held = std::make_shared<Gate>();
    service->feedbackGate = held;
    Views::SheetView* host = present(Sheet::feedback(u"notes"_qs));
    ASSERT_NE(host, nullptr);
    QTest::keyClicks(child<QPlainTextEdit>(host, u"feedbackEditor"_qs), u"Clicks at bypass"_qs);
    auto* send = child<Kit::Pill>(host, u"sendButton"_qs);
    clickCentre(send);
    ASSERT_TRUE(eventually([&] { return held->reached() == 1; }));
    EXPECT_TRUE(child(host, u"feedbackSpinner"_qs)->isVisible());
    EXPECT_FALSE(send->isEnabled());
    picture(host, u"sheet-feedback-sending"_qs);
    clickCentre(child(host, u"cancelButton"_qs));
    EXPECT_TRUE(dismissed());
    held->open();
    EXPECT_TRUE(logged(u"feedback notes 1.0 idea Clicks at bypass"_qs));
}

// ---- Keyboard and the host ---------------------------------------------------

TEST_F(SheetsTest, EscapeCancelReturnAndSpaceCloseOrPressThroughRealKeys)
{
    ASSERT_NO_FATAL_FAILURE(open());
    const struct Row {
        const char* name;
        Sheet sheet;
        const char* focus; // the button given the keyboard's focus; none: nothing focused
        Qt::Key key;
        QString request; // logged by the press; empty: nothing
    } table[] = {
        {"escape-install", Sheet::install(u"reverb"_qs), nullptr, Qt::Key_Escape, {}},
        {"escape-uninstall", Sheet::uninstall(u"echo"_qs), nullptr, Qt::Key_Escape, {}},
        {"escape-feedback", Sheet::feedback(u"echo"_qs), nullptr, Qt::Key_Escape, {}},
        {"space-cancel", Sheet::uninstall(u"echo"_qs), "cancelButton", Qt::Key_Space, {}},
        {"return-cancel", Sheet::install(u"reverb"_qs), "cancelButton", Qt::Key_Return, {}},
        {"return-default", Sheet::install(u"reverb"_qs), nullptr, Qt::Key_Return, u"install reverb vst3 user"_qs},
        {"space-uninstall", Sheet::uninstall(u"notes"_qs), "uninstallButton", Qt::Key_Space,
         u"uninstall notes vst3 user allUsers kept"_qs},
        {"not-found", Sheet::feedback(u"gone"_qs), "closeButton", Qt::Key_Return, {}},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.name);
        const qsizetype calls = log->calls().size();
        Views::SheetView* host = present(row.sheet);
        ASSERT_NE(host, nullptr);
        // It opens with no button focused: Space and Return mean nothing
        // but the default until Tab moves on.
        EXPECT_EQ(qobject_cast<QAbstractButton*>(QApplication::focusWidget()), nullptr);
        QWidget* target = host;
        if (row.focus) {
            // Tab moves the keyboard's focus, as a person would.
            target = child(host, QString::fromLatin1(row.focus));
            int presses = 0;
            do
                QTest::keyClick(host, Qt::Key_Tab);
            while (++presses < 12 && !target->hasFocus());
            ASSERT_TRUE(target->hasFocus());
        }
        QTest::keyClick(target, row.key);
        EXPECT_TRUE(dismissed());
        if (row.request.isEmpty())
            EXPECT_EQ(log->calls().size(), calls);
        else
            EXPECT_TRUE(logged(row.request)) << log->calls().join(u'\n').toStdString();
    }
}

// Tab follows reading order in every sheet, the buttons last, so the first
// Tab and a Space choose, never cancel; the feedback sheet opens typing.
TEST_F(SheetsTest, TabGoesInReadingOrderAndFeedbackOpensInItsEditor)
{
    catalog.products[0].pageURL = u"https://tarnaudio.example/echo/beta"_qs;
    Product both = plugin(u"both"_qs, u"1.0"_qs);
    both.settingsFolder = u"Tarn Audio/Both"_qs;
    catalog.products.push_back(both);
    installer->copies[u"both"_qs] = {copy(PluginFormat::vst3, u"1.0"_qs), copy(PluginFormat::au, u"1.0"_qs)};
    ASSERT_NO_FATAL_FAILURE(open());
    const struct Row {
        const char* name;
        Sheet sheet;
        QString opened; // what has the focus as the sheet opens
        QStringList tabs;
    } table[] = {
        {"install", Sheet::install(u"reverb"_qs), u"sheetView"_qs,
         {u"formatBox-vst3"_qs, u"formatBox-au"_qs, u"cancelButton"_qs, u"installButton"_qs}},
        {"uninstall", Sheet::uninstall(u"both"_qs), u"sheetView"_qs,
         {u"formatBox-vst3"_qs, u"formatBox-au"_qs, u"removeSettings"_qs, u"cancelButton"_qs, u"uninstallButton"_qs}},
        // Send is disabled until something is typed, so typed first; only
        // the chosen kind is a stop (arrows move within the kinds).
        {"feedback", Sheet::feedback(u"echo"_qs), u"feedbackEditor"_qs,
         {u"betaPageButton"_qs, u"cancelButton"_qs, u"sendButton"_qs, u"idea"_qs, u"feedbackEditor"_qs}},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.name);
        Views::SheetView* host = present(row.sheet);
        ASSERT_NE(host, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowActive(host, kPatience));
        EXPECT_EQ(focusName(), row.opened);
        if (row.sheet.kind == Sheet::Kind::feedback) {
            // Real keys reach the editor with no click first.
            QTest::keyClicks(QApplication::focusWidget(), u"Hi"_qs);
            EXPECT_EQ(qobject_cast<Views::FeedbackSheet*>(host->body())->message(), u"Hi"_qs);
        }
        QStringList walked;
        for (qsizetype i = 0; i < row.tabs.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            walked.append(focusName());
        }
        EXPECT_EQ(walked, row.tabs);
        if (row.sheet.kind == Sheet::Kind::install) {
            // Back to the first tile: Space there unticks it, the sheet stays.
            for (int i = 0; i < 5 && focusName() != u"formatBox-vst3"_qs; ++i)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
            EXPECT_EQ(view->sheetView(), host);
            EXPECT_EQ(qobject_cast<Views::InstallSheet*>(host->body())->chosen(), std::set<PluginFormat>{});
        }
        picture(host, u"sheet-keys-"_qs + QString::fromLatin1(row.name));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        ASSERT_TRUE(dismissed());
    }
}

// Each sheet is a dialog of the main window: titled with what it does,
// with only a close button, centred over the window, which is shaded under
// it whether or not a window manager draws anything; centred still after
// the feedback form gives way to the shorter thank-you.
TEST_F(SheetsTest, SheetsAreTitledDialogsCentredOverTheShadedWindow)
{
    ASSERT_NO_FATAL_FAILURE(open());
    window->move(40, 30);
    const QPoint middle = window->frameGeometry().center();
    const auto centred = [&](QWidget* host) {
        const QPoint at = host->frameGeometry().center();
        return std::abs(at.x() - middle.x()) <= 1 && std::abs(at.y() - middle.y()) <= 1;
    };
    // A point of the tab body well away from the sheet, as the window shows it.
    const auto shadeAt = [&] {
        return window->grab().toImage().pixelColor(window->width() - 8, window->height() - 8);
    };
    const QColor open = shadeAt();
    const struct Row {
        Sheet sheet;
        QString title;
    } table[] = {
        {Sheet::install(u"reverb"_qs), u"Install reverb"_qs},
        {Sheet::uninstall(u"echo"_qs), u"Uninstall echo"_qs},
        {Sheet::feedback(u"notes"_qs), u"Feedback on notes"_qs},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.title.toStdString());
        Views::SheetView* host = present(row.sheet);
        ASSERT_NE(host, nullptr);
        EXPECT_EQ(host->windowTitle(), row.title);
        EXPECT_EQ(host->windowModality(), Qt::WindowModal);
        EXPECT_EQ(host->parentWidget()->window(), window.get());
        const Qt::WindowFlags flags = host->windowFlags();
        EXPECT_TRUE(flags.testFlags(Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint));
        EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
        EXPECT_TRUE(centred(host)) << host->frameGeometry().center().x() << "," << host->frameGeometry().center().y();
        const QColor shaded = shadeAt();
        EXPECT_LT(shaded.lightness(), open.lightness()) << "the window is not shaded under the sheet";
        if (row.sheet.kind == Sheet::Kind::feedback) {
            QTest::keyClicks(QApplication::focusWidget(), u"Lovely"_qs);
            const int formHeight = host->height();
            clickCentre(child(host, u"sendButton"_qs));
            auto* sheet = qobject_cast<Views::FeedbackSheet*>(host->body());
            ASSERT_TRUE(eventually([&] { return sheet->isSent(); }));
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            ASSERT_TRUE(QTest::qWaitFor([&] { return host->height() == host->contentHeight(); }, kPatience));
            EXPECT_LT(host->height(), formHeight);
            EXPECT_TRUE(centred(host)) << "the thank-you hangs from the form's top edge";
        }
        saveScreenshot(window.get(), u"sheet-over-window-"_qs + row.title.section(u' ', 0, 0).toLower());
        QTest::keyClick(host, row.sheet.kind == Sheet::Kind::feedback ? Qt::Key_Return : Qt::Key_Escape);
        ASSERT_TRUE(dismissed());
        EXPECT_EQ(shadeAt(), open) << "the shade outlives the sheet";
    }
}

// A double click on Install opens the sheet as a click does, and the sheet
// keeps the keys though the second press lands on the window under it:
// X11 activates a window pressed while it is not the focus window, with or
// without a window manager (here the test asks for it as the platform does).
TEST_F(SheetsTest, ASheetOpenedByADoubleClickKeepsTheKeys)
{
    ASSERT_NO_FATAL_FAILURE(open());
    const struct Row {
        const char* name;
        std::function<QWidget*()> install;
    } table[] = {
        {"row", [&] { return child(find(u"row-reverb"_qs), u"rowAction"_qs); }},
        {"page",
         [&]() -> QWidget* {
             model->setPage(u"reverb"_qs);
             EXPECT_TRUE(eventually([&] { return window->findChild<QWidget*>(u"actionInstall"_qs) != nullptr; }));
             return find(u"actionInstall"_qs);
         }},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.name);
        QWidget* install = row.install();
        ASSERT_NE(install, nullptr);
        // Through the window, as the window system delivers a double click.
        QTest::mouseDClick(window->windowHandle(), Qt::LeftButton, {},
                           install->mapTo(window.get(), install->rect().center()));
        Views::SheetView* host = view->sheetView();
        ASSERT_NE(host, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowActive(host, kPatience));
        window->windowHandle()->requestActivate();
        EXPECT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == host->windowHandle(); }, kPatience))
            << "the window under the sheet kept the keys";
        // Keys as the window system delivers them: to the focus window.
        QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Tab);
        EXPECT_EQ(focusName(), u"formatBox-vst3"_qs);
        QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Space);
        EXPECT_EQ(qobject_cast<Views::InstallSheet*>(host->body())->chosen(), std::set<PluginFormat>{});
        QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Escape);
        EXPECT_TRUE(dismissed());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), kPatience));
    }
}

// The rule of every painted dialog: the button the keyboard moved to keeps
// Return after a click elsewhere in the sheet hides its ring, as Space does.
TEST_F(SheetsTest, ReturnPressesTheFocusedButtonAfterAClickHidesItsRing)
{
    ASSERT_NO_FATAL_FAILURE(open());
    const qsizetype calls = log->calls().size();
    Views::SheetView* host = present(Sheet::install(u"reverb"_qs));
    ASSERT_NE(host, nullptr);
    auto* cancel = child<Kit::Pill>(host, u"cancelButton"_qs);
    int presses = 0;
    do
        QTest::keyClick(host, Qt::Key_Tab);
    while (++presses < 12 && !cancel->hasFocus());
    ASSERT_TRUE(Kit::keyboardFocus(cancel));
    clickCentre(titleOf(host));
    EXPECT_FALSE(Kit::keyboardFocus(cancel));
    ASSERT_TRUE(cancel->hasFocus());
    QTest::keyClick(host, Qt::Key_Return);
    EXPECT_TRUE(dismissed());
    EXPECT_EQ(log->calls().size(), calls) << "Return installed instead of cancelling";
}

// The kinds of feedback are one named group of choices, not loose buttons.
TEST_F(SheetsTest, TheFeedbackKindsAreANamedGroup)
{
    ASSERT_NO_FATAL_FAILURE(open());
    Views::SheetView* host = present(Sheet::feedback(u"echo"_qs));
    ASSERT_NE(host, nullptr);
    QAccessibleInterface* kinds = spoken(child<Kit::Segmented>(host, u"feedbackKind"_qs));
    EXPECT_EQ(kinds->role(), QAccessible::Grouping);
    EXPECT_EQ(kinds->text(QAccessible::Name), u"Kind of feedback"_qs);
    ASSERT_EQ(kinds->childCount(), 4);
    EXPECT_EQ(kinds->child(0)->text(QAccessible::Name), u"idea"_qs);
    EXPECT_TRUE(kinds->child(0)->state().checked);
    QTest::keyClick(host, Qt::Key_Escape);
    EXPECT_TRUE(dismissed());
}

// Every kind of feedback is reached by keyboard: the arrows move along the
// kinds and choose, Tab leaves them and Shift+Tab comes back to the choice.
TEST_F(SheetsTest, TheArrowsChooseEachKindOfFeedbackAndTabComesBackToTheChoice)
{
    ASSERT_NO_FATAL_FAILURE(open());
    Views::SheetView* host = present(Sheet::feedback(u"echo"_qs));
    ASSERT_NE(host, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(host, kPatience));
    auto* sheet = qobject_cast<Views::FeedbackSheet*>(host->body());
    ASSERT_NE(sheet, nullptr);
    const auto key = [](Qt::Key k, Qt::KeyboardModifiers m = {}) { QTest::keyClick(QApplication::focusWidget(), k, m); };
    key(Qt::Key_Tab, Qt::ShiftModifier);
    ASSERT_EQ(focusName(), u"idea"_qs);
    const struct {
        Qt::Key key;
        FeedbackKind kind;
    } table[] = {
        {Qt::Key_Right, FeedbackKind::bug},      {Qt::Key_Down, FeedbackKind::love},
        {Qt::Key_Right, FeedbackKind::question}, {Qt::Key_Right, FeedbackKind::question},
        {Qt::Key_Left, FeedbackKind::love},      {Qt::Key_Up, FeedbackKind::bug},
    };
    for (const auto& row : table) {
        key(row.key);
        EXPECT_EQ(sheet->kind(), row.kind);
        EXPECT_EQ(focusName(), rawValue(row.kind));
    }
    picture(host, u"sheet-feedback-kind-keys"_qs);
    key(Qt::Key_Tab);
    EXPECT_EQ(focusName(), u"feedbackEditor"_qs);
    QTest::keyClicks(QApplication::focusWidget(), u"Crackles at 96 kHz"_qs);
    key(Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_EQ(focusName(), u"bug"_qs);
    key(Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_EQ(focusName(), u"sendButton"_qs) << "Shift+Tab stopped at a kind not chosen";
    key(Qt::Key_Space);
    EXPECT_TRUE(logged(u"feedback echo 1.0 bug Crackles at 96 kHz"_qs)) << log->calls().join(u'\n').toStdString();
    ASSERT_TRUE(eventually([&] { return sheet->isSent(); }));
    key(Qt::Key_Return);
    EXPECT_TRUE(dismissed());
}

// What a sheet answers is heard: the thanks with the focus on its Close,
// a refusal and the "not found" panel as one alert each.
TEST_F(SheetsTest, ASheetsOutcomeIsHeardOnce)
{
    ASSERT_NO_FATAL_FAILURE(open());
    AccessEvents events;
    // Read at once: one announcer per window says each sentence in turn.
    const auto alerts = [&] {
        QStringList said;
        for (const AccessEvents::Event& event : events.events())
            if (event.type == QAccessible::Alert)
                said.append(spoken(event.object)->text(QAccessible::Name));
        return said;
    };
    {
        const std::lock_guard lock(service->mutex);
        service->feedbackError = HubError::message(u"Keep it under 2,000 characters."_qs);
    }
    Views::SheetView* host = present(Sheet::feedback(u"echo"_qs));
    ASSERT_NE(host, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(host, kPatience));
    auto* sheet = qobject_cast<Views::FeedbackSheet*>(host->body());
    QTest::keyClicks(QApplication::focusWidget(), u"Hello"_qs);
    clickCentre(child(host, u"sendButton"_qs));
    ASSERT_TRUE(eventually([&] { return sheet->error().has_value(); }));
    EXPECT_EQ(alerts(), QStringList{u"Keep it under 2,000 characters."_qs});
    {
        const std::lock_guard lock(service->mutex);
        service->feedbackError.reset();
    }
    events.clear();
    clickCentre(child(host, u"sendButton"_qs));
    ASSERT_TRUE(eventually([&] { return sheet->isSent(); }));
    auto* close = child<Kit::Pill>(host, u"closeButton"_qs);
    EXPECT_TRUE(close->hasFocus());
    EXPECT_EQ(events.count(QAccessible::Focus, close), 1);
    EXPECT_EQ(spoken(close)->text(QAccessible::Description),
              u"thank you. It reaches Tarnaudio with your name and version."_qs);
    EXPECT_EQ(alerts(), QStringList()) << "the thanks is read with the focus, not cut short by it";
    QTest::keyClick(close, Qt::Key_Return);
    ASSERT_TRUE(dismissed());

    // Opened on a product that is gone: nothing focused says so.
    events.clear();
    host = present(Sheet::install(u"missing"_qs));
    ASSERT_NE(host, nullptr);
    const QString notFound = u"not found. This product isn't in the catalog any more."_qs;
    EXPECT_EQ(alerts(), QStringList{notFound});
    host->reject();
    EXPECT_TRUE(dismissed());
}

// What a screen reader walks, in the tree's order: the heading, its text,
// the tiles, then the buttons, as the sheet reads on screen.
TEST_F(SheetsTest, TheAccessibilityTreeReadsAsTheSheetDoes)
{
    installer->copies[u"echo"_qs] = {copy(PluginFormat::vst3, u"1.0"_qs), copy(PluginFormat::au, u"1.0"_qs)};
    ASSERT_NO_FATAL_FAILURE(open());
    // The leaves a screen reader reaches, depth first, as role and name.
    std::function<void(QAccessibleInterface*, QStringList&)> walk = [&](QAccessibleInterface* node, QStringList& out) {
        for (int i = 0; i < node->childCount(); ++i) {
            QAccessibleInterface* part = node->child(i);
            if (!part || part->state().invisible)
                continue;
            if (part->childCount() > 0 && part->role() != QAccessible::Grouping
                && part->role() != QAccessible::EditableText) {
                walk(part, out);
                continue;
            }
            const QString role = part->role() == QAccessible::Heading ? u"heading"_qs
                               : part->role() == QAccessible::CheckBox ? u"tile"_qs
                               : part->role() == QAccessible::Button   ? u"button"_qs
                                                                        : u"text"_qs;
            if (!part->text(QAccessible::Name).isEmpty())
                out.append(role + u' ' + part->text(QAccessible::Name));
        }
    };
    const struct Row {
        Sheet sheet;
        QStringList read;
    } table[] = {
        {Sheet::install(u"reverb"_qs),
         {u"heading install reverb"_qs, u"text x86-64, 1.0"_qs, u"tile VST3"_qs, u"tile AU"_qs,
          u"text Installs just for you, no password needed. Close your DAW first so it loads the new version."_qs,
          u"button Cancel"_qs, u"button Install"_qs}},
        {Sheet::uninstall(u"echo"_qs),
         {u"heading uninstall echo"_qs, u"text Installed 1.0"_qs, u"tile VST3"_qs, u"tile AU"_qs,
          u"text Everything goes to the Trash. Your system asks for your password once for the copies installed for all users."_qs,
          u"button Cancel"_qs, u"button Uninstall"_qs}},
        {Sheet::feedback(u"echo"_qs),
         {u"heading feedback, echo"_qs, u"text Goes to Tarnaudio with your name and version 1.0"_qs,
          u"text Kind of feedback"_qs, u"text Message"_qs, u"text 0 / 2000"_qs, u"button Cancel"_qs,
          u"button Send"_qs}},
        {Sheet::install(u"missing"_qs),
         {u"text not found"_qs, u"text This product isn't in the catalog any more."_qs, u"button Close"_qs}},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.read.first().toStdString());
        Views::SheetView* host = present(row.sheet);
        ASSERT_NE(host, nullptr);
        QStringList read;
        walk(spoken(host), read);
        read.removeAll(u"text "_qs + host->windowTitle());
        EXPECT_EQ(read, row.read);
        host->reject();
        ASSERT_TRUE(dismissed());
    }
}

// The keyboard's ring around the settings switch stays clear of its
// caption: nothing it draws falls on the caption's text.
TEST_F(SheetsTest, TheSettingsSwitchRingLeavesItsCaptionClear)
{
    Product both = plugin(u"both"_qs, u"1.0"_qs);
    both.settingsFolder = u"Tarn Audio/Both"_qs;
    catalog.products.push_back(both);
    installer->copies[u"both"_qs] = {copy(PluginFormat::vst3, u"1.0"_qs)};
    ASSERT_NO_FATAL_FAILURE(open());
    Views::SheetView* host = present(Sheet::uninstall(u"both"_qs));
    ASSERT_NE(host, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(host, kPatience));
    auto* settings = child<Kit::InkSwitch>(host, u"removeSettings"_qs);
    for (int i = 0; i < 6 && !settings->hasFocus(); ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_TRUE(Kit::keyboardFocus(settings));
    picture(host, u"sheet-uninstall-settings-focused"_qs);
    // The ring is what differs between the switch with and without it.
    const QImage ringed = settings->grab().toImage();
    clickCentre(titleOf(host));
    ASSERT_FALSE(Kit::keyboardFocus(settings));
    const QImage plain = settings->grab().toImage();
    ASSERT_EQ(ringed.size(), plain.size());
    auto* caption = child<QLabel>(host, u"settingsCaption"_qs);
    const QRect text = QRect(caption->mapTo(settings, QPoint(0, 0)), caption->size());
    int touched = 0;
    for (int y = text.top(); y <= text.bottom(); ++y)
        for (int x = text.left(); x <= text.right(); ++x)
            touched += ringed.pixel(x, y) != plain.pixel(x, y);
    EXPECT_EQ(touched, 0) << "the ring draws over the caption";
    int ring = 0;
    for (int y = 0; y < ringed.height(); ++y)
        for (int x = 0; x < ringed.width(); ++x)
            ring += ringed.pixel(x, y) != plain.pixel(x, y);
    EXPECT_GT(ring, 0) << "no ring at all";
    host->reject();
    EXPECT_TRUE(dismissed());
}

TEST_F(SheetsTest, AProductLeavingTheCatalogTurnsTheSheetIntoNotFoundAndLongTitlesShrinkOnOneLine)
{
    Product longName = plugin(u"long"_qs, u"1.0"_qs);
    longName.displayName = u"The Extraordinarily Long Name of a Reverb & Co <b>"_qs;
    catalog.products.push_back(longName);
    ASSERT_NO_FATAL_FAILURE(open());
    Views::SheetView* host = present(Sheet::install(u"long"_qs));
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(host->width(), Views::SheetView::kWidth);
    Views::SheetTitle* title = titleOf(host);
    EXPECT_EQ(title->title(), u"install The Extraordinarily Long Name of a Reverb & Co <b>"_qs);
    EXPECT_NEAR(title->titleSize(), 28 * 0.6, 0.01);
    picture(host, u"sheet-install-long-title"_qs);
    host->reject();
    ASSERT_TRUE(dismissed());

    host = present(Sheet::uninstall(u"missing"_qs));
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(labelText(host, u"notFoundTitle"_qs), u"not found"_qs);
    EXPECT_EQ(labelText(host, u"notFoundText"_qs), u"This product isn't in the catalog any more."_qs);
    EXPECT_EQ(host->windowTitle(), u"Not found"_qs) << "titled for the sheet it is not";
    picture(host, u"sheet-not-found"_qs);
    // Its one button is the default: Return with nothing focused closes it.
    EXPECT_EQ(qobject_cast<QAbstractButton*>(QApplication::focusWidget()), nullptr);
    QTest::keyClick(host, Qt::Key_Return);
    EXPECT_TRUE(dismissed());
}

} // namespace
} // namespace Hub::Test
