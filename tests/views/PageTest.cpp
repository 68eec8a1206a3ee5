// The product page against a live model: its status line and actions for
// each state of a product, online and offline; the More menu's items and
// what each does; closing the page from the keyboard; an install followed
// in the page's job line.
#include "FrameTestSupport.h"

#include "Base/Config.h"
#include "Kit/Control.h"
#include "Kit/ElidedLabel.h"
#include "Kit/Pill.h"
#include "Kit/PlainMenu.h"
#include "Kit/Tag.h"
#include "Views/Page/Actions.h"
#include "Views/Page/JobLine.h"
#include "Views/Page/More.h"
#include "Views/Page/ProductPage.h"

#include <QAccessible>
#include <QAction>
#include <QFileInfo>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <functional>
#include <atomic>

using namespace Qt::StringLiterals;

namespace Hub::Test {
namespace {

using Views::Actions;
using Views::More;
using Look = Actions::Item::Look;
using Does = Actions::Item::Does;

class PageTest : public FrameFixture {
protected:
    // Products in every situation the action row knows, beside the
    // fixture's echo (update waiting) and reverb (not installed).
    void SetUp() override
    {
        FrameFixture::SetUp();
        Product current = plugin(u"current"_s, u"1.0"_s);
        current.pageURL = u"https://tarnaudio.example/current"_s;
        current.release->notes = u"Fixes a click."_s;
        Product withApp = plugin(u"withapp"_s, u"1.0"_s);
        Product misfit = plugin(u"misfit"_s, u"1.0"_s);
        misfit.release->minMacOS = u"15.0"_s;
        Product soon = plugin(u"soon"_s, u"1.0"_s);
        soon.status = u"coming_soon"_s;
        soon.release.reset();
        soon.pageURL = u"https://tarnaudio.example/soon"_s;
        Product getOnly = plugin(u"getonly"_s, u"1.0"_s);
        getOnly.release.reset();
        getOnly.pageURL = u"https://tarnaudio.example/getonly"_s;
        Product beta = plugin(u"beta"_s, u"1.0"_s);
        beta.displayName = u"Beta & <b>Co</b>"_s;
        beta.accent = u"#e0503a"_s;
        beta.tint = u"#1a1412"_s;
        beta.tagline = u"A <i>granular</i> delay & shimmer that turns any pad into a slow-moving cloud, with a freeze "
                       "switch for the moment you want to hold."_s;
        Product evil = plugin(u"evil"_s, u"1.0"_s);
        evil.release.reset();
        evil.pageURL = u"file:///etc/passwd"_s;
        Product amp = plugin(u"amp"_s, u"1.0"_s);
        amp.release.reset();
        amp.displayName = u"Echo &Delay"_s;
        amp.pageURL = u"https://tarnaudio.example/amp"_s;
        for (const Product& p : {current, withApp, misfit, soon, getOnly, beta, evil, amp})
            catalog.products.push_back(p);
        installer->copies[u"current"_s] = {copy(PluginFormat::vst3, u"1.0"_s)};
        installer->copies[u"withapp"_s] = {copy(PluginFormat::vst3, u"1.0"_s), copy(PluginFormat::app, u"1.0"_s)};
        installer->copies[u"misfit"_s] = {copy(PluginFormat::vst3, u"0.9"_s)};
        service->reply.betas = {u"beta"_s};
    }

    Views::ProductPage* openPage(const QString& id)
    {
        model->setPage(id);
        auto* page = view->findChild<Views::ProductPage*>(u"productPage"_s);
        EXPECT_NE(page, nullptr);
        EXPECT_EQ(page ? page->productID() : QString(), id);
        // The layer shows a page it was just given on the next turn of the loop.
        EXPECT_TRUE(page && eventually([&] { return page->isVisible(); }));
        return page;
    }

