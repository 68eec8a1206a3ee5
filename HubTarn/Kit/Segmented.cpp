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

constexpr qreal kHeight = 30;
constexpr qreal kInset = 3;

QFont segmentFont() { return label(11, QFont::DemiBold); }

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
        const qreal w = QFontMetricsF(segmentFont()).horizontalAdvance(text()) + 26;
        return QSize(int(std::ceil(w)), int(kHeight - 2 * kInset));
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
        const QRectF r(rect());
        if (isChecked()) {
            p.setPen(Qt::NoPen);
            p.setBrush(Theme::ink());
            p.drawPath(Paint::capsule(r));
        }
        const QColor text = isChecked() ? Theme::bg() : Paint::mix(Theme::muted(), Theme::ink(), m_hover.value());
        p.setFont(segmentFont());
        p.setPen(text);
        const qreal tracking = segmentFont().letterSpacing();
        p.drawText(r.translated(tracking / 2, 0), Qt::AlignCenter | Qt::TextSingleLine, this->text());
        if (keyboardFocus(this))
            Paint::focusRing(p, Paint::capsule(r.adjusted(2, 2, -2, -2)), isChecked() ? Theme::bg() : Theme::ink());
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
    layout->setContentsMargins(int(kInset), int(kInset), int(kInset), int(kInset));
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
