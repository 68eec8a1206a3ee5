#pragma once

#include <QString>

namespace Hub {
class CatalogLoader;

// The plain-text report of `hubtarn --status`: where plug-ins, applications
// and the hub's own files go, the catalog in use, where it came from, and
// each product with its current version and its installed copies (format,
// where, version). Reads local files
// only, so it works offline and without a display.
// `selfUpdates` false: the system's packages update the program, and the
// report says so instead of naming the latest release.
QString statusReport(const CatalogLoader& loader, bool selfUpdates);

} // namespace Hub
