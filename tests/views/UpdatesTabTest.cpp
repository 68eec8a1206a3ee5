#include "TabTestSupport.h"

#include "Kit/ElidedLabel.h"
#include "Kit/ExternalLink.h"
#include "Kit/Pill.h"
#include "Views/Common/RowList.h"
#include "Views/Frame/Notices.h"
#include "Views/Page/JobLine.h"
#include "Views/Plugins/PluginsTab.h"
#include "Views/Updates/UpdateRow.h"
#include "Views/Settings/SettingsTab.h"
#include "Views/Updates/UpdatesTab.h"

#include "Base/Config.h"

#include <QApplication>

#include <QLocale>

namespace Hub::Test {
namespace {

using Views::UpdatesTab;

// The fixture's catalog: echo and notes wait for an update, reverb is not
// installed, and Tarnhub itself has a newer release.
class UpdatesTabTest : public TabFixture {
protected:
    QWidget* row(const QString& id) const { return shown(u"updateRow-"_qs + id, false); }
    Kit::Pill* pillOf(const QString& id) const { return child<Kit::Pill>(row(id), u"updatePill"_qs); }
    Kit::Pill* updateAll() const { return child<Kit::Pill>(ground.get(), u"updateAll"_qs); }
    QString emptyText() const
    {
        auto* label = child<QLabel>(ground.get(), u"updatesEmpty"_qs);
        return label->isVisibleTo(ground.get()) ? label->text() : u"(list)"_qs;
    }
    bool working(const QString& id) const { return stateOf(id).job.isWorking(); }
};

TEST_F(UpdatesTabTest, UpdateAllFollowsTheNetworkAndTheRowsJobs)
{
    installer->gates[u"echo"_qs] = std::make_shared<Gate>();
    installer->gates[u"notes"_qs] = std::make_shared<Gate>();
    startModel();
    auto* tab = show<UpdatesTab>();
    EXPECT_EQ(tab->rows()->ids(), (QStringList{u"echo"_qs, u"notes"_qs}));
    EXPECT_EQ(emptyText(), u"(list)"_qs);
    EXPECT_FALSE(shown(u"offlineBanner"_qs, false));

    const struct {
        QString name;
        std::function<void()> step;
        QString title;
        bool enabled;
        bool echoPill;
    } table[] = {
        {u"online"_qs, [] {}, u"Update all"_qs, true, true},
        {u"offline"_qs,
         [&] {
             network->set(false);
             ASSERT_TRUE(eventually([&] { return model->offline(); }));
         },
         u"Needs internet"_qs, false, false},
        {u"one-working"_qs,
         [&] {
             network->set(true);
             ASSERT_TRUE(eventually([&] { return !model->offline() && !model->loading(); }));
             clickCentre(pillOf(u"echo"_qs));
             ASSERT_TRUE(eventually([&] { return installer->gates[u"echo"_qs]->reached() > 0; }));
         },
         u"Update all"_qs, true, false},
        {u"both-working"_qs,
         [&] {
             clickCentre(pillOf(u"notes"_qs));
             ASSERT_TRUE(eventually([&] { return installer->gates[u"notes"_qs]->reached() > 0; }));
         },
         u"Update all"_qs, false, false},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name.toStdString());
        row.step();
        EXPECT_TRUE(updateAll()->isVisibleTo(ground.get()));
        EXPECT_EQ(updateAll()->text(), row.title);
        EXPECT_EQ(updateAll()->isEnabled(), row.enabled);
        EXPECT_EQ(pillOf(u"echo"_qs)->isEnabled(), row.echoPill);
        EXPECT_EQ(shown(u"offlineBanner"_qs, false) != nullptr, row.name == u"offline"_qs);
        picture(u"updates-"_qs + row.name);
    }
    // Each row's pill asked for its own update, with the installed formats
    // and the chosen scope; its job line shows while the update runs.
    const QStringList calls = log->calls();
    EXPECT_TRUE(calls.contains(u"install echo vst3 user"_qs)) << calls.join(u'\n').toStdString();
    EXPECT_TRUE(calls.contains(u"install notes vst3 user"_qs));
    EXPECT_TRUE(child<Views::JobLine>(row(u"echo"_qs), u"updateJob"_qs)->isVisibleTo(ground.get()));

