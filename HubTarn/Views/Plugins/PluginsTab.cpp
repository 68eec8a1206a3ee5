#include "Views/Plugins/PluginsTab.h"

#include "Views/Common/RowList.h"
#include "Views/Frame/HubUpdateBar.h"
#include "Views/Frame/Notices.h"
#include "Views/Plugins/ProductRow.h"
#include "Views/Plugins/RefreshButton.h"
#include "Views/Plugins/SoonStrip.h"
#include "Views/Settings/SettingsCard.h"

#include "Kit/Animation.h"
#include "Kit/Pill.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace Hub::Views {

namespace {

constexpr double kHoldCheck = 1.0;
constexpr double kReleaseDelay = 0.4;
constexpr int kTrailingSpacing = 10;
constexpr int kEmptyTextSize = 14;

// The empty-state line: muted prose that wraps, with room and, when the
// lists are empty altogether, a hairline across its top.
class EmptyLine : public QLabel {
public:
    explicit EmptyLine(QWidget* parent)
        : QLabel(parent)
    {
        setObjectName(QStringLiteral("pluginsEmpty"));
        setTextFormat(Qt::PlainText);
        Kit::setProseStyle(this, Kit::Theme::prose(kEmptyTextSize), Kit::Theme::muted());
    }

    void setRuled(bool ruled)
    {
        m_ruled = ruled;
        setContentsMargins(0, ruled ? 16 : 0, 0, ruled ? 16 : 20);
        update();
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QLabel::paintEvent(event);
        if (m_ruled) {
            QPainter p(this);
            p.fillRect(QRectF(0, 0, width(), Kit::Theme::hairline), Kit::Theme::line());
        }
    }

private:
    bool m_ruled = false;
};

// A card that comes into the column after it was first filled fades in,
// with the cards' short ease-out; the effect goes when it is done.
void fadeIn(QWidget* widget)
{
    auto* effect = new QGraphicsOpacityEffect(widget);
    effect->setOpacity(0);
    widget->setGraphicsEffect(effect);
    auto* tween = new Kit::Tween(widget, 0);
    tween->onValue = [widget, tween](qreal value) {
        if (value < 1) {
            if (auto* shown = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect()))
                shown->setOpacity(value);
            return;
        }
        widget->setGraphicsEffect(nullptr);
        tween->deleteLater();
    };
    tween->animateTo(1, Kit::Theme::cardsMs);
}

} // namespace

// The heading's trailing row: "Update all" when it shows, then refresh.
QWidget* headingControls(HubModel* model)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kTrailingSpacing);
    auto* updateAll = new Kit::Pill(QStringLiteral("Update all"), Kit::PillStyle::smallInk(), row);
    updateAll->setObjectName(QStringLiteral("updateAll"));
    updateAll->hide();
    layout->addWidget(updateAll, 0, Qt::AlignVCenter);
    layout->addWidget(new RefreshButton(model, row), 0, Qt::AlignVCenter);
    return row;
}

