#pragma once

#include <QColor>
#include <QWidget>

namespace Hub::Kit {

// A 3-pt line: a rounded track in Theme::line and a fill in the caller's
// colour up to `value` (0...1). It takes the width it is given; callers cap
// it (360 under a job line, 112 in a row).
class ProgressLine : public QWidget {
    Q_OBJECT

public:
    explicit ProgressLine(QWidget* parent = nullptr);

    qreal value() const { return m_value; }
    // The whole percents reached, 0 to 100 (0 for a value that is no number).
    int percent() const;
    void setValue(qreal value);
    QColor color() const { return m_color; }
    void setColor(const QColor& color);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal m_value = 0;
    QColor m_color;
};

} // namespace Hub::Kit
