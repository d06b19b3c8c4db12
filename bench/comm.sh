#!/usr/bin/env bash
# What the processes of a run say to each other, and how long they spend at it: the bench
# hillslope (bench/gen_slope.sh, SIDE x SIDE x 20 to 1 d, Picard KSLOPE 5, BoomerAMG ISOLV -11)
# run once on one process and once on P under PETSc's -log_view (ascii_info_detail: every
# process's events by name) and the MPI timer bench/mpitime.c (LD_PRELOAD), with hypre's
# statistics of its hierarchy. It prints, per process: the rows owned, the halo of the matrix
# product (ghost rows, messages and bytes each way per Krylov iteration), the reductions per
# Krylov iteration, the gather of the whole solution after every solve (bytes each way per
# solve), hypre's own messages (those that are not PETSc's: the V-cycles and set-ups), the time of
# the solver's events on 1 and on P processes, and the time inside MPI by kind of call.
# PETSc's messages use persistent requests, which the MPI timer times (MPI_Startall, the waits)
# but does not size: their bytes are PETSc's counts.
#   bench/comm.sh PROGRAM [SIDE] [P]      SIDE default 100 (210,000 nodes), P default 2
# BENCH_DIR (default /tmp/nepora3d-comm) holds the runs: logview.txt, mpitime.RANK.txt, stdout.txt
# (hypre's statistics) in p1/ and pP/.
set -euo pipefail
prog=$1
side=${2:-100}
np=${3:-2}
here=$(cd "$(dirname "$0")" && pwd)
root=${BENCH_DIR:-/tmp/nepora3d-comm}
mpiexec=${MPIEXEC:-mpiexec}
rm -rf "$root"
mkdir -p "$root"
mpicc -O2 -shared -fPIC -o "$root/mpitime.so" "$here/mpitime.c"
"$here/gen_slope.sh" "$root/deck" "$side" "$side" 20 1.0
sed -i "3s/^0 /5 /; 11s/^[-0-9]* /${COMM_ISOLV:--11} /" "$root/deck/parm"
over=""
[ "$np" -le "$(nproc)" ] || over=--oversubscribe
for p in 1 "$np"; do
  work="$root/p$p"
  mkdir -p "$work"
  find "$root/deck" -maxdepth 1 -type f -exec cp {} "$work" \;
  cd "$work"
  start=$(date +%s.%N)
  OMP_NUM_THREADS=1 OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 \
    "$mpiexec" $over -n "$p" env LD_PRELOAD="$root/mpitime.so" MPITIME_PREFIX="$work/mpitime" \
    "$prog" --no-extra-output . -log_view :logview.txt:ascii_info_detail \
    -pc_hypre_boomeramg_print_statistics 1 > stdout.txt 2> stderr.txt
  end=$(date +%s.%N)
  echo "== $p process(es): $(tail -2 stderr.txt | head -1 | sed 's/^nepora3d: //')"
  awk -v a="$start" -v b="$end" 'BEGIN { printf "wall time under mpiexec %.2f s\n", b - a }'
  [ "$p" = 1 ] && [ "$np" = 1 ] && break
done
cd "$root"

# The report, with the Python 3 of the tools and tests (Debian's, where its packages are).
"$("$here/../tools/install-deps" --python)" - "$root" "$np" <<'PY'
import glob, re, sys
root, P = sys.argv[1], int(sys.argv[2])

def load(p):
    env = {}
    exec(open(f"{root}/p{p}/logview.txt").read(), env)
    return env["Stages"]["Main Stage"]

def ev(st, name, rank):
    return st.get(name, {}).get(rank, {"count": 0, "time": 0.0, "numMessages": 0.0,
                                       "messageLength": 0.0, "numReductions": 0.0})

def mpitime(p, rank):
    calls, head = {}, ""
    with open(f"{root}/p{p}/mpitime.{rank}.txt") as f:
        head = f.readline().strip()
        f.readline()
        for line in f:
            name, count, sec, nbytes = line.split()
            calls[name] = (int(count), float(sec), float(nbytes))
    wall = float(re.search(r"wall ([0-9.]+)", head).group(1))
    return wall, calls

