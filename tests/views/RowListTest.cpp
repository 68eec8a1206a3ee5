#include "FrameTestSupport.h"

#include "TestHttpsServer.h"

#include "Kit/Theme.h"
#include "Kit/ElidedLabel.h"
#include "Views/Common/RowList.h"
#include "Views/Updates/UpdateRow.h"

#include <QAccessible>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>

namespace Hub::Test {
namespace {

// A row that draws its product's name and job word and counts its paints.
class CountingRow : public Views::ListRow {
public:
    using ListRow::ListRow;

    int paints = 0;
    int syncs = 0; // times it read its product again

    QSize sizeHint() const override { return QSize(360, 36); }
    void sync() override
    {
        ++syncs;
        ListRow::sync();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        ++paints;
        QPainter p(this);
        p.fillRect(rect(), hasFocus() ? Kit::Theme::raised() : Kit::Theme::panel());
        p.setPen(Kit::Theme::ink());
        const Product* shown = product();
        const QString word = shown ? model()->state(*shown).job.shortText() : QString();
        p.drawText(rect().adjusted(12, 0, -12, 0), Qt::AlignVCenter, productID() + u"  "_qs + word);
    }
};

// A row that draws only a bar of its own colour where its identifier says,
// on nothing: what lies beneath it shows through.
class BarRow : public Views::ListRow {
public:
    using ListRow::ListRow;

    static QColor colour(const QString& id) { return id == u"left"_qs ? QColor(Qt::red) : QColor(Qt::blue); }
    static int bar(const QString& id) { return id == u"left"_qs ? 20 : 80; }
    QSize sizeHint() const override { return QSize(360, 40); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter(this).fillRect(QRect(bar(productID()), 0, 40, height()), colour(productID()));
    }
};

class RowListTest : public FrameFixture {
protected:
    void showList(const QStringList& ids)
    {
        rows = new Views::RowList(model.get(), [this](const QString& id) { return new CountingRow(model.get(), id); });
        auto* layout = new QVBoxLayout(&holder);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(rows);
        layout->addStretch(1);
        rows->setIDs(ids);
        holder.resize(360, 180);
        holder.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&holder, kPatience));
    }

    CountingRow* row(const QString& id) const { return static_cast<CountingRow*>(rows->row(id)); }

    QWidget holder;
    Views::RowList* rows = nullptr;
};

TEST_F(RowListTest, RowsAreKeptByIdentifierAndReachedByKeyboardInTheirOrder)
{
    startModel();
    showList({u"echo"_qs, u"notes"_qs, u"reverb"_qs, u"tinted"_qs});
    QPointer<Views::ListRow> echo = rows->row(u"echo"_qs);
    QPointer<Views::ListRow> tinted = rows->row(u"tinted"_qs);
    ASSERT_TRUE(echo && tinted);
    EXPECT_EQ(echo->accessibleName(), model->spoken(*model->product(u"echo"_qs)));

    rows->setIDs({u"reverb"_qs, u"echo"_qs, u"notes"_qs});
    EXPECT_EQ(rows->ids(), (QStringList{u"reverb"_qs, u"echo"_qs, u"notes"_qs}));
    EXPECT_EQ(rows->row(u"echo"_qs), echo.data()) << "a row still listed is reused, not rebuilt";
    EXPECT_TRUE(tinted.isNull()) << "the row of a product gone from the list is deleted";
    EXPECT_EQ(rows->row(u"tinted"_qs), nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(rows->row(u"reverb"_qs)->y() < echo->y() && echo->y() < rows->row(u"notes"_qs)->y(), kPatience);

    // Tab walks the rows in their new order; Return activates the focused one.
    holder.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&holder, kPatience));
    rows->row(u"reverb"_qs)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), echo.data());
    QSignalSpy activated(echo.data(), &Views::ListRow::activated);
    QTest::keyClick(echo.data(), Qt::Key_Return);
    EXPECT_EQ(activated.count(), 1);
    saveScreenshot(&holder, u"row-list-reordered"_qs);
}

