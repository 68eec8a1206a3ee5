#include "Views/Sheets/SheetBody.h"

#include "Kit/Keyboard.h"
#include "Model/HubModel.h"

#include <QDialog>

namespace Hub::Views {

SheetBody::SheetBody(HubModel* model, const QString& slug, const QString& name, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_slug(slug)
{
    setObjectName(name);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void SheetBody::setReadingOrder(const QWidgetList& stops)
{
    m_stops.clear();
    for (QWidget* stop : stops)
        m_stops.append(stop);
    Kit::chainTabOrder(stops);
}

QWidget* SheetBody::entryStop(bool forward) const
{
    for (qsizetype i = 0; i < m_stops.size(); ++i) {
        QWidget* stop = m_stops[forward ? i : m_stops.size() - 1 - i];
        if (stop && stop->isEnabled() && stop->isVisibleTo(window()) && (stop->focusPolicy() & Qt::TabFocus))
            return stop;
    }
    return nullptr;
}

const Product* SheetBody::product() const { return m_model->product(m_slug); }

void SheetBody::dismiss()
{
    // The host window reports its closing to the main view, which clears
    // the model's sheet; a body shown on its own clears it here.
    if (auto* host = qobject_cast<QDialog*>(window())) {
        host->reject();
        return;
    }
    m_model->setSheet(std::nullopt);
}

} // namespace Hub::Views
