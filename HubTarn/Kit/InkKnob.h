#pragma once

#include "Animation.h"

#include <QWidget>

namespace Hub::Kit {

// The switches' knob (see Paint::knob). It only shows a state; the switch
// around it takes the clicks, so the knob lets the mouse through. A change
// of state slides the thumb in the hover duration.
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
