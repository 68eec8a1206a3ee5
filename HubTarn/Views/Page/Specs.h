#pragma once

#include <QString>
#include <QWidget>

#include <vector>

class QVBoxLayout;

namespace Hub {
class HubModel;
struct Product;
} // namespace Hub

namespace Hub::Views {

// The product page's table of facts: formats (with those installed),
// system requirements and where the copies lie. It holds the product's
// identifier and rebuilds its rows when that product or the catalog
// changes.
class Specs : public QWidget {
    Q_OBJECT

public:
    struct Row {
        QString label;
        QString value;     // in the surrounding text colour
        QString mutedTail; // after the value, in Theme::muted
        friend bool operator==(const Row&, const Row&) = default;
    };

    Specs(HubModel* model, const QString& productID, QWidget* parent = nullptr);

    // The table, in order, one row per fact the product has.
    static std::vector<Row> rows(const HubModel& model, const Product& product);
    std::vector<Row> rows() const;

private:
    void rebuild();

    HubModel* m_model;
    QString m_productID;
    QVBoxLayout* m_column;
    std::vector<Row> m_shown;
};

} // namespace Hub::Views
