#include "Views/Common/TabPanel.h"

#include "Views/Frame/SectionHead.h"

#include "Kit/Keyboard.h"

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
    m_head = new SectionHead(rawValue(tab), trailing);
    m_column->addWidget(m_head);
    m_column->addStretch(1);
}

void TabPanel::addAbove(QWidget* notice)
{
    m_column->insertWidget(m_above++, notice);
    // A screen reader reads the children in their order, and the heading
    // was made first: the notice goes before it there too, as on screen.
    notice->stackUnder(m_head);
}

QWidgetList TabPanel::tabStops(QWidget* root) { return Kit::tabStops(root); }

void TabPanel::chainTabOrder(const QWidgetList& stops) { Kit::chainTabOrder(stops); }

void TabPanel::addSection(QWidget* section) { m_column->insertWidget(m_column->count() - 1, section); }

} // namespace Hub::Views
