#include "Logo.h"

#include "Paint.h"

#include <QPainter>

#include <cmath>

namespace Hub::Kit {

Logo::Logo(qreal size, QWidget* parent)
    : QWidget(parent)
    , m_size(size)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize Logo::sizeHint() const
{
    const int side = int(std::ceil(m_size));
    return QSize(side, side);
}

void Logo::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    Paint::logo(p, QRectF(rect()));
}

} // namespace Hub::Kit
