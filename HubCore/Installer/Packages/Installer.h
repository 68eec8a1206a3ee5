#pragma once

#include "Base/Config.h"
#include "Base/Process.h"
#include "Installer/Packages/PackageScript.h"
#include "Installer/Signing/CodeSignature.h"
#include "Platform/Http.h"
#include "Platform/ToolPaths.h"

#include <QDateTime>
#include <QDir>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

// Installs installer packages: the hub's own updates, and catalog products
// that ship as a package rather than as plug-in bundles. The app model runs
//   download -> packageFrom -> verify -> install [-> verifyInstalledHub]
// and calls cleanDownloads at start-up. Every operation blocks the calling
// thread and throws HubError with the sentence for the user; collaborators
// (home folder, HTTP session, tools, anchors, the privileged runner) are
// arguments whose defaults are the production ones.
namespace Hub::Installer {

// Runs the package script as the administrator: (script, arguments).
using Execute = std::function<Shell::Result(const QString& script, const QStringList& arguments)>;

// Downloads `url` into the downloads folder of `home` and returns the file,
// whose SHA-256 equals `sha256` (trimmed, any letter case). A release
// without a checksum, or an address that is not https (plain http only to
// this machine), is refused before any request is sent. With `size` the
// download stops as soon as more bytes arrive. A failed or mismatching
// download leaves no file behind. Cancellation comes through the session's
// stop token and throws HubError::cancelled().
QString download(const QUrl& url, const std::optional<QString>& sha256, const QString& name,
                 const std::function<void(double)>& progress, const std::optional<qint64>& size = std::nullopt,
                 const Http::Session& session = {}, const QString& home = Config::homeFolder());

// The download's file name: the safe form of `name` (or "download"), "-",
// 8 characters of a new UUID, ".", the safe form of the address's path
// extension (or "pkg"). The safe form keeps ASCII letters, digits, ".",
// "_" and "-".
QString downloadName(const QString& name, const QUrl& url);

// Where the disk-image step attaches an image: the staging folder in the
// support folder of `home`, this user's alone (0700), never the shared
// temporary folder, where a step killed before it detached would leave the
// image's contents for every user to read. Each attach gets an
// "image-<UUID>" mount point there.
QString imageWorkFolder(const QString& home = Config::homeFolder());

// Removes every mount point (and its attach record) that a disk-image step
// left in imageWorkFolder(home), write-protected as an attached image is.
// For the start of the program, before any job can be attaching. Never
// throws.
void cleanImages(const QString& home = Config::homeFolder());

// The file itself unless it is a disk image (".dmg", any case); for an
// image, the first top-level ".pkg" file of the attached image, copied
// beside the download with the extension "pkg". The image is always
// detached and its mount point, made in `workFolder` (made private first),
// removed. An image that does not fit there, or a package copy that does
// not fit beside the file, throws a FileError for want of room.
QString packageFrom(const QString& file, const ToolPaths& tools = ToolPaths::installed(),
                    const QString& workFolder = imageWorkFolder());

// The platform's assessment of a package; throws unless it is a notarized
// installer signed by the maker's team. Made before any password prompt.
// `anchors` names the anchor file the tool trusts instead of its own
// (PackageScript::Tools::anchors); empty: its own.
void verify(const QString& package, const ToolPaths& tools = ToolPaths::installed(), const QString& anchors = {});

// Whether the assessment tool's output says: accepted, notarized, and an
// installer certificate of `teamID`.
bool isTrusted(const QString& output);
bool isTrusted(const QString& output, const QString& teamID);

// Runs the package script on the downloaded file with administrator rights
// (through `execute` when given, else the administrator runner), which
// repeats every check on its own copy and installs into `tools.target`.
// Throws HubError::cancelled() when the password prompt was dismissed, and
// "<productName> is version <found>, not <version>. Try again later." when
// the package is not `version` (given without a package identifier), and
// "The disk at <mount point> is full, so <productName> <version> wasn't
// installed and nothing was changed. ..." when a write of the script's or
// the installer's found no room.
void install(const QString& file, const QString& productName, const QString& sha256,
             const std::optional<QString>& packageID, const std::optional<QString>& version,
             const Execute& execute = {}, const PackageScript::Tools& tools = PackageScript::Tools::installed());

// The seven arguments of the package script, in order.
QStringList scriptArguments(const QString& file, const QString& sha256, const std::optional<QString>& packageID,
                            const std::optional<QString>& version);

// The bundle must be this application (Config::bundleID()) in exactly
// `version`, with an intact signature by the maker.
void verifyInstalledHub(const QString& bundle, const QString& version,
                        const TrustAnchors& anchors = TrustAnchors::pinned());

// Removes entries of the downloads folder last modified more than one day
// before `now`; folders go whole, links are removed as links. Never throws.
void cleanDownloads(const QString& home = Config::homeFolder());
void cleanDownloads(const QString& home, const QDateTime& now);

inline constexpr double kAttachTimeout = 120.0;
inline constexpr double kAssessTimeout = 90.0;
inline constexpr double kScriptTimeout = 900.0;
inline constexpr qint64 kDownloadMaxAge = 86400; // seconds

} // namespace Hub::Installer