// A long list is as tall as all its rows at once, makes them between the
// window's other events, and ends with every row in its place and in the
// keyboard's order, also when its order changed while it was still making
// them.
TEST_F(RowListTest, ALongListMadeInSlicesEndsInOrderForEyeAndKeyboard)
{
    startModel();
    QStringList ids;
    for (int i = 0; i < 300; ++i)
        ids.append(u"p"_qs + QString::number(i));
    showList(ids.mid(0, 10));
    const int rowHeight = CountingRow(model.get(), u"x"_qs).sizeHint().height();
    rows->setIDs(ids);
    EXPECT_EQ(rows->sizeHint().height(), 300 * rowHeight);
    EXPECT_GT(rows->pending(), 0) << "300 rows made in one go";
    // In that turn, the rows that fill the tallest window there can be and
    // no more: each costs the turn that opens a tab.
    const int screenful = int(std::ceil(double(holder.screen()->availableGeometry().height()) / rowHeight));
    EXPECT_EQ(rows->rows().size(), std::size_t(screenful));

    QStringList reversed(ids.rbegin(), ids.rend());
    rows->setIDs(reversed);
    ASSERT_TRUE(QTest::qWaitFor([this] { return rows->pending() == 0; }, kPatience));
    ASSERT_EQ(rows->rows().size(), std::size_t(300));
    QWidget* stop = rows->row(reversed.front());
    for (int i = 0; i < 300; ++i) {
        Views::ListRow* row = rows->row(reversed[i]);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->geometry(), QRect(0, i * rowHeight, rows->width(), rowHeight)) << i;
        EXPECT_EQ(stop, row) << "Tab reaches row " << i << " out of order";
        stop = row->nextInFocusChain();
    }
}

// A download's progress is news for that product's row alone: the model
// tells that product only, and the list redraws that one row.
TEST_F(RowListTest, OneProductsDownloadTicksRepaintItsRowOnly)
{
    startModel();
    showList({u"echo"_qs, u"notes"_qs, u"reverb"_qs});
    for (const QString& id : rows->ids())
        QTRY_VERIFY_WITH_TIMEOUT(row(id)->paints > 0, kPatience);

    // Each tick waits on the installer's thread until the views saw it, so
    // no tick is folded into the next.
    std::atomic<int> seen{-1};
    QObject::connect(model.get(), &HubModel::productStateChanged, model.get(), [&](const QString& id) {
        if (id == u"reverb"_qs)
            seen = model->state(*model->product(id)).job.percent();
    });
    installer->steps.clear();
    for (int percent = 10; percent <= 90; percent += 10)
        installer->steps.push_back(InstallStep::downloading(percent / 100.0));
    installer->steps.push_back(InstallStep::verifying());
    installer->afterStep = [&](const InstallStep& step) {
        if (step.kind == InstallStep::Kind::downloading)
            eventually([&] { return seen == int(std::lround(step.fraction * 100)); });
    };
    std::vector<Job::Kind> toldAll; // the reverb job each time every view was told
    int ticks = 0;
    QObject::connect(model.get(), &HubModel::statesChanged, model.get(),
                     [&] { toldAll.push_back(model->state(*model->product(u"reverb"_qs)).job.kind); });
    QObject::connect(model.get(), &HubModel::productStateChanged, model.get(), [&](const QString& id) {
        if (id == u"reverb"_qs && model->state(*model->product(id)).job.kind == Job::Kind::downloading)
            ++ticks;
    });
    for (const QString& id : rows->ids())
        row(id)->paints = 0;

    model->requestInstall(*model->product(u"reverb"_qs), {PluginFormat::vst3}, InstallScope::user);
    ASSERT_TRUE(eventually([this] { return model->state(*model->product(u"reverb"_qs)).job.kind == Job::Kind::done; }));
    QTRY_VERIFY_WITH_TIMEOUT(row(u"reverb"_qs)->paints > 0, kPatience);

    EXPECT_EQ(ticks, 10) << "the download's start and each of its nine steps";
    EXPECT_EQ(std::count(toldAll.begin(), toldAll.end(), Job::Kind::downloading), 1)
        << "only the download's start is news for every view, not its progress";
    EXPECT_EQ(row(u"echo"_qs)->paints, 0);
    EXPECT_EQ(row(u"notes"_qs)->paints, 0);
    EXPECT_EQ(row(u"reverb"_qs)->accessibleName(), model->spoken(*model->product(u"reverb"_qs)));
    // Last: the picture paints every row.
    saveScreenshot(&holder, u"row-list-after-download"_qs);
}