    void setOffline(bool offline)
    {
        network->set(!offline);
        ASSERT_TRUE(eventually([&] { return model->offline() == offline && !model->loading(); }));
    }
};

// Lays out what the last change posted, so a picture shows the settled page.
void settle()
{
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

// What the row shows, as the widgets draw it: text and whether it can be pressed.
QStringList drawn(Actions* actions)
{
    QStringList shown;
    const QWidget* more = actions->more();
    for (QWidget* w : actions->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!w->isVisibleTo(actions) || w == more)
            continue;
        if (auto* pill = qobject_cast<Kit::Pill*>(w))
            shown.append(pill->text() + (pill->isEnabled() ? u""_s : u" (off)"_s));
        else if (auto* tag = qobject_cast<Kit::Tag*>(w))
            shown.append(u"tag "_s + tag->text());
    }
    return shown;
}

TEST_F(PageTest, StatusWordAndActionsFollowEachStateOnlineAndOffline)
{
    ASSERT_NO_FATAL_FAILURE(open());
    const struct {
        QString id;
        QString status;
        std::vector<Actions::Item> online;
        std::vector<Actions::Item> offline;
    } table[] = {
        {u"reverb"_s, u"available now"_s,
         {{Look::accent, u"Install"_s, true, Does::install}},
         {{Look::accent, u"Needs internet"_s, false, Does::install}}},
        {u"echo"_s, u"update 2.0 available"_s,
         {{Look::accent, u"Update to 2.0"_s, true, Does::update}},
         {{Look::accent, u"Needs internet"_s, false, Does::update}}},
        {u"current"_s, u"installed 1.0"_s, {{Look::tag, u"up to date"_s, true, Does::nothing}}, {}},
        {u"withapp"_s, u"installed 1.0"_s, {{Look::accent, u"Open"_s, true, Does::open}}, {}},
        // Installed, but the release now wants a newer system: only the note.
        {u"misfit"_s, u"not for this system"_s, {{Look::tag, u"not for this system"_s, true, Does::nothing}}, {}},
        {u"soon"_s, u"coming soon"_s, {{Look::outline, u"Learn more"_s, true, Does::page}}, {}},
        {u"getonly"_s, u"available now"_s, {{Look::accent, u"Get getonly"_s, true, Does::page}}, {}},
        // A name's "&" is a letter, never a keyboard shortcut.
        {u"amp"_s, u"available now"_s, {{Look::accent, u"Get Echo &Delay"_s, true, Does::page}}, {}},
        {u"beta"_s, u"invited · beta"_s,
         {{Look::accent, u"Install"_s, true, Does::install}, {Look::outline, u"Send feedback"_s, true, Does::feedback}},
         {{Look::accent, u"Needs internet"_s, false, Does::install},
          {Look::outline, u"Send feedback"_s, false, Does::feedback}}},
    };
    for (const bool offline : {false, true}) {
        ASSERT_NO_FATAL_FAILURE(setOffline(offline));
        for (const auto& row : table) {
            SCOPED_TRACE(QString(row.id + (offline ? u" offline"_s : u" online"_s)).toStdString());
            Views::ProductPage* page = openPage(row.id);
            ASSERT_NE(page, nullptr);
            const Product& product = *model->product(row.id);
            // Offline changes only what needs the network.
            const std::vector<Actions::Item>& want = offline && !row.offline.empty() ? row.offline : row.online;
            EXPECT_EQ(Actions::items(*model, product), want);
            QStringList wantDrawn;
            for (const Actions::Item& item : want)
                wantDrawn.append((item.look == Look::tag ? u"tag "_s : u""_s) + item.text
                                 + (item.enabled ? u""_s : u" (off)"_s));
            auto* actions = child<Actions>(page, u"actions"_s);
            EXPECT_EQ(drawn(actions), wantDrawn);
            for (const Kit::Pill* pill : actions->findChildren<Kit::Pill*>())
                EXPECT_TRUE(pill->shortcut().isEmpty()) << pill->text().toStdString();
            EXPECT_EQ(child<QLabel>(page, u"statusWord"_s)->text(), row.status);
            EXPECT_EQ(child<QLabel>(page, u"statusName"_s)->text(), product.shown());
            // The name is the page's heading for a screen reader.
            QAccessibleInterface* title = QAccessible::queryAccessibleInterface(child(page, u"pageTitle"_s));
            ASSERT_NE(title, nullptr);
            EXPECT_EQ(title->role(), QAccessible::Heading);
            EXPECT_EQ(title->text(QAccessible::Name), product.shown());
            auto* tagline = child<QLabel>(page, u"tagline"_s);
            EXPECT_EQ(tagline->textFormat(), Qt::PlainText);
            EXPECT_EQ(tagline->text(), product.tagline);
            // Greyed out only where its menu would hold nothing but the divider.
            const std::vector<More::Item> offered = More::items(*model, product);
            EXPECT_EQ(child(page, u"more"_s)->isEnabled(),
                      std::any_of(offered.begin(), offered.end(),
                                  [](const More::Item& item) { return item.does != More::Item::Does::divider; }));
            settle();
            saveScreenshot(window.get(), u"page-"_s + row.id + (offline ? u"-offline"_s : u"-online"_s));
        }
    }

    // On the smallest window the tagline wraps and gets all the height its
    // lines take; the column never runs past the window.
    window->resize(760, 560);
    Views::ProductPage* page = openPage(u"beta"_s);
    ASSERT_NE(page, nullptr);
    settle();
    auto* tagline = child<QLabel>(page, u"tagline"_s);
    EXPECT_GE(tagline->height(), tagline->heightForWidth(tagline->width()));
    EXPECT_GT(tagline->heightForWidth(tagline->width()), QFontMetrics(tagline->font()).height());
    EXPECT_LE(child(page, u"pageColumn"_s)->geometry().right(), page->width());
    saveScreenshot(window.get(), u"page-beta-smallest-window"_s);
}

// A name without spaces wider than the column is shortened in the status
// line, its status word still there, and never widens the column.
// A screen reader reads the page's words, not its drawn dots and bar: the
// status line once, as one text, and the facts with commas.
TEST_F(PageTest, APageIsReadWithoutTheSymbolsThatOnlyDraw)
{
    ASSERT_NO_FATAL_FAILURE(open());
    Views::ProductPage* page = openPage(u"withapp"_s);
    ASSERT_NE(page, nullptr);
    settle();
    QStringList heard;
    const std::function<void(QAccessibleInterface*)> read = [&](QAccessibleInterface* node) {
        for (int i = 0; i < node->childCount(); ++i)
            if (QAccessibleInterface* part = node->child(i); part && !part->state().invisible) {
                heard.append(part->text(QAccessible::Name));
                read(part);
            }
    };
    read(QAccessible::queryAccessibleInterface(page));
    for (const QString& name : heard) {
        EXPECT_FALSE(name.contains(u'\u00b7')) << name.toStdString();
        EXPECT_NE(name.trimmed(), u"_"_s);
    }
    const QString status = child<QLabel>(page, u"statusName"_s)->text() + u", "_s
                         + child<QLabel>(page, u"statusWord"_s)->text().replace(u" \u00b7 "_s, u", "_s);
    EXPECT_EQ(heard.count(status), 1) << heard.join(u" | "_s).toStdString();
    EXPECT_TRUE(heard.contains(u"VST3, AU"_s));
    EXPECT_TRUE(heard.contains(u"installed: VST3, App"_s)) << heard.join(u" | "_s).toStdString();
}

TEST_F(PageTest, ALongNameIsShortenedInTheStatusLineNotClipped)
{
    Product longName = plugin(u"long"_s, u"1.0"_s);
    longName.displayName = QString(90, u'W');
    catalog.products.push_back(longName);
    ASSERT_NO_FATAL_FAILURE(open());
    Views::ProductPage* page = openPage(u"long"_s);
    ASSERT_NE(page, nullptr);
    settle();
    auto* name = child<Kit::ElidedLabel>(page, u"statusName"_s);
    EXPECT_EQ(name->text(), longName.displayName);
    EXPECT_TRUE(name->shownText().endsWith(u'\u2026')) << name->shownText().toStdString();
    QWidget* word = child(page, u"statusWord"_s);
    EXPECT_FALSE(word->isHidden());
    EXPECT_LE(word->mapTo(page, QPoint(word->width(), 0)).x(), child(page, u"pageColumn"_s)->geometry().right() + 1);
    EXPECT_LE(child(page, u"pageColumn"_s)->geometry().right(), page->width());
    // The title is drawn whole inside the column, smaller than its counted size.
    QWidget* title = child(page, u"pageTitle"_s);
    EXPECT_LE(title->mapTo(page, QPoint(title->width(), 0)).x(), child(page, u"pageColumn"_s)->geometry().right() + 1);
    EXPECT_LT(title->width(), title->sizeHint().width());
    saveScreenshot(page, u"page-long-name"_s);
}

TEST_F(PageTest, ActionPressesOpenSheetsLinksAndTheAppThroughTheModel)
{
    ASSERT_NO_FATAL_FAILURE(open());
    const struct {
        QString id;
        QString button;
        std::optional<Sheet> sheet;
        QStringList opened;
    } table[] = {
        {u"reverb"_s, u"actionInstall"_s, Sheet::install(u"reverb"_s), {}},
        {u"beta"_s, u"actionFeedback"_s, Sheet::feedback(u"beta"_s), {}},
        {u"getonly"_s, u"actionPage"_s, std::nullopt, {u"https://tarnaudio.example/getonly"_s}},
        {u"soon"_s, u"actionPage"_s, std::nullopt, {u"https://tarnaudio.example/soon"_s}},
        // A catalog address that is not a web page leaves the program unopened.
        {u"evil"_s, u"actionPage"_s, std::nullopt, {}},
        {u"withapp"_s, u"actionOpen"_s, std::nullopt, {u"app "_s + copy(PluginFormat::app, u"1.0"_s).path}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.id.toStdString());
        workspace->opened.clear();
        Views::ProductPage* page = openPage(row.id);
        ASSERT_NE(page, nullptr);
        clickCentre(child(page, row.button));
        EXPECT_EQ(model->sheet(), row.sheet);
        EXPECT_EQ(workspace->opened, row.opened);
        if (row.sheet) {
            settle();
            saveScreenshot(window.get(), u"page-press-"_s + row.button);
        }
        model->setSheet(std::nullopt);
    }
}

// The page's column keeps its place when the window gets short enough to
// scroll: the scroll bar's room is kept, never taken from the column.
TEST_F(PageTest, TheColumnStaysPutAsTheScrollBarComesAndGoes)
{
    ASSERT_NO_FATAL_FAILURE(open());
    window->resize(1000, 1400);
    Views::ProductPage* page = openPage(u"beta"_s);
    ASSERT_NE(page, nullptr);
    auto* column = child(page, u"pageColumn"_s);
    auto* scroll = child<QScrollArea>(page, u"pageScroll"_s);
    std::optional<int> left;
    for (int height : {1400, 420, 1400}) {
        SCOPED_TRACE(height);
        window->resize(1000, height);
        settle();
        const bool scrolls = scroll->verticalScrollBar()->maximum() > 0;
        EXPECT_EQ(scrolls, height == 420);
        const int x = column->mapTo(window.get(), QPoint(0, 0)).x();
        EXPECT_EQ(x, left.value_or(x)) << "the column moves sideways";
        left = x;
        saveScreenshot(window.get(), u"page-column-"_s + QString::number(height));
    }
}

TEST_F(PageTest, EscapeAndTheBackPillCloseThePage)
{
    ASSERT_NO_FATAL_FAILURE(open());
    Views::ProductPage* page = openPage(u"echo"_s);
    ASSERT_NE(page, nullptr);
    // Escape from inside the page, with the keyboard on the back pill.
    auto* back = child<Kit::Pill>(page, u"backPill"_s);
    EXPECT_EQ(back->text(), u"← Plugins"_s);
    // The arrow only draws the way back.
    EXPECT_EQ(spoken(back)->text(QAccessible::Name), u"Plugins"_s);
    // From the top bar Tab goes straight to the back pill: the page's
    // scroll area is no stop of its own.
    find(u"accountButton"_s)->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(eventually([&] { return find(u"accountButton"_s)->hasFocus(); }));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), back) << QApplication::focusWidget()->objectName().toStdString();
    back->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(eventually([&] { return back->hasFocus(); }));
    settle();
    saveScreenshot(window.get(), u"page-back-focused"_s);
    // The keyboard walks the page in reading order: the back pill, the
    // actions, then More.
    for (const QString& next : {u"actionUpdate"_s, u"more"_s}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), next);
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_EQ(model->page(), std::nullopt);
    ASSERT_TRUE(eventually([&] { return view->findChild<QWidget*>(u"productPage"_s) == nullptr; }));

    page = openPage(u"echo"_s);
    ASSERT_NE(page, nullptr);
    clickCentre(child(page, u"backPill"_s));
    EXPECT_EQ(model->page(), std::nullopt);
    EXPECT_EQ(model->tab(), Tab::plugins);
}

