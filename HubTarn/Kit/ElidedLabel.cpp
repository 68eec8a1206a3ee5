#include "ElidedLabel.h"

#include "Kit/TextStyle.h"

#include <QEvent>
#include <QFontMetrics>

namespace Hub::Kit {

ElidedLabel::ElidedLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent)
    : QLabel(parent)
    , m_mode(mode)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setText(text);
}

void ElidedLabel::setText(const QString& text)
{
    m_full = text;
    setAccessibleName(text);
    updateGeometry();
    elide();
}

QSize ElidedLabel::sizeHint() const
{
    const QFontMetrics metrics(font());
    const QMargins m = contentsMargins();
    return QSize(metrics.horizontalAdvance(m_full) + m.left() + m.right() + 2, metrics.height() + m.top() + m.bottom());
}

QSize ElidedLabel::minimumSizeHint() const { return QSize(0, sizeHint().height()); }

void ElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        elide();
}

void ElidedLabel::elide()
{
    const QString shown = QFontMetrics(font()).elidedText(m_full, m_mode, contentsRect().width());
    QLabel::setText(shown);
    setToolTip(shown == m_full ? QString() : Kit::plainToolTip(m_full));
}

} // namespace Hub::Kit
