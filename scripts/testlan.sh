#!/usr/bin/env bash
# A small SMB network on loopback for tests, benchmarks and the demo.
#
#   testlan.sh up DIR      start ALPHA 127.0.0.11 and BETA 127.0.0.12 (WORKGROUP) and
#                          GAMMA 127.0.0.13 (LAB); waits until shares answer and the browse
#                          lists have converged (at most 90 s)
#   testlan.sh down DIR    stop exactly the daemons started for DIR
#   testlan.sh status DIR  what runs and what the browse lists say
#   testlan.sh start DIR HOST  starts the smbd of HOST again (tests kill it on purpose)
#
# DELTA 127.0.0.15 serves the fault shares (smbd only, in no browse list): \\DELTA\faults
# (0-byte and sparse 4 GiB files, 255-byte names, paths at the folder length limit, a folder
# the guest may not open, names that are no valid UTF-8), \\DELTA\loop (a folder holding a
# link to its parent, followed by the server), \\DELTA\vanish and \\DELTA\doomed (tests
# delete, rename and remove there while they search). Its contents are not in the manifest.
#
# HERON 127.0.0.16 (workgroup RIDGE, in no browse list; its name is in ALPHA's WINS) lists its
# shares only after a login, as current Windows does for guests: \\HERON\ridge is open to
# bcuser alone and holds heron/notes-NNN.txt (150 files, "heron" in each).
#
# With BC_TESTLAN_BENCH=1, ALPHA also gets \\ALPHA\bench for the benchmarks: 50,000 files in
# 2,000 folders under tree/ and ten files of 32 MiB under content/.
#
# Everything lives under DIR: configuration, state, logs, share contents, the client's
# configuration (DIR/client/.smb/smb.conf, used with HOME=DIR/client) and DIR/manifest.txt.
# Needs root (ports 139 and 445) and Debian's samba and smbclient packages.
set -euo pipefail

cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 up|down|status DIR" >&2; exit 2; }
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
here=$(cd "$(dirname "$0")" && pwd)

hosts="ALPHA BETA GAMMA DELTA HERON"
addr() { case $1 in ALPHA) echo 127.0.0.11 ;; BETA) echo 127.0.0.12 ;; GAMMA) echo 127.0.0.13 ;; DELTA) echo 127.0.0.15 ;; HERON) echo 127.0.0.16 ;; esac; }
group() { case $1 in GAMMA) echo LAB ;; HERON) echo RIDGE ;; *) echo WORKGROUP ;; esac; }
shares() {
    case $1 in
        ALPHA) echo "docs music public admin\$ private${BC_TESTLAN_BENCH:+ bench}" ;;
        BETA) echo "projects public" ;;
        GAMMA) echo "lab scratch" ;;
        DELTA) echo "faults loop vanish doomed" ;;
        HERON) echo "ridge" ;;
    esac
}
TEST_USER=bcuser
TEST_PASSWORD=bcpass123

