#pragma once

#include <QColor>
#include <QStringView>

namespace Hub {
struct Product;
}

namespace Hub::Kit {

// An opaque colour from "#" and six hexadecimal digits (red, green, blue).
// Catalog colours are remote data: any other text (empty, short, long,
// without "#", with blanks or signs, non-hex digits) gives `fallback`.
QColor colorFromHex(QStringView text, const QColor& fallback);

// A product's colours, each with its fixed default when the catalog gives
// none or gives something that is not a colour.
QColor accentColor(const Product& product);     // default "#f0efea"
QColor accentTextColor(const Product& product); // default "#0e0e0f"
QColor tintColor(const Product& product);       // default "#0e0e0f"

} // namespace Hub::Kit
