#include "Views/Frame/SectionHead.h"

#include "Kit/TextStyle.h"
#include "Kit/Theme.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLabel>

#include <algorithm>

namespace Hub::Views {

namespace {

constexpr int kSpacing = 12;
constexpr int kMinimumGap = 8;
constexpr int kBelow = 20;

} // namespace

SectionHead::SectionHead(const QString& title, QWidget* trailing, QWidget* parent)
    : QWidget(parent)
    , m_title(Kit::plainLabel(title, this))
    , m_trailing(trailing)
{
    setObjectName(QStringLiteral("sectionHead"));
    m_title->setObjectName(QStringLiteral("sectionTitle"));
    m_title->setFont(Kit::Theme::bold(26, -1.17));
    QPalette p = m_title->palette();
    p.setColor(QPalette::WindowText, Kit::Theme::ink());
    m_title->setPalette(p);
    m_title->setAccessibleName(title);
    if (m_trailing) {
        m_trailing->setParent(this);
        m_trailing->installEventFilter(this);
    }
    const int trailingWidth = m_trailing ? m_trailing->sizeHint().width() : 0;
    setMinimumWidth(m_title->sizeHint().width() + (m_trailing ? 2 * kSpacing + kMinimumGap + trailingWidth : 0));
    setFixedHeight(rowHeight() + kBelow);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    place();
}

bool SectionHead::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_trailing && event->type() == QEvent::LayoutRequest) {
        setFixedHeight(rowHeight() + kBelow);
        place();
    }
    return QWidget::eventFilter(watched, event);
}

void SectionHead::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    place();
}

// The title and the trailing view share the title's first baseline; a
// trailing view without text of its own stands on it with its bottom edge.
int SectionHead::baseline() const
{
    const int ascent = QFontMetrics(m_title->font()).ascent();
    return std::max(ascent, m_trailing ? m_trailing->sizeHint().height() : 0);
}

int SectionHead::rowHeight() const
{
    const QFontMetrics metrics(m_title->font());
    return std::max(baseline() - metrics.ascent() + metrics.height(), baseline());
}

void SectionHead::place()
{
    const QFontMetrics metrics(m_title->font());
    m_title->setGeometry(0, baseline() - metrics.ascent(), m_title->sizeHint().width(), metrics.height());
    if (!m_trailing)
        return;
    const QSize trailing = m_trailing->sizeHint();
    m_trailing->setGeometry(width() - trailing.width(), baseline() - trailing.height(), trailing.width(),
                            trailing.height());
}

} // namespace Hub::Views
