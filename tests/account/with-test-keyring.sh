#!/bin/sh
# Runs a command against a throw-away gnome-keyring in a private D-Bus
# session, with a temporary home, so the user's own keyring is never touched.
# Works headless and as root: nothing needs a display.
set -eu

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT INT TERM
mkdir -m 700 "$root/run"

export HOME="$root"
export XDG_DATA_HOME="$root/data"
export XDG_CONFIG_HOME="$root/config"
export XDG_CACHE_HOME="$root/cache"
export XDG_RUNTIME_DIR="$root/run"
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS GNOME_KEYRING_CONTROL SSH_AUTH_SOCK

# The daemon ignores an empty password: it then creates no login keyring and
# no "default" alias, and storing would need a prompt. Any password will do
# for a keyring that lives only as long as this run.
status=0
dbus-run-session -- sh -c '
    printf "throwaway" | gnome-keyring-daemon --unlock --components=secrets --daemonize >/dev/null || exit 1
    exec "$@"
' sh "$@" || status=$?
exit "$status"
