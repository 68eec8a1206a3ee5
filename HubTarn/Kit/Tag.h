#pragma once

#include "Styles.h"

#include <QWidget>

namespace Hub::Kit {

// The small upper-case label ("offline", "up to date", "new"). Outlined: the
// text and a 1.5-pt outline in the colour on a clear ground. Filled: a solid
// tile of the colour with the text in the window's background colour, same
// size and corners, so the two can stand side by side in one row.
class Tag : public QWidget {
    Q_OBJECT

public:
    explicit Tag(const QString& text, const TagStyle& style = {}, QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    const TagStyle& tagStyle() const { return m_style; }
    void setTagStyle(const TagStyle& style);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    TagStyle m_style;
};

} // namespace Hub::Kit