    installer->gates[u"echo"_qs]->open();
    installer->gates[u"notes"_qs]->open();
    ASSERT_TRUE(eventually([&] { return !working(u"echo"_qs) && !working(u"notes"_qs); }));
    ASSERT_TRUE(eventually([&] { return tab->rows()->ids().isEmpty(); }));
    EXPECT_EQ(emptyText(), u"All plugins are up to date."_qs);
    EXPECT_FALSE(updateAll()->isVisibleTo(ground.get()));
    picture(u"updates-all-done"_qs);
}

// One after another, in the order of the pending list (the catalog's),
// which here is neither alphabetical nor its reverse.
TEST_F(UpdatesTabTest, UpdateAllUpdatesEveryRowInTheListsOrder)
{
    catalog.products.insert(catalog.products.begin(), plugin(u"zed"_qs, u"3.0"_qs));
    installer->copies[u"zed"_qs] = {copy(PluginFormat::vst3, u"1.0"_qs)};
    startModel();
    show<UpdatesTab>();
    clickCentre(updateAll());
    ASSERT_TRUE(eventually([&] { return model->updates().empty() && !model->busy(); }));
    QStringList installs;
    for (const QString& call : log->calls())
        if (call.startsWith(u"install "_qs))
            installs.append(call);
    EXPECT_EQ(installs, (QStringList{u"install zed vst3 user"_qs, u"install echo vst3 user"_qs,
                                     u"install notes vst3 user"_qs}));
}

// "Update all" in both tabs: only for two or more pending updates, and
// pressable while at least one of them is not running, whatever step a
// running one is at.
TEST_F(UpdatesTabTest, UpdateAllNeedsTwoPendingAndOneNotRunning)
{
    const struct Row {
        const char* name;
        InstallStep step;
    } table[] = {
        {"downloading", InstallStep::downloading(0.4)},
        {"verifying", InstallStep::verifying()},
        {"installing", InstallStep::installing()},
        {"registering", InstallStep::registering()},
    };
    for (bool plugins : {true, false}) {
        for (const Row& row : table) {
            const QString name = (plugins ? u"plugins-"_qs : u"updates-"_qs) + QString::fromLatin1(row.name);
            SCOPED_TRACE(name.toStdString());
            installer->copies[u"echo"_qs] = {copy(PluginFormat::vst3, u"1.0"_qs)};
            installer->copies[u"notes"_qs] = {copy(PluginFormat::vst3, u"1.0"_qs)};
            installer->steps = {row.step};
            installer->gates[u"echo"_qs] = std::make_shared<Gate>();
            installer->gates[u"notes"_qs] = std::make_shared<Gate>();
            if (model)
                ASSERT_NO_FATAL_FAILURE(restart());
            else
                ASSERT_NO_FATAL_FAILURE(startModel());
            if (plugins)
                show<Views::PluginsTab>();
            else
                show<UpdatesTab>();
            EXPECT_TRUE(updateAll()->isVisibleTo(ground.get()));
            EXPECT_TRUE(updateAll()->isEnabled());
            // One held at the step: the other can still start.
            for (const QString& id : {u"echo"_qs, u"notes"_qs}) {
                const Product& product = *model->product(id);
                model->requestInstall(product, {PluginFormat::vst3}, InstallScope::user);
                ASSERT_TRUE(eventually([&] {
                    return installer->gates[id]->reached() == 1 && stateOf(id).job.kind == Job::from(row.step).kind;
                }));
                QCoreApplication::processEvents();
                EXPECT_EQ(updateAll()->isEnabled(), id == u"echo"_qs) << id.toStdString();
            }
            picture(u"update-all-held-"_qs + name);
            installer->gates[u"echo"_qs]->open();
            installer->gates[u"notes"_qs]->open();
            ASSERT_TRUE(eventually([&] { return !working(u"echo"_qs) && !working(u"notes"_qs); }));
        }
    }
    // One pending: no "Update all" in either tab.
    installer->copies[u"echo"_qs] = {copy(PluginFormat::vst3, u"1.0"_qs)};
    installer->copies[u"notes"_qs] = {copy(PluginFormat::vst3, u"1.1"_qs)};
    installer->gates.clear();
    ASSERT_NO_FATAL_FAILURE(restart());
    ASSERT_EQ(model->updates().size(), 1);
    show<Views::PluginsTab>();
    EXPECT_FALSE(updateAll()->isVisibleTo(ground.get()));
    show<UpdatesTab>();
    EXPECT_FALSE(updateAll()->isVisibleTo(ground.get()));
}

TEST_F(UpdatesTabTest, EmptyTextsAndThePillNeedTwoUpdates)
{
    const struct {
        QString name;
        QStringList installed;
        bool hubUpdate; // shown; the catalog has one unless the row is "nothing"
        QString empty;
        bool pill;
        bool selfUpdates = true;
    } table[] = {
        {u"one-update"_qs, {u"echo"_qs}, true, u"(list)"_qs, false},
        {u"app-update-only"_qs, {}, true, u"All plugins are up to date."_qs, false},
        // A distribution's package is updated by the system.
        {u"packaged"_qs, {}, false, u"Everything is up to date."_qs, false, false},
        {u"nothing"_qs, {}, false, u"Everything is up to date."_qs, false},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name.toStdString());
        selfUpdates = row.selfUpdates;
        installer->copies.clear();
        for (const QString& id : row.installed)
            installer->copies[id] = {copy(PluginFormat::vst3, u"1.0"_qs)};
        if (row.name == u"nothing"_qs)
            catalog.hub->version = Config::hubVersion();
        if (model)
            ASSERT_NO_FATAL_FAILURE(restart());
        else
            ASSERT_NO_FATAL_FAILURE(startModel());
        show<UpdatesTab>();
        EXPECT_EQ(emptyText(), row.empty);
        EXPECT_EQ(updateAll()->isVisibleTo(ground.get()), row.pill);
        // The application's own bar shows exactly when it has an update.
        EXPECT_EQ(shown(u"hubUpdateBar"_qs, false) != nullptr, row.hubUpdate);
        picture(u"updates-"_qs + row.name);
        // The settings' version line says where updates come from instead.
        show<Views::SettingsTab>();
        EXPECT_EQ(texts(ground.get(), u"hubVersion"_qs),
                  QStringList{u"Tarnhub "_qs + Config::hubVersion()
                              + (row.selfUpdates ? QString() : u" · Updates come from your system's packages."_qs)});
        if (!row.selfUpdates)
            picture(u"settings-packaged"_qs);
    }
}

