#include "Installer/Removal/TrashScript.h"

#include "Base/Config.h"
#include "Base/Process.h"
#include "Installer/Placement/PrivilegedSteps.h"
#include "Installer/Signing/CodeSignature.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace Hub::TrashScript {

namespace {

// After the header. Every move is "mv -T -n": a final symbolic link is moved
// as the link, an item never lands inside a folder that appeared at the
// destination, and nothing is ever replaced. "-n" reports success when it
// skipped the move, so success also means the source is gone.
constexpr char kBody[] = R"hubsh(set -u

fail() {
  printf 'Tarnhub: %s\n' "$1" >&2
  exit 1
}

exists() {
  [ -e "$1" ] || [ -L "$1" ]
}

moved() {
  "$mv" -T -n -- "$1" "$2" && ! exists "$1"
}

# What the user could do alone is done with the user's own rights: a script
# run by someone else drops to the user's ids (no supplementary group) for it.
as_user() {
  if [ "$runner" = "$uid" ]; then
    "$@"
  else
    "$setpriv" --reuid="$uid" --regid="$gid" --clear-groups -- "$@"
  fi
}

# Runs a command inside a folder of the user's Trash, entered once and only
# when it is the user's and, as root, reached through no link: a link the
# user puts at the folder's name or above it, before or after, can't lead a
# root-owned change anywhere else.
in_user_folder() {
  (
    cd -P -- "$1" 2>/dev/null && [ "$("$stat" -c %u .)" = "$uid" ] || exit 1
    [ "$runner" != 0 ] || [ "$(pwd -P)" = "$1" ] || exit 1
    shift
    "$@"
  )
}

# Whether a rename carries things between the folder it runs in and the
# work folder path $1: across mounts mv copies, which an empty folder's
# inode tells apart. A device number alone would miss a bind mount.
renames() {
  "$mkdir" -- ./probe 2>/dev/null || return 1
  probe=$("$stat" -c %d:%i ./probe) || probe=
  moved ./probe "$1" 2>/dev/null && [ -n "$probe" ] && [ "$("$stat" -c %d:%i -- "$1")" = "$probe" ]
  renamed=$?
  "$rmdir" -- ./probe "$1" 2>/dev/null
  return "$renamed"
}

# Whether folder $1 is one only the script's runner may enter; a setgid
# files folder passes its bit on, which opens nothing.
runners_own() {
  case $("$stat" -c %u:%a -- "$1" 2>/dev/null) in
    "$runner:700"|"$runner:2700") return 0 ;;
  esac
  return 1
}

# hand_over <held> <dest>, in the user's files folder: puts the held item
# there as <dest> with single renames only. A move across mounts copies
# the item folder by folder under names the user could swap for links, so
# the item is first copied into a folder made here that only root may
# write, and renamed from inside it to ../<dest>: a folder can't be moved
# to another folder without write access to it, so ".." is the files
# folder checked on entry, whatever its name by then. The held item is
# removed only once the copy is in place.
hand_over() {
  top=$(pwd -P) || return 1
  inside=$("$mktemp" -d -p . .hubtarn.XXXXXX) || return 1
  inside=${inside#./}
  (
    cd -P -- "$inside" 2>/dev/null && runners_own . || exit 1
    [ "$(pwd -P)" = "$top/$inside" ] || exit 1
    if renames "${1%/*}.probe"; then
      moved "$1" "../$2"
      exit
    fi
    if "$cp" -a -- "$1" "./$2" && moved "./$2" "../$2"; then
      "$rm" -rf -- "$1"
      exit 0
    fi
    "$rm" -rf -- "./$2"
    exit 1
  )
  handed=$?
  ! runners_own "$inside" || "$rmdir" -- "$inside" 2>/dev/null
  return "$handed"
}

# In the info folder: claims the first free name of <name>, "<base> 2<ext>",
# ..., one with no item in files/ whose info file the user can create as a
# new file (never through anything at that name). Both are looked at and
# written as the user. Prints the name and a "/".
claim() {
  n=1
  candidate=$name
  while [ "$n" -le 10000 ]; do
    if ! as_user "$stat" -c '' -- "$trash/files/$candidate" >/dev/null 2>&1 \
      && printf '[Trash Info]\nPath=%s\nDeletionDate=%s\n' "$path" "$when" \
        | as_user "$dd" of="./$candidate.trashinfo" conv=excl status=none 2>/dev/null; then
      printf '%s/' "$candidate"
      return 0
    fi
    n=$((n + 1))
    candidate="$base $n$ext"
  done
  return 1
}

# Reads "<uid>:<gid> <inode>" lines sorted by owner and gives each inode in
# the item its owner back, one walk of the item per owner.
give_back() {
  item=$1
  current=
  set --
  while read -r who inode; do
    if [ "$who" != "$current" ]; then
      [ -z "$current" ] || chown_inodes "$item" "$current" "$@"
      current=$who
      set --
    fi
    set -- "$@" -o -inum "$inode"
  done
  [ -z "$current" ] || chown_inodes "$item" "$current" "$@"
}

# chown_inodes <item> <owner> -o -inum <inode> [-o -inum <inode>]...
chown_inodes() {
  at=$1
  to=$2
  shift 3
  "$find" "$at" \( "$@" \) -exec "$chown" -h -- "$to" {} +
}

# The path as a trashinfo file wants it: every byte outside A-Z a-z 0-9
# and "-._~/" percent-encoded in upper-case hexadecimal.
encoded() {
  printf '%s' "$1" | "$od" -A n -v -t x1 | "$tr" -s ' \n' '\n\n' | while read -r byte; do
    case $byte in
      '') ;;
      2[def]|3[0-9]|4[1-9a-f]|5[0-9a]|5f|6[1-9a-f]|7[0-9a]|7e) printf "\\$(printf '%03o' "0x$byte")" ;;
      *) printf '%%%02X' "0x$byte" ;;
    esac
  done
}

