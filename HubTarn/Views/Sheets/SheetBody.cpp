#include "Views/Sheets/SheetBody.h"

#include "Model/HubModel.h"

namespace Hub::Views {

SheetBody::SheetBody(HubModel* model, const QString& slug, const QString& name, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_slug(slug)
{
    setObjectName(name);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

const Product* SheetBody::product() const { return m_model->product(m_slug); }

} // namespace Hub::Views
