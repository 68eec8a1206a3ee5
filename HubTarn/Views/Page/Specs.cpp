#include "Views/Page/Specs.h"

#include "Kit/Control.h"
#include "Kit/Hairline.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace Hub::Views {

namespace {

constexpr int kLabelWidth = 100;
constexpr int kRowPadding = 11;

QLabel* valueLabel(const QString& text, const QColor& color, QWidget* parent)
{
    QLabel* label = Kit::plainLabel(text, parent);
    // Heard as words: "VST3, AU" and "installed: VST3", not the dots drawn
    // between and before them.
    QString spoken = Kit::spokenTitle(text.trimmed());
    if (spoken.startsWith(QStringLiteral("\u00b7 ")))
        spoken.remove(0, 2);
    Kit::setSpokenName(label, spoken);
    Kit::setProseStyle(label, Kit::Theme::prose(14), color);
    Kit::setSelectable(label);
    return label;
}

// One fact: its label in a fixed column, its value wrapping beside it.
QWidget* rowWidget(const Specs::Row& row, QWidget* parent)
{
    auto* widget = new QWidget(parent);
    widget->setObjectName(QStringLiteral("specsRow"));
    widget->setAccessibleName(row.label);
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, kRowPadding, 0, kRowPadding);
    layout->setSpacing(14);
    QLabel* label = Kit::plainLabel(row.label, widget);
    label->setObjectName(QStringLiteral("specsLabel"));
    Kit::setLabelStyle(label, 11, QFont::Medium, Kit::Theme::muted());
    label->setFixedWidth(kLabelWidth);
    // On the value's first baseline: the smaller label sits lower by the
    // difference of the two fonts' ascents.
    const int drop = QFontMetrics(Kit::Theme::prose(14)).ascent() - QFontMetrics(label->font()).ascent();
    label->setContentsMargins(0, std::max(0, drop), 0, 0);
    layout->addWidget(label, 0, Qt::AlignTop);
    // The value and its muted tail: two plain labels, so a catalog text can
    // never turn into markup.
    auto* value = new QHBoxLayout;
    value->setContentsMargins(0, 0, 0, 0);
    value->setSpacing(0);
    // The value takes the room the tail leaves; each wraps within its part.
    if (!row.value.isEmpty()) {
        QLabel* main = valueLabel(row.value, Kit::Theme::ink(), widget);
        main->setObjectName(QStringLiteral("specsValue"));
        value->addWidget(main, row.mutedTail.isEmpty() ? 1 : 0, Qt::AlignTop);
    }
    if (!row.mutedTail.isEmpty()) {
        QLabel* tail = valueLabel(row.mutedTail, Kit::Theme::muted(), widget);
        tail->setObjectName(QStringLiteral("specsMuted"));
        value->addWidget(tail, 1, Qt::AlignTop);
    }
    layout->addLayout(value, 1);
    return widget;
}

} // namespace

Specs::Specs(HubModel* model, const QString& productID, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_productID(productID)
    , m_column(new QVBoxLayout(this))
{
    setObjectName(QStringLiteral("specs"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_column->setContentsMargins(0, 0, 0, 0);
    m_column->setSpacing(0);
    connect(model, &HubModel::productStateChanged, this, [this](const QString& id) {
        if (id == m_productID)
            rebuild();
    });
    connect(model, &HubModel::catalogChanged, this, &Specs::rebuild);
    connect(model, &HubModel::accountChanged, this, &Specs::rebuild);
    rebuild();
}

std::vector<Specs::Row> Specs::rows(const HubModel& model, const Product& product)
{
    std::vector<Row> rows;
    const QList<InstalledFormat> installed = model.state(product).installed;
    if (product.formats && !product.formats->isEmpty()) {
        Row row{QStringLiteral("Formats"), product.formats->join(QStringLiteral(" · ")), {}};
        QStringList present;
        for (PluginFormat format : kAllPluginFormats)
            if (std::any_of(installed.begin(), installed.end(), [&](const InstalledFormat& copy) { return copy.format == format; }))
                present.append(label(format));
        if (!present.isEmpty())
            row.mutedTail = QStringLiteral("  · installed: ") + present.join(QStringLiteral(", "));
        rows.push_back(row);
    }
    if (product.release)
        rows.push_back({QStringLiteral("System"), product.release->systemText(), {}});
    if (!installed.isEmpty()) {
        QStringList paths;
        for (const InstalledFormat& copy : installed)
            paths.append(model.abbreviated(copy.path));
        rows.push_back({QStringLiteral("Where"), {}, paths.join(u'\n')});
    }
    return rows;
}

std::vector<Specs::Row> Specs::rows() const
{
    const Product* product = m_model->product(m_productID);
    return product ? rows(*m_model, *product) : std::vector<Row>{};
}

void Specs::rebuild()
{
    std::vector<Row> fresh = rows();
    if (fresh == m_shown && m_column->count() > 0)
        return; // a download's progress changes nothing here
    m_shown = std::move(fresh);
    while (QLayoutItem* item = m_column->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    // The table's top edge shows even with no rows.
    m_column->addWidget(new Kit::Hairline(this));
    for (const Row& row : m_shown) {
        m_column->addWidget(rowWidget(row, this));
        m_column->addWidget(new Kit::Hairline(this));
    }
}

} // namespace Hub::Views
