// The main window's frame against a live model: navigation, the account
// menu, the top bar's rules and the DAW question after a sheet.
#include "FrameTestSupport.h"

#include "Kit/ConfirmDialog.h"
#include "Kit/Pill.h"
#include "Kit/Tag.h"
#include "Kit/Theme.h"
#include "Views/Frame/AccountMenu.h"
#include "Kit/ElidedLabel.h"
#include "Kit/CountBadge.h"
#include "Views/Plugins/RefreshButton.h"
#include "Views/Plugins/SoonStrip.h"
#include "Views/Frame/TopBar.h"

#include <QAccessible>
#include <QPointer>
#include <QScrollBar>

using namespace Qt::StringLiterals;

namespace Hub::Test {
namespace {

using Views::TabButton;

class MainWindowTest : public FrameFixture {};

TEST_F(MainWindowTest, EscapeClosesTheMenuFirstThenThePageThenNothing)
{
    open();
    model->setTab(Tab::updates);
    model->setPage(u"echo"_s);
    model->setAccountMenu(true);
    saveScreenshot(window.get(), u"frame-menu-over-page"_s);

    QTest::keyClick(view, Qt::Key_Escape);
    EXPECT_FALSE(model->accountMenu());
    EXPECT_EQ(model->page(), u"echo"_s);
    EXPECT_TRUE(find(u"productPage"_s)->isVisible());

    QTest::keyClick(view, Qt::Key_Escape);
    EXPECT_EQ(model->page(), std::nullopt);
    EXPECT_EQ(view->findChild<QWidget*>(u"productPage"_s), nullptr);

    QTest::keyClick(view, Qt::Key_Escape);
    EXPECT_EQ(model->tab(), Tab::updates);
    EXPECT_EQ(model->sheet(), std::nullopt);
    saveScreenshot(window.get(), u"frame-after-escapes"_s);
}

// A link can open a page while the menu is up: the menu stays on top and
// keeps taking its clicks.
TEST_F(MainWindowTest, APageThatOpensUnderTheMenuLeavesTheMenuOnTop)
{
    open();
    model->setAccountMenu(true);
    model->setPage(u"tinted"_s);
    QWidget* menu = find(u"accountMenu"_s);
    QWidget* row = find(u"signOutRow"_s);
    ASSERT_TRUE(find(u"productPage"_s)->isVisible());
    saveScreenshot(window.get(), u"frame-page-under-menu"_s);
    for (QWidget* w : {menu, row}) {
        QWidget* top = view->childAt(w->mapTo(view, w->rect().center()));
        EXPECT_TRUE(top == w || w->isAncestorOf(top)) << w->objectName().toStdString() << " lies under "
                                                      << (top ? top->objectName().toStdString() : "nothing");
    }
    clickAt(QPoint(200, 400));
    EXPECT_FALSE(model->accountMenu());
    EXPECT_EQ(model->page(), u"tinted"_s);
}

TEST_F(MainWindowTest, AClickOutsideTheOpenMenuOnlyClosesIt)
{
    open();
    struct Row {
        const char* name;
        std::function<QPoint()> where;
        bool closes;
    };
    auto centreOf = [this](const QString& name) {
        QWidget* w = find(name);
        return w->mapTo(view, w->rect().center());
    };
    const Row rows[] = {
        {"on the account button", [&] { return centreOf(u"accountButton"_s); }, true},
        {"on a tab", [&] { return centreOf(u"settingsTab"_s); }, true},
        {"on the wordmark", [&] { return centreOf(u"wordmark"_s); }, true},
        {"in the tab body", [&] { return QPoint(200, 400); }, true},
        {"on the menu's header", [&] { return centreOf(u"accountName"_s); }, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        model->setTab(Tab::updates);
        model->setAccountMenu(true);
        const QPoint point = row.where();
        clickAt(point);
        EXPECT_EQ(model->accountMenu(), !row.closes);
        EXPECT_EQ(model->tab(), Tab::updates);
        model->setAccountMenu(false);
    }
}

TEST_F(MainWindowTest, TheWindowTakesTheOpenPagesTint)
{
    catalog.products.push_back(plugin(u"odd"_s, u"1.0"_s));
    catalog.products.back().tint = u"red"_s;
    open();
    struct Row {
        std::optional<QString> page;
        QColor color;
        bool pageShown;
    };
    const Row rows[] = {
        {u"tinted"_s, QColor(0x20, 0x30, 0x40), true},
        {u"echo"_s, QColor(0x0e, 0x0e, 0x0f), true},       // no tint
        {u"odd"_s, QColor(0x0e, 0x0e, 0x0f), true},        // a tint that is not a colour
        {u"gone"_s, Kit::Theme::bg(), false},              // names no product
        {std::nullopt, Kit::Theme::bg(), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.page.value_or(u"none"_s).toStdString());
        model->setPage(row.page);
        EXPECT_EQ(view->windowColor(), row.color);
        EXPECT_EQ(view->findChild<QWidget*>(u"productPage"_s) != nullptr, row.pageShown);
        // The bar shows the window's colour: a point between wordmark and tabs.
        EXPECT_EQ(view->grab().toImage().pixelColor(60, 10), row.color);
        if (row.page == u"tinted"_s)
            saveScreenshot(window.get(), u"frame-tinted-page"_s);
    }
    // A page that names no product still closes with Escape.
    model->setPage(u"gone"_s);
    QTest::keyClick(view, Qt::Key_Escape);
    EXPECT_EQ(model->page(), std::nullopt);
}

TEST_F(MainWindowTest, TabsWordmarkAndSelectionFollowTheModel)
{
    open();
    auto selected = [this] {
        QList<Tab> on;
        for (Tab tab : kAllTabs) {
            auto* button = find<TabButton>(rawValue(tab) + u"Tab"_s);
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(button);
            EXPECT_EQ(a->state().selected, button->selected());
            EXPECT_EQ(a->role(), QAccessible::PageTab);
            if (button->selected())
                on.append(tab);
        }
        return on;
    };
    EXPECT_EQ(selected(), QList<Tab>{Tab::plugins});
    // Each tab opens with its own heading, a heading to a screen reader,
    // its title at the same place in every tab; only the plug-ins tab's
    // carries the refresh button, at the far right; a trailing "Update
    // all" shares the title's first text baseline.
    std::optional<QPoint> titleAt;
    for (Tab tab : kAllTabs) {
        SCOPED_TRACE(rawValue(tab).toStdString());
        model->setTab(tab);
        QWidget* body = view->tabBody()->content();
        ASSERT_EQ(body->objectName(), rawValue(tab) + u"Body"_s);
        // Sized at once for the first paint: no wrapped line cut off.
        QWidget* holder = body->parentWidget();
        EXPECT_EQ(holder->width(), view->tabBody()->viewport()->width());
        EXPECT_GE(holder->height(), holder->heightForWidth(holder->width()));
        auto* title = body->findChild<QLabel*>(u"sectionTitle"_s);
        ASSERT_NE(title, nullptr);
        EXPECT_EQ(title->text(), rawValue(tab));
        EXPECT_EQ(title->textFormat(), Qt::PlainText);
        EXPECT_EQ(QAccessible::queryAccessibleInterface(title)->role(), QAccessible::Heading);
        // Within its heading: the bars above a tab's heading differ.
        const QPoint at = title->pos();
        EXPECT_EQ(at, titleAt.value_or(at)) << "the title moves between tabs";
        titleAt = at;
        auto* head = body->findChild<QWidget*>(u"sectionHead"_s);
        const int baseline = title->y() + title->fontMetrics().ascent();
        auto* updateAll = body->findChild<Kit::Pill*>(u"updateAll"_s);
        EXPECT_EQ(updateAll && !updateAll->isHidden(), tab != Tab::settings);
        if (updateAll && !updateAll->isHidden()) {
            EXPECT_NEAR(updateAll->mapTo(head, QPoint(0, 0)).y() + updateAll->firstBaseline(), baseline, 1);
        }
        auto* refresh = body->findChild<Views::RefreshButton*>();
        EXPECT_EQ(refresh != nullptr, tab == Tab::plugins);
        if (refresh) {
            const QRect button(refresh->mapTo(head, QPoint(0, 0)), refresh->size());
            EXPECT_EQ(button.right(), head->width() - 1);
            EXPECT_TRUE(head->rect().contains(button));
        }
        saveScreenshot(window.get(), u"frame-heading-"_s + rawValue(tab));
    }
    model->setTab(Tab::plugins);
    clickCentre(find(u"settingsTab"_s));
    EXPECT_EQ(model->tab(), Tab::settings);
    EXPECT_EQ(selected(), QList<Tab>{Tab::settings});
    EXPECT_NE(view->findChild<QWidget*>(u"settingsBody"_s), nullptr);

    // With a page open no tab is selected, and the current tab closes it.
    model->setPage(u"echo"_s);
    EXPECT_EQ(selected(), QList<Tab>{});
    clickCentre(find(u"settingsTab"_s));
    EXPECT_EQ(model->page(), std::nullopt);
    EXPECT_EQ(selected(), QList<Tab>{Tab::settings});

    model->setPage(u"echo"_s);
    clickCentre(find(u"wordmark"_s));
    EXPECT_EQ(model->tab(), Tab::plugins);
    EXPECT_EQ(model->page(), std::nullopt);
    EXPECT_EQ(find(u"wordmark"_s)->toolTip(), u"Plugins"_s);
    EXPECT_EQ(find(u"wordmark"_s)->accessibleName(), u"Tarnhub"_s);
}

// Each entry into a tab starts at its top, and the tab left goes once its
// rows are shed, never found in place of the tab that follows it.
TEST_F(MainWindowTest, EachTabStartsAtItsTopAndTheTabLeftGoes)
{
    for (int i = 0; i < 30; ++i) {
        const QString id = u"extra%1"_s.arg(i);
        catalog.products.push_back(plugin(id, u"2.0"_s));
        installer->copies[id] = {copy(PluginFormat::vst3, u"1.0"_s)};
    }
    open();
    QScrollBar* bar = view->tabBody()->verticalScrollBar();
    auto laidOut = [&] {
        return QTest::qWaitFor([&] { return bar->maximum() > 0 && view->tabBody()->content()->height() > 2000; },
                               kPatience);
    };
    ASSERT_TRUE(laidOut());
    QPointer<QWidget> left = view->tabBody()->content();
    for (Tab tab : {Tab::updates, Tab::plugins}) {
        SCOPED_TRACE(rawValue(tab).toStdString());
        bar->setValue(bar->maximum());
        model->setTab(tab);
        EXPECT_EQ(find(rawValue(tab) + u"Body"_s), view->tabBody()->content());
        ASSERT_TRUE(laidOut());
        EXPECT_EQ(bar->value(), 0);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return left.isNull(); }, kPatience)) << "the first tab was never deleted";
}

TEST_F(MainWindowTest, TopBarAndRefreshButtonOnlineAndOffline)
{
    open();
    // The plug-ins tab carries it in its heading.
    auto* refresh = view->tabBody()->content()->findChild<Views::RefreshButton*>();
    ASSERT_NE(refresh, nullptr);
    ASSERT_TRUE(refresh->isVisible());
    auto* tabs = view->topBar()->tabs();
    const QPoint tabsAt = tabs->pos();
    auto* updates = find<TabButton>(u"updatesTab"_s);

    struct Row {
        const char* name;
        bool offline;
    };
    for (const Row& row : {Row{"online", false}, Row{"offline", true}}) {
        SCOPED_TRACE(row.name);
        network->set(!row.offline);
        ASSERT_TRUE(eventually([&] { return model->offline() == row.offline && !model->loading(); }));
        EXPECT_EQ(find(u"offlineTag"_s)->isVisible(), row.offline);
        EXPECT_EQ(refresh->isEnabled(), !row.offline);
        EXPECT_EQ(refresh->toolTip(), u"Check for updates (Ctrl+R)"_s);
        // The strip stays centred whether the tag shows or not.
        EXPECT_EQ(tabs->pos(), tabsAt);
        EXPECT_LE(std::abs(tabs->x() + tabs->width() / 2 - view->topBar()->width() / 2), 1);
        // Two products and the application itself wait for an update.
        EXPECT_TRUE(updates->badge()->isVisible());
        EXPECT_EQ(updates->badge()->text(), u"3"_s);
        EXPECT_EQ(updates->accessibleName(), u"Updates, 3 available"_s);
        EXPECT_EQ(find(u"accountButton"_s)->toolTip(), u"anna.lopez@example.com"_s);
        saveScreenshot(window.get(), u"frame-top-bar-"_s + QString::fromLatin1(row.name));
    }
    // Offline, a press neither refreshes nor spins.
    const qsizetype before = log->calls().size();
    clickCentre(refresh);
    EXPECT_FALSE(model->loading());
    EXPECT_FALSE(refresh->refreshing());
    EXPECT_EQ(log->calls().size(), before);
}

TEST_F(MainWindowTest, TheRefreshButtonSpinsForItsOwnRefreshOnly)
{
    open();
    auto* refresh = view->tabBody()->content()->findChild<Views::RefreshButton*>();
    ASSERT_NE(refresh, nullptr);
    auto held = std::make_shared<Gate>();
    service->accountGate = held;
    const qsizetype before = log->calls().size();

    clickCentre(refresh);
    EXPECT_TRUE(refresh->refreshing());
    ASSERT_TRUE(eventually([&] { return held->reached() == 1; }));
    clickCentre(refresh); // ignored while its refresh runs
    saveScreenshot(refresh, u"frame-refresh-spinning"_s);
    held->open();
    ASSERT_TRUE(eventually([&] { return !refresh->refreshing(); }));
    EXPECT_FALSE(model->loading());
    EXPECT_EQ(refresh->angle(), 0);
    EXPECT_EQ(log->calls().mid(before).filter(u"account "_s).size(), 1);

    // A refresh started elsewhere does not spin it, and a press meanwhile
    // has nothing of its own to wait for.
    service->accountGate = std::make_shared<Gate>();
    model->refresh(true);
    ASSERT_TRUE(model->loading());
    clickCentre(refresh);
    EXPECT_FALSE(refresh->refreshing());
    service->accountGate->open();
    ASSERT_TRUE(eventually([&] { return !model->loading(); }));

    // In motion: the arrow spins while its refresh runs and, once that
    // ends, turns on to rest and stops.
    AnimationsOn motion;
    service->accountGate = std::make_shared<Gate>();
    clickCentre(refresh);
    ASSERT_TRUE(eventually([&] { return service->accountGate->reached() == 1; }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return refresh->turning() && refresh->angle() > 0; }, kPatience));
    service->accountGate->open();
    ASSERT_TRUE(eventually([&] { return !refresh->refreshing(); }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !refresh->turning(); }, kPatience)) << "the arrow still spins";
    EXPECT_EQ(refresh->angle(), 0);
}

