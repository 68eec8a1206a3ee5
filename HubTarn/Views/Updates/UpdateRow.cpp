#include "Views/Updates/UpdateRow.h"

#include "Views/Page/JobLine.h"

#include "Kit/Color.h"
#include "Kit/Control.h"
#include "Kit/ElidedLabel.h"
#include "Kit/Hairline.h"
#include "Kit/Paint.h"
#include "Kit/Pill.h"
#include "Kit/ProductMark.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTextLayout>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace Hub::Views {

namespace {

constexpr int kMarkSize = 64;
constexpr int kNoteLines = 2;
constexpr int kPadding = 12;

} // namespace

// ---- ClampedText -------------------------------------------------------------

ClampedText::ClampedText(int lines, QWidget* parent)
    : QWidget(parent)
    , m_lines(lines)
{
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void ClampedText::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    Kit::setSpokenName(this, text);
    updateGeometry();
    update();
}

QStringList ClampedText::shownLines(int width) const
{
    QStringList shown;
    if (m_text.isEmpty() || width <= 0)
        return shown;
    QTextLayout layout(m_text, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (shown.size() == m_lines - 1) {
            // The last line takes the rest, shortened to fit.
            const QString rest = m_text.mid(line.textStart()).simplified();
            shown.append(QFontMetrics(font()).elidedText(rest, Qt::ElideRight, width));
            break;
        }
        shown.append(m_text.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    return shown;
}

int ClampedText::heightForWidth(int width) const
{
    return int(shownLines(width).size()) * QFontMetrics(font()).lineSpacing();
}

QSize ClampedText::sizeHint() const
{
    const int width = QFontMetrics(font()).horizontalAdvance(m_text) + 1;
    return QSize(width, heightForWidth(width));
}

QSize ClampedText::minimumSizeHint() const { return QSize(0, m_text.isEmpty() ? 0 : QFontMetrics(font()).lineSpacing()); }

void ClampedText::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    p.setFont(font());
    const QFontMetrics metrics(font());
    int y = 0;
    for (const QString& line : shownLines(width())) {
        p.drawText(QRect(0, y, width(), metrics.lineSpacing()), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   line);
        y += metrics.lineSpacing();
    }
}

void ClampedText::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateGeometry();
        update();
    }
}

// ---- UpdateRow ---------------------------------------------------------------

UpdateRow::UpdateRow(HubModel* model, const QString& productID, QWidget* parent)
    : ListRow(model, productID, parent)
    // A long name is shortened with an ellipsis, never clipped mid-letter.
    , m_name(new Kit::ElidedLabel(QString(), Qt::ElideRight, this))
    , m_versions(Kit::plainLabel(QString(), this))
    , m_note(new ClampedText(kNoteLines, this))
    , m_job(new JobLine(this))
{
    setObjectName(u"updateRow-"_s + productID);
    makeMark();
    styleTexts();
    makeUpdatePill();
    layOut();
    sync();
}

void UpdateRow::makeMark()
{
    const Product* shown = product();
    m_mark = new Kit::ProductMark(shown ? *shown : Product{}, true, kMarkSize, this);
    m_mark->setObjectName(u"updateMark"_s);
    // The mark is a picture to the keyboard (Tab skips it); the row itself
    // takes the focus and Return or Space on it opens the same page.
    const auto openPage = [this] { this->model()->setPage(this->productID()); };
    connect(m_mark, &QAbstractButton::clicked, this, openPage);
    connect(this, &ListRow::activated, this, openPage);
}

void UpdateRow::styleTexts()
{
    m_name->setObjectName(u"updateName"_s);
    // Its whole width while there is room; shortened only when there is not.
    m_name->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_name->setFont(Kit::Theme::bold(20, -0.8));
    Kit::setTextColor(m_name, Kit::Theme::ink());
    m_versions->setObjectName(u"updateVersions"_s);
    m_versions->setFont(Kit::Theme::mono(11, QFont::Medium, 0.55, true));
    Kit::setTextColor(m_versions, Kit::Theme::muted());
    // The two sit on one baseline: the small text is lifted by the
    // difference of the two fonts' descents.
    m_versions->setContentsMargins(
        0, 0, 0, QFontMetrics(m_name->font()).descent() - QFontMetrics(m_versions->font()).descent());
    m_note->setObjectName(u"updateNote"_s);
    m_note->setFont(Kit::Theme::prose(13.5));
    Kit::setTextColor(m_note, Kit::Theme::muted());
    m_job->setObjectName(u"updateJob"_s);
}

