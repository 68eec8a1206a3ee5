#include "Views/Frame/SectionHead.h"

#include "Views/Common/Accessibility.h"

#include "Kit/Control.h"
#include "Kit/Pill.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QLayout>

#include <algorithm>

namespace Hub::Views {

namespace {

constexpr int kSpacing = 12;
constexpr int kMinimumGap = 8;
constexpr int kBelow = 20;

} // namespace

SectionHead::SectionHead(const QString& title, QWidget* trailing, QWidget* parent)
    : QWidget(parent)
    , m_title(Kit::plainLabel(QString(), this))
    , m_trailing(trailing)
{
    setObjectName(QStringLiteral("sectionHead"));
    m_title->setObjectName(QStringLiteral("sectionTitle"));
    m_title->setFont(Kit::Theme::bold(26, -1.17));
    QPalette p = m_title->palette();
    p.setColor(QPalette::WindowText, Kit::Theme::ink());
    m_title->setPalette(p);
    // Heading navigation starts each tab at its own title (marked before
    // its text is set, which makes its interface).
    markHeading(m_title);
    m_title->setText(title);
    Kit::setSpokenName(m_title, title);
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

int SectionHead::rowHeight() const
{
    const int title = QFontMetrics(m_title->font()).height();
    if (!m_trailing)
        return title;
    return std::max(title, trailingTop() + m_trailing->sizeHint().height());
}

// The trailing view's first text baseline: that of its first pill that
// shows. A view without text is centred on the title's lower-case letters.
int SectionHead::trailingTop() const
{
    const QFontMetrics metrics(m_title->font());
    const int baseline = metrics.ascent();
    // Laid out at its own size first, so its pill's place within it is known.
    m_trailing->resize(m_trailing->sizeHint());
    if (QLayout* layout = m_trailing->layout())
        layout->activate();
    QList<Kit::Pill*> pills = m_trailing->findChildren<Kit::Pill*>();
    if (auto* self = qobject_cast<Kit::Pill*>(m_trailing))
        pills.prepend(self);
    for (Kit::Pill* pill : pills) {
        if (pill->isHidden())
            continue;
        const int within = pill == m_trailing ? 0 : pill->mapTo(m_trailing, QPoint(0, 0)).y();
        return std::max(0, baseline - within - qRound(pill->firstBaseline()));
    }
    return std::max(0, baseline - metrics.xHeight() / 2 - m_trailing->sizeHint().height() / 2);
}

void SectionHead::place()
{
    // The title stands at the top whatever the trailing view is, so it
    // stays put from tab to tab.
    const QFontMetrics metrics(m_title->font());
    m_title->setGeometry(0, 0, m_title->sizeHint().width(), metrics.height());
    if (!m_trailing)
        return;
    const int top = trailingTop();
    m_trailing->move(width() - m_trailing->width(), top);
}

} // namespace Hub::Views
