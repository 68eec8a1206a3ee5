#pragma once

#include "Views/Sheets/SheetBody.h"

namespace Hub::Views {

// The feedback sheet of one product: a kind and a message for the maker.
class FeedbackSheet : public SheetBody {
    Q_OBJECT

public:
    FeedbackSheet(HubModel* model, const QString& slug, QWidget* parent = nullptr);
};

} // namespace Hub::Views