# The maker's signature on the private copy, for the identifier the copy's
# own Info.plist names, which is never the hub's own.
signed() {
  [ ! -L "$1" ] && [ -d "$1" ] || return 1
  id=$("$plistbuddy" -c 'Print :CFBundleIdentifier' "$1/Contents/Info.plist" 2>/dev/null) || return 1
  case $id in
    ''|[!A-Za-z0-9]*|*[!A-Za-z0-9.-]*) return 1 ;;
  esac
  [ "$id" != "$hubid" ] || return 1
  "$codesign" --verify --strict --deep "-R=$requirement and identifier \"$id\"" "$1" >/dev/null 2>&1
}

# trash_one <item> <hold>, in a subshell of its own: the item's folder is
# entered once, and the item is taken from it and put back into it from
# there, whatever its path leads to meanwhile. Only a folder of root's or
# of whoever runs the script is acted in: the user's own folders are the
# user's business, never root's.
trash_one() {
  item=$1
  hold=$2
  name=${item##*/}
  case $item in
    */*) folder=${item%/*} ;;
    *) folder=. ;;
  esac
  [ -n "$folder" ] || folder=/
  case $name in
    ''|.|..)
      printf "Tarnhub: couldn't move %s\n" "$item" >&2
      return 1
      ;;
  esac
  cd -P -- "$folder" 2>/dev/null || return 0
  exists "./$name" || return 0
  here=$("$stat" -c %u .) || here=
  # As root, the folder must be the one named, reached through no link.
  if { [ "$here" != 0 ] && [ "$here" != "$runner" ]; } || { [ "$runner" = 0 ] && [ "$(pwd -P)" != "$folder" ]; }; then
    printf "Tarnhub: couldn't move %s\n" "$item" >&2
    return 1
  fi
  "$mkdir" -- "$hold" || return 1
  held=$hold/$name

  if ! moved "./$name" "$held"; then
    if exists "$held"; then
      # A move across file systems that copied but could not finish
      # removing the original: the copy may be the only whole one.
      printf "Tarnhub: couldn't move %s; a copy is kept in %s\n" "$item" "$hold" >&2
    else
      printf "Tarnhub: couldn't move %s\n" "$item" >&2
      "$rmdir" -- "$hold" 2>/dev/null
    fi
    return 1
  fi

  if [ -n "$codesign" ] && ! signed "$held"; then
    if moved "$held" "./$name"; then
      "$rmdir" -- "$hold" 2>/dev/null
      printf "Tarnhub: %s isn't signed by Tarnaudio, so it stays where it was\n" "$name" >&2
    else
      printf "Tarnhub: %s isn't signed by Tarnaudio and couldn't go back to %s; it is kept in %s\n" "$name" "$item" "$hold" >&2
    fi
    return 1
  fi

  # Given to the user only here, inside the private folder, and never when
  # a hard link would carry the change to a file outside the item. Every
  # owner other than the item's own is noted first, so that an item that
  # goes back gets each file's owner back.
  owner=
  others=
  if [ ! -L "$held" ] && [ -z "$("$find" "$held" -type f -links +1 -print -quit 2>/dev/null)" ]; then
    owner=$("$stat" -c '%u:%g' -- "$held") || owner=
    if [ -n "$owner" ]; then
      others=$("$find" "$held" ! \( -uid "${owner%:*}" -gid "${owner#*:}" \) -printf '%U:%G %i\n') || owner=
    fi
    if [ -n "$owner" ]; then
      "$chown" -R -- "$uid:$gid" "$held"
    fi
  fi

  base=$name
  ext=
  case $name in
    *.) ;;
    ?*.*)
      base=${name%.*}
      ext=${name#"$base"}
      ;;
  esac

  path=$(encoded "$item")
  when=$("$date" +%Y-%m-%dT%H:%M:%S)
  dest=$(in_user_folder "$trash/info" claim) || dest=
  dest=${dest%/}

  if [ -n "$dest" ]; then
    if in_user_folder "$trash/files" hand_over "$held" "$dest"; then
      "$rmdir" -- "$hold" 2>/dev/null
      return 0
    fi
    in_user_folder "$trash/info" as_user "$rm" -f -- "./$dest.trashinfo"
  fi

  if [ -n "$owner" ]; then
    "$chown" -R -- "$owner" "$held"
    [ -z "$others" ] || printf '%s\n' "$others" | "$sort" | give_back "$held"
  fi
  if moved "$held" "./$name"; then
    "$rmdir" -- "$hold" 2>/dev/null
    printf "Tarnhub: couldn't move %s to the Trash; it stays where it was\n" "$name" >&2
  else
    printf "Tarnhub: couldn't move %s to the Trash or back to %s; it is kept in %s\n" "$name" "$item" "$hold" >&2
  fi
  return 1
}

[ "$#" -ge 4 ] || fail "bad arguments"
trash=$1
uid=$2
gid=$3
shift 3

case "$uid:$gid" in
  :*|*:|*[!0-9:]*) fail "bad user" ;;
esac

for folder in "$trash" "$trash/files" "$trash/info"; do
  if [ -L "$folder" ] || [ ! -d "$folder" ]; then
    fail "no Trash folder"
  fi
done

work=$("$mktemp" -d "$workbase/hubtarn.XXXXXX") || fail "couldn't make a private folder"
[ -n "$work" ] && [ -d "$work" ] || fail "couldn't make a private folder"
runner=$("$stat" -c %u -- "$work") || fail "couldn't make a private folder"
status=0
i=0

for item in "$@"; do
  i=$((i + 1))
  (trash_one "$item" "$work/$i") || status=1
done

"$rmdir" -- "$work" 2>/dev/null
exit "$status"
)hubsh";

} // namespace

QString header(const Tools& tools)
{
    return Shell::assignments({
        {"mktemp"_L1, &tools.mktemp}, {"mv"_L1, &tools.mv},       {"cp"_L1, &tools.cp},       {"chown"_L1, &tools.chown},
        {"find"_L1, &tools.find},     {"stat"_L1, &tools.stat},   {"mkdir"_L1, &tools.mkdir},
        {"rmdir"_L1, &tools.rmdir},   {"rm"_L1, &tools.rm},       {"od"_L1, &tools.od},
        {"tr"_L1, &tools.tr},         {"date"_L1, &tools.date},   {"dd"_L1, &tools.dd},
        {"sort"_L1, &tools.sort},     {"setpriv"_L1, &tools.setpriv}, {"codesign"_L1, &tools.codesign},
        {"plistbuddy"_L1, &tools.plistBuddy}, {"requirement"_L1, &tools.requirement}, {"hubid"_L1, &tools.hubID},
        {"workbase"_L1, &tools.workBase},
    });
}

Tools Tools::withApplets(const ToolPaths& applets)
{
    Tools tools;
    tools.codesign = applets.codesign;
    tools.plistBuddy = applets.plistBuddy;
    tools.requirement = CodeSignature::requirement(std::nullopt, Config::teamID());
    tools.hubID = Config::bundleID();
    return tools;
}

QStringList Tools::programs() const
{
    QStringList programs{mktemp, mv, cp, chown, find, stat, mkdir, rmdir, rm, od, tr, date, dd, sort, setpriv};
    if (!codesign.isEmpty())
        programs << codesign << plistBuddy;
    return programs;
}

QString text(const Tools& tools)
{
    return PrivilegedSteps::marker(PrivilegedSteps::Step::moveToTrash) + header(tools) + u'\n'
           + QString::fromUtf8(kBody);
}

} // namespace Hub::TrashScript
