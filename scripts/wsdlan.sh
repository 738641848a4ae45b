#!/usr/bin/env bash
# A network of today for tests: SMB1 and NetBIOS off, the hosts announced by WS-Discovery and
# by mDNS (DNS-SD) only. It lives in a network namespace of its own (bc-wsdlan), whose addresses
# exist nowhere else:
#
#   ECHO     10.213.0.11  workgroup MODERN  \\ECHO\files     WS-Discovery and mDNS
#   FOXTROT  10.213.0.12  domain CORP       \\FOXTROT\files  WS-Discovery and mDNS
#   GOLF     10.213.0.13  workgroup MODERN  \\GOLF\files     mDNS only ("Golf file server")
#   HOTEL    10.213.0.14  workgroup MODERN  \\HOTEL\files    WS-Discovery only; lists its shares
#                                           only after a login (bcuser, as on the loopback network)
#   10.213.0.66 and .67 are there for a hostile WS-Discovery responder that a test starts.
#
#   wsdlan.sh up DIR          start them (smbd each, wsdd for the first two, one avahi-daemon
#                             with a D-Bus system bus of its own); refuses when the namespace
#                             exists
#   wsdlan.sh down DIR        stop exactly what up started, remove the namespace
#   wsdlan.sh exec DIR CMD..  run CMD inside the namespace (the test program, the CLI), with
#                             DBUS_SYSTEM_BUS_ADDRESS on the network's own bus
#
# Inside the namespace the loopback interface carries the hosts' addresses with multicast on,
# so the WS-Discovery probe and the mDNS queries of a program started there reach every host and
# nothing else. avahi-daemon runs in a mount namespace whose /etc/avahi and /run are folders of
# DIR, so neither the machine's configuration nor its system bus is touched.
# Needs root, Debian's samba, wsdd, avahi-daemon and dbus-daemon packages.
set -euo pipefail

cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 up|down|exec DIR [CMD...]" >&2; exit 2; }
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
ns=bc-wsdlan
hosts="ECHO FOXTROT GOLF HOTEL"
wsd_hosts="ECHO FOXTROT HOTEL"
mdns_hosts="ECHO FOXTROT GOLF"
addr() { case $1 in ECHO) echo 10.213.0.11 ;; FOXTROT) echo 10.213.0.12 ;; GOLF) echo 10.213.0.13 ;; HOTEL) echo 10.213.0.14 ;; esac; }
TEST_USER=bcuser
TEST_PASSWORD=bcpass123
workgroup() { case $1 in FOXTROT) echo CORP ;; *) echo MODERN ;; esac; }
bus="$dir/run/dbus/system_bus_socket"
uuid() { case $1 in ECHO) echo 6f1c2a5e-0001-4c3b-9d6e-2b7a0e5d1111 ;; FOXTROT) echo 6f1c2a5e-0002-4c3b-9d6e-2b7a0e5d2222 ;; HOTEL) echo 6f1c2a5e-0004-4c3b-9d6e-2b7a0e5d4444 ;; esac; }
# wsdd's arguments for the host's workgroup or domain
membership() { case $1 in ECHO|HOTEL) echo "-w MODERN" ;; FOXTROT) echo "-d CORP" ;; esac; }
inns() { ip netns exec "$ns" "$@"; }

. "$(dirname "$0")/lan-daemons.sh"

# smbd and the RPC daemons it starts (their pid files, checked against /proc), then our wsdd,
# avahi-daemon and dbus-daemon (their pids as we started them, checked against /proc).
stop_wsdlan() {
    stop_all
    if [ -f "$dir/pids" ]; then
        local pid pids="" n=0
        while read -r pid; do
            if [ -n "$pid" ] && grep -aqsE "wsdd|avahi-daemon|dbus-daemon" "/proc/$pid/cmdline"; then
                pids="$pids $pid"
            fi
        done < "$dir/pids"
        # wsdd and avahi-daemon say goodbye on the network before they end: give them a moment.
        [ -z "$pids" ] || kill -TERM $pids 2>/dev/null || true
        while [ -n "$pids" ] && [ $n -lt 50 ]; do
            pids=$(for p in $pids; do if [ -d "/proc/$p" ]; then echo "$p"; fi; done)
            sleep 0.1; n=$((n + 1))
        done
        [ -z "$pids" ] || kill -KILL $pids 2>/dev/null || true
        rm -f "$dir/pids"
    fi
    ip netns del "$ns" 2>/dev/null || true
}