PluginsTab::PluginsTab(HubModel* model, QWidget* parent)
    : TabPanel(model, Tab::plugins, headingControls(model), parent)
    , m_updateAll(findChild<Kit::Pill*>(QStringLiteral("updateAll")))
    , m_offline(new Banner(QStringLiteral("Offline. Install and Update come back when you connect.")))
    , m_empty(new EmptyLine(nullptr))
    , m_onMacCard(new SettingsCard(QString()))
    , m_addCard(new SettingsCard(QString()))
    , m_soonCard(new SettingsCard(QString()))
{
    const QWidgetList above{new HubUpdateBar(model), new SignInAgainBanner(model),
                            new OfflineReminder(model, QStringLiteral("updates")), m_offline};
    m_offline->setObjectName(QStringLiteral("offlineBanner"));
    // Reading order: the bars above the heading before its controls, which
    // were made first, with the panel; the rows follow as they were.
    QWidgetList chain;
    for (QWidget* notice : above) {
        addAbove(notice);
        chain += tabStops(notice);
    }
    chainTabOrder(chain << m_updateAll << findChild<RefreshButton*>());

    addSection(m_empty);
    auto* cards = new QWidget;
    cards->setObjectName(QStringLiteral("pluginsCards"));
    auto* column = new QVBoxLayout(cards);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(Kit::Theme::cardSpacing);
    const auto makeList = [this, model] {
        // Rows draw the card's dividers themselves.
        auto* list = new RowList(model, [this, model](const QString& id) {
            return new ProductRow(model, id, [this, id] { hold({id}); });
        });
        list->setGround(Kit::Theme::panel());
        return list;
    };
    m_onMac = makeList();
    m_onMac->setObjectName(QStringLiteral("onMacRows"));
    m_add = makeList();
    m_add->setObjectName(QStringLiteral("addRows"));
    m_soon = new SoonStrip(model);
    m_onMacCard->setObjectName(QStringLiteral("onMacCard"));
    m_addCard->setObjectName(QStringLiteral("addCard"));
    m_soonCard->setObjectName(QStringLiteral("soonCard"));
    m_onMacCard->addRow(m_onMac);
    m_addCard->addRow(m_add);
    m_soonCard->addRow(m_soon);
    for (SettingsCard* card : {m_onMacCard, m_addCard, m_soonCard})
        column->addWidget(card);
    addSection(cards);

    connect(m_updateAll, &QAbstractButton::clicked, this, &PluginsTab::updateAll);
    for (auto changed : {&HubModel::statesChanged, &HubModel::catalogChanged, &HubModel::offlineChanged,
                         &HubModel::hubJobChanged})
        connect(model, changed, this, &PluginsTab::sync);
    // Each answered refresh renews the account's last contact and the time
    // of the check: neither may cost a walk over thousands of products.
    connect(model, &HubModel::accountChanged, this, [this] {
        const std::optional<QStringList>& changed = this->model()->productsChanged();
        if (!changed || !changed->isEmpty())
            sync();
    });
    connect(model, &HubModel::lastCheckedChanged, this, [this] {
        m_onMacCard->setNote(checkedNote(m_pending, this->model()->lastChecked()));
    });
    // A job's step decides whether a held row still works; "Update all"
    // follows statesChanged (every step), never a download's ticks, which
    // would ask every product of a long catalog again per tick.
    connect(model, &HubModel::productStateChanged, this, [this](const QString&) { watchWorking(); });
    connect(model, &HubModel::sheetChanged, this, &PluginsTab::watchWorking);
    connect(model, &HubModel::dawWarningChanged, this, &PluginsTab::watchWorking);
    sync();
}

PluginSections PluginsTab::shown() const { return model()->pluginSections().holding(m_held); }

std::optional<QString> PluginsTab::upToDate(const HubModel& model)
{
    return checkedNote(!model.updates().empty() || model.hubUpdate(), model.lastChecked());
}

std::optional<QString> PluginsTab::checkedNote(bool pending, const std::optional<QDateTime>& lastChecked)
{
    if (pending || !lastChecked)
        return std::nullopt;
    return QStringLiteral("All up to date. Checked at ") + Kit::clockTime(*lastChecked) + u'.';
}

std::optional<QString> PluginsTab::emptyText(const HubModel& model, const PluginSections& fresh)
{
    if (!fresh.onMac.isEmpty())
        return std::nullopt;
    if (fresh.add.isEmpty() && fresh.soon.isEmpty()) {
        const std::optional<Catalog>& catalog = model.catalog();
        return catalog && !catalog->products.empty()
                   ? QStringLiteral("Nothing has been shared with this account yet.")
                   : QStringLiteral("Couldn't reach Tarnaudio. Connect to the internet and press Ctrl+R.");
    }
    if (!fresh.add.isEmpty())
        return QStringLiteral("Nothing from Tarnaudio on this computer yet. Pick one below: two clicks and it's installed.");
    return std::nullopt;
}

bool PluginsTab::working() const
{
    for (const QString& id : m_heldIDs)
        if (const Product* product = model()->product(id); product && model()->state(*product).job.isWorking())
            return true;
    return model()->sheet().has_value() || model()->dawWarning().has_value();
}

