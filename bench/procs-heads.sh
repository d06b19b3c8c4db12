#!/usr/bin/env bash
# Heads on several processes against one: every example deck and every bench deck is run alone
# and with mpiexec -n P, and the pressure heads of every node are compared with those of one
# process at every detailed output (heads.out, seven digits) and at the end at full precision
# (csv/final-state.csv). One line per deck and P: the largest |difference|, the deck's TOLNL, its
# ratio to 10 TOLNL, and whether the steps (their number and every step's time, csv/budget.csv)
# agree. Exit status 1 if a ratio exceeds 1 or a run fails.
#   bench/procs-heads.sh PROGRAM [PROCS]     PROCS default "2 3 4"
# SIDE (default 50) is the bench decks' surface nodes per side (the bench's own sizes are 25, 50
# and 100; 50 keeps each run under a minute); DECKS (default: all) names the decks to run, e.g.
# DECKS="dam procs"; WORK (default /tmp/nepora3d-procs-heads) holds the runs.
# The bench decks run with ISOLV -11 (BoomerAMG) on every process count; an example deck keeps
# its own solver on one process, and on several the program solves with -10 in its place (the
# solver column says so). ISOLV=S runs every deck with the selector S on every process count
# (-13: the same preconditioner on any number of processes). The real-terrain example is built
# by its run.py when Python has GDAL, gmsh and scikit-image (its spin-up, then the storm from the
# one-process spin-up's heads); otherwise its committed storm deck runs from its first guess.
set -uo pipefail
prog=$(realpath "$1")
procs=${2:-"2 3 4"}
side=${SIDE:-50}
here=$(cd "$(dirname "$0")/.." && pwd)
work=${WORK:-/tmp/nepora3d-procs-heads}
rm -rf "$work" && mkdir -p "$work"
export OMP_NUM_THREADS=1 OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
status=0

# run DECK_DIR P [ARGS]: a copy of the deck's files in DECK_DIR/pP, run there on P processes.
run() {
  local dir=$1 np=$2; shift 2
  rm -rf "$dir/p$np" && mkdir "$dir/p$np"
  find "$dir" -maxdepth 1 -type f -exec cp {} "$dir/p$np" \;
  cd "$dir/p$np"
  local rc=0
  if [ "$np" = 1 ]; then "$prog" "$@" >/dev/null 2>stderr.txt || rc=$?
  else mpiexec --oversubscribe -n "$np" "$prog" "$@" >/dev/null 2>stderr.txt || rc=$?; fi
  cd - >/dev/null
  [ "$rc" = 0 ] || echo "$dir: $np process(es): exit status $rc ($(grep -m1 nepora3d "$dir/p$np/stderr.txt"))" >&2
  return $rc
}

# compare NAME DECK_DIR: the runs on P processes against the one on one.
compare() {
  /usr/bin/python3 - "$@" $procs <<'PY' || status=1
import csv, sys, numpy as np
name, deck, procs = sys.argv[1], sys.argv[2], sys.argv[3:]
def parm_line(k):   # the fields of line k of the parameter file
    return open(f"{deck}/p1/parm").read().splitlines()[k - 1].split()
tolnl = float(parm_line(8)[3].replace("d", "e").replace("D", "E"))
isolv = int(parm_line(11)[0])
solver = f"{isolv} / -10" if isolv > -10 else str(isolv)
def heads(p):       # {time: heads} of heads.out, the final state at full precision, the steps' times
    out, key, vals = {}, None, []
    for line in open(f"{deck}/p{p}/heads.out").read().splitlines()[2:]:
        if "NSTEP" in line:
            if key is not None: out[key] = np.array(vals)
            key, vals = float(line.split()[1]), []
        else: vals += [float(v) for v in line.split()]
    if key is not None: out[key] = np.array(vals)
    final = np.genfromtxt(f"{deck}/p{p}/csv/final-state.csv", delimiter=",", names=True)["pressure_head"]
    rows = list(csv.reader(open(f"{deck}/p{p}/csv/budget.csv")))[1:]
    return out, final, [float(r[1]) for r in rows]
h1, f1, t1 = heads(1)
bad = False
for p in procs:
    try: hp, fp, tp = heads(p)
    except OSError: print(f"{name:24s} P={p}  no results"); bad = True; continue
    same = len(tp) == len(t1) and np.allclose(tp, t1, rtol=1e-12, atol=0)
    common = [k for k in h1 if k in hp]
    dout = max(np.abs(hp[k] - h1[k]).max() for k in common) if common else np.inf
    dend = np.abs(fp - f1).max() if fp.shape == f1.shape else np.inf
    d = max(dout, dend)
    ratio = d / (10 * tolnl)
    bad |= not ratio <= 1
    print(f"{name:24s} P={p}  {len(f1):7d} {len(common):2d}/{len(h1):2d}  {dout:9.2e} {dend:9.2e}"
          f"  {tolnl:7.0e} {ratio:8.2e}  {len(tp):4d}/{len(t1):4d} {tp[-1]:<9g} "
          f"{'same' if same else 'DIFFERENT'}  {solver}")
sys.exit(1 if bad else 0)
PY
}

