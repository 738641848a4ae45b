#!/usr/bin/env bash
# The walk at scale: 20 loopback servers with four shares each (scripts/loadlan.sh), all of them
# searched by one `brindlecove-cli search --pattern "*" \\127.0.3.1 ... \\127.0.3.20`, beside
# four `smbclient -c 'recurse; ls'` walkers in parallel over the same 80 shares, interleaved
# (ours, theirs, ours, theirs, ...). The plain tool is timed twice: the walkers alone over the
# share names they are given, and as a user must run it, the 20 servers' share lists first
# (smbclient -L, in parallel; a server that has been idle starts its RPC services for them, as
# it does for our share lists). Prints entries/s, wall and CPU time, the most connections to
# port 445 at once (all, and to one server; sampled every 0.5 s with ss), the most helper
# processes and peak memory. Ours runs three times per round: with the default helpers (their
# number follows the idle CPU), with four, the walkers' parallelism, and given the 80 share paths
# as the walkers are (no share lists to ask for).
#   bench/load.sh [ENTRIES] [RUNS]     (root; default 500000 entries, 3 runs each)
# Build first (scripts/build.sh). BC_BENCH_TABLE: where the table row goes (bench/run.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
entries=${1:-500000}
runs=${2:-3}
bin=${BC_BENCH_BIN:-$PWD/build/bin}
lan=${BC_BENCH_LOADLAN:-$PWD/build/bench-loadlan}
work=$(mktemp -d)
cleanup() { bash scripts/loadlan.sh down "$lan" >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT
bash scripts/loadlan.sh up "$lan" "$entries" >/dev/null
total=$(cat "$lan/count.txt")
hosts=()
uncs=()
: > "$work/shares"
for i in $(seq 1 20); do
    hosts+=("\\\\127.0.3.$i")
    for s in s1 s2 s3 s4; do
        echo "//127.0.3.$i/$s" >> "$work/shares"
        uncs+=("\\\\127.0.3.$i\\$s")
    done
done
# The servers start their services on demand: one share list each first.
for i in $(seq 1 20); do smbclient -N -L "//127.0.3.$i" -t 60 >/dev/null 2>&1 & done
wait

# Samples until told to stop: the most established connections to 127.0.3.x:445 in all and
# to one server, and the most brindlecove-smb processes.
sample() {
    local all=0 one=0 helpers=0 out t s h
    trap 'echo "$all $one $helpers" > "$1"; exit 0' TERM
    while :; do
        out=$(ss -Htn state established '( dport = :445 )' | awk '{print $4}' |
              grep '^127\.0\.3\.' | cut -d: -f1 | sort | uniq -c | sort -rn || true)
        t=$(echo "$out" | awk '{s += $1} END {print s + 0}')
        s=$(echo "$out" | awk 'NR == 1 {print $1 + 0}')
        h=$(pgrep -c -x brindlecove-smb || true)
        [ "$t" -gt "$all" ] && all=$t
        [ "${s:-0}" -gt "$one" ] && one=$s
        [ "${h:-0}" -gt "$helpers" ] && helpers=$h
        sleep 0.5
    done
}

# The same search with four helpers, the walkers' parallelism (by default their number follows
# the idle CPU).
mkdir -p "$work/four/.config/Halvorn"
printf '[SmbHelpers]\nnMaxHelpers=4\n' > "$work/four/.config/Halvorn/Brindlecove.conf"

# One search with the settings under HOME $1, timed into $2, of the 20 servers or of the paths
# after $3; it must find all.
search_all() {
    local home=$1 out=$2 what=$3
    shift 3
    [ $# -gt 0 ] || set -- "${hosts[@]}"
    /usr/bin/time -f "%e %U %S %M" -o "$out" env HOME="$home" \
        "$bin/brindlecove-cli" search --pattern "*" "$@" > "$work/found" 2>/dev/null || true
    local found
    found=$(wc -l < "$work/found")
    [ "$found" = "$total" ] || { echo "load bench: $what found $found of $total" >&2; exit 1; }
}

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

for r in $(seq 1 "$runs"); do
    sample "$work/sample.$r" & sp=$!
    search_all "$work" "$work/ours.$r" "run $r"
    kill -TERM $sp; wait $sp 2>/dev/null || true
    search_all "$work/four" "$work/four.$r" "run $r (4 helpers)"
    search_all "$work" "$work/uncs.$r" "run $r (share paths)" "${uncs[@]}"
    /usr/bin/time -f "%e %U %S" -o "$work/smb.$r" sh -c \
        "xargs -P 4 -I{} smbclient -N {} -c 'recurse; ls' < '$work/shares' > /dev/null 2>&1"
    # As a user runs it: the share lists, then the walkers.
    /usr/bin/time -f "%e %U %S" -o "$work/smbl.$r" sh -c \
        "for i in \$(seq 1 20); do smbclient -N -L //127.0.3.\$i -t 60 >/dev/null 2>&1 & done; wait;
         xargs -P 4 -I{} smbclient -N {} -c 'recurse; ls' < '$work/shares' > /dev/null 2>&1"
    read -r w u s m < "$work/ours.$r"
    read -r sw su ss < "$work/smb.$r"
    read -r lw lu ls < "$work/smbl.$r"
    read -r fw fu fs _ < "$work/four.$r"
    read -r pw pu ps _ < "$work/uncs.$r"
    read -r all one helpers < "$work/sample.$r"
    echo "run $r: ours $w s (cpu $u+$s s, peak $((m / 1024)) MiB, $helpers helpers, $all connections, $one to one server); ours with 4 helpers $fw s (cpu $fu+$fs s); ours given the share paths $pw s (cpu $pu+$ps s); 4 smbclient $sw s (cpu $su+$ss s); share lists and 4 smbclient $lw s (cpu $lu+$ls s)"
done
ours=$(for r in $(seq 1 "$runs"); do cut -d' ' -f1 "$work/ours.$r"; done | median)
four=$(for r in $(seq 1 "$runs"); do cut -d' ' -f1 "$work/four.$r"; done | median)
paths=$(for r in $(seq 1 "$runs"); do cut -d' ' -f1 "$work/uncs.$r"; done | median)
smb=$(for r in $(seq 1 "$runs"); do cut -d' ' -f1 "$work/smb.$r"; done | median)
smbl=$(for r in $(seq 1 "$runs"); do cut -d' ' -f1 "$work/smbl.$r"; done | median)
all=$(for r in $(seq 1 "$runs"); do cut -d' ' -f1 "$work/sample.$r"; done | sort -n | tail -1)
one=$(for r in $(seq 1 "$runs"); do cut -d' ' -f2 "$work/sample.$r"; done | sort -n | tail -1)
helpers=$(for r in $(seq 1 "$runs"); do cut -d' ' -f3 "$work/sample.$r"; done | sort -n | tail -1)
mem=$(for r in $(seq 1 "$runs"); do cut -d' ' -f4 "$work/ours.$r"; done | sort -n | tail -1)
line=$(awk -v n="$total" -v o="$ours" -v s="$smb" -v l="$smbl" -v a="$all" -v p="$one" -v h="$helpers" -v m="$mem" -v f="$four" -v u="$paths" 'BEGIN {
    printf "| search of 20 servers x 4 shares, %d entries (median of runs) | %.0f entries/s, %d helpers, at most %d connections (%d to one server), peak %d MiB; with 4 helpers %.0f entries/s; given the 80 share paths %.0f entries/s | 4 parallel `smbclient -c '"'"'recurse; ls'"'"'`: %.0f entries/s; with the 20 share lists first: %.0f entries/s | %.2fx; %.2fx; with 4 helpers %.2fx; given the share paths %.2fx |\n",
           n, n / o, h, a, p, m / 1024, n / f, n / u, n / s, n / l, s / o, l / o, s / f, s / u }')
echo "$line"
[ -n "${BC_BENCH_TABLE:-}" ] && echo "$line" >> "$BC_BENCH_TABLE"
exit 0
