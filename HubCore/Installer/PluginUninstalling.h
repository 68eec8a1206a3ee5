#pragma once

#include "Catalog/SharedTypes.h"

#include <QList>
#include <QString>

#include <optional>

namespace Hub {
struct Product;

// A product's own settings folder as its catalog entry names it: `product`
// is the name the messages show, `folder` the folder relative to the user's
// Application Support folder ("Tarn Audio/<name>"), exactly as the catalog
// gives it; nothing here says the text is one the hub may touch.
struct SettingsFolderRecord {
    QString product;
    QString folder;

    // None when the product's entry names no settings folder.
    static std::optional<SettingsFolderRecord> of(const Product& product);

    friend bool operator==(const SettingsFolderRecord&, const SettingsFolderRecord&) = default;
};

// What the app model uses of the installer to remove a product.
class PluginUninstalling {
public:
    virtual ~PluginUninstalling() = default;

    // Moves the product's chosen formats and scopes to the Trash (never
    // deletes), prunes the backups of formats no longer installed and, on
    // request, the settings folder. Returns the product's installed copies
    // afterwards. Throws HubError::cancelled when the administrator prompt
    // was dismissed before anything moved, else one HubError::message with a
    // line per problem after doing all it could.
    virtual QList<InstalledFormat> uninstall(const Product& product, const UninstallOptions& options,
                                             const InstallRoots& roots) const = 0;
};

} // namespace Hub
