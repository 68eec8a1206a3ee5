#include "FrameTestSupport.h"

#include "TestHttpsServer.h"

#include "Kit/Theme.h"
#include "Views/Common/RowList.h"

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

} // namespace
} // namespace Hub::Test
