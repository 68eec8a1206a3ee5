#pragma once

#include "Model/HubModel.h"

#include <QObject>
#include <QString>

namespace Hub::Views {

// Calls `changed` whenever what the page draws of one product may have
// changed: that product's state (a download tick too), the set of jobs or
// copies, the network, the catalog or the account. Callers compare before
// they redraw, so a tick that changes nothing costs nothing.
template<typename Changed>
void followProduct(HubModel* model, QObject* context, const QString& productID, Changed changed)
{
    QObject::connect(model, &HubModel::productStateChanged, context, [productID, changed](const QString& id) {
        if (id == productID)
            changed();
    });
    for (auto signal : {&HubModel::statesChanged, &HubModel::offlineChanged, &HubModel::catalogChanged,
                        &HubModel::accountChanged})
        QObject::connect(model, signal, context, changed);
}

} // namespace Hub::Views
