#!/usr/bin/env bash
# Several far servers: four loopback servers × 4 shares (scripts/loadlan.sh with 4 hosts), each
# reached through a bench/delayproxy.py of its own that holds every packet DELAY_MS each way.
# There the helpers wait for round trips, so how many work at once decides the speed; this is
# why the number of helpers grows while the cores idle. Interleaved runs, medians:
#   - `brindlecove-cli search --pattern "*" \\far1 … \\far4` with the default helpers (they
#     follow the idle CPU), with 4 fixed (the walkers' parallelism) and with 16 fixed;
#   - four `smbclient -c 'recurse; ls'` walkers in parallel over the 16 shares.
#   bench/farload.sh [DELAY_MS] [RUNS] [ENTRIES]   (root; default 1 ms, 3 runs, 32,000 entries)
# Build first (scripts/build.sh). BC_BENCH_TABLE: where the table row goes (bench/run.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
delay=${1:-1}
runs=${2:-3}
entries=${3:-32000}
bin=${BC_BENCH_BIN:-$PWD/build/bin}
lan=${BC_BENCH_FARLOADLAN:-$PWD/build/bench-farloadlan}
hosts=(127.0.4.11 127.0.4.12 127.0.4.13 127.0.4.14)
answers() { (exec 3<>"/dev/tcp/$1/445") 2>/dev/null; }
for h in "${hosts[@]}"; do
    if answers "$h"; then
        echo "farload bench: $h:445 is already served by something this script did not start" >&2
        exit 1
    fi
done
work=$(mktemp -d)
proxies=()
cleanup() {
    for p in "${proxies[@]}"; do kill "$p" 2>/dev/null || true; done
    bash scripts/loadlan.sh down "$lan" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
BC_LOADLAN_HOSTS=4 bash scripts/loadlan.sh up "$lan" "$entries" >/dev/null
for i in 0 1 2 3; do
    python3 bench/delayproxy.py "${hosts[$i]}" "127.0.3.$((i + 1))" "$delay" &
    proxies+=($!)
done
for h in "${hosts[@]}"; do
    for _ in $(seq 1 50); do answers "$h" && break; sleep 0.1; done
    answers "$h" || { echo "farload bench: the delaying proxy at $h does not answer" >&2; exit 1; }
done
total=$(cat "$lan/count.txt")
servers=()
: > "$work/shares"
for h in "${hosts[@]}"; do
    servers+=("\\\\$h")
    for s in 1 2 3 4; do echo "//$h/s$s" >> "$work/shares"; done
done
# The same settings file layout as the program's, one home per fixed helper count.
for n in ${BC_FARLOAD_COUNTS:-4 16}; do
    mkdir -p "$work/h$n/.config/Halvorn"
    printf '[SmbHelpers]\nnMinHelpers=%d\nnMaxHelpers=%d\n' "$n" "$n" > "$work/h$n/.config/Halvorn/Brindlecove.conf"
done
mkdir -p "$work/default"

ms() { echo $((($(date +%s%N) - $1) / 1000000)); }
median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
ours() { # home -> milliseconds; every entry must be found
    rm -rf "$work/$1/.local" "$work/$1/.cache"
    local t
    t=$(date +%s%N)
    HOME="$work/$1" "$bin/brindlecove-cli" search --pattern "*" "${servers[@]}" > "$work/listed" 2>/dev/null || true
    local took
    took=$(ms "$t")
    [ "$(wc -l < "$work/listed")" = "$total" ] ||
        { echo "farload bench: $1 listed $(wc -l < "$work/listed") of $total" >&2; exit 1; }
    echo "$took"
}
for r in $(seq 1 "$runs"); do
    d=$(ours default); f=$(ours h4); s=$(ours h16)
    t=$(date +%s%N)
    xargs -P 4 -I{} smbclient -N {} -c 'recurse; ls' < "$work/shares" > /dev/null 2>&1
    w=$(ms "$t")
    echo "run $r: ours $d ms (default helpers), $f ms (4 helpers), $s ms (16 helpers); 4 smbclient walkers $w ms"
    echo "$d" >> "$work/default.ms"; echo "$f" >> "$work/h4.ms"; echo "$s" >> "$work/h16.ms"
    echo "$w" >> "$work/walkers.ms"
done
d=$(median < "$work/default.ms"); f=$(median < "$work/h4.ms"); s=$(median < "$work/h16.ms")
w=$(median < "$work/walkers.ms")
row=$(awk -v dl="$delay" -v n="$total" -v d="$d" -v f="$f" -v s="$s" -v w="$w" -v c="$(nproc)" 'BEGIN {
    printf "| search of 4 far servers x 4 shares, %d entries, %s ms each way (median of runs) | %.0f entries/s with the default helpers (%d cores); with 4 helpers %.0f; with 16 %.0f | 4 parallel `smbclient -c '"'"'recurse; ls'"'"'`: %.0f entries/s | %.2fx; with 4 helpers %.2fx; with 16 %.2fx |\n",
        n, dl, n * 1000 / d, c, n * 1000 / f, n * 1000 / s, n * 1000 / w, w / d, w / f, w / s }')
echo "$row"
[ -n "${BC_BENCH_TABLE:-}" ] && echo "$row" >> "$BC_BENCH_TABLE"
exit 0
