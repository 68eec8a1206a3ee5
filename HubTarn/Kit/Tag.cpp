#include "Tag.h"

#include "Control.h"
#include "Paint.h"
#include "Theme.h"

#include <QPainter>

namespace Hub::Kit {

Tag::Tag(const QString& text, const TagStyle& style, QWidget* parent)
    : QWidget(parent)
    , m_style(style)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setText(text);
}

void Tag::setText(const QString& text)
{
    m_text = text;
    setSpokenName(this, text);
    updateGeometry();
    update();
}

void Tag::setTagStyle(const TagStyle& style)
{
    m_style = style;
    update();
}

QSize Tag::sizeHint() const { return Paint::tagSize(m_text).toSize(); }

void Tag::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    Paint::tag(p, QRectF(rect()), m_text, m_style);
    // A tag takes no focus from Tab, but holds it where it took the place
    // of the button that had it (a product page's "up to date").
    if (keyboardFocus(this))
        Paint::focusRing(p, Paint::continuousRect(QRectF(rect()).adjusted(3, 3, -3, -3), Theme::tagRadius - 2),
                         m_style.filled ? Theme::bg() : m_style.color);
}

} // namespace Hub::Kit
