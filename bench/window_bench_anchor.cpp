// window_bench's anchor: an empty QMainWindow program of the main window's
// size, on Qt Widgets alone. Prints the monotonic clock at the end of its
// first paint and its median full repaint in milliseconds, as
// window_bench's own child does.
#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double medianRepaint(QWidget* window)
{
    std::vector<double> times;
    for (int i = 0; i < 50; ++i) {
        QElapsedTimer timer;
        timer.start();
        window->repaint();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The end of the window's first paint pass; then its repaints, and the end.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(QWidget* window)
        : m_window(window)
    {
        qApp->installEventFilter(this);
    }
    long long at() const { return m_at; }
    double repaint() const { return m_repaint; }

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() != QEvent::Paint || !object->isWidgetType()
            || static_cast<QWidget*>(object)->window() != m_window)
            return false;
        if (m_at == 0)
            QTimer::singleShot(0, qApp, [this] {
                m_repaint = medianRepaint(m_window);
                QCoreApplication::quit();
            });
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        m_at = static_cast<long long>(now.tv_sec) * 1000000000 + now.tv_nsec;
        return false;
    }

private:
    QWidget* m_window;
    long long m_at = 0;
    double m_repaint = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.resize(1040, 720);
    FirstPaint paint(&window);
    window.show();
    QApplication::exec();
    std::printf("%lld %.4f\n", paint.at(), paint.repaint());
    return 0;
}
