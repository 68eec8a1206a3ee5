#include "Views/Frame/HubUpdateBar.h"

#include "Views/Common/NotesList.h"
#include "Views/Page/JobLine.h"

#include "Kit/ExternalLink.h"
#include "Kit/Paint.h"
#include "Kit/Pill.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include "Base/Config.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace Hub::Views {

namespace {

constexpr int kBelow = 22;
constexpr QMargins kPadding{16, 10, 16, 10};
constexpr int kSpacing = 12;
constexpr int kNotesShown = 3;
constexpr int kNotesWidth = 360;
constexpr int kNotesPadding = 18;

} // namespace

HubUpdateBar::HubUpdateBar(HubModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_title(Kit::plainLabel(QString(), this))
    , m_whatsNew(new Kit::ExternalLink(QStringLiteral("What's new"), QUrl(), {}, this))
    , m_job(new JobLine(this))
{
    setObjectName(QStringLiteral("hubUpdateBar"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_title->setObjectName(QStringLiteral("hubUpdateTitle"));
    Kit::setLabelStyle(m_title, 11, QFont::DemiBold, Kit::Theme::ink());
    m_whatsNew->setObjectName(QStringLiteral("hubWhatsNew"));
    m_job->setObjectName(QStringLiteral("hubUpdateJob"));

    m_update = new Kit::Pill(QString(), Kit::PillStyle::smallInk(), this);
    m_update->setObjectName(QStringLiteral("hubUpdateButton"));

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kPadding + QMargins(0, 0, 0, kBelow));
    row->setSpacing(kSpacing);
    row->addWidget(m_title, 0, Qt::AlignVCenter);
    row->addWidget(m_whatsNew, 0, Qt::AlignVCenter);
    row->addWidget(m_job, 1, Qt::AlignVCenter);
    // The flexible room before the button, whether or not a job shows.
    row->addStretch(0);
    row->addWidget(m_update, 0, Qt::AlignVCenter);

    connect(m_whatsNew, &QAbstractButton::clicked, this, &HubUpdateBar::toggleNotes);
    // The model reports the update's steps and outcome; the press only starts it.
    connect(m_update, &QAbstractButton::clicked, model, &HubModel::updateHub);
    for (auto changed : {&HubModel::catalogChanged, &HubModel::hubJobChanged, &HubModel::offlineChanged})
        connect(model, changed, this, &HubUpdateBar::sync);
    sync();
}

void HubUpdateBar::sync()
{
    const std::optional<Release> release = m_model->hubUpdate();
    setVisible(release.has_value());
    if (!release) {
        delete m_notes;
        return;
    }
    m_title->setText(QStringLiteral("Tarnhub ") + release->version + QStringLiteral(" is out"));
    const std::optional<Catalog>& catalog = m_model->catalog();
    const bool notes = catalog && catalog->hubReleases && !catalog->hubReleases->empty();
    m_whatsNew->setVisible(notes);
    if (!notes)
        delete m_notes;
    // An idle job takes no room; the flexible room is the line's own.
    m_job->setJob(m_model->hubJob(), Kit::Theme::ink());
    const bool offline = m_model->offline();
    m_update->setText(offline ? QStringLiteral("Needs internet") : QStringLiteral("Update and restart"));
    m_update->setEnabled(!m_model->hubJob().isWorking() && !offline);
    m_update->updateGeometry();
}

void HubUpdateBar::toggleNotes()
{
    if (m_notes) {
        delete m_notes;
        return;
    }
    const std::vector<ReleaseNote>& all = *m_model->catalog()->hubReleases;
    const std::vector<ReleaseNote> first(all.begin(), all.begin() + std::min<std::ptrdiff_t>(kNotesShown, std::ssize(all)));

    auto* popover = new QWidget(this, Qt::Popup);
    popover->setObjectName(QStringLiteral("hubNotesPopover"));
    popover->setAttribute(Qt::WA_DeleteOnClose);
    // A press on "What's new" while it is open only closes it.
    popover->setAttribute(Qt::WA_NoMouseReplay);
    QPalette p = popover->palette();
    p.setColor(QPalette::Window, Kit::Theme::panel());
    popover->setPalette(p);
    popover->setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(popover);
    layout->setContentsMargins(kNotesPadding, kNotesPadding, kNotesPadding, kNotesPadding);
    layout->addWidget(new NotesList(first, Config::hubVersion(), Config::changelog(QStringLiteral("hub")),
                                    [model = m_model](const QUrl& url) { model->openLink(url); }));
    popover->setFixedWidth(kNotesWidth);
    popover->adjustSize();
    popover->move(m_whatsNew->mapToGlobal(QPoint(0, m_whatsNew->height() + 4)));
    m_notes = popover;
    connect(popover, &QObject::destroyed, this, [this, popover] {
        if (m_notes == popover)
            m_notes = nullptr;
    });
    popover->show();
}

void HubUpdateBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal half = Kit::Theme::stroke / 2;
    const QRectF outline = QRectF(rect()).adjusted(half, half, -half, -half - kBelow);
    p.setPen(QPen(Kit::Theme::line(), Kit::Theme::stroke));
    p.setBrush(Qt::NoBrush);
    p.drawPath(Kit::Paint::continuousRect(outline, Kit::Theme::cardRadius));
}

} // namespace Hub::Views
