#include "Views/Page/More.h"

#include "Views/Page/Actions.h"
#include "Views/Page/FollowProduct.h"

#include "Base/Config.h"
#include "Base/Versions.h"
#include "Kit/Control.h"
#include "Kit/Paint.h"
#include "Kit/PlainMenu.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QPainter>

#include <algorithm>

namespace Hub::Views {

namespace {

// Menu texts are mnemonic texts: a version from the catalog shows its "&".
QString menuText(QString text) { return text.replace(u'&', QStringLiteral("&&")); }

// The same version already installed, on a release this computer can take:
// a newer one is offered as an update, never as a reinstall.
bool canReinstall(const HubModel& model, const Product& product)
{
    const std::optional<Release>& release = product.release;
    return !model.isSoon(product) && !model.offline() && release && release->installable()
           && release->fit(model.cpu(), model.macOSVersion()).kind == Release::FitKind::fine
           && Versions::compare(model.installedVersion(product).value_or(QString()), release->version)
                  == std::strong_ordering::equal;
}

} // namespace

More::More(HubModel* model, const QString& productID, QWidget* parent)
    : QAbstractButton(parent)
    , m_model(model)
    , m_productID(productID)
    , m_menu(new Kit::PlainMenu(this))
{
    setObjectName(QStringLiteral("more"));
    m_menu->setObjectName(QStringLiteral("moreMenu"));
    Kit::setupButton(this);
    setText(QStringLiteral("···"));
    setToolTip(QStringLiteral("More"));
    setAccessibleName(QStringLiteral("More"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_menu->attach(this);
    connect(m_menu, &QMenu::aboutToShow, this, &More::sync);
    followProduct(model, this, productID, [this] { sync(); });
    sync();
}

std::vector<More::Item> More::items(const HubModel& model, const Product& product)
{
    using Does = Item::Does;
    std::vector<Item> items;
    if (!model.state(product).installed.isEmpty()) {
        items.push_back({QStringLiteral("Show in Files"), Does::reveal});
        if (canReinstall(model, product))
            items.push_back({QStringLiteral("Reinstall ") + product.release->version, Does::reinstall});
        items.push_back({QStringLiteral("Uninstall…"), Does::uninstall});
    }
    items.push_back({QString(), Does::divider});
    if (product.pageURL)
        items.push_back({QStringLiteral("Product page ↗"), Does::page});
    if (!product.history().empty())
        items.push_back({QStringLiteral("All release notes ↗"), Does::notes});
    return items;
}

void More::run(HubModel& model, const Product& product, Item::Does does)
{
    switch (does) {
    case Item::Does::reveal:
        model.reveal(product);
        return;
    case Item::Does::reinstall:
        // A package product has no formats to choose: it installs for all
        // users at once.
        if (!model.formatsOffered(product).empty())
            model.setSheet(Sheet::install(product.id));
        else
            model.requestInstall(product, {}, InstallScope::allUsers);
        return;
    case Item::Does::uninstall:
        model.setSheet(Sheet::uninstall(product.id));
        return;
    case Item::Does::divider:
        return;
    case Item::Does::page:
        Actions::run(model, product, Actions::Item::Does::page);
        return;
    case Item::Does::notes:
        model.openLink(Config::changelog(product.id));
        return;
    }
}

void More::sync()
{
    const Product* product = m_model->product(m_productID);
    std::vector<Item> fresh = product ? items(*m_model, *product) : std::vector<Item>{};
    // A menu of nothing but its divider would open as an empty speck: the
    // button is greyed out instead, as while the product's job works.
    const bool offers =
        std::any_of(fresh.begin(), fresh.end(), [](const Item& item) { return item.does != Item::Does::divider; });
    setEnabled(product && offers && !m_model->state(*product).job.isWorking());
    if (fresh == m_shown)
        return;
    m_shown = std::move(fresh);
    m_menu->clear();
    for (const Item& item : m_shown) {
        if (item.does == Item::Does::divider) {
            m_menu->addSeparator();
            continue;
        }
        QAction* action = m_menu->addAction(menuText(item.text));
        action->setObjectName(QStringLiteral("more-") + QString::number(int(item.does)));
        connect(action, &QAction::triggered, this, [this, does = item.does] {
            if (const Product* p = m_model->product(m_productID))
                run(*m_model, *p, does);
        });
    }
}

QSize More::sizeHint() const { return QSize(int(m_style.size), int(m_style.size)); }

void More::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(Kit::stateOpacity(this));
    const qreal half = Kit::Theme::stroke / 2;
    const QRectF circle = QRectF(rect()).adjusted(half, half, -half, -half);
    p.setPen(QPen(Kit::Theme::line(), Kit::Theme::stroke));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(circle);
    p.setPen(Kit::Theme::ink());
    p.setFont(Kit::Theme::mono(m_style.glyphSize, QFont::Bold));
    p.drawText(rect(), Qt::AlignCenter, text());
    if (Kit::keyboardFocus(this)) {
        QPainterPath ring;
        ring.addEllipse(circle.adjusted(4, 4, -4, -4));
        Kit::Paint::focusRing(p, ring, Kit::Theme::ink());
    }
}

bool More::hitButton(const QPoint& pos) const
{
    QPainterPath circle;
    circle.addEllipse(QRectF(rect()));
    return circle.contains(QPointF(pos) + QPointF(0.5, 0.5));
}

} // namespace Hub::Views
