#pragma once

#include "Model/ModelTypes.h"

#include <QColor>
#include <QWidget>

#include <optional>

class QLabel;

namespace Hub::Kit {
class ProgressLine;
class Spinner;
} // namespace Hub::Kit

namespace Hub::Views {

// What is being done for one product (or the application itself): a step
// with a progress line or a spinner, or the last job's outcome with its
// message. Idle, it hides itself and takes no space.
class JobLine : public QWidget {
    Q_OBJECT

public:
    explicit JobLine(QWidget* parent = nullptr);

    // `color` draws the progress line and the done mark.
    void setJob(const Job& job, const QColor& color);
    const Job& job() const { return m_job; }

    // The sentence a step shows before the upper case of its style; none
    // for idle and the outcomes.
    static std::optional<QString> stepText(const Job& job);

private:
    void step(std::optional<qreal> value, const QString& text, const QString& spoken);
    void message(const QString& mark, const QString& spoken, const QColor& markColor, const QString& text);

    Job m_job;
    // The outcome last announced (idle once a step runs), so the same one
    // is not said again on every redraw.
    Job m_announced;
    QColor m_color;
    QWidget* m_step;
    Kit::Spinner* m_spinner;
    QLabel* m_stepText;
    Kit::ProgressLine* m_progress;
    QWidget* m_outcome;
    QLabel* m_mark;
    QLabel* m_message;
};

} // namespace Hub::Views
