#include "Installer/Packages/PackageScript.h"

#include "Base/Process.h"
#include "Installer/Placement/PrivilegedSteps.h"

using namespace Qt::StringLiterals;

namespace Hub::PackageScript {

namespace {

// The fixed part. Every tool is called through its header variable, never
// through the search path: the script runs as root.
constexpr char kBody[] = R"hubscript(set -eu
umask 077

fail() {
    printf 'Tarnhub: %s\n' "$1" >&2
    exit 1
}

# A write that found no room ends with the status the applets use for it,
# which the hub tells from every refusal.
full() {
    printf 'Tarnhub: the disk is full at %s\n' "$1" >&2
    exit 28
}

# Copies as cp does; a copy that found no room is a full disk. Its message
# is read in the C locale, where the system's wording is fixed.
copy() {
    copied=$(LC_ALL=C "$CP" -P "$1" "$2" 2>&1) && return 0
    case "$copied" in
    *"No space left on device"* | *"Disk quota exceeded"*) full "$work" ;;
    esac
    fail "$3"
}

[ "$#" -eq 7 ] || fail "bad package arguments"
source=$1
expected=$2
kind=$3
package_id=$4
version=$5
team=$6
unsigned=$7
# The kind becomes part of a file name and the team part of a pattern.
case "$kind" in dmg|pkg) ;; *) fail "bad package arguments" ;; esac
case "$team" in ''|*[!A-Za-z0-9]*) fail "bad package arguments" ;; esac

