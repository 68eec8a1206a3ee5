#!/bin/sh
# scripts/check-includes must pass a tree that keeps the floors and fail one
# that breaks any of them: one offending include per rule, one tree each.
# Usage: IncludeRulesCatch.sh <check-includes>
check=$1
scratch=$(mktemp -d) || exit 2
trap 'rm -rf "$scratch"' EXIT

tree() {
    rm -rf "$scratch/tree"
    for folder in HubCore/Base HubCore/Platform HubCore/Catalog HubTarn/Kit HubTarn/Views HubTarn/Shell; do
        mkdir -p "$scratch/tree/$folder"
    done
    # What every floor may include.
    echo '#include "Base/Config.h"' > "$scratch/tree/HubCore/Platform/Ok.cpp"
    echo '#include "Platform/Http.h"' > "$scratch/tree/HubCore/Catalog/Ok.cpp"
    echo '#include "Kit/Theme.h"' > "$scratch/tree/HubTarn/Views/Ok.cpp"
}

tree
"$check" "$scratch/tree" > /dev/null || { echo "a tree that keeps the rules was refused"; exit 1; }

status=0
# file | include that breaks a rule
while IFS='|' read -r file line; do
    tree
    echo "$line" > "$scratch/tree/$file"
    if "$check" "$scratch/tree" > /dev/null; then
        echo "not caught: $line in $file"
        status=1
    fi
done <<'ROWS'
HubCore/Base/Bad.cpp|#include "Catalog/CatalogRecords.h"
HubCore/Base/Bad.h|#include "Platform/Http.h"
HubCore/Base/Bad.cpp|  #  include <Installer/PluginInstaller.h>
HubCore/Platform/Bad.cpp|#include "Catalog/SharedTypes.h"
HubCore/Platform/Bad.cpp|#include "Installer/InstallLocations.h"
HubCore/Platform/Bad.h|#include "Account/HubAPI.h"
HubCore/Catalog/Bad.cpp|#include "Model/HubModel.h"
HubCore/Catalog/Bad.cpp|#include "HubTarn/Kit/Theme.h"
HubTarn/Kit/Bad.cpp|#include "Model/HubModel.h"
HubTarn/Kit/Bad.cpp|#include "Views/ProductList.h"
HubTarn/Views/Bad.cpp|#include "Shell/RootView.h"
ROWS
exit $status
