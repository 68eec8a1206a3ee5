#pragma once

#include <QString>
#include <QWidget>

namespace Hub {
class HubModel;
}

namespace Hub::Views {

// One product's page over the tab body. It holds the product's identifier, never a copy of the product, and reads the product from the model as it draws.
class ProductPage : public QWidget {
    Q_OBJECT

public:
    ProductPage(HubModel* model, const QString& productID, QWidget* parent = nullptr);

    HubModel* model() const { return m_model; }
    const QString& productID() const { return m_productID; }

private:
    HubModel* m_model;
    QString m_productID;
};

} // namespace Hub::Views
