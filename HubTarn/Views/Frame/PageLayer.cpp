#include "Views/Frame/PageLayer.h"

#include "Views/Page/ProductPage.h"

#include "Kit/Animation.h"
#include "Kit/Color.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QPainter>
#include <QVBoxLayout>

namespace Hub::Views {

PageLayer::PageLayer(HubModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_effect(new QGraphicsOpacityEffect(this))
    , m_fade(new Kit::Tween(this))
    , m_layout(new QVBoxLayout(this))
{
    setObjectName(QStringLiteral("pageLayer"));
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_effect->setEnabled(false);
    setGraphicsEffect(m_effect);
    m_fade->onValue = [this](qreal v) {
        m_effect->setOpacity(v);
        // Whole, the layer paints directly rather than through the effect.
        m_effect->setEnabled(v < 1);
        setCovering(v >= 1 && m_wanted);
        if (v <= 0 && !m_wanted)
            clear();
    };
    // See-through from the start, as after a fade out: the first page
    // fades in like every other rather than showing whole for a frame.
    m_fade->onValue(m_fade->value());
    hide();
}

QColor PageLayer::windowColor(const HubModel& model)
{
    if (const Product* product = model.product(model.page()))
        return Kit::tintColor(*product);
    return Kit::Theme::bg();
}

void PageLayer::sync()
{
    const Product* product = m_model->product(m_model->page());
    m_wanted = product != nullptr;
    if (product) {
        if (!m_page || m_shownID != product->id) {
            delete m_page;
            m_page = makePage(product->id);
            m_shownID = product->id;
            m_layout->addWidget(m_page);
        }
        if (isHidden()) {
            m_cameFrom = QApplication::focusWidget();
            m_fade->jumpTo(0);
            show();
            raise();
        }
        m_fade->animateTo(1, Kit::Theme::pageMs);
    } else if (!isHidden()) {
        const bool keysInPage = !QApplication::focusWidget() || isAncestorOf(QApplication::focusWidget());
        // The tab body shows again here, so what opened the page can take the keys.
        setCovering(false);
        if (keysInPage && m_cameFrom && m_cameFrom->isVisible() && m_cameFrom->isEnabled()
            && m_cameFrom->focusPolicy() != Qt::NoFocus)
            m_cameFrom->setFocus(Qt::OtherFocusReason);
        m_cameFrom = nullptr;
        m_fade->animateTo(0, Kit::Theme::pageMs);
        if (m_fade->value() <= 0)
            clear();
    }
    update();
}

void PageLayer::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), windowColor(*m_model));
}

void PageLayer::setCovering(bool covering)
{
    if (covering == m_covering)
        return;
    m_covering = covering;
    Q_EMIT coveringChanged(covering);
}

void PageLayer::clear()
{
    hide();
    delete m_page;
    m_page = nullptr;
    m_shownID.clear();
}

QWidget* PageLayer::makePage(const QString& productID) { return new ProductPage(m_model, productID, this); }

} // namespace Hub::Views
