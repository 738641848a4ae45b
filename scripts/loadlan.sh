#!/usr/bin/env bash
# A loopback network for the load test: 20 hosts LOAD01..LOAD20 on 127.0.3.1..127.0.3.20, each
# with four shares s1..s4 (smbd only: they are in no browse list, a scan finds them).
#
#   loadlan.sh up DIR [ENTRIES]   ENTRIES in all shares together (default 100000; the full
#                                 load test uses 500000); waits until every host answers
#   loadlan.sh down DIR           stop exactly the daemons started for DIR
#
# The four shares of every host serve the same four folders, so ENTRIES/80 entries per share
# are written to disk once each. DIR/manifest-sN.txt lists share sN's entries (relative paths,
# tab, d or f); DIR/count.txt the total over every host and share.
# BC_LOADLAN_HOSTS: fewer hosts (the first ones; the entries are then shared among them).
# Needs root (port 445) and Debian's samba package. "up" stops what it started when it fails
# or is interrupted.
set -euo pipefail

cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 up DIR [ENTRIES] | down DIR" >&2; exit 2; }
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
nhosts=${BC_LOADLAN_HOSTS:-20}
[[ "$nhosts" =~ ^[0-9]+$ ]] && [ "$nhosts" -ge 1 ] && [ "$nhosts" -le 20 ] ||
    { echo "loadlan: BC_LOADLAN_HOSTS must be 1 to 20" >&2; exit 2; }

. "$(dirname "$0")/lan-daemons.sh"

answers() { (exec 3<>"/dev/tcp/$1/445") 2>/dev/null; }

case $cmd in
up)
    [ "$(id -u)" = 0 ] || { echo "loadlan: needs root (port 445)" >&2; exit 1; }
    entries=${3:-100000}
    stop_all
    for i in $(seq 1 $nhosts); do
        if answers "127.0.3.$i"; then
            echo "loadlan: 127.0.3.$i:445 is already served by a daemon this script did not start" >&2
            exit 1
        fi
    done
    trap 'stop_all' INT TERM
    trap 'rc=$?; [ $rc = 0 ] || stop_all' EXIT
    rm -rf "$dir/shares" "$dir/hosts"
    python3 - "$dir" "$((entries / (nhosts * 4)))" "$nhosts" <<'PY'
import os, sys
root, per_share, nhosts = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
def make(share, paths):
    base = os.path.join(root, "shares", share)
    lines = []
    for rel, is_dir in paths:
        p = os.path.join(base, rel)
        if is_dir:
            os.makedirs(p, exist_ok=True)
        else:
            os.makedirs(os.path.dirname(p), exist_ok=True)
            with open(p, "wb") as f:
                f.write(b"load %d\n" % len(lines))
        lines.append("%s\t%s" % (rel.replace("/", "\\"), "d" if is_dir else "f"))
    assert len(lines) == per_share, (share, len(lines))
    with open(os.path.join(root, "manifest-%s.txt" % share), "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
def take(gen):
    out = []
    for item in gen:
        if len(out) == per_share:
            break
        out.append(item)
    return out
def flat():  # one folder of files
    yield "flat", True
    i = 0
    while True:
        yield "flat/file%06d.dat" % i, False; i += 1
def deep():  # chains eight folders deep, two files on every level
    c = 0
    while True:
        path = "chain%04d" % c
        for level in range(8):
            yield path, True
            for k in range(2):
                yield path + "/f%d.txt" % k, False
            path += "/level%d" % (level + 1)
        c += 1
def tree():  # folders of 25 files under 40 top folders
    d = 0
    while True:
        top = "top%02d" % (d % 40)
        if d < 40:
            yield top, True
        sub = "%s/sub%05d" % (top, d)
        yield sub, True
        for k in range(25):
            yield sub + "/doc%02d.txt" % k, False
        d += 1
def names():  # names in several scripts
    words = ["Grüße", "Отчёт", "資料", "ملف", "Ωmega", "naïve café", "smile\U0001F600"]
    d = 0
    while True:
        folder = "%s %d" % (words[d % len(words)], d)
        yield folder, True
        for k in range(9):
            yield "%s/%s %d.txt" % (folder, words[(d + k) % len(words)], k), False
        d += 1
for name, gen in (("s1", flat()), ("s2", deep()), ("s3", tree()), ("s4", names())):
    make(name, take(gen))
with open(os.path.join(root, "count.txt"), "w") as f:
    f.write("%d\n" % (per_share * 4 * nhosts))
PY
    chmod -R a+rX "$dir/shares"
    p="$dir"; while [ "$p" != / ]; do chmod o+x "$p" 2>/dev/null || true; p=$(dirname "$p"); done
    for i in $(seq 1 $nhosts); do
        h=$(printf 'LOAD%02d' "$i"); hd="$dir/hosts/$h"
        mkdir -p "$hd"/{lock,state,cache,pid,private,ncalrpc,binddns,log}
        {
            echo "[global]"
            echo "  netbios name = $h"
            echo "  workgroup = LOADTEST"
            echo "  interfaces = 127.0.3.$i/8"
            echo "  bind interfaces only = yes"
            echo "  smb ports = 445"
            for k in lock state cache pid; do echo "  $k directory = $hd/$k"; done
            echo "  private dir = $hd/private"
            echo "  ncalrpc dir = $hd/ncalrpc"
            echo "  binddns dir = $hd/binddns"
            echo "  log file = $hd/log/%m.log"
            echo "  max log size = 1000"
            echo "  passdb backend = tdbsam:$hd/private/passdb.tdb"
            echo "  load printers = no"
            echo "  printcap name = /dev/null"
            echo "  disable spoolss = yes"
            echo "  usershare path ="
            echo "  map to guest = Bad User"
            echo "  guest account = nobody"
            echo "  disable netbios = yes"
            echo "  unix extensions = no"
            echo "  store dos attributes = no"
            for s in s1 s2 s3 s4; do
                echo "[$s]"; echo "  path = $dir/shares/$s"; echo "  guest ok = yes"; echo "  read only = yes"
            done
        } > "$hd/smb.conf"
    done
    # The kernel shares the CPU between sessions (autogroups), whatever a process's nice value.
    # A daemon of smbd starts a session of its own, so 20 busy servers on this machine would
    # leave the program under test a twenty-first of the CPU, where on a network they run on
    # machines of their own. All servers share one session here: together they get as much
    # CPU as the session of the program under test.
    setsid -w bash -c 'for conf; do
        smbd -D --no-process-group -s "$conf" </dev/null >/dev/null 2>&1 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&-
    done' loadlan "$dir"/hosts/LOAD*/smb.conf
    for i in $(seq 1 $nhosts); do
        n=0
        until answers "127.0.3.$i"; do
            n=$((n + 1))
            [ $n -lt 200 ] || { echo "loadlan: smbd of 127.0.3.$i does not answer" >&2; exit 1; }
            sleep 0.1
        done
    done
    # The first share list of a host starts the server's RPC services; start them now.
    for i in $(seq 1 $nhosts); do
        timeout 30 smbclient -N -L "//127.0.3.$i" >/dev/null 2>&1 || true
    done
    echo "loadlan: up in $dir ($nhosts hosts, $(cat "$dir/count.txt") entries)"
    ;;
down)
    stop_all
    left=$(our_pids | sort -u | tr '\n' ' ')
    [ -z "$left" ] || { echo "loadlan: daemons still running: $left" >&2; exit 1; }
    echo "loadlan: down"
    ;;
*)
    echo "usage: $0 up DIR [ENTRIES] | down DIR" >&2; exit 2 ;;
esac