// A refresh every few hours must not make thousands of rows read their
// product again: one that brings the same catalog and only renews the
// account's last contact changes no row, and one where a product changed
// re-reads that product's row alone, which then shows the change.
TEST_F(RowListTest, ARefreshRereadsOnlyTheRowsOfTheProductsItChanged)
{
    TestHttpsServer server;
    std::mutex servedMutex;
    std::string served = catalog.toJson().toStdString();
    server.get("/catalog.json", [&](const httplib::Request&, httplib::Response& response) {
        std::lock_guard lock(servedMutex);
        response.set_content(served, "application/json");
    });
    catalogURL = server.url(u"/catalog.json"_qs);
    caBundle = server.caBundle();
    startModel();
    ASSERT_EQ(model->catalogSource(), CatalogSource::live);
    showList(model->pluginSections().onMac + model->pluginSections().add);
    ASSERT_EQ(rows->ids().size(), 4);
    ASSERT_TRUE(QTest::qWaitFor([this] { return rows->pending() == 0; }, kPatience));

    QSignalSpy catalogs(model.get(), &HubModel::catalogChanged);
    QSignalSpy accounts(model.get(), &HubModel::accountChanged);
    const auto refreshWith = [&](const Catalog& next) {
        {
            std::lock_guard lock(servedMutex);
            served = next.toJson().toStdString();
        }
        for (const QString& id : rows->ids())
            row(id)->syncs = 0;
        catalogs.clear();
        accounts.clear();
        clock->advance(60);
        model->refresh(true);
        return eventually([this] { return !model->loading(); })
               && QTest::qWaitFor([this] { return rows->pending() == 0; }, kPatience);
    };
    const auto syncs = [&] {
        QStringList read;
        for (const QString& id : rows->ids())
            if (row(id)->syncs > 0)
                read.append(id);
        return read;
    };

    ASSERT_TRUE(refreshWith(catalog));
    EXPECT_EQ(accounts.count(), 1) << "the account's last contact is renewed";
    EXPECT_EQ(catalogs.count(), 0);
    EXPECT_EQ(syncs(), QStringList());

    Catalog newer = catalog;
    newer.products[0].release->version = u"3.0"_qs; // echo, 1.0 installed
    ASSERT_TRUE(refreshWith(newer));
    EXPECT_EQ(catalogs.count(), 1);
    EXPECT_EQ(syncs(), QStringList{u"echo"_qs});
    const Product* echo = model->product(u"echo"_qs);
    ASSERT_NE(echo, nullptr);
    EXPECT_EQ(model->caption(*echo).text, u"1.0 → 3.0"_qs);
    EXPECT_EQ(row(u"echo"_qs)->accessibleName(), model->spoken(*echo));
    EXPECT_TRUE(row(u"echo"_qs)->accessibleName().contains(u"1.0 to 3.0"_qs)) << row(u"echo"_qs)->accessibleName().toStdString();
}

