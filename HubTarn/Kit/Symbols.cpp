#include "Symbols.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace Hub::Kit::Symbols {

namespace {

// A unit square centred in the box: symbols are drawn in 0...1 coordinates.
struct Unit {
    QRectF square;
    explicit Unit(const QRectF& box)
    {
        const qreal side = std::min(box.width(), box.height());
        square = QRectF(box.center().x() - side / 2, box.center().y() - side / 2, side, side);
    }
    QPointF at(qreal x, qreal y) const { return {square.left() + x * square.width(), square.top() + y * square.height()}; }
    qreal len(qreal v) const { return v * square.width(); }

    // Open polylines in unit coordinates, one per stroke.
    QPainterPath strokes(std::initializer_list<std::initializer_list<QPointF>> lines) const
    {
        QPainterPath path;
        for (const auto& line : lines) {
            bool first = true;
            for (QPointF point : line) {
                if (first)
                    path.moveTo(at(point.x(), point.y()));
                else
                    path.lineTo(at(point.x(), point.y()));
                first = false;
            }
        }
        return path;
    }
};

} // namespace

QPainterPath arrowClockwise(const QRectF& box)
{
    const Unit u(box);
    const QPointF c = u.at(0.5, 0.5);
    const qreal r = u.len(0.40);
    const QRectF circle(c.x() - r, c.y() - r, 2 * r, 2 * r);
    // Qt's angles run anticlockwise from three o'clock. The tail sits at two
    // o'clock; the arc runs clockwise round to twelve, leaving a gap at the
    // top right wide enough to stay open at 13 pt, and the head points the
    // way it travels.
    constexpr qreal tail = 30, sweep = -300;
    QPainterPath path;
    path.arcMoveTo(circle, tail);
    path.arcTo(circle, tail, sweep);
    const qreal end = (tail + sweep + 360) * M_PI / 180;
    const QPointF tip(c.x() + r * std::cos(end), c.y() - r * std::sin(end));
    const QPointF travel(std::sin(end), std::cos(end));
    const qreal wing = u.len(0.24);
    for (qreal turn : {0.7, -0.7}) {
        const QPointF back(-travel.x() * std::cos(turn) + travel.y() * std::sin(turn),
                           -travel.y() * std::cos(turn) - travel.x() * std::sin(turn));
        path.moveTo(tip + back * wing);
        path.lineTo(tip);
    }
    return path;
}

QPainterPath arrowDown(const QRectF& box)
{
    return Unit(box).strokes({{{0.5, 0.15}, {0.5, 0.85}}, {{0.22, 0.57}, {0.5, 0.85}, {0.78, 0.57}}});
}

QPainterPath arrowUpRight(const QRectF& box)
{
    return Unit(box).strokes({{{0.22, 0.78}, {0.78, 0.22}}, {{0.36, 0.22}, {0.78, 0.22}, {0.78, 0.64}}});
}

QPainterPath chevronRight(const QRectF& box)
{
    return Unit(box).strokes({{{0.36, 0.16}, {0.68, 0.5}, {0.36, 0.84}}});
}

QPainterPath chevronLeft(const QRectF& box)
{
    return Unit(box).strokes({{{0.64, 0.16}, {0.32, 0.5}, {0.64, 0.84}}});
}

QPainterPath checkmark(const QRectF& box)
{
    return Unit(box).strokes({{{0.16, 0.54}, {0.40, 0.78}, {0.84, 0.24}}});
}

QPainterPath xmark(const QRectF& box)
{
    return Unit(box).strokes({{{0.22, 0.22}, {0.78, 0.78}}, {{0.78, 0.22}, {0.22, 0.78}}});
}

QPainterPath ellipsis(const QRectF& box)
{
    const Unit u(box);
    QPainterPath path;
    // Tiny circles: stroked with round caps they become solid dots.
    for (qreal x : {0.2, 0.5, 0.8})
        path.addEllipse(u.at(x, 0.5), u.len(0.02), u.len(0.02));
    return path;
}

QPainterPath personCropCircle(const QRectF& box)
{
    const Unit u(box);
    const QPointF c = u.at(0.5, 0.5);
    QPainterPath path;
    path.addEllipse(c, u.len(0.44), u.len(0.44));
    path.addEllipse(u.at(0.5, 0.38), u.len(0.14), u.len(0.14));
    // Shoulders: an arc that ends on the outer circle.
    const QRectF shoulders(u.at(0.22, 0.62), u.at(0.78, 1.02));
    path.arcMoveTo(shoulders, 160);
    path.arcTo(shoulders, 160, -140);
    return path;
}

qreal lineWidth(qreal size) { return std::max(1.2, size * 0.12); }

void draw(QPainter& p, const QPainterPath& symbol, const QColor& color, qreal width)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(symbol);
    p.restore();
}

} // namespace Hub::Kit::Symbols
