#pragma once

#include "Installer/Signing/CodeSignature.h"

#include <QByteArray>
#include <QLatin1StringView>
#include <QString>

#include <optional>
#include <stdexcept>

namespace Hub {

// A package or disk image that can't be used: malformed, hostile (a path
// outside the destination, an escaping link, a special file) or unreadable.
// `detail` is one line for a tool's output.
class PackageError : public std::runtime_error {
public:
    explicit PackageError(const QString& detail, bool diskFull = false)
        : std::runtime_error(detail.toStdString())
        , m_detail(detail)
        , m_diskFull(diskFull)
    {
    }
    const QString& detail() const { return m_detail; }
    // Whether a write failed for want of room (ENOSPC, EDQUOT).
    bool isDiskFull() const { return m_diskFull; }

private:
    QString m_detail;
    bool m_diskFull = false;
};

// The flat installer package and disk-image formats of the platform's
// stand-in tools (hdiutil, spctl, pkgutil, installer).
//
// A package is a xar archive of exactly these regular files, each at most
// once and nothing else:
//   "PackageInfo"  XML: <pkg-info identifier=".." version=".." install-location="/..">
//   "Payload"      tar.gz of what is installed, relative to install-location
//   "Signature"    optional: a DER CMS signature, detached, over manifest()
//   "Ticket"       optional: the notarisation ticket, ticketText(manifest())
// The manifest is not stored: the verifier rebuilds it from the digests of
// the members it read, so nothing can be added, dropped or changed without
// breaking the signature, and there is no second copy to disagree with.
// The signer must chain to a trusted anchor, its issuer must carry the
// developer marker and the leaf the installer marker (below).
//
// A disk image is a zip or tar archive (optionally gzip-compressed) of what
// the mounted volume shows.
namespace PackageArchive {

inline constexpr QLatin1StringView kPackageInfo{"PackageInfo"};
inline constexpr QLatin1StringView kPayload{"Payload"};
inline constexpr QLatin1StringView kSignature{"Signature"};
inline constexpr QLatin1StringView kTicket{"Ticket"};

// Certificate marker extensions: the issuing authority of developer
// certificates, and the leaf of an installer (as opposed to application)
// signing certificate; the latter sits beside the application marker
// 1.2.840.113635.100.6.1.13 that code requirements name.
inline constexpr char kDeveloperMarker[] = "1.2.840.113635.100.6.2.6";
inline constexpr char kInstallerMarker[] = "1.2.840.113635.100.6.1.14";

// Writes the members of a package into `folder`, which must not exist yet
// and is made with mode 0700. Throws PackageError; a failed expansion
// removes what it made.
void expand(const QString& package, const QString& folder);

// Writes a package from the member files present in `folder` (the reverse
// of expand). Throws PackageError.
void flatten(const QString& folder, const QString& package);

// The text a package's signature covers, from the members of an expanded
// package. Throws PackageError when PackageInfo or Payload is missing.
QByteArray manifest(const QString& expanded);

// The notarisation ticket's text for a manifest.
QByteArray ticketText(const QByteArray& manifest);

struct Info {
    QString identifier;
    QString version;
    QString installLocation; // "/" when the package names none
};

// The root element's attributes of PackageInfo; none when the file is
// missing, not well-formed XML or its root is not <pkg-info>.
std::optional<Info> readInfo(const QString& expanded);

// What the signature of an expanded package says.
struct Assessment {
    enum class Signature {
        none,        // no Signature member
        broken,      // unreadable, or the members changed after signing
        untrusted,   // intact, but the chain does not end in a trusted anchor
        notInstaller, // anchored, but not an installer certificate of a developer
        developerID, // anchored installer certificate with the markers
    };
    Signature signature = Signature::none;
    QString origin;  // the leaf's common name, "Developer ID Installer: <Name> (<TEAM>)"
    QString team;    // the leaf's organisational unit
    bool notarized = false; // a ticket for exactly this manifest
    QString detail;  // why the signature is not a developer's, for tools' output
};
Assessment assess(const QString& expanded, const TrustAnchors& anchors);

// Extracts a zip or tar archive (gzip allowed) into `folder`, which must be
// an existing real folder. Every entry is checked before anything is
// written: an absolute path, "..", a special file, a hard link or a symbolic
// link that leaves the folder, or a path through one of the archive's own
// links refuses the whole archive. Entries are written without set-id bits
// and without their recorded owners. Returns the relative paths made,
// parents before children. Throws PackageError; a failed extraction may
// leave part of the archive in `folder`, which the caller made and removes.
QStringList extract(const QString& archive, const QString& folder);

} // namespace PackageArchive
} // namespace Hub
