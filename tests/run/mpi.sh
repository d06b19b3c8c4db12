#!/usr/bin/env bash
# One run on several processes (mpiexec): a small hillslope (480 nodes, BoomerAMG) run without
# mpiexec is the reference. Under mpiexec -n 1 every file is the same but the CPU times; on 2
# and 3 processes (each holding its own columns) the same files with the same lines, but a .pvtu and a piece a process for
# each .vtu; final heads within 10 TOLNL and the cumulative budget within 1e-6 of the
# reference, the linear iterations within half again the reference's; the series read by VTK's readers and by the Python package as that of the
# reference (tests/run/mpi_series.py); a second run on 3 is the first to
# the bit, and three on 2 of a surface of 625 columns cut it alike. A mesh of more nodes than a
# block of process 0's writers writes its initial state on 2 processes as one process does. Without vtk/ the second
# process, run in a copy of the deck, leaves it as it was. The rain not applied on the outlet's
# nodes, and water standing above the ground (a variant under evaporation), are reported once,
# as on one process. The column solves
# (ISOLV -13) on 3 processes take the iterations of one process (a column split between two
# processes would weaken them). A bad deck, and Newton's direct solver without iteration limits, stop on 2 processes
# with status 1 and their message once; a deck with a solver of one process runs with PETSc's
# in its place. Skipped (77) without mpiexec.
#   tests/run/mpi.sh PROGRAM MPIEXEC
set -euo pipefail
prog=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
mpiexec=${2:-}
if [ -z "$mpiexec" ] || ! command -v "$mpiexec" >/dev/null; then
  echo "mpiexec not found: skipped"; exit 77
fi
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 OMPI_MCA_rmaps_base_oversubscribe=1
here=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "$*"; exit 1; }

bash "$here/bench/gen_slope.sh" "$tmp/deck" 10 8 5 1.0 >/dev/null
sed -i '11s/^ *[-0-9]*/-11/' "$tmp/deck/parm"
tolnl=$(awk 'NR == 9 { print $4 }' "$tmp/deck/parm")

