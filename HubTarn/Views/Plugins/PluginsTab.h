#pragma once

#include "Views/Common/TabPanel.h"

#include "Model/HubModel.h"
#include "Model/ModelTypes.h"

#include <QStringList>

#include <optional>
#include <set>

class QLabel;

namespace Hub::Kit {
class Pill;
}

namespace Hub::Views {

class Banner;
class RowList;
class SettingsCard;
class SoonStrip;

// The plug-ins tab: what is on this computer, what can be added and what is
// coming. While the user acts on a row the cards hold their lists, so a row
// being installed or updated stays where the pointer left it until nothing
// acted on runs and no sheet or DAW question is up.
class PluginsTab : public TabPanel {
    Q_OBJECT

public:
    explicit PluginsTab(HubModel* model, QWidget* parent = nullptr);

    // Freezes the cards' lists (the first call takes the snapshot) and
    // remembers `ids` as acted on; a check a second later releases the hold
    // when nothing keeps it.
    void hold(const QStringList& ids);
    bool holding() const { return m_held.has_value(); }
    // The sections the cards show now.
    PluginSections shown() const;
    // Something acted on runs, or a sheet or a DAW question is up.
    bool working() const;

    // "All up to date. Checked at ..." or nothing.
    static std::optional<QString> upToDate(const HubModel& model);
    // The line shown when the lists give nothing (or nothing installed) yet.
    static std::optional<QString> emptyText(const HubModel& model, const PluginSections& fresh);

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void release();
    void sync();
    void watchWorking();
    void syncUpdateAll(const HubModel::ProductList& pending);
    // The note after a check, given whether any update waits.
    static std::optional<QString> checkedNote(bool pending, const std::optional<QDateTime>& lastChecked);
    void updateAll();

    std::optional<PluginSections> m_held;
    std::set<QString> m_heldIDs;
    bool m_working = false;
    // An update (a product's or the application's own) waits: no
    // "All up to date" note.
    bool m_pending = false;
    // The cards have been filled once: later newcomers fade in.
    bool m_filled = false;

    Kit::Pill* m_updateAll;
    Banner* m_offline;
    QLabel* m_empty;
    SettingsCard* m_onMacCard;
    SettingsCard* m_addCard;
    SettingsCard* m_soonCard;
    RowList* m_onMac;
    RowList* m_add;
    SoonStrip* m_soon;
};

} // namespace Hub::Views
