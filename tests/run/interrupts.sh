#!/usr/bin/env bash
# Interrupts end every file at the same completed step. SIGINT twice at once, once a step is on
# disk (as `timeout -s INT` or a shell's Ctrl-C signals the program and then its process group):
# the run must still end at the end of a step with its final output (status 130). SIGINT and then SIGTERM at once end it immediately,
# every file cut back to the last completed step; the status is that of the signal handled
# second, and two signals sent at once can be handled in either order (each by its own thread),
# so it is 143 or 130.
#   tests/run/interrupts.sh PROGRAM
set -euo pipefail
prog=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
bash "$here/bench/gen_slope.sh" "$tmp/deck" 15 15 20 1000.0 >/dev/null
fails=0
last_step() { [ -f "$1" ] || { echo 0; return; }; awk 'NF > 0 && $1 ~ /^[0-9]+$/ { s = $1 } END { print s + 0 }' "$1"; }
last_csv_step() { tail -n 1 "$1" | awk -F, '{ print $1 ~ /^[0-9]+$/ ? $1 : 0 }'; }
# The step each per-step file ends at: mass balance, hydrograph, csv/budget.csv.
steps_of() {
  echo "$(last_step "$1/mbal.out") $(last_step "$1/hgatm.out") $(last_csv_step "$1/csv/budget.csv")"
}
for k in 1 2 3; do
  d="$tmp/int-$k"
  cp -r "$tmp/deck" "$d"
  (cd "$d" && exec "$prog" >/dev/null 2>err.txt) &
  pid=$!
  # Signalled once a step is on disk (a fixed delay found no listing yet on a loaded machine).
  while [ "$(last_step "$d/mbal.out")" -lt "$k" ] && kill -0 $pid 2>/dev/null; do sleep 0.05; done
  kill -INT $pid; kill -INT $pid
  status=0
  wait $pid || status=$?
  n=$(sed -n 's/.*RUN INTERRUPTED BY SIGNAL.*AFTER TIME STEP *\([0-9]*\),.*/\1/p' "$d/out.lst")
  s=$(steps_of "$d")
  if [ "$status" -ne 130 ] || [ -z "$n" ] || [ "$s" != "$n $n $n" ] ||
     ! grep -q 'TOT CPU FOR THE SIMULATION' "$d/out.lst" || ! grep -q 'interrupted by SIGINT' "$d/err.txt"; then
    echo "SIGINT, try $k: status $status, listing says step '${n}', files end at steps $s"
    fails=1
  fi
done
for k in 1 2; do
  d="$tmp/hard-$k"
  cp -r "$tmp/deck" "$d"
  (cd "$d" && exec "$prog" >/dev/null 2>&1) &
  pid=$!
  # Signalled in the middle of the run, once a few steps are on disk.
  while [ "$(last_step "$d/mbal.out")" -lt $((3 * k)) ]; do sleep 0.05; done
  kill -INT $pid; kill -TERM $pid
  status=0
  wait $pid || status=$?
  s=$(steps_of "$d")
  set -- $s
  if { [ "$status" -ne 143 ] && [ "$status" -ne 130 ]; } || [ "$1" != "$2" ] || [ "$1" != "$3" ] || [ "$1" -lt 1 ] ||
     grep -q 'RUN INTERRUPTED' "$d/out.lst"; then
    echo "SIGINT then SIGTERM, try $k: status $status, files end at steps $s"
    fails=1
  fi
done
[ "$fails" -eq 0 ] && echo "interrupted runs end every file at one completed step"
exit "$fails"