TEST_F(MainWindowTest, WithNothingToUpdateTheUpdatesTabHasNoBadge)
{
    catalog.hub.reset();
    installer->copies.clear();
    open();
    auto* updates = find<TabButton>(u"updatesTab"_s);
    EXPECT_FALSE(updates->badge()->isVisible());
    EXPECT_EQ(updates->accessibleName(), u"Updates"_s);
    EXPECT_EQ(find(u"pluginsTab"_s)->accessibleName(), u"Plugins"_s);
    EXPECT_EQ(find(u"settingsTab"_s)->accessibleName(), u"Settings"_s);
}

// One "Update all" of three products: a screen reader hears a name change
// only where the name changed (the updates tab's count), never for a tab,
// a card or a title that reads the same, however many ticks the downloads
// made; and no name it hears carries a decorative symbol.
TEST_F(MainWindowTest, UpdateAllAnnouncesOnlyTheNamesThatChange)
{
    catalog.products.push_back(plugin(u"drift"_s, u"2.1.0"_s));
    installer->copies[u"drift"_s] = {copy(PluginFormat::vst3, u"2.0"_s)};
    installer->steps = {InstallStep::downloading(0.1), InstallStep::downloading(0.4), InstallStep::downloading(0.8),
                        InstallStep::verifying(), InstallStep::installing(), InstallStep::done()};
    open();
    model->setTab(Tab::updates);
    ASSERT_TRUE(eventually([&] { return window->findChild<QWidget*>(u"updatePill"_s) != nullptr; }));
    QCoreApplication::processEvents();
    const auto names = [&] {
        std::map<QObject*, QString> named;
        for (QWidget* w : window->findChildren<QWidget*>())
            if (QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w))
                named[w] = a->text(QAccessible::Name);
        return named;
    };
    // Each pill says what it updates, as the plug-ins tab's do.
    QStringList pills;
    for (QWidget* pill : window->findChildren<QWidget*>(u"updatePill"_s))
        pills.append(spoken(pill)->text(QAccessible::Name));
    pills.sort();
    EXPECT_EQ(pills, (QStringList{u"Update drift to 2.1.0"_s, u"Update echo to 2.0"_s, u"Update notes to 1.1"_s}));

    std::map<QObject*, QString> heard = names();
    AccessEvents events;
    model->requestUpdateAll();
    ASSERT_TRUE(eventually([&] {
        return model->updates().empty() && !stateOf(u"echo"_s).job.isWorking() && !stateOf(u"notes"_s).job.isWorking()
               && !stateOf(u"drift"_s).job.isWorking();
    }));
    QCoreApplication::processEvents();
    QStringList repeated;
    int changes = 0;
    for (const AccessEvents::Event& event : events.events()) {
        if (event.type != QAccessible::NameChanged)
            continue;
        ++changes;
        const auto before = heard.find(event.object);
        if (before != heard.end() && before->second == event.name)
            repeated.append(event.sender + u": "_s + event.name);
        heard[event.object] = event.name;
    }
    EXPECT_EQ(repeated, QStringList()) << "a name change that changed nothing";
    EXPECT_GE(events.count(QAccessible::NameChanged, find(u"updatesTab"_s)), 1) << "the count went down unheard";
    EXPECT_GT(changes, 0);
    for (const auto& [object, name] : names())
        for (const QString& symbol : {u"·"_s, u"↗"_s, u"←"_s})
            EXPECT_FALSE(name.contains(symbol)) << object->objectName().toStdString() << ": " << name.toStdString();
}

