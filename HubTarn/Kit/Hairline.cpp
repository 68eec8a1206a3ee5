#include "Hairline.h"

#include "Theme.h"

#include <QPainter>

namespace Hub::Kit {

Hairline::Hairline(QWidget* parent, int inset, int room)
    : QWidget(parent)
    , m_inset(inset)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(int(Theme::hairline) + room);
}

QSize Hairline::sizeHint() const { return QSize(m_inset + 1, height()); }

void Hairline::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(QRect(m_inset, 0, width() - m_inset, int(Theme::hairline)), Theme::line());
}

} // namespace Hub::Kit