write_host_conf() {
    local h=$1 a g hd
    a=$(addr "$h"); g=$(group "$h"); hd="$dir/hosts/$h"
    mkdir -p "$hd"/{lock,state,cache,pid,private,ncalrpc,binddns,log}
    {
        echo "[global]"
        echo "  netbios name = $h"
        echo "  workgroup = $g"
        echo "  server string = Brindlecove test host $h"
        echo "  interfaces = $a/8"
        echo "  bind interfaces only = yes"
        echo "  smb ports = 445 139"
        echo "  lock directory = $hd/lock"
        echo "  state directory = $hd/state"
        echo "  cache directory = $hd/cache"
        echo "  pid directory = $hd/pid"
        echo "  private dir = $hd/private"
        echo "  ncalrpc dir = $hd/ncalrpc"
        echo "  binddns dir = $hd/binddns"
        echo "  log file = $hd/log/%m.log"
        echo "  max log size = 1000"
        # every authentication in the log: tests count the logins a wrong password costs
        echo "  log level = 1 auth_audit:3"
        echo "  passdb backend = tdbsam:$hd/private/passdb.tdb"
        echo "  load printers = no"
        echo "  printcap name = /dev/null"
        echo "  printing = bsd"
        echo "  disable spoolss = yes"
        echo "  usershare path ="
        echo "  map to guest = Bad User"
        echo "  guest account = nobody"
        echo "  server min protocol = NT1"
        echo "  dns proxy = no"
        echo "  name resolve order = wins bcast"
        echo "  os level = 65"
        echo "  unix extensions = no"
        echo "  store dos attributes = no"
        case $h in
            ALPHA) echo "  local master = yes"; echo "  preferred master = yes"
                   echo "  domain master = yes"; echo "  wins support = yes" ;;
            GAMMA) echo "  local master = yes"; echo "  preferred master = yes"
                   echo "  domain master = no"; echo "  wins server = 127.0.0.11" ;;
            # Its name goes to WINS; it takes no part in browsing, and lists shares to users alone.
            HERON) echo "  local master = no"; echo "  preferred master = no"; echo "  os level = 0"
                   echo "  domain master = no"; echo "  wins server = 127.0.0.11"
                   echo "  restrict anonymous = 2" ;;
            *)     echo "  local master = no"; echo "  preferred master = no"
                   echo "  domain master = no"; echo "  wins server = 127.0.0.11" ;;
        esac
        for s in $(shares "$h"); do
            echo "[$s]"
            echo "  path = $dir/shares/$h/$s"
            case $s in
                private|ridge) echo "  guest ok = no"; echo "  valid users = $TEST_USER"; echo "  read only = yes" ;;
                # Names with characters Windows forbids (control characters, written there
                # by tests) are served as they are, not as mangled 8.3 names.
                # Clients see an endless folder: a/up/a/up/...
                loop)    echo "  guest ok = yes"; echo "  read only = yes"
                         echo "  follow symlinks = yes"; echo "  wide links = no" ;;
                public)  echo "  guest ok = yes"; echo "  read only = no"; echo "  create mask = 0666"
                         echo "  directory mask = 0777"; echo "  mangled names = no" ;;
                *)       echo "  guest ok = yes"; echo "  read only = yes" ;;
            esac
        done
        if [ "$h" = ALPHA ]; then
            echo "[laser]"
            echo "  path = $dir/spool"
            echo "  printable = yes"
            echo "  guest ok = yes"
        fi
    } > "$hd/smb.conf"
}

write_client_conf() {
    local cd="$dir/client"
    mkdir -p "$cd/.smb" "$cd"/{lock,state,cache,private,ncalrpc}
    cat > "$cd/.smb/smb.conf" <<CONF
[global]
  workgroup = WORKGROUP
  interfaces = 127.0.0.1/8
  bind interfaces only = yes
  name resolve order = wins bcast
  wins server = 127.0.0.11
  dns proxy = no
  client min protocol = NT1
  lock directory = $cd/lock
  state directory = $cd/state
  cache directory = $cd/cache
  private dir = $cd/private
  ncalrpc dir = $cd/ncalrpc
  log level = 0
CONF
}

. "$(dirname "$0")/lan-daemons.sh"

wait_port() { # addr port seconds
    local n=0
    while [ $n -lt $(($3 * 10)) ]; do
        if (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null; then return 0; fi
        sleep 0.1; n=$((n + 1))
    done
    return 1
}

browse_ok() {
    local out
    out=$(HOME="$dir/client" timeout 30 smbtree -s "$dir/client/.smb/smb.conf" -U 'guest%' \
        --option='client max protocol=NT1' 2>/dev/null) || return 1
    echo "$out" | grep -q '^WORKGROUP' && echo "$out" | grep -q '^LAB' &&
        echo "$out" | grep -q '\\\\ALPHA ' && echo "$out" | grep -q '\\\\BETA ' &&
        echo "$out" | grep -q '\\\\GAMMA '
}

# Listening sockets on our addresses (or on every address) that no daemon of DIR holds: some
# other server would answer in place of the test network.
foreign_listeners() {
    local ours line pid a
    ours=" $(our_pids | sort -u | tr '\n' ' ') "
    ss -H -l -n -p -t -u 2>/dev/null | while read -r line; do
        for a in 127.0.0.11 127.0.0.12 127.0.0.13 127.0.0.15 127.0.0.16 0.0.0.0 '\*' '\[::\]'; do
            if echo "$line" | grep -Eq " $a:(445|139|137|138) "; then
                pid=$(echo "$line" | sed -n 's/.*pid=\([0-9]*\).*/\1/p' | head -n1)
                case $ours in *" $pid "*) ;; *) echo "$line" ;; esac
                break
            fi
        done
    done
}