# run NAME NP [DECK [OPTION...]]: the deck in its own copy, NP processes (0: without mpiexec).
run() {
  local name=$1 np=$2 deck=${3:-deck} status=0
  shift $(($# < 3 ? $# : 3))
  cp -r "$tmp/$deck" "$tmp/$name"
  if [ "$np" -eq 0 ]; then
    (cd "$tmp/$name" && "$prog" "$@" >stdout.txt 2>stderr.txt) || status=$?
  else
    (cd "$tmp/$name" && timeout 300 "$mpiexec" --oversubscribe -n "$np" "$prog" "$@" \
       >stdout.txt 2>stderr.txt) || status=$?
  fi
  echo "$status"
}

# heads REF DIR LABEL [NODES]: the final heads of root-ntupla.dat within 10 TOLNL, on the same
# nodes (NODES of them, 480 unless given).
heads() {
  paste "$1/root-ntupla.dat" "$2/root-ntupla.dat" | awk -v tol="$tolnl" -v what="$3" -v n="$(wc -l <"$1/root-ntupla.dat")" -v least="${4:-480}" '
    { for (i = 4; i <= 5; ++i) { e = $i - $(i + 5); if (e < 0) e = -e; if (e > m) m = e } }
    END { if (NR != n || n < least || m > 10 * tol) { print what ": heads differ by " m; exit 1 } }'
}

[ "$(run ref 0)" -eq 0 ] || fail "the run without mpiexec failed"
[ "$(run p1 1)" -eq 0 ] || fail "mpiexec -n 1 failed: $(cat "$tmp/p1/stderr.txt")"
diff -r -I 'CPU\|SECONDS' -x stderr.txt "$tmp/ref" "$tmp/p1" >"$tmp/diff" ||
  fail "mpiexec -n 1 differs from the run without it: $(head -20 "$tmp/diff")"

# The files of a run on NP processes: those of one process, with vtk/nepora3d_NNNN.pvtu and its
# NP pieces vtk/nepora3d_NNNN_PPPP.vtu for every vtk/nepora3d_NNNN.vtu.
files_on() {
  (cd "$tmp/ref" && find . -type f | sort) | awk -v np="$1" '
    /^\.\/vtk\/nepora3d_[0-9]+\.vtu$/ { k = substr($0, 16, 4); print "./vtk/nepora3d_" k ".pvtu"
      for (p = 0; p < np; ++p) printf "./vtk/nepora3d_%s_%04d.vtu\n", k, p; next } { print }' | sort
}
# The series are read with the Python 3 of the tests (NEPORA_PYTHON3, from CMake), else Debian's.
py=${NEPORA_PYTHON3:-/usr/bin/python3}
[ -x "$py" ] || fail "no python3 at $py (Debian: python3; tools/install-deps test installs it)"
series() {
  "$py" "$here/tests/run/mpi_series.py" "$1" "$tmp/ref" "$2" "$tolnl" || fail "the series on $3 processes"
}

linear() { awk '/TOT # OF LIN ITER FOR FLOW EQ/ { print $NF }' "$1/out.lst"; }
for np in 2 3; do
  [ "$(run p$np $np)" -eq 0 ] || fail "$np processes: $(cat "$tmp/p$np/stderr.txt")"
  d=$tmp/p$np
  [ "$(files_on "$np")" = "$(cd "$d" && find . -type f | sort)" ] ||
    fail "$np processes: another set of files than one process: $(diff <(files_on "$np") <(cd "$d" && find . -type f | sort))"
  series vtk "$d" "$np"
  [ "$np" -eq 2 ] && series results "$d" "$np"
  for f in $(cd "$tmp/ref" && find . -type f ! -path './vtk/*' ! -name stderr.txt); do
    [ "$(wc -l <"$tmp/ref/$f")" -eq "$(wc -l <"$d/$f")" ] || fail "$np processes: $f has other lines"
  done
  heads "$tmp/ref" "$d" "$np processes"
  # A hierarchy formed from misplaced values still converges, only slowly (without the values
  # of the other processes' columns: 2.2 times the iterations): within half again one process's.
  awk -v a="$(linear "$tmp/ref")" -v b="$(linear "$d")" 'BEGIN { exit !(a > 0 && b <= 1.5 * a) }' ||
    fail "$np processes: $(linear "$d") linear iterations against $(linear "$tmp/ref") on one"
  # The cumulative in, out and storage change of the last row.
  paste -d, <(tail -1 "$tmp/ref/csv/budget.csv") <(tail -1 "$d/csv/budget.csv") | awk -F, -v np="$np" '
    { n = NF / 2; for (i = 21; i <= 23; ++i) { e = ($i - $(i + n)) / $i; if (e < 0) e = -e; if (e > m) m = e } }
    END { if (m > 1e-6) { print np " processes: budget differs by " m " (relative)"; exit 1 } }'
  grep -q "^nepora3d: $np processes, the 80 columns" "$d/stderr.txt" || fail "$np processes: no parts line"
  # The rain on the outlet's surface nodes (prescribed heads) is not applied: its sums at the
  # end reported once, as on one process (0.005 x 3.5 m2 x 1 d of 0.005 x 63 m2 x 1 d).
  reported() { grep "ATMOSPHERIC INPUT NOT APPLIED AT\|PRESCRIBED HEAD,\|RAIN    " "$1/out.lst"; grep "not applied" "$1/stderr.txt"; }
  [ "$(reported "$tmp/ref" | grep -c " = *1.75000E-02 OF  3.15000E-01 ")" -eq 1 ] &&
    [ "$(reported "$tmp/ref")" = "$(reported "$d")" ] ||
    fail "$np processes: other reports of the rain not applied: $(diff <(reported "$tmp/ref") <(reported "$d") | head -5)"
done
# Evaporation and an outlet 0.6 m above the ground: water stands at every flux-controlled surface
# node, each reported once by node number, on 2 processes as on one.
cp -r "$tmp/deck" "$tmp/stand"
printf '1\n0.0\n-0.001\n' >"$tmp/stand/atmbc" && sed -i 's/8\.0/10.6/g' "$tmp/stand/dirts"
[ "$(run s0 0 stand)" -eq 0 ] && [ "$(run s2 2 stand)" -eq 0 ] || fail "standing water failed"
standing() { grep "WATER STANDS" "$1/out.lst" | awk '{ print $NF }' | sort -n | tr '\n' ' '; }
[ "$(standing "$tmp/s0")" = "$(seq -s ' ' 1 80 | tr ' ' '\n' | awk '($1 - 1) % 10' | tr '\n' ' ')" ] &&
  [ "$(standing "$tmp/s0")" = "$(standing "$tmp/s2")" ] && [ "$(grep -c stood "$tmp/s2/stderr.txt")" -eq 1 ] ||
  fail "standing water on 2 processes: $(standing "$tmp/s2") against $(standing "$tmp/s0")"

# Without vtk/, the second process in a copy of the deck of its own leaves it as it was (it writes
# no file but its pieces of the series).
cp -r "$tmp/deck" "$tmp/split" && cp -r "$tmp/deck" "$tmp/split.other"
(cd "$tmp/split" && timeout 300 "$mpiexec" --oversubscribe -n 1 -wdir "$tmp/split" "$prog" --no-extra-output : \
   -n 1 -wdir "$tmp/split.other" "$prog" --no-extra-output >stdout.txt 2>stderr.txt) ||
  fail "2 processes without vtk/ and csv/: $(cat "$tmp/split/stderr.txt")"
[ ! -e "$tmp/split/vtk" ] || fail "--no-extra-output on 2 processes wrote vtk/"
diff -r "$tmp/deck" "$tmp/split.other" || fail "the second process wrote into its copy of the deck"

# Several processes give the same run every time; the series that an earlier run left is
# removed, and only that.
cp -r "$tmp/deck" "$tmp/again-deck" && mkdir "$tmp/again-deck/vtk"
touch "$tmp/again-deck/vtk/"{nepora3d_0005.vtu,nepora3d_0005.pvtu,nepora3d_0005_0003.vtu,nepora3d_0001_x.vtu}
[ "$(run p3again 3 again-deck)" -eq 0 ] || fail "the second run on 3 processes failed"
diff -r -I 'CPU\|SECONDS' -x stderr.txt -x nepora3d_0001_x.vtu "$tmp/p3" "$tmp/p3again" >"$tmp/diff" ||
  fail "two runs on 3 processes differ: $(head -20 "$tmp/diff")"
[ -e "$tmp/p3again/vtk/nepora3d_0001_x.vtu" ] || fail "a file not of the series was removed"

# The parts of a surface of 625 columns, the same in three runs on 2 processes (the partitioner
# on several threads cut it differently almost every run).
bash "$here/bench/gen_slope.sh" "$tmp/wide" 25 25 2 0.02 >/dev/null
sed -i '11s/^ *[-0-9]*/-11/' "$tmp/wide/parm"
for k in 1 2 3; do
  [ "$(run wide$k 2 wide)" -eq 0 ] || fail "run $k of the 625 columns on 2 processes failed"
  cmp -s "$tmp/wide1/vtk/nepora3d_0000_0000.vtu" "$tmp/wide$k/vtk/nepora3d_0000_0000.vtu" &&
    cmp -s "$tmp/wide1/csv/budget.csv" "$tmp/wide$k/csv/budget.csv" ||
    fail "runs 1 and $k of the 625 columns on 2 processes differ in their parts or budget"
done

cp -r "$tmp/deck" "$tmp/columns"
sed -i '11s/^ *[-0-9]*/-13/' "$tmp/columns/parm"
[ "$(run c0 0 columns)" -eq 0 ] && [ "$(run c3 3 columns)" -eq 0 ] || fail "the column solves failed"
awk -v a="$(linear "$tmp/c0")" -v b="$(linear "$tmp/c3")" 'BEGIN {
  if (!(a > 0) || (b - a) / a > 0.02 || (a - b) / a > 0.02) { print "column solves: " a " and " b " iterations"; exit 1 } }'

# Newton on 3 processes, and flow coupled with transport (the solute box) on 2: each process
# holds its own columns, the fluxes of the budgets come from their process.
cp -r "$tmp/deck" "$tmp/newton"
sed -i '2s/^ *1/2/' "$tmp/newton/parm"
[ "$(run n0 0 newton)" -eq 0 ] && [ "$(run n3 3 newton)" -eq 0 ] || fail "Newton failed"
heads "$tmp/n0" "$tmp/n3" "Newton on 3 processes"
# Each process holds its own columns and two rings: every output written from the state of every
# node. The echo of the input (hydrostatic initial heads), rates per surface node, Neumann nodes,
# observation nodes, vertical profiles, nodal and element output at two times, on 2 processes:
# the same lines in every file, the echoes of the initial heads and of the series the same bytes,
# heads and the observations of every step within 10 TOLNL, element velocities within 1e-6 of
# the largest.
cp -r "$tmp/deck" "$tmp/rich"
(cd "$tmp/rich" &&
  sed -i '1s/^0 /1 /; 16s/^.*$/4 0 2 0.3 0.6/; 17s/^.*$/2 5 44/; 18s/^.*$/3\n7 150 333/' parm &&
  printf 'T\n8\n1 11 21 31 41 51 61 71\n0\n2\n20 260\n' >nansfbc &&
  printf '0.0\n-0.01 0.02\n1000.0\n-0.01 0.02\n' >neuts && printf 'F\n2\n' >flowic &&
  awk 'BEGIN { print 0; for (t = 0; t <= 1; ++t) { print t * 0.5
    for (j = 1; j <= 80; ++j) printf " %.4f%s", 0.002 + 0.0001 * j * (1 + t), j % 8 ? "" : "\n" } }' >atmbc)
