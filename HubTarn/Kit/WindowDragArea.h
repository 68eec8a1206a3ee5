#pragma once

#include <QPoint>
#include <QWidget>

namespace Hub::Kit {

// An empty area that moves its window when dragged and toggles the
// window's maximised state on a double click. The move is handed to the
// window manager once the pointer has travelled the drag distance, so a
// double click still arrives as one.
class WindowDragArea : public QWidget {
    Q_OBJECT

public:
    explicit WindowDragArea(QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    bool m_pressed = false;
    bool m_manualMove = false;
    QPoint m_pressGlobal;
    QPoint m_windowStart;
};

} // namespace Hub::Kit
