#pragma once

#include "Animation.h"

#include <QWidget>

namespace Hub::Kit {

// The switches' knob, a 34 x 20 capsule: off, a 1.5-pt outline in
// Theme::strong with a muted thumb at the leading end; on, solid ink with a
// dark thumb at the trailing end; disabled, either at the disabled opacity.
// A change of state slides the thumb over the hover duration. It only shows
// a state: the switch around it takes the clicks, so it lets the mouse through.
class InkKnob : public QWidget {
    Q_OBJECT

public:
    explicit InkKnob(QWidget* parent = nullptr);

    bool isOn() const { return m_on; }
    void setOn(bool on);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    bool m_on = false;
    Tween m_position;
};

} // namespace Hub::Kit
