#include "TextInput.h"

#include "Paint.h"
#include "Theme.h"

#include <QPainter>

namespace Hub::Kit {

namespace {
constexpr int kHeight = 46;
constexpr qreal kRadius = 12;
} // namespace

TextInput::TextInput(Kind kind, const QString& placeholder, QWidget* parent)
    : QLineEdit(parent)
    , m_kind(kind)
    , m_placeholder(placeholder)
{
    setFrame(false);
    setAccessibleName(placeholder);
    setTextMargins(12, 0, 12, 0);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    QPalette p = palette();
    p.setColor(QPalette::Base, Qt::transparent);
    p.setColor(QPalette::Text, Theme::ink());
    p.setColor(QPalette::PlaceholderText, Theme::dim());
    p.setColor(QPalette::Highlight, Theme::muted());
    p.setColor(QPalette::HighlightedText, Theme::bg());
    setPalette(p);
    switch (kind) {
    case Kind::Text:
        setFont(Theme::prose(15));
        break;
    case Kind::Email:
        setFont(Theme::prose(15));
        setInputMethodHints(Qt::ImhEmailCharactersOnly | Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText);
        break;
    case Kind::Password:
        setFont(Theme::prose(15));
        setEchoMode(QLineEdit::Password);
        setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
        break;
    case Kind::Code:
        setFont(Theme::mono(17, QFont::Medium, 4));
        setInputMethodHints(Qt::ImhDigitsOnly | Qt::ImhNoPredictiveText);
        break;
    }
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TextInput::setError(bool error)
{
    if (error == m_error)
        return;
    m_error = error;
    update();
}

QSize TextInput::sizeHint() const { return QSize(280, kHeight); }

QSize TextInput::minimumSizeHint() const { return QSize(120, kHeight); }

void TextInput::paintEvent(QPaintEvent* event)
{
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QColor edge = Theme::line();
        if (m_error) {
            edge = Theme::bad();
            edge.setAlphaF(0.7f);
        } else if (hasFocus()) {
            edge = Theme::strong();
        }
        const qreal half = Theme::stroke / 2;
        p.setPen(QPen(edge, Theme::stroke));
        p.setBrush(Theme::bg());
        if (!isEnabled())
            p.setOpacity(Theme::disabledOpacity);
        p.drawPath(Paint::continuousRect(QRectF(rect()).adjusted(half, half, -half, -half), kRadius));
    }
    QLineEdit::paintEvent(event);
    if (!text().isEmpty() || m_placeholder.isEmpty())
        return;
    // A centred field's caret stands in the middle, which would be inside
    // its placeholder ("Co|de"): while it has the caret, the caret alone.
    if (hasFocus() && (alignment() & Qt::AlignHCenter))
        return;
    // Where QLineEdit draws its own placeholder: inside the text margins and
    // its 2-pixel inner margin, centred vertically.
    QPainter p(this);
    const QRect inner = contentsRect().marginsRemoved(textMargins()).adjusted(2, 0, -2, 0);
    const QFontMetrics metrics(font());
    const QRect line(inner.x(), inner.y() + (inner.height() - metrics.height() + 1) / 2, inner.width(), metrics.height());
    p.setFont(font());
    p.setPen(palette().color(QPalette::PlaceholderText));
    if (!isEnabled())
        p.setOpacity(Theme::disabledOpacity);
    p.drawText(line, int(alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter,
               metrics.elidedText(m_placeholder, Qt::ElideRight, line.width()));
}

} // namespace Hub::Kit
