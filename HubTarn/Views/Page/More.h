#pragma once

#include <QAbstractButton>
#include <QString>

#include <vector>

namespace Hub {
class HubModel;
struct Product;
} // namespace Hub

namespace Hub::Kit {
class PlainMenu;
}

namespace Hub::Views {

// The round overflow button that closes a product's action row, and its
// menu of the less frequent actions: show the copies, reinstall, uninstall,
// the product's web page and its release notes. Greyed out while a job of
// the product works.
class More : public QAbstractButton {
    Q_OBJECT

public:
    struct Style {
        qreal size = 46;      // the face's side, and the circle's diameter
        qreal glyphSize = 14; // "···", bold monospaced
    };

    struct Item {
        enum class Does { reveal, reinstall, uninstall, divider, page, notes };
        QString text; // as the user reads it; empty for the divider
        Does does = Does::divider;
        friend bool operator==(const Item&, const Item&) = default;
    };

    More(HubModel* model, const QString& productID, QWidget* parent = nullptr);

    // The menu's items for the product, in order, only those that apply now.
    static std::vector<Item> items(const HubModel& model, const Product& product);
    static void run(HubModel& model, const Product& product, Item::Does does);

    Kit::PlainMenu* menu() const { return m_menu; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    void sync();

    HubModel* m_model;
    QString m_productID;
    Style m_style;
    Kit::PlainMenu* m_menu;
    std::vector<Item> m_shown;
};

} // namespace Hub::Views
