#pragma once

#include "HoverButton.h"

#include "Catalog/CatalogRecords.h"

#include <QAbstractButton>
#include <QList>
#include <QWidget>

#include <vector>

class QGridLayout;

namespace Hub {
class HubModel;
}

namespace Hub::Kit {
class Tween;
}

namespace Hub::Views {

class ElidedLabel;

// The round "check for updates" button. It spins for exactly as long as
// the refresh its own press started, and is disabled while offline.
class RefreshButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit RefreshButton(HubModel* model, QWidget* parent = nullptr);

    bool refreshing() const { return m_refreshing; }
    // The arrow's turn in degrees, for the paint and for tests.
    qreal angle() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    void press();
    void setRefreshing(bool on);

    HubModel* m_model;
    bool m_refreshing = false;
    Kit::Tween* m_turn;
};

// The small count capsule on the Updates tab: "9+" from ten on. `onInk`
// swaps its two colours for a place that is itself ink.
class CountBadge : public QWidget {
    Q_OBJECT

public:
    CountBadge(int count, bool onInk, QWidget* parent = nullptr);

    void set(int count, bool onInk);
    int count() const { return m_count; }
    bool onInk() const { return m_onInk; }
    QString text() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_count;
    bool m_onInk;
};

// One announced product: its outlined tile, its name and formats. A press
// opens the product's page.
class SoonCell : public HoverButton {
    Q_OBJECT

public:
    SoonCell(HubModel* model, const Product& product, QWidget* parent = nullptr);

    void setProduct(const Product& product);
    const Product& product() const { return m_product; }
    // Hairlines between cells: along the leading edge, along the top.
    void setLines(bool leading, bool top);
    bool leadingLine() const { return m_leading; }
    bool topLine() const { return m_top; }

    static QString formatsText(const Product& product, const QString& separator);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    HubModel* m_model;
    Product m_product;
    ElidedLabel* m_name;
    ElidedLabel* m_formats;
    bool m_leading = false;
    bool m_top = false;
};

// The coming-soon grid: up to five columns, lines only between cells.
// Cells are kept per product id, so a new list reuses the cells it can.
class SoonStrip : public QWidget {
    Q_OBJECT

public:
    explicit SoonStrip(HubModel* model, QWidget* parent = nullptr);

    void setProducts(const std::vector<Product>& products);
    int columns() const { return m_columns; }
    QList<SoonCell*> cells() const { return m_cells; }

private:
    HubModel* m_model;
    QGridLayout* m_grid;
    QList<SoonCell*> m_cells;
    int m_columns = 1;
};

} // namespace Hub::Views