void UpdateRow::makeUpdatePill()
{
    Kit::PillStyle style;
    style.small = true;
    m_update = new Kit::Pill(QString(), style, this);
    m_update->setObjectName(u"updatePill"_s);
    connect(m_update, &QAbstractButton::clicked, this, [this] {
        if (const Product* p = product())
            this->model()->requestInstall(*p, this->model()->updateFormats(*p), this->model()->scope());
    });
}

// The mark beside the name, versions and note, the pill at the end; the job
// line under the texts; a hairline along the bottom edge.
void UpdateRow::layOut()
{
    auto* names = new QHBoxLayout;
    names->setContentsMargins(0, 0, 0, 0);
    names->setSpacing(10);
    names->addWidget(m_name, 0, Qt::AlignBottom);
    names->addWidget(m_versions, 0, Qt::AlignBottom);
    names->addStretch(1);
    auto* text = new QVBoxLayout;
    text->setContentsMargins(0, 0, 0, 0);
    text->setSpacing(5);
    // Centred beside the mark, each line at its own height.
    text->addStretch(1);
    text->addLayout(names);
    text->addWidget(m_note);
    text->addStretch(1);

    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(16);
    top->addWidget(m_mark, 0, Qt::AlignVCenter);
    top->addLayout(text, 1);
    top->addSpacing(8);
    top->addWidget(m_update, 0, Qt::AlignVCenter);

    auto* job = new QHBoxLayout;
    job->setContentsMargins(kMarkSize + 16, 0, 0, 0);
    job->addWidget(m_job);

    auto* content = new QVBoxLayout;
    content->setContentsMargins(0, 0, 0, 0);
    content->setSpacing(8);
    content->addLayout(top);
    content->addLayout(job);
    // 12 above and below, with the hairline along the bottom edge.
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, kPadding, 0, 0);
    column->setSpacing(0);
    column->addLayout(content);
    column->addSpacing(kPadding - int(Kit::Theme::hairline));
    column->addWidget(new Kit::Hairline(this));
}

void UpdateRow::paintEvent(QPaintEvent*)
{
    if (!Kit::keyboardFocus(this))
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    Kit::Paint::focusRing(p, Kit::Paint::continuousRect(QRectF(rect()).adjusted(2, 2, -2, -2), Kit::Theme::rowRadius),
                          Kit::Theme::ink());
}

void UpdateRow::sync()
{
    const Product* shown = product();
    if (!shown)
        return;
    const HubModel* m = model();
    const ProductState state = m->state(*shown);
    m_mark->setProduct(*shown);
    Kit::setSpokenName(m_mark, shown->shown());
    m_name->setText(shown->shown());
    // The oldest copy the update replaces: after an update cut short between
    // formats the newest copy is already the release's version.
    m_versions->setText(m->updateFromVersion(*shown).value_or(m->installedVersion(*shown).value_or(QString())) + u" → "_s
                        + (shown->release ? shown->release->version : QString()));
    const std::optional<QString> note = HubModel::updateNote(*shown);
    m_note->setText(note.value_or(QString()));
    m_note->setVisible(note.has_value());
    if (note)
        m_note->setToolTip(Kit::plainToolTip(*note));

    const bool offline = m->offline();
    m_update->setText(offline ? u"Needs internet"_s : u"Update"_s);
    // Named as the plug-ins tab names its own: a list of "Update" says nothing.
    Kit::setSpokenName(m_update, u"Update "_s + shown->shown() + u" to "_s
                                     + (shown->release ? shown->release->version : QString()));
    Kit::PillStyle style = m_update->pillStyle();
    style.fill = Kit::accentColor(*shown);
    style.text = Kit::accentTextColor(*shown);
    m_update->setPillStyle(style);
    m_update->setEnabled(!offline && !state.job.isWorking());
    m_job->setJob(state.job, Kit::accentColor(*shown));
    m_job->setVisible(state.job.kind != Job::Kind::idle);
    ListRow::sync();
}

} // namespace Hub::Views
