#include "Views/Page/ProductPage.h"

namespace Hub::Views {

ProductPage::ProductPage(HubModel* model, const QString& productID, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_productID(productID)
{
    setObjectName(QStringLiteral("productPage"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

} // namespace Hub::Views
