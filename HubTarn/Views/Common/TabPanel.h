#pragma once

#include "Model/ModelTypes.h"

#include <QWidget>

class QVBoxLayout;

namespace Hub {
class HubModel;
}

namespace Hub::Views {

// What every tab's content starts from: its heading (with an optional
// control at its trailing end) over a column the tab fills, named
// "<tab>Body" for tests and tools.
class TabPanel : public QWidget {
    Q_OBJECT

public:
    TabPanel(HubModel* model, Tab tab, QWidget* trailing = nullptr, QWidget* parent = nullptr);

protected:
    // The tab's own rows go here, under the heading, top to bottom; the
    // column ends with a stretch, so its rows keep their heights.
    void addSection(QWidget* section);
    // Notices and bars go here, above the heading, top to bottom.
    void addAbove(QWidget* notice);
    HubModel* model() const { return m_model; }
    // Kit::tabStops and Kit::chainTabOrder, for the tabs' own chains.
    static QWidgetList tabStops(QWidget* root);
    static void chainTabOrder(const QWidgetList& stops);

private:
    HubModel* m_model;
    QVBoxLayout* m_column;
    QWidget* m_head;
    int m_above = 0;
};

} // namespace Hub::Views
