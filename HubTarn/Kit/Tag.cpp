#include "Tag.h"

#include "Paint.h"

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
    setAccessibleName(text);
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
}

} // namespace Hub::Kit
