// window_bench's probe: loaded into the real program (a sandboxed
// hubtarn-window loads the library HUBTARN_TEST_DRIVER names), it signs in
// the way a person does, the moment the sign-in screen shows, and notes on
// the system's monotonic clock:
//   first    the end of the window's first paint pass (the splash)
//   login    the end of the sign-in screen's first paint pass
//   clicked  the Sign In button pressed
//   main     the model switching to the main screen (the sign-in answered)
//   painted  the end of the main window's first paint pass
//   full     the end of the first paint pass after the first check ended
//            (the plug-ins tab with every row the catalog and the account give)
// and the process's resident memory once the full tab has painted and the
// event loop has nothing more to do. It writes them as one line to the file
// WINDOW_BENCH_OUT names and quits the program.
//
// WINDOW_BENCH_EMAIL, WINDOW_BENCH_PASSWORD  an account without a code step
#include "Model/HubModel.h"
#include "ProcessFigures.h"

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

using Bench::monotonicNs;
using Bench::residentKiB;

class Probe : public QObject {
public:
    Probe(QWidget* window, Hub::HubModel* model)
        : m_window(window)
        , m_model(model)
    {
        qApp->installEventFilter(this);
        connect(m_model, &Hub::HubModel::screenChanged, this, [this] {
            if (m_model->screen() == Hub::Screen::main && m_main == 0)
                m_main = monotonicNs();
        });
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() != QEvent::Paint || !object->isWidgetType()
            || static_cast<QWidget*>(object)->window() != m_window)
            return false;
        // A paint pass paints every dirty widget in one go; a zero timer runs
        // after it.
        const long long now = monotonicNs();
        const Hub::Screen screen = m_model->screen();
        if (m_first == 0 && !m_passEnd) {
            m_passEnd = &m_first;
            QTimer::singleShot(0, this, [this] {
                if (m_passEnd == &m_first)
                    m_passEnd = nullptr;
            });
        } else if (screen == Hub::Screen::login && m_login == 0 && m_passEnd != &m_login) {
            m_passEnd = &m_login;
            QTimer::singleShot(0, this, [this] { signIn(); });
        } else if (screen == Hub::Screen::main && m_painted == 0 && m_passEnd != &m_painted) {
            m_passEnd = &m_painted;
            QTimer::singleShot(0, this, [this] { m_passEnd = nullptr; });
        } else if (screen == Hub::Screen::main && m_painted != 0 && m_full == 0 && firstCheckOver()
                   && m_passEnd != &m_full) {
            m_passEnd = &m_full;
            QTimer::singleShot(0, this, [this] { finish(); });
        }
        if (m_passEnd)
            *m_passEnd = now;
        return false;
    }

private:
    bool firstCheckOver() const
    {
        return !m_model->loading() && (m_model->account() || m_model->signInAgain());
    }

    void signIn()
    {
        m_passEnd = nullptr;
        auto* email = m_window->findChild<QLineEdit*>(u"email"_s);
        auto* password = m_window->findChild<QLineEdit*>(u"password"_s);
        auto* button = m_window->findChild<QAbstractButton*>(u"signInButton"_s);
        if (!email || !password || !button)
            qFatal("window_bench_probe: the sign-in screen has no e-mail, password or Sign In");
        email->setText(qEnvironmentVariable("WINDOW_BENCH_EMAIL"));
        password->setText(qEnvironmentVariable("WINDOW_BENCH_PASSWORD"));
        m_clicked = monotonicNs();
        button->click();
    }

    void finish()
    {
        m_passEnd = nullptr;
        // Memory once nothing is left to do: the event loop about to sleep.
        connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
                [this] {
                    if (m_reported)
                        return;
                    m_reported = true;
                    report(residentKiB());
                    QCoreApplication::exit(0); // the measurement ends here, not the user's quit
                });
    }

    void report(long long kib) const
    {
        QFile out(qEnvironmentVariable("WINDOW_BENCH_OUT"));
        if (!out.open(QIODevice::WriteOnly))
            qFatal("window_bench_probe: can't write WINDOW_BENCH_OUT");
        char line[256];
        const int length = std::snprintf(line, sizeof line, "%lld %lld %lld %lld %lld %lld %lld\n", m_first, m_login,
                                         m_clicked, m_main, m_painted, m_full, kib);
        out.write(line, length);
    }

    QWidget* m_window;
    Hub::HubModel* m_model;
    long long* m_passEnd = nullptr;
    long long m_first = 0;
    long long m_login = 0;
    long long m_clicked = 0;
    long long m_main = 0;
    long long m_painted = 0;
    long long m_full = 0;
    bool m_reported = false;
};

} // namespace

extern "C" Q_DECL_EXPORT void hubtarnAttachTestDriver(QWidget* window, Hub::HubModel* model)
{
    (new Probe(window, model))->setParent(window);
}
