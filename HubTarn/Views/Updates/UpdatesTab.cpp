#include "Views/Updates/UpdatesTab.h"

#include "Views/Common/RowList.h"
#include "Views/Frame/HubUpdateBar.h"
#include "Views/Frame/Notices.h"
#include "Views/Page/JobLine.h"
#include "Views/Updates/UpdateRow.h"

#include "Base/Config.h"
#include "Kit/Color.h"
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
#include <QPainter>
#include <QSet>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace Hub::Views {

namespace {

constexpr int kEmptyPadding = 16;

QFont checkFont() { return Kit::label(11, QFont::Medium); }

// The heading's trailing view: the pill in a box of its own, whose layout
// tells the heading when the pill's title changes its width.
QWidget* updateAllBox()
{
    Kit::PillStyle style;
    style.fill = Kit::Theme::ink();
    style.small = true;
    auto* box = new QWidget;
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* pill = new Kit::Pill(u"Update all"_s, style, box);
    pill->setObjectName(u"updateAll"_s);
    layout->addWidget(pill);
    return box;
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
    : TabPanel(model, Tab::updates, updateAllBox(), parent)
    , m_updateAll(findChild<Kit::Pill*>(u"updateAll"_s))
{
    connect(m_updateAll, &QAbstractButton::clicked, model, &HubModel::requestUpdateAll);
    m_above = {new HubUpdateBar(model), new SignInAgainBanner(model)};
    for (QWidget* notice : m_above)
        addAbove(notice);
    m_offline = new Banner(u"Offline. Updates show up again when you connect."_s);
    m_offline->setObjectName(u"offlineBanner"_s);
    addAbove(m_offline);
    addSection(listSection());
    m_legacy = new QWidget;
    m_legacy->setObjectName(u"legacyCopies"_s);
    m_legacyColumn = new QVBoxLayout(m_legacy);
    m_legacyColumn->setContentsMargins(0, 18, 0, 0);
    m_legacyColumn->setSpacing(14);
    addSection(m_legacy);
    addSection(lastLine());

    for (auto signal : {&HubModel::statesChanged, &HubModel::catalogChanged, &HubModel::hubJobChanged,
                        &HubModel::offlineChanged}) {
        connect(model, signal, this, &UpdatesTab::syncList);
        connect(model, signal, this, &UpdatesTab::syncLegacy);
    }
    // Each answered refresh renews the account's last contact: that alone
    // changes no product's row.
    connect(model, &HubModel::accountChanged, this, [this] {
        const std::optional<QStringList>& changed = this->model()->productsChanged();
        if (changed && changed->isEmpty())
            return;
        syncList();
        syncLegacy();
    });
    for (auto signal : {&HubModel::loadingChanged, &HubModel::lastCheckedChanged, &HubModel::offlineChanged})
        connect(model, signal, this, &UpdatesTab::syncCheck);
    connect(model, &HubModel::productStateChanged, this, &UpdatesTab::syncLegacyJob);
    // A change of the network reaches every row's pill, not only the
    // product whose state changed.
    connect(model, &HubModel::offlineChanged, m_rows, &RowList::syncAll);
    syncList();
    // A list longer than the window fills the first screens: the notices
    // of old copies under it wait until its rows are made, out of the turn
    // that opens the tab.
    if (m_rows->pending() > 0) {
        m_legacy->hide();
        syncTabOrder();
        connect(m_rows, &RowList::settled, this, &UpdatesTab::syncLegacy, Qt::SingleShotConnection);
    } else {
        syncLegacy();
    }
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
    // The room goes around the label: a wrapping label's own margins do
    // not reach its height for a width.
    m_emptyBox = new QWidget(section);
    auto* box = new QVBoxLayout(m_emptyBox);
    box->setContentsMargins(0, kEmptyPadding, 0, kEmptyPadding);
    m_empty = Kit::plainLabel(QString(), m_emptyBox);
    m_empty->setObjectName(u"updatesEmpty"_s);
    Kit::setProseStyle(m_empty, Kit::Theme::prose(14), Kit::Theme::muted());
    box->addWidget(m_empty);
    column->addWidget(m_emptyBox);
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
    m_changelog = link;
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
        return u"checked "_s + Kit::clockTime(*lastChecked)
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
    Kit::setSpokenName(m_check, Kit::spokenTitle(m_check->text()));
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
    m_empty->setText(m->hubUpdate() ? u"All plugins are up to date."_s : u"Everything is up to date."_s);
    m_emptyBox->setVisible(ids.isEmpty());

    m_offline->setVisible(m->offline());
    m_updateAll->setVisible(ids.size() >= 2);
    m_updateAll->setText(m->offline() ? u"Needs internet"_s : u"Update all"_s);
    m_updateAll->setEnabled(!m->offline() && anyFree);
}

void UpdatesTab::syncLegacy()
{
    const HubModel* m = model();
    // Only a product with copies can have old ones, and most of a long
    // catalog has none: those are not asked.
    QSet<QString> withOld;
    for (const auto& [id, state] : m->states())
        if (!state.installed.isEmpty())
            if (const Product* product = m->product(id); product && !m->legacyCopies(*product).isEmpty())
                withOld.insert(id);
    QStringList ids;
    if (!withOld.isEmpty())
        for (const Product& product : m->products())
            if (withOld.contains(product.id))
                ids.append(product.id);
    QStringList shown;
    for (const LegacyBlock& block : m_legacyBlocks)
        shown.append(block.productID);
    if (ids != shown) {
        // Blocks are made anew only when the products listed change; a
        // click on a notice's pill starts a job, which must not delete the
        // pill under the click, so old blocks leave after the event.
        for (const LegacyBlock& block : m_legacyBlocks) {
            block.block->hide();
            block.block->deleteLater();
        }
        m_legacyBlocks.clear();
        for (const QString& id : ids) {
            auto* block = new QWidget(m_legacy);
            block->setObjectName(u"legacy-"_s + id);
            auto* column = new QVBoxLayout(block);
            column->setContentsMargins(0, 0, 0, 0);
            column->setSpacing(14);
            column->addWidget(new LegacyNotice(model(), id, true, block));
            auto* job = new JobLine(block);
            job->setObjectName(u"legacyJob"_s);
            column->addWidget(job);
            m_legacyColumn->addWidget(block);
            block->show();
            m_legacyBlocks.push_back({id, block, job});
        }
    }
    m_legacy->setVisible(!ids.isEmpty());
    for (const QString& id : ids)
        syncLegacyJob(id);
    syncTabOrder();
}

void UpdatesTab::syncTabOrder()
{
    // Reading order, top to bottom, each row before its own mark and pill.
    QWidgetList chain;
    for (QWidget* notice : m_above)
        chain += tabStops(notice);
    chain.append(m_updateAll);
    for (ListRow* row : m_rows->rows())
        chain += tabStops(row);
    for (const LegacyBlock& block : m_legacyBlocks)
        chain += tabStops(block.block);
    chain += {m_changelog, m_check};
    chainTabOrder(chain);
}

void UpdatesTab::syncLegacyJob(const QString& productID)
{
    const HubModel* m = model();
    const Product* product = m->product(productID);
    for (const LegacyBlock& block : m_legacyBlocks) {
        if (block.productID != productID || !product)
            continue;
        // A product with an update shows its job in its row instead.
        const bool inRow = m_rows->row(productID) != nullptr;
        const Job job = m->state(*product).job;
        block.job->setJob(job, Kit::accentColor(*product));
        block.job->setVisible(!inRow && job.kind != Job::Kind::idle);
    }
}

} // namespace Hub::Views
