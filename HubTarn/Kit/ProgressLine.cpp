#include "ProgressLine.h"

#include "Paint.h"
#include "Theme.h"

#include <QAccessible>
#include <QPainter>

#include <algorithm>

#include <cmath>

namespace Hub::Kit {

ProgressLine::ProgressLine(QWidget* parent)
    : QWidget(parent)
    , m_color(Theme::ink())
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

int ProgressLine::percent() const
{
    // Whole percents reached, as the job's own text counts them: 99.9 % is
    // not done yet.
    return std::isfinite(m_value) ? int(std::trunc(std::clamp(m_value, 0.0, 1.0) * 100)) : 0;
}

void ProgressLine::setValue(qreal value)
{
    if (value == m_value || (std::isnan(value) && std::isnan(m_value)))
        return;
    const int before = percent();
    m_value = value;
    update();
    // A screen reader hears the value move in whole percents, not each tick.
    if (percent() != before && QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, percent());
        QAccessible::updateAccessibility(&event);
    }
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