class AccountMenuTest : public FrameFixture {};

TEST_F(AccountMenuTest, HeaderShowsWhoIsSignedIn)
{
    struct Row {
        const char* name;
        QString userName;
        bool accountFails;
        QString shownName; // empty: no name line
        QString email;     // empty: no e-mail line
        QString initials;
    };
    const Row rows[] = {
        {"name and e-mail", u"Anna Maria Lopez"_s, false, u"Anna Maria Lopez"_s, u"anna.lopez@example.com"_s, u"AL"_s},
        {"no name", QString(), false, QString(), u"anna.lopez@example.com"_s, u"A"_s},
        {"long name", u"Anna Maria Lopez de la Fuente y Castellanos del Río Mastering and Recording Studio Sound"_s, false,
         u"Anna Maria Lopez de la Fuente y Castellanos del Río Mastering and Recording Studio Sound"_s, u"anna.lopez@example.com"_s, u"AS"_s},
        {"not loaded yet", u"Anna Maria Lopez"_s, true, u"Signed in"_s, QString(), u"·"_s},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        window.reset();
        if (model)
            model->shutdown();
        model.reset();
        user.name = row.userName;
        if (row.accountFails)
            service->accountError = HubError::message(u"The service is down."_s);
        open();
        model->setAccountMenu(true);
        auto* button = find<Views::AccountButton>(u"accountButton"_s);
        EXPECT_EQ(button->shownText(), row.initials);
        EXPECT_EQ(button->accessibleName(), u"Account"_s);
        EXPECT_EQ(button->toolTip(), row.accountFails ? u"Account"_s : user.email);
        auto* name = view->findChild<QLabel*>(u"accountName"_s);
        EXPECT_EQ(name ? name->text() : QString(), row.shownName);
        // A name that wraps gets every one of its lines.
        if (name) {
            EXPECT_GE(name->height(), name->heightForWidth(name->width()));
        }
        auto* email = view->findChild<QLabel*>(u"accountEmail"_s);
        EXPECT_EQ(email ? email->accessibleName() : QString(), row.email);
        auto* menu = find(u"accountMenu"_s);
        EXPECT_EQ(menu->width(), 270);
        EXPECT_EQ(menu->geometry().topRight(), QPoint(view->width() - 16 - 1, 48));
        EXPECT_EQ(find(u"signOutRow"_s)->geometry().bottom(), menu->height() - 8 - 1);
        EXPECT_EQ(find(u"accountPageRow"_s)->property("text").toString(), u"Account on tarnaudio.example ↗"_s);
        saveScreenshot(window.get(), u"frame-account-menu-"_s + QString::fromLatin1(row.name).replace(u' ', u'-'));
        service->accountError.reset();
    }
}

