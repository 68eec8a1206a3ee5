#pragma once

#include <QColor>
#include <QPainterPath>
#include <QRectF>

class QPainter;

// The system symbols the window draws, as line art to be stroked with
// round caps: each function fits its symbol into `box` (centred, square of
// the box's smaller side). No bitmaps, so every scale stays sharp.
namespace Hub::Kit::Symbols {

QPainterPath arrowClockwise(const QRectF& box);
QPainterPath arrowDown(const QRectF& box);
QPainterPath arrowUpRight(const QRectF& box);
QPainterPath chevronRight(const QRectF& box);
QPainterPath chevronLeft(const QRectF& box);
QPainterPath checkmark(const QRectF& box);
QPainterPath xmark(const QRectF& box);
QPainterPath ellipsis(const QRectF& box);
QPainterPath personCropCircle(const QRectF& box);

// The stroke width that matches text of `size` at a semibold weight.
qreal lineWidth(qreal size);

void draw(QPainter& p, const QPainterPath& symbol, const QColor& color, qreal width);

} // namespace Hub::Kit::Symbols