// Rows far from the view are hidden widgets, so leaving the tab and
// painting a row do not walk thousands; yet Tab (which skips hidden
// widgets) still enters the list at its first row wherever the page is
// scrolled, goes through every row in order with the page scrolling each
// into view, goes on from a focused row scrolled far away, and Backtab
// enters the list at its last row.
TEST_F(RowListTest, KeyboardReachesEveryRowOfALongListThoughFewAreShown)
{
    startModel();
    QStringList ids;
    for (int i = 0; i < 200; ++i)
        ids.append(u"p"_qs + QString::number(i));
    QScrollArea page;
    auto* column = new QWidget;
    auto* layout = new QVBoxLayout(column);
    auto* before = new QPushButton(u"before"_qs);
    auto* after = new QPushButton(u"after"_qs);
    rows = new Views::RowList(model.get(), [this](const QString& id) { return new CountingRow(model.get(), id); });
    layout->addWidget(before);
    layout->addWidget(rows);
    layout->addWidget(after);
    page.setWidget(column);
    page.setWidgetResizable(true);
    rows->setIDs(ids);
    page.resize(360, 240);
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page, kPatience));
    page.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&page, kPatience));
    ASSERT_TRUE(QTest::qWaitFor([this] { return rows->pending() == 0; }, kPatience));
    const auto shown = [this] {
        const std::vector<Views::ListRow*> made = rows->rows();
        return std::count_if(made.begin(), made.end(), [](const QWidget* row) { return row->isVisible(); });
    };
    EXPECT_LT(shown(), 40) << "a screenful of rows shown, not all 200";

    // The page scrolled to the end, far from the list's first row.
    page.verticalScrollBar()->setValue(page.verticalScrollBar()->maximum());
    before->setFocus(Qt::TabFocusReason);
    for (int i = 0; i < ids.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        Views::ListRow* row = rows->row(ids[i]);
        ASSERT_EQ(QApplication::focusWidget(), row) << "Tab misses row " << i;
        const QRect seen(row->mapTo(page.viewport(), QPoint(0, 0)), row->size());
        ASSERT_TRUE(page.viewport()->rect().contains(seen)) << "row " << i << " is not scrolled into view";
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), after);
    EXPECT_LT(shown(), 40) << "rows scrolled past are hidden again";

    page.verticalScrollBar()->setValue(0);
    after->setFocus(Qt::TabFocusReason);
    QTest::keyClick(after, Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), rows->row(ids.back()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), rows->row(ids[ids.size() - 2]));

    // The wheel took the view far from the focused row: Tab goes on from it.
    page.verticalScrollBar()->setValue(0);
    rows->row(ids[10])->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), rows->row(ids[10]));
    page.verticalScrollBar()->setValue(page.verticalScrollBar()->maximum());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), rows->row(ids[11]));
    saveScreenshot(&page, u"row-list-long-by-keyboard"_qs);
}

// What a screen reader reads: the shown rows among the list's accessible
// children, in the tree's order. It is the order on screen, top to bottom,
// whichever way the rows came out of the hidden store: scrolled up from the
// end of a long list, or moved by a new order.
TEST_F(RowListTest, AssistiveTechnologyReadsTheRowsInTheirOrderOnScreen)
{
    startModel();
    QStringList ids;
    for (int i = 0; i < 300; ++i)
        ids.append(u"p"_qs + QString::number(i));
    QScrollArea page;
    rows = new Views::RowList(model.get(), [this](const QString& id) { return new CountingRow(model.get(), id); });
    page.setWidget(rows);
    page.setWidgetResizable(true);
    rows->setIDs(ids);
    page.resize(360, 240);
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page, kPatience));
    ASSERT_TRUE(QTest::qWaitFor([this] { return rows->pending() == 0; }, kPatience));

    const auto readingOrder = [this] {
        QStringList read;
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(rows);
        for (int i = 0; list && i < list->childCount(); ++i)
            if (auto* row = qobject_cast<Views::ListRow*>(list->child(i)->object());
                row && !list->child(i)->state().invisible)
                read.append(row->productID());
        return read;
    };
    const auto screenOrder = [this] {
        std::vector<Views::ListRow*> shown;
        for (QObject* child : rows->children())
            if (auto* row = qobject_cast<Views::ListRow*>(child); row && row->isVisible())
                shown.push_back(row);
        std::sort(shown.begin(), shown.end(), [](const QWidget* a, const QWidget* b) { return a->y() < b->y(); });
        QStringList seen;
        for (const Views::ListRow* row : shown)
            seen.append(row->productID());
        return seen;
    };

    // Up from the end, a screen at a time.
    QScrollBar* bar = page.verticalScrollBar();
    bar->setValue(bar->maximum());
    for (int step = 0; step < 6; ++step) {
        bar->setValue(bar->value() - bar->pageStep());
        const QStringList seen = screenOrder();
        ASSERT_GT(seen.size(), 2);
        ASSERT_EQ(readingOrder(), seen) << "scrolled up " << step + 1 << " screens";
    }

    // Backward by keyboard from the last row: each row the focus reaches
    // comes out of the store above those shown.
    page.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&page, kPatience));
    rows->row(ids.back())->setFocus(Qt::TabFocusReason);
    for (int step = 0; step < 12; ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        ASSERT_EQ(QApplication::focusWidget(), rows->row(ids[ids.size() - 2 - step]));
        ASSERT_EQ(readingOrder(), screenOrder()) << "walked back " << step + 1 << " rows";
    }

    // A new order moves the rows in view and brings others out of the store.
    QStringList shuffled = ids;
    for (qsizetype i = 0; i + 3 < shuffled.size(); i += 4)
        shuffled.swapItemsAt(i, i + 3);
    rows->setIDs(shuffled);
    ASSERT_TRUE(QTest::qWaitFor([this] { return rows->pending() == 0 && !rows->animating(); }, kPatience));
    EXPECT_EQ(readingOrder(), screenOrder()) << "after a new order";
    saveScreenshot(&page, u"row-list-reading-order"_qs);
}

