#include "ElidedLabel.h"

#include "Kit/TextStyle.h"
#include "Control.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>

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
    setSpokenName(this, text);
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

QString ElidedLabel::copiedText() const
{
    const QString selected = selectedText();
    if (shownText() != m_full && selected.contains(QChar(0x2026)))
        return m_full;
    return selected;
}

void ElidedLabel::copy() const
{
    const QString text = copiedText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

void ElidedLabel::keyPressEvent(QKeyEvent* event)
{
    if (event == QKeySequence::Copy && hasSelectedText()) {
        copy();
        event->accept();
        return;
    }
    QLabel::keyPressEvent(event);
}

void ElidedLabel::contextMenuEvent(QContextMenuEvent* event)
{
    if (!(textInteractionFlags() & Qt::TextSelectableByMouse)) {
        QLabel::contextMenuEvent(event);
        return;
    }
    // QLabel's own menu would copy the shortened text.
    QMenu menu(this);
    QAction* copyAction = menu.addAction(QStringLiteral("Copy"), this, [this] { copy(); });
    copyAction->setEnabled(hasSelectedText());
    menu.addAction(QStringLiteral("Select All"), this, [this] { setSelection(0, int(shownText().size())); });
    menu.exec(event->globalPos());
}

void ElidedLabel::elide()
{
    const QString shown = QFontMetrics(font()).elidedText(m_full, m_mode, contentsRect().width());
    QLabel::setText(shown);
    setToolTip(shown == m_full ? QString() : Kit::plainToolTip(m_full));
}

} // namespace Hub::Kit
