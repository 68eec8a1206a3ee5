#include "Installer/Placement/PrivilegedSteps.h"

#include "Installer/Packages/PackageScript.h"
#include "Installer/Placement/AllUsersScript.h"
#include "Installer/Removal/TrashScript.h"
#include "Platform/ToolPaths.h"

using namespace Qt::StringLiterals;

namespace Hub::PrivilegedSteps {

QString name(Step step)
{
    switch (step) {
    case Step::placeForAllUsers:
        return u"place-for-all-users"_s;
    case Step::moveToTrash:
        return u"move-to-trash"_s;
    case Step::installPackage:
        return u"install-package"_s;
    }
    return {};
}

std::optional<Step> named(const QString& text)
{
    for (const Step step : kSteps)
        if (name(step) == text)
            return step;
    return std::nullopt;
}

QString marker(Step step) { return u"# hubtarn step: "_s + name(step) + u'\n'; }

std::optional<Step> of(const QString& script)
{
    for (const Step step : kSteps)
        if (script.startsWith(marker(step)))
            return step;
    return std::nullopt;
}

Script script(Step step, const QString& appletFolder)
{
    const ToolPaths applets = ToolPaths::inFolder(appletFolder);
    switch (step) {
    case Step::placeForAllUsers: {
        const AllUsersScript::Tools tools = AllUsersScript::Tools::withApplets(applets);
        return {AllUsersScript::text(tools), tools.programs()};
    }
    case Step::moveToTrash: {
        const TrashScript::Tools tools = TrashScript::Tools::withApplets(applets);
        return {TrashScript::text(tools), tools.programs()};
    }
    case Step::installPackage: {
        const PackageScript::Tools tools = PackageScript::Tools::with(applets);
        return {PackageScript::script(tools), tools.programs()};
    }
    }
    return {};
}

} // namespace Hub::PrivilegedSteps
