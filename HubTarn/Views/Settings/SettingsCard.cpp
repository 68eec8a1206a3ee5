#include "Views/Settings/SettingsCard.h"

#include "Views/Common/Accessibility.h"
#include "Kit/Control.h"
#include "Kit/ElidedLabel.h"

#include "Kit/Paint.h"
#include "Kit/Styles.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"

#include <QChildEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace Hub::Views {

namespace {

// The card's panel: filled behind its rows and outlined over them, so a
// row's own background never covers the outline nor squares off a corner.
class CardPanel : public QWidget {
public:
    explicit CardPanel(QWidget* parent)
        : QWidget(parent)
    {
        m_outline = new Outline(this);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillPath(shape(rect()), Kit::Theme::panel());
    }
    void resizeEvent(QResizeEvent*) override
    {
        m_outline->setGeometry(rect());
        m_outline->raise();
    }
    void childEvent(QChildEvent* event) override
    {
        QWidget::childEvent(event);
        // Rows added later would otherwise stack above the outline.
        if (event->added() && m_outline)
            m_outline->raise();
    }

private:
    static QPainterPath shape(const QRect& r)
    {
        const qreal half = Kit::Theme::stroke / 2;
        return Kit::Paint::continuousRect(QRectF(r).adjusted(half, half, -half, -half), Kit::Theme::cardRadius);
    }

    class Outline : public QWidget {
    public:
        explicit Outline(QWidget* parent)
            : QWidget(parent)
        {
            setAttribute(Qt::WA_TransparentForMouseEvents);
        }

    protected:
        void paintEvent(QPaintEvent*) override
        {
            QPainter p(this);
            p.setRenderHint(QPainter::Antialiasing);
            // Child widgets cannot be clipped to a curve with antialiasing, so
            // the corners outside the curve are painted over in the colour
            // the card stands on, under the outline.
            QPainterPath outside;
            outside.addRect(QRectF(rect()));
            p.fillPath(outside.subtracted(shape(rect())), palette().color(QPalette::Window));
            p.setPen(QPen(Kit::Theme::line(), Kit::Theme::stroke));
            p.setBrush(Qt::NoBrush);
            p.drawPath(shape(rect()));
        }
    };

    Outline* m_outline = nullptr;
};

} // namespace

SettingsCard::SettingsCard(const QString& title, const std::optional<QString>& note, QWidget* parent)
    : QWidget(parent)
    , m_title(Kit::plainLabel(QString(), this))
    , m_panel(new CardPanel(this))
    , m_rows(new QVBoxLayout(m_panel))
    , m_note(Kit::plainLabel(QString(), this))
{
    m_title->setObjectName(QStringLiteral("cardTitle"));
    Kit::setLabelStyle(m_title, 11, QFont::Medium, Kit::Theme::muted());
    markHeading(m_title);
    m_panel->setObjectName(QStringLiteral("cardPanel"));
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(0);
    m_note->setObjectName(QStringLiteral("cardNote"));
    Kit::setFootStyle(m_note, 12.5);
    m_note->setContentsMargins(4, 0, 4, 0);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(m_title);
    layout->addWidget(m_panel);
    layout->addWidget(m_note);
    setTitle(title);
    setNote(note);
}

QString SettingsCard::spokenTitle(const QString& title)
{
    QString spoken = title;
    return spoken.replace(QStringLiteral(" · "), QStringLiteral(", "));
}

void SettingsCard::setTitle(const QString& title)
{
    m_title->setText(title);
    Kit::setSpokenName(m_title, spokenTitle(title));
}

void SettingsCard::setNote(const std::optional<QString>& note)
{
    m_note->setText(note.value_or(QString()));
    // Hidden, it takes neither its line nor the stack's spacing.
    m_note->setVisible(note.has_value());
}

void SettingsCard::addRow(QWidget* row) { m_rows->addWidget(row); }

CardDivider::CardDivider(QWidget* parent)
    : Kit::Hairline(parent, Kit::Theme::cardPadding)
{
}

RowText::RowText(const QString& title, const std::optional<QString>& detail, bool mono, QWidget* parent)
    : QWidget(parent)
    , m_mono(mono)
    , m_title(Kit::plainLabel(title, this))
{
    m_title->setObjectName(QStringLiteral("rowTitle"));
    Kit::setProseStyle(m_title, Kit::Theme::prose(14), Kit::Theme::ink());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);
    layout->addWidget(m_title);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    rebuildDetail(detail);
}

void RowText::setTitle(const QString& title) { m_title->setText(title); }

void RowText::setDetail(const std::optional<QString>& detail) { rebuildDetail(detail); }

QLabel* RowText::detailLabel() const
{
    if (m_monoDetail)
        return m_monoDetail;
    return m_proseDetail;
}

void RowText::rebuildDetail(const std::optional<QString>& detail)
{
    if (!detail) {
        delete m_proseDetail;
        delete m_monoDetail;
        m_proseDetail = nullptr;
        m_monoDetail = nullptr;
        return;
    }
    if (m_mono) {
        if (!m_monoDetail) {
            m_monoDetail = new Kit::ElidedLabel(QString(), Qt::ElideMiddle, this);
            m_monoDetail->setObjectName(QStringLiteral("rowDetail"));
            m_monoDetail->setFont(Kit::Theme::mono(11, QFont::Medium));
            Kit::setTextColor(m_monoDetail, Kit::Theme::muted());
            Kit::setSelectable(m_monoDetail);
            layout()->addWidget(m_monoDetail);
        }
        m_monoDetail->setText(*detail);
        return;
    }
    if (!m_proseDetail) {
        m_proseDetail = Kit::plainLabel(QString(), this);
        m_proseDetail->setObjectName(QStringLiteral("rowDetail"));
        Kit::setFootStyle(m_proseDetail, 12.5);
        layout()->addWidget(m_proseDetail);
    }
    m_proseDetail->setText(*detail);
}

SettingRow::SettingRow(const QString& title, const std::optional<QString>& detail, bool mono, QWidget* control,
                       QWidget* parent)
    : QWidget(parent)
    , m_text(new RowText(title, detail, mono, this))
    , m_control(control)
{
    auto* layout = new QHBoxLayout(this);
    const Kit::SettingRowStyle style;
    layout->setContentsMargins(style.margins);
    layout->setSpacing(style.spacing);
    layout->addWidget(m_text, 1, Qt::AlignVCenter);
    if (control)
        layout->addWidget(control, 0, Qt::AlignVCenter);
    setMinimumHeight(style.minHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
}

} // namespace Hub::Views