TEST_F(UpdatesTabTest, CheckButtonTitleAndItsWaitWhileLoading)
{
    const QDateTime at(QDate(2030, 1, 2), QTime(14, 5), Qt::UTC);
    const struct {
        bool loading;
        std::optional<QDateTime> checked;
        bool offline;
        QString title;
    } table[] = {
        {true, at, true, u"checking"_qs},
        {false, at, true, u"checked "_qs + QLocale().toString(QTime(14, 5), QLocale::ShortFormat) + u" · check now"_qs},
        {false, std::nullopt, true, u"offline · check now"_qs},
        {false, std::nullopt, false, u"check now"_qs},
    };
    for (const auto& row : table)
        EXPECT_EQ(UpdatesTab::checkTitle(row.loading, row.checked, row.offline), row.title);

    // A bare hour and minute in every locale; C.UTF-8's short style alone
    // would add the seconds.
    const QDateTime late(QDate(2030, 1, 2), QTime(21, 19, 34), Qt::UTC);
    const struct {
        QLocale locale;
        QString title;
    } clocks[] = {
        {QLocale::c(), u"checked 21:19 · check now"_qs},
        {QLocale(QLocale::English, QLocale::UnitedStates), u"checked 9:19 PM · check now"_qs},
    };
    for (const auto& clock : clocks) {
        QLocale::setDefault(clock.locale);
        QString title = UpdatesTab::checkTitle(false, late, false);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        // Newer locale data puts a narrow space before "PM".
        EXPECT_EQ(title.replace(QChar(0x202f), u' '), clock.title) << clock.locale.name().toStdString();
    }

    startModel();
    show<UpdatesTab>();
    auto* check = child<QAbstractButton>(ground.get(), u"checkButton"_qs);
    EXPECT_TRUE(check->text().startsWith(u"checked "_qs));
    EXPECT_TRUE(check->isEnabled());
    EXPECT_EQ(check->toolTip(), u"Check for updates (Ctrl+R)"_qs);
    EXPECT_FALSE(shown(u"checkSpinner"_qs, false));

    service->accountGate = std::make_shared<Gate>();
    clickCentre(check);
    ASSERT_TRUE(eventually([&] { return service->accountGate->reached() > 0; }));
    EXPECT_EQ(check->text(), u"checking"_qs);
    EXPECT_FALSE(check->isEnabled());
    EXPECT_TRUE(shown(u"checkSpinner"_qs, false));
    picture(u"updates-checking"_qs);
    service->accountGate->open();
    ASSERT_TRUE(eventually([&] { return !model->loading(); }));
    EXPECT_TRUE(check->isEnabled());
    EXPECT_TRUE(check->text().endsWith(u" · check now"_qs));

    auto* link = child<Kit::ExternalLink>(ground.get(), u"changelogLink"_qs);
    EXPECT_EQ(link->text(), Config::site().host() + u"/changelog ↗"_qs);
    clickCentre(link);
    EXPECT_EQ(workspace->opened.value(workspace->opened.size() - 1), Config::site().toString() + u"/changelog"_qs);
}

