#pragma once

#include "Views/Common/TabPanel.h"

#include <vector>

class QAbstractButton;
class QLabel;
class QVBoxLayout;

namespace Hub::Kit {
class Pill;
class RowSwitch;
class Segmented;
} // namespace Hub::Kit

namespace Hub::Views {

class SettingRow;
class SettingsCard;

// The settings tab: what to install, where, when to check, reports, folders and the account.
// Every switch writes the model's setting, every button calls one model
// operation; what the tab shows is read back from the model on each change.
class SettingsTab : public TabPanel {
    Q_OBJECT

public:
    explicit SettingsTab(HubModel* model, QWidget* parent = nullptr);

    // Where plug-ins go for the chosen scope: the folder that holds the
    // VST3 folder.
    QString pluginFolder() const;
    // `path` as the folder line shows it: the home folder as "~".
    QString shownPath(const QString& path) const;

private:
    QWidget* formatsCard();
    QWidget* installForCard();
    QWidget* updatesCard();
    QWidget* problemsCard();
    QWidget* accountCard();
    QWidget* about();
    // A switch row bound to one of the model's settings: `read` gives the
    // setting, `write` stores a click, `changed` says when to read again.
    Kit::RowSwitch* settingSwitch(const QString& name, const QString& title, const QString& detail,
                                  bool (HubModel::*read)() const, void (HubModel::*write)(bool),
                                  void (HubModel::*changed)());

    void syncFormats();
    void syncFolder();
    void syncProblems();
    void fillProblems(QVBoxLayout* layout);
    void fillUnreadable(QVBoxLayout* layout);
    void syncAccount();
    void fillAccount(QVBoxLayout* layout);
    void send();
    void syncTabOrder();

    std::vector<QWidget*> m_columns;
    QWidget* m_about = nullptr;
    // From a press of "Send" until the send has finished.
    bool m_sending = false;

    SettingsCard* m_formats = nullptr;
    Kit::RowSwitch* m_au = nullptr;
    Kit::RowSwitch* m_vst3 = nullptr;
    Kit::Segmented* m_scope = nullptr;
    SettingsCard* m_installFor = nullptr;
    SettingRow* m_folder = nullptr;
    SettingsCard* m_problems = nullptr;
    QWidget* m_problemsHolder = nullptr;
    QWidget* m_problemRows = nullptr;
    SettingsCard* m_account = nullptr;
    QWidget* m_accountHolder = nullptr;
    QWidget* m_accountRows = nullptr;
};

} // namespace Hub::Views
