#pragma once

class QLabel;
class QWidget;

// What assistive technology is told about the frame's own controls beyond
// what the stock widgets say: the strip is a page-tab list of page tabs with
// a selected state, the account button opens a pop-up, the account menu is
// a menu of menu items, and card titles are headings.
namespace Hub::Views {

// Once per process; every view that needs it calls it.
void installViewAccessibility();

// Tells assistive technology that a tab became selected or stopped being
// selected, as selection-add and selection-remove events (the desktop's
// bridge passes those on; a "selected" state change it drops).
void notifySelection(QWidget* tab, bool selected);

// Makes `label` read as a heading.
void markHeading(QLabel* label);

// Makes `line` read as one text, its accessible name: the labels it is
// drawn from (a name, a drawn separator, a word) are not read again, each
// alone and with the symbols that only draw.
void markReadAsOne(QWidget* line);

} // namespace Hub::Views
