#include "Views/Common/TabPanel.h"

#include "Views/Frame/SectionHead.h"

#include <QVBoxLayout>

namespace Hub::Views {

TabPanel::TabPanel(HubModel* model, Tab tab, QWidget* trailing, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_column(new QVBoxLayout(this))
{
    setObjectName(rawValue(tab) + QStringLiteral("Body"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_column->setContentsMargins(0, 0, 0, 0);
    m_column->setSpacing(0);
    m_column->addWidget(new SectionHead(rawValue(tab), trailing));
    m_column->addStretch(1);
}

void TabPanel::addAbove(QWidget* notice) { m_column->insertWidget(m_above++, notice); }

QWidgetList TabPanel::tabStops(QWidget* root)
{
    QWidgetList stops;
    for (QWidget* widget : QWidgetList{root} + root->findChildren<QWidget*>())
        if (widget->focusPolicy() & Qt::TabFocus)
            stops.append(widget);
    return stops;
}

void TabPanel::chainTabOrder(const QWidgetList& stops)
{
    for (qsizetype i = 1; i < stops.size(); ++i)
        setTabOrder(stops[i - 1], stops[i]);
}

void TabPanel::addSection(QWidget* section) { m_column->insertWidget(m_column->count() - 1, section); }

} // namespace Hub::Views