// Closing a page, by Escape or by its back pill, gives the keys back to the
// row that opened it, not to the wordmark at the top of the window.
TEST_F(PageTest, ClosingThePageGivesTheKeysBackToTheRowThatOpenedIt)
{
    ASSERT_NO_FATAL_FAILURE(open());
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), kPatience));
    QWidget* row = view->findChild<QWidget*>(u"row-echo"_s);
    ASSERT_NE(row, nullptr);
    const struct {
        const char* how;
        std::function<void(QWidget*)> close;
    } table[] = {
        {"Escape", [](QWidget*) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape); }},
        {"Return on the back pill",
         [](QWidget* page) {
             QWidget* back = child(page, u"backPill"_s);
             back->setFocus(Qt::TabFocusReason);
             QTest::keyClick(back, Qt::Key_Return);
         }},
    };
    for (const auto& way : table) {
        SCOPED_TRACE(way.how);
        row->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(eventually([&] { return row->hasFocus(); }));
        QTest::keyClick(row, Qt::Key_Return);
        ASSERT_EQ(model->page(), u"echo"_s);
        auto* page = view->findChild<Views::ProductPage*>(u"productPage"_s);
        ASSERT_TRUE(page && eventually([&] { return page->isVisible(); }));
        way.close(page);
        EXPECT_EQ(model->page(), std::nullopt);
        EXPECT_TRUE(eventually([&] { return row->hasFocus(); }))
            << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString() : "no focus");
    }
}

