#pragma once

#include "Model/ModelTypes.h"

#include <QScrollArea>

#include <optional>

class QVBoxLayout;

namespace Hub {
class HubModel;
}

namespace Hub::Views {

// The scrolling body of the chosen tab. Each entry into a tab builds its
// content anew, so the tab starts from its initial state.
class TabBody : public QScrollArea {
    Q_OBJECT

public:
    explicit TabBody(HubModel* model, QWidget* parent = nullptr);

    QWidget* content() const { return m_content; }

private:
    void showTab();
    // The one place a tab's class is chosen.
    QWidget* makeTab(Tab tab);

    HubModel* m_model;
    QVBoxLayout* m_stack;
    QWidget* m_holder = nullptr;
    QWidget* m_content = nullptr;
    std::optional<Tab> m_shown;
};

} // namespace Hub::Views
