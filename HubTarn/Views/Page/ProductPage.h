#pragma once

#include <QString>
#include <QWidget>

#include <optional>

class QLabel;
class QVBoxLayout;

namespace Hub {
class HubModel;
struct Product;
} // namespace Hub

namespace Hub::Kit {
class ElidedLabel;
class Pill;
}

namespace Hub::Views {

class Actions;
class JobLine;
class PageTitle;
class WhatsNew;

// One product's page over the tab body: the back pill, the name in the
// product's accent, the status line, the tagline, the actions, the job
// line, a warning about mismatched copies, the specifications and what is
// new in a waiting update. It holds the product's identifier, never a copy
// of the product, and reads the product from the model as it draws.
class ProductPage : public QWidget {
    Q_OBJECT

public:
    ProductPage(HubModel* model, const QString& productID, QWidget* parent = nullptr);

    HubModel* model() const { return m_model; }
    const QString& productID() const { return m_productID; }

    // The title's size in points: 116 for up to 9 characters, then smaller
    // so that the name keeps within the column. Characters are the ones a
    // reader counts; an empty name counts as one.
    static qreal titleSize(const QString& title);
    // The warning that the plug-in copies disagree in version, naming every
    // copy with its version; none while they agree.
    static std::optional<QString> mismatch(const HubModel& model, const Product& product);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* scrolledColumn();
    QWidget* statusLine(QWidget* columnWidget);
    void sync();

    HubModel* m_model;
    QString m_productID;
    Kit::Pill* m_back;
    PageTitle* m_title;
    QWidget* m_status;
    Kit::ElidedLabel* m_statusName;
    QLabel* m_statusSeparator;
    QLabel* m_statusWord;
    QLabel* m_tagline;
    Actions* m_actions;
    QWidget* m_jobRoom;
    JobLine* m_jobLine;
    QWidget* m_legacyRoom;
    QLabel* m_mismatch;
    QVBoxLayout* m_column;
    WhatsNew* m_whatsNew = nullptr;
    QString m_whatsNewKey; // the version and lines the block was made for
};

} // namespace Hub::Views
