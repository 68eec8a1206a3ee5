#include "Applets.h"

#include "Installer/Packages/PackageArchive.h"
#include "Platform/ToolPaths.h"

#include <QString>

#include <cstdio>

using namespace Qt::StringLiterals;

// pkgutil --expand PACKAGE FOLDER
//
// Writes the package's members (PackageInfo, Payload, and Signature and
// Ticket when present) into FOLDER, which must not exist yet. A package
// with any other member, a member twice, or a member that is not a file is
// refused and FOLDER is not left behind. Exit status 0, kToolExitDiskFull
// when FOLDER's disk had no room, else 1.
int pkgutilMain(int argc, char** argv)
{
    if (argc != 4 || QString::fromLocal8Bit(argv[1]) != "--expand"_L1) {
        std::fputs("usage: pkgutil --expand <package> <folder>\n", stderr);
        return 1;
    }
    const QString package = QString::fromLocal8Bit(argv[2]);
    const QString folder = QString::fromLocal8Bit(argv[3]);
    try {
        Hub::PackageArchive::expand(package, folder);
    } catch (const Hub::PackageError& error) {
        std::fprintf(stderr, "Could not open package for expansion: %s\n%s\n", argv[2],
                     error.detail().toLocal8Bit().constData());
        return error.isDiskFull() ? Hub::kToolExitDiskFull : 1;
    }
    return 0;
}
