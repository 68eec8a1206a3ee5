#pragma once

#include "Styles.h"

#include <QAbstractButton>

namespace Hub::Kit {

class InkKnob;

// A switch is one checkable button over its whole row: a click anywhere in
// it, or Space, flips it. Its label is any widget (a title, or a title with
// a detail); the label lets the mouse through to the row. Accessibility
// sees a check box named `title` with the row's checked state.
class SwitchButton : public QAbstractButton {
    Q_OBJECT

public:
    InkKnob* knob() const { return m_knob; }
    QWidget* label() const { return m_label; }

    QSize sizeHint() const override;

protected:
    SwitchButton(const QString& title, QWidget* label, QWidget* parent);
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
    // Label and knob in a row, as the style says.
    void arrange(const SwitchStyle& style);

    InkKnob* m_knob;
    QWidget* m_label;
};

// The settings rows' switch: label, then the knob at the trailing end;
// padded 16 at the sides and 10 above and below, at least 52 high.
class RowSwitch : public SwitchButton {
    Q_OBJECT

public:
    explicit RowSwitch(const QString& title, QWidget* label = nullptr, QWidget* parent = nullptr);
};

// The sheets' switch: the knob, then the label, 10 apart, centred, inset
// 14 at the sides and 8 above and below.
class InkSwitch : public SwitchButton {
    Q_OBJECT

public:
    explicit InkSwitch(const QString& title, QWidget* label = nullptr, QWidget* parent = nullptr);
};

} // namespace Hub::Kit