write_conf() {
    local h=$1 hd="$dir/hosts/$1"
    mkdir -p "$hd"/{lock,state,cache,pid,private,ncalrpc,binddns,log} "$dir/shares/$h/files/docs"
    echo "a file on $h" > "$dir/shares/$h/files/readme.txt"
    echo "minutes" > "$dir/shares/$h/files/docs/minutes-$h.txt"
    chmod -R a+rX "$dir/shares"
    cat > "$hd/smb.conf" <<CONF
[global]
  netbios name = $h
  workgroup = $(workgroup "$h")
  interfaces = $(addr "$h")/32
  bind interfaces only = yes
  smb ports = 445
  disable netbios = yes
  server min protocol = SMB2_02
  lock directory = $hd/lock
  state directory = $hd/state
  cache directory = $hd/cache
  pid directory = $hd/pid
  private dir = $hd/private
  ncalrpc dir = $hd/ncalrpc
  binddns dir = $hd/binddns
  log file = $hd/log/%m.log
  passdb backend = tdbsam:$hd/private/passdb.tdb
  load printers = no
  printcap name = /dev/null
  disable spoolss = yes
  usershare path =
  map to guest = Bad User
  guest account = nobody
$(if [ "$h" = HOTEL ]; then echo "  restrict anonymous = 2"; fi)
[files]
  path = $dir/shares/$h/files
$(if [ "$h" = HOTEL ]; then echo "  guest ok = no"; echo "  valid users = $TEST_USER"; else echo "  guest ok = yes"; fi)
  read only = yes
CONF
    printf '%s\n%s\n' "$TEST_PASSWORD" "$TEST_PASSWORD" |
        smbpasswd -c "$hd/smb.conf" -s -a "$TEST_USER" >/dev/null
}

# The mDNS side: a D-Bus system bus of the network's own, and avahi-daemon announcing every host's
# SMB service by static service and host files (one daemon speaks for all three hosts).
write_mdns() {
    local h name
    mkdir -p "$dir/avahi/services" "$dir/run/dbus"
    cat > "$dir/avahi/avahi-daemon.conf" <<CONF
[server]
host-name=bc-wsdlan-mdns
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-addresses=no
publish-hinfo=no
publish-workstation=no
publish-domain=no
CONF
    : > "$dir/avahi/hosts"
    for h in $mdns_hosts; do
        name=$h
        [ "$h" = GOLF ] && name="Golf file server"
        echo "$(addr "$h") $(echo "$h" | tr A-Z a-z).local" >> "$dir/avahi/hosts"
        cat > "$dir/avahi/services/$h.service" <<CONF
<?xml version="1.0" standalone='no'?>
<!DOCTYPE service-group SYSTEM "avahi-service.dtd">
<service-group>
  <name>$name</name>
  <service><type>_smb._tcp</type><port>445</port><host-name>$(echo "$h" | tr A-Z a-z).local</host-name></service>
</service-group>
CONF
    done
    cat > "$dir/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
}