work=$("$MKTEMP" -d "$TMP_ROOT/hubtarn-pkg.XXXXXX") || fail "couldn't create private staging"
"$CHMOD" 700 "$work" || fail "couldn't create private staging"
mounted=0
cleanup() {
    if [ "$mounted" = 1 ]; then
        "$HDIUTIL" detach -force "$work/mount" >/dev/null 2>&1 || true
    fi
    "$RM" -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

[ -f "$source" ] && [ ! -L "$source" ] || fail "download is not a regular file"
staged="$work/download.$kind"
copy "$source" "$staged" "couldn't stage the download"
[ -f "$staged" ] && [ ! -L "$staged" ] || fail "staged download is not a regular file"
"$CHOWN" "$ROOT_OWNER" "$staged" || fail "couldn't stage the download"
"$CHMOD" 600 "$staged" || fail "couldn't stage the download"
[ -f "$staged" ] && [ ! -L "$staged" ] || fail "staged download is not a regular file"

actual=$("$SHA256" <"$staged") || actual=
[ "${actual%% *}" = "$expected" ] || fail "the download changed before installation (checksum mismatch)"

package="$work/package.pkg"
if [ "$kind" = dmg ]; then
    "$MKDIR" "$work/mount" || fail "couldn't open the verified disk image"
    status=0
    "$HDIUTIL" attach -nobrowse -readonly -noautoopen -mountpoint "$work/mount" "$staged" >/dev/null 2>&1 || status=$?
    [ "$status" -ne 28 ] || full "$work"
    [ "$status" -eq 0 ] || fail "couldn't open the verified disk image"
    mounted=1
    count=0
    for entry in "$work/mount"/*.pkg; do
        if [ -f "$entry" ] && [ ! -L "$entry" ]; then
            count=$((count + 1))
            copy "$entry" "$package" "couldn't copy the package"
        fi
    done
    [ "$count" -eq 1 ] || fail "the disk image must contain exactly one flat package"
else
    "$MV" -T "$staged" "$package" || fail "couldn't stage the download"
fi
[ -f "$package" ] && [ ! -L "$package" ] || fail "staged package is not a regular file"
"$CHOWN" "$ROOT_OWNER" "$package" || fail "couldn't stage the download"
"$CHMOD" 600 "$package" || fail "couldn't stage the download"
[ -f "$package" ] && [ ! -L "$package" ] || fail "staged package is not a regular file"

if [ "$unsigned" != 1 ]; then
    assessment=$("$SPCTL" ${SPCTL_ANCHORS:+"--anchors=$SPCTL_ANCHORS"} -a -vv -t install "$package" 2>&1) || fail "package assessment failed"
    first=$(printf '%s\n' "$assessment" | "$HEAD" -n 1)
    case "$first" in *": accepted") ;; *) fail "package was not accepted" ;; esac
    printf '%s\n' "$assessment" | "$GREP" -qx 'source=Notarized Developer ID' || fail "package is not notarized"
    printf '%s\n' "$assessment" | "$GREP" -Eq "^origin=Developer ID Installer: .+ \\($team\\)\$" \
        || fail "package is not signed by Tarnaudio"
fi

# A product's package names no identifier the hub knows, but its version
# must still be the release's: a feed that names a newer version than the
# package holds would otherwise be installed, called done and offered again,
# and an older package signed by the maker would put back what it fixed.
# Every package is looked into, whatever its arguments say.
[ -n "$version" ] || fail "bad package arguments"
status=0
"$PKGUTIL" --expand "$package" "$work/expanded" >/dev/null 2>&1 || status=$?
[ "$status" -ne 28 ] || full "$work"
[ "$status" -eq 0 ] || fail "couldn't inspect package identity"
[ -f "$work/expanded/PackageInfo" ] || fail "package has no component identity"
actual_id=$("$XMLLINT" --nonet --xpath 'string(/pkg-info/@identifier)' "$work/expanded/PackageInfo" 2>/dev/null) \
    || fail "invalid package identity"
actual_version=$("$XMLLINT" --nonet --xpath 'string(/pkg-info/@version)' "$work/expanded/PackageInfo" 2>/dev/null) \
    || fail "invalid package version"
if [ -n "$package_id" ]; then
    [ "$actual_id" = "$package_id" ] && [ "$actual_version" = "$version" ] \
        || fail "package product or version does not match the release"
else
    [ "$actual_version" = "$version" ] || fail "package is version $actual_version, not $version"
fi

# The installer's words name files of the package, whose names may hold
# anything, a line that reads as one of this script's among them: only the
# folder it found full is passed on, in the script's own line.
status=0
installed=$("$INSTALLER" -pkg "$package" -target "$TARGET" 2>&1) || status=$?
if [ "$status" -eq 28 ]; then
    at=$(printf '%s\n' "$installed" | "$GREP" -m 1 -o ': the disk is full at .*') || at=": the disk is full at $TARGET"
    printf 'Tarnhub%s\n' "$at" >&2
    exit 28
fi
[ "$status" -eq 0 ] || fail "the installer couldn't install the package"
)hubscript";

// The script's own "exit 28" and its tests of the applets' status.
static_assert(kToolExitDiskFull == 28);

} // namespace

Tools Tools::installed() { return with(ToolPaths::installed()); }

Tools Tools::with(const ToolPaths& paths)
{
    Tools tools;
    tools.hdiutil = paths.hdiutil;
    tools.spctl = paths.spctl;
    tools.pkgutil = paths.pkgutil;
    tools.installer = paths.installer;
    return tools;
}


QString header(const Tools& tools)
{
    return Shell::assignments({
        {"HDIUTIL"_L1, &tools.hdiutil}, {"SPCTL"_L1, &tools.spctl},     {"PKGUTIL"_L1, &tools.pkgutil},
        {"INSTALLER"_L1, &tools.installer}, {"MKTEMP"_L1, &tools.mktemp}, {"SHA256"_L1, &tools.sha256},
        {"XMLLINT"_L1, &tools.xmllint}, {"CHOWN"_L1, &tools.chown},     {"CHMOD"_L1, &tools.chmod},
        {"CP"_L1, &tools.cp},           {"MV"_L1, &tools.mv},           {"RM"_L1, &tools.rm},
        {"MKDIR"_L1, &tools.mkdir},     {"GREP"_L1, &tools.grep},       {"HEAD"_L1, &tools.head},
        {"TMP_ROOT"_L1, &tools.temporaryFolder}, {"ROOT_OWNER"_L1, &tools.owner}, {"TARGET"_L1, &tools.target},
        {"SPCTL_ANCHORS"_L1, &tools.anchors},
    });
}

QStringList Tools::programs() const
{
    return {hdiutil, spctl, pkgutil, installer, mktemp, sha256, xmllint, chown, chmod, cp, mv, rm, mkdir, grep, head};
}

QString script(const Tools& tools)
{
    return PrivilegedSteps::marker(PrivilegedSteps::Step::installPackage) + header(tools) + QString::fromUtf8(kBody);
}

} // namespace Hub::PackageScript
