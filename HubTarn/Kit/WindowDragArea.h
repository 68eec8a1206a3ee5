#pragma once

#include <QPoint>
#include <QWidget>

namespace Hub::Kit {

// An empty area that moves its window when dragged. The move is handed to
// the window manager once the pointer has travelled the drag distance. A
// double click does nothing here: the window keeps the desktop's own title
// bar, and what a double click does is the window manager's to decide there.
class WindowDragArea : public QWidget {
    Q_OBJECT

public:
    explicit WindowDragArea(QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_pressed = false;
    bool m_manualMove = false;
    QPoint m_pressGlobal;
    QPoint m_windowStart;
};

} // namespace Hub::Kit
