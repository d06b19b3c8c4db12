#!/usr/bin/env bash
# The benchmark: two decks run as a user runs them, each at three sizes (x4 nodes a step, the
# largest about 210,000 nodes):
#   rain     bench/gen_deck.sh  - flat, rain on a water table, 30 steps of 0.01 (storage-dominated)
#   slope    bench/gen_slope.sh - a hillslope with a water table and an outlet, steps growing to
#                                 0.5 d (tens of conjugate-gradient iterations per solve)
#   surface  the hillslope under Newton and KSLOPE 5 to 1 d, without and with the surface-flow
#            section (surface-off, surface-on): what the water on the ground adds to a step
# For each run it prints one line per figure and appends a row to results.csv in the bench
# directory: nodes, steps, nonlinear and linear iterations, time per step, per nonlinear and per
# CG iteration, peak memory per node, and the CG iteration against a memory-traffic bound (a
# STREAM-like triad measured in the same run on as many threads as the run has, and the bytes
# one iteration must move: matrix values and indices, the incomplete factor, the vectors). The
# runs write the specified files only (--no-extra-output).
# Side by side: BASE=OTHER_PROGRAM runs an earlier build on the same decks in the same run (the
# previous commit's, say) and prints the ratios; THREADS="1 2" (default: 1 and the number of
# cores) runs PROGRAM once per thread count (OMP_NUM_THREADS); DECKS="rain" (default "rain slope")
# runs one deck only. REPEAT=N (default 3) runs every program and thread count of a deck and size
# N times, taking turns, so that a slow spell of a shared machine falls on all of them alike:
# results.csv keeps every run (its last column the run's number), medians.csv (the same columns
# but that one) the median of each figure, and each ratio is taken within a turn, then the
# median of the turns printed.
# PETSc: PETSC="-10 -11" (default "-10", the default PETSc selector; "" none) runs PROGRAM on one
# thread also with each of these ISOLV values (the PETSc solvers, docs/solvers.md; "N-11": -11
# under Newton, IFLOW 2, against the deck's own scheme with the specified solver; "FS-11" and
# "NFS-11": with the inexact solves and the step control of the parameter file's nonlinear
# section, docs/solvers.md; "LNFS-11" adds the line search of Newton's updates; "F0" the specified CG with the inexact solves) in every turn,
# prints their linear iterations per solve, preconditioner set-ups and the seconds of set-ups and
# Krylov solves, and the ratio of the specified CG's time per step, and wall time, to theirs in the
# same turn.
# BIG=1 adds the hillslope at 200 x 200 surface nodes (840,000 nodes; about ten minutes a run with
# the specified CG), SLOPE_KSLOPE=5 and SLOPE_IFLOW=2 run the hillslope with the mass-conservative
# storage and under Newton.
# Processes: the deck "procs" (in DECKS by default where mpiexec is found) is the hillslope under
# Picard with KSLOPE 5 to 1 d (PROCS_TMAX) with BoomerAMG (ISOLV -11, PROCS_ISOLV), at 200 x 200
# with BIG=1 and otherwise at the largest of SIZES, run on each process count of PROCS (default
# "1 2") on one thread each (mpiexec -n P; one process is the program run alone) and on one
# process with PROCS_THREADS threads (default: the number of cores), taking turns as above. For
# each it prints the peak memory of the largest process (/usr/bin/time on every process), and the
# ratios of the one-process one-thread run to the others: time per step, nonlinear iterations and
# peak memory per process. PROCS="" leaves it out; MPIEXEC names another mpiexec. What the
# processes send each other is measured by bench/comm.sh.
#   bench/run.sh PROGRAM [SIZES]        SIZES default "25 50 100" (surface nodes per side)
set -euo pipefail
# The programs run in the decks' folders: a path given relative to here is made absolute.
absolute() {
  case $1 in
    */*) [ "${1#/}" != "$1" ] && echo "$1" || echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" ;;
    *) echo "$1" ;;
  esac
}
prog=$(absolute "$1")
sizes=${2:-"25 50 100"}
base=$(absolute "${BASE:-}")
repeat=${REPEAT:-3}
cores=$(nproc)
threads=${THREADS:-$( [ "$cores" -gt 1 ] && echo "1 $cores" || echo 1 )}
here=$(cd "$(dirname "$0")" && pwd)
root=${BENCH_DIR:-/tmp/nepora3d-bench}
rm -rf "$root"
mkdir -p "$root"
csv="$root/results.csv"
medians="$root/medians.csv"
petsc=${PETSC--10}
mpiexec=${MPIEXEC:-mpiexec}
have_mpi=$(command -v "$mpiexec" >/dev/null && echo 1 || echo 0)
procs=${PROCS-$( [ "$have_mpi" = 1 ] && echo "1 2" || echo 1 )}
procs_threads=${PROCS_THREADS:-$cores}
procs_deck=""
[ "$have_mpi" = 0 ] || [ -z "$procs" ] || procs_deck=" procs"
decks=${DECKS:-rain slope surface$procs_deck}
# The peak memory column holds, for a run on several processes, the largest process's; the last
# column (peak_others_bytes) the largest of the processes but process 0, which writes the output
# besides its share (one process: its own peak).
header="deck,side,program,threads,nodes,tetrahedra,steps,nonlinear,linear,wall_s,s_per_step,s_per_nonlinear,s_per_cg,peak_bytes_per_node,cg_bound_s,cg_over_bound,isolv,setups,setup_s,krylov_s"
echo "$header,repeat,processes,peak_others_bytes" > "$csv"

# The triad on each thread count: a run is held against the bandwidth of its own threads.
cc -O2 -fopenmp -o "$root/triad" "$here/triad.c"
declare -A triad
triad_threads="1 $threads"
[[ " $decks " != *" procs "* ]] || triad_threads="$triad_threads $procs_threads"
for nth in $triad_threads; do
  [ -n "${triad[$nth]:-}" ] && continue
  triad[$nth]=$(OMP_NUM_THREADS=$nth "$root/triad")
  echo "memory bandwidth (triad) on $nth thread(s)  ${triad[$nth]} GB/s"
done

# One run: run DECK_DIR LABEL PROGRAM THREADS REPEAT [ISOLV] [PROCESSES]
run() {
  local dir=$1 label=$2 program=$3 nth=$4 rep=$5 isolv=${6:-} np=${7:-1}
  local work="$dir/$label-t$nth"
  [ "$np" = 1 ] || work="$dir/$label-p$np-t$nth"
  rm -rf "$work"
  mkdir -p "$work"
  find "$dir" -maxdepth 1 -type f -exec cp {} "$work" \;
  cd "$work"
  # Letters before the selector: N runs it under Newton (IFLOW 2), whatever the deck's scheme;
  # F adds the line FORCING EW (inexact solves), S the line STEPCONTROL ITERATIONS, L the line
  # LINESEARCH BACKTRACK (Newton's updates cut back) to the parameter file ("NFS-11": Newton,
  # both lines, BoomerAMG; "LNFS-11" the same with the line search).
  while :; do
    case $isolv in
      N*) isolv=${isolv#N}; sed -i "2s/^[0-9]* /2 /" parm ;;
      F*) isolv=${isolv#F}; echo "FORCING EW" >> parm ;;
      S*) isolv=${isolv#S}; echo "STEPCONTROL ITERATIONS" >> parm ;;
      L*) isolv=${isolv#L}; echo "LINESEARCH BACKTRACK" >> parm ;;
      *) break ;;
    esac
  done
  [ -z "$isolv" ] || sed -i "11s/^[-0-9]* /$isolv /" parm
  local start end status=0
  start=$(date +%s.%N)
  if [ "$np" = 1 ]; then
    OMP_NUM_THREADS=$nth /usr/bin/time -v -o time.txt "$program" --no-extra-output >/dev/null 2>stderr.txt || status=$?
  else
    # Every process under its own /usr/bin/time, each writing time.RANK.txt.
    local over=""
    [ "$np" -le "$cores" ] || over=--oversubscribe
    OMP_NUM_THREADS=$nth OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 \
      "$mpiexec" $over -n "$np" sh -c 'exec /usr/bin/time -v -o "time.$OMPI_COMM_WORLD_RANK.txt" "$@"' \
      sh "$program" --no-extra-output >/dev/null 2>stderr.txt || status=$?
  fi
  end=$(date +%s.%N)
  local wall peak n nt nterm steps nl lin solver gbs=${triad[$nth]}
  wall=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
  peak=$(cat time*.txt | awk -F': ' '/Maximum resident set size/ && $2 * 1024 > m { m = $2 * 1024 } END { print m + 0 }')
  local others=$peak
  [ "$np" = 1 ] || others=$(cat time.[1-9]*.txt | awk -F': ' '/Maximum resident set size/ && $2 * 1024 > m { m = $2 * 1024 } END { print m + 0 }')
  n=$(awk '/N      \(# OF NODES IN 3-D MESH\)/ { print $NF }' out.lst)
  nt=$(awk '/NT     \(# OF TETRAHEDRA IN 3-D MESH\)/ { print $NF }' out.lst)
  nterm=$(awk '/NTERM  \(# OF NONZERO TERMS; FLOW EQ\)/ { print $NF }' out.lst)
  steps=$(awk '/TOT # OF TIME STEPS/ { print $NF }' out.lst)
  nl=$(awk '/TOT # OF NONLIN ITER FOR FLOW EQ/ { print $NF }' out.lst)
  lin=$(awk '/TOT # OF LIN ITER FOR FLOW EQ/ { print $NF }' out.lst)
  solver=$(awk '/TOT CPU FOR FLOW LINEAR SOLVER & RESIDUAL/ { print $(NF-3) }' out.lst)
  local setups setup_s krylov_s
  setups=$(awk '/TOT # OF PRECONDITIONER SETUPS/ { print $NF; exit }' out.lst)
  setup_s=$(awk '/TOT TIME FOR PRECONDITIONER SETUPS/ { print $(NF-1); exit }' out.lst)
  krylov_s=$(awk '/TOT TIME FOR KRYLOV SOLVES/ { print $(NF-1); exit }' out.lst)
  local on="$nth thread(s)"
  [ "$deck" != procs ] || on="$np process(es) x $nth thread(s)"
  echo "== $deck, $side x $side x 20, $label on $on, run $rep of $repeat: exit status $status"
  awk -v d="$deck" -v side="$side" -v label="$label" -v nth="$nth" -v n="$n" -v nt="$nt" \
      -v nterm="$nterm" -v s="$steps" -v nl="$nl" -v lin="$lin" -v w="$wall" -v peak="$peak" -v others="$others" \
      -v solver="$solver" -v gbs="$gbs" -v csv="$csv" -v rep="$rep" -v isolv="${6:-spec}" \
      -v setups="${setups:-0}" -v setup_s="${setup_s:-0}" -v krylov_s="${krylov_s:-0}" -v np="$np" \
      -v procs_deck="$( [ "$deck" = procs ] && echo 1 || echo 0 )" 'BEGIN {
      # One CG iteration: the symmetric matrix (values and column indices) and the factor in the
      # same pattern, read once by the product and twice by the two triangular solves, the row
      # pointers three times, and about ten vectors of N values read or written.
      bytes = 12 * nterm + 2 * 12 * nterm + 3 * 4 * (n + 1) + 10 * 8 * n
      bound = bytes / (gbs * 1e9)
      cg = (lin > 0) ? solver / lin : 0
      printf "nodes, tetrahedra        %d, %d\n", n, nt
      printf "steps                    %d\n", s
      printf "nonlinear iterations     %d\n", nl
      printf "CG iterations            %d (%.1f per solve)\n", lin, (nl > 0 ? lin / nl : 0)
      printf "wall time                %.3f s\n", w
      printf "time per step            %.4f s\n", w / (s > 0 ? s : 1)
      printf "time per nonlinear iter. %.4f s\n", w / (nl > 0 ? nl : 1)
      printf "time per CG iteration    %.6f s (solver phase, factorisation included)\n", cg
      printf "peak memory per node     %.0f bytes\n", peak / (n > 0 ? n : 1)
      if (procs_deck && np > 1)
        printf "peak memory per process  %.1f MiB (the largest of %d), %.1f MiB (the largest but process 0)\n", \
               peak / 1048576, np, others / 1048576
      else if (procs_deck)
        printf "peak memory per process  %.1f MiB (the largest of %d)\n", peak / 1048576, np
      if (isolv == "spec")
        printf "CG iteration / bound     %.2f (bound %.6f s for %.1f MB at %.2f GB/s)\n", \
               (bound > 0 ? cg / bound : 0), bound, bytes / 1e6, gbs
      else
        printf "PETSc (ISOLV %s)         %d set-ups, %.2f s; Krylov solves %.2f s\n", isolv, setups, \
               setup_s, krylov_s
      printf "%s,%d,%s,%d,%d,%d,%d,%d,%d,%.3f,%.6f,%.6f,%.8f,%.0f,%.8f,%.3f,%s,%d,%.2f,%.2f,%d,%d,%.0f\n", d, side, label, nth, n, nt, s, nl, lin, \
             w, w / (s > 0 ? s : 1), w / (nl > 0 ? nl : 1), cg, peak / (n > 0 ? n : 1), bound, \
             (bound > 0 ? cg / bound : 0), isolv, setups, setup_s, krylov_s, rep, np, others >> csv
    }'
  cd "$root"
}

for deck in $decks; do
  deck_sizes=$sizes
  [ "$deck" != slope ] || [ "${BIG:-0}" != 1 ] || deck_sizes="$sizes 200"
  if [ "$deck" = procs ]; then
    deck_sizes=$(printf '%s\n' $sizes | sort -n | tail -1)
    [ "${BIG:-0}" != 1 ] || deck_sizes=200
  fi
  for side in $deck_sizes; do
    dir="$root/$deck-$side"
    if [ "$deck" = procs ]; then
      procs_isolv=${PROCS_ISOLV:--11}
      "$here/gen_slope.sh" "$dir" "$side" "$side" 20 "${PROCS_TMAX:-1.0}" >/dev/null
      sed -i "3s/^0 /5 /; 11s/^[-0-9]* /$procs_isolv /" "$dir/parm"
      for rep in $(seq "$repeat"); do
        for np in $procs; do run "$dir" procs "$prog" 1 "$rep" "$procs_isolv" "$np"; done
        [ "$procs_threads" -le 1 ] || run "$dir" procs "$prog" "$procs_threads" "$rep" "$procs_isolv" 1
      done
      continue
    fi
    if [ "$deck" = surface ]; then
      # The hillslope under Newton with KSLOPE 5 (to 1 d), without and with the surface-flow
      # section: what the water on the ground adds to a step.
      "$here/gen_slope.sh" "$dir" "$side" "$side" 20 "${SURFACE_TMAX:-1.0}" >/dev/null
      sed -i "2s/^1 /2 /; 3s/^0 /5 /" "$dir/parm"
      mkdir -p "$dir/on"
      cp "$dir"/* "$dir/on" 2>/dev/null || true
      printf 'UNITS m d\nSURFACE DIFFUSION\nMANNING 0.05\n' >> "$dir/on/parm"
      for rep in $(seq "$repeat"); do
        run "$dir" surface-off "$prog" 1 "$rep"
        run "$dir/on" surface-on "$prog" 1 "$rep"
      done
      continue
    fi
    if [ "$deck" = rain ]; then "$here/gen_deck.sh" "$dir" "$side" "$side" 20 30 >/dev/null
    else
      "$here/gen_slope.sh" "$dir" "$side" "$side" 20 10.0 >/dev/null
      sed -i "2s/^1 /${SLOPE_IFLOW:-1} /; 3s/^0 /${SLOPE_KSLOPE:-0} /" "$dir/parm"
    fi
    for rep in $(seq "$repeat"); do
      [ -z "$base" ] || run "$dir" base "$base" 1 "$rep"
      for nth in $threads; do run "$dir" new "$prog" "$nth" "$rep"; done
      for isolv in $petsc; do run "$dir" "petsc$isolv" "$prog" 1 "$rep" "$isolv"; done
    done
  done
done
echo "== CSV: $csv"
cat "$csv"

# The median of a list of numbers separated by blanks (awk).
median_fn='
function median(s,   a, n, i, j, t) {
  n = split(s, a, " ")
  for (i = 2; i <= n; i++) {
    t = a[i] + 0
    for (j = i - 1; j >= 1 && a[j] + 0 > t; j--) a[j + 1] = a[j]
    a[j + 1] = t
  }
  return (n % 2) ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
}'

# The median of every figure over the runs of each deck, size, program, thread and process count,
# in the order of their first run.
awk -F, -v header="$header,processes" "$median_fn"'
NR > 1 {
  g = $1 "," $2 "," $3 "," $4 SUBSEP $22
  if (!(g in runs)) order[++ng] = g
  runs[g]++
  for (c = 5; c <= 20; c++) if (c != 17) v[g, c] = v[g, c] " " $c
  iso[g] = $17
} END {
  print header
  for (k = 1; k <= ng; k++) {
    g = order[k]; split(g, gg, SUBSEP)
    printf "%s,%d,%d,%d,%d,%d,%.3f,%.6f,%.6f,%.8f,%.0f,%.8f,%.3f,%s,%d,%.2f,%.2f,%d\n", gg[1], median(v[g, 5]), \
           median(v[g, 6]), median(v[g, 7]), median(v[g, 8]), median(v[g, 9]), median(v[g, 10]), \
           median(v[g, 11]), median(v[g, 12]), median(v[g, 13]), median(v[g, 14]), \
           median(v[g, 15]), median(v[g, 16]), iso[g], median(v[g, 18]), median(v[g, 19]), \
           median(v[g, 20]), gg[2]
  }
}' "$csv" > "$medians"
echo "== medians of $repeat run(s): $medians"
cat "$medians"
awk -F, 'NR > 1 && $1 == "surface" { s[$2, $3] = $11; n[$2, $3] = $12; sides[$2] = 1 }
END {
  for (side in sides) if (s[side, "surface-off"] > 0 && n[side, "surface-off"] > 0)
    printf "== surface flow, side %s: time per step x%.3f, per nonlinear iteration x%.3f (with the section over without)\n", \
           side, s[side, "surface-on"] / s[side, "surface-off"], n[side, "surface-on"] / n[side, "surface-off"]
}' "$medians"

# Ratios per deck and size: the earlier build against this one on one thread, and this one on one
# thread against the most threads; time per nonlinear iteration, per step and peak memory. Each
# is taken within a turn of runs, close in time, and the median of the turns is printed, with
# the ratio of every turn.
awk -F, "$median_fn"'
NR > 1 {
  k = $1 "," $2; r = $21; key[k] = 1; turns[k] = r > turns[k] ? r : turns[k]
  if ($1 == "procs") {
    # Processes and threads: the run on one process and one thread against each other.
    c = $22 "," $4
    if (c == "1,1") { q1[k, r] = $11; qn1[k] = $8; ql1[k] = $9; qm1[k, r] = $14; qo1[k, r] = $23; next }
    if (!((k, c) in qc)) { qc[k, c] = 1; qo[k, ++nq[k]] = c }
    qs[k, c, r] = $11; qn[k, c] = $8; ql[k, c] = $9; qm[k, c, r] = $14; qx[k, c, r] = $23
    next
  }
  if ($3 ~ /^petsc/) {
    p = $17; pk[k, p] = 1; ps[k, p, r] = $11; pw[k, p, r] = $10; pn[k, p] = $8; pl[k, p] = ($8 > 0 ? $9 / $8 : 0)
    pm[k, p, r] = $14; next
  }
  if ($3 == "base") { bt[k, r] = $12; bs[k, r] = $11; bm[k, r] = $14; bn[k] = $8 }
  else if ($4 == 1) { t1[k, r] = $12; s1[k, r] = $11; w1[k, r] = $10; m1[k, r] = $14; n1[k] = $8; l1[k] = ($8 > 0 ? $9 / $8 : 0) }
  if ($3 == "new" && $4 >= mx[k]) { mx[k] = $4; tm[k, r] = $12 }
} END {
  print "== ratios (time per nonlinear iteration; > 1 is faster; median of the turns, then each turn)"
  for (k in key) {
    # Time per step on one process and one thread over that of P processes or T threads, the
    # nonlinear iterations of the other over those of one, the peak memory of its largest
    # process over that of one.
    for (i = 1; i <= nq[k]; i++) {
      c = qo[k, i]; split(c, cc, ","); qs1 = ""; qmm = ""; qxx = ""
      for (r = 1; r <= turns[k]; r++) if (qs[k, c, r] > 0 && q1[k, r] > 0) {
        qs1 = qs1 " " sprintf("%.2f", q1[k, r] / qs[k, c, r]); qmm = qmm " " qm[k, c, r] / qm1[k, r]
        if (qo1[k, r] > 0) qxx = qxx " " qx[k, c, r] / qo1[k, r]
      }
      if (qs1 == "") continue
      what = (cc[1] > 1) ? sprintf("1 process/%d processes", cc[1]) : sprintf("1 thread/%d threads", cc[2])
      printf "%s: %s per step %.2f (%s); nonlinear iterations %d vs %d (%.3f); linear %d vs %d; peak memory per process %.2f%s\n", \
             k, what, median(qs1), substr(qs1, 2), qn[k, c], qn1[k], (qn1[k] > 0 ? qn[k, c] / qn1[k] : 0), \
             ql[k, c], ql1[k], median(qmm), \
             (cc[1] > 1 && qxx != "") ? sprintf(" (%.2f but process 0)", median(qxx)) : ""
    }
    if (k ~ /^procs,/) continue
    b = ""; st = ""; mem = ""; th = ""
    for (r = 1; r <= turns[k]; r++) {
      if (bt[k, r] > 0 && t1[k, r] > 0) {
        b = b " " sprintf("%.2f", bt[k, r] / t1[k, r]); st = st " " bs[k, r] / s1[k, r]
        mem = mem " " bm[k, r] / m1[k, r]
      }
      if (mx[k] > 1 && t1[k, r] > 0 && tm[k, r] > 0) th = th " " sprintf("%.2f", t1[k, r] / tm[k, r])
    }
    line = k ":"
    if (b != "")
      line = line sprintf(" base/new %.2f (%s; per step %.2f, memory %.2f, nonlinear iterations %d vs %d);", \
                          median(b), substr(b, 2), median(st), median(mem), bn[k], n1[k])
    if (th != "") line = line sprintf(" 1 thread/%d threads %.2f (%s)", mx[k], median(th), substr(th, 2))
    print line
    # The PETSc selectors against the specified CG on one thread, per step.
    for (q in pk) {
      split(q, qq, SUBSEP); if (qq[1] != k) continue
      p = qq[2]; ps1 = ""; pw1 = ""; pmm = ""
      for (r = 1; r <= turns[k]; r++) if (ps[k, p, r] > 0 && s1[k, r] > 0) {
        ps1 = ps1 " " sprintf("%.2f", s1[k, r] / ps[k, p, r]); pmm = pmm " " pm[k, p, r] / m1[k, r]
        pw1 = pw1 " " sprintf("%.2f", w1[k, r] / pw[k, p, r])
      }
      if (ps1 != "")
        printf "%s: CG/PETSc ISOLV %s per step %.2f (%s), wall %.2f (%s); memory %.2f; linear iterations per solve %.1f vs %.1f, nonlinear %d vs %d\n", \
               k, p, median(ps1), substr(ps1, 2), median(pw1), substr(pw1, 2), median(pmm), pl[k, p], l1[k], pn[k, p], n1[k]
    }
  }
}' "$csv" | sort
