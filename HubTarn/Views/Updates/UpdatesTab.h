#pragma once

#include "Views/Common/TabPanel.h"

#include <QAbstractButton>
#include <QDateTime>

#include <optional>
#include <vector>

class QLabel;
class QVBoxLayout;

namespace Hub::Kit {
class Pill;
class Spinner;
} // namespace Hub::Kit

namespace Hub::Views {

class Banner;
class JobLine;
class RowList;

// The check button of the last line: its title in the small label style,
// dim; only its text takes clicks.
class CheckButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit CheckButton(QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The updates tab: every update waiting, and the application's own.
// Rows are keyed by product; the tab re-reads the model on each change.
class UpdatesTab : public TabPanel {
    Q_OBJECT

public:
    explicit UpdatesTab(HubModel* model, QWidget* parent = nullptr);

    // The check button's title, before the upper case of its style.
    static QString checkTitle(bool loading, const std::optional<QDateTime>& lastChecked, bool offline);

    RowList* rows() const { return m_rows; }

private:
    QWidget* listSection();
    QWidget* lastLine();
    void syncList();
    void syncLegacy();
    void syncLegacyJob(const QString& productID);
    void syncCheck();
    void syncTabOrder();

    Kit::Pill* m_updateAll;
    std::vector<QWidget*> m_above;
    QWidget* m_changelog = nullptr;
    QLabel* m_empty = nullptr;
    QWidget* m_emptyBox = nullptr;
    RowList* m_rows = nullptr;
    Banner* m_offline = nullptr;
    QWidget* m_legacy = nullptr;
    QVBoxLayout* m_legacyColumn = nullptr;
    // Per product with old copies for all users, in the model's order: its
    // notice and the job line under it.
    struct LegacyBlock {
        QString productID;
        QWidget* block;
        JobLine* job;
    };
    std::vector<LegacyBlock> m_legacyBlocks;
    Kit::Spinner* m_spinner = nullptr;
    CheckButton* m_check = nullptr;
};

} // namespace Hub::Views
