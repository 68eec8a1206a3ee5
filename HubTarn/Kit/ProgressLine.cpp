#include "ProgressLine.h"

#include "Paint.h"
#include "Theme.h"

#include <QPainter>

#include <cmath>

namespace Hub::Kit {

ProgressLine::ProgressLine(QWidget* parent)
    : QWidget(parent)
    , m_color(Theme::ink())
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ProgressLine::setValue(qreal value)
{
    if (value == m_value || (std::isnan(value) && std::isnan(m_value)))
        return;
    m_value = value;
    update();
}

void ProgressLine::setColor(const QColor& color)
{
    m_color = color;
    update();
}

QSize ProgressLine::sizeHint() const { return QSize(120, int(std::ceil(Paint::progressThickness))); }

void ProgressLine::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    Paint::progressLine(p, QRectF(rect()), m_value, m_color);
}

} // namespace Hub::Kit
