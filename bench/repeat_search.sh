#!/usr/bin/env bash
# Runs the same CLI search again and again and counts how each run ended: the same finds as the
# first run, other finds, a crash (killed by a signal) or a hang (no end within the limit).
#   bench/repeat_search.sh CLI RUNS SECONDS search-arguments...
# Example (bench network up, HOME pointing at its client):
#   bench/repeat_search.sh build/bin/brindlecove-cli 40 60 search --pattern '*.TXT;*.doc' \
#       '\\127.0.0.11\bench\tree'
set -uo pipefail
cli=$1 runs=$2 limit=$3
shift 3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
ok=0 other=0 crash=0 hang=0 errors=0
for i in $(seq 1 "$runs"); do
    timeout -s KILL "$limit" "$cli" "$@" > "$tmp/out" 2> "$tmp/err"
    rc=$?
    sort "$tmp/out" > "$tmp/sorted"
    if [ $rc -eq 137 ]; then
        hang=$((hang + 1))
    elif [ $rc -gt 128 ]; then
        crash=$((crash + 1)); echo "run $i: signal $((rc - 128))" >&2
    elif [ ! -f "$tmp/first" ]; then
        cp "$tmp/sorted" "$tmp/first"; ok=$((ok + 1))
    elif cmp -s "$tmp/sorted" "$tmp/first"; then
        ok=$((ok + 1))
    else
        other=$((other + 1)); echo "run $i: $(wc -l < "$tmp/sorted") finds, first run $(wc -l < "$tmp/first")" >&2
    fi
    [ $rc -eq 2 ] && errors=$((errors + 1))
done
echo "$runs runs: $ok same finds, $other other finds, $crash crashed, $hang hung (> ${limit} s), $errors exit 2; $(wc -l < "$tmp/first" 2>/dev/null || echo 0) finds"
