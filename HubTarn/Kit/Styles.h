#pragma once

#include "Theme.h"

#include <QColor>
#include <QMargins>

#include <optional>

// One small struct per painted control, so a settings row, a sheet and a
// list row that draw the same control draw it the same way.
namespace Hub::Kit {

struct PillStyle {
    // With a fill: a capsule filled and outlined in it, label in `text`.
    // Without: a clear capsule outlined in Theme::strong, label in Theme::ink.
    std::optional<QColor> fill;
    QColor text = Theme::bg();
    bool small = false;
    // Takes the full width it is offered.
    bool wide = false;

    qreal height() const { return small ? 34 : 46; }
    qreal padding() const { return small ? 14 : 20; }
    qreal fontSize() const { return small ? 11 : 12.5; }
    qreal tracking() const { return small ? 0.6 : 0.75; }

    // The small ink pill of notices, bars and tab headings.
    static PillStyle smallInk() { return {Theme::ink(), Theme::bg(), true, false}; }
};

struct TagStyle {
    QColor color = Theme::muted();
    // Filled: a solid tile of `color` with the text in Theme::bg.
    bool filled = false;
};

// A tab of the tab strip and a segment of the segmented control, drawn by
// the one painter Paint::capsuleItem: the chosen one an ink capsule with its
// label in Theme::bg, the others their label alone.
struct CapsuleItemStyle {
    // The label from the leading edge; 0 centres it.
    qreal textInset = 0;
    // The focus ring inside the capsule's edge.
    qreal focusInset = 2;
};

struct SegmentedStyle {
    qreal height = 30;
    // Between the outline and the segments.
    qreal inset = 3;
    // Added to a segment's label width.
    qreal segmentPadding = 26;
    CapsuleItemStyle item{0, 2};
};

// A settings card's row, whether it holds a control (SettingRow) or is a
// switch itself (RowSwitch): one padding and least height, so rows of both
// kinds line up in one card.
struct SettingRowStyle {
    QMargins margins{Theme::cardPadding, Theme::cardRowPadding, Theme::cardPadding, Theme::cardRowPadding};
    int spacing = 16;
    int minHeight = Theme::cardRowMinHeight;
};

struct SwitchStyle {
    bool knobFirst = false;
    QMargins margins;
    int spacing = 10;
    int minHeight = 0;

    // The settings rows' switch: label, then the knob at the trailing end.
    static SwitchStyle row()
    {
        const SettingRowStyle r;
        return {false, r.margins, r.spacing, r.minHeight};
    }
    // The sheets' switch: the knob, then the label, 10 apart, inset as a
    // format tile's text is, so the keyboard's ring (2 inside the edge)
    // runs clear of the label and the knob.
    static SwitchStyle ink() { return {true, QMargins(14, 8, 14, 8), 10, 0}; }
};

} // namespace Hub::Kit