[ "$(run r0 0 rich)" -eq 0 ] && [ "$(run r2 2 rich)" -eq 0 ] || fail "the deck of every output failed"
grep -q "each process holds its own columns and two rings of columns around them" "$tmp/r2/stderr.txt" ||
  fail "the deck of every output: the processes hold the whole mesh"
for f in $(cd "$tmp/r0" && find . -type f ! -path './vtk/*' ! -name stderr.txt); do
  [ "$(wc -l <"$tmp/r0/$f")" -eq "$(wc -l <"$tmp/r2/$f")" ] || fail "the deck of every output: $f has other lines"
done
cmp -s "$tmp/r0/dirbc.out" "$tmp/r2/dirbc.out" && cmp -s "$tmp/r0/neubc.out" "$tmp/r2/neubc.out" ||
  fail "the deck of every output: another echo of the series"
ic() { sed -n '/PRESUURE HEADS INITIAL/,/^ *$/p' "$1/out.lst"; }
[ -n "$(ic "$tmp/r0")" ] && [ "$(ic "$tmp/r0")" = "$(ic "$tmp/r2")" ] ||
  fail "the deck of every output: another echo of the initial heads"
heads "$tmp/r0" "$tmp/r2" "the deck of every output"
# The observation nodes and profiles of every step (gathered alone between the output times):
# the same steps and nodes, pressure and total heads within 10 TOLNL.
paste -d, "$tmp/r0/csv/observations.csv" "$tmp/r2/csv/observations.csv" | awk -F, -v tol="$tolnl" '
  NR > 1 { h = NF / 2; if ($1 != $(1 + h) || $4 != $(4 + h)) bad = 1
    for (i = 9; i <= 10; ++i) { d = $i - $(i + h); if (d < 0) d = -d; if (d > m) m = d } ++n }
  END { if (bad || n < 100 || !(m <= 10 * tol)) { print "the deck of every output: observations differ by " m; exit 1 } }' ||
  fail "the deck of every output: other observations"
