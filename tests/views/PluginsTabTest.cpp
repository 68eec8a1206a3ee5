#include "FrameTestSupport.h"

#include "Kit/Animation.h"
#include "Kit/Pill.h"
#include "Views/Common/RowList.h"
#include "Views/Frame/TabBody.h"
#include "Views/Page/JobLine.h"
#include "Views/Plugins/PluginsTab.h"
#include "Views/Plugins/ProductRow.h"
#include "Views/Settings/SettingsCard.h"

#include <QAccessible>
#include <QLabel>
#include <QPointer>
#include <QTextDocument>
#include <QToolTip>
#include <QWindow>

#include <gmock/gmock.h>

namespace Hub::Test {
namespace {

using Views::PluginsTab;
using Views::ProductRow;
using Views::RowList;

class PluginsTabTest : public FrameFixture {
protected:
    PluginsTab* tab() const { return find<PluginsTab>(u"pluginsBody"_qs); }
    QStringList ids(const QString& list) const { return find<RowList>(list)->ids(); }
    ProductRow* row(const QString& id) const { return find<ProductRow>(u"row-"_qs + id); }
    QString title(const QString& card) const
    {
        return child<QLabel>(find(card), u"cardTitle"_qs)->text();
    }
    // The window as a person sees it: once the lists' layouts have settled.
    void snapshot(const QString& name)
    {
        for (int i = 0; i < 4; ++i)
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        saveScreenshot(window.get(), name);
    }
    void press(QWidget* button)
    {
        ASSERT_NE(button, nullptr);
        ASSERT_FALSE(button->isHidden());
        clickCentre(button);
    }
};

// A product installed from the add card stays in that card, at its place,
// until the hold is released: 0.4 s after nothing acted on runs any more.
TEST_F(PluginsTabTest, AnInstalledProductKeepsItsPlaceUntilTheHoldIsReleased)
{
    catalog.products.push_back(plugin(u"plate"_qs, u"1.0"_qs));
    open();
    EXPECT_EQ(ids(u"onMacRows"_qs), (QStringList{u"echo"_qs, u"notes"_qs}));
    EXPECT_EQ(ids(u"addRows"_qs), (QStringList{u"reverb"_qs, u"tinted"_qs, u"plate"_qs}));
    EXPECT_EQ(title(u"onMacCard"_qs), u"On this computer · 2"_qs);
    EXPECT_EQ(title(u"addCard"_qs), u"Add to this computer · 3"_qs);
    EXPECT_TRUE(find(u"soonCard"_qs)->isHidden());
    snapshot(u"plugins-tab"_qs);

    // Install from the row: the sheet opens and the lists are held.
    auto gate = std::make_shared<Gate>();
    installer->gates[u"tinted"_qs] = gate;
    row(u"tinted"_qs)->actionButton()->setFocus(Qt::TabFocusReason);
    press(row(u"tinted"_qs)->actionButton());
    ASSERT_EQ(model->sheet(), Sheet::install(u"tinted"_qs));
    EXPECT_TRUE(tab()->holding());
    clock->advance(1.0);
    EXPECT_TRUE(tab()->holding()) << "the sheet is up";
    // What the install sheet does when the user confirms.
    model->setSheet(std::nullopt);
    model->requestInstall(*model->product(u"tinted"_qs), {PluginFormat::vst3}, InstallScope::user);
    ASSERT_TRUE(eventually([&] { return gate->reached() == 1; }));
    clock->advance(1.0);
    EXPECT_TRUE(tab()->holding()) << "the install runs";
    EXPECT_FALSE(row(u"tinted"_qs)->progress()->isHidden());
    // The keyboard stays on the product whose Install it pressed.
    EXPECT_EQ(window->focusWidget(), row(u"tinted"_qs));

    gate->open();
    ASSERT_TRUE(eventually([this] { return model->pluginSections().onMac.contains(u"tinted"_qs); }));
    ASSERT_TRUE(eventually([this] { return stateOf(u"tinted"_qs).job.kind == Job::Kind::done; }));
    EXPECT_EQ(ids(u"onMacRows"_qs), (QStringList{u"echo"_qs, u"notes"_qs}));
    EXPECT_EQ(ids(u"addRows"_qs), (QStringList{u"reverb"_qs, u"tinted"_qs, u"plate"_qs}))
        << "the installed product stays at its place while held";
    EXPECT_EQ(row(u"tinted"_qs)->contextText(), stateOf(u"tinted"_qs).job.message);
    snapshot(u"plugins-tab-held"_qs);

    clock->advance(0.39);
    EXPECT_TRUE(tab()->holding());
    // The release moves the row with the cards' short fade.
    Kit::Animation::setEnabled(true);
    clock->advance(0.01);
    Kit::Animation::setEnabled(false);
    EXPECT_FALSE(tab()->holding());
    ProductRow* leaving = find(u"addRows"_qs)->findChild<ProductRow*>(u"row-tinted"_qs);
    ASSERT_NE(leaving, nullptr) << "the row leaves the add card fading, not at once";
    EXPECT_NE(leaving->graphicsEffect(), nullptr);
    ASSERT_NE(row(u"tinted"_qs)->graphicsEffect(), nullptr) << "the moved row fades in";
    QTRY_VERIFY_WITH_TIMEOUT(row(u"tinted"_qs)->graphicsEffect() == nullptr, kPatience);
    EXPECT_EQ(ids(u"onMacRows"_qs), (QStringList{u"echo"_qs, u"notes"_qs, u"tinted"_qs}));
    EXPECT_EQ(ids(u"addRows"_qs), (QStringList{u"reverb"_qs, u"plate"_qs}));
    EXPECT_EQ(title(u"onMacCard"_qs), u"On this computer · 3"_qs);
    EXPECT_EQ(window->focusWidget(), row(u"tinted"_qs)) << "the focus went with the row that faded away";
    snapshot(u"plugins-tab-released"_qs);
}

// When the hold ends the rows move to their new places in the cards'
// short ease-out instead of jumping: an updated product goes from the top
// of the first card (updates first) to its end, and the other comes up.
TEST_F(PluginsTabTest, WhenTheHoldEndsAnUpdatedRowMovesToItsPlace)
{
    auto gate = std::make_shared<Gate>();
    installer->gates[u"echo"_qs] = gate;
    open();
    ASSERT_EQ(ids(u"onMacRows"_qs), (QStringList{u"echo"_qs, u"notes"_qs}));
    QPointer<ProductRow> echo = row(u"echo"_qs);
    QPointer<ProductRow> notes = row(u"notes"_qs);
    const int first = echo->y();
    const int second = notes->y();
    ASSERT_LT(first, second);

    press(echo->actionButton());
    ASSERT_TRUE(eventually([&] { return gate->reached() == 1; }));
    clock->advance(1.0);
    gate->open();
    ASSERT_TRUE(eventually([this] { return stateOf(u"echo"_qs).job.kind == Job::Kind::done; }));
    ASSERT_EQ(model->pluginSections().onMac, (QStringList{u"notes"_qs, u"echo"_qs}));
    clock->advance(0.39);
    ASSERT_TRUE(tab()->holding());

    AnimationsOn motion;
    clock->advance(0.01);
    ASSERT_FALSE(tab()->holding());
    EXPECT_EQ(ids(u"onMacRows"_qs), (QStringList{u"notes"_qs, u"echo"_qs}));
    EXPECT_EQ(row(u"echo"_qs), echo.data()) << "the row is moved, not made anew";
    EXPECT_EQ(echo->y(), first) << "the updated row jumped to its new place";
    EXPECT_EQ(notes->y(), second);
    ASSERT_TRUE(QTest::qWaitFor([&] { return echo->y() == second && notes->y() == first; }, kPatience));
    snapshot(u"plugins-tab-moved"_qs);
}

TEST_F(PluginsTabTest, UpdateAllShowsForTwoPendingAndWaitsForTheNetworkAndRunningJobs)
{
    installer->steps = {InstallStep::downloading(0.37)};
    open();
    auto* updateAll = find<Kit::Pill>(u"updateAll"_qs);
    EXPECT_FALSE(updateAll->isHidden());
    EXPECT_TRUE(updateAll->isEnabled());
    EXPECT_EQ(updateAll->text(), u"Update all"_qs);

    network->set(false);
    ASSERT_TRUE(eventually([this] { return model->offline(); }));
    EXPECT_FALSE(updateAll->isEnabled());
    EXPECT_EQ(updateAll->toolTip(), u"Needs internet"_qs);
    EXPECT_EQ(updateAll->text(), u"Update all"_qs);
    EXPECT_FALSE(find(u"offlineBanner"_qs)->isHidden());
    EXPECT_FALSE(row(u"echo"_qs)->actionButton()->isEnabled());
    snapshot(u"plugins-tab-offline"_qs);
    network->set(true);
    model->refresh(false);
    ASSERT_TRUE(eventually([this] { return !model->offline(); }));
    EXPECT_TRUE(updateAll->isEnabled());
    EXPECT_TRUE(find(u"offlineBanner"_qs)->isHidden());

    // Both pending products downloading: nothing left to start.
    auto echo = std::make_shared<Gate>();
    auto notes = std::make_shared<Gate>();
    installer->gates[u"echo"_qs] = echo;
    installer->gates[u"notes"_qs] = notes;
    press(row(u"echo"_qs)->actionButton());
    press(row(u"notes"_qs)->actionButton());
    // The installs report their step from their own threads: the rows
    // show it once the window has taken it.
    ASSERT_TRUE(eventually([&] {
        return echo->reached() == 1 && notes->reached() == 1 && row(u"echo"_qs)->progress()
            && row(u"echo"_qs)->progress()->value() == 0.37;
    }));
    EXPECT_TRUE(tab()->holding());
    EXPECT_FALSE(updateAll->isEnabled());
    // The gate is reached on the installer's thread; the tick it sent before
    // reaches the row through the event loop.
    EXPECT_TRUE(eventually([&] { return row(u"echo"_qs)->captionText() == u"downloading 37%"_qs; }))
        << row(u"echo"_qs)->captionText().toStdString();
    EXPECT_EQ(row(u"echo"_qs)->progress()->value(), 0.37);
    snapshot(u"plugins-tab-downloading"_qs);

    // One fails and is pending again: "Update all" comes back.
    {
        const std::lock_guard lock(installer->mutex);
        installer->failure = std::make_exception_ptr(HubError::message(u"The disk is full."_qs));
    }
    notes->open();
    ASSERT_TRUE(eventually([this] { return stateOf(u"notes"_qs).job.kind == Job::Kind::failed; }));
    EXPECT_TRUE(updateAll->isEnabled());
    EXPECT_FALSE(row(u"notes"_qs)->jobLine()->isHidden());
    EXPECT_EQ(row(u"notes"_qs)->contextText(), u"Failed: "_qs + stateOf(u"notes"_qs).job.message);
    // A screen reader hears how it ended, not only that it is pending.
    EXPECT_THAT(QAccessible::queryAccessibleInterface(row(u"notes"_qs))->text(QAccessible::Description).toStdString(),
                ::testing::HasSubstr("The disk is full."));
    echo->open();
    ASSERT_TRUE(eventually([this] { return !stateOf(u"echo"_qs).job.isWorking(); }));
    clock->advance(1.0);
    EXPECT_FALSE(tab()->holding());
}

TEST_F(PluginsTabTest, EmptyTextsAndTheLastCheckedNote)
{
    catalog.products = {plugin(u"reverb"_qs, u"1.0"_qs)};
    catalog.hub.reset();
    installer->copies.clear();
    open();
    auto* empty = find<QLabel>(u"pluginsEmpty"_qs);
    EXPECT_EQ(empty->text(), u"Nothing from Tarnaudio on this computer yet. Pick one below: two clicks and it's installed."_qs);
    EXPECT_EQ(empty->textFormat(), Qt::PlainText);
    snapshot(u"plugins-tab-nothing-installed"_qs);

    const struct {
        PluginSections fresh;
        std::optional<QString> text;
    } table[] = {
        {{{u"a"_qs}, {u"b"_qs}, {}}, std::nullopt},
        {{{}, {}, {}}, u"Nothing has been shared with this account yet."_qs},
        {{{}, {}, {u"c"_qs}}, std::nullopt},
    };
    for (const auto& row : table)
        EXPECT_EQ(PluginsTab::emptyText(*model, row.fresh), row.text);

    // Installed and nothing to update: the first card says when it checked.
    installer->copies[u"reverb"_qs] = {copy(PluginFormat::vst3, u"1.0"_qs)};
    model->refresh(false);
    ASSERT_TRUE(eventually([this] { return !find(u"onMacCard"_qs)->isHidden(); }));
    EXPECT_EQ(child<QLabel>(find(u"onMacCard"_qs), u"cardNote"_qs)->text(), u"All up to date. Checked at 3:04 AM."_qs);
    // Under C.UTF-8 too, an hour and a minute (its short style has seconds).
    QLocale::setDefault(QLocale::c());
    const std::optional<QString> note = PluginsTab::upToDate(*model);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(note, u"All up to date. Checked at 03:04."_qs);
    EXPECT_TRUE(empty->isHidden());
    snapshot(u"plugins-tab-up-to-date"_qs);
}

TEST_F(PluginsTabTest, NoCatalogAsksToConnect)
{
    catalog.products.clear();
    catalog.hub.reset();
    installer->copies.clear();
    open();
    EXPECT_EQ(find<QLabel>(u"pluginsEmpty"_qs)->text(),
              u"Couldn't reach Tarnaudio. Connect to the internet and press Ctrl+R."_qs);
    for (const QString& card : {u"onMacCard"_qs, u"addCard"_qs, u"soonCard"_qs})
        EXPECT_TRUE(find(card)->isHidden()) << card.toStdString();
    snapshot(u"plugins-tab-no-catalog"_qs);
}

// The row's action, caption and context for each kind of product; the
// catalog's texts are shown as they are, markup and "&" included.
TEST_F(PluginsTabTest, RowActionCaptionAndContextPerProductState)
{
    const QString markup = u"Warm & <b>wide</b> <a href=\"x\">hall</a>"_qs;
    catalog.products[0].release->notes = u"Faster start"_qs; // echo: update 1.0 → 2.0
    catalog.products[2].tagline = markup;                   // reverb: not installed
    catalog.products[2].displayName = u"Reverb & Co"_qs;
    Product free = plugin(u"free"_qs, u"1.0"_qs);
    free.status = u"free"_qs;
    Product page = plugin(u"page"_qs, u"1.0"_qs);
    page.release->artifacts.reset();
    page.pageURL = u"https://tarnaudio.example/page"_qs;
    Product bare = page;
    bare.id = u"bare"_qs;
    bare.name = u"Bare"_qs;
    bare.pageURL.reset();
    bare.tagline = u"The bare tagline"_qs;
    Product intel = plugin(u"intel"_qs, u"1.0"_qs);
    for (Artifact& artifact : *intel.release->artifacts)
        artifact.archs = QStringList{u"x86_64"_qs};
    Product longer = plugin(u"longer"_qs, u"1.0"_qs);
    longer.displayName = u"Tarn Grand Hall Reverb Extended Edition"_qs;
    longer.tagline = u"A hall that keeps its tail long and clear, with early reflections you can shape by hand "
                     "and a modulated tail that never rings, even at the longest settings it offers."_qs;
    catalog.products.insert(catalog.products.end(), {free, page, bare, intel, longer});
    installer->copies[u"tinted"_qs] = {copy(PluginFormat::vst3, u"1.0"_qs)};
    cpu = u"arm64"_qs;
    open();

    const struct {
        QString id;
        QString action; // empty: no button
        QString spokenAction;
        QString help;
        QString caption;
        QString context;
    } table[] = {
        {u"echo"_qs, u"Update"_qs, u"Update echo to 2.0"_qs, u"Update to 2.0"_qs, u"1.0 → 2.0"_qs, u"Faster start"_qs},
        {u"reverb"_qs, u"Install"_qs, u"Install Reverb & Co"_qs, {}, u"VST3 · AU"_qs, markup},
        {u"tinted"_qs, {}, {}, {}, u"installed 1.0"_qs, u"The tinted tagline"_qs},
        {u"free"_qs, u"Install"_qs, u"Install free"_qs, {}, u"free VST3 · AU"_qs, u"The free tagline"_qs},
        {u"page"_qs, u"Get ↗"_qs, u"Get page on tarnaudio.example"_qs, {}, u"VST3 · AU"_qs, u"The page tagline"_qs},
        {u"bare"_qs, {}, {}, {}, u"VST3 · AU"_qs, u"The bare tagline"_qs},
        {u"intel"_qs, {}, {}, {}, u"needs an x86-64 computer"_qs, u"needs an x86-64 computer"_qs},
        // Cut to two lines in the picture; whole in the help text.
        {u"longer"_qs, u"Install"_qs, u"Install Tarn Grand Hall Reverb Extended Edition"_qs, {}, u"VST3 · AU"_qs,
         longer.tagline},
    };
    for (const auto& r : table) {
        SCOPED_TRACE(r.id.toStdString());
        ProductRow* shown = row(r.id);
        ASSERT_NE(shown, nullptr);
        Kit::Pill* action = shown->actionButton();
        EXPECT_EQ(action && !action->isHidden() ? action->text() : QString(), r.action);
        if (!r.action.isEmpty()) {
            EXPECT_EQ(action->accessibleName(), r.spokenAction);
            EXPECT_EQ(action->toolTip(), r.help);
        }
        EXPECT_EQ(shown->captionText(), r.caption);
        EXPECT_EQ(shown->contextText(), r.context);
        EXPECT_EQ(shown->accessibleName(), model->spoken(*model->product(r.id)));
    }
    EXPECT_EQ(row(u"reverb"_qs)->accessibleName(), u"Reverb & Co, VST3, AU"_qs);
    EXPECT_EQ(row(u"echo"_qs)->accessibleName(), u"echo, update available, 1.0 to 2.0"_qs);
    QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(row(u"echo"_qs));
    ASSERT_NE(spoken, nullptr);
    // The context goes where AT-SPI reads it: a button's value it does not.
    EXPECT_EQ(spoken->text(QAccessible::Description), u"Faster start"_qs);
    EXPECT_EQ(spoken->text(QAccessible::Help), u"Opens its page"_qs);

    // Help texts: the context column's, shown literally; the badge's.
    const auto tipAt = [](QWidget* widget, QPoint at) {
        QHelpEvent help(QEvent::ToolTip, at, widget->mapToGlobal(at));
        QApplication::sendEvent(widget, &help);
        return QToolTip::text();
    };
    ProductRow* reverb = row(u"reverb"_qs);
    ASSERT_NE(reverb, nullptr);
    QTextDocument document;
    document.setHtml(tipAt(reverb, QPoint(reverb->width() / 2, reverb->height() / 2)));
    EXPECT_EQ(document.toPlainText(), markup);
    ProductRow* echo = row(u"echo"_qs);
    EXPECT_EQ(tipAt(echo, QPoint(40, echo->height() / 2)), u"Update available: 2.0"_qs);
    QToolTip::hideText();
    window->resize(1000, 980);
    snapshot(u"plugins-tab-row-states"_qs);

    // Presses: Get opens the product's page on the web; a click on the row
    // opens its page here; offline, Install waits while Get still works.
    press(row(u"page"_qs)->actionButton());
    EXPECT_EQ(workspace->opened, QStringList{u"https://tarnaudio.example/page"_qs});
    clickCentre(row(u"tinted"_qs));
    EXPECT_EQ(model->page(), u"tinted"_qs);
    model->setPage(std::nullopt);
    network->set(false);
    ASSERT_TRUE(eventually([this] { return model->offline(); }));
    EXPECT_FALSE(row(u"reverb"_qs)->actionButton()->isEnabled());
    EXPECT_EQ(row(u"reverb"_qs)->actionButton()->toolTip(), u"Needs internet"_qs);
    EXPECT_TRUE(row(u"page"_qs)->actionButton()->isEnabled());
}

// During a removal the row shows the small spinner; the other steps a full
// line; a hovered row lights up its ground and chevron.
TEST_F(PluginsTabTest, ProgressPerStepAndTheHoverLook)
{
    open();
    Views::TileProgress progress;
    const struct {
        Job job;
        std::optional<qreal> value;
    } table[] = {
        {Job::downloading(0.5), 0.5},
        {Job::verifying(), 1.0},
        {Job::waitingForRestart(), 1.0},
        {Job::removing(), std::nullopt},
    };
    for (const auto& r : table) {
        progress.setJob(r.job, Kit::Theme::ink());
        EXPECT_EQ(progress.value(), r.value);
    }

    ProductRow* echo = row(u"echo"_qs);
    const QImage before = echo->grab().toImage();
    QTest::mouseMove(echo, QPoint(echo->width() / 2, 6));
    ASSERT_TRUE(eventually([&] { return echo->hovered(); }));
    const QImage lit = echo->grab().toImage();
    EXPECT_EQ(lit.pixelColor(echo->width() / 2, 2), Kit::Theme::raised());
    EXPECT_NE(before.pixelColor(echo->width() / 2, 2), Kit::Theme::raised());
    EXPECT_NE(lit.pixelColor(0, 0), Kit::Theme::raised()) << "the card's first row keeps its rounded corner";
    saveScreenshot(find(u"onMacCard"_qs), u"product-row-hover"_qs);
}

// Tab reaches each row and then its action before the next row; Return on
// a row opens its page, Space on its action starts the update.
TEST_F(PluginsTabTest, TheKeyboardReachesEachRowThenItsAction)
{
    open();
    row(u"echo"_qs)->setFocus(Qt::TabFocusReason);
    QStringList walk;
    for (int i = 0; i < 8; ++i) {
        QWidget* focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr);
        walk.append(focused->objectName() == u"rowAction"_qs ? u"action of "_qs + focused->parentWidget()->objectName()
                                                            : focused->objectName());
        QTest::keyClick(focused, Qt::Key_Tab);
    }
    EXPECT_EQ(walk, (QStringList{u"row-echo"_qs, u"action of row-echo"_qs, u"row-notes"_qs, u"action of row-notes"_qs,
                                 u"row-reverb"_qs, u"action of row-reverb"_qs, u"row-tinted"_qs,
                                 u"action of row-tinted"_qs}));

