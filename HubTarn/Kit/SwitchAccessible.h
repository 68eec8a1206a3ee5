#pragma once

// Makes the kit's switches speak as check boxes with their checked state
// (a plain QAbstractButton speaks as a push button). Installed once by
// Theme::install().
namespace Hub::Kit {
void installSwitchAccessibility();
}
