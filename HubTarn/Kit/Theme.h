#pragma once

#include <QColor>
#include <QFont>
#include <QMargins>
#include <QPalette>
#include <QString>

class QAbstractScrollArea;
class QApplication;

// The one place the window's look is written down: colours, strokes, radii,
// durations and fonts. Controls read it at paint time; nothing else in a
// paintEvent names a colour or a font family.

namespace Hub::Kit::Theme {

QColor bg();
QColor panel();
QColor raised();
QColor ink();
QColor muted();
QColor dim();
QColor warn();
QColor bad();
// ink at opacity 0.13: hairlines and quiet outlines.
QColor line();
// ink at opacity 0.9: the outline of an unfilled pill or a round button.
QColor strong();
// black at opacity 0.5: the shade over the window while a sheet or a question
// is up, drawn by the window itself so it shows with no window manager.
QColor scrim();

inline constexpr qreal stroke = 1.5;
inline constexpr qreal hairline = 1.0;
inline constexpr qreal cardRadius = 14;
inline constexpr qreal tagRadius = 7;
inline constexpr qreal rowRadius = 7;

inline constexpr qreal disabledOpacity = 0.35;
inline constexpr qreal pressedOpacity = 0.7;

// Room that several screens share, so a tab, a page and a card line up.
// Around each tab's content, inside the scrolling tab body.
inline constexpr QMargins tabBodyMargins{30, 28, 30, 34};
// The product page's column: at most this wide, centred on a wide window,
// with this room around it.
inline constexpr int pageColumnWidth = 640;
inline constexpr QMargins pageMargins{30, 26, 30, 36};
// A card's rows: room at their sides (where a divider starts, too) and
// above and below, and the least height of a row.
inline constexpr int cardPadding = 16;
inline constexpr int cardRowPadding = 10;
inline constexpr int cardRowMinHeight = 52;
// Between a tab's cards.
inline constexpr int cardSpacing = 20;

inline constexpr int hoverMs = 120;
inline constexpr int pageMs = 150;
inline constexpr int cardsMs = 200;
inline constexpr int spinMs = 900;

// The families the fonts resolved to. The first call looks for Inter and
// JetBrains Mono and logs once when one is missing; later calls are free.
struct Families {
    QString prose;
    QString mono;
    bool proseFound = false;
    bool monoFound = false;
};
const Families& families();

// Sizes are in points, which are Qt's device-independent pixels here.
// `tracking` is the letter spacing in points (negative tightens).
QFont prose(qreal size, qreal tracking = 0);
QFont bold(qreal size, qreal tracking = 0);
QFont mono(qreal size, QFont::Weight weight, qreal tracking = 0, bool upperCase = false);

// Fusion's palette in the theme's colours, so stock widgets (scroll bars,
// tooltips, dialogs) sit quietly beside the painted ones.
QPalette palette();

// Fusion style, the palette, the default prose font and the switches'
// accessibility; call once after the QApplication exists.
void install(QApplication& app);

// The scroll bar of a scrolling column: a thin rounded handle on no track,
// without arrows, its room kept whether or not there is anything to scroll. Fusion's grey bar with arrows is the one native part that
// would show in the window, so it gets the one style sheet the kit allows.
void quietScrollBar(QAbstractScrollArea* area);

} // namespace Hub::Kit::Theme
