#pragma once

#include "Views/Sheets/SheetBody.h"

#include "Catalog/SharedTypes.h"

#include <QList>

#include <map>
#include <optional>
#include <set>

class QLabel;
class QVBoxLayout;

namespace Hub::Kit {
class InkSwitch;
class Pill;
} // namespace Hub::Kit

namespace Hub::Views {

class FormatBox;
class SheetTitle;

// The uninstall sheet of one product: which installed copies go to the
// Trash, where each lives, whether the system will ask for the password,
// and the settings folder when the installer would really move one.
class UninstallSheet : public SheetBody {
    Q_OBJECT

public:
    UninstallSheet(HubModel* model, const QString& slug, QWidget* parent = nullptr);

    const std::set<PluginFormat>& chosen() const { return m_chosen; }
    // Where the copies of one format live: "<version> <place>" joined by " · ".
    QString where(PluginFormat format) const;
    QString footer() const;
    // The folder "Also remove settings and presets" moves, as the installer
    // finds it from the install roots; none when it would move nothing.
    std::optional<QString> settingsFolder() const;

    // Whether removing the chosen copies needs the password: true as soon
    // as the user may not write to a chosen copy or to the folder that holds
    // it (a failed check of any kind counts as "may not").
    static bool needsPassword(const QList<InstalledFormat>& installed, const std::set<PluginFormat>& chosen);

    static QString footer(bool needsPassword);

private:
    void sync();
    void choose(PluginFormat format, bool on);
    void uninstall();

    std::set<PluginFormat> m_chosen;
    SheetTitle* m_title;
    QVBoxLayout* m_tiles;
    std::map<PluginFormat, FormatBox*> m_boxes;
    Kit::InkSwitch* m_settings;
    QLabel* m_settingsCaption;
    QLabel* m_footer;
    Kit::Pill* m_cancel;
    Kit::Pill* m_uninstall;
};

} // namespace Hub::Views
