#pragma once

#include "Catalog/CatalogRecords.h"

#include <QAbstractButton>

namespace Hub::Kit {

// A product's tile: a square with continuous corners and the first letter
// of its shown name in the prose font's bold. Filled (the product is on this
// computer): the catalog's tile colour (else its accent) with the letter in
// its tile text colour (else its accent text). Not filled: the same tile as
// a 1.5-pt outline with the letter in that colour. Only the tile takes
// clicks; rows that draw the tile themselves use Paint::productMark.
class ProductMark : public QAbstractButton {
    Q_OBJECT

public:
    ProductMark(const Product& product, bool filled, qreal size, QWidget* parent = nullptr);

    void setProduct(const Product& product);
    void setFilled(bool filled);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    QPainterPath shape() const;

    Product m_product;
    bool m_filled;
    qreal m_size;
};

} // namespace Hub::Kit
