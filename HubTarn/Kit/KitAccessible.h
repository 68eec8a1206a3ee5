#pragma once

// What assistive technology is told about the kit's painted controls, which
// Qt would otherwise read as plain buttons or unnamed fillers. Installed once
// by Theme::install(); every view made of kit controls speaks this way
// without doing anything:
// - switches: check boxes named by their title, the label's further text
//   (a detail line) as description, the label's texts not read again;
// - Segmented: a group (named by the owner's setAccessibleName) of radio
//   buttons, one checked;
// - ProgressLine: a progress bar with its value in percent;
// - HoverButton (menu rows, coming-soon cells): one button, its inner
//   texts not read again;
// - Tag: static text; Logo: a decorative picture, hidden; ProductMark: a
//   picture named by the product, no stop for Tab;
// - PlainMenu's items: menu items named without their drawn symbols.
namespace Hub::Kit {
void installKitAccessibility();
}
