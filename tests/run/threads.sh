#!/usr/bin/env bash
# One thread and several give the same run to the bit: a hillslope large enough for the element
# loops and the symmetric product to share their work (4,725 nodes, 23,520 tetrahedra), run with
# 1, 2 and 3 threads (3 on fewer cores oversubscribes them, which must change nothing either);
# every file but the CPU times of the listing must agree byte for byte. Also flow under Newton with the mass-conservative storage.
#   tests/run/threads.sh PROGRAM
set -euo pipefail
prog=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
bash "$here/bench/gen_slope.sh" "$tmp/deck" 15 15 20 2.0 >/dev/null
cp -r "$tmp/deck" "$tmp/newton"
sed -i '2s/^1 /2 /; 3s/^0 /5 /' "$tmp/newton/parm"
for d in deck newton; do
  for n in 1 2 3; do
    cp -r "$tmp/$d" "$tmp/$d-$n"
    status=0
    (cd "$tmp/$d-$n" && OMP_NUM_THREADS=$n "$prog" --no-extra-output >/dev/null 2>&1) || status=$?
    [ "$status" -eq 0 ] || { echo "$d on $n threads: exit status $status"; exit 1; }
  done
  nl=$(awk '/TOT # OF NONLIN ITER FOR FLOW EQ/ { print $NF }' "$tmp/$d-1/out.lst")
  [ "${nl:-0}" -gt 0 ] || { echo "$d: the run did not complete"; exit 1; }
  for n in 2 3; do
    if ! diff -r -I 'CPU\|SECONDS' "$tmp/$d-1" "$tmp/$d-$n" >"$tmp/diff"; then
      echo "$d: $n threads differ from 1:"; head -20 "$tmp/diff"; exit 1
    fi
  done
  echo "$d: 1, 2 and 3 threads agree ($nl nonlinear iterations)"
done
