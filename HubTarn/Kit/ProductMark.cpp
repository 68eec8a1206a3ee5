#include "ProductMark.h"

#include "Control.h"
#include "Paint.h"
#include "Theme.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace Hub::Kit {

ProductMark::ProductMark(const Product& product, bool filled, qreal size, QWidget* parent)
    : QAbstractButton(parent)
    , m_filled(filled)
    , m_size(size)
{
    setupButton(this);
    // A picture of the product: nothing happens on it from the keyboard.
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setProduct(product);
}

void ProductMark::setProduct(const Product& product)
{
    m_product = product;
    // The accessible name; a product without a name is still named by its id.
    setLiteralText(this, product.shown().isEmpty() ? product.id : product.shown());
    update();
}

void ProductMark::setFilled(bool filled)
{
    m_filled = filled;
    update();
}

QSize ProductMark::sizeHint() const
{
    const int side = int(std::ceil(m_size));
    return QSize(side, side);
}

QPainterPath ProductMark::shape() const
{
    const QRectF r(rect());
    const qreal side = std::min(r.width(), r.height());
    return Paint::continuousRect(QRectF(r.center().x() - side / 2, r.center().y() - side / 2, side, side), side * 0.24);
}

void ProductMark::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setOpacity(stateOpacity(this));
    Paint::productMark(p, QRectF(rect()), m_product, m_filled);
    if (keyboardFocus(this)) {
        const QRectF r = shape().boundingRect().adjusted(4, 4, -4, -4);
        Paint::focusRing(p, Paint::continuousRect(r, r.width() * 0.2), Theme::ink());
    }
}

bool ProductMark::hitButton(const QPoint& pos) const { return shape().contains(QPointF(pos) + QPointF(0.5, 0.5)); }

} // namespace Hub::Kit