// Return presses the page's focused control as Space does.
TEST_F(PageTest, ReturnAndSpacePressThePagesFocusedControl)
{
    ASSERT_NO_FATAL_FAILURE(open());
    const struct {
        QString id;
        QString control;
        std::function<bool()> pressed;
    } table[] = {
        {u"reverb"_s, u"actionInstall"_s, [&] { return model->sheet() == Sheet::install(u"reverb"_s); }},
        // Opened with its first item highlighted, under the button's name:
        // a screen reader hears "More" and that item, not silence.
        {u"current"_s, u"more"_s,
         [&] {
             auto* menu = view->findChild<Kit::PlainMenu*>(u"moreMenu"_s);
             return menu->isVisible() && menu->activeAction() == menu->actions().value(0)
                    && spoken(menu)->text(QAccessible::Name) == u"More"_s;
         }},
        {u"reverb"_s, u"backPill"_s, [&] { return model->page() == std::nullopt; }},
    };
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        for (const auto& row : table) {
            SCOPED_TRACE(QString(row.control + u' ' + QKeySequence(key).toString()).toStdString());
            Views::ProductPage* page = openPage(row.id);
            ASSERT_NE(page, nullptr);
            window->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), kPatience));
            // Reached as a keyboard user does: Tab from the back pill.
            QWidget* control = child(page, row.control);
            child(page, u"backPill"_s)->setFocus(Qt::OtherFocusReason);
            ASSERT_TRUE(eventually([&] { return QApplication::focusWidget() != nullptr; }));
            for (int stop = 0; stop < 6 && !control->hasFocus(); ++stop)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            ASSERT_TRUE(control->hasFocus());
            QTest::keyClick(control, key);
            EXPECT_TRUE(eventually(row.pressed));
            if (auto* menu = view->findChild<Kit::PlainMenu*>(u"moreMenu"_s); menu && menu->isVisible())
                menu->hide();
            model->setSheet(std::nullopt);
        }
    }
}

