#include "CountBadge.h"

#include "Paint.h"
#include "Theme.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace Hub::Kit {

namespace {
QFont badgeFont() { return Theme::mono(10, QFont::Bold); }
} // namespace

CountBadge::CountBadge(int count, bool onInk, QWidget* parent)
    : QWidget(parent)
    , m_count(count)
    , m_onInk(onInk)
{
    setObjectName(QStringLiteral("countBadge"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CountBadge::set(int count, bool onInk)
{
    if (count == m_count && onInk == m_onInk)
        return;
    m_count = count;
    m_onInk = onInk;
    updateGeometry();
    update();
}

QString CountBadge::text() const { return m_count < 10 ? QString::number(m_count) : QStringLiteral("9+"); }

QSize CountBadge::sizeHint() const
{
    const qreal width = QFontMetricsF(badgeFont()).horizontalAdvance(text()) + 10;
    return QSize(std::max(18, int(std::ceil(width))), 18);
}

void CountBadge::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor fill = m_onInk ? Theme::bg() : Theme::ink();
    const QColor text = m_onInk ? Theme::ink() : Theme::bg();
    p.fillPath(Paint::capsule(QRectF(rect())), fill);
    p.setFont(badgeFont());
    p.setPen(text);
    p.drawText(QRectF(rect()), Qt::AlignCenter, this->text());
}

} // namespace Hub::Kit