TEST_F(AccountMenuTest, ALongAddressStaysOnOneLineShortenedInTheMiddle)
{
    user.email = u"a.very.long.address.for.somebody@studio-with-a-long-domain-name.example.com"_s;
    open();
    model->setAccountMenu(true);
    auto* email = find<Kit::ElidedLabel>(u"accountEmail"_s);
    EXPECT_EQ(find(u"accountMenu"_s)->width(), 270);
    EXPECT_TRUE(email->shownText().contains(u"…"_s));
    EXPECT_TRUE(email->shownText().startsWith(u"a.very"_s));
    EXPECT_TRUE(email->shownText().endsWith(u".com"_s));
    EXPECT_EQ(email->height(), email->fontMetrics().height());
    saveScreenshot(find(u"accountMenu"_s), u"frame-account-menu-long-address"_s);
}

TEST_F(AccountMenuTest, RowsOpenTheAccountPageAndSignOut)
{
    open();
    model->setAccountMenu(true);
    auto* row = find<Views::MenuRow>(u"accountPageRow"_s);
    QTest::mouseMove(row, row->rect().center());
    EXPECT_TRUE(row->hovered());
    saveScreenshot(find(u"accountMenu"_s), u"frame-account-menu-hover"_s);
    clickCentre(row);
    EXPECT_FALSE(model->accountMenu());
    ASSERT_TRUE(eventually([&] { return !workspace->opened.isEmpty(); }));
    EXPECT_EQ(workspace->opened, QStringList{u"https://tarnaudio.example/account?t=1"_s});

    // Reopened, the rows start without hover.
    QTest::mouseMove(view, QPoint(20, 400));
    model->setAccountMenu(true);
    EXPECT_FALSE(find<Views::MenuRow>(u"accountPageRow"_s)->hovered());
    clickCentre(find(u"signOutRow"_s));
    ASSERT_TRUE(eventually([&] { return model->screen() == Screen::login; }));
    EXPECT_FALSE(model->accountMenu());
    EXPECT_TRUE(eventually([&] { return log->calls().contains(u"service signOut tok-1"_s); }));
}

