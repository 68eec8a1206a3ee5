#include "ExternalLink.h"

#include "Control.h"
#include "Paint.h"
#include "TextStyle.h"
#include "Theme.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace Hub::Kit {

namespace {
QFont linkFont() { return label(11, QFont::Medium); }
}

ExternalLink::ExternalLink(const QString& title, const QUrl& url, Opener opener, QWidget* parent)
    : QAbstractButton(parent)
    , m_opener(std::move(opener))
{
    setupButton(this);
    setLiteralText(this, title);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setUrl(url);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (m_opener)
            m_opener(m_url);
    });
}

void ExternalLink::setUrl(const QUrl& url)
{
    m_url = url;
    setToolTip(url.toString());
}

QSize ExternalLink::sizeHint() const
{
    const QFontMetricsF metrics(linkFont());
    return QSize(int(std::ceil(metrics.horizontalAdvance(text()))) + 4, int(std::ceil(metrics.height())) + 6);
}

void ExternalLink::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setOpacity(stateOpacity(this));
    // A plain button: muted whether or not the pointer is over it; a press
    // and the disabled state show through the opacity.
    p.setPen(Theme::muted());
    p.setFont(linkFont());
    p.drawText(QRectF(rect()).adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
    if (keyboardFocus(this))
        Paint::focusRing(p, Paint::continuousRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 5), Theme::ink());
}

} // namespace Hub::Kit
