#pragma once

#include "Reports/Report.h"

#include <QByteArray>
#include <QString>

namespace Hub {

// One report file as it was loaded from the spool. `data` is the exact bytes
// read then: deletion removes the file only while it still holds them, so an
// occurrence merged in after loading is never lost.
struct ReportFile {
    QString url;
    Report report;
    QByteArray data;

    // The identity lists use: the file's path.
    const QString& id() const { return url; }

    friend bool operator==(const ReportFile&, const ReportFile&) = default;
};

} // namespace Hub