void PluginsTab::hold(const QStringList& ids)
{
    if (!m_held) {
        PluginSections snapshot = model()->pluginSections();
        snapshot.soon.clear();
        m_held = snapshot;
    }
    m_heldIDs.insert(ids.begin(), ids.end());
    m_working = working();
    model()->pause(kHoldCheck, this, [this] {
        if (!working())
            release();
    });
}

void PluginsTab::release()
{
    if (!m_held && m_heldIDs.empty())
        return;
    m_held.reset();
    m_heldIDs.clear();
    sync();
}

// A change of `working` to false releases the hold a moment later, if
// nothing has started working again by then.
void PluginsTab::watchWorking()
{
    const bool now = working();
    const bool was = std::exchange(m_working, now);
    if (was && !now)
        model()->pause(kReleaseDelay, this, [this] {
            if (!working())
                release();
        });
}

void PluginsTab::syncUpdateAll(const HubModel::ProductList& pending)
{
    const bool startable = std::any_of(pending.begin(), pending.end(), [this](const Product& product) {
        return !model()->state(product).job.isWorking();
    });
    m_updateAll->setVisible(pending.size() >= 2);
    m_updateAll->setEnabled(!model()->offline() && startable);
}

void PluginsTab::hideEvent(QHideEvent* event)
{
    TabPanel::hideEvent(event);
    // The tab leaves the window; a minimised window keeps its tab.
    if (!event->spontaneous())
        release();
}

void PluginsTab::updateAll()
{
    QStringList ids;
    for (const Product& product : model()->updates())
        ids.append(product.id);
    hold(ids);
    model()->requestUpdateAll();
}

void PluginsTab::sync()
{
    const HubModel& m = *model();
    const PluginSections fresh = m.pluginSections();
    const PluginSections sections = fresh.holding(m_held);

    m_offline->setVisible(m.offline());
    m_updateAll->setToolTip(m.offline() ? QStringLiteral("Needs internet") : QString());

    const std::optional<QString> empty = emptyText(m, fresh);
    if (empty) {
        m_empty->setText(*empty);
        static_cast<EmptyLine*>(m_empty)->setRuled(fresh.add.isEmpty());
    }
    m_empty->setVisible(empty.has_value());

    // Identifiers whose product is gone are skipped; the order stays.
    const auto present = [&m](const QStringList& ids) {
        QStringList kept;
        for (const QString& id : ids)
            if (m.product(id))
                kept.append(id);
        return kept;
    };
    const QStringList onMac = present(sections.onMac);
    const QStringList add = present(sections.add);
    const QStringList soon = present(sections.soon);
    const HubModel::ProductList pending = m.updates();
    m_pending = !pending.empty() || m.hubUpdate();
    m_onMacCard->setTitle(QStringLiteral("On this computer · ") + QString::number(onMac.size()));
    m_onMacCard->setNote(checkedNote(m_pending, m.lastChecked()));
    m_addCard->setTitle(QStringLiteral("Add to this computer · ") + QString::number(add.size()));
    m_soonCard->setTitle(QStringLiteral("Coming soon · ") + QString::number(soon.size()));
    const bool filled = m_filled;
    m_filled = true;
    // The lists move, fade in and fade out their own rows. A focused row
    // whose product goes to the other card takes the focus along, or the
    // keyboard would be left on a row fading away.
    const auto* focused = qobject_cast<const ListRow*>(window()->focusWidget());
    const QString focusedID = focused ? focused->productID() : QString();
    m_onMac->setIDs(onMac);
    m_add->setIDs(add);
    for (RowList* list : {m_onMac, m_add})
        if (ListRow* moved = focusedID.isEmpty() ? nullptr : list->row(focusedID); moved && moved != focused)
            moved->setFocus(Qt::OtherFocusReason);
    m_soon->setProducts(soon);
    for (auto [card, shows] : {std::pair{m_onMacCard, !onMac.isEmpty()}, std::pair{m_addCard, !add.isEmpty()},
                               std::pair{m_soonCard, !soon.isEmpty()}}) {
        if (filled && shows && card->isHidden())
            fadeIn(card);
        card->setVisible(shows);
    }
    syncUpdateAll(pending);
    watchWorking();
}

} // namespace Hub::Views
