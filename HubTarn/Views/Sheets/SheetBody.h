#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class QAbstractButton;

namespace Hub {
class HubModel;
struct Product;
} // namespace Hub

namespace Hub::Views {

// What every sheet's content starts from: the model and the identifier of
// the product the sheet is for, never a copy of the product.
class SheetBody : public QWidget {
    Q_OBJECT

public:
    HubModel* model() const { return m_model; }
    const QString& slug() const { return m_slug; }
    // The product now; null once it is no longer shown.
    const Product* product() const;

    // The button Return presses when no button has the keyboard's focus;
    // none by default.
    virtual QAbstractButton* defaultButton() const { return nullptr; }
    // What has the keyboard's focus as the sheet opens; none by default, so
    // Space closes nothing by surprise and Return means the default.
    virtual QWidget* firstFocus() const { return nullptr; }
    // Where Tab (or Shift+Tab) goes from the sheet's window itself, which
    // holds the focus while nothing else does: the first (or last) stop
    // of the reading order that takes the focus now; null when none does.
    QWidget* entryStop(bool forward) const;

public Q_SLOTS:
    // The one way every sheet's "Cancel" and "Close" (and its own actions,
    // once done) close the sheet: the window closes and the model's sheet
    // goes with it.
    void dismiss();

protected:
    // `name` is the object name tests and tools find the sheet by.
    SheetBody(HubModel* model, const QString& slug, const QString& name, QWidget* parent);
    // Tab goes through `stops` in this order. The chain is a ring, so the
    // window's own Tab enters it at its first stop (entryStop), never at
    // whichever stop was made first.
    void setReadingOrder(const QWidgetList& stops);

private:
    HubModel* m_model;
    QString m_slug;
    QList<QPointer<QWidget>> m_stops;
};

} // namespace Hub::Views
