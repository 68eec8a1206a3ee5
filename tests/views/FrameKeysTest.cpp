// The frame by keyboard and by screen reader: reading order, the account
// menu, tab announcements, focus rings, the top bar on a Linux desktop and
// the DAW question's list of names in every locale.
#include "FrameTestSupport.h"

#include "Views/Frame/AccountMenu.h"
#include "Views/Frame/TopBar.h"

#include "Kit/Control.h"

#include "QStringPrinter.h"

#include <QAccessible>
#include <QApplication>

#include <clocale>
#include <functional>

using namespace Qt::StringLiterals;

namespace Hub::Test {
namespace {

using Views::TabButton;

class FrameKeys : public FrameFixture {
protected:
    QString focused() const
    {
        QWidget* f = QApplication::focusWidget();
        return f ? f->objectName() : u"<none>"_s;
    }

    // The names focus passes through on `presses` presses of Tab (or
    // Shift+Tab).
    QStringList walk(int presses, bool back = false)
    {
        QStringList names;
        for (int i = 0; i < presses; ++i) {
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window.get(),
                            back ? Qt::Key_Backtab : Qt::Key_Tab, back ? Qt::ShiftModifier : Qt::NoModifier);
            names.append(focused());
            EXPECT_FALSE(QApplication::focusWidget() == view->tabBody()) << "an invisible stop on the tab body";
        }
        return names;
    }
};

// Wordmark, tabs, account button, then into the tab body: never the tab
// body itself, never what lies under an open page.
TEST_F(FrameKeys, TabFollowsTheScreensReadingOrder)
{
    catalog.hubReleases = std::vector<ReleaseNote>{{u"9.0"_s, std::nullopt, {u"Faster start"_s}}};
    open();
    view->topBar()->wordmark()->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(walk(4), (QStringList{u"pluginsTab"_s, u"updatesTab"_s, u"settingsTab"_s, u"accountButton"_s}));
    EXPECT_EQ(walk(4, true), (QStringList{u"settingsTab"_s, u"updatesTab"_s, u"pluginsTab"_s, u"wordmark"_s}));
    saveScreenshot(window.get(), u"frame-keys-wordmark-focused"_s);

    // On into the plug-ins tab: the update bar above the heading first,
    // then the heading's own controls, then the first row.
    ASSERT_NE(model->hubUpdate(), std::nullopt);
    ASSERT_GE(model->updates().size(), 2);
    view->topBar()->accountButton()->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(walk(5), (QStringList{u"hubWhatsNew"_s, u"hubUpdateButton"_s, u"updateAll"_s, u"refreshButton"_s,
                                    u"row-echo"_s}));
    EXPECT_EQ(walk(4, true), (QStringList{u"refreshButton"_s, u"updateAll"_s, u"hubUpdateButton"_s, u"hubWhatsNew"_s}));
    // A screen reader's tree reads in the same order: the bar, then the heading.
    QStringList tree;
    const std::function<void(QAccessibleInterface*)> read = [&](QAccessibleInterface* node) {
        for (int i = 0; i < node->childCount(); ++i)
            if (QAccessibleInterface* part = node->child(i)) {
                tree.append(part->object() ? part->object()->objectName() : QString());
                read(part);
            }
    };
    read(QAccessible::queryAccessibleInterface(view->tabBody()));
    ASSERT_TRUE(tree.contains(u"hubWhatsNew"_s) && tree.contains(u"updateAll"_s));
    EXPECT_LT(tree.indexOf(u"hubWhatsNew"_s), tree.indexOf(u"updateAll"_s));

    // With a page open, Tab leaves the top bar for the page, not for the
    // tab under it.
    model->setPage(u"echo"_s);
    EXPECT_FALSE(view->tabBody()->isVisible());
    view->topBar()->accountButton()->setFocus(Qt::OtherFocusReason);
    for (const QString& name : walk(12))
        EXPECT_FALSE(view->tabBody()->isAncestorOf(view->findChild<QWidget*>(name))) << name.toStdString();
    model->setPage(std::nullopt);
    EXPECT_TRUE(view->tabBody()->isVisible());
}

// The "↗" that shows a web page or mail is for the eyes: screen readers
// hear the title without it, in every tab.
TEST_F(FrameKeys, LinksAreSpokenWithoutTheirArrow)
{
    open();
    const struct Row {
        Tab tab;
        QString name;
        QString shown;
        QString spoken;
    } table[] = {
        {Tab::settings, u"manageAccount"_s, u"Manage ↗"_s, u"Manage"_s},
        {Tab::settings, u"releaseNotesLink"_s, u"Release notes ↗"_s, u"Release notes"_s},
        {Tab::settings, u"supportLink"_s, u"Email support ↗"_s, u"Email support"_s},
        {Tab::updates, u"changelogLink"_s, u"tarnaudio.example/changelog ↗"_s, u"tarnaudio.example/changelog"_s},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.name.toStdString());
        model->setTab(row.tab);
        auto* link = view->tabBody()->content()->findChild<QAbstractButton*>(row.name);
        ASSERT_NE(link, nullptr);
        EXPECT_EQ(link->text(), row.shown);
        EXPECT_EQ(QAccessible::queryAccessibleInterface(link)->text(QAccessible::Name), row.spoken);
    }
}

