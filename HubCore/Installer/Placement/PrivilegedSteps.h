#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The only things the hub does as the administrator, each a script built
// into the core: placing bundles for all users (AllUsersScript), moving
// items to the Trash (TrashScript) and installing a package, a product's or
// the hub's own update (PackageScript). An installed copy asks its helper,
// hubtarn-admin, for a step by name; the helper builds the step's script
// itself, so no script text ever crosses into the root side.
namespace Hub::PrivilegedSteps {

enum class Step { placeForAllUsers, moveToTrash, installPackage };
inline constexpr Step kSteps[] = {Step::placeForAllUsers, Step::moveToTrash, Step::installPackage};

// "place-for-all-users", "move-to-trash", "install-package".
QString name(Step step);
// The step of that name; none for any other text.
std::optional<Step> named(const QString& name);

// The comment line that opens every script of a step ("# hubtarn step:
// <name>" and a line feed), so that a runner can hand the helper the name
// in place of the text.
QString marker(Step step);
// The step whose marker opens `script`; none for any other script.
std::optional<Step> of(const QString& script);

// A step's script as an installed copy runs it: the applets in
// `appletFolder` (the bundle's Contents/Helpers) and the system's own
// tools, and every program it runs.
struct Script {
    QString text;
    QStringList programs;
};
Script script(Step step, const QString& appletFolder);

} // namespace Hub::PrivilegedSteps