case $cmd in
up)
    if ip netns list | grep -qw "$ns"; then
        echo "wsdlan: namespace $ns exists already (another test network?); not starting" >&2
        exit 1
    fi
    for tool in wsdd avahi-daemon dbus-daemon unshare; do
        command -v $tool >/dev/null || { echo "wsdlan: $tool is not installed" >&2; exit 1; }
    done
    # Whatever fails from here on leaves nothing behind.
    trap 'stop_wsdlan' EXIT
    trap 'exit 143' TERM INT
    ip netns add "$ns"
    inns ip link set lo up
    inns ip link set lo multicast on
    inns ip route add 224.0.0.0/4 dev lo
    : > "$dir/pids"
    id "$TEST_USER" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$TEST_USER"
    # Two addresses for a hostile responder a test starts (tests/scripts/rogue_wsd.py).
    inns ip addr add 10.213.0.66/32 dev lo
    inns ip addr add 10.213.0.67/32 dev lo
    for h in $hosts; do
        inns ip addr add "$(addr "$h")/32" dev lo
        write_conf "$h"
        # smbd signals its whole process group when it stops: a session of its own.
        inns setsid smbd -D -s "$dir/hosts/$h/smb.conf" </dev/null >/dev/null 2>&1
    done
    for h in $wsd_hosts; do
        # setsid may fork: the daemon writes its own pid before it becomes wsdd.
        inns setsid bash -c 'echo $$ >> "$1"; shift; exec "$@"' wsdd "$dir/pids" \
            wsdd -4 -i "$(addr "$h")" -n "$h" $(membership "$h") -U "$(uuid "$h")" \
            </dev/null >"$dir/wsdd-$h.log" 2>&1 &
    done
    write_mdns
    inns setsid bash -c 'echo $$ >> "$1"; shift; exec "$@"' dbus "$dir/pids" \
        dbus-daemon --config-file="$dir/bus.conf" --nofork --nopidfile \
        </dev/null >"$dir/dbus.log" 2>&1 &
    n=0
    until [ -S "$bus" ]; do
        n=$((n + 1))
        [ $n -lt 100 ] || { echo "wsdlan: the D-Bus system bus does not start" >&2; exit 1; }
        sleep 0.1
    done
    # /etc/avahi and /run are the network's own folders, in a mount namespace of the daemon's.
    inns setsid unshare -m --propagation private bash -c \
        'echo $$ >> "$1/pids"; mount --bind "$1/avahi" /etc/avahi && mount --bind "$1/run" /run &&
         exec avahi-daemon --no-drop-root --no-chroot --no-rlimits -f /etc/avahi/avahi-daemon.conf' \
        avahi "$dir" </dev/null >"$dir/avahi.log" 2>&1 &
    n=0
    until [ "$(grep -c "successfully established" "$dir/avahi.log" 2>/dev/null)" -ge 6 ]; do
        n=$((n + 1))
        [ $n -lt 100 ] || { echo "wsdlan: avahi-daemon does not announce the hosts" >&2; cat "$dir/avahi.log" >&2; exit 1; }
        sleep 0.1
    done
    for h in $hosts; do
        n=0
        until [ "$(wc -l < "$dir/pids")" -ge 5 ] && inns bash -c "exec 3<>/dev/tcp/$(addr "$h")/445" 2>/dev/null &&
              { [ "$h" = GOLF ] || inns bash -c "exec 3<>/dev/tcp/$(addr "$h")/5357" 2>/dev/null; }; do
            n=$((n + 1))
            [ $n -lt 100 ] || { echo "wsdlan: $h does not answer" >&2; exit 1; }
            sleep 0.1
        done
    done
    trap - EXIT TERM INT
    echo "wsdlan: up in namespace $ns (ECHO 10.213.0.11 MODERN, FOXTROT 10.213.0.12 CORP, GOLF 10.213.0.13 MODERN, HOTEL 10.213.0.14 MODERN)"
    ;;
down)
    stop_wsdlan
    echo "wsdlan: down"
    ;;
exec)
    shift 2
    DBUS_SYSTEM_BUS_ADDRESS="unix:path=$bus" exec ip netns exec "$ns" "$@"
    ;;
*)
    echo "usage: $0 up|down|exec DIR [CMD...]" >&2
    exit 2
    ;;
esac
