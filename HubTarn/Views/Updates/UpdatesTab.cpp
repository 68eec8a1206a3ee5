#include "Views/Updates/UpdatesTab.h"

#include "Views/Common/RowList.h"
#include "Views/Updates/UpdateRow.h"

#include "Catalog/Config.h"
#include "Kit/Control.h"
#include "Kit/ExternalLink.h"
#include "Kit/Hairline.h"
#include "Kit/Paint.h"
#include "Kit/Pill.h"
#include "Kit/Spinner.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace Hub::Views {

namespace {

QFont checkFont() { return Kit::label(11, QFont::Medium); }

Kit::Pill* updateAllPill()
{
    Kit::PillStyle style;
    style.fill = Kit::Theme::ink();
    style.small = true;
    auto* pill = new Kit::Pill(u"Update all"_s, style);
    pill->setObjectName(u"updateAll"_s);
    return pill;
}

// The maker's change log as a whole, with no product's anchor.
QUrl changelogPage()
{
    QUrl url = Config::site();
    url.setPath(u"/changelog"_s);
    return url;
}

} // namespace

// ---- CheckButton ---------------------------------------------------------------

CheckButton::CheckButton(QWidget* parent)
    : QAbstractButton(parent)
{
    Kit::setupButton(this);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize CheckButton::sizeHint() const
{
    const QFontMetricsF metrics(checkFont());
    return QSize(int(std::ceil(metrics.horizontalAdvance(text()))) + 4, int(std::ceil(metrics.height())) + 6);
}

void CheckButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setOpacity(Kit::stateOpacity(this));
    p.setPen(Kit::Theme::dim());
    p.setFont(checkFont());
    p.drawText(QRectF(rect()).adjusted(2, 0, -2, 0), Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, text());
    if (Kit::keyboardFocus(this))
        Kit::Paint::focusRing(p, Kit::Paint::continuousRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 5),
                              Kit::Theme::ink());
}

// ---- UpdatesTab ----------------------------------------------------------------

UpdatesTab::UpdatesTab(HubModel* model, QWidget* parent)
    : TabPanel(model, Tab::updates, updateAllPill(), parent)
    , m_updateAll(findChild<Kit::Pill*>(u"updateAll"_s))
{
    connect(m_updateAll, &QAbstractButton::clicked, model, &HubModel::requestUpdateAll);
    addSection(listSection());
    m_legacy = new QWidget;
    m_legacy->setObjectName(u"legacyCopies"_s);
    m_legacyColumn = new QVBoxLayout(m_legacy);
    m_legacyColumn->setContentsMargins(0, 18, 0, 0);
    m_legacyColumn->setSpacing(14);
    addSection(m_legacy);
    addSection(lastLine());

    for (auto signal : {&HubModel::statesChanged, &HubModel::catalogChanged, &HubModel::accountChanged,
                        &HubModel::hubJobChanged, &HubModel::offlineChanged}) {
        connect(model, signal, this, &UpdatesTab::syncList);
        connect(model, signal, this, &UpdatesTab::syncLegacy);
    }
    for (auto signal : {&HubModel::loadingChanged, &HubModel::lastCheckedChanged, &HubModel::offlineChanged})
        connect(model, signal, this, &UpdatesTab::syncCheck);
    syncList();
    syncLegacy();
    syncCheck();
}

QWidget* UpdatesTab::listSection()
{
    auto* section = new QWidget;
    section->setObjectName(u"updatesList"_s);
    auto* column = new QVBoxLayout(section);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(new Kit::Hairline(section));
    m_empty = Kit::plainLabel(QString(), section);
    m_empty->setObjectName(u"updatesEmpty"_s);
    Kit::setProseStyle(m_empty, Kit::Theme::prose(14), Kit::Theme::muted());
    m_empty->setContentsMargins(0, 16, 0, 16);
    column->addWidget(m_empty);
    m_rows = new RowList(model(), [this](const QString& id) -> ListRow* { return new UpdateRow(model(), id); });
    column->addWidget(m_rows);
    return section;
}

QWidget* UpdatesTab::lastLine()
{
    auto* line = new QWidget;
    line->setObjectName(u"updatesLastLine"_s);
    auto* row = new QHBoxLayout(line);
    row->setContentsMargins(0, 16, 0, 0);
    row->setSpacing(6);
    QLabel* lead = Kit::plainLabel(u"Full release notes live on"_s, line);
    Kit::setFootStyle(lead, 13);
    row->addWidget(lead);
    const QUrl page = changelogPage();
    auto* link = new Kit::ExternalLink(page.toString().remove(u"https://"_s) + u" ↗"_s, page,
                                       [model = model()](const QUrl& url) { model->openLink(url); }, line);
    link->setObjectName(u"changelogLink"_s);
    row->addWidget(link);
    row->addStretch(1);
    m_spinner = new Kit::Spinner(line);
    m_spinner->setObjectName(u"checkSpinner"_s);
    row->addWidget(m_spinner);
    m_check = new CheckButton(line);
    m_check->setObjectName(u"checkButton"_s);
    m_check->setToolTip(u"Check for updates (Ctrl+R)"_s);
    connect(m_check, &QAbstractButton::clicked, this, [this] { model()->refresh(true); });
    row->addWidget(m_check);
    return line;
}

QString UpdatesTab::checkTitle(bool loading, const std::optional<QDateTime>& lastChecked, bool offline)
{
    if (loading)
        return u"checking"_s;
    if (lastChecked)
        return u"checked "_s + QLocale().toString(lastChecked->toLocalTime().time(), QLocale::ShortFormat)
               + u" · check now"_s;
    if (offline)
        return u"offline · check now"_s;
    return u"check now"_s;
}

void UpdatesTab::syncCheck()
{
    const HubModel* m = model();
    m_spinner->setVisible(m->loading());
    m_check->setText(checkTitle(m->loading(), m->lastChecked(), m->offline()));
    m_check->setAccessibleName(m_check->text());
    m_check->setEnabled(!m->loading());
    m_check->updateGeometry();
}

void UpdatesTab::syncList()
{
    const HubModel* m = model();
    QStringList ids;
    bool anyFree = false;
    for (const Product& product : m->updates()) {
        ids.append(product.id);
        anyFree = anyFree || !m->state(product).job.isWorking();
    }
    m_rows->setIDs(ids);
    // A change of the network reaches every row's pill, not only the
    // product whose state changed.
    for (ListRow* row : m_rows->rows())
        row->sync();
    m_empty->setText(m->hubUpdate() ? u"All plugins are up to date."_s : u"Everything is up to date."_s);
    m_empty->setVisible(ids.isEmpty());

    m_updateAll->setVisible(ids.size() >= 2);
    m_updateAll->setText(m->offline() ? u"Needs internet"_s : u"Update all"_s);
    m_updateAll->setEnabled(!m->offline() && anyFree);
}

void UpdatesTab::syncLegacy() {}

} // namespace Hub::Views