TEST_F(PageTest, MoreMenuOffersWhatAppliesAndEachItemDoesItsPart)
{
    Product sameVersion = plugin(u"trailing"_s, u"1.2.0"_s); // installed as "1.2"
    Product package = plugin(u"package"_s, u"3.0"_s);
    package.release->artifacts.reset();
    package.release->pkgURL = u"https://tarnaudio.example/package.pkg"_s;
    package.release->sha256 = QString(64, u'b');
    package.release->archs = QStringList{u"arm64"_s, u"x86_64"_s};
    Product ampersand = plugin(u"ampver"_s, u"2.0 & up"_s);
    catalog.products.push_back(sameVersion);
    catalog.products.push_back(package);
    catalog.products.push_back(ampersand);
    installer->copies[u"ampver"_s] = {copy(PluginFormat::vst3, u"2.0"_s)};
    installer->copies[u"trailing"_s] = {copy(PluginFormat::au, u"1.2"_s)};
    installer->copies[u"package"_s] = {copy(PluginFormat::app, u"3.0"_s)};
    ASSERT_NO_FATAL_FAILURE(startModel());
    const QString currentPath = copy(PluginFormat::vst3, u"1.0"_s).path;

    struct Press {
        QString item;
        std::optional<Sheet> sheet;
        QStringList opened;
        QStringList logged; // what the installer was asked
    };
    const struct {
        QString id;
        bool offline;
        QStringList items; // "" is the divider
        std::vector<Press> presses;
    } table[] = {
        {u"current"_s, false,
         {u"Show in Files"_s, u"Reinstall 1.0"_s, u"Uninstall…"_s, u""_s, u"Product page ↗"_s, u"All release notes ↗"_s},
         {{u"Show in Files"_s, {}, {u"reveal "_s + currentPath}, {}},
          {u"Reinstall 1.0"_s, Sheet::install(u"current"_s), {}, {}},
          {u"Uninstall…"_s, Sheet::uninstall(u"current"_s), {}, {}},
          {u"Product page ↗"_s, {}, {u"https://tarnaudio.example/current"_s}, {}},
          {u"All release notes ↗"_s, {}, {Config::changelog(u"current"_s).toString()}, {}}}},
        // Reinstalling needs the network.
        {u"current"_s, true,
         {u"Show in Files"_s, u"Uninstall…"_s, u""_s, u"Product page ↗"_s, u"All release notes ↗"_s}, {}},
        // An older copy gets an update, never a reinstall.
        {u"echo"_s, false, {u"Show in Files"_s, u"Uninstall…"_s, u""_s}, {}},
        {u"trailing"_s, false, {u"Show in Files"_s, u"Reinstall 1.2.0"_s, u"Uninstall…"_s, u""_s}, {}},
        {u"reverb"_s, false, {u""_s}, {}},
        // A menu text's "&&" shows one "&" and makes no shortcut.
        {u"ampver"_s, false, {u"Show in Files"_s, u"Reinstall 2.0 && up"_s, u"Uninstall…"_s, u""_s}, {}},
        // Shown, since the catalog names an address, but never opened.
        {u"evil"_s, false, {u""_s, u"Product page ↗"_s}, {{u"Product page ↗"_s, {}, {}, {}}}},
        // No formats to choose: the package installs for all users at once.
        {u"package"_s, false, {u"Show in Files"_s, u"Reinstall 3.0"_s, u"Uninstall…"_s, u""_s},
         {{u"Reinstall 3.0"_s, {}, {}, {u"package package 3.0"_s}}}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(QString(row.id + (row.offline ? u" offline"_s : u""_s)).toStdString());
        ASSERT_NO_FATAL_FAILURE(setOffline(row.offline));
        More more(model.get(), row.id);
        Kit::PlainMenu* menu = more.menu();
        QStringList items;
        for (const QAction* action : menu->actions())
            items.append(action->isSeparator() ? QString() : action->text());
        EXPECT_EQ(items, row.items);
        EXPECT_EQ(more.toolTip(), u"More"_s);
        // With nothing to offer the button is greyed out, never an empty menu.
        EXPECT_EQ(more.isEnabled(), items != QStringList{QString()});
        for (const Press& press : row.presses) {
            SCOPED_TRACE(press.item.toStdString());
            workspace->opened.clear();
            const qsizetype logged = log->calls().size();
            for (QAction* action : menu->actions())
                if (action->text() == press.item)
                    action->trigger();
            EXPECT_EQ(model->sheet(), press.sheet);
            EXPECT_EQ(workspace->opened, press.opened);
            if (!press.logged.isEmpty()) {
                EXPECT_TRUE(eventually([&] { return log->calls().mid(logged) == press.logged; }))
                    << log->calls().mid(logged).join(u" | "_s).toStdString();
            }
            model->setSheet(std::nullopt);
        }
        if (!row.offline && row.id == u"current"_s) {
            more.show();
            menu->popup(more.mapToGlobal(QPoint(0, more.height() + 4)));
            ASSERT_TRUE(eventually([&] { return menu->isVisible(); }));
            saveScreenshot(menu, u"page-more-menu-"_s + row.id);
            // A screen reader hears the items without the drawn "↗", and
            // presses them as a click would.
            QAccessibleInterface* items = spoken(menu);
            QStringList heard;
            for (int i = 0; i < items->childCount(); ++i)
                heard.append(items->child(i)->text(QAccessible::Name));
            EXPECT_EQ(heard, (QStringList{u"Show in Files"_s, u"Reinstall 1.0"_s, u"Uninstall…"_s, u""_s,
                                          u"Product page"_s, u"All release notes"_s}));
            QAccessibleInterface* page = items->child(int(heard.indexOf(u"Product page"_s)));
            ASSERT_NE(page, nullptr);
            EXPECT_EQ(page->role(), QAccessible::MenuItem);
            workspace->opened.clear();
            page->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
            EXPECT_EQ(workspace->opened, QStringList{u"https://tarnaudio.example/current"_s});
            menu->hide();
        }
    }
}

// "Show in Files" on a desktop where nothing shows files says so on the
// page, naming the folder, instead of doing nothing.
TEST_F(PageTest, ShowInFilesWithNoFileManagerSaysWhichFolderDidNotOpen)
{
    workspace->noFileManager = true;
    ASSERT_NO_FATAL_FAILURE(open());
    Views::ProductPage* page = openPage(u"current"_s);
    ASSERT_NE(page, nullptr);
    auto* jobLine = child<Views::JobLine>(page, u"pageJobLine"_s);
    auto* more = child<More>(page, u"more"_s);
    clickCentre(more);
    Kit::PlainMenu* menu = more->menu();
    ASSERT_TRUE(eventually([&] { return menu->isVisible(); }));
    QAction* reveal = nullptr;
    for (QAction* action : menu->actions())
        if (action->text() == u"Show in Files"_s)
            reveal = action;
    ASSERT_NE(reveal, nullptr);
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(reveal).center());
    ASSERT_TRUE(eventually([&] { return jobLine->isVisibleTo(page); }));
    EXPECT_EQ(child<QLabel>(jobLine, u"jobMessage"_s)->text(),
              u"Couldn't open the folder "_s + model->abbreviated(QFileInfo(copy(PluginFormat::vst3, u"1.0"_s).path).path())
                  + u": no file manager answered."_s);
    settle();
    saveScreenshot(window.get(), u"page-show-in-files-failed"_s);
}

