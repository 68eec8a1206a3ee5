#include "Installer/Placement/AllUsersScript.h"

#include "Base/Process.h"
#include "Installer/Placement/PrivilegedSteps.h"

using namespace Qt::StringLiterals;

namespace Hub::AllUsersScript {

namespace {

// Runs as root over paths the user's session chose, so every step states
// what it does on failure (no `set -e`), and every move acts on the name
// itself: `mv -T` renames a symbolic link rather than what it points to and
// never drops a bundle inside a folder that lies at its destination.
//
// The undo reads from the disk where each bundle is: a copy that has left
// the work folder was placed, an "old" in the work folder was moved aside.
// Notes written after each move could be missing when writing them failed,
// and an undo trusting them would leave a previous bundle in a folder that
// the exit trap deletes.
constexpr char16_t kBody[] = uR"hubscript(set -u
umask 022

fail() {
  printf 'Tarnhub: %s\n' "$*" >&2
  exit 1
}

present() {
  [ -e "$1" ] || [ -L "$1" ]
}

if [ "$#" -lt 4 ] || [ $(($# % 4)) -ne 0 ]; then
  fail "bad arguments"
fi

# Every source and destination is an absolute path ending in a name, so no
# step below can act on a relative path or on a whole folder.
check_arguments() {
  while [ "$#" -gt 0 ]; do
    case "$1" in /*) ;; *) fail "bad arguments" ;; esac
    case "$2" in /*) ;; *) fail "bad arguments" ;; esac
    case "${2##*/}" in "" | . | ..) fail "bad arguments" ;; esac
    shift 4
  done
}
check_arguments "$@"

work=$("$MKTEMP" -d "$WORK_ROOT/hubtarn.XXXXXX") || fail "couldn't make a private folder"
[ -n "$work" ] && [ -d "$work" ] && [ ! -L "$work" ] || fail "couldn't make a private folder"

keep_work=0
finish() {
  if [ "$keep_work" -eq 0 ]; then
    "$RM" -rf "$work"
  else
    printf 'Tarnhub: originals preserved at %s\n' "$work" >&2
  fi
}
trap finish EXIT

# A stop request (the caller's time-out, a closed session, Ctrl+C) is a
# failure like any other. Before the first move there is only the work
# folder to remove; once moving, the move under way ends, the swap stops and
# the undo runs, and no second request cuts the undo short.
moving=0
interrupted=0
on_stop() {
  trap '' HUP INT TERM
  [ "$moving" -eq 1 ] || fail "stopped before anything was placed"
  interrupted=1
}
trap on_stop HUP INT TERM

check_all() {
  i=0
  while [ "$#" -gt 0 ]; do
    i=$((i + 1))
    source=$1
    dest=$2
    requirement=$3
    wanted=$4
    shift 4
    name=${dest##*/}
    copy="$work/$i/$name"
    "$MKDIR" "$work/$i" || fail "couldn't make a private folder"
    # The tools' own words name files of the bundle, whose names may hold
    # anything, a line that reads as one of this script's among them: only
    # the script speaks.
    "$DITTO" --noacl "$source" "$copy" >/dev/null 2>&1 || fail "couldn't copy $name"
    if [ -L "$copy" ] || [ ! -d "$copy" ]; then
      fail "$name isn't a bundle"
    fi
    "$CHOWN" -R 0:0 "$copy" >/dev/null 2>&1 || fail "couldn't lock $name"
    "$CHMOD" -R go-w "$copy" >/dev/null 2>&1 || fail "couldn't lock $name"
    { "$CHMOD" -R -N "$copy" && "$CHMOD" -R ug-s "$copy"; } >/dev/null 2>&1 || fail "couldn't lock $name"
    if [ -n "$requirement" ]; then
      "$CODESIGN" --verify --strict --deep "-R=$requirement" "$copy" >/dev/null 2>&1 \
        || fail "$name isn't signed by Tarnaudio"
    else
      "$CODESIGN" --verify --strict --deep "$copy" >/dev/null 2>&1 || fail "$name has a broken signature"
    fi
    if [ -n "$wanted" ]; then
      got=$("$PLISTBUDDY" -c "Print :CFBundleShortVersionString" "$copy/Contents/Info.plist" 2>/dev/null) || got=""
      [ "$got" = "$wanted" ] || fail "$name is version $got, not $wanted"
    fi
  done
}

swap_all() {
  i=0
  while [ "$#" -gt 0 ]; do
    [ "$interrupted" -eq 0 ] || return 1
    i=$((i + 1))
    dest=$2
    shift 4
    name=${dest##*/}
    parent=${dest%/*}
    [ -n "$parent" ] || parent=/
    "$MKDIR" -p "$parent" || return 1
    if present "$dest"; then
      "$MV" -T "$dest" "$work/$i/old" || return 1
    fi
    # Something put back at the destination meanwhile is left alone.
    present "$dest" && return 1
    [ "$interrupted" -eq 0 ] || return 1
    "$MV" -T "$work/$i/$name" "$dest" || return 1
  done
  [ "$interrupted" -eq 0 ]
}

undo_all() {
  undo_failed=0
  i=0
  while [ "$#" -gt 0 ]; do
    i=$((i + 1))
    dest=$2
    shift 4
    name=${dest##*/}
    if ! present "$work/$i/$name"; then
      if ! "$MV" -T "$dest" "$work/$i/failed" 2>/dev/null; then
        undo_failed=1
        continue
      fi
    fi
    if present "$work/$i/old"; then
      "$MV" -T "$work/$i/old" "$dest" || undo_failed=1
    fi
  done
  return "$undo_failed"
}

check_all "$@"

# From the first move on, any way out other than the two below keeps the
# work folder: it may hold a previous bundle.
moving=1
keep_work=1
if swap_all "$@"; then
  keep_work=0
  exit 0
fi
if undo_all "$@"; then
  keep_work=0
  fail "couldn't put the new copy in place; the previous one was kept"
fi
fail "couldn't finish recovery; originals preserved at $work"
)hubscript";

} // namespace

Tools Tools::installed() { return withApplets(ToolPaths::installed()); }

Tools Tools::withApplets(const ToolPaths& applets)
{
    Tools tools;
    tools.ditto = applets.ditto;
    tools.codesign = applets.codesign;
    tools.plistBuddy = applets.plistBuddy;
    tools.chmod = applets.chmod;
    return tools;
}

QString header(const Tools& tools)
{
    return Shell::assignments({
        {"DITTO"_L1, &tools.ditto},     {"CODESIGN"_L1, &tools.codesign}, {"PLISTBUDDY"_L1, &tools.plistBuddy},
        {"CHMOD"_L1, &tools.chmod},     {"CHOWN"_L1, &tools.chown},       {"MKTEMP"_L1, &tools.mktemp},
        {"MKDIR"_L1, &tools.mkdir},     {"MV"_L1, &tools.mv},             {"RM"_L1, &tools.rm},
        {"WORK_ROOT"_L1, &tools.workRoot},
    });
}

QStringList Tools::programs() const { return {ditto, codesign, plistBuddy, chmod, chown, mktemp, mkdir, mv, rm}; }

QString text(const Tools& tools)
{
    return PrivilegedSteps::marker(PrivilegedSteps::Step::placeForAllUsers) + header(tools) + QStringView(kBody);
}

} // namespace Hub::AllUsersScript
