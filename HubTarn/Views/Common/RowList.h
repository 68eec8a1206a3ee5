#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <utility>
#include <vector>

class QAbstractScrollArea;
class QTimer;

namespace Hub {
class HubModel;
struct Product;
} // namespace Hub

namespace Hub::Kit {
class Tween;
}

namespace Hub::Views {

// One row of a list of products. It holds the product's identifier, never
// a copy of the product, and reads the product from the model each time it
// draws. Keyboard users reach it with Tab; Return or Space activates it.
class ListRow : public QWidget {
    Q_OBJECT

public:
    ListRow(HubModel* model, const QString& productID, QWidget* parent = nullptr);

    const QString& productID() const { return m_productID; }
    // The product now; null once it is no longer shown.
    const Product* product() const;

    // The product's state changed: the row redraws itself alone and renews
    // its spoken name. Rows with child controls override it to renew them.
    virtual void sync();

Q_SIGNALS:
    void activated();

protected:
    HubModel* model() const { return m_model; }
    // What a screen reader says for the row; the model's sentence by default.
    virtual QString spokenText() const;
    void keyPressEvent(QKeyEvent* event) override;

private:
    HubModel* m_model;
    QString m_productID;
};

// A column of product rows keyed by identifier: the one way the views list
// products. setIDs() keeps the row of every identifier it already shows,
// deletes those of identifiers gone and puts them in the order given (the
// keyboard's order too). Rows of newcomers are made in order from the top:
// the first screenful at once, the rest a few milliseconds at a time
// between the window's other events, so a catalog of thousands never holds
// the window up; the list is as tall as all its rows from the start. A
// product's state change reaches that product's row only, so a download's
// progress redraws one row; the owner calls setIDs() when its lists change
// (statesChanged, catalogChanged).
//
// Only the rows in or near the part of the list the window shows are
// visible widgets, its own children; the rest are made and kept in a hidden
// store, and come out as they scroll near. Leaving a tab then hides a screenful rather than thousands,
// and a row's repaint walks a screenful of siblings. The first and the last
// row and the neighbours of the row holding the keyboard's focus stay
// visible too, so Tab (which skips hidden widgets) enters the list at its
// top or bottom and walks through every row, the page scrolling along.
//
// While animations are on, a change of order moves the rows in view to
// their new places, newcomers in view fade in and rows that leave fade out,
// all in the cards' short ease-out.
class RowList : public QWidget {
    Q_OBJECT

public:
    using MakeRow = std::function<ListRow*(const QString& productID)>;
    RowList(HubModel* model, MakeRow make, QWidget* parent = nullptr);
    ~RowList() override;

    void setIDs(const QStringList& ids);
    const QStringList& ids() const { return m_ids; }
    // The row of that product once it is made; null before and when the
    // product is not listed.
    ListRow* row(const QString& productID) const;
    // The rows made so far, in order.
    std::vector<ListRow*> rows() const;
    bool isFirst(const ListRow* row) const { return !m_ids.isEmpty() && m_ids.front() == row->productID(); }
    bool isLast(const ListRow* row) const { return !m_ids.isEmpty() && m_ids.back() == row->productID(); }
    // Every row reads its product again: those in view at once, the rest
    // with the rows still to make.
    void syncAll();
    // Rows still to be made or read again; settled() says when none are.
    int pending() const;
    // Rows moving or fading now.
    bool animating() const;
    // What the rows stand on: a row sliding past another fills its own
    // ground with it, so the one beneath does not show through. The page's
    // colour unless told.
    void setGround(const QColor& ground) { m_ground = ground; }
    // Stops listening to the model and deletes the rows a slice at a time
    // (deleting thousands at once holds the window up); shed() follows.
    void shedRows();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

Q_SIGNALS:
    void settled();
    void shed();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    struct Move {
        QPointer<ListRow> row;
        int from;
        int to;
    };

    // Made at once by setIDs() at most, fewer when they fill the screen.
    static constexpr int kFirstRows = 32;

    // The column (RowList.cpp): the rows made, read, measured and moved.
    void productChanged(const QString& productID);
    // The catalog or the account changed: the rows of the products
    // concerned read them again.
    void productsChanged();
    // Whether a row out of view, just read again, changed its height.
    bool heightChanged(ListRow* row) const;
    // The rows from `from` down placed again; nothing when `from` < 0.
    void refit(int from);
    ListRow* make(int index);
    // Makes rows in order and reads stale ones again until `budget` ms pass.
    void work(qint64 budget);
    void schedule();
    // Heights at `width` of the made rows, an estimate for the rest.
    int rowHeight(const ListRow* row, int width) const;
    int totalHeight(int width) const;
    // From the row at `from` down.
    void measure(int from = 0);
    void place(int from = 0);
    // Both, telling the layout when the list's height changed.
    void relayOut(int from);
    void animate(const QHash<QString, int>& oldTops, const std::vector<ListRow*>& arrived, int oldHeight);
    void step(qreal progress);
    // The height drawn now: between the old and the new while rows move.
    int shownHeight() const;

    // The rows near the view (RowListShown.cpp): out of the store, and in
    // the keyboard's order.
    // The part of the list the window shows now, in the list's coordinates.
    QRect inView() const;
    // Brings the rows near the view out of the store and puts back those
    // no longer near it.
    void reveal();
    void focusMoved(QWidget* now);
    ListRow* focusedRow() const;
    void chainAfter(QWidget*& previous, ListRow* row);
    void chainAll();
    // The row's last stop of Tab: its own last control, or itself.
    static QWidget* lastStop(ListRow* row);

    HubModel* m_model;
    MakeRow m_make;
    QStringList m_ids;
    // The row of each identifier, null until made.
    std::vector<ListRow*> m_slots;
    QHash<QString, ListRow*> m_made;
    QHash<QString, bool> m_stale;
    // Every index below it has its row.
    int m_next = 0;
    int m_estimate = 0;
    int m_hintWidth = 0;
    int m_minWidth = 0;
    std::vector<int> m_tops;
    int m_height = 0;
    mutable int m_hfwWidth = -1;
    mutable int m_hfwHeight = 0;
    QTimer* m_slice;
    QWidget* m_anchor;
    QWidget* m_store;
    // The rows out of the store, each with the index it had then; back in
    // once out of reach.
    std::vector<std::pair<QPointer<ListRow>, int>> m_shown;
    // Their places in the list when shown.
    std::vector<int> m_shownAt;
    QPointer<QWidget> m_focused; // a row; see focusedRow()
    int m_focusIndex = -1;
    QPointer<QAbstractScrollArea> m_scroller;

    Kit::Tween* m_motion;
    std::vector<Move> m_moves;
    std::vector<QPointer<ListRow>> m_leaving;
    std::vector<QPointer<ListRow>> m_arriving;
    // Rows no longer listed, hidden, deleted with the slices.
    std::vector<QPointer<ListRow>> m_gone;
    QColor m_ground;
    int m_heightFrom = 0;
    bool m_moving = false;
    bool m_shedding = false;
};

// Deletes `content`, a part the window no longer shows (a tab left), after
// the rows of its lists went a slice at a time.
void retire(QWidget* content);

} // namespace Hub::Views
