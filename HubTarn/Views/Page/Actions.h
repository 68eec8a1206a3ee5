#pragma once

#include "Kit/Styles.h"

#include <QString>
#include <QWidget>

#include <optional>

#include <utility>
#include <vector>

class QHBoxLayout;

namespace Hub {
class HubModel;
struct Product;
} // namespace Hub

namespace Hub::Views {

class More;

// The row of buttons under a product page's title: the one main group that
// fits the product's situation (a fit note, the actions of a product still
// to come, its update, its install, or open / up to date), the feedback
// pill of a beta, and the More menu last. It holds the product's
// identifier and redraws from the model.
class Actions : public QWidget {
    Q_OBJECT

public:
    // One item of the row as the rules give it.
    struct Item {
        enum class Look { accent, outline, tag };
        enum class Does { nothing, open, page, update, install, feedback };
        Look look = Look::tag;
        QString text;
        bool enabled = true;
        Does does = Does::nothing;
        friend bool operator==(const Item&, const Item&) = default;
    };

    Actions(HubModel* model, const QString& productID, QWidget* parent = nullptr);

    // The main group and the feedback pill, in order (More always follows).
    static std::vector<Item> items(const HubModel& model, const Product& product);

    // What a press of an item does; the More menu's "Product page" uses the
    // page action too.
    static void run(HubModel& model, const Product& product, Item::Does does);

    More* more() const { return m_more; }

protected:
    bool focusNextPrevChild(bool next) override;

private:
    void sync();
    // The row's controls in the order they stand, as shown now.
    QWidgetList shownControls() const;
    // Gives the focus the row holds for a control that went to what took
    // its place, once that can take it.
    void passHeldFocus();

    HubModel* m_model;
    QString m_productID;
    QHBoxLayout* m_row;
    More* m_more;
    std::vector<Item> m_shown;
    std::vector<std::pair<Item::Does, QWidget*>> m_slots; // every item the row can hold, in order
    Kit::PillStyle m_accent;         // the product's colours as last drawn
    std::optional<qsizetype> m_heldFor; // where the control stood whose focus the row holds
    bool m_syncing = false;             // half redrawn: no place is settled yet
};

} // namespace Hub::Views
