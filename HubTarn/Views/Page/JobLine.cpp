#include "Views/Page/JobLine.h"

#include "Kit/Animation.h"
#include "Kit/Announce.h"
#include "Kit/Control.h"
#include "Kit/ProgressLine.h"
#include "Kit/Spinner.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace Hub::Views {

namespace {

constexpr int kProgressMaxWidth = 360;

} // namespace

JobLine::JobLine(QWidget* parent)
    : QWidget(parent)
    , m_step(new QWidget(this))
    , m_spinner(new Kit::Spinner(m_step))
    , m_stepText(Kit::plainLabel(QString(), m_step))
    , m_progress(new Kit::ProgressLine(m_step))
    , m_outcome(new QWidget(this))
    , m_mark(Kit::plainLabel(QString(), m_outcome))
    , m_message(Kit::plainLabel(QString(), m_outcome))
{
    m_stepText->setObjectName(QStringLiteral("jobStepText"));
    m_stepText->setFont(Kit::Theme::mono(11, QFont::Medium, 0.55, true));
    Kit::setTextColor(m_stepText, Kit::Theme::muted());
    m_spinner->setObjectName(QStringLiteral("jobSpinner"));
    m_progress->setObjectName(QStringLiteral("jobProgress"));
    m_progress->setMaximumWidth(kProgressMaxWidth);

    auto* stepRow = new QHBoxLayout;
    stepRow->setContentsMargins(0, 0, 0, 0);
    stepRow->setSpacing(8);
    stepRow->addWidget(m_spinner, 0, Qt::AlignVCenter);
    stepRow->addWidget(m_stepText, 1, Qt::AlignVCenter);
    auto* stepLayout = new QVBoxLayout(m_step);
    stepLayout->setContentsMargins(0, 0, 0, 0);
    stepLayout->setSpacing(8);
    stepLayout->addLayout(stepRow);
    // As wide as the line is, up to 360, from the leading edge.
    stepLayout->addWidget(m_progress);

    m_mark->setObjectName(QStringLiteral("jobMark"));
    m_mark->setFont(Kit::Theme::mono(12, QFont::Bold));
    m_message->setObjectName(QStringLiteral("jobMessage"));
    QColor messageColor = Kit::Theme::ink();
    messageColor.setAlphaF(0.9f);
    Kit::setProseStyle(m_message, Kit::Theme::prose(13.5), messageColor);
    Kit::setSelectable(m_message);
    // The mark sits on the message's first baseline: push it down by the
    // difference of the two fonts' ascents.
    const qreal drop = QFontMetricsF(m_message->font()).ascent() - QFontMetricsF(m_mark->font()).ascent();
    m_mark->setContentsMargins(0, std::max(0, int(std::lround(drop))), 0, 0);
    auto* outcomeLayout = new QHBoxLayout(m_outcome);
    outcomeLayout->setContentsMargins(0, 0, 0, 0);
    outcomeLayout->setSpacing(8);
    outcomeLayout->addWidget(m_mark, 0, Qt::AlignTop);
    outcomeLayout->addWidget(m_message, 1, Qt::AlignTop);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_step);
    layout->addWidget(m_outcome);
    // Room beyond what the line needs stays below it, so the text, its
    // progress line and an outcome's mark keep their spacing.
    layout->addStretch(1);
    setJob(Job::idle(), Kit::Theme::ink());
}

std::optional<QString> JobLine::stepText(const Job& job)
{
    switch (job.kind) {
    case Job::Kind::downloading:
        // A fraction that is not a number has no percentage to show.
        if (!std::isfinite(job.fraction))
            return QStringLiteral("Downloading");
        return QStringLiteral("Downloading %1%").arg(int(std::trunc(std::clamp(job.fraction, 0.0, 1.0) * 100.0)));
    case Job::Kind::verifying:
        return QStringLiteral("Checking it was signed by Tarnaudio");
    case Job::Kind::installing:
        return QStringLiteral("Installing");
    case Job::Kind::registering:
        return QStringLiteral("Waiting for your system to list the AU");
    case Job::Kind::removing:
        return QStringLiteral("Moving to the Trash");
    case Job::Kind::waitingForRestart:
        return QStringLiteral("Installed. Waiting to restart Tarnhub");
    case Job::Kind::idle:
    case Job::Kind::done:
    case Job::Kind::warning:
    case Job::Kind::failed:
        break;
    }
    return std::nullopt;
}

void JobLine::setJob(const Job& job, const QColor& color)
{
    m_job = job;
    m_color = color;
    const std::optional<QString> text = stepText(job);
    switch (job.kind) {
    case Job::Kind::idle:
        break;
    case Job::Kind::downloading:
        step(std::isfinite(job.fraction) ? std::clamp(job.fraction, 0.0, 1.0) : 0.0, *text,
             QStringLiteral("Downloading"));
        break;
    case Job::Kind::verifying:
    case Job::Kind::installing:
    case Job::Kind::registering:
        step(1.0, *text, *text);
        break;
    case Job::Kind::removing:
    case Job::Kind::waitingForRestart:
        step(std::nullopt, *text, *text);
        break;
    case Job::Kind::done:
        message(QStringLiteral("✓"), QStringLiteral("Done"), color, job.message);
        break;
    case Job::Kind::warning:
        message(QStringLiteral("!"), QStringLiteral("Warning"), Kit::Theme::warn(), job.message);
        break;
    case Job::Kind::failed:
        message(QStringLiteral("✕"), QStringLiteral("Failed"), Kit::Theme::bad(), job.message);
        break;
    }
    m_step->setVisible(text.has_value());
    m_outcome->setVisible(!text && job.kind != Job::Kind::idle);
    // Explicitly hidden while idle, so a parent's layout gives it no room.
    setVisible(job.kind != Job::Kind::idle);
    // An outcome is said once, by the line the user sees; a step is heard
    // through the progress line.
    const bool outcome = m_outcome->isVisibleTo(this);
    if (outcome && isVisible() && job != m_announced)
        Kit::announce(this, job.message);
    m_announced = outcome ? job : Job::idle();
}

void JobLine::step(std::optional<qreal> value, const QString& text, const QString& spoken)
{
    m_stepText->setText(text);
    // The line speaks its value itself; its name stays put while the
    // percentage moves, so a screen reader is not told a new name per tick.
    Kit::setSpokenName(m_progress, spoken);
    m_spinner->setVisible(!value);
    m_progress->setVisible(value.has_value());
    if (value) {
        m_progress->setValue(*value);
        m_progress->setColor(m_color);
    }
}

void JobLine::message(const QString& mark, const QString& spoken, const QColor& markColor, const QString& text)
{
    m_mark->setText(mark);
    // Read as the word, not as a bare symbol.
    Kit::setSpokenName(m_mark, spoken);
    Kit::setTextColor(m_mark, markColor);
    m_message->setText(text);
}

} // namespace Hub::Views
