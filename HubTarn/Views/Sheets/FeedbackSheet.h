#pragma once

#include "Views/Sheets/SheetBody.h"

#include "Catalog/SharedTypes.h"

#include <optional>

class QLabel;
class QPlainTextEdit;

namespace Hub::Kit {
class Pill;
class Segmented;
class Spinner;
} // namespace Hub::Kit

namespace Hub::Views {

class SheetTitle;

// The feedback sheet of one product: a kind and a message for the maker,
// sent with the user's account and the product's version; the service's
// answer shows in the sheet, and a sent message turns it into a thank-you.
class FeedbackSheet : public SheetBody {
    Q_OBJECT

public:
    FeedbackSheet(HubModel* model, const QString& slug, QWidget* parent = nullptr);

    FeedbackKind kind() const { return m_kind; }
    QString message() const;
    bool isSending() const { return m_sending; }
    bool isSent() const { return m_sent; }
    const std::optional<QString>& error() const { return m_error; }
    // "<count> / 2000", counting what the service counts: the trimmed text.
    QString counter() const;

    QAbstractButton* defaultButton() const override;
    QWidget* firstFocus() const override;

public Q_SLOTS:
    void send();

private:
    class EditorBox;

    // The constructor's steps, in order.
    void makeKindChoice();
    void nameParts();
    void layOutForm();
    void layOutThanks();
    void connectActions();

    void sync();

    FeedbackKind m_kind = FeedbackKind::idea;
    bool m_sending = false;
    bool m_sent = false;
    std::optional<QString> m_error;

    QWidget* m_form;
    SheetTitle* m_title;
    Kit::Segmented* m_kinds;
    EditorBox* m_box;
    QPlainTextEdit* m_editor;
    QLabel* m_errorLine;
    QLabel* m_counter;
    Kit::Pill* m_betaPage;
    Kit::Spinner* m_spinner;
    Kit::Pill* m_cancel;
    Kit::Pill* m_send;

    QWidget* m_thanks;
    Kit::Pill* m_close;
};

} // namespace Hub::Views