// Rows that keep their place stay still on screen while the rows of a
// refresh go below the view: the list's height slides, and the cards and
// the column around it follow it frame by frame, never leaving the list
// centred in its card's old height. Rows that pass each other in the slide
// cover each other, each on its own ground.
TEST_F(RowListTest, RowsThatKeepTheirPlaceStayStillAndMovingRowsCoverWhatTheyPass)
{
    startModel();
    QStringList ids;
    for (int i = 0; i < 40; ++i)
        ids.append(u"p"_qs + QString::number(i));
    QScrollArea page;
    auto* column = new QWidget;
    auto* cards = new QVBoxLayout(column);
    // A card: its title over a panel holding the list, a second card below.
    const auto card = [&](Views::RowList* list) {
        auto* box = new QWidget;
        auto* layout = new QVBoxLayout(box);
        layout->addWidget(new QLabel(u"Card"_qs));
        auto* panel = new QWidget;
        (new QVBoxLayout(panel))->addWidget(list);
        layout->addWidget(panel);
        cards->addWidget(box);
    };
    rows = new Views::RowList(model.get(), [this](const QString& id) { return new CountingRow(model.get(), id); });
    auto* below = new Views::RowList(model.get(), [this](const QString& id) { return new CountingRow(model.get(), id); });
    card(rows);
    card(below);
    cards->addStretch(1);
    page.setWidget(column);
    page.setWidgetResizable(true);
    rows->setIDs(ids);
    below->setIDs({u"q0"_qs});
    page.resize(360, 300);
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page, kPatience));
    ASSERT_TRUE(QTest::qWaitFor([this] { return rows->pending() == 0; }, kPatience));
    page.verticalScrollBar()->setValue(100);
    QCoreApplication::processEvents();

    std::vector<std::pair<QPointer<Views::ListRow>, int>> inView;
    for (Views::ListRow* row : rows->rows())
        if (row->isVisible() && page.viewport()->rect().intersects(QRect(row->mapTo(page.viewport(), QPoint()), row->size())))
            inView.emplace_back(row, row->mapTo(page.viewport(), QPoint()).y());
    ASSERT_GE(inView.size(), std::size_t(4));
    int frames = 0;
    int worst = 0;
    FrameClock clock;
    // Half the rows go to the card below, as a refresh that finds them
    // elsewhere would do.
    rows->setIDs(ids.mid(0, 20));
    below->setIDs(QStringList{u"q0"_qs} + ids.mid(20));
    while (rows->animating() || below->animating()) {
        clock.frame();
        ++frames;
        for (const auto& [row, y] : inView) {
            ASSERT_TRUE(row);
            worst = std::max(worst, std::abs(row->mapTo(page.viewport(), QPoint()).y() - y));
        }
    }
    EXPECT_GT(frames, 4) << "the slide takes several frames";
    EXPECT_EQ(worst, 0) << "rows that keep their place moved on screen during the slide";

    // Two rows trade places: where they overlap, only the one on top shows.
    auto* over = new Views::RowList(model.get(), [this](const QString& id) { return new BarRow(model.get(), id); });
    QWidget ground;
    QPalette palette = ground.palette();
    palette.setColor(QPalette::Window, Qt::white);
    ground.setPalette(palette);
    ground.setAutoFillBackground(true);
    (new QVBoxLayout(&ground))->addWidget(over);
    over->setGround(Qt::white);
    over->setIDs({u"left"_qs, u"right"_qs});
    ground.resize(360, 120);
    ground.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&ground, kPatience));
    Views::ListRow* left = over->row(u"left"_qs);
    Views::ListRow* right = over->row(u"right"_qs);
    over->setIDs({u"right"_qs, u"left"_qs});
    int overlapping = 0;
    while (over->animating()) {
        clock.frame();
        const QRect both = left->geometry() & right->geometry();
        if (both.height() < 4)
            continue;
        ++overlapping;
        const QImage seen = over->grab().toImage();
        for (int y = both.top(); y <= both.bottom(); ++y)
            ASSERT_FALSE(seen.pixelColor(BarRow::bar(u"left"_qs) + 20, y) == BarRow::colour(u"left"_qs)
                         && seen.pixelColor(BarRow::bar(u"right"_qs) + 20, y) == BarRow::colour(u"right"_qs))
                << "both rows print at y " << y;
        if (overlapping == 3)
            saveScreenshot(&ground, u"row-list-rows-passing"_qs);
    }
    EXPECT_GT(overlapping, 2) << "the rows pass each other over several frames";
    EXPECT_EQ(left->y(), right->height());
}

