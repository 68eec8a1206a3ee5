#include "WrapLabel.h"

#include <QPainter>
#include <QTextLayout>

#include <cmath>

namespace Hub::Kit {

WrapLabel::WrapLabel(const QString& text, QWidget* parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setWordWrap(true);
    setText(text);
}

int WrapLabel::layOut(int width, QPainter* painter) const
{
    QTextLayout layout(text(), font());
    QTextOption option(alignment() & Qt::AlignHorizontal_Mask);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal y = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max(1, width));
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    if (painter)
        layout.draw(painter, QPointF(contentsRect().topLeft()));
    return int(std::ceil(y));
}

int WrapLabel::heightForWidth(int width) const
{
    const QMargins m = contentsMargins();
    return layOut(width - m.left() - m.right()) + m.top() + m.bottom();
}

QSize WrapLabel::sizeHint() const
{
    const QMargins m = contentsMargins();
    const int natural = int(std::ceil(QFontMetricsF(font()).horizontalAdvance(text()))) + 1;
    return QSize(natural + m.left() + m.right(), heightForWidth(natural + m.left() + m.right()));
}

QSize WrapLabel::minimumSizeHint() const
{
    const QMargins m = contentsMargins();
    return QSize(m.left() + m.right() + 1, fontMetrics().height() + m.top() + m.bottom());
}

void WrapLabel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setPen(palette().color(foregroundRole()));
    layOut(contentsRect().width(), &p);
}

} // namespace Hub::Kit
