#pragma once

#include "Kit/HoverButton.h"

#include "Catalog/CatalogRecords.h"

#include <QStringList>
#include <QAbstractButton>
#include <QList>
#include <QWidget>

#include <vector>

class QGridLayout;

namespace Hub {
class HubModel;
}

namespace Hub::Kit {
class ElidedLabel;
}

namespace Hub::Views {

// One announced product: its outlined tile, its name and formats. A press
// opens the product's page. It keeps the product's identifier and reads the
// product from the model when it draws.
class SoonCell : public Kit::HoverButton {
    Q_OBJECT

public:
    SoonCell(HubModel* model, const QString& productID, QWidget* parent = nullptr);

    const QString& productID() const { return m_productID; }
    // The product now; null once it is no longer shown.
    const Product* product() const;
    // Reads the product's name, formats and tagline again.
    void sync();
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
    QString m_productID;
    Kit::ElidedLabel* m_name;
    Kit::ElidedLabel* m_formats;
    bool m_leading = false;
    bool m_top = false;
};

// The coming-soon grid: up to five columns, lines only between cells.
// Cells are kept per product id, so a new list reuses the cells it can.
class SoonStrip : public QWidget {
    Q_OBJECT

public:
    explicit SoonStrip(HubModel* model, QWidget* parent = nullptr);

    // The products by identifier, in order; identifiers not shown are skipped.
    void setProducts(const QStringList& ids);
    int columns() const { return m_columns; }
    QList<SoonCell*> cells() const { return m_cells; }

private:
    HubModel* m_model;
    QGridLayout* m_grid;
    QList<SoonCell*> m_cells;
    int m_columns = 1;
};

} // namespace Hub::Views