// The page's "Update to …" waits while its own product's update runs, at
// any step, and only then: another product's update leaves it pressable.
TEST_F(PageTest, UpdateToWaitsOnlyForItsOwnProductsUpdate)
{
    installer->steps = {InstallStep::verifying()};
    ASSERT_NO_FATAL_FAILURE(open());
    Views::ProductPage* page = openPage(u"echo"_s);
    ASSERT_NE(page, nullptr);
    auto* update = child<Kit::Pill>(page, u"actionUpdate"_s);
    EXPECT_EQ(update->text(), u"Update to 2.0"_s);
    const struct Row {
        QString running;
        bool enabled;
    } table[] = {{u"notes"_s, true}, {u"echo"_s, false}};
    for (const Row& row : table) {
        SCOPED_TRACE(row.running.toStdString());
        auto held = std::make_shared<Gate>();
        installer->gates[row.running] = held;
        if (row.running == u"echo"_s)
            clickCentre(update);
        else
            model->requestInstall(*model->product(row.running), {PluginFormat::vst3}, InstallScope::user);
        ASSERT_TRUE(eventually([&] { return held->reached() == 1 && stateOf(row.running).job.isWorking(); }));
        QCoreApplication::processEvents();
        EXPECT_EQ(update->isEnabled(), row.enabled);
        settle();
        saveScreenshot(window.get(), u"page-update-while-"_s + row.running + u"-updates"_s);
        held->open();
        ASSERT_TRUE(eventually([&] { return !stateOf(row.running).job.isWorking(); }));
    }
}