// Opening the menu moves the focus into it; Tab and the arrows go round its
// rows; Escape closes it and gives the focus back to the account button;
// keys never reach the tab under the menu.
TEST_F(FrameKeys, TheAccountMenuTakesTheKeysWhileOpen)
{
    open();
    AccessEvents events;
    auto* account = view->topBar()->accountButton();
    view->topBar()->tabs()->button(Tab::settings)->setFocus(Qt::TabFocusReason);
    account->setFocus(Qt::TabFocusReason);
    QAccessibleInterface* button = spoken(account);
    EXPECT_TRUE(button->state().hasPopup) << "the button does not say it opens a menu";
    EXPECT_FALSE(button->state().expanded);

    QTest::keyClick(account, Qt::Key_Space);
    ASSERT_TRUE(model->accountMenu());
    EXPECT_EQ(focused(), u"accountPageRow"_s);
    EXPECT_TRUE(button->state().expanded);
    auto* menu = find<Views::AccountMenu>(u"accountMenu"_s);
    QAccessibleInterface* panel = spoken(menu);
    EXPECT_EQ(panel->role(), QAccessible::PopupMenu);
    EXPECT_EQ(panel->text(QAccessible::Name), u"Account"_s);
    QAccessibleInterface* row = spoken(find(u"accountPageRow"_s));
    EXPECT_EQ(row->role(), QAccessible::MenuItem);
    EXPECT_EQ(row->text(QAccessible::Name), u"Account on tarnaudio.example"_s) << "the arrow is read aloud";
    EXPECT_GE(events.count(QAccessible::Focus, find(u"accountPageRow"_s)), 1);
    saveScreenshot(window.get(), u"frame-keys-menu-focused"_s);

    EXPECT_EQ(walk(3), (QStringList{u"signOutRow"_s, u"accountPageRow"_s, u"signOutRow"_s}));
    EXPECT_EQ(walk(1, true), (QStringList{u"accountPageRow"_s}));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_EQ(focused(), u"signOutRow"_s);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    EXPECT_EQ(focused(), u"accountPageRow"_s);

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_FALSE(model->accountMenu());
    EXPECT_EQ(focused(), u"accountButton"_s);
    EXPECT_EQ(model->tab(), Tab::plugins) << "a key reached a tab under the menu";

    // Opened with the mouse, the menu still has the keys: Space presses its
    // row, not the tab that had the focus.
    view->topBar()->tabs()->button(Tab::settings)->setFocus(Qt::TabFocusReason);
    QTest::mouseClick(account, Qt::LeftButton, {}, account->rect().center());
    ASSERT_TRUE(model->accountMenu());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_EQ(model->tab(), Tab::plugins);
    EXPECT_TRUE(eventually([&] { return workspace->opened.size() == 1; })) << "Space did not press the focused row";
    EXPECT_FALSE(model->accountMenu());
}

// Changing tabs is announced as a selection change in a page-tab list, and
// a click leaves one ring at most in the strip.
TEST_F(FrameKeys, ChangingTabsIsAnnouncedAndLeavesOneRing)
{
    open();
    AccessEvents events;
    Views::Tabs* tabs = view->topBar()->tabs();
    QAccessibleInterface* strip = spoken(tabs);
    EXPECT_EQ(strip->role(), QAccessible::PageTabList);
    EXPECT_EQ(strip->childCount(), 3);

    TabButton* plugins = tabs->button(Tab::plugins);
    TabButton* settings = tabs->button(Tab::settings);
    view->topBar()->wordmark()->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(view->topBar()->wordmark(), Qt::Key_Tab);
    ASSERT_TRUE(plugins->hasFocus());
    EXPECT_TRUE(Kit::keyboardFocus(plugins));

    QTest::mouseClick(settings, Qt::LeftButton, {}, settings->rect().center());
    EXPECT_EQ(model->tab(), Tab::settings);
    EXPECT_EQ(events.count(QAccessible::SelectionAdd, settings), 1);
    EXPECT_EQ(events.count(QAccessible::SelectionRemove, plugins), 1);
    EXPECT_TRUE(spoken(settings)->state().selected);
    int ringed = 0;
    for (Tab tab : kAllTabs)
        ringed += Kit::keyboardFocus(tabs->button(tab)) ? 1 : 0;
    EXPECT_EQ(ringed, 0) << "the click left a focus ring behind";
    saveScreenshot(window.get(), u"frame-keys-clicked-tab"_s);

    // By keyboard: Space on the focused tab selects it, with its ring.
    events.clear();
    QTest::keyClick(plugins, Qt::Key_Space);
    EXPECT_EQ(model->tab(), Tab::plugins);
    EXPECT_EQ(events.count(QAccessible::SelectionAdd, plugins), 1);
    EXPECT_EQ(events.count(QAccessible::SelectionRemove, settings), 1);
}

