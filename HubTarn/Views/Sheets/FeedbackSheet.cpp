#include "Views/Sheets/FeedbackSheet.h"

namespace Hub::Views {

FeedbackSheet::FeedbackSheet(HubModel* model, const QString& slug, QWidget* parent)
    : SheetBody(model, slug, QStringLiteral("feedbackSheet"), parent)
{
}

} // namespace Hub::Views
