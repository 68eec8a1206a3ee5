#include "Views/Sheets/SheetKit.h"

#include "Kit/Control.h"
#include "Kit/Paint.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"

#include <QAccessibleWidget>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace Hub::Views {

namespace {

struct TitleStyle {
    qreal size = 28;
    qreal tracking = -1.4;
    // The smallest the title shrinks to before it is cut.
    qreal minimumScale = 0.6;
    int spacing = 8;
    qreal detailSize = 11;
};

struct FormatBoxStyle {
    QMargins padding{14, 12, 14, 12};
    int spacing = 3;
    qreal nameSize = 12;
    qreal nameTracking = 0.6;
    qreal detailSize = 13;
    // The keyboard's ring inside the tile's edge.
    qreal focusInset = 4;
};

class FormatBoxAccessible : public QAccessibleWidget {
public:
    explicit FormatBoxAccessible(FormatBox* box)
        : QAccessibleWidget(box, QAccessible::CheckBox)
    {
        addControllingSignal(QStringLiteral("toggled(bool)"));
    }

    FormatBox* box() const { return static_cast<FormatBox*>(widget()); }

    // The name and detail inside are the tile's name and description.
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = !box()->isFixed();
        s.checked = box()->isOn();
        s.readOnly = box()->isFixed();
        return s;
    }

    QStringList actionNames() const override
    {
        if (box()->isFixed() || !box()->isEnabled())
            return {};
        return {toggleAction(), pressAction()};
    }

    void doAction(const QString& action) override
    {
        if (actionNames().contains(action))
            box()->click();
    }
};

// The sheet's title is its heading.
class TitleAccessible : public QAccessibleWidget {
public:
    explicit TitleAccessible(QWidget* title)
        : QAccessibleWidget(title, QAccessible::Heading)
    {
    }
};