paste "$tmp/r0/elvel.out" "$tmp/r2/elvel.out" | awk '
  { h = NF / 2; for (i = 1; i <= h; ++i) { a = $i < 0 ? -$i : $i; d = $i - $(i + h); if (d < 0) d = -d
      if (a > big) big = a; if (d > m) m = d } ++n }
  END { if (n < 1000 || !(m <= 1e-6 * big)) { print "the deck of every output: element velocities differ by " m; exit 1 } }'
# More nodes than a block that process 0 writes at a time (65,520; here 75,600 nodes and 417,720
# tetrahedra, each block gathered in turn from the processes that own its entries): the initial
# state, the same on any number of processes, is written on 2 as on one to the byte (the echo of
# the hydrostatic heads, the nodal and element lists and the surface maps of step 0).
bash "$here/bench/gen_slope.sh" "$tmp/big" 60 60 20 0.01 >/dev/null
(cd "$tmp/big" && sed -i '1s/^0 /1 /; 11s/^ *[-0-9]*/-11/; 16s/^.*$/4 0 0/' parm && printf 'F\n2\n' >flowic &&
  sed -i 's/8\.0/10.0/g' dirts)
[ "$(run g0 0 big)" -eq 0 ] && [ "$(run g2 2 big)" -eq 0 ] || fail "the deck of 75,600 nodes failed"
step0() { awk '/TIME$/ && ++n == 2 { exit } { print }' "$1"; }
for f in heads.out:15123 ckrw.out:15123 vel.out:75604 sw.out:15124 elvel.out:250635 surfp.out:3603 \
    satsur.out:3603 surfsw.out:3603; do
  [ "$(step0 "$tmp/g0/${f%:*}" | wc -l)" -eq "${f#*:}" ] && cmp -s <(step0 "$tmp/g0/${f%:*}") <(step0 "$tmp/g2/${f%:*}") ||
    fail "75,600 nodes on 2 processes: another initial state in ${f%:*}"
