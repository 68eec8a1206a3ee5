#include "Paint.h"

#include "Color.h"
#include "TextStyle.h"
#include "Theme.h"

#include "Catalog/CatalogRecords.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace Hub::Kit::Paint {

namespace {

QFont pillFont(const PillStyle& style) { return Theme::mono(style.fontSize(), QFont::Bold, style.tracking(), true); }

QFont tagFont() { return Theme::mono(10.5, QFont::DemiBold, 0.525, true); }

void drawCentredText(QPainter& p, const QRectF& rect, const QString& text, const QFont& font, const QColor& color)
{
    p.setFont(font);
    p.setPen(color);
    // Letter spacing also follows the last letter; shift by half of it so
    // tracked labels sit in the optical centre.
    const qreal tracking = font.letterSpacingType() == QFont::AbsoluteSpacing ? font.letterSpacing() : 0;
    const QString shown = QFontMetricsF(font).elidedText(text, Qt::ElideRight, rect.width() + tracking);
    p.drawText(rect.translated(tracking / 2, 0), Qt::AlignCenter | Qt::TextSingleLine, shown);
}

} // namespace

QPainterPath continuousRect(const QRectF& rect, qreal radius)
{
    const qreal half = std::min(rect.width(), rect.height()) / 2;
    if (radius >= half)
        return capsule(rect);
    QPainterPath path;
    if (radius <= 0) {
        path.addRect(rect);
        return path;
    }
    // Each corner is one cubic that starts 1.4 radii before the corner with
    // a control close to it: the curvature grows from zero along the edge
    // instead of jumping to 1/r, and the midpoint matches a circular arc's.
    const qreal l = std::min(radius * 1.4, half);
    const qreal c = l * 0.22;
    const qreal x0 = rect.left(), y0 = rect.top(), x1 = rect.right(), y1 = rect.bottom();
    path.moveTo(x0 + l, y0);
    path.lineTo(x1 - l, y0);
    path.cubicTo(x1 - c, y0, x1, y0 + c, x1, y0 + l);
    path.lineTo(x1, y1 - l);
    path.cubicTo(x1, y1 - c, x1 - c, y1, x1 - l, y1);
    path.lineTo(x0 + l, y1);
    path.cubicTo(x0 + c, y1, x0, y1 - c, x0, y1 - l);
    path.lineTo(x0, y0 + l);
    path.cubicTo(x0, y0 + c, x0 + c, y0, x0 + l, y0);
    path.closeSubpath();
    return path;
}

QColor mix(const QColor& a, const QColor& b, qreal t)
{
    auto lerp = [t](float x, float y) { return x + (y - x) * float(t); };
    return QColor::fromRgbF(lerp(a.redF(), b.redF()), lerp(a.greenF(), b.greenF()), lerp(a.blueF(), b.blueF()),
                            lerp(a.alphaF(), b.alphaF()));
}

QPainterPath capsule(const QRectF& rect)
{
    const qreal r = std::min(rect.width(), rect.height()) / 2;
    QPainterPath path;
    path.addRoundedRect(rect, r, r);
    return path;
}

QSizeF pillSize(const QString& text, const PillStyle& style)
{
    const qreal textWidth = QFontMetricsF(pillFont(style)).horizontalAdvance(text);
    return {std::ceil(textWidth + 2 * style.padding()), style.height()};
}

qreal pillBaseline(qreal height, const PillStyle& style)
{
    // As drawCentredText places a single line: centred by its whole height.
    const QFontMetricsF metrics(pillFont(style));
    return (height - metrics.height()) / 2 + metrics.ascent();
}

void pill(QPainter& p, const QRectF& rect, const QString& text, const PillStyle& style, qreal opacity)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(p.opacity() * opacity);
    const QRectF shape = rect.adjusted(Theme::stroke / 2, Theme::stroke / 2, -Theme::stroke / 2, -Theme::stroke / 2);
    const QColor outline = style.fill.value_or(Theme::strong());
    p.setPen(QPen(outline, Theme::stroke));
    p.setBrush(style.fill ? QBrush(*style.fill) : QBrush(Qt::NoBrush));
    p.drawPath(capsule(shape));
    const QColor label = style.fill ? style.text : Theme::ink();
    drawCentredText(p, rect.adjusted(style.padding(), 0, -style.padding(), 0), text, pillFont(style), label);
    p.restore();
}

QSizeF tagSize(const QString& text)
{
    const QFontMetricsF metrics(tagFont());
    return {std::ceil(metrics.horizontalAdvance(text) + 12), std::ceil(metrics.height() + 7)};
}

void tag(QPainter& p, const QRectF& rect, const QString& text, const TagStyle& style)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF shape = rect.adjusted(Theme::stroke / 2, Theme::stroke / 2, -Theme::stroke / 2, -Theme::stroke / 2);
    p.setPen(QPen(style.color, Theme::stroke));
    p.setBrush(style.filled ? QBrush(style.color) : QBrush(Qt::NoBrush));
    p.drawPath(continuousRect(shape, Theme::tagRadius));
    drawCentredText(p, rect.adjusted(6, 0, -6, 0), text, tagFont(), style.filled ? Theme::bg() : style.color);
    p.restore();
}

QSizeF knobSize() { return {34, 20}; }

