#include "Installer/Removal/TrashScript.h"

#include "Base/Process.h"
#include "Installer/Placement/PrivilegedSteps.h"

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

# Runs a command inside a folder of the user's Trash, entered once and only
# when it is the user's: a link the user puts at the folder's name, before
# or after, can't lead a root-owned change anywhere else.
in_user_folder() {
  (
    cd -P -- "$1" 2>/dev/null && [ "$("$stat" -c %u .)" = "$uid" ] || exit 1
    shift
    "$@"
  )
}

# In the info folder: claims the first free name of <name>, "<base> 2<ext>",
# ..., one with no item in files/ whose info file it can create as a new
# file (never through anything at that name). Prints the name and a "/".
claim() {
  n=1
  candidate=$name
  while [ "$n" -le 10000 ]; do
    if ! exists "$trash/files/$candidate" \
      && printf '[Trash Info]\nPath=%s\nDeletionDate=%s\n' "$path" "$when" \
        | "$dd" of="./$candidate.trashinfo" conv=excl status=none 2>/dev/null; then
      "$chown" -h -- "$uid:$gid" "./$candidate.trashinfo" 2>/dev/null
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
status=0
i=0

for item in "$@"; do
  i=$((i + 1))
  exists "$item" || continue
  name=${item##*/}
  case $name in
    ''|.|..)
      printf "Tarnhub: couldn't move %s\n" "$item" >&2
      status=1
      continue
      ;;
  esac
  hold=$work/$i
  if ! "$mkdir" -- "$hold"; then
    status=1
    continue
  fi
  held=$hold/$name

  if ! moved "$item" "$held"; then
    status=1
    if exists "$held"; then
      # A move across file systems that copied but could not finish
      # removing the original: the copy may be the only whole one.
      printf "Tarnhub: couldn't move %s; a copy is kept in %s\n" "$item" "$hold" >&2
    else
      printf "Tarnhub: couldn't move %s\n" "$item" >&2
      "$rmdir" -- "$hold" 2>/dev/null
    fi
    continue
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
    if in_user_folder "$trash/files" moved "$held" "./$dest"; then
      "$rmdir" -- "$hold" 2>/dev/null
      continue
    fi
    in_user_folder "$trash/info" "$rm" -f -- "./$dest.trashinfo"
  fi

  status=1
  if [ -n "$owner" ]; then
    "$chown" -R -- "$owner" "$held"
    [ -z "$others" ] || printf '%s\n' "$others" | "$sort" | give_back "$held"
  fi
  if moved "$held" "$item"; then
    "$rmdir" -- "$hold" 2>/dev/null
    printf "Tarnhub: couldn't move %s to the Trash; it stays where it was\n" "$name" >&2
  else
    printf "Tarnhub: couldn't move %s to the Trash or back to %s; it is kept in %s\n" "$name" "$item" "$hold" >&2
  fi
done

"$rmdir" -- "$work" 2>/dev/null
exit "$status"
)hubsh";

} // namespace

QString header(const Tools& tools)
{
    return Shell::assignments({
        {"mktemp"_L1, &tools.mktemp}, {"mv"_L1, &tools.mv},       {"chown"_L1, &tools.chown},
        {"find"_L1, &tools.find},     {"stat"_L1, &tools.stat},   {"mkdir"_L1, &tools.mkdir},
        {"rmdir"_L1, &tools.rmdir},   {"rm"_L1, &tools.rm},       {"od"_L1, &tools.od},
        {"tr"_L1, &tools.tr},         {"date"_L1, &tools.date},   {"dd"_L1, &tools.dd},
        {"sort"_L1, &tools.sort},     {"workbase"_L1, &tools.workBase},
    });
}

QStringList Tools::programs() const { return {mktemp, mv, chown, find, stat, mkdir, rmdir, rm, od, tr, date, dd, sort}; }

QString text(const Tools& tools)
{
    return PrivilegedSteps::marker(PrivilegedSteps::Step::moveToTrash) + header(tools) + u'\n'
           + QString::fromUtf8(kBody);
}

} // namespace Hub::TrashScript
