#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <vector>

namespace Hub {
class HubModel;
struct Product;
} // namespace Hub

namespace Hub::Views {

// One row of a list of products. It holds the product's identifier, never
// a copy of the product, and reads the product from the model each time it
// draws. Keyboard users reach it with Tab; Return or Space activates it.
class ListRow : public QWidget {
    Q_OBJECT

public:
    ListRow(HubModel* model, const QString& productID, QWidget* parent = nullptr);

    const QString& productID() const { return m_productID; }
    // The product now; null once it is no longer shown.
    const Product* product() const;

    // The product's state changed: the row redraws itself alone and renews
    // its spoken name. Rows with child controls override it to renew them.
    virtual void sync();

Q_SIGNALS:
    void activated();

protected:
    HubModel* model() const { return m_model; }
    // What a screen reader says for the row; the model's sentence by default.
    virtual QString spokenText() const;
    void keyPressEvent(QKeyEvent* event) override;

private:
    HubModel* m_model;
    QString m_productID;
};

// A column of product rows keyed by identifier: the one way the views list
// products. setIDs() keeps the row of every identifier it already shows,
// makes rows only for newcomers, deletes those of identifiers gone and puts
// them in the order given (the keyboard's order too). A product's state
// change reaches that product's row only, so a download's progress redraws
// one row; the owner calls setIDs() when its lists change (statesChanged,
// catalogChanged).
class RowList : public QWidget {
    Q_OBJECT

public:
    using MakeRow = std::function<ListRow*(const QString& productID)>;
    // `between`, when given, makes the widget that separates two rows (a
    // card's divider).
    RowList(HubModel* model, MakeRow make, std::function<QWidget*()> between = {}, QWidget* parent = nullptr);

    void setIDs(const QStringList& ids);
    QStringList ids() const;
    ListRow* row(const QString& productID) const;
    // Every row, in order.
    const std::vector<ListRow*>& rows() const { return m_rows; }

private:
    void productChanged(const QString& productID);

    MakeRow m_make;
    std::function<QWidget*()> m_between;
    std::vector<ListRow*> m_rows;
    std::vector<QWidget*> m_separators;
};

} // namespace Hub::Views