done
[ "$(ic "$tmp/g0" | wc -l)" -eq 18902 ] && [ "$(ic "$tmp/g0")" = "$(ic "$tmp/g2")" ] ||
  fail "75,600 nodes on 2 processes: another echo of the initial heads"
heads "$tmp/g0" "$tmp/g2" "75,600 nodes on 2 processes" 75600
# Seepage faces (the dam), each process holding its own columns: every process moves the exit
# points by the heads of every face node, so the exit points of every step are those of one
# process, their fluxes within the tolerance.
mkdir "$tmp/dam"
find "$here/examples/dam" -maxdepth 1 -type f ! -name README.md -exec cp {} "$tmp/dam" \;
sed -i '11s/^ *[-0-9]*/-11/' "$tmp/dam/parm"
[ "$(run d0 0 dam)" -eq 0 ] && [ "$(run d3 3 dam)" -eq 0 ] || fail "the dam failed"
grep -q "each process holds its own columns" "$tmp/d3/stderr.txt" || fail "the dam: the processes hold the whole mesh"
cmp -s <(cut -d, -f1-6 "$tmp/d0/csv/seepage.csv") <(cut -d, -f1-6 "$tmp/d3/csv/seepage.csv") ||
  fail "the dam on 3 processes: other exit points"
heads "$tmp/d0" "$tmp/d3" "the dam on 3 processes" 462
# Checkpoints of a run whose processes hold meshes of their own: a run on 2 processes stopped by
# SIGTERM after its sixth step continues from its checkpoint on 2 and on 3 processes, and ends
# with the files of the run that was never stopped: the same lines, heads within 10 TOLNL.
bash "$here/bench/gen_slope.sh" "$tmp/ck" 40 40 10 2.0 >/dev/null
sed -i '11s/^ *[-0-9]*/-11/' "$tmp/ck/parm"
ckrun() {  # ckrun NAME NP [OPTIONS]: the deck ck in the copy NAME (made when missing)
  local name=$1 np=$2
  shift 2
  [ -d "$tmp/$name" ] || cp -r "$tmp/ck" "$tmp/$name"
  (cd "$tmp/$name" && timeout 300 "$mpiexec" --oversubscribe -n "$np" "$prog" --checkpoint-every 2 "$@" \
     >>stdout.txt 2>>stderr.txt)
}
ckrun ckref 2 || fail "checkpoints on 2 processes: the run failed"
grep -q "each process holds its own columns" "$tmp/ckref/stderr.txt" || fail "checkpoints: the processes hold the whole mesh"
ckrun ckstop 2 &
for _ in $(seq 600); do grep -q 'TIME STEP:     6' "$tmp/ckstop/out.lst" 2>/dev/null && break; sleep 0.05; done
# The processes of this run alone (a test run beside this one may run the same program).
for pid in $(pgrep -f "^$prog --checkpoint-every" || true); do
  [ "$(readlink "/proc/$pid/cwd" 2>/dev/null)" != "$tmp/ckstop" ] || kill -TERM "$pid" 2>/dev/null || true
done
wait || true
grep -q "interrupted by SIGTERM" "$tmp/ckstop/stderr.txt" || fail "checkpoints: the run was not stopped: $(tail -3 "$tmp/ckstop/stderr.txt")"
cp -r "$tmp/ckstop" "$tmp/ckstop3"
for np in 2 3; do
  d=ckstop; [ "$np" -eq 3 ] && d=ckstop3
  ckrun "$d" "$np" --restart nepora3d.chk || fail "checkpoints: continued on $np processes: $(tail -3 "$tmp/$d/stderr.txt")"
  for f in $(cd "$tmp/ckref" && find . -type f ! -path './vtk/*' ! -name 'std*.txt' ! -name '*.chk*'); do
    [ "$(wc -l <"$tmp/ckref/$f")" -eq "$(wc -l <"$tmp/$d/$f")" ] || fail "checkpoints: continued on $np processes, $f has other lines"
  done
  heads "$tmp/ckref" "$tmp/$d" "checkpoints: continued on $np processes" 17000
