#include "Spinner.h"

#include "Animation.h"
#include "Theme.h"

#include <QPainter>

namespace Hub::Kit {

namespace {

constexpr int kSpinnerSide = 12;
constexpr int kSpinMs = 1000;

} // namespace

Spinner::Spinner(QWidget* parent)
    : QWidget(parent)
    , m_turn(new Tween(this))
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(QStringLiteral("In progress"));
}

QSize Spinner::sizeHint() const { return QSize(kSpinnerSide, kSpinnerSide); }

void Spinner::showEvent(QShowEvent* event)
{
    m_turn->loop(0, 360, kSpinMs);
    QWidget::showEvent(event);
}

void Spinner::hideEvent(QHideEvent* event)
{
    m_turn->stop();
    QWidget::hideEvent(event);
}

void Spinner::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal width = 1.5;
    const QRectF box = QRectF(rect()).adjusted(width, width, -width, -width);
    p.setPen(QPen(Theme::line(), width));
    p.drawEllipse(box);
    p.setPen(QPen(Theme::muted(), width, Qt::SolidLine, Qt::RoundCap));
    // A quarter arc that travels clockwise (Qt's angles run anticlockwise).
    p.drawArc(box, int((90 - m_turn->value()) * 16), -90 * 16);
}

} // namespace Hub::Kit