TEST_F(UpdatesTabTest, RowShowsNameVersionsAndOneNoteOfTwoLinesAtMost)
{
    Product& echo = catalog.products[0];
    echo.displayName = u"Echo & <b>Co</b>"_qs;
    echo.release->notes = u"The release's own note"_qs;
    echo.releases = std::vector<ReleaseNote>{{u"2.0"_qs, std::nullopt, {}}};
    Product& notes = catalog.products[1];
    // An update cut short between formats: the VST3 is already the release.
    installer->copies[u"notes"_qs] = {copy(PluginFormat::vst3, u"1.1"_qs), copy(PluginFormat::au, u"1.0"_qs)};
    notes.releases = std::vector<ReleaseNote>{
        {u"1.1"_qs, std::nullopt,
         {u"A first line long enough to need more than two lines in the row, since it keeps going and going "
          u"about every change of the release, the fixes, the sounds and the presets, and then some more."_qs,
          u"Second"_qs}}};
    startModel();
    show<UpdatesTab>(720);

    const struct {
        QString id;
        QString name;
        QString versions;
        QString note;
    } table[] = {
        {u"echo"_qs, u"Echo & <b>Co</b>"_qs, u"1.0 → 2.0"_qs, u"The release's own note"_qs},
        {u"notes"_qs, u"notes"_qs, u"1.0 → 1.1"_qs, notes.releases->front().notes.front()},
    };
    for (const auto& r : table) {
        SCOPED_TRACE(r.id.toStdString());
        QWidget* line = row(r.id);
        auto* name = child<Kit::ElidedLabel>(line, u"updateName"_qs);
        EXPECT_EQ(name->text(), r.name);
        EXPECT_EQ(name->textFormat(), Qt::PlainText);
        EXPECT_EQ(child<QLabel>(line, u"updateVersions"_qs)->text(), r.versions);
        auto* note = child<Views::ClampedText>(line, u"updateNote"_qs);
        EXPECT_EQ(note->text(), r.note);
        const QStringList drawn = note->shownLines(note->width());
        EXPECT_LE(drawn.size(), 2);
        EXPECT_EQ(note->height(), note->heightForWidth(note->width()));
    }
    auto* long_ = child<Views::ClampedText>(row(u"notes"_qs), u"updateNote"_qs);
    EXPECT_EQ(long_->shownLines(long_->width()).size(), 2);
    EXPECT_TRUE(long_->shownLines(long_->width()).back().endsWith(u"…"_qs));
    picture(u"updates-rows"_qs);

    // Tab reads each row, then its pill, then the next row; the mark is a
    // picture Tab skips, and Return on the row opens the page it opens.
    ground->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(ground.get(), kPatience));
    const QImage plain = row(u"notes"_qs)->grab().toImage();
    QImage ringed;
    row(u"echo"_qs)->setFocus(Qt::TabFocusReason);
    const QList<QWidget*> order{pillOf(u"echo"_qs), row(u"notes"_qs), pillOf(u"notes"_qs),
                                child(ground.get(), u"changelogLink"_qs)};
    for (QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
        if (next == row(u"notes"_qs)) {
            ringed = next->grab().toImage();
            saveScreenshot(next, u"updates-row-focused"_qs);
        }
    }
    EXPECT_NE(ringed, plain) << "the row Tab reached shows no focus ring";
    row(u"notes"_qs)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(model->page(), std::optional<QString>(u"notes"_qs));
    model->setPage(std::nullopt);

    clickCentre(child(row(u"echo"_qs), u"updateMark"_qs));
    EXPECT_EQ(model->page(), std::optional<QString>(u"echo"_qs));
    // The click leaves the focused row without its ring.
    EXPECT_EQ(row(u"notes"_qs)->grab().toImage(), plain);
}

