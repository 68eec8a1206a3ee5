#pragma once

#include "TestFiles.h"

#include <QDir>
#include <QString>
#include <QStringList>

// Helpers shared by the placement and backup tests.
namespace Hub::Test {

// Entries of a folder whose names contain the spare marker.
inline QStringList spareNames(const QString& folder)
{
    QStringList names;
    for (const QString& name : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        if (name.contains(QStringLiteral(".hub-new-")))
            names.append(name);
    return names;
}

} // namespace Hub::Test