// Update rows over a live catalog the test changes between refreshes, in a
// page that scrolls: `count` products wait for an update, none with a note.
class RowListCatalogTest : public RowListTest {
protected:
    void SetUp() override
    {
        RowListTest::SetUp();
        m_server.get("/catalog.json", [this](const httplib::Request&, httplib::Response& response) {
            const std::lock_guard lock(m_mutex);
            response.set_content(m_live.toStdString(), "application/json");
        });
        caBundle = m_server.caBundle();
        catalogURL = m_server.url(u"/catalog.json"_qs);
    }

    void showUpdates(int count, int width = 720)
    {
        catalog.products.clear();
        installer->copies.clear();
        for (int i = 0; i < count; ++i) {
            const QString id = u"p"_qs + QString::number(i).rightJustified(3, u'0');
            catalog.products.push_back(plugin(id, u"2.0"_qs));
            installer->copies[id] = {copy(PluginFormat::vst3, u"1.0"_qs)};
            ids.append(id);
        }
        serve(catalog);
        ASSERT_NO_FATAL_FAILURE(startModel());
        rows = new Views::RowList(model.get(), [this](const QString& id) { return new Views::UpdateRow(model.get(), id); });
        page.setWidget(rows);
        page.setWidgetResizable(true);
        rows->setIDs(ids);
        page.resize(width, 400);
        page.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&page, kPatience));
        ASSERT_TRUE(QTest::qWaitFor([this] { return rows->pending() == 0; }, kPatience));
    }

    void serve(const Catalog& live)
    {
        const std::lock_guard lock(m_mutex);
        m_live = live.toJson();
    }

    // The model takes `live` as its new catalog; the list then reads it.
    void refreshTo(const Catalog& live)
    {
        serve(live);
        QSignalSpy changed(model.get(), &HubModel::catalogChanged);
        model->refresh(true);
        ASSERT_TRUE(eventually([&] { return !changed.isEmpty() && !model->loading(); }));
        ASSERT_TRUE(QTest::qWaitFor([this] { return rows->pending() == 0; }, kPatience));
        settle();
    }

    // The layout requests of rows that changed their height are answered.
    static void settle()
    {
        for (int i = 0; i < 4; ++i)
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    }

    // The height the row asks for at the list's width, its layout brought
    // up to date (a hidden row's waits until it shows).
    int wanted(Views::ListRow* row) const
    {
        if (row->layout())
            row->layout()->activate();
        return row->hasHeightForWidth() ? row->heightForWidth(rows->width()) : row->sizeHint().height();
    }

    // Each shown row starts where the one above it ends, at its own height
    // for the list's width; the list is as tall as its rows.
    void expectShownRowsStacked(const char* when) const
    {
        const std::vector<Views::ListRow*> made = rows->rows();
        int y = 0;
        int shown = 0;
        for (std::size_t i = 0; i < made.size(); ++i) {
            Views::ListRow* row = made[i];
            const int height = wanted(row);
            if (row->isVisible()) {
                ++shown;
                EXPECT_EQ(row->y(), y) << when << ": row " << i;
                EXPECT_EQ(row->height(), height) << when << ": row " << i;
            }
            y += height;
        }
        EXPECT_GT(shown, 3) << when;
        EXPECT_EQ(rows->height(), y) << when;
    }

    QScrollArea page;
    QStringList ids;