done
# The arrays of those checkpoints (the heads of every node, ...) are in an HDF5 file beside each,
# which every process writes its own part of and reads the part it holds of. A run on 2 processes
# killed inside its 4th checkpoint continues from the 3rd on 2 processes with every file of the
# run never stopped, byte for byte (the CPU lines apart). The checkpoint of the end of that run,
# continued on 1 and on 3 processes, writes the final output again, every file that of the run
# (the ParaView pieces, one a process, apart), and a checkpoint whose arrays are those of the 2
# processes to the bit (read by h5py, and from the entries of the file of one process).
cp -r "$tmp/ck" "$tmp/ckkill"
(cd "$tmp/ckkill" && NEPORA3D_CHECKPOINT_FAULT=4:1000000000 timeout 300 "$mpiexec" -n 2 "$prog" \
   --checkpoint-every 2 >stdout.txt 2>stderr.txt) && fail "checkpoints: the run was not killed in its 4th checkpoint"
ckrun ckkill 2 --restart nepora3d.chk || fail "checkpoints: continued after the kill: $(tail -3 "$tmp/ckkill/stderr.txt")"
diff -r -I 'CPU\|SECONDS' -x 'std*.txt' -x 'nepora3d.chk*' "$tmp/ckref" "$tmp/ckkill" >"$tmp/diff" ||
  fail "checkpoints: continued after the kill, other files: $(head -20 "$tmp/diff")"
for np in 1 3; do
  cp -r "$tmp/ckref" "$tmp/ckend$np"
  ckrun "ckend$np" "$np" --restart nepora3d.chk || fail "checkpoints: the end continued on $np: $(tail -3 "$tmp/ckend$np/stderr.txt")"
  diff -r -I 'CPU\|SECONDS' -x 'std*.txt' -x 'nepora3d.chk*' -x vtk "$tmp/ckref" "$tmp/ckend$np" >"$tmp/diff" ||
    fail "checkpoints: the end continued on $np processes, other files: $(head -20 "$tmp/diff")"
done
/usr/bin/python3 - "$tmp/ckref" "$tmp/ckend3" "$tmp/ckend1/nepora3d.chk" <<'PY' || fail "checkpoints: other arrays"
import glob, struct, sys
import h5py
def arrays(d):
    (path,) = glob.glob(d + "/nepora3d.chk.arrays*.h5")
    with h5py.File(path, "r") as f:
        return {k: f[k][()].tobytes() for k in f}
def entries(path):  # the entries of a checkpoint of one process (docs/checkpoint.md)
    b, k, out = open(path, "rb").read(), 28, {}
    while k < len(b) - 16:
        n = b[k]
        name, t = b[k + 1:k + 1 + n].decode(), chr(b[k + 1 + n])
        c = struct.unpack_from("<Q", b, k + 2 + n)[0]
        k += 10 + n
        size = {"i": 4, "q": 8, "d": 8, "f": 4, "b": 1, "s": 1}[t] * c
        out[name], k = b[k:k + size], k + size
    return out
two, three, one = arrays(sys.argv[1]), arrays(sys.argv[2]), entries(sys.argv[3])
assert len(two) >= 20 and "fs.PNEW" in two, sorted(two)
bad = [k for k in two if three.get(k) != two[k] or one.get(k) != two[k]]
assert not bad, bad
PY
mkdir "$tmp/box"
find "$here/examples/solute-box" -maxdepth 1 -type f ! -name README.md -exec cp {} "$tmp/box" \;
sed -i '11s/^ *[-0-9]*/-10/; 12s/^ *[-0-9]*/-10/' "$tmp/box/parm"
[ "$(run b0 0 box)" -eq 0 ] && [ "$(run b2 2 box)" -eq 0 ] || fail "the coupled run failed"
grep -q "each process holds its own columns" "$tmp/b2/stderr.txt" || fail "coupled run: the processes hold the whole mesh"
# Concentrations within 10 TOLNLC, and the budgets of water and solute alike.
paste "$tmp/b0/conc.out" "$tmp/b2/conc.out" | awk -v tol="$(awk 'NR == 9 { print $4 }' "$tmp/box/parm")" '
  NF == 10 { for (i = 1; i <= 5; ++i) { e = $i - $(i + 5); if (e < 0) e = -e; if (e > m) m = e }; ++n }
  END { if (n < 36 || m > 10 * tol) { print "coupled run: concentrations differ by " m; exit 1 } }'
