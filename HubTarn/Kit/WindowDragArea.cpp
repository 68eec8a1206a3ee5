#include "WindowDragArea.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWindow>

namespace Hub::Kit {

WindowDragArea::WindowDragArea(QWidget* parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void WindowDragArea::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_pressed = true;
    m_manualMove = false;
    m_pressGlobal = event->globalPosition().toPoint();
    m_windowStart = window()->pos();
    event->accept();
}

void WindowDragArea::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_pressed)
        return;
    const QPoint now = event->globalPosition().toPoint();
    if (m_manualMove) {
        window()->move(m_windowStart + now - m_pressGlobal);
        return;
    }
    if ((now - m_pressGlobal).manhattanLength() < QApplication::startDragDistance())
        return;
    QWindow* handle = window()->windowHandle();
    if (handle && handle->startSystemMove()) {
        // The window manager owns the drag from here; it sends no release.
        m_pressed = false;
        return;
    }
    // Platforms without a system move: follow the pointer ourselves.
    m_manualMove = true;
    window()->move(m_windowStart + now - m_pressGlobal);
}

void WindowDragArea::mouseReleaseEvent(QMouseEvent* event)
{
    m_pressed = false;
    m_manualMove = false;
    event->accept();
}

} // namespace Hub::Kit