private:
    TestHttpsServer m_server;
    std::mutex m_mutex;
    QByteArray m_live;
};

// A row that grows, its job's line shown under it, moves every row below
// it down: in view, below the view and above it, wherever the page is
// scrolled, also when it grew out of view.
TEST_F(RowListCatalogTest, ARowThatGrowsMovesTheRowsBelowIt)
{
    const QStringList growing{u"p001"_qs, u"p030"_qs, u"p058"_qs};
    std::vector<std::shared_ptr<Gate>> gates;
    for (const QString& id : growing)
        gates.push_back(installer->gates[id] = std::make_shared<Gate>());
    ASSERT_NO_FATAL_FAILURE(showUpdates(60));
    expectShownRowsStacked("at first");
    const int plain = rows->row(growing[0])->height();

    for (const QString& id : growing)
        model->requestInstall(*model->product(id), model->updateFormats(*model->product(id)), model->scope());
    ASSERT_TRUE(eventually([&] {
        return std::all_of(gates.begin(), gates.end(), [](const auto& gate) { return gate->reached() == 1; });
    }));
    settle();
    for (const QString& id : growing)
        EXPECT_GT(wanted(rows->row(id)), plain) << id.toStdString() << ": the job's line makes the row taller";
    expectShownRowsStacked("growing, at the top");
    // Straight to the end, past the row that grew out of view.
    QScrollBar* bar = page.verticalScrollBar();
    for (int value : {bar->maximum(), bar->maximum() / 2, 0, bar->maximum()}) {
        bar->setValue(value);
        settle();
        expectShownRowsStacked(value == 0 ? "scrolled back up" : "scrolled down");
    }
    saveScreenshot(&page, u"row-list-grown-rows"_qs);
    for (const auto& gate : gates)
        gate->open();
}

// A new catalog reaches every row, also those past the first screen and out
// of view above and below it: each reads its product again.
TEST_F(RowListCatalogTest, ANewCatalogReachesEveryRowAlsoThoseOutOfView)
{
    ASSERT_NO_FATAL_FAILURE(showUpdates(300));
    QScrollBar* bar = page.verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    settle();

    Catalog renamed = catalog;
    for (Product& product : renamed.products)
        product.displayName = u"Renamed "_qs + product.id;
    ASSERT_NO_FATAL_FAILURE(refreshTo(renamed));
    const std::vector<Views::ListRow*> made = rows->rows();
    ASSERT_EQ(made.size(), std::size_t(300));
    for (std::size_t i = 0; i < made.size(); ++i) {
        const Views::ListRow* row = made[i];
        EXPECT_EQ(child<Kit::ElidedLabel>(const_cast<Views::ListRow*>(row), u"updateName"_qs)->text(),
                  u"Renamed "_qs + row->productID())
            << "row " << i;
        EXPECT_EQ(row->accessibleName(), model->spoken(*row->product())) << "row " << i;
    }
}

} // namespace
} // namespace Hub::Test
