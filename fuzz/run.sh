#!/usr/bin/env bash
# Runs the fuzzing harnesses: fuzz/run.sh BUILD_DIR SECONDS. Each harness gets half the time,
# starts from a seed corpus made from the test decks (kept and grown in BUILD_DIR/corpus-*), and
# stops at its first finding (a crash, a sanitizer report, an input running longer than a second,
# or more than 2 GB of memory), which is saved as BUILD_DIR/finding-*; the script then fails.
set -euo pipefail
build=$1
seconds=${2:-60}
here=$(cd "$(dirname "$0")/.." && pwd)
half=$(( (seconds + 1) / 2 ))
deck="$build/corpus-deck"
text="$build/corpus-freeread"
mkdir -p "$deck" "$text"
files=(parm grid nansfbc dirts neuts atmbc sfbc soil flowic transic solute transbc)
for d in "$here"/tests/cases/* "$here"/examples/*/; do
  name=$(basename "$d")
  for k in "${!files[@]}"; do
    f="$d/${files[$k]}"
    [ -f "$f" ] || continue
    { printf "\\$(printf '%03o' "$k")"; cat "$f"; } > "$deck/$name-${files[$k]}"
    cp "$f" "$text/$name-${files[$k]}"
  done
done
status=0
for h in deck freeread; do
  corpus="$build/corpus-$h"
  echo "== fuzz_$h for $half s"
  "$build/fuzz_$h" "$corpus" -max_total_time="$half" -timeout=1 -rss_limit_mb=2048 -max_len=8192 \
    -print_final_stats=1 -artifact_prefix="$build/finding-$h-" 2>"$build/fuzz-$h.log" || status=1
  grep -E 'stat::number_of_executed_units|stat::peak_rss_mb|ERROR|SUMMARY' "$build/fuzz-$h.log" || true
done
exit $status
