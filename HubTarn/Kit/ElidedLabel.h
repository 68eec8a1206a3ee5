#pragma once

#include <QLabel>

namespace Hub::Kit {

// A one-line plain-text label that shortens its text with an ellipsis
// (in the middle by default) to the width it gets, instead of widening its
// parent: long e-mail addresses and paths keep their start and their end.
// text() is the full text; so are the accessible name and the help text
// while the text is shortened. Made selectable, copying a selection that
// takes in the ellipsis copies the whole text, never the "…".
class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(const QString& text = {}, Qt::TextElideMode mode = Qt::ElideMiddle, QWidget* parent = nullptr);

    QString text() const { return m_full; }
    void setText(const QString& text);
    // What is drawn now.
    QString shownText() const { return QLabel::text(); }
    // What Copy puts on the clipboard for the selection now.
    QString copiedText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void elide();
    void copy() const;

    QString m_full;
    Qt::TextElideMode m_mode;
};

} // namespace Hub::Kit
