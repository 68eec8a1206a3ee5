// Installer packages come from the network: expanding one, reading its
// information and signature and unpacking its payload must refuse any
// malformed or hostile bytes with a PackageError, and never write outside
// the folders they were given.
#include "Installer/Packages/PackageArchive.h"

#include "FuzzSupport.h"

#include <QDir>
#include <QFileInfo>

namespace PackageArchive = Hub::PackageArchive;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const Hub::Fuzz::Scratch scratch;
    static const Hub::TrustAnchors anchors = Hub::TrustAnchors::fromPem({});
    scratch.write("package", Hub::Fuzz::bytesOf(data, size));
    QStringList expected{QStringLiteral("package")};
    try {
        PackageArchive::expand(scratch.path("package"), scratch.path("expanded"));
        expected.append(QStringLiteral("expanded"));
        (void)PackageArchive::readInfo(scratch.path("expanded"));
        (void)PackageArchive::assess(scratch.path("expanded"), anchors);
        const QString payload = scratch.path("expanded") + QStringLiteral("/") + PackageArchive::kPayload;
        if (QFileInfo(payload).isFile()) {
            QDir().mkdir(scratch.path("payload"));
            expected.append(QStringLiteral("payload"));
            (void)PackageArchive::extract(payload, scratch.path("payload"));
        }
        (void)PackageArchive::manifest(scratch.path("expanded"));
    } catch (const Hub::PackageError&) {
    }
    expected.sort();
    if (scratch.topLevel() != expected)
        Hub::Fuzz::finding("a member landed outside its folder");
    scratch.clear();
    return 0;
}