// The desktop draws the window's buttons: no room is kept for them, and in
// a window narrower than its minimum the strip still leaves the wordmark be.
TEST_F(FrameKeys, TheTopBarFitsALinuxDesktopAtAnyWidth)
{
    open();
    auto* wordmark = view->topBar()->wordmark();
    EXPECT_EQ(wordmark->x(), 14);
    for (const int width : {1000, 760, 520, 380}) {
        SCOPED_TRACE(width);
        window->resize(width, 640);
        ASSERT_TRUE(QTest::qWaitFor([&] { return view->width() == width; }, kPatience));
        const QRect tabs = view->topBar()->tabs()->geometry();
        EXPECT_GT(tabs.left(), wordmark->geometry().right()) << "the tab strip covers the wordmark";
        if (width >= 760) {
            EXPECT_NEAR(tabs.center().x(), width / 2, 1);
        }
        saveScreenshot(window.get(), u"frame-top-bar-"_s + QString::number(width));
    }
    // A double click on the bar leaves the window to the window manager.
    auto* drag = find(u"windowDragArea"_s);
    QTest::mouseDClick(drag, Qt::LeftButton, {}, QPoint(drag->width() - 80, 10));
    EXPECT_FALSE(window->isMaximized());
}

// The DAW question names the open programs the same way under C.UTF-8 (CI's
// and Debian's default) and en_US.UTF-8.
TEST_F(FrameKeys, TheDAWTitleReadsTheSameInEveryLocale)
{
    struct Row {
        QStringList daws;
        QString title;
    };
    const Row rows[] = {
        {{u"Live"_s}, u"Live is open"_s},
        {{u"Logic Pro"_s, u"Live"_s}, u"Logic Pro and Live are open"_s},
        {{u"A"_s, u"B"_s, u"C"_s}, u"A, B, and C are open"_s},
    };
    const QLocale kept;
    for (const char* locale : {"C.UTF-8", "en_US.UTF-8"}) {
        SCOPED_TRACE(locale);
        std::setlocale(LC_ALL, locale);
        QLocale::setDefault(QLocale(QString::fromLatin1(locale).section(u'.', 0, 0)));
        for (const Row& row : rows)
            EXPECT_EQ(Views::MainView::dawTitle(row.daws), row.title);
    }
    std::setlocale(LC_ALL, "C.UTF-8");
    QLocale::setDefault(kept);
}

// In the DAW question Return on the focused "Cancel" cancels; nothing runs.
TEST_F(FrameKeys, ReturnOnCancelInTheDAWQuestionRunsNothing)
{
    daws = {u"Logic Pro"_s, u"Live"_s};
    open();
    const Product reverb = *catalog.product(u"reverb"_s);
    model->requestInstall(reverb, {PluginFormat::vst3}, InstallScope::user);
    ASSERT_TRUE(model->dawWarning().has_value());
    Kit::ConfirmDialog* dialog = view->dawConfirmation();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(child<QLabel>(dialog, u"confirmTitle"_s)->text(), u"Logic Pro and Live are open"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == dialog; }, kPatience));
    EXPECT_EQ(QApplication::focusWidget(), dialog);
    QTest::keyClick(dialog, Qt::Key_Tab);
    EXPECT_EQ(focused(), u"cancelButton"_s);
    saveScreenshot(dialog, u"frame-daw-question-cancel-focused"_s);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_FALSE(model->dawWarning().has_value());
    EXPECT_TRUE(log->calls().filter(u"install reverb"_s).isEmpty()) << "Return on Cancel started the install";
}

} // namespace
} // namespace Hub::Test
