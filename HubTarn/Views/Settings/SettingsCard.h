#pragma once

#include "Kit/Hairline.h"

#include <QWidget>

#include <optional>

class QLabel;
class QVBoxLayout;

namespace Hub::Kit {
class ElidedLabel;
}

namespace Hub::Views {

// A titled rounded panel of rows with an optional note under it. The rows
// sit flush: only the CardDivider views the caller adds separate them.
class SettingsCard : public QWidget {
    Q_OBJECT

public:
    explicit SettingsCard(const QString& title, const std::optional<QString>& note = std::nullopt,
                          QWidget* parent = nullptr);

    void setTitle(const QString& title);
    void setNote(const std::optional<QString>& note);
    // Rows go here, top to bottom.
    void addRow(QWidget* row);
    QVBoxLayout* rows() const { return m_rows; }

    // The card's heading as accessibility reads it: " · " becomes ", ".
    static QString spokenTitle(const QString& title);

private:
    QLabel* m_title;
    QWidget* m_panel;
    QVBoxLayout* m_rows;
    QLabel* m_note;
};

// The hairline between two rows of a card, starting 16 in from the card's
// leading edge.
class CardDivider : public Kit::Hairline {
    Q_OBJECT

public:
    explicit CardDivider(QWidget* parent = nullptr);
};

// A row's title with an optional detail line: prose that wraps, or with
// `mono` a one-line monospaced value (a path) shortened in the middle.
class RowText : public QWidget {
    Q_OBJECT

public:
    RowText(const QString& title, const std::optional<QString>& detail = std::nullopt, bool mono = false,
            QWidget* parent = nullptr);

    void setTitle(const QString& title);
    void setDetail(const std::optional<QString>& detail);

    QLabel* titleLabel() const { return m_title; }
    // The detail's label; null without a detail.
    QLabel* detailLabel() const;

private:
    void rebuildDetail(const std::optional<QString>& detail);

    bool m_mono;
    QLabel* m_title;
    QLabel* m_proseDetail = nullptr;
    Kit::ElidedLabel* m_monoDetail = nullptr;
};

// A RowText with a control at its trailing end, at the control's own width;
// padded 16 at the sides and 10 above and below, at least 52 high.
class SettingRow : public QWidget {
    Q_OBJECT

public:
    SettingRow(const QString& title, const std::optional<QString>& detail, bool mono, QWidget* control,
               QWidget* parent = nullptr);

    RowText* text() const { return m_text; }
    QWidget* control() const { return m_control; }

private:
    RowText* m_text;
    QWidget* m_control;
};

} // namespace Hub::Views
