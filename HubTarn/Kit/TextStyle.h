#pragma once

#include <QColor>
#include <QFont>
#include <QDateTime>
#include <QString>
#include <QStringList>

class QLabel;
class QWidget;

// The two text styles of the window and the label settings that go with
// them. Labels made here show their text as plain text: catalog names,
// taglines and messages are remote data and must not become markup or links.
namespace Hub::Kit {

// Small labels, codes, counts and button titles: the monospaced font of
// `size`, upper case, tracking size × 0.05.
QFont label(qreal size, QFont::Weight weight);

// Footnotes: the prose font of `size`, drawn in Theme::muted.
QFont foot(qreal size);
QColor footColor();

// The first user-perceived character of `text`, so an accented or
// combined letter stays whole; empty for an empty text.
QString firstCharacter(const QString& text);

// A label that shows `text` literally, whatever it contains.
QLabel* plainLabel(const QString& text, QWidget* parent = nullptr);

// `text` as a help text that shows literally: tooltips guess rich text
// from the text itself, so data that looks like markup is escaped.
QString plainToolTip(const QString& text);

// Names joined the way the window's English sentences need them, whatever
// the locale the program runs under (QLocale's own lists drop the last
// comma under C.UTF-8): "A", "A and B", "A, B, and C". Every list of names
// in a sentence goes through here.
QString joinedList(const QStringList& names);

// The local hour and minute of `when` in the locale's short time style,
// never its seconds: under C.UTF-8 that style is "HH:mm:ss", and a time
// of a check reads "21:19", as "9:19 PM" reads in en_US.
QString clockTime(const QDateTime& when);

// Label style on an existing label: font, colour, one line.
void setLabelStyle(QLabel* label, qreal size, QFont::Weight weight, const QColor& color);

// Foot style: wraps onto as many lines as it needs and grows in height
// rather than cutting the text.
void setFootStyle(QLabel* label, qreal size);

// Prose in the theme's font, wrapping like a footnote, in `color`.
void setProseStyle(QLabel* label, const QFont& font, const QColor& color);

// Lets the user select and copy the text with the mouse; keyboard focus
// stays with the controls.
void setSelectable(QLabel* label);

void setTextColor(QWidget* widget, const QColor& color);

} // namespace Hub::Kit
