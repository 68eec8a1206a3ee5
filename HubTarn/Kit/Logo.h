#pragma once

#include <QWidget>

namespace Hub::Kit {

// The application's mark on the sign-in screen: an ink tile with continuous
// corners holding three fader slots of a mixing desk, each cap at its own
// level, cut out in the window's colour.
class Logo : public QWidget {
    Q_OBJECT

public:
    explicit Logo(qreal size = 64, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal m_size;
};

} // namespace Hub::Kit
