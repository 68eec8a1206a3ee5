#pragma once

class QLabel;
class QWidget;

// What assistive technology is told about the frame's own controls beyond
// what the stock widgets say: tabs are page tabs with a selected state, and
// card titles are headings.
namespace Hub::Views {

// Once per process; every view that needs it calls it.
void installViewAccessibility();

// Tells assistive technology that a tab's selected state changed.
void notifySelection(QWidget* tab);

// Makes `label` read as a heading.
void markHeading(QLabel* label);

} // namespace Hub::Views
