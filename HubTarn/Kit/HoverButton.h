#pragma once

#include <QAbstractButton>

namespace Hub::Kit {

// A button over its whole rectangle that knows, without a fade, whether the
// pointer is over it: rows that change their ground at once under the
// pointer (menu rows, coming-soon cells).
class HoverButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit HoverButton(QWidget* parent = nullptr);

    bool hovered() const { return m_hover; }

protected:
    bool hitButton(const QPoint& pos) const override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool m_hover = false;
};

} // namespace Hub::Kit
