#include "Switches.h"

#include "Control.h"
#include "InkKnob.h"
#include "Paint.h"
#include "TextStyle.h"
#include "Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace Hub::Kit {

namespace {

QWidget* defaultLabel(const QString& title)
{
    QLabel* l = plainLabel(title);
    setProseStyle(l, Theme::prose(14), Theme::ink());
    return l;
}

} // namespace

SwitchButton::SwitchButton(const QString& title, QWidget* label, QWidget* parent)
    : QAbstractButton(parent)
    , m_knob(new InkKnob(this))
    , m_label(label ? label : defaultLabel(title))
{
    setupButton(this);
    setCheckable(true);
    setLiteralText(this, title);
    m_label->setParent(this);
    m_label->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_label->setFocusPolicy(Qt::NoFocus);
    for (QWidget* child : m_label->findChildren<QWidget*>()) {
        child->setAttribute(Qt::WA_TransparentForMouseEvents);
        child->setFocusPolicy(Qt::NoFocus);
    }
    connect(this, &QAbstractButton::toggled, m_knob, &InkKnob::setOn);
}

QSize SwitchButton::sizeHint() const { return QAbstractButton::sizeHint().expandedTo(minimumSize()); }

void SwitchButton::paintEvent(QPaintEvent*)
{
    if (!keyboardFocus(this))
        return;
    QPainter p(this);
    Paint::focusRing(p, Paint::continuousRect(QRectF(rect()).adjusted(2, 2, -2, -2), Theme::rowRadius), Theme::ink());
}

// The whole rectangle: the row has no shape of its own.
bool SwitchButton::hitButton(const QPoint& pos) const { return rect().contains(pos); }

void SwitchButton::arrange(const SwitchStyle& style)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(style.margins);
    layout->setSpacing(style.spacing);
    if (style.knobFirst)
        layout->addWidget(m_knob, 0, Qt::AlignVCenter);
    layout->addWidget(m_label, 1, Qt::AlignVCenter);
    if (!style.knobFirst)
        layout->addWidget(m_knob, 0, Qt::AlignVCenter);
    if (style.minHeight > 0)
        setMinimumHeight(style.minHeight);
}

RowSwitch::RowSwitch(const QString& title, QWidget* label, QWidget* parent)
    : SwitchButton(title, label, parent)
{
    arrange(SwitchStyle::row());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
}

InkSwitch::InkSwitch(const QString& title, QWidget* label, QWidget* parent)
    : SwitchButton(title, label, parent)
{
    arrange(SwitchStyle::ink());
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
}

} // namespace Hub::Kit
