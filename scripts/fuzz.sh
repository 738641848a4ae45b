#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each for SECONDS (default 60) over
# its corpus in fuzz/corpus. New inputs go to build-fuzz/corpus, findings to
# build-fuzz/findings; a finding fails the run (add its input to the corpus once fixed).
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(treefile patterns findbytes finds protocol announce)
bash scripts/build.sh fuzz
mkdir -p build-fuzz/findings
for t in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$t"
  rm -f "build-fuzz/findings/$t-"* # a finding of an earlier run is not this run's
  echo "== fuzz_$t: ${secs} s"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "build-fuzz/bin/fuzz_$t" -max_total_time="$secs" -rss_limit_mb=2048 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$t-" \
    "build-fuzz/corpus/$t" "fuzz/corpus/$t" 2>&1 | grep -E "^#[0-9]+ *(DONE|INITED)|ERROR|SUMMARY|stat::number_of_executed_units|artifact" || true
  if ls "build-fuzz/findings/$t-"* >/dev/null 2>&1; then
    echo "fuzz: fuzz_$t found a fault:" build-fuzz/findings/"$t"-* >&2
    exit 1
  fi
done
echo "fuzz.sh: no findings"
