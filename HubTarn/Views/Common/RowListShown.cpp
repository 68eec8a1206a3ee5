// The rows of a RowList near the part of it the window shows: which of them
// are out of the hidden store, and how Tab walks through them.

#include "Views/Common/RowList.h"

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QScrollBar>

#include <algorithm>
#include <utility>

namespace Hub::Views {

namespace {

// A screen reader reads the list's children in the order they joined it,
// the order the rows came out of the store: the rows shown, each with its
// index, stand in the list's order among them, top to bottom as on screen.
void stackInOrder(QWidget* list, std::vector<std::pair<int, ListRow*>> shown)
{
    std::sort(shown.begin(), shown.end());
    auto next = shown.begin();
    for (const QObject* child : list->children())
        if (next != shown.end() && child == next->second)
            ++next;
    if (next == shown.end())
        return;
    // Bottom up, each under the one below it: a row already in its place
    // stays, so only those out of place are drawn again.
    for (std::size_t i = shown.size() - 1; i-- > 0;)
        shown[i].second->stackUnder(shown[i + 1].second);
    QAccessibleEvent reordered(list, QAccessible::ObjectReorder);
    QAccessible::updateAccessibility(&reordered);
}

} // namespace

QWidget* RowList::lastStop(ListRow* row)
{
    QWidget* last = row;
    for (QWidget* control : row->findChildren<QWidget*>())
        if (control->focusPolicy() & Qt::TabFocus)
            last = control;
    return last;
}

QRect RowList::inView() const
{
    if (!isVisible())
        return {};
    // Clipped by the window and the scrolling column only: the cards
    // around the list still have its old height when rows that are about
    // to grow it ask whether the window shows where they go.
    constexpr int kFar = 1 << 24;
    QRect area(0, -kFar, width(), 2 * kFar);
    QPoint offset;
    for (const QWidget* w = this; !w->isWindow() && w->parentWidget(); w = w->parentWidget()) {
        offset += w->pos();
        area.translate(w->pos());
        const QWidget* parent = w->parentWidget();
        const auto* scroll = qobject_cast<const QAbstractScrollArea*>(parent->parentWidget());
        if (parent->isWindow() || (scroll && scroll->viewport() == parent))
            area &= parent->rect();
    }
    return area.translated(-offset);
}

void RowList::reveal()
{
    if (m_shedding)
        return;
    // Each row with its index, -1 where not known.
    std::vector<std::pair<ListRow*, int>> wanted;
    const int count = int(m_slots.size());
    const std::vector<int> before = std::exchange(m_shownAt, {});
    const auto want = [&](int index) {
        if (index >= 0 && index < count && m_slots[std::size_t(index)]) {
            wanted.emplace_back(m_slots[std::size_t(index)], index);
            m_shownAt.push_back(index);
        }
    };
    const QRect view = inView();
    if (view.isEmpty() || m_tops.size() != m_slots.size() + 1) {
        // Not on screen: the top, as the list first shows, and the places
        // shown before, until the list knows where it is seen again.
        for (int i = 0; i < kFirstRows; ++i)
            want(i);
        for (int i : before)
            want(i);
    } else {
        // A screen's height more on either side: a step of the wheel or of
        // the keyboard never uncovers a row not yet shown.
        const int margin = std::max(view.height(), 1);
        const auto first = std::upper_bound(m_tops.begin(), m_tops.end(), view.top() - margin);
        const auto last = std::lower_bound(m_tops.begin(), m_tops.end(), view.bottom() + margin);
        for (int i = std::max(int(first - m_tops.begin()) - 1, 0); i < std::min(int(last - m_tops.begin()), count); ++i)
            want(i);
    }
    // Where Tab enters the list from above and from below.
    want(0);
    for (int i = count - 1; i >= 0; --i)
        if (m_slots[std::size_t(i)]) {
            want(i);
            break;
        }
    // Tab and Backtab go from the focused row to the ones beside it.
    if (ListRow* focused = focusedRow()) {
        if (m_focusIndex < 0 || m_focusIndex >= count || m_slots[std::size_t(m_focusIndex)] != focused)
            m_focusIndex = int(m_ids.indexOf(focused->productID()));
        for (int i = m_focusIndex - 1; m_focusIndex >= 0 && i <= m_focusIndex + 1; ++i)
            want(i);
    }
    if (m_moving)
        for (const Move& move : m_moves)
            if (move.row)
                wanted.emplace_back(move.row, -1);
    // By row, the known index first.
    std::sort(wanted.begin(), wanted.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second > b.second;
    });
    wanted.erase(std::unique(wanted.begin(), wanted.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
                 wanted.end());
    const auto isWanted = [&wanted](const ListRow* row) {
        const auto at = std::lower_bound(wanted.begin(), wanted.end(), row,
                                         [](const auto& entry, const ListRow* key) { return entry.first < key; });
        return at != wanted.end() && at->first == row;
    };
    // Qt takes a widget that changes parents out of the keyboard's order:
    // each row moved is put back after the one above it.
    std::vector<std::pair<int, ListRow*>> places;
    const auto placed = [&](ListRow* row, int index) {
        if (index < 0 || index >= count || m_slots[std::size_t(index)] != row)
            index = int(m_ids.indexOf(row->productID()));
        places.emplace_back(index, row);
    };
    for (const auto& [row, index] : m_shown)
        if (row && m_made.value(row->productID()) == row && !isWanted(row)) {
            row->setParent(m_store);
            placed(row, index);
        }
    m_shown.assign(wanted.begin(), wanted.end());
    for (const auto& [row, index] : wanted) {
        if (row->parentWidget() != this) {
            row->setParent(this);
            placed(row, index);
        }
        if (row->isHidden())
            row->show();
    }
    std::sort(places.begin(), places.end());
    for (const auto& [index, row] : places) {
        if (index < 0)
            continue;
        int above = index - 1;
        while (above >= 0 && !m_slots[std::size_t(above)])
            --above;
        QWidget* previous = above < 0 ? m_anchor : lastStop(m_slots[std::size_t(above)]);
        chainAfter(previous, row);
    }
    std::vector<std::pair<int, ListRow*>> order;
    order.reserve(wanted.size());
    for (const auto& [row, index] : wanted)
        order.emplace_back(index >= 0 ? index : int(m_ids.indexOf(row->productID())), row);
    stackInOrder(this, std::move(order));
}

ListRow* RowList::focusedRow() const
{
    // A row being destroyed gives up the focus while it is only a QWidget:
    // it is no row any more.
    return qobject_cast<ListRow*>(m_focused.data());
}

void RowList::focusMoved(QWidget* now)
{
    QWidget* child = now;
    while (child && child->parentWidget() != this)
        child = child->parentWidget();
    auto* row = qobject_cast<ListRow*>(child);
    if (row == focusedRow())
        return;
    m_focused = row;
    m_focusIndex = -1;
    reveal();
}

void RowList::chainAfter(QWidget*& previous, ListRow* row)
{
    // Tab goes through each row and then its own controls (its action
    // button) before the next row.
    const auto chain = [&previous](QWidget* next) {
        QWidget::setTabOrder(previous, next);
        previous = next;
    };
    chain(row);
    for (QWidget* control : row->findChildren<QWidget*>())
        if (control->focusPolicy() & Qt::TabFocus)
            chain(control);
}

void RowList::chainAll()
{
    QWidget* previous = m_anchor;
    for (ListRow* made : m_slots)
        if (made)
            chainAfter(previous, made);
}

void RowList::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The page scrolls the list: rows show as they come near.
    QAbstractScrollArea* scroller = nullptr;
    for (QWidget* w = parentWidget(); w && !scroller; w = w->parentWidget())
        scroller = qobject_cast<QAbstractScrollArea*>(w);
    if (scroller != m_scroller) {
        if (m_scroller)
            m_scroller->verticalScrollBar()->disconnect(this);
        m_scroller = scroller;
        if (scroller) {
            connect(scroller->verticalScrollBar(), &QScrollBar::valueChanged, this, &RowList::reveal);
            // The window grew or shrank: its view with it.
            connect(scroller->verticalScrollBar(), &QScrollBar::rangeChanged, this, &RowList::reveal);
        }
    }
    reveal();
}

void RowList::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    reveal();
}

} // namespace Hub::Views
