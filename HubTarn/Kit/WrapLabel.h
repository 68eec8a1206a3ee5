#pragma once

#include <QLabel>

namespace Hub::Kit {

// A plain-text label that wraps at word boundaries and, where one word is
// wider than the label (a name without spaces), inside the word: QLabel
// wraps at spaces only and clips such a word mid-letter. Style it like any
// label (setProseStyle); text() is the whole text.
class WrapLabel : public QLabel {
    Q_OBJECT

public:
    explicit WrapLabel(const QString& text = {}, QWidget* parent = nullptr);

    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Lays the text out in `width` and returns its height; draws it too
    // when given a painter.
    int layOut(int width, QPainter* painter = nullptr) const;
};

} // namespace Hub::Kit
