#!/usr/bin/env bash
# Runs the benchmark deck as a user would and reports wall time, time per step, per nonlinear
# iteration and per conjugate-gradient iteration, and peak memory.
#   bench/run.sh PROGRAM [NX NY NSTR STEPS]
set -euo pipefail
prog=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
dir=${BENCH_DIR:-/tmp/nepora3d-bench}
rm -rf "$dir"
"$here/gen_deck.sh" "$dir" "$@"
cd "$dir"
start=$(date +%s.%N)
status=0
if [ -x /usr/bin/time ]; then
  /usr/bin/time -v -o time.txt "$prog" >/dev/null || status=$?
  peak=$(awk -F': ' '/Maximum resident set size/ { printf "%.1f MiB", $2 / 1024 }' time.txt)
else
  "$prog" >/dev/null || status=$?
  peak="(install GNU time for the peak memory)"
fi
end=$(date +%s.%N)
wall=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
steps=$(awk '/TOT # OF TIME STEPS/ { print $NF }' out.lst)
nl=$(awk '/TOT # OF NONLIN ITER FOR FLOW EQ/ { print $NF }' out.lst)
lin=$(awk '/TOT # OF LIN ITER FOR FLOW EQ/ { print $NF }' out.lst)
n=$(awk '/N      \(# OF NODES IN 3-D MESH\)/ { print $NF }' out.lst)
nt=$(awk '/NT     \(# OF TETRAHEDRA IN 3-D MESH\)/ { print $NF }' out.lst)
echo "exit status        $status"
echo "nodes, tetrahedra  $n, $nt"
echo "wall time          $wall s"
awk -v w="$wall" -v s="$steps" -v nl="$nl" -v lin="$lin" 'BEGIN {
    printf "time steps         %d   (%.4f s per step)\n", s, w / (s > 0 ? s : 1)
    printf "nonlinear iter.    %d   (%.4f s per nonlinear iteration)\n", nl, w / (nl > 0 ? nl : 1)
    printf "CG iterations      %d   (%.6f s per CG iteration, whole run)\n", lin, w / (lin > 0 ? lin : 1)
}'
echo "peak memory        $peak"
grep -E 'TOT CPU FOR (THE SIMULATION|UNSAT|LOCAL FLOW|FLOW LINEAR|FLOW MASS)' out.lst || true
exit $status