QAccessibleInterface* sheetFactory(const QString&, QObject* object)
{
    if (auto* box = qobject_cast<FormatBox*>(object))
        return new FormatBoxAccessible(box);
    if (object->objectName() == QStringLiteral("sheetTitle") && qobject_cast<SheetTitle*>(object->parent()))
        return new TitleAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

void installSheetAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(sheetFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace

// The title drawn whole at its size when it fits, else smaller down to the
// least scale, and only then cut with an ellipsis.
class SheetTitle::Title : public QWidget {
public:
    explicit Title(QWidget* parent)
        : QWidget(parent)
    {
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    void setText(const QString& text)
    {
        // Each sync sets it again; a screen reader hears only a new title.
        if (text == m_text)
            return;
        m_text = text;
        Kit::setSpokenName(this, Kit::spokenTitle(text));
        updateGeometry();
        update();
    }
    const QString& text() const { return m_text; }

    qreal scale() const
    {
        const qreal natural = QFontMetricsF(font(1)).horizontalAdvance(m_text);
        if (natural <= width() || natural <= 0)
            return 1;
        return std::max(m_style.minimumScale, qreal(width()) / natural);
    }
    qreal shownSize() const { return m_style.size * scale(); }

    QSize sizeHint() const override
    {
        const QFontMetricsF metrics(font(1));
        return QSize(int(metrics.horizontalAdvance(m_text)) + 1, int(std::ceil(metrics.height())));
    }
    QSize minimumSizeHint() const override { return QSize(0, sizeHint().height()); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::TextAntialiasing);
        const QFont f = font(scale());
        p.setFont(f);
        p.setPen(Kit::Theme::ink());
        const QFontMetricsF metrics(f);
        const QString shown = metrics.elidedText(m_text, Qt::ElideRight, width());
        p.drawText(QRectF(rect()), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    }

private:
    QFont font(qreal scale) const { return Kit::Theme::bold(m_style.size * scale, m_style.tracking * scale); }

    TitleStyle m_style;
    QString m_text;
};

SheetTitle::SheetTitle(const QString& title, const QString& detail, QWidget* parent)
    : QWidget(parent)
    , m_title(new Title(this))
    , m_detail(Kit::plainLabel(detail, this))
{
    installSheetAccessibility();
    const TitleStyle style;
    m_title->setObjectName(QStringLiteral("sheetTitle"));
    m_detail->setObjectName(QStringLiteral("sheetDetail"));
    Kit::setLabelStyle(m_detail, style.detailSize, QFont::Medium, Kit::Theme::muted());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(style.spacing);
    layout->addWidget(m_title);
    layout->addWidget(m_detail);
    setTexts(title, detail);
}

void SheetTitle::setTexts(const QString& title, const QString& detail)
{
    m_title->setText(title);
    m_detail->setText(detail);
    Kit::setSpokenName(m_detail, Kit::spokenTitle(detail));
}

QString SheetTitle::title() const { return m_title->text(); }

QString SheetTitle::detail() const { return m_detail->text(); }

qreal SheetTitle::titleSize() const { return m_title->shownSize(); }

FormatBox::FormatBox(PluginFormat format, const QString& detail, std::function<void(bool)> choose, QWidget* parent)
    : QAbstractButton(parent)
    , m_format(format)
    , m_choose(std::move(choose))
    , m_name(Kit::plainLabel(label(format), this))
    , m_detail(Kit::plainLabel(detail, this))
{
    // Before anything asks: the interface is made once per object and kept.
    installSheetAccessibility();
    const FormatBoxStyle style;
    Kit::setupButton(this);
    setCheckable(true);
    setObjectName(QStringLiteral("formatBox-") + rawValue(format));
    setText(label(format));
    setAccessibleName(label(format));
    setAccessibleDescription(detail);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_name->setObjectName(QStringLiteral("formatName"));
    m_name->setFont(Kit::Theme::mono(style.nameSize, QFont::DemiBold, style.nameTracking, true));
    m_detail->setObjectName(QStringLiteral("formatDetail"));
    m_detail->setFont(Kit::Theme::prose(style.detailSize));
    m_detail->setWordWrap(true);
    for (QLabel* l : {m_name, m_detail}) {
        l->setAttribute(Qt::WA_TransparentForMouseEvents);
        l->setFocusPolicy(Qt::NoFocus);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(style.padding);
    layout->setSpacing(style.spacing);
    layout->addWidget(m_name);
    layout->addWidget(m_detail);
    // Not clicked(): assistive technology's toggle flips the state without
    // a click, and the choice must follow what the tile shows.
    connect(this, &QAbstractButton::toggled, this, &FormatBox::changed);
    restyle();
}

void FormatBox::changed(bool on)
{
    if (m_applying)
        return;
    if (m_fixed) {
        setOn(!on);
        return;
    }
    restyle();
    if (m_choose)
        m_choose(on);
}

void FormatBox::nextCheckState()
{
    if (!m_fixed)
        QAbstractButton::nextCheckState();
}

void FormatBox::setOn(bool on)
{
    if (on == isChecked())
        return;
    m_applying = true;
    setChecked(on);
    m_applying = false;
    restyle();
}

QString FormatBox::detail() const { return m_detail->text(); }

void FormatBox::setDetail(const QString& detail)
{
    m_detail->setText(detail);
    setAccessibleDescription(detail);
}

void FormatBox::setFixed()
{
    m_fixed = true;
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
}

void FormatBox::restyle()
{
    Kit::setTextColor(m_name, isChecked() ? Kit::Theme::bg() : Kit::Theme::ink());
    Kit::setTextColor(m_detail, isChecked() ? Kit::Theme::dim() : Kit::Theme::muted());
    update();
}

void FormatBox::paintEvent(QPaintEvent*)
{
    const FormatBoxStyle style;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal half = Kit::Theme::stroke / 2;
    const QPainterPath shape =
        Kit::Paint::continuousRect(QRectF(rect()).adjusted(half, half, -half, -half), Kit::Theme::cardRadius);
    const QColor edge = isChecked() ? Kit::Theme::ink() : Kit::Theme::strong();
    p.setPen(QPen(edge, Kit::Theme::stroke));
    p.setBrush(isChecked() ? Kit::Theme::ink() : QColor(Qt::transparent));
    p.drawPath(shape);
    if (Kit::keyboardFocus(this))
    {
        const qreal in = style.focusInset;
        Kit::Paint::focusRing(p, Kit::Paint::continuousRect(QRectF(rect()).adjusted(in, in, -in, -in), Kit::Theme::cardRadius - in),
                              isChecked() ? Kit::Theme::bg() : Kit::Theme::ink());
    }
}

bool FormatBox::hitButton(const QPoint& pos) const
{
    return Kit::Paint::continuousRect(QRectF(rect()), Kit::Theme::cardRadius).contains(QPointF(pos) + QPointF(0.5, 0.5));
}

void putInReadingOrder(const QWidgetList& parts)
{
    if (parts.isEmpty())
        return;
    QWidget* parent = parts.first()->parentWidget();
    QWidgetList now;
    for (QObject* child : parent->children())
        if (child->isWidgetType() && parts.contains(static_cast<QWidget*>(child)))
            now.append(static_cast<QWidget*>(child));
    if (now == parts)
        return;
    // raise() moves a widget to the end of its parent's children; the parts
    // do not overlap, so nothing is drawn differently.
    for (QWidget* part : parts)
        part->raise();
    if (QAccessible::isActive()) {
        QAccessibleEvent reordered(parent, QAccessible::ObjectReorder);
        QAccessible::updateAccessibility(&reordered);
    }
}

void layOutMessage(QWidget* panel, const QString& name, const QString& title, const QString& text, QWidget* close)
{
    QLabel* heading = Kit::plainLabel(title, panel);
    heading->setObjectName(name + QStringLiteral("Title"));
    Kit::setProseStyle(heading, Kit::Theme::bold(28, -1.4), Kit::Theme::ink());
    QLabel* body = Kit::plainLabel(text, panel);
    body->setObjectName(name + QStringLiteral("Text"));
    Kit::setFootStyle(body, 13);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(heading);
    layout->addWidget(body);
    layout->addLayout(buttons);
    putInReadingOrder({heading, body, close});
}

} // namespace Hub::Views
