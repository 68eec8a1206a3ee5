#pragma once

class QString;
class QWidget;

namespace Hub::Kit {

// Says `sentence` once to assistive technology, as an alert, for an outcome
// shown in an unfocused label (a job's result, a sheet's answer) that a
// screen reader would otherwise never read out.
//
// Qt 6.4 has no announcement event, and its AT-SPI bridge drops
// QAccessible::Alert; what it does pass on is a widget being shown. So each
// window keeps one announcer: a hidden, empty widget read as a notification
// named by the sentence, shown for each announcement (its showing reaches
// the bus) and sent an Alert event for bridges that take those. A
// notification, not an alert message: Orca speaks a notification that shows
// in any application, an alert only in GTK and web ones. Nothing happens
// while no assistive technology listens.
void announce(QWidget* inWindow, const QString& sentence);

} // namespace Hub::Kit
