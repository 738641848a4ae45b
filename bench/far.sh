#!/usr/bin/env bash
# A far server: one loopback server (scripts/loadlan.sh with one host) reached through
# bench/delayproxy.py, which holds every packet DELAY_MS each way (default 1 ms, a round trip of
# 2 ms: a busy office network or Wi-Fi). There the time goes into round trips, not CPU.
# Interleaved runs, medians:
#   - a walk of share s3 (2,000 entries in 80 folders): `brindlecove-cli search --pattern "*"`
#     beside `smbclient -c 'recurse; ls'`;
#   - a content search of the same share for a text in 11 of its files (a new index each run,
#     so nothing is known before): `brindlecove-cli search --containing` beside what a user
#     does with the plain tools, `smbclient -c 'recurse; mget *'` to a local folder and
#     `grep -r -l -F`.
#   bench/far.sh [DELAY_MS] [RUNS]   (root; default 1 ms, 3 runs)
# Build first (scripts/build.sh). BC_BENCH_TABLE: where the table rows go (bench/run.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
delay=${1:-1}
runs=${2:-3}
bin=${BC_BENCH_BIN:-$PWD/build/bin}
lan=${BC_BENCH_FARLAN:-$PWD/build/bench-farlan}
far=127.0.4.1
answers() { (exec 3<>"/dev/tcp/$1/445") 2>/dev/null; }
if answers "$far"; then
    echo "far bench: $far:445 is already served by something this script did not start" >&2
    exit 1
fi
work=$(mktemp -d)
proxy=
cleanup() {
    [ -z "$proxy" ] || kill "$proxy" 2>/dev/null || true
    bash scripts/loadlan.sh down "$lan" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
BC_LOADLAN_HOSTS=1 bash scripts/loadlan.sh up "$lan" 8000 >/dev/null
python3 bench/delayproxy.py "$far" 127.0.3.1 "$delay" & proxy=$!
for _ in $(seq 1 50); do answers "$far" && break; sleep 0.1; done
answers "$far" || { echo "far bench: the delaying proxy does not answer" >&2; exit 1; }
share="\\\\$far\\s3"
entries=$(grep -c '^' "$lan/manifest-s3.txt")
text="load 42"

ms() { echo $((($(date +%s%N) - $1) / 1000000)); }
median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
: > "$work/walk.ours"; : > "$work/walk.smb"; : > "$work/find.ours"; : > "$work/find.smb"
for r in $(seq 1 "$runs"); do
    rm -rf "$work/home" "$work/dl"; mkdir -p "$work/home" "$work/dl"
    t=$(date +%s%N)
    HOME="$work/home" "$bin/brindlecove-cli" search --pattern "*" "$share" > "$work/listed" 2>/dev/null || true
    walk=$(ms "$t")
    [ "$(wc -l < "$work/listed")" = "$entries" ] ||
        { echo "far bench: run $r listed $(wc -l < "$work/listed") of $entries" >&2; exit 1; }
    t=$(date +%s%N)
    smbclient -N "//$far/s3" -c 'recurse; ls' > /dev/null 2>&1
    swalk=$(ms "$t")
    rm -rf "$work/home"; mkdir -p "$work/home"
    t=$(date +%s%N)
    HOME="$work/home" "$bin/brindlecove-cli" search --pattern "*" --containing "$text" "$share" \
        > "$work/found" 2>/dev/null || true
    find=$(ms "$t")
    t=$(date +%s%N)
    smbclient -N "//$far/s3" -c "prompt; recurse; lcd $work/dl; mget *" > /dev/null 2>&1
    grep -r -l -F "$text" "$work/dl" > "$work/grepped" || true
    sfind=$(ms "$t")
    [ "$(wc -l < "$work/found")" = "$(wc -l < "$work/grepped")" ] ||
        { echo "far bench: run $r found $(wc -l < "$work/found"), grep $(wc -l < "$work/grepped")" >&2; exit 1; }
    echo "run $r: walk ours $walk ms, smbclient $swalk ms; content search ours $find ms, smbclient mget and grep $sfind ms ($(wc -l < "$work/found") finds)"
    echo "$walk" >> "$work/walk.ours"; echo "$swalk" >> "$work/walk.smb"
    echo "$find" >> "$work/find.ours"; echo "$sfind" >> "$work/find.smb"
done
w=$(median < "$work/walk.ours"); sw=$(median < "$work/walk.smb")
f=$(median < "$work/find.ours"); sf=$(median < "$work/find.smb")
rows=$(awk -v d="$delay" -v n="$entries" -v w="$w" -v sw="$sw" -v f="$f" -v sf="$sf" 'BEGIN {
    printf "| walk of a far share (%d entries in 80 folders, %s ms each way; median of runs) | %.2f s | `smbclient -c '"'"'recurse; ls'"'"'`: %.2f s | %.2fx |\n", n, d, w / 1000, sw / 1000, sw / w
    printf "| content search of that share (a new index each run) | %.2f s | `smbclient mget` to a local folder, then `grep -r -l -F`: %.2f s | %.2fx |\n", f / 1000, sf / 1000, sf / f }')
echo "$rows"
[ -n "${BC_BENCH_TABLE:-}" ] && echo "$rows" >> "$BC_BENCH_TABLE"
exit 0
