#include "Segmented.h"

#include "Animation.h"
#include "Control.h"
#include "Paint.h"
#include "TextStyle.h"
#include "Theme.h"

#include <QAbstractButton>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>

#include <cmath>

namespace Hub::Kit {

namespace {

const SegmentedStyle kStyle;

} // namespace

// Not in a QButtonGroup: a grouped button takes Tab from its siblings as it
// gets the focus and moves only among buttons that Tab reaches, so once one
// had the focus the arrows did nothing and the others were out of reach.
class Segment : public QAbstractButton {
public:
    Segment(const QString& title, Segmented* parent)
        : QAbstractButton(parent)
        , m_owner(parent)
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

    void keyPressEvent(QKeyEvent* e) override
    {
        if (e->modifiers() & ~Qt::KeypadModifier) {
            QAbstractButton::keyPressEvent(e);
            return;
        }
        const bool mirrored = isRightToLeft();
        switch (e->key()) {
        case Qt::Key_Up:
            m_owner->step(this, -1);
            return;
        case Qt::Key_Down:
            m_owner->step(this, 1);
            return;
        case Qt::Key_Left:
            m_owner->step(this, mirrored ? 1 : -1);
            return;
        case Qt::Key_Right:
            m_owner->step(this, mirrored ? -1 : 1);
            return;
        default:
            QAbstractButton::keyPressEvent(e);
        }
    }

    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setOpacity(isEnabled() ? (isDown() ? Theme::pressedOpacity : 1) : Theme::disabledOpacity);
        Paint::capsuleItem(p, QRectF(rect()), text(), isChecked(), Paint::mix(Theme::muted(), Theme::ink(), m_hover.value()),
                           keyboardFocus(this), kStyle.item);
    }

private:
    Segmented* m_owner;
    Tween m_hover;
};

Segmented::Segmented(const QList<Option>& options, QWidget* parent)
    : QWidget(parent)
    , m_options(options)
{
    auto* layout = new QHBoxLayout(this);
    const int inset = int(kStyle.inset);
    layout->setContentsMargins(inset, inset, inset, inset);
    layout->setSpacing(0);
    for (qsizetype i = 0; i < options.size(); ++i) {
        auto* segment = new Segment(options[i].label, this);
        m_segments.append(segment);
        layout->addWidget(segment);
        connect(segment, &QAbstractButton::clicked, this, [this, i] { setValue(m_options[i].value); });
    }
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    fixTabStop();
}

QAbstractButton* Segmented::segment(qsizetype index) const { return m_segments.value(index); }

void Segmented::step(QAbstractButton* from, int step)
{
    const qsizetype to = m_segments.indexOf(from) + step;
    if (to < 0 || to >= m_segments.size() || !m_segments[to]->isEnabled())
        return;
    QAbstractButton* next = m_segments[to];
    next->setFocus(step < 0 ? Qt::BacktabFocusReason : Qt::TabFocusReason);
    next->click();
}

void Segmented::fixTabStop()
{
    qsizetype chosen = 0;
    for (qsizetype i = 0; i < m_options.size(); ++i)
        if (m_options[i].value == m_value)
            chosen = i;
    for (qsizetype i = 0; i < m_segments.size(); ++i)
        m_segments[i]->setFocusPolicy(i == chosen ? Qt::TabFocus : Qt::NoFocus);
}

void Segmented::setValue(const QVariant& value)
{
    const bool changed = !(value == m_value);
    m_value = value;
    // Checked states are set here, not by the group: a press on the chosen
    // segment keeps it chosen, and an unknown value clears every segment.
    for (qsizetype i = 0; i < m_options.size(); ++i)
        segment(i)->setChecked(m_options[i].value == value);
    fixTabStop();
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