TEST_F(PageTest, AnInstallStartedFromThePageEndsInItsJobLine)
{
    auto held = std::make_shared<Gate>();
    std::atomic<int> steps = 0;
    installer->afterStep = [&](const InstallStep&) {
        if (steps++ == 0)
            held->pass();
    };
    ASSERT_NO_FATAL_FAILURE(open());
    Views::ProductPage* page = openPage(u"beta"_s);
    ASSERT_NE(page, nullptr);
    auto* jobLine = child<Views::JobLine>(page, u"pageJobLine"_s);
    EXPECT_FALSE(jobLine->isVisibleTo(page));

    clickCentre(child(page, u"actionInstall"_s));
    ASSERT_EQ(model->sheet(), Sheet::install(u"beta"_s));
    // What the install sheet sends when the user confirms it.
    const Product& beta = *model->product(u"beta"_s);
    model->requestInstall(beta, model->defaultFormats(beta), model->scope());
    model->setSheet(std::nullopt);

    ASSERT_TRUE(eventually([&] { return held->reached() == 1 && stateOf(u"beta"_s).job.isWorking(); }));
    ASSERT_TRUE(eventually([&] { return jobLine->isVisibleTo(page); }));
    ASSERT_TRUE(eventually([&] { return child<QLabel>(jobLine, u"jobStepText"_s)->text() == u"Downloading 50%"_s; }));
    // A working job holds the install and the menu; feedback stays open.
    EXPECT_FALSE(child(page, u"actionInstall"_s)->isEnabled());
    EXPECT_TRUE(child(page, u"actionFeedback"_s)->isEnabled());
    EXPECT_FALSE(child(page, u"more"_s)->isEnabled());
    settle();
    saveScreenshot(window.get(), u"page-install-working"_s);

    held->open();
    ASSERT_TRUE(eventually([&] { return stateOf(u"beta"_s).job.kind == Job::Kind::done; }));
    ASSERT_TRUE(eventually([&] { return child<QLabel>(jobLine, u"jobMark"_s)->isVisibleTo(page); }));
    EXPECT_EQ(child<QLabel>(jobLine, u"jobMessage"_s)->text(), stateOf(u"beta"_s).job.message);
    EXPECT_TRUE(jobLine->isVisibleTo(page));
    EXPECT_EQ(drawn(child<Actions>(page, u"actions"_s)), (QStringList{u"tag up to date"_s, u"Send feedback"_s}));
    EXPECT_TRUE(child(page, u"more"_s)->isEnabled());
    EXPECT_EQ(child<QLabel>(page, u"statusWord"_s)->text(), u"installed 1.0 · beta"_s);
    // The row changed under the keyboard: it still meets it in order.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), kPatience));
    QWidget* back = child(page, u"backPill"_s);
    back->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(eventually([&] { return back->hasFocus(); }));
    for (const QString& next : {u"actionFeedback"_s, u"more"_s}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), next);
    }
    settle();
    saveScreenshot(window.get(), u"page-install-done"_s);
}

// The page's own install, update or uninstall greys out, then hides, the
// control the keyboard was on: the focus stays in the row while the job
// works and then goes to what took the control's place, never to a
// control elsewhere in the window.
TEST_F(PageTest, TheFocusStaysInTheRowWhenThePagesOwnJobTakesItsControl)
{
    Product appUpdate = plugin(u"appupdate"_s, u"2.0"_s);
    Artifact app = appUpdate.release->artifacts->front();
    app.format = PluginFormat::app;
    app.bundle = u"Appupdate.app"_s;
    appUpdate.release->artifacts->push_back(app);
    catalog.products.push_back(appUpdate);
    installer->copies[u"appupdate"_s] = {copy(PluginFormat::vst3, u"1.0"_s), copy(PluginFormat::app, u"1.0"_s)};
    ASSERT_NO_FATAL_FAILURE(open());
    const auto pressReturn = [](const QString&) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); };
    const struct {
        QString id;
        QString focused;
        std::function<void(const QString&)> act;
        QString after;
    } table[] = {
        // Return on Install, then Return in its sheet, whose default installs.
        {u"reverb"_s, u"actionInstall"_s,
         [&](const QString&) {
             QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
             QWidget* sheet = nullptr;
             ASSERT_TRUE(eventually([&] {
                 sheet = view->findChild<QWidget*>(u"sheetView"_s);
                 return sheet && QApplication::activeWindow() == sheet;
             }));
             QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
             ASSERT_TRUE(eventually([&] { return QApplication::activeWindow() == window.get(); }));
         },
         u"actionTag"_s},
        {u"echo"_s, u"actionUpdate"_s, pressReturn, u"actionTag"_s},
        {u"appupdate"_s, u"actionUpdate"_s, pressReturn, u"actionOpen"_s},
        // What the uninstall sheet sends; More is greyed out meanwhile.
        {u"current"_s, u"more"_s,
         [&](const QString& id) {
             model->requestUninstall(*model->product(id), {{PluginFormat::vst3}, false, {InstallScope::user}}, false);
         },
         u"more"_s},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.id.toStdString());
        Views::ProductPage* page = openPage(row.id);
        ASSERT_NE(page, nullptr);
        auto* actions = child<Actions>(page, u"actions"_s);
        QWidget* control = child(page, row.focused);
        // From the back pill, as the keyboard gets there.
        child(page, u"backPill"_s)->setFocus(Qt::OtherFocusReason);
        ASSERT_TRUE(eventually([&] { return QApplication::focusWidget() == child(page, u"backPill"_s); }));
        for (int tabs = 0; tabs < 3 && !control->hasFocus(); ++tabs)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_TRUE(Kit::keyboardFocus(control));
        QStringList focusedSince;
        const QMetaObject::Connection watch =
            QObject::connect(qApp, &QApplication::focusChanged, actions, [&](QWidget*, QWidget* now) {
                // A sheet's own controls are not the window's.
                if (now && now->window() == window.get() && now != actions && now->parentWidget() != actions)
                    focusedSince.append(now->objectName());
            });
        auto held = std::make_shared<Gate>();
        installer->gates[row.id] = held;
        row.act(row.id);
        ASSERT_TRUE(eventually([&] { return held->reached() == 1 && stateOf(row.id).job.isWorking(); }));
        QCoreApplication::processEvents();
        EXPECT_FALSE(control->isEnabled());
        EXPECT_EQ(QApplication::focusWidget(), actions) << "the row let the focus go while the job works";
        held->open();
        ASSERT_TRUE(eventually([&] { return !stateOf(row.id).job.isWorking(); }));
        EXPECT_TRUE(eventually([&] { return QApplication::focusWidget()->objectName() == row.after; }))
            << QApplication::focusWidget()->objectName().toStdString() << " " << drawn(actions).join(u", "_s).toStdString();
        EXPECT_TRUE(Kit::keyboardFocus(QApplication::focusWidget())) << "the keyboard lost sight of its place";
        EXPECT_EQ(focusedSince, QStringList()) << "the focus went outside the row";
        QObject::disconnect(watch);
        settle();
        saveScreenshot(window.get(), u"page-focus-after-"_s + row.id);
        // Tab goes on from there in reading order.
        if (row.after == u"actionTag"_s) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            EXPECT_EQ(QApplication::focusWidget()->objectName(), u"more"_s);
        }
    }
}