void knob(QPainter& p, const QRectF& rect, qreal position, bool enabled)
{
    const qreal t = std::clamp(position, 0.0, 1.0);
    const QSizeF size = knobSize();
    const QRectF track(rect.center().x() - size.width() / 2, rect.center().y() - size.height() / 2, size.width(),
                       size.height());
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    if (!enabled)
        p.setOpacity(p.opacity() * Theme::disabledOpacity);
    // Off: an outlined track with a muted thumb on the left. On: a solid ink
    // track with a dark thumb on the right; the two cross-fade as it slides.
    QColor fill = Theme::ink();
    fill.setAlphaF(float(t));
    const QRectF shape = track.adjusted(Theme::stroke / 2, Theme::stroke / 2, -Theme::stroke / 2, -Theme::stroke / 2);
    p.setPen(QPen(mix(Theme::strong(), Theme::ink(), t), Theme::stroke));
    p.setBrush(fill);
    p.drawPath(capsule(shape));
    const qreal d = track.height() - 8;
    const qreal x = track.left() + 4 + t * (track.width() - 8 - d);
    p.setPen(Qt::NoPen);
    p.setBrush(mix(Theme::muted(), Theme::bg(), t));
    p.drawEllipse(QRectF(x, track.top() + 4, d, d));
    p.restore();
}

void progressLine(QPainter& p, const QRectF& rect, qreal value, const QColor& color)
{
    const qreal v = std::isfinite(value) ? std::clamp(value, 0.0, 1.0) : 0.0;
    const QRectF track(rect.left(), rect.center().y() - progressThickness / 2, rect.width(), progressThickness);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Theme::line());
    p.drawPath(capsule(track));
    if (v > 0) {
        // Never shorter than its own thickness, so 1 % still shows as a dot.
        const qreal w = std::max(progressThickness, track.width() * v);
        p.setBrush(color);
        p.drawPath(capsule(QRectF(track.left(), track.top(), w, track.height())));
    }
    p.restore();
}

void productMark(QPainter& p, const QRectF& rect, const Product& product, bool filled)
{
    const qreal side = std::min(rect.width(), rect.height());
    const QRectF square(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side);
    const QColor tile = colorFromHex(product.tile.value_or(QString()), accentColor(product));
    const QColor tileText = colorFromHex(product.tileText.value_or(QString()), accentTextColor(product));
    const QRectF shape = square.adjusted(Theme::stroke / 2, Theme::stroke / 2, -Theme::stroke / 2, -Theme::stroke / 2);
    const QPainterPath outline = continuousRect(shape, side * 0.24);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QColor letter;
    if (filled) {
        // A hairline keeps a dark tile from melting into the dark window.
        p.setPen(QPen(Theme::line(), Theme::stroke));
        p.setBrush(tile);
        letter = tileText;
    } else {
        // Outlined in the product's colour; a colour too dark to read on the
        // window falls back to the muted ink.
        const QColor edge = tile.lightnessF() < 0.3 ? Theme::muted() : tile;
        p.setPen(QPen(edge, Theme::stroke));
        p.setBrush(Qt::NoBrush);
        letter = edge;
    }
    p.drawPath(outline);
    const QString initial = firstCharacter(product.shown()).toUpper();
    p.setFont(Theme::bold(side * 0.46, -side * 0.01));
    p.setPen(letter);
    p.drawText(square, Qt::AlignCenter, initial.isEmpty() ? QStringLiteral("\u00b7") : initial);
    p.restore();
}

void logo(QPainter& p, const QRectF& rect)
{
    const qreal s = std::min(rect.width(), rect.height());
    const QRectF square(rect.center().x() - s / 2, rect.center().y() - s / 2, s, s);
    auto at = [&](qreal x, qreal y) { return QPointF(square.left() + x * s, square.top() + y * s); };
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Theme::ink());
    p.drawPath(continuousRect(square, s * 0.24));
    // Three faders of a mixing desk, set at different levels.
    QColor slot = Theme::bg();
    slot.setAlphaF(0.3f);
    const qreal levels[] = {0.62, 0.36, 0.50};
    for (int i = 0; i < 3; ++i) {
        const qreal x = 0.30 + 0.20 * i;
        p.setPen(QPen(slot, s * 0.045, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(at(x, 0.24), at(x, 0.76));
        p.setPen(Qt::NoPen);
        p.setBrush(Theme::bg());
        const QPointF c = at(x, levels[i]);
        p.drawPath(continuousRect(QRectF(c.x() - s * 0.07, c.y() - s * 0.035, s * 0.14, s * 0.07), s * 0.02));
    }
    p.restore();
}

void focusRing(QPainter& p, const QPainterPath& shape, const QColor& color)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QColor c = color;
    c.setAlphaF(0.55f);
    p.setPen(QPen(c, Theme::stroke));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shape);
    p.restore();
}

void capsuleItem(QPainter& p, const QRectF& rect, const QString& text, bool chosen, const QColor& rest, bool focus,
                 const CapsuleItemStyle& style)
{
    if (chosen)
        p.fillPath(capsule(rect), Theme::ink());
    const QFont font = capsuleItemFont();
    p.setFont(font);
    p.setPen(chosen ? Theme::bg() : rest);
    if (style.textInset > 0)
        p.drawText(rect.adjusted(style.textInset, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    else // the tracking after the last letter would pull a centred label left
        p.drawText(rect.translated(font.letterSpacing() / 2, 0), Qt::AlignCenter | Qt::TextSingleLine, text);
    if (focus) {
        const qreal in = style.focusInset;
        focusRing(p, capsule(rect.adjusted(in, in, -in, -in)), chosen ? Theme::bg() : Theme::ink());
    }
}

QFont capsuleItemFont() { return label(11, QFont::DemiBold); }

} // namespace Hub::Kit::Paint
