#pragma once

#include "Styles.h"

#include <QColor>
#include <QFont>
#include <QPainterPath>
#include <QRectF>
#include <QSizeF>
#include <QString>

class QPainter;

namespace Hub {
struct Product;
}

// The kit's drawing, apart from any widget: a row that paints a whole
// product line and a control that paints itself call the same functions.
namespace Hub::Kit::Paint {

// A rounded rectangle whose corners ease into the straight edges (no kink
// where the arc meets the side), the look of every panel and tile.
QPainterPath continuousRect(const QRectF& rect, qreal radius);
QPainterPath capsule(const QRectF& rect);

// The colour `t` of the way from `a` to `b`, alpha included: hover fades.
QColor mix(const QColor& a, const QColor& b, qreal t);

// Pill: `opacity` is the caller's state (1, pressed 0.7, disabled 0.35).
QSizeF pillSize(const QString& text, const PillStyle& style);
void pill(QPainter& p, const QRectF& rect, const QString& text, const PillStyle& style, qreal opacity = 1);
// Where the label's baseline lies, from the top of a pill `height` high.
qreal pillBaseline(qreal height, const PillStyle& style);

QSizeF tagSize(const QString& text);
void tag(QPainter& p, const QRectF& rect, const QString& text, const TagStyle& style);

// The switch's knob: `position` runs from 0 (off) to 1 (on) so a toggle can
// slide; a disabled knob is drawn at the disabled opacity.
QSizeF knobSize();
void knob(QPainter& p, const QRectF& rect, qreal position, bool enabled);

// A thin line with a rounded track and a fill of `value` (clamped to 0...1;
// a value that is not a number draws an empty track).
inline constexpr qreal progressThickness = 3;
void progressLine(QPainter& p, const QRectF& rect, qreal value, const QColor& color);

// The product's tile, square, of rect's smaller side.
void productMark(QPainter& p, const QRectF& rect, const Product& product, bool filled);

// The application's mark, square, of rect's smaller side.
void logo(QPainter& p, const QRectF& rect);

// The keyboard-focus mark: `shape` (usually the control's outline inset by
// a few points) stroked in `color` at half strength, so it shows on a filled
// and on a clear control alike without growing the control.
void focusRing(QPainter& p, const QPainterPath& shape, const QColor& color);

// A tab or a segment (CapsuleItemStyle): chosen, an ink capsule over the
// whole rectangle with `text` in Theme::bg; else `text` alone in `rest`.
// With `focus`, the keyboard's ring inside the capsule.
void capsuleItem(QPainter& p, const QRectF& rect, const QString& text, bool chosen, const QColor& rest, bool focus,
                 const CapsuleItemStyle& style);
// The label font of tabs and segments.
QFont capsuleItemFont();

} // namespace Hub::Kit::Paint