cmp -s "$tmp/b0/mbal.out" "$tmp/b2/mbal.out" || fail "coupled run: other budgets on 2 processes"

# stopped NAME TEXT: status 1 on 2 processes, TEXT once on standard error, no staged file left.
stopped() {
  local status
  status=$(run "$1" 2 "$1-deck")
  [ "$status" -eq 1 ] || fail "$1: exit status $status on 2 processes"
  [ "$(grep -c -F "$2" "$tmp/$1/stderr.txt")" -eq 1 ] || fail "$1: not once: $(cat "$tmp/$1/stderr.txt")"
  [ -z "$(find "$tmp/$1" -name '*.nepora-new')" ] || fail "$1: staged files left"
  ! grep -q "TIME STEP:" "$tmp/$1/out.lst" || fail "$1: a step was run"
}
cp -r "$tmp/deck" "$tmp/bad-deck"
sed -i '2s/^.*$/80 abc/' "$tmp/bad-deck/grid"
stopped bad "grid file 'grid' line 2: expected an integer, found 'abc'"
# Initial heads node by node, echoed in the listing: each process keeps its own nodes' values, the
# echo (process 0's) and the final heads are those of one process; a bad value in them stops
# every process with its file and line once.
cp -r "$tmp/deck" "$tmp/nodal"
sed -i '1s/^0 /1 /' "$tmp/nodal/parm"
awk 'BEGIN { print "F"; print 1; for (k = 1; k <= 480; ++k) printf "%.3f%s", -0.5 - 0.002 * k, k % 8 ? " " : "\n" }' >"$tmp/nodal/flowic"
[ "$(run nodal0 0 nodal)" -eq 0 ] && [ "$(run nodal2 2 nodal)" -eq 0 ] || fail "initial heads node by node failed"
nodal_ic() { sed -n '/INITIAL PRESSURE HEADS/,/^ *$/p' "$1/out.lst"; }
[ "$(nodal_ic "$tmp/nodal0" | grep -c " 480   -1.460E+00$")" -eq 1 ] && [ "$(nodal_ic "$tmp/nodal0")" = "$(nodal_ic "$tmp/nodal2")" ] ||
  fail "initial heads node by node: another echo on 2 processes"
heads "$tmp/nodal0" "$tmp/nodal2" "initial heads node by node on 2 processes"
# Each process places its columns' nodes from the surface alone: with bottom elevations given per
# surface node (ISP 2, a bottom sloping across), and under a flat base (IVERT 2), the heads on 3
# processes are those of one; the listing's echo of the uniform initial head (ISP 2, IPRT1 1)
# lists every node's, as on one process.
for v in isp2 ivert2; do
  cp -r "$tmp/deck" "$tmp/$v"
  if [ "$v" = isp2 ]; then
    sed -i '1s/^0 /1 /' "$tmp/$v/parm"
    awk 'NR == 3 { print "1 2 6.0"; next } { print }' "$tmp/deck/grid" |
      awk -v nnod=80 'NR <= 4 { print; next } !ins { n += NF; print; if (n >= nnod) { for (k = 0; k < nnod; ++k)
        printf "%.2f%s", 3.0 + 0.01 * k, k % 10 == 9 ? "\n" : " "; ins = 1 } next } { print }' >"$tmp/$v/grid"
  else
    sed -i '3s/^1 1/2 1/' "$tmp/$v/grid"
  fi
  [ "$(run "${v}0" 0 "$v")" -eq 0 ] && [ "$(run "${v}3" 3 "$v")" -eq 0 ] || fail "$v failed: $(tail -2 "$tmp/${v}3/stderr.txt")"
  heads "$tmp/${v}0" "$tmp/${v}3" "$v on 3 processes"
done
potic() { sed -n '/INITIAL POTENTIAL HEADS/,/^ *$/p' "$1/out.lst"; }
[ "$(potic "$tmp/isp20" | grep -c "   480    9.000E+00$")" -eq 1 ] && [ "$(potic "$tmp/isp20")" = "$(potic "$tmp/isp23")" ] ||
  fail "the uniform initial head on 3 processes: another echo"
