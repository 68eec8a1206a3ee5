#pragma once

#include "Views/Sheets/SheetBody.h"

#include "Catalog/SharedTypes.h"
#include "Kit/OnChangeWithOld.h"

#include <set>
#include <vector>

class QLabel;
class QVBoxLayout;

namespace Hub::Kit {
class Pill;
}

namespace Hub::Views {

class FormatBox;
class SheetTitle;

// The install sheet of one product: the formats the release offers for this
// computer (or the package's fixed set), a note on where the install goes
// and what it asks of the user, and the request to the model.
class InstallSheet : public SheetBody {
    Q_OBJECT

public:
    InstallSheet(HubModel* model, const QString& slug, QWidget* parent = nullptr);

    const std::set<PluginFormat>& chosen() const { return m_chosen; }
    // What Install sends: the chosen formats the release still offers (a
    // refresh while the sheet is up can take some away).
    std::set<PluginFormat> toInstall() const;
    QString note() const;
    // The detail text of a format's tile.
    static QString formatDetail(PluginFormat format);
    // The package form's tiles: the catalog's format words matched to the
    // labels whatever their case, in the order AU, VST3, App.
    static std::vector<PluginFormat> packageFormats(const Product& product);

    QAbstractButton* defaultButton() const override;

private:
    void sync();
    void rebuildBoxes(const std::vector<PluginFormat>& shown, bool package);
    void choose(PluginFormat format, bool on);
    void install();

    std::set<PluginFormat> m_chosen;
    Kit::OnChangeWithOld<std::vector<PluginFormat>> m_offeredChange;
    SheetTitle* m_title;
    QVBoxLayout* m_boxLayout;
    std::vector<FormatBox*> m_boxes;
    std::vector<PluginFormat> m_shown;
    bool m_package = false;
    QLabel* m_note;
    Kit::Pill* m_cancel;
    Kit::Pill* m_install;
};

} // namespace Hub::Views
