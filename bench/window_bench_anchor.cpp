// window_bench's anchor: an empty QMainWindow program of the main window's
// size, on Qt Widgets alone. Writes the monotonic clock at the end of its
// first paint pass and its resident memory once the event loop is idle
// after it, to the file WINDOW_BENCH_OUT names, as window_bench's probe
// does in the real program.
#include "ProcessFigures.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QFile>
#include <QMainWindow>
#include <QTimer>

#include <cstdio>

namespace {

using Bench::monotonicNs;
using Bench::residentKiB;

// The end of the window's first paint pass; then, once idle, the report.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(QWidget* window)
        : m_window(window)
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() != QEvent::Paint || !object->isWidgetType()
            || static_cast<QWidget*>(object)->window() != m_window || m_done)
            return false;
        if (m_at == 0)
            QTimer::singleShot(0, this, [this] {
                m_done = true;
                connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
                        [this] { report(); });
            });
        m_at = monotonicNs();
        return false;
    }

private:
    void report()
    {
        if (m_reported)
            return;
        m_reported = true;
        QFile out(qEnvironmentVariable("WINDOW_BENCH_OUT"));
        if (!out.open(QIODevice::WriteOnly))
            qFatal("window_bench_anchor: can't write WINDOW_BENCH_OUT");
        char line[64];
        out.write(line, std::snprintf(line, sizeof line, "%lld %lld\n", m_at, residentKiB()));
        QCoreApplication::exit(0);
    }

    QWidget* m_window;
    long long m_at = 0;
    bool m_done = false;
    bool m_reported = false;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.resize(1040, 720);
    FirstPaint paint(&window);
    window.show();
    return QApplication::exec();
}
