"""Spin-up: the steady state of a column reached by pseudo-transient continuation, and a run
started from the final state of another.

- No flow at the top, the potential head 0 at the bottom: from the deck's far initial state
  (potential head -2) the continuation ends (exit 0) hydrostatic, p = -z, within 10 TOLNL.
- 1 mm/h of rain on the 1 m2 top: the steady state passes it out at the bottom (a steady state
  of pseudo-time, whose storage change is within 1e-4 of the through-flow).
- A linear solve that fails (CG held to 5 iterations) fails its pseudo-time step, which is taken
  again shorter, and the continuation ends at the steady state of the unhindered run.
- A catchment whose steady step diverges goes on in pseudo-time (without --pseudo-transient) to
  a steady state whose outflow is its recharge; it ends on the steady step, at the same heads with
  the specified solver and with PETSc's default selector.
- A run of 8 h under 1 mm/h at a fixed step ends with the heads of a run of 4 h continued for 4 h from the
  final state of the first (--initial-from), bit for bit; a final state of another mesh is
  refused, naming the file.

    spinup.py PROGRAM"""
import os
import re
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "python"))
import numpy as np
import pandas as pd
import nepora

prog = os.path.abspath(sys.argv[1])
column = os.path.join(here, "..", "cases", "column")
failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what)
    if not ok:
        failures.append(what)


def run(deck, path, *options):
    deck.write(path)
    p = subprocess.run([prog, path, "--progress-every", "0"] + list(options),
                       capture_output=True, text=True)
    return p.returncode, p.stderr


def final(path):
    return pd.read_csv(os.path.join(path, "csv", "final-state.csv"), float_precision="round_trip")


tmp = tempfile.mkdtemp(prefix="spinup-")

# Steady states by continuation.
for rain in (0.0, 0.001):
    d = nepora.Deck.read(column)
    d.parm.DELTAT = 1.0e10
    d.parm.TIMPRT = []
    d.set_atmosphere(times=[0.0], rates=[rain])
    path = os.path.join(tmp, "steady-%g" % rain)
    status, err = run(d, path, "--pseudo-transient")
    check(status == 0 and "steady state solved" in err, "rain %g: exit %d, steady" % (rain, status))
    f = final(path)
    if rain == 0.0:
        dev = np.abs(f.pressure_head + f.z).max()
        check(dev < 10 * d.parm.TOLNL, "hydrostatic within 10 TOLNL (largest |p + z| %.2e)" % dev)
    else:
        # The last step's volumes: what fell on the 1 m2 of the top left at the bottom.
        m = re.search(r"steady state: in (\S+), out (\S+),", err)
        vin, vout = (float(m.group(1)), float(m.group(2))) if m else (0.0, 0.0)
        check(abs(vin - 0.001) <= 1e-9 and abs(vin + vout) <= 2e-4 * vin,
              "in 1 mm/h on 1 m2, out at the bottom, to 2e-4 (in %g, out %g)" % (vin, vout))

# The 1 mm/h column again, its CG held to 5 iterations: the large steps' solves fail (a stop in a
# transient run) and are taken again shorter.
d = nepora.Deck.read(column)
d.parm.DELTAT, d.parm.TIMPRT, d.parm.ITCGSY = 1.0e10, [], 5
d.set_atmosphere(times=[0.0], rates=[0.001])
path = os.path.join(tmp, "held")
status, err = run(d, path, "--pseudo-transient")
fails = re.search(r"LINEAR SOLVER FAILURES\s*:\s*(\d+)", open(os.path.join(path, "out.lst")).read())
dev = (np.abs(final(path).pressure_head - final(os.path.join(tmp, "steady-0.001")).pressure_head).max()
       if status == 0 else 1.0)
check(status == 0 and fails and int(fails.group(1)) > 0 and dev < 10 * d.parm.TOLNL,
      "failed solves taken again shorter: exit %d, %s failures, %.1e from the steady heads" %
      (status, fails.group(1) if fails else "no", dev))

