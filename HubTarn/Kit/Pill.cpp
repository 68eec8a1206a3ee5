#include "Pill.h"

#include "Control.h"
#include "Paint.h"

#include <QPainter>

#include <cmath>

namespace Hub::Kit {

Pill::Pill(const QString& title, const PillStyle& style, QWidget* parent)
    : QAbstractButton(parent)
{
    setupButton(this);
    setLiteralText(this, title);
    setPillStyle(style);
}

void Pill::setPillStyle(const PillStyle& style)
{
    m_style = style;
    setSizePolicy(style.wide ? QSizePolicy::Expanding : QSizePolicy::Fixed, QSizePolicy::Fixed);
    updateGeometry();
    update();
}

QSize Pill::sizeHint() const { return Paint::pillSize(text(), m_style).toSize(); }

QSize Pill::minimumSizeHint() const { return QSize(int(std::ceil(m_style.height())), int(m_style.height())); }

qreal Pill::firstBaseline() const { return Paint::pillBaseline(height(), m_style); }

void Pill::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRectF r = rect();
    Paint::pill(p, r, text(), m_style, stateOpacity(this));
    if (keyboardFocus(this)) {
        const QColor mark = m_style.fill ? m_style.text : Theme::ink();
        Paint::focusRing(p, Paint::capsule(r.adjusted(4, 4, -4, -4)), mark);
    }
}

bool Pill::hitButton(const QPoint& pos) const { return Paint::capsule(QRectF(rect())).contains(QPointF(pos) + QPointF(0.5, 0.5)); }

} // namespace Hub::Kit
