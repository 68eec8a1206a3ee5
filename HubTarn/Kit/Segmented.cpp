#include "Segmented.h"

#include "Animation.h"
#include "Control.h"
#include "Paint.h"
#include "TextStyle.h"
#include "Theme.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QPainter>

#include <cmath>

namespace Hub::Kit {

namespace {

const SegmentedStyle kStyle;

class Segment : public QAbstractButton {
public:
    Segment(const QString& title, QWidget* parent)
        : QAbstractButton(parent)
        , m_hover(this)
    {
        setupButton(this);
        setCheckable(true);
        setLiteralText(this, title);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }

    QSize sizeHint() const override
    {
        const qreal w = QFontMetricsF(Paint::capsuleItemFont()).horizontalAdvance(text()) + kStyle.segmentPadding;
        return QSize(int(std::ceil(w)), int(kStyle.height - 2 * kStyle.inset));
    }

protected:
    void enterEvent(QEnterEvent* e) override
    {
        m_hover.animateTo(1, Theme::hoverMs);
        QAbstractButton::enterEvent(e);
    }
    void leaveEvent(QEvent* e) override
    {
        m_hover.animateTo(0, Theme::hoverMs);
        QAbstractButton::leaveEvent(e);
    }
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setOpacity(isEnabled() ? (isDown() ? Theme::pressedOpacity : 1) : Theme::disabledOpacity);
        Paint::capsuleItem(p, QRectF(rect()), text(), isChecked(), Paint::mix(Theme::muted(), Theme::ink(), m_hover.value()),
                           keyboardFocus(this), kStyle.item);
    }

private:
    Tween m_hover;
};

} // namespace

Segmented::Segmented(const QList<Option>& options, QWidget* parent)
    : QWidget(parent)
    , m_options(options)
    , m_group(new QButtonGroup(this))
{
    m_group->setExclusive(false);
    auto* layout = new QHBoxLayout(this);
    const int inset = int(kStyle.inset);
    layout->setContentsMargins(inset, inset, inset, inset);
    layout->setSpacing(0);
    for (qsizetype i = 0; i < options.size(); ++i) {
        auto* segment = new Segment(options[i].label, this);
        m_group->addButton(segment, int(i));
        layout->addWidget(segment);
    }
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(m_group, &QButtonGroup::idClicked, this, [this](int id) { setValue(m_options[id].value); });
}

QAbstractButton* Segmented::segment(qsizetype index) const { return m_group->button(int(index)); }

void Segmented::setValue(const QVariant& value)
{
    const bool changed = !(value == m_value);
    m_value = value;
    // Checked states are set here, not by the group: a press on the chosen
    // segment keeps it chosen, and an unknown value clears every segment.
    for (qsizetype i = 0; i < m_options.size(); ++i)
        segment(i)->setChecked(m_options[i].value == value);
    if (changed)
        Q_EMIT valueChanged(value);
}

void Segmented::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Theme::line(), Theme::stroke));
    p.setBrush(Qt::NoBrush);
    const qreal half = Theme::stroke / 2;
    p.drawPath(Paint::capsule(QRectF(rect()).adjusted(half, half, -half, -half)));
}

} // namespace Hub::Kit