# A catchment whose one steady step diverges (past ERNLMX) goes on in pseudo-time unasked: the
# real terrain under a recharge of 2e-5 m/h, the surface flow off.
d = nepora.Deck.read(os.path.join(here, "..", "..", "examples", "real-terrain"))
d.surface.ON = False
d.set_atmosphere([0.0, 1e20], [2e-5, 2e-5])
d.parm.DELTAT, d.parm.TIMPRT = 1e10, []
status, err = run(d, os.path.join(tmp, "catchment"))
m = re.search(r"steady state: in (\S+), out (\S+),", err)
vin, vout = (float(m.group(1)), float(m.group(2))) if m else (0.0, 0.0)
check(status == 0 and vin > 0 and abs(vin + vout) <= 1e-4 * vin,
      "catchment: exit %d after the steady step diverged, out %g of in %g" % (status, vout, vin))
# The continuation ends on the steady step, whose heads do not depend on the path: PETSc's default
# selector (whose iterations fail on the steady matrix, and go on a direct factor) ends where the
# specified BiCGSTAB does, far within the 1e-5 to 1e-4 m by which pseudo-time steps found steady
# differ.
d.parm.ISOLV = -10
status_p, _ = run(d, os.path.join(tmp, "catchment-petsc"))
steady = [("AND THE STEADY STEP" in open(os.path.join(tmp, c, "out.lst")).read())
          for c in ("catchment", "catchment-petsc")]
dev = (np.abs(final(os.path.join(tmp, "catchment")).pressure_head -
              final(os.path.join(tmp, "catchment-petsc")).pressure_head).max()
       if status_p == 0 else 1.0)
check(status_p == 0 and all(steady) and dev < 0.01 * d.parm.TOLNL,
      "catchment: the steady step ends both solvers' runs, %.1e apart" % dev)
# PETSc's ILU(0) from a zero guess: the first pseudo-time step's solve fails on the factor of the
# failed steady step (500 iterations) and converges on a new one (2 more): a converged solve, not
# a failure past ITCGNS.
status_i, err_i = run(d, os.path.join(tmp, "catchment-ilu"), "-pc_type", "ilu", "-ksp_knoll", "0")
dev = (np.abs(final(os.path.join(tmp, "catchment")).pressure_head -
              final(os.path.join(tmp, "catchment-ilu")).pressure_head).max()
       if status_i == 0 else 1.0)
check(status_i == 0 and dev < 0.01 * d.parm.TOLNL,
      "catchment: a solve converged after a new set-up goes on (exit %d, %.1e apart)" % (status_i, dev))

# A run continued from the final state of another.
d = nepora.Deck.read(column)
d.parm.DELTAT, d.parm.DTMIN, d.parm.DTMAGM, d.parm.DTMAGA = 0.125, 1e-3, 1.0, 0.0
d.parm.TIMPRT = []
d.parm.TMAX = 8.0
d.set_atmosphere(times=[0.0], rates=[0.001])
status_a, _ = run(d, os.path.join(tmp, "a"))
d.parm.TMAX = 4.0
status_b, _ = run(d, os.path.join(tmp, "b"))
d.parm.TIMEP, d.parm.TMAX = 4.0, 8.0
d.initial_from(nepora.Results(os.path.join(tmp, "b")))
try:
    nepora.run(d, os.path.join(tmp, "c"), program=prog, progress=False)
    status_c = 0
except nepora.RunError as e:
    status_c = e.status
a, c = final(os.path.join(tmp, "a")), final(os.path.join(tmp, "c"))
check(status_a == status_b == status_c == 0, "three runs exit 0")
check(np.array_equal(a.pressure_head.values, c.pressure_head.values),
      "8 h equal 4 h + 4 h from the final state, bit for bit (largest difference %.1e)" %
      np.abs(a.pressure_head - c.pressure_head).max())

other = os.path.join(tmp, "other")
d = nepora.Deck.read(os.path.join(here, "..", "cases", "box"))
status, err = run(d, other, "--initial-from", os.path.join(tmp, "a"))
check(status == 1 and "final-state.csv" in err and "another mesh" in err,
      "another mesh refused: " + err.strip().splitlines()[0] if err.strip() else "(no message)")

sys.exit(1 if failures else 0)
