#!/usr/bin/env bash
# A network of today for tests: SMB1 and NetBIOS off, the hosts announced by WS-Discovery only.
# It lives in a network namespace of its own (bc-wsdlan), whose addresses exist nowhere else:
#
#   ECHO     10.213.0.11  workgroup MODERN  \\ECHO\files
#   FOXTROT  10.213.0.12  domain CORP       \\FOXTROT\files
#
#   wsdlan.sh up DIR          start both (smbd and wsdd each); refuses when the namespace exists
#   wsdlan.sh down DIR        stop exactly what up started, remove the namespace
#   wsdlan.sh exec DIR CMD..  run CMD inside the namespace (the test program, the CLI)
#
# Inside the namespace the loopback interface carries the hosts' addresses with multicast on,
# so the WS-Discovery probe of a program started there reaches every host and nothing else.
# Needs root, Debian's samba and wsdd packages.
set -euo pipefail

cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 up|down|exec DIR [CMD...]" >&2; exit 2; }
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
ns=bc-wsdlan
hosts="ECHO FOXTROT"
addr() { case $1 in ECHO) echo 10.213.0.11 ;; FOXTROT) echo 10.213.0.12 ;; esac; }
uuid() { case $1 in ECHO) echo 6f1c2a5e-0001-4c3b-9d6e-2b7a0e5d1111 ;; FOXTROT) echo 6f1c2a5e-0002-4c3b-9d6e-2b7a0e5d2222 ;; esac; }
# wsdd's arguments for the host's workgroup or domain
membership() { case $1 in ECHO) echo "-w MODERN" ;; FOXTROT) echo "-d CORP" ;; esac; }
inns() { ip netns exec "$ns" "$@"; }

. "$(dirname "$0")/lan-daemons.sh"

# smbd and the RPC daemons it starts (their pid files, checked against /proc), then our wsdd.
stop_wsdlan() {
    stop_all
    if [ -f "$dir/pids" ]; then
        local pid pids="" n=0
        while read -r pid; do
            if [ -n "$pid" ] && grep -aqs wsdd "/proc/$pid/cmdline"; then
                pids="$pids $pid"
            fi
        done < "$dir/pids"
        # wsdd says goodbye on the network before it ends: give it a moment.
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
  workgroup = $( [ "$h" = ECHO ] && echo MODERN || echo CORP )
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
[files]
  path = $dir/shares/$h/files
  guest ok = yes
  read only = yes
CONF
}

case $cmd in
up)
    if ip netns list | grep -qw "$ns"; then
        echo "wsdlan: namespace $ns exists already (another test network?); not starting" >&2
        exit 1
    fi
    command -v wsdd >/dev/null || { echo "wsdlan: wsdd is not installed" >&2; exit 1; }
    # Whatever fails from here on leaves nothing behind.
    trap 'stop_wsdlan' EXIT
    trap 'exit 143' TERM INT
    ip netns add "$ns"
    inns ip link set lo up
    inns ip link set lo multicast on
    inns ip route add 224.0.0.0/4 dev lo
    : > "$dir/pids"
    for h in $hosts; do
        inns ip addr add "$(addr "$h")/32" dev lo
        write_conf "$h"
        # smbd signals its whole process group when it stops: a session of its own.
        inns setsid smbd -D -s "$dir/hosts/$h/smb.conf" </dev/null >/dev/null 2>&1
        # setsid may fork: the daemon writes its own pid before it becomes wsdd.
        inns setsid bash -c 'echo $$ >> "$1"; shift; exec "$@"' wsdd "$dir/pids" \
            wsdd -4 -i "$(addr "$h")" -n "$h" $(membership "$h") -U "$(uuid "$h")" \
            </dev/null >"$dir/wsdd-$h.log" 2>&1 &
    done
    for h in $hosts; do
        n=0
        until [ "$(wc -l < "$dir/pids")" -ge 2 ] && inns bash -c "exec 3<>/dev/tcp/$(addr "$h")/445" 2>/dev/null &&
              inns bash -c "exec 3<>/dev/tcp/$(addr "$h")/5357" 2>/dev/null; do
            n=$((n + 1))
            [ $n -lt 100 ] || { echo "wsdlan: $h does not answer" >&2; exit 1; }
            sleep 0.1
        done
    done
    trap - EXIT TERM INT
    echo "wsdlan: up in namespace $ns (ECHO 10.213.0.11 MODERN, FOXTROT 10.213.0.12 CORP)"
    ;;
down)
    stop_wsdlan
    echo "wsdlan: down"
    ;;
exec)
    shift 2
    exec ip netns exec "$ns" "$@"
    ;;
*)
    echo "usage: $0 up|down|exec DIR [CMD...]" >&2
    exit 2
    ;;
esac
