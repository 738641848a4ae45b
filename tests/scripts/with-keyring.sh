#!/usr/bin/env bash
# Runs a command in a D-Bus session of its own with an unlocked secret service
# (gnome-keyring) whose keyrings live in a fresh folder, then ends both.
#   with-keyring.sh COMMAND [ARGS...]
set -euo pipefail
if [ "${1:-}" != --inner ]; then
    data=$(mktemp -d /tmp/bc-keyring.XXXXXX)
    trap 'rm -rf "$data"' EXIT
    rc=0
    BC_KEYRING_DATA=$data dbus-run-session -- bash "$0" --inner "$@" || rc=$?
    exit $rc
fi
shift
export XDG_DATA_HOME=$BC_KEYRING_DATA/data XDG_RUNTIME_DIR=$BC_KEYRING_DATA/run
mkdir -p "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# The daemon forks away; its pid is the one that owns the secret service's name.
printf 'bc-test-keyring' | gnome-keyring-daemon --unlock --components=secrets --daemonize >/dev/null
pid=$(dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.secrets 2>/dev/null |
    awk '/uint32/ {print $2}') || true
stop() { [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null || true; }
trap stop EXIT
trap 'stop; exit 143' TERM INT
rc=0
BC_TEST_KEYRING=1 "$@" || rc=$?
exit $rc