case $cmd in
up)
    [ "$(id -u)" = 0 ] || { echo "testlan: needs root (ports 139 and 445)" >&2; exit 1; }
    stop_all
    foreign=$(foreign_listeners)
    if [ -n "$foreign" ]; then
        echo "testlan: the test network's addresses are already served by daemons this script did" >&2
        echo "not start for $dir; stop them first (another DIR's network: testlan.sh down DIR):" >&2
        echo "$foreign" >&2
        exit 1
    fi
    rm -rf "$dir/shares" "$dir/spool" "$dir/hosts" "$dir/client"
    mkdir -p "$dir/shares" "$dir/spool"
    python3 "$here/testlan_tree.py" "$dir/shares" "$dir/manifest.txt"
    if [ -n "${BC_TESTLAN_BENCH:-}" ]; then
        python3 - "$dir/shares/ALPHA/bench" <<'PY'
import os, sys
root = sys.argv[1]
for d in range(2000):
    p = os.path.join(root, "tree", "d%02d" % (d // 100), "sub%04d" % d)
    os.makedirs(p, exist_ok=True)
    for f in range(25):
        with open(os.path.join(p, "file%02d.txt" % f), "w") as fh:
            fh.write("x")
os.makedirs(os.path.join(root, "content"), exist_ok=True)
block = (b"lorem ipsum dolor sit amet, consectetur adipiscing elit " * 1200)[:65536]
for i in range(10):
    with open(os.path.join(root, "content", "big%d.dat" % i), "wb") as fh:
        for _ in range(512):
            fh.write(block)
PY
    fi
    python3 "$here/testlan_faults.py" "$dir/shares/DELTA"
    mkdir -p "$dir/shares/HERON/ridge/heron"
    for i in $(seq -w 1 150); do echo "heron $i" > "$dir/shares/HERON/ridge/heron/notes-$i.txt"; done
    chmod -R a+rX "$dir/shares"
    chmod 0700 "$dir/shares/DELTA/faults/denied"
    chmod 0777 "$dir/shares/ALPHA/public" "$dir/shares/ALPHA/public/incoming" "$dir/shares/BETA/public"
    chmod 1777 "$dir/spool"
    # Every folder above the shares must be passable for the guest account.
    p="$dir"; while [ "$p" != / ]; do chmod o+x "$p" 2>/dev/null || true; p=$(dirname "$p"); done
    id "$TEST_USER" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$TEST_USER"
    write_client_conf
    for h in $hosts; do
        write_host_conf "$h"
        printf '%s\n%s\n' "$TEST_PASSWORD" "$TEST_PASSWORD" |
            smbpasswd -c "$dir/hosts/$h/smb.conf" -s -a "$TEST_USER" >/dev/null
    done
    for h in $hosts; do
        # No descriptor of ours (a lock file, a pipe of the test runner) goes to the daemons.
        smbd -D -s "$dir/hosts/$h/smb.conf" </dev/null >/dev/null 2>&1 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&-
        [ "$h" = DELTA ] ||
            nmbd -D -s "$dir/hosts/$h/smb.conf" </dev/null >/dev/null 2>&1 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&-
    done
    for h in $hosts; do
        wait_port "$(addr "$h")" 445 20 || { echo "testlan: smbd of $h does not answer" >&2; exit 1; }
    done
    n=0
    until browse_ok; do
        n=$((n + 1))
        [ $n -lt 45 ] || { echo "testlan: browse lists did not converge in 90 s" >&2; exit 1; }
        sleep 2
    done
    echo "testlan: up in $dir (ALPHA 127.0.0.11, BETA 127.0.0.12, GAMMA 127.0.0.13, DELTA 127.0.0.15, HERON 127.0.0.16)"
    ;;
start)
    h=${3:-}
    [ -f "$dir/hosts/$h/smb.conf" ] || { echo "testlan: no host $h in $dir" >&2; exit 2; }
    a=$(addr "$h")
    if ! (exec 3<>"/dev/tcp/$a/445") 2>/dev/null; then
        smbd -D -s "$dir/hosts/$h/smb.conf" </dev/null >/dev/null 2>&1 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&-
        wait_port "$a" 445 20 || { echo "testlan: smbd of $h does not answer" >&2; exit 1; }
    fi
    ;;
down)
    stop_all
    left=$(our_pids | sort -u | tr '\n' ' ')
    if [ -n "$left" ]; then
        echo "testlan: daemons still running: $left" >&2
        exit 1
    fi
    echo "testlan: down"
    ;;
status)
    echo "daemons: $(our_pids | sort -u | tr '\n' ' ')"
    HOME="$dir/client" timeout 30 smbtree -s "$dir/client/.smb/smb.conf" -U 'guest%' \
        --option='client max protocol=NT1' 2>/dev/null || echo "the browse service does not answer"
    ;;
*)
    echo "usage: $0 up|down|status DIR | start DIR HOST" >&2; exit 2 ;;
esac
