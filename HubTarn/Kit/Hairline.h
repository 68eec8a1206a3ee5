#pragma once

#include <QWidget>

namespace Hub::Kit {

// The one hairline: a 1-pt rectangle of Theme::line across the width, from
// `inset` on (a card's dividers start under the rows' text), with `room`
// of empty space below it.
class Hairline : public QWidget {
    Q_OBJECT

public:
    explicit Hairline(QWidget* parent = nullptr, int inset = 0, int room = 0);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_inset;
};

} // namespace Hub::Kit
