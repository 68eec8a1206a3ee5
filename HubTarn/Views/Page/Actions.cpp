#include "Views/Page/Actions.h"

#include "Views/Page/FollowProduct.h"
#include "Views/Page/More.h"

#include "Kit/Color.h"
#include "Kit/Control.h"
#include "Kit/Pill.h"
#include "Kit/Tag.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QHBoxLayout>
#include <QUrl>

#include <algorithm>

namespace Hub::Views {

namespace {

using Item = Actions::Item;

Kit::PillStyle pillStyle(const Product& product, Item::Look look)
{
    Kit::PillStyle style;
    if (look == Item::Look::accent) {
        style.fill = Kit::accentColor(product);
        style.text = Kit::accentTextColor(product);
    }
    return style;
}

QString nameFor(Item::Does does)
{
    switch (does) {
    case Item::Does::nothing:
        return QStringLiteral("actionTag");
    case Item::Does::open:
        return QStringLiteral("actionOpen");
    case Item::Does::page:
        return QStringLiteral("actionPage");
    case Item::Does::update:
        return QStringLiteral("actionUpdate");
    case Item::Does::install:
        return QStringLiteral("actionInstall");
    case Item::Does::feedback:
        return QStringLiteral("actionFeedback");
    }
    return {};
}

bool misfit(const HubModel& model, const Product& product)
{
    return product.release && product.release->installable()
           && product.release->fit(model.cpu(), model.macOSVersion()).kind != Release::FitKind::fine;
}

} // namespace

Actions::Actions(HubModel* model, const QString& productID, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_productID(productID)
    , m_row(new QHBoxLayout(this))
{
    setObjectName(QStringLiteral("actions"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_row->setContentsMargins(0, 0, 0, 0);
    m_row->setSpacing(8);
    // Every item the row can hold, made once, in the order in which any
    // situation shows them; a change only shows, hides and retitles them,
    // so a pressed button is never deleted under its click and the keyboard
    // meets them in the order they stand.
    for (Item::Does does : {Item::Does::nothing, Item::Does::update, Item::Does::install, Item::Does::open,
                            Item::Does::page, Item::Does::feedback}) {
        QWidget* widget = nullptr;
        if (does == Item::Does::nothing) {
            widget = new Kit::Tag(QString(), {Kit::Theme::muted(), false}, this);
        } else {
            auto* pill = new Kit::Pill(QString(), {}, this);
            connect(pill, &QAbstractButton::clicked, this, [this, does] {
                if (const Product* p = m_model->product(m_productID))
                    run(*m_model, *p, does);
            });
            widget = pill;
        }
        widget->setObjectName(nameFor(does));
        widget->hide();
        m_row->addWidget(widget, 0, Qt::AlignVCenter);
        m_slots.push_back({does, widget});
    }
    m_more = new More(model, productID, this);
    m_row->addWidget(m_more, 0, Qt::AlignVCenter);
    m_row->addStretch(1);

    followProduct(model, this, productID, [this] { sync(); });
    sync();
}

std::vector<Item> Actions::items(const HubModel& model, const Product& product)
{
    using Look = Item::Look;
    using Does = Item::Does;
    const ProductState state = model.state(product);
    const bool busy = state.job.isWorking();
    const bool offline = model.offline();
    const std::optional<Release>& release = product.release;
    const bool canOpen = model.isShown(product) && model.appPath(product).has_value();
    const QString needsInternet = QStringLiteral("Needs internet");

    std::vector<Item> items;
    if (misfit(model, product)) {
        items.push_back({Look::tag, HubModel::fitText(release->fit(model.cpu(), model.macOSVersion())), true, Does::nothing});
    } else if (model.isSoon(product)) {
        if (canOpen)
            items.push_back({Look::accent, QStringLiteral("Open"), true, Does::open});
        if (product.pageURL)
            items.push_back({Look::outline, QStringLiteral("Learn more"), true, Does::page});
    } else if (model.hasUpdate(product) && release) {
        items.push_back({Look::accent, offline ? needsInternet : QStringLiteral("Update to ") + release->version,
                         !busy && !offline, Does::update});
        if (canOpen)
            items.push_back({Look::outline, QStringLiteral("Open"), true, Does::open});
    } else if (state.installed.isEmpty()) {
        if (!product.updateOnly() && release && release->installable())
            items.push_back({Look::accent, offline ? needsInternet : HubModel::installLabel(product), !busy && !offline,
                             Does::install});
        else if (product.pageURL)
            items.push_back({Look::accent, QStringLiteral("Get ") + product.shown(), true, Does::page});
    } else if (canOpen) {
        items.push_back({Look::accent, QStringLiteral("Open"), true, Does::open});
    } else {
        items.push_back({Look::tag, QStringLiteral("up to date"), true, Does::nothing});
    }
    if (model.isBeta(product))
        items.push_back({Look::outline, QStringLiteral("Send feedback"), !offline, Does::feedback});
    return items;
}

void Actions::run(HubModel& model, const Product& product, Item::Does does)
{
    switch (does) {
    case Item::Does::nothing:
        return;
    case Item::Does::open:
        if (model.isShown(product) && !misfit(model, product))
            model.openApp(product);
        return;
    case Item::Does::page:
        // The model opens web addresses only; anything else is dropped.
        if (product.pageURL)
            if (const QUrl url(*product.pageURL, QUrl::StrictMode); url.isValid())
                model.openLink(url);
        return;
    case Item::Does::update:
        model.requestInstall(product, model.updateFormats(product), model.scope());
        return;
    case Item::Does::install:
        model.setSheet(Sheet::install(product.id));
        return;
    case Item::Does::feedback:
        model.setSheet(Sheet::feedback(product.id));
        return;
    }
}

void Actions::sync()
{
    const Product* product = m_model->product(m_productID);
    std::vector<Item> fresh = product ? items(*m_model, *product) : std::vector<Item>{};
    const Kit::PillStyle accent = product ? pillStyle(*product, Item::Look::accent) : Kit::PillStyle{};
    if (fresh == m_shown && accent.fill == m_accent.fill && accent.text == m_accent.text) {
        // More may have come back on its own.
        passHeldFocus();
        return;
    }
    m_accent = accent;
    m_syncing = true;
    for (const auto& [does, widget] : m_slots) {
        const auto item = std::find_if(fresh.begin(), fresh.end(), [kind = does](const Item& i) { return i.does == kind; });
        widget->setVisible(item != fresh.end());
        if (item == fresh.end())
            continue;
        if (auto* tag = qobject_cast<Kit::Tag*>(widget)) {
            tag->setText(item->text);
        } else if (auto* pill = qobject_cast<Kit::Pill*>(widget)) {
            Kit::setLiteralText(pill, item->text);
            pill->setPillStyle(item->look == Item::Look::accent ? m_accent : Kit::PillStyle{});
            pill->setEnabled(item->enabled);
        }
    }
    m_syncing = false;
    m_shown = std::move(fresh);
    passHeldFocus();
}

QWidgetList Actions::shownControls() const
{
    QWidgetList shown;
    for (const auto& [does, widget] : m_slots)
        if (!widget->isHidden())
            shown.append(widget);
    shown.append(m_more);
    return shown;
}

// Qt hands the focus of a control that is hidden or greyed out to the next
// one in the window that takes it: after the page's own install, update or
// uninstall that was a link further down, then the wordmark. The keyboard
// stays where the user acted instead: the row holds the focus while the
// control's place is greyed out, then gives it to what stands there.
bool Actions::focusNextPrevChild(bool next)
{
    QWidget* focused = window()->focusWidget();
    const bool went = focused && focused != this && focused->parentWidget() == this
                      && (focused->isHidden() || !focused->isEnabled());
    if (!went)
        return QWidget::focusNextPrevChild(next);
    // Its place in the row as last drawn: the row may be half redrawn now.
    qsizetype place = qsizetype(m_shown.size());
    for (const auto& [does, widget] : m_slots)
        if (widget == focused) {
            const auto at = std::find_if(m_shown.begin(), m_shown.end(), [kind = does](const Item& i) { return i.does == kind; });
            place = at - m_shown.begin();
        }
    m_heldFor = place;
    setFocus(Qt::OtherFocusReason);
    passHeldFocus();
    return true;
}

void Actions::passHeldFocus()
{
    if (!m_heldFor || m_syncing)
        return;
    // The user took the focus elsewhere meanwhile.
    if (window()->focusWidget() != this) {
        m_heldFor.reset();
        return;
    }
    const QWidgetList shown = shownControls();
    // The tag that took a button's place holds the focus too, so the
    // keyboard stays on the outcome ("up to date") and a screen reader says it.
    const auto takes = [](QWidget* w) {
        return w->isEnabled() && (qobject_cast<Kit::Tag*>(w) || (w->focusPolicy() & Qt::TabFocus));
    };
    QWidget* target = nullptr;
    if (*m_heldFor < shown.size()) {
        // Greyed out while a job works: wait for it.
        if (!takes(shown[*m_heldFor]))
            return;
        target = shown[*m_heldFor];
    } else {
        for (qsizetype i = shown.size() - 1; i >= 0 && !target; --i)
            if (takes(shown[i]))
                target = shown[i];
        if (!target)
            return;
    }
    m_heldFor.reset();
    target->setFocus(Qt::OtherFocusReason);
}

} // namespace Hub::Views
