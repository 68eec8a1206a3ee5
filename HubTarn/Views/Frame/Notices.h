#pragma once

#include <QString>
#include <QWidget>

#include <optional>

class QDateTime;
class QLabel;
class QVBoxLayout;

namespace Hub {
class HubModel;
struct AccountInfo;
} // namespace Hub

namespace Hub::Kit {
class Pill;
}

namespace Hub::Views {

// The look the notices share: a thin bar of `bar` along the leading edge,
// as tall as the row, the notice's text column, and at the trailing end an
// optional small pill. The row has 4 above and below and `below` under that.
class NoticeRow : public QWidget {
    Q_OBJECT

public:
    NoticeRow(const QColor& bar, int below, QWidget* parent = nullptr);

protected:
    // The column beside the bar; the notice puts its texts here.
    QVBoxLayout* column() const { return m_column; }
    // Puts `pill` at the trailing end, at least 8 from the text.
    void setPill(Kit::Pill* pill);
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_bar;
    QVBoxLayout* m_column;
};

// One line of notice in the window's text colour: offline, the tab's reason.
class Banner : public NoticeRow {
    Q_OBJECT

public:
    explicit Banner(const QString& text, QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const;

private:
    QLabel* m_text;
};

// The service no longer knows this computer's session: the user must sign
// in again. Shows itself only then.
class SignInAgainBanner : public NoticeRow {
    Q_OBJECT

public:
    explicit SignInAgainBanner(HubModel* model, QWidget* parent = nullptr);

    static bool shows(const HubModel& model);

private:
    void sync();

    HubModel* m_model;
};

// An older copy of the product, installed for all users, lies beside the
// user's own: names the folders it lies in and offers to remove it. Hides
// itself while there is none and while the product's job runs.
class LegacyNotice : public NoticeRow {
    Q_OBJECT

public:
    // `named`: the sentence begins with the product's name.
    LegacyNotice(HubModel* model, const QString& productID, bool named, QWidget* parent = nullptr);

    // The notice's sentence; none while it does not show.
    static std::optional<QString> sentence(const HubModel& model, const QString& productID, bool named);

private:
    void sync();

    HubModel* m_model;
    QString m_productID;
    bool m_named;
    QLabel* m_sentence;
    Kit::Pill* m_remove;
};

// After more than 90 days without reaching the service, a reminder to
// connect so `what` stays current. Shows itself only then.
class OfflineReminder : public Banner {
    Q_OBJECT

public:
    OfflineReminder(HubModel* model, const QString& what, QWidget* parent = nullptr);

    static std::optional<QString> reminder(const std::optional<AccountInfo>& account, const QDateTime& now,
                                       const QString& what);

private:
    void sync();

    HubModel* m_model;
    QString m_what;
};

} // namespace Hub::Views
