#include "Views/Plugins/SoonStrip.h"

#include "Kit/ElidedLabel.h"

#include "Kit/Animation.h"
#include "Kit/Control.h"
#include "Kit/Paint.h"
#include "Kit/Symbols.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QFontMetricsF>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

namespace Hub::Views {

// ---- SoonCell ---------------------------------------------------------------

namespace {
constexpr qreal kMarkSize = 40;
}

SoonCell::SoonCell(HubModel* model, const QString& productID, QWidget* parent)
    : Kit::HoverButton(parent)
    , m_model(model)
    , m_productID(productID)
    // One line each, cut with an ellipsis at the end when the column is
    // narrower than the name.
    , m_name(new Kit::ElidedLabel(QString(), Qt::ElideRight, this))
    , m_formats(new Kit::ElidedLabel(QString(), Qt::ElideRight, this))
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_name->setObjectName(QStringLiteral("soonName"));
    m_name->setFont(Kit::Theme::bold(15, -0.6));
    Kit::setTextColor(m_name, Kit::Theme::ink());
    m_formats->setObjectName(QStringLiteral("soonFormats"));
    m_formats->setFont(Kit::Theme::mono(10, QFont::Medium, 0.5, true));
    Kit::setTextColor(m_formats, Kit::Theme::muted());
    for (QLabel* l : {m_name, m_formats})
        l->setAttribute(Qt::WA_TransparentForMouseEvents);

    auto* text = new QVBoxLayout;
    text->setContentsMargins(0, 0, 0, 0);
    text->setSpacing(3);
    text->addStretch(1);
    text->addWidget(m_name);
    text->addWidget(m_formats);
    text->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    // The tile is painted; its room is left in the margin.
    layout->setContentsMargins(16 + int(kMarkSize) + 12, 0, 16, 0);
    layout->addLayout(text);

    setObjectName(QStringLiteral("soon-") + productID);
    connect(this, &QAbstractButton::clicked, this, [this] { m_model->setPage(m_productID); });
    sync();
}

const Product* SoonCell::product() const { return m_model->product(m_productID); }

QString SoonCell::formatsText(const Product& product, const QString& separator)
{
    return product.formats ? product.formats->join(separator) : QString();
}

void SoonCell::sync()
{
    const Product* shown = product();
    if (!shown)
        return;
    const Product& product = *shown;
    m_name->setText(product.shown());
    m_formats->setText(formatsText(product, QStringLiteral(" · ")));
    setToolTip(Kit::plainToolTip(product.tagline));
    setAccessibleName(product.shown() + QStringLiteral(", coming soon, ") + formatsText(product, QStringLiteral(", ")));
    setAccessibleDescription(QStringLiteral("Opens its page"));
    update();
}

void SoonCell::setLines(bool leading, bool top)
{
    m_leading = leading;
    m_top = top;
    update();
}

QSize SoonCell::sizeHint() const { return QSize(200, 64); }

QSize SoonCell::minimumSizeHint() const { return QSize(10, 64); }

void SoonCell::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (hovered())
        p.fillRect(rect(), Kit::Theme::raised());
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF tile(16, (height() - kMarkSize) / 2, kMarkSize, kMarkSize);
    if (const Product* shown = product())
        Kit::Paint::productMark(p, tile, *shown, false);
    p.setRenderHint(QPainter::Antialiasing, false);
    if (m_leading)
        p.fillRect(QRect(0, 0, 1, height()), Kit::Theme::line());
    if (m_top)
        p.fillRect(QRect(0, 0, width(), 1), Kit::Theme::line());
    if (Kit::keyboardFocus(this))
        Kit::Paint::focusRing(p, Kit::Paint::continuousRect(QRectF(rect()).adjusted(2, 2, -2, -2), 7), Kit::Theme::ink());
}

// ---- SoonStrip --------------------------------------------------------------

SoonStrip::SoonStrip(HubModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_grid(new QGridLayout(this))
{
    setObjectName(QStringLiteral("soonStrip"));
    m_grid->setContentsMargins(0, 0, 0, 0);
    m_grid->setSpacing(0);
}

void SoonStrip::setProducts(const QStringList& ids)
{
    QStringList shown;
    for (const QString& id : ids)
        if (m_model->product(id) && !shown.contains(id))
            shown.append(id);
    const int n = std::min(std::max(int(shown.size()), 1), 5);
    QList<SoonCell*> cells;
    for (const QString& id : shown) {
        SoonCell* cell = nullptr;
        for (SoonCell* old : m_cells)
            if (old->productID() == id) {
                cell = old;
                break;
            }
        if (cell) {
            m_cells.removeOne(cell);
            cell->sync();
        } else {
            cell = new SoonCell(m_model, id, this);
        }
        cells.append(cell);
    }
    qDeleteAll(m_cells);
    for (SoonCell* cell : cells)
        m_grid->removeWidget(cell);
    for (int c = 0; c < 5; ++c)
        m_grid->setColumnStretch(c, c < n ? 1 : 0);
    for (qsizetype i = 0; i < cells.size(); ++i) {
        cells[i]->setLines(i % n != 0, i >= n);
        m_grid->addWidget(cells[i], int(i / n), int(i % n));
        cells[i]->show();
    }
    m_cells = cells;
    m_columns = n;
}

} // namespace Hub::Views