TEST_F(PageTest, TitleSizeAndTheVersionMismatchSentence)
{
    const struct {
        QString title;
        qreal size;
    } sizes[] = {{u""_s, 116}, {u"ninechars"_s, 116}, {u"tencharsxx"_s, 580 / 5.2}, {u"twenty-characters-xx"_s, 580 / 10.4},
                 {u"e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301"_s, 580 / 5.2}};
    for (const auto& row : sizes)
        EXPECT_NEAR(Views::ProductPage::titleSize(row.title), row.size, 0.01) << row.title.toStdString();

    const QString vst3Path = copy(PluginFormat::vst3, u"1.2.0"_s).path;
    const struct {
        QString name;
        QList<InstalledFormat> copies;
        std::optional<QString> sentence;
        bool legacy = false; // the legacy notice shows in place of the sentence
    } table[] = {
        {u"differ"_s,
         {copy(PluginFormat::vst3, u"1.2.0"_s), {PluginFormat::au, u"/opt/Tarn/X.component"_s, u"1.1.0"_s}},
         u"Different versions are installed (~"_s + vst3Path.mid(m_home.path().size())
             + u" 1.2.0, /opt/Tarn/X.component 1.1.0). Your DAW may load the old one."_s},
        // The application is listed once the plug-ins disagree.
        {u"three"_s,
         {copy(PluginFormat::app, u"1.0"_s), copy(PluginFormat::vst3, u"1.2.0"_s),
          {PluginFormat::au, u"/opt/Tarn/X.component"_s, u"1.1.0"_s}},
         u"Different versions are installed (~"_s + copy(PluginFormat::app, u"1.0"_s).path.mid(m_home.path().size())
             + u" 1.0, ~"_s + vst3Path.mid(m_home.path().size())
             + u" 1.2.0, /opt/Tarn/X.component 1.1.0). Your DAW may load the old one."_s},
        {u"agree"_s, {copy(PluginFormat::vst3, u"1.2.0"_s), copy(PluginFormat::au, u"1.2.0"_s)}, std::nullopt},
        {u"app-lags"_s, {copy(PluginFormat::vst3, u"1.2.0"_s), copy(PluginFormat::app, u"1.0"_s)}, std::nullopt},
        // An older copy for all users beside the user's own: only its notice speaks.
        {u"legacy"_s,
         {copy(PluginFormat::vst3, u"1.2.0"_s), copy(PluginFormat::vst3, u"1.1.0"_s, InstallScope::allUsers)},
         std::nullopt, true},
    };
    for (const auto& row : table)
        installer->copies[row.name] = row.copies;
    for (const auto& row : table)
        catalog.products.push_back(plugin(row.name, u"1.2.0"_s));
    ASSERT_NO_FATAL_FAILURE(open());
    for (const auto& row : table) {
        SCOPED_TRACE(row.name.toStdString());
        const Product& product = *model->product(row.name);
        if (!row.legacy) {
            EXPECT_EQ(Views::ProductPage::mismatch(*model, product), row.sentence);
        }
        Views::ProductPage* page = openPage(row.name);
        ASSERT_NE(page, nullptr);
        auto* label = child<QLabel>(page, u"versionMismatch"_s);
        EXPECT_EQ(label->isVisibleTo(page), row.sentence.has_value());
        EXPECT_EQ(label->text(), row.sentence.value_or(QString()));
        EXPECT_EQ(child(page, u"legacyNotice"_s)->isVisibleTo(page), row.legacy);
        settle();
        saveScreenshot(window.get(), u"page-copies-"_s + row.name);
    }
}

} // namespace
} // namespace Hub::Test