    QTest::keyClick(row(u"notes"_qs), Qt::Key_Return);
    EXPECT_EQ(model->page(), u"notes"_qs);
    model->setPage(std::nullopt);
    row(u"echo"_qs)->actionButton()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(row(u"echo"_qs)->actionButton(), Qt::Key_Space);
    EXPECT_TRUE(tab()->holding());
    ASSERT_TRUE(eventually([this] { return log->calls().contains(u"install echo vst3 user"_qs); }));
    // Its button gone while the update works, the row holds the focus.
    ASSERT_TRUE(eventually([this] { return row(u"echo"_qs)->actionButton()->isHidden(); }));
    EXPECT_EQ(QApplication::focusWidget(), row(u"echo"_qs));
    // A tab that leaves the window drops its hold at once.
    tab()->hide();
    EXPECT_FALSE(tab()->holding());
}

// A double click on a row's Install, as the window system delivers it,
// with the sheet opening under the pointer: the first click opens the
// install sheet and the second, landing on its Cancel, must leave it up.
TEST_F(PluginsTabTest, TheSecondClickOfADoubleClickOnInstallLeavesItsSheetUp)
{
    open();
    Kit::Pill* install = row(u"tinted"_qs)->actionButton();
    ASSERT_EQ(install->text(), u"Install"_qs);
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, install->mapTo(window.get(), install->rect().center()));
    // QTest stamps each click half a second after the last, so that no two
    // make a double click by accident; this one means to.
    QTest::lastMouseTimestamp -= QTest::mouseDoubleClickInterval;
    ASSERT_EQ(model->sheet(), Sheet::install(u"tinted"_qs));
    QPointer<QWidget> sheet = QApplication::activeModalWidget();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet, kPatience));
    auto* cancel = child<QAbstractButton>(sheet.data(), u"cancelButton"_qs);
    ASSERT_NE(cancel, nullptr);
    const QPoint onCancel = cancel->mapTo(sheet, cancel->rect().center());
    // The double click's second press and release, a moment later, where
    // the sheet now lies.
    QTest::mousePress(sheet->windowHandle(), Qt::LeftButton, {}, onCancel);
    QTest::mouseRelease(sheet->windowHandle(), Qt::LeftButton, {}, onCancel);
    QCoreApplication::processEvents();
    EXPECT_EQ(model->sheet(), Sheet::install(u"tinted"_qs)) << "the second click closed the sheet";
    ASSERT_TRUE(sheet && sheet->isVisible());
    saveScreenshot(sheet, u"plugins-tab-install-after-double-click"_qs);

    // A click of its own still reaches Cancel.
    QTest::mouseClick(sheet->windowHandle(), Qt::LeftButton, {}, onCancel);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !model->sheet(); }, kPatience));
}

} // namespace
} // namespace Hub::Test