class DAWConfirmationTest : public FrameFixture {};

TEST_F(DAWConfirmationTest, AskedOnlyAfterTheSheetClosedAndRunsTheWorkOnceOnConfirm)
{
    daws = {u"Logic Pro"_s};
    open();
    struct Row {
        const char* name;
        bool closeByModel; // else the user closes the sheet window
        std::function<void(Kit::ConfirmDialog*)> answer;
        int installs;
    };
    const Row rows[] = {
        {"confirmed", true, [](Kit::ConfirmDialog* d) { QTest::mouseClick(d->confirmButton(), Qt::LeftButton, {}, d->confirmButton()->rect().center()); }, 1},
        {"cancelled", false, [](Kit::ConfirmDialog* d) { QTest::mouseClick(d->cancelButton(), Qt::LeftButton, {}, d->cancelButton()->rect().center()); }, 0},
        {"dismissed", true, [](Kit::ConfirmDialog* d) { d->close(); }, 0},
    };
    const Product reverb = *catalog.product(u"reverb"_s);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        installer->copies.erase(u"reverb"_s);
        const qsizetype before = log->calls().filter(u"install reverb"_s).size();

        model->setSheet(Sheet::install(u"reverb"_s));
        ASSERT_NE(view->sheetView(), nullptr);
        EXPECT_TRUE(view->sheetView()->isVisible());
        model->requestInstall(reverb, {PluginFormat::vst3}, InstallScope::user);
        ASSERT_TRUE(model->dawWarning().has_value());
        EXPECT_EQ(view->dawConfirmation(), nullptr) << "asked while the sheet is up";

        if (row.closeByModel)
            model->setSheet(std::nullopt);
        else
            view->sheetView()->reject();
        EXPECT_EQ(model->sheet(), std::nullopt);
        EXPECT_EQ(view->sheetView(), nullptr);
        Kit::ConfirmDialog* dialog = view->dawConfirmation();
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog, kPatience));
        EXPECT_EQ(child<QLabel>(dialog, u"confirmTitle"_s)->text(), u"Logic Pro is open"_s);
        EXPECT_EQ(dialog->confirmButton()->text(), u"Continue anyway"_s);
        EXPECT_TRUE(child<QLabel>(dialog, u"confirmMessage"_s)->text().startsWith(u"Close it first so it loads the new version."_s));
        saveScreenshot(dialog, u"frame-daw-confirmation"_s);

        row.answer(dialog);
        EXPECT_FALSE(model->dawWarning().has_value());
        if (row.installs) {
            ASSERT_TRUE(eventually([&] { return stateOf(u"reverb"_s).job.kind == Job::Kind::done; }));
        }
        // Nothing further happens once everything has settled.
        ASSERT_TRUE(eventually([&] { return !model->busy() && view->dawConfirmation() == nullptr; }));
        QCoreApplication::processEvents();
        EXPECT_EQ(log->calls().filter(u"install reverb"_s).size() - before, row.installs);
    }
}

TEST(DAWTitle, NamesTheRunningDAWsWithTheRightVerb)
{
    struct Row {
        QStringList daws;
        QString title;
    };
    const Row rows[] = {
        {{u"Logic Pro"_s}, u"Logic Pro is open"_s},
        {{u"Logic Pro"_s, u"Ableton Live"_s}, u"Logic Pro and Ableton Live are open"_s},
        {{u"Logic Pro"_s, u"Ableton Live"_s, u"Reaper"_s}, u"Logic Pro, Ableton Live, and Reaper are open"_s},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Views::MainView::dawTitle(row.daws), row.title);
}

} // namespace
} // namespace Hub::Test