# wanted NAME: whether DECKS names it (or is empty).
wanted() { [ -z "${DECKS:-}" ] || [[ " $DECKS " == *" $1 "* ]]; }

# deck NAME DECK_DIR [ARGS]: runs it on 1 and on PROCS processes and compares.
deck() {
  local name=$1 dir=$2 np; shift 2
  [ -z "${ISOLV:-}" ] || sed -i "11s/^[-0-9]* /$ISOLV /" "$dir/parm"
  for np in 1 $procs; do run "$dir" "$np" "$@" || status=1; done
  compare "$name" "$dir"
}

echo "deck                     P      nodes times |dh| heads.out, final  TOLNL  /10TOLNL  steps P/1 end   steps   ISOLV (1 / P)"
for ex in column-rain dam hillslope catchment catchment-routed tilted-v solute-box; do
  wanted "$ex" || continue
  mkdir -p "$work/$ex" && find "$here/examples/$ex" -maxdepth 1 -type f ! -name README.md -exec cp {} "$work/$ex" \;
  deck "$ex" "$work/$ex"
done
# The real terrain: its spin-up, then the storm from the final heads of the one on one process.
rt=$work/real-terrain
if ! wanted real-terrain; then :
elif NEPORA3D=$prog /usr/bin/python3 "$here/examples/real-terrain/run.py" "$rt/built" >"$work/real-terrain.log" 2>&1; then
  mkdir -p "$rt/spin-up" "$rt/storm"
  find "$rt/built/spin-up" -maxdepth 1 -type f -exec cp {} "$rt/spin-up" \;
  find "$rt/built" -maxdepth 1 -type f -exec cp {} "$rt/storm" \;
  deck real-terrain/spin-up "$rt/spin-up"
  deck real-terrain "$rt/storm" --initial-from "$rt/spin-up/p1"
else
  echo "real-terrain: run.py did not build the decks (see $work/real-terrain.log): the committed storm deck"
  mkdir -p "$rt" && find "$here/examples/real-terrain" -maxdepth 1 -type f ! -name README.md -exec cp {} "$rt" \;
  deck real-terrain "$rt"
fi

# The bench decks of bench/run.sh at SIDE x SIDE x 20 with ISOLV -11, the heads written at the
# start and the end (IPRT 1): bench NAME GENERATOR LAST_ARGUMENT [SED [LINES]] (SED changes the
# parameter file, LINES are added to it).
bench() {
  local name=$1 dir=$work/$1
  wanted "$name" || return 0
  "$here/bench/$2" "$dir" "$side" "$side" 20 "$3" >/dev/null
  sed -i "${4:+$4; }11s/^[-0-9]* /${ISOLV:--11} /; 16s/^0 0 0 /1 0 0 /" "$dir/parm"
  printf "${5:-}" >> "$dir/parm"
  deck "$name" "$dir"
}
bench rain gen_deck.sh 30
bench slope gen_slope.sh 10.0
bench surface-off gen_slope.sh 1.0 "2s/^1 /2 /; 3s/^0 /5 /"
bench surface-on gen_slope.sh 1.0 "2s/^1 /2 /; 3s/^0 /5 /" 'UNITS m d\nSURFACE DIFFUSION\nMANNING 0.05\n'
bench procs gen_slope.sh 1.0 "3s/^0 /5 /"
exit $status
