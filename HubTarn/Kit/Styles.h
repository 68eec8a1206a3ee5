#pragma once

#include "Theme.h"

#include <QColor>

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
};

struct TagStyle {
    QColor color = Theme::muted();
    // Filled: a solid tile of `color` with the text in Theme::bg.
    bool filled = false;
};

} // namespace Hub::Kit
