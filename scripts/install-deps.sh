#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Brindlecove needs.
# Safe to run again; does nothing when all are there. Needs root (or sudo).
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libsmbclient-dev qtkeychain-qt6-dev libavahi-client-dev
  # the index of walked shares
  libsqlite3-dev libpq-dev
  # tests and benchmarks of the index shared in PostgreSQL (a cluster of their own, on loopback)
  postgresql postgresql-contrib
  # the keychain library reaches the desktop's secret store through libsecret (loaded at run time)
  libsecret-1-0
  # run: the offscreen/xcb platform plugins come with libqt6gui6; fonts, or every label
  # renders as boxes; xdg-utils so files and links open in the desktop's applications
  fonts-dejavu-core fonts-wqy-microhei xdg-utils shared-mime-info
  # tests: the loopback SMB network, its client tools, Python for its file tree
  samba smbclient python3 procps iproute2
  # tests of remembered passwords: a secret service in a D-Bus session of the test's own
  gnome-keyring dbus-daemon dbus-bin
  # the test network of today: WS-Discovery (as current Windows announces itself) and mDNS
  wsdd avahi-daemon
  # screenshots under a virtual X server (xvfb-run needs xauth)
  xvfb xauth x11-utils imagemagick xdotool
  # the frame's place on a desktop with a panel: a window manager, and the panel's strut set
  # from Python
  openbox wmctrl python3-xlib
  # sanitizer builds; the fuzz targets (clang with libFuzzer)
  libclang-rt-14-dev clang
  # the Debian package and its test in a fresh Debian root
  dpkg-dev appstream debootstrap
)

SUDO=
[ "$(id -u)" = 0 ] || SUDO=sudo

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  $SUDO apt-get update -qq
  # Samba's, wsdd's and avahi's packages would start system daemons that answer or announce on
  # the real network; they are not wanted (see below). Where the machine has no policy of its
  # own, one for the time of the installation keeps them from starting at all.
  policy=
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
    $SUDO chmod 755 /usr/sbin/policy-rc.d
    policy=1
    trap '[ -z "$policy" ] || $SUDO rm -f /usr/sbin/policy-rc.d' EXIT
  fi
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
  if [ -n "$policy" ]; then
    $SUDO rm -f /usr/sbin/policy-rc.d
    policy=
  fi
fi

# The samba package may start the system's smbd/nmbd, which hold ports 139/445 on every
# address and would answer in place of the test network; wsdd would announce this machine on
# the real network. Stop them through the service manager.
for svc in smbd nmbd samba-ad-dc; do
  if [ -f "/run/samba/$svc.pid" ] || pgrep -x "$svc" -u root >/dev/null 2>&1; then
    if command -v systemctl >/dev/null && [ -d /run/systemd/system ]; then
      $SUDO systemctl stop "$svc" 2>/dev/null || true
      $SUDO systemctl disable "$svc" 2>/dev/null || true
    elif command -v service >/dev/null; then
      $SUDO service "$svc" stop 2>/dev/null || true
    fi
  fi
done
# wsdd (a Python program) shows as python3: ask the service manager itself.
if command -v systemctl >/dev/null && [ -d /run/systemd/system ] &&
   systemctl is-active --quiet wsdd 2>/dev/null; then
  $SUDO systemctl stop wsdd 2>/dev/null || true
  $SUDO systemctl disable wsdd 2>/dev/null || true
fi
# avahi-daemon is only wanted for the test network, which starts its own. One this script has
# just installed would announce this machine on the real network: stop it again. One that was
# there before belongs to the desktop (printers, shares) and is left alone.
if [[ " ${missing[*]:-} " == *" avahi-daemon "* ]]; then
  if command -v systemctl >/dev/null && [ -d /run/systemd/system ]; then
    $SUDO systemctl stop avahi-daemon.socket avahi-daemon.service 2>/dev/null || true
    $SUDO systemctl disable avahi-daemon.socket avahi-daemon.service 2>/dev/null || true
  elif command -v service >/dev/null && [ -f /run/avahi-daemon/pid ]; then
    $SUDO service avahi-daemon stop 2>/dev/null || true
  fi
fi
echo "install-deps: done"