TEST_F(UpdatesTabTest, OldCopiesForAllUsersShowTheirJobUnlessTheRowDoes)
{
    // echo: an old copy for all users and an update (its row carries the
    // job); reverb: an old copy for all users beside the user's own copy of
    // the current version, so no update.
    installer->copies[u"echo"_qs] = {copy(PluginFormat::vst3, u"1.0"_qs),
                                     copy(PluginFormat::vst3, u"0.9"_qs, InstallScope::allUsers)};
    installer->copies[u"reverb"_qs] = {copy(PluginFormat::vst3, u"1.0"_qs),
                                       copy(PluginFormat::vst3, u"0.8"_qs, InstallScope::allUsers)};
    installer->failure = std::make_exception_ptr(HubError::message(u"The password was not given."_qs));
    startModel();
    show<UpdatesTab>();
    EXPECT_TRUE(shown(u"legacy-echo"_qs, false));
    EXPECT_TRUE(shown(u"legacy-reverb"_qs, false));

    // A failed removal shows under the notice of a product without update.
    model->requestRemoveLegacy(*model->product(u"reverb"_qs));
    ASSERT_TRUE(eventually([&] { return stateOf(u"reverb"_qs).job.kind == Job::Kind::failed; }));
    auto* job = child<Views::JobLine>(shown(u"legacy-reverb"_qs), u"legacyJob"_qs);
    EXPECT_TRUE(job->isVisibleTo(ground.get()));
    EXPECT_EQ(job->job().kind, Job::Kind::failed);

    // The same for echo goes to its row, not under its notice.
    model->requestRemoveLegacy(*model->product(u"echo"_qs));
    ASSERT_TRUE(eventually([&] { return stateOf(u"echo"_qs).job.kind == Job::Kind::failed; }));
    EXPECT_FALSE(child<Views::JobLine>(shown(u"legacy-echo"_qs), u"legacyJob"_qs)->isVisibleTo(ground.get()));
    EXPECT_TRUE(child<Views::JobLine>(row(u"echo"_qs), u"updateJob"_qs)->isVisibleTo(ground.get()));
    picture(u"updates-old-copies"_qs);
}

} // namespace
} // namespace Hub::Test
