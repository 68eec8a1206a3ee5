#include "Views/Common/RowList.h"

#include "Kit/Animation.h"
#include "Kit/Control.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QLayout>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <utility>

namespace Hub::Views {

namespace {

// Each later slice of work stops after this long, well inside a frame.
constexpr qint64 kSliceMs = 6;

void fade(QWidget* widget, qreal opacity)
{
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(widget);
        widget->setGraphicsEffect(effect);
    }
    effect->setOpacity(opacity);
}

} // namespace

// ---- ListRow ----------------------------------------------------------------

ListRow::ListRow(HubModel* model, const QString& productID, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_productID(productID)
{
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

const Product* ListRow::product() const { return m_model->product(m_productID); }

void ListRow::sync()
{
    Kit::setSpokenName(this, spokenText());
    update();
}

QString ListRow::spokenText() const
{
    const Product* shown = product();
    return shown ? m_model->spoken(*shown) : QString();
}

void ListRow::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (!event->isAutoRepeat())
            Q_EMIT activated();
        event->accept();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

// ---- RowList ----------------------------------------------------------------

RowList::RowList(HubModel* model, MakeRow make, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_make(std::move(make))
    , m_slice(new QTimer(this))
    , m_motion(new Kit::Tween(this, 1))
    , m_ground(Kit::Theme::bg())
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Where the rows join the keyboard's order: a stop Tab never lands on
    // (it stays hidden), made before any row. Qt will not move a widget
    // that follows its parent directly in that order, so the rows must
    // never be the first there.
    // Rows far from the view wait in the store: Qt walks every child of a
    // widget when it paints one of them or hides them all (leaving a tab),
    // even hidden ones, so the list keeps only a screenful as its own
    // children. Made first, it stays out of the rows' part of that order.
    m_store = new QWidget(this);
    m_store->hide();
    m_anchor = new QWidget(this);
    m_anchor->setFocusPolicy(Qt::TabFocus);
    m_anchor->hide();
    m_slice->setSingleShot(true);
    m_slice->setInterval(0);
    connect(m_slice, &QTimer::timeout, this, [this] { work(kSliceMs); });
    m_motion->onValue = [this](qreal progress) { step(progress); };
    connect(model, &HubModel::productStateChanged, this, &RowList::productChanged);
    // A new catalog or account can change products' texts while the
    // identifiers stay: the rows of those products read them again, every
    // row when the model cannot tell which.
    for (auto changed : {&HubModel::catalogChanged, &HubModel::accountChanged})
        connect(model, changed, this, &RowList::productsChanged);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { focusMoved(now); });
}

RowList::~RowList() { m_motion->onValue = nullptr; }

void RowList::setIDs(const QStringList& ids)
{
    // A list on its way out keeps nothing its owner still asks of it.
    if (ids == m_ids || m_shedding)
        return;
    // A change during a change: the last one ends where it was going.
    if (m_moving)
        m_motion->jumpTo(1);
    const bool animated = Kit::Animation::enabled() && isVisible() && m_height > 0;
    const int oldHeight = m_height;
    QHash<QString, int> oldTops;
    const QRect view = inView();

    QHash<QString, ListRow*> kept;
    kept.reserve(ids.size());
    for (const QString& id : ids)
        if (ListRow* row = m_made.take(id))
            kept.insert(id, row);
    int deleted = 0;
    for (ListRow* gone : std::as_const(m_made)) {
        m_stale.remove(gone->productID());
        if (animated && view.intersects(gone->geometry())) {
            gone->lower();
            m_leaving.emplace_back(gone);
        } else if (++deleted <= kFirstRows) {
            delete gone;
        } else {
            // Thousands gone at once (a smaller catalog) go with the slices.
            gone->hide();
            m_gone.emplace_back(gone);
        }
    }
    m_made = std::move(kept);
    if (animated)
        for (ListRow* row : std::as_const(m_made))
            oldTops.insert(row->productID(), row->y());
    QHash<QString, bool> stale;
    for (auto it = m_stale.cbegin(); it != m_stale.cend(); ++it)
        if (m_made.contains(it.key()))
            stale.insert(it.key(), true);
    m_stale = std::move(stale);
    m_ids = ids;
    m_slots.assign(std::size_t(ids.size()), nullptr);
    for (qsizetype i = 0; i < ids.size(); ++i)
        m_slots[std::size_t(i)] = m_made.value(ids[i]);
    m_tops.clear();
    m_next = 0;
    m_hfwWidth = -1;
    chainAll();

    const QSet<QString> before(oldTops.keyBegin(), oldTops.keyEnd());
    work(-1);
    std::vector<ListRow*> arrived;
    if (animated)
        for (int i = 0; i < m_next; ++i)
            if (!before.contains(m_ids[i]))
                arrived.push_back(m_slots[std::size_t(i)]);
    if (animated) {
        animate(oldTops, arrived, oldHeight);
        reveal();
    }
    if (m_height != oldHeight)
        updateGeometry();
}

std::vector<ListRow*> RowList::rows() const
{
    std::vector<ListRow*> made;
    made.reserve(std::size_t(m_made.size()));
    for (ListRow* row : m_slots)
        if (row)
            made.push_back(row);
    return made;
}

ListRow* RowList::row(const QString& productID) const { return m_made.value(productID); }

void RowList::shedRows()
{
    m_shedding = true;
    m_model->disconnect(this);
    m_slice->stop();
    m_slice->disconnect(this);
    if (m_moving)
        m_motion->jumpTo(1);
    m_ids.clear();
    m_slots.clear();
    m_stale.clear();
    m_next = 0;
    connect(m_slice, &QTimer::timeout, this, [this] {
        QElapsedTimer clock;
        clock.start();
        while (!m_gone.empty() && clock.elapsed() < kSliceMs) {
            delete m_gone.back().data();
            m_gone.pop_back();
        }
        for (auto it = m_made.begin(); it != m_made.end() && clock.elapsed() < kSliceMs;) {
            delete it.value();
            it = m_made.erase(it);
        }
        if (m_made.isEmpty() && m_gone.empty())
            Q_EMIT shed();
        else
            m_slice->start();
    });
    m_slice->start();
}

namespace {

// Not into the lists: a search of every child would visit all their rows.
void collectLists(const QObject* parent, QList<RowList*>& lists)
{
    for (QObject* child : parent->children())
        if (auto* list = qobject_cast<RowList*>(child))
            lists.append(list);
        else
            collectLists(child, lists);
}

} // namespace

void retire(QWidget* content)
{
    QList<RowList*> lists;
    collectLists(content, lists);
    auto left = std::make_shared<qsizetype>(lists.size());
    for (RowList* list : lists) {
        QObject::connect(list, &RowList::shed, content, [content, left] {
            if (--*left == 0)
                content->deleteLater();
        });
        list->shedRows();
    }
    if (lists.isEmpty())
        content->deleteLater();
}

int RowList::pending() const { return int(m_ids.size()) - m_next + int(m_stale.size()) + int(m_gone.size()); }

bool RowList::animating() const { return m_moving; }

void RowList::productChanged(const QString& productID)
{
    if (ListRow* changed = row(productID)) {
        m_stale.remove(productID);
        changed->sync();
        if (heightChanged(changed))
            refit(int(m_ids.indexOf(productID)));
    }
}

bool RowList::heightChanged(ListRow* row) const
{
    // A row in view asks for room itself (see event()). One in the store
    // does not, and its layout waits for it to show before it measures
    // anew: asked now, it tells the height it will show at.
    if (row->parentWidget() == this || m_tops.size() != m_slots.size() + 1)
        return false;
    if (QLayout* layout = row->layout())
        layout->activate();
    return rowHeight(row, width()) != row->height();
}

void RowList::refit(int from)
{
    if (from < 0)
        return;
    relayOut(from);
    reveal();
}

void RowList::productsChanged()
{
    const std::optional<QStringList>& changed = m_model->productsChanged();
    if (!changed) {
        syncAll();
        return;
    }
    if (m_shedding || changed->isEmpty())
        return;
    // As for every row: those in view at once, the rest with the slices.
    const QRect view = inView();
    const auto firstEnd = m_slots.begin() + std::min(kFirstRows, m_next);
    int from = -1;
    for (const QString& id : *changed)
        if (ListRow* made = row(id)) {
            if (view.intersects(made->geometry()) || std::find(m_slots.begin(), firstEnd, made) != firstEnd) {
                m_stale.remove(id);
                made->sync();
                if (heightChanged(made)) {
                    const int index = int(m_ids.indexOf(id));
                    from = from < 0 ? index : std::min(from, index);
                }
            } else {
                m_stale.insert(id, true);
            }
        }
    refit(from);
    schedule();
}

void RowList::syncAll()
{
    if (m_shedding)
        return;
    const QRect view = inView();
    int from = -1;
    for (int i = 0; i < m_next; ++i) {
        ListRow* made = m_slots[std::size_t(i)];
        if (i < kFirstRows || view.intersects(made->geometry())) {
            made->sync();
            if (from < 0 && heightChanged(made))
                from = i;
        } else {
            m_stale.insert(m_ids[i], true);
        }
    }
    refit(from);
    schedule();
}

ListRow* RowList::make(int index)
{
    const QString& id = m_ids[index];
    ListRow* row = m_make(id);
    row->setParent(m_store);
    row->sync();
    m_made.insert(id, row);
    m_slots[std::size_t(index)] = row;
    const int height = rowHeight(row, width());
    if (m_estimate == 0)
        m_estimate = height;
    m_hintWidth = std::max(m_hintWidth, row->sizeHint().width());
    m_minWidth = std::max(m_minWidth, row->minimumSizeHint().width());
    // Its place was kept for it at the height of the others.
    if (std::size_t(index) + 1 < m_tops.size())
        row->setGeometry(0, m_tops[std::size_t(index)], width(), height);
    // reveal() brings those near the view out of the store.
    QWidget* previous = index == 0 ? m_anchor : lastStop(m_slots[std::size_t(index) - 1]);
    chainAfter(previous, row);
    return row;
}

void RowList::work(qint64 budget)
{
    QElapsedTimer clock;
    clock.start();
    // Synchronous (budget < 0): the first screenful whatever it costs, and
    // no more: the rows under it come with the slices before anyone scrolls
    // to them. No window is taller than its screen, and no row is shorter
    // than at the screen's width, so rows that tall at that width fill any
    // window's first frame.
    const QRect screenArea = screen() ? screen()->availableGeometry() : QRect(0, 0, width(), 0);
    int covered = 0;
    const auto more = [&](int done) {
        return budget < 0 ? done < kFirstRows && (covered < screenArea.height() || screenArea.height() <= 0)
                          : done == 0 || clock.elapsed() < budget;
    };
    int done = 0;
    int first = -1;
    bool resized = false;
    for (; m_next < m_ids.size() && more(done); ++m_next) {
        const ListRow* made = m_slots[std::size_t(m_next)];
        if (!made) {
            made = make(m_next);
            const std::size_t i = std::size_t(m_next);
            resized = resized || i + 1 >= m_tops.size() || rowHeight(made, width()) != m_tops[i + 1] - m_tops[i];
            if (first < 0)
                first = m_next;
            ++done;
        }
        if (budget < 0)
            covered += rowHeight(made, screenArea.width());
    }
    while (budget >= 0 && !m_gone.empty() && clock.elapsed() < budget) {
        delete m_gone.back().data();
        m_gone.pop_back();
    }
    // Rows that missed a change of the catalog read it now, those in
    // view first.
    if (budget >= 0 && !m_stale.isEmpty()) {
        const QRect view = inView();
        std::vector<QString> seen;
        for (auto it = m_stale.cbegin(); it != m_stale.cend(); ++it)
            if (view.intersects(m_made.value(it.key())->geometry()))
                seen.push_back(it.key());
        QSet<QString> grown;
        const auto read = [&](const QString& id) {
            ListRow* row = m_made.value(id);
            row->sync();
            if (heightChanged(row))
                grown.insert(id);
        };
        for (const QString& id : seen) {
            m_stale.remove(id);
            read(id);
        }
        for (auto it = m_stale.begin(); it != m_stale.end() && clock.elapsed() < budget;) {
            read(it.key());
            it = m_stale.erase(it);
        }
        // The rows from the highest that grew or shrank move.
        for (int i = 0; !grown.isEmpty() && i < m_ids.size() && (first < 0 || i < first); ++i)
            if (grown.contains(m_ids[i])) {
                first = i;
                break;
            }
        resized = resized || !grown.isEmpty();
    }
    if (budget < 0) {
        measure();
        place();
    } else if (resized) {
        relayOut(first);
    }
    reveal();
    schedule();
}

void RowList::schedule()
{
    if (pending() > 0) {
        if (!m_slice->isActive())
            m_slice->start();
    } else {
        m_slice->stop();
        Q_EMIT settled();
    }
}

int RowList::rowHeight(const ListRow* row, int width) const
{
    if (!row)
        return m_estimate;
    return row->hasHeightForWidth() ? row->heightForWidth(width) : row->sizeHint().height();
}

int RowList::totalHeight(int width) const
{
    int total = 0;
    for (const ListRow* row : m_slots)
        total += rowHeight(row, width);
    return total;
}

void RowList::measure(int from)
{
    if (m_tops.size() != m_slots.size() + 1)
        from = 0;
    m_tops.resize(m_slots.size() + 1);
    int y = from > 0 ? m_tops[std::size_t(from)] : 0;
    for (std::size_t i = std::size_t(std::max(from, 0)); i < m_slots.size(); ++i) {
        m_tops[i] = y;
        y += rowHeight(m_slots[i], width());
    }
    m_tops[m_slots.size()] = y;
    m_height = y;
    m_hfwWidth = -1;
}

void RowList::place(int from)
{
    for (std::size_t i = std::size_t(std::max(from, 0)); i < m_slots.size(); ++i) {
        ListRow* row = m_slots[i];
        if (!row)
            continue;
        const bool moving = m_moving && std::any_of(m_moves.begin(), m_moves.end(), [row](const Move& move) {
            return move.row == row;
        });
        const QRect where(0, m_tops[i], width(), m_tops[i + 1] - m_tops[i]);
        if (moving)
            row->resize(where.size());
        else if (row->geometry() != where)
            row->setGeometry(where);
    }
}

void RowList::relayOut(int from)
{
    const int height = m_height;
    measure(from);
    place(from);
    // Only a new height concerns whoever lays the list out.
    if (height != m_height)
        updateGeometry();
}

void RowList::animate(const QHash<QString, int>& oldTops, const std::vector<ListRow*>& arrived, int oldHeight)
{
    const QRect view = inView();
    m_moves.clear();
    for (qsizetype i = 0; i < m_ids.size(); ++i) {
        const auto old = oldTops.constFind(m_ids[i]);
        if (old == oldTops.cend())
            continue;
        ListRow* row = m_slots[std::size_t(i)];
        const int to = m_tops[std::size_t(i)];
        const QRect from(0, *old, width(), row->height());
        if (*old != to && (view.intersects(from) || view.intersects(from.translated(0, to - *old)))) {
            m_moves.push_back({row, *old, to});
            row->move(0, *old);
            row->installEventFilter(this);
        }
    }
    for (const QPointer<ListRow>& gone : m_leaving)
        fade(gone, 1);
    m_arriving.clear();
    for (ListRow* row : arrived)
        if (view.intersects(row->geometry())) {
            fade(row, 0);
            m_arriving.emplace_back(row);
        }
    m_heightFrom = oldHeight;
    if (m_moves.empty() && m_leaving.empty() && m_arriving.empty() && oldHeight == m_height)
        return;
    m_moving = true;
    m_motion->jumpTo(0);
    m_motion->animateTo(1, Kit::Theme::cardsMs);
}

void RowList::step(qreal progress)
{
    if (!m_moving)
        return;
    for (const Move& move : m_moves)
        if (move.row)
            move.row->move(0, move.from + qRound((move.to - move.from) * progress));
    for (const QPointer<ListRow>& row : m_arriving)
        if (row)
            fade(row, progress);
    for (const QPointer<ListRow>& row : m_leaving)
        if (row)
            fade(row, 1 - progress);
    if (m_heightFrom != m_height) {
        updateGeometry();
        // Each layout around the list asks the one around it only once it
        // has placed its own children: left to the event loop, the frame
        // is painted between, with the list's new height centred in its
        // card's old one, and the rows that keep their place shake. The
        // layouts catch up now, inside out, before the frame is drawn.
        for (QWidget* around = parentWidget(); around; around = around->parentWidget())
            QCoreApplication::sendPostedEvents(around, QEvent::LayoutRequest);
    }
    if (progress < 1)
        return;

    m_moving = false;
    for (const Move& move : m_moves)
        if (move.row)
            move.row->removeEventFilter(this);
    m_moves.clear();
    for (const QPointer<ListRow>& gone : m_leaving)
        delete gone.data();
    m_leaving.clear();
    for (const QPointer<ListRow>& row : m_arriving)
        if (row)
            row->setGraphicsEffect(nullptr);
    m_arriving.clear();
    place();
    reveal();
}

int RowList::shownHeight() const
{
    if (!m_moving)
        return m_height;
    return m_heightFrom + qRound((m_height - m_heightFrom) * m_motion->value());
}

QSize RowList::sizeHint() const { return QSize(m_hintWidth, shownHeight()); }

QSize RowList::minimumSizeHint() const { return QSize(m_minWidth, shownHeight()); }

bool RowList::hasHeightForWidth() const
{
    const ListRow* first = m_slots.empty() ? nullptr : m_slots.front();
    return first && first->hasHeightForWidth();
}

int RowList::heightForWidth(int width) const
{
    if (width == this->width() || m_moving)
        return shownHeight();
    if (width != m_hfwWidth) {
        m_hfwWidth = width;
        m_hfwHeight = totalHeight(width);
    }
    return m_hfwHeight;
}

bool RowList::eventFilter(QObject* watched, QEvent* event)
{
    // Only moving rows are watched. Rows draw on what lies beneath them:
    // two passing each other would print one over the other.
    if (event->type() == QEvent::Paint) {
        QPainter p(static_cast<QWidget*>(watched));
        p.fillRect(static_cast<QPaintEvent*>(event)->rect(), m_ground);
    }
    return QWidget::eventFilter(watched, event);
}

bool RowList::event(QEvent* event)
{
    // A row changed its size or showed: the rows below it move. Only
    // shown rows ask (a hidden one does not, nor does the list's own
    // showing and hiding of rows need more), so only they are measured
    // again: measuring thousands at each step of a scroll would cost more
    // than the frame.
    if (event->type() == QEvent::LayoutRequest) {
        int from = m_tops.size() == m_slots.size() + 1 ? -1 : 0;
        for (std::size_t i = 0; from != 0 && i < m_shownAt.size(); ++i) {
            const std::size_t at = std::size_t(m_shownAt[i]);
            if (at < m_slots.size() && m_slots[at] && rowHeight(m_slots[at], width()) != m_tops[at + 1] - m_tops[at])
                from = from < 0 ? int(at) : std::min(from, int(at));
        }
        if (from < 0)
            return true;
        relayOut(from);
        reveal();
        return true;
    }
    return QWidget::event(event);
}

void RowList::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (event->oldSize().width() == width()) {
        reveal();
        return;
    }
    const int height = m_height;
    measure();
    place();
    if (height != m_height)
        updateGeometry();
    reveal();
}

} // namespace Hub::Views