listing = open(f"{root}/p{P}/out.lst").read()
N = int(re.search(r"N      \(# OF NODES IN 3-D MESH\)\s+.*?(\d+)\s*$", listing, re.M).group(1))
stats = open(f"{root}/p{P}/stdout.txt").read()
levels = re.findall(r"Num levels = (\d+)", stats)
s1, sP = load(1), load(P)

print(f"== {N} nodes; hypre's hierarchy: {', '.join(sorted(set(levels))) or '?'} levels")
print("== the solver's events (max over the processes, s): 1 process | %d processes" % P)
for name in ["KSPSolve", "PCSetUp", "PCApply", "MatMult", "VecTDot", "VecNorm", "VecScatterEnd  "]:
    t1 = max(ev(s1, name, r)["time"] for r in range(1))
    tP = max(ev(sP, name, r)["time"] for r in range(P))
    print(f"  {name.strip():16s} {t1:9.3f} | {tP:9.3f}   ({ev(sP, name, 0)['count']} calls)")

SENDS = ("MPI_Send", "MPI_Isend", "MPI_Issend", "MPI_Sendrecv")
WAITS = ("MPI_Recv", "MPI_Wait", "MPI_Waitall", "MPI_Waitany", "MPI_Waitsome", "MPI_Test",
         "MPI_Testall", "MPI_Testany", "MPI_Testsome", "MPI_Probe", "MPI_Iprobe", "MPI_Start",
         "MPI_Startall", "MPI_Irecv") + SENDS
for r in range(P):
    mm, sc, ksp = ev(sP, "MatMult", r), ev(sP, "VecScatterBegin", r), ev(sP, "KSPSolve", r)
    pc = ev(sP, "PCApply", r)
    its = pc["count"]  # one preconditioner application a Krylov iteration
    # PETSc counts every message twice, sent and received: half of it goes each way.
    halo = mm["messageLength"] / 2 / max(mm["count"], 1)
    neigh = mm["numMessages"] / 2 / max(mm["count"], 1)
    # The scatters are the products' and the gathers, with the first messages of their set-ups.
    setup = ev(sP, "SFSetUp", r)["messageLength"]
    gather = (sc["messageLength"] - mm["messageLength"] - setup) / 2 / max(ksp["count"], 1)
    wall, calls = mpitime(P, r)
    hyp_bytes = sum(calls.get(c, (0, 0, 0))[2] for c in SENDS)
    hyp_msgs = sum(calls.get(c, (0, 0, 0))[0] for c in SENDS)
    t_p2p = sum(calls[c][1] for c in calls if c in WAITS)
    t_coll = sum(calls[c][1] for c in calls if c not in WAITS)
    red = calls.get("MPI_Allreduce", (0, 0.0, 0))
    print(f"== process {r} of {P}")
    print(f"  matrix product halo   {halo:,.0f} bytes each way ({halo / 8:,.0f} ghost rows, "
          f"{neigh:.1f} neighbours) per product, {mm['count']} products")
    print(f"  reductions            {ksp['numReductions'] / max(its, 1):.2f} per Krylov iteration "
          f"({its} iterations in {ksp['count']} solves)")
    print(f"  gather of the solution {gather:,.0f} bytes each way per solve (N x 8 = {8 * N:,})")
    print(f"  hypre and the rest    {hyp_bytes / 1e6:,.1f} MB in {hyp_msgs:,} messages sent "
          f"(not PETSc's persistent ones), {hyp_bytes / max(its, 1) / 1e3:,.1f} kB per iteration")
    print(f"  time in MPI           {t_p2p + t_coll:.2f} s of {wall:.2f} s "
          f"({100 * (t_p2p + t_coll) / wall:.1f} %): point-to-point {t_p2p:.2f} s, "
          f"collectives {t_coll:.2f} s ({red[0]} MPI_Allreduce, {red[1]:.2f} s)")
PY