cp -r "$tmp/nodal" "$tmp/badic-deck"
sed -i '40s/^[^ ]*/x1.5/' "$tmp/badic-deck/flowic"
stopped badic "flow initial-condition file 'flowic' line 40: expected a real number, found 'x1.5'"
# Started from another run's final state, which process 0 reads and hands on: the heads of one
# process; a node that lies elsewhere (one at each end of the surface, so in the columns of either
# process) is named as one process names it.
[ "$(run from0 0 nodal --initial-from "$tmp/nodal0")" -eq 0 ] &&
  [ "$(run from2 2 nodal --initial-from "$tmp/nodal0")" -eq 0 ] || fail "--initial-from on 2 processes failed"
heads "$tmp/from0" "$tmp/from2" "--initial-from on 2 processes"
for k in 1 80; do
  awk -F, -v OFS=, -v k="$k" 'NR == k + 1 { $2 += 0.5 } { print }' "$tmp/nodal0/csv/final-state.csv" >"$tmp/moved$k.csv"
  [ "$(run moved${k}0 0 nodal --initial-from "$tmp/moved$k.csv")" -eq 1 ] &&
    [ "$(run moved${k}2 2 nodal --initial-from "$tmp/moved$k.csv")" -eq 1 ] &&
    grep -q "moved$k.csv' line $((k + 1)): node $k lies at" "$tmp/moved${k}0/stderr.txt" &&
    [ "$(grep "final state" "$tmp/moved${k}0/stderr.txt")" = "$(grep "final state" "$tmp/moved${k}2/stderr.txt")" ] ||
    fail "node $k moved: $(cat "$tmp/moved${k}0/stderr.txt") / $(cat "$tmp/moved${k}2/stderr.txt")"
done
# A deck whose solver runs on one process (ISOLV 0) runs on 2 with -10 in its place, said once on
# standard error and in the listing's echo, heads within 10 TOLNL; Newton with the direct solver
# and no iteration limit for the iterations that take its place stops.
cp -r "$tmp/deck" "$tmp/serial"
sed -i '11s/^ *[-0-9]*/0/' "$tmp/serial/parm"
[ "$(run serial2 2 serial)" -eq 0 ] || fail "ISOLV 0 on 2 processes: $(cat "$tmp/serial2/stderr.txt")"
[ "$(grep -c "parameter file 'parm' line 11: ISOLV = 0 selects a solver that runs on one process only: on 2 processes the PETSc selector ISOLV = -10 solves the flow equation in its place" "$tmp/serial2/stderr.txt")" -eq 1 ] &&
  grep -q "^ *(IN PLACE OF ISOLV =   0 ON      2 PROCESSES)$" "$tmp/serial2/out.lst" ||
  fail "ISOLV 0 on 2 processes: not said once: $(head -3 "$tmp/serial2/stderr.txt")"
heads "$tmp/ref" "$tmp/serial2" "ISOLV 0 on 2 processes"
cp -r "$tmp/deck" "$tmp/direct-deck"
sed -i '2s/^ *1/2/; 11s/^ *[-0-9]*/3/; 13s/^ *[0-9]* *[^ ]* *[0-9]*/2000 1.0e-10 0/' "$tmp/direct-deck/parm"
stopped direct "parameter file 'parm' line 13: ITCGNS = 0: the nonsymmetric solvers need 1 or more iterations (the direct solver selected runs on one process only: on 2 processes the iterations of the PETSc selector -10 take its place)"
# More processes than columns: every process stops before the first step, status 1, the message
# once (it used to hang).
bash "$here/bench/gen_slope.sh" "$tmp/few" 2 2 2 0.02 >/dev/null
sed -i '11s/^ *[-0-9]*/-11/' "$tmp/few/parm"
[ "$(run few5 5 few)" -eq 1 ] || fail "5 processes on 4 columns: not status 1"
[ "$(grep -c "the mesh has 4 columns (surface nodes) and the run 5 processes" "$tmp/few5/stderr.txt")" -eq 1 ] ||
  fail "5 processes on 4 columns: $(cat "$tmp/few5/stderr.txt")"
echo "1, 2 and 3 processes agree; the column solves in $(linear "$tmp/c3") iterations; the stops"
