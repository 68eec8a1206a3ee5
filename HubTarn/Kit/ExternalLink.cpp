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
    , m_hover(this)
{
    setupButton(this);
    setText(title);
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

void ExternalLink::enterEvent(QEnterEvent* event)
{
    m_hover.animateTo(1, Theme::hoverMs);
    QAbstractButton::enterEvent(event);
}

void ExternalLink::leaveEvent(QEvent* event)
{
    m_hover.animateTo(0, Theme::hoverMs);
    QAbstractButton::leaveEvent(event);
}

void ExternalLink::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setOpacity(stateOpacity(this));
    // Muted at rest, brightening to ink under the pointer.
    p.setPen(Paint::mix(Theme::muted(), Theme::ink(), m_hover.value()));
    p.setFont(linkFont());
    p.drawText(QRectF(rect()).adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
    if (keyboardFocus(this))
        Paint::focusRing(p, Paint::continuousRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 5), Theme::ink());
}

} // namespace Hub::Kit
