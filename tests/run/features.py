"""Every optional feature of a deck on 1, 2 and 3 processes: each case is an example with one
feature turned on and a PETSc selector, run without mpiexec (the reference) and on 2 and 3
processes (a case with a checkpoint: stopped by SIGTERM on 2 and continued on 3), which must give
the same files (the pieces of the ParaView series apart), final heads
within 10 TOLNL and a cumulative budget within 1e-6 of the reference's. The flux through the
surface and the boundaries is that budget's; the heads are read from the final table of
root-ntupla.dat.

    features.py PROGRAM MPIEXEC [CASE...]
Exits 77 (skipped) without mpiexec."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "python"))
try:
    import numpy as np
    import nepora
except ImportError as e:
    print("%s: install python3-numpy python3-pandas python3-xarray (tools/install-deps)" % e)
    sys.exit(1)

prog, mpiexec = os.path.abspath(sys.argv[1]), sys.argv[2] if len(sys.argv) > 2 else ""
if not mpiexec or shutil.which(mpiexec) is None:
    print("mpiexec not found: skipped")
    sys.exit(77)
examples = os.path.join(here, "..", "..", "examples")
env = dict(os.environ, OMPI_ALLOW_RUN_AS_ROOT="1", OMPI_ALLOW_RUN_AS_ROOT_CONFIRM="1",
           OMPI_MCA_rmaps_base_oversubscribe="1", OMP_NUM_THREADS="1")


def example(name, **parm):
    d = nepora.Deck.read(os.path.join(examples, name))
    d.parm.ISOLV = -10
    for k, v in parm.items():
        setattr(d.parm, k, v)
    return d


def hillslope(**parm):
    return example("hillslope", TMAX=12.0, TIMPRT=[6.0, 12.0], **parm)


def curves_layer():
    d = hillslope()
    d.set_curve(layers=[1, 2, 3], VGN=3.0, VGRMC=0.05, VGPSAT=-0.3)
    return d


def curves_material():
    d = hillslope()
    d.set_curve(material=1, VGN=1.6, VGRMC=0.08, VGPSAT=-1.5)
    return d


def rain_per_node():
    d = hillslope(KSLOPE=5, UNITS="m h", IPOUT=[1, 6, 30])
    d.set_atmosphere([0.0, 6.0, 12.0], lambda t, x, y: 0.001 + 0.0002 * x)
    return d


def newton():
    return hillslope(IFLOW=2, KSLOPE=5)


def roots():
    d = hillslope(IFLOW=2, KSLOPE=5, UNITS="m h")
    d.set_atmosphere([0.0, 6.0, 12.0], lambda t, x, y: -0.0005 - 0.00002 * x * (t < 6.0))
    d.set_roots([0.8], [1.5], [-0.05, -0.2, -1.0, -20.0], shape="LINEAR")
    return d


def seepage():
    return example("dam", TMAX=2.0, TIMPRT=[1.0, 2.0])


def transport():
    return example("solute-box", ISOLVC=-10)


CASES = dict(curves_layer=curves_layer, curves_material=curves_material, rain_per_node=rain_per_node,
             newton=newton, roots=roots, seepage=seepage, transport=transport, restart=newton)


def run(d, nproc, args=(), stop_at_checkpoint=False):
    """Runs the deck in d on nproc processes (0: without mpiexec); stop_at_checkpoint: stops it
    by SIGTERM once its first checkpoint is there."""
    cmd = ([prog] if nproc == 0 else [mpiexec, "--oversubscribe", "-n", str(nproc), prog]) + list(args)
    with open(os.path.join(d, "stderr"), "w") as err:
        p = subprocess.Popen(cmd, cwd=d, env=env, stdout=subprocess.DEVNULL, stderr=err)
        if stop_at_checkpoint:
            while p.poll() is None and not os.path.exists(os.path.join(d, "nepora3d.chk")):
                time.sleep(0.02)
            p.send_signal(signal.SIGTERM)
        status = p.wait(timeout=600)
    # A run stopped by SIGTERM ends with status 143, which mpiexec may report as 1: what it left
    # is checked by the run that continues it.
    if status != 0 and not stop_at_checkpoint:
        raise SystemExit("%s on %d processes: status %d: %s" % (d, nproc, status, open(err.name).read()[-2000:]))


def files(d):
    out = set()
    for root, _, names in os.walk(d):
        for n in names:
            p = os.path.relpath(os.path.join(root, n), d)
            if p.startswith("vtk" + os.sep) or p.endswith(".chk") or ".chk.arrays" in p or p in ("stdout", "stderr"):
                continue
            out.add(p)
    return out


def final_heads(d):
    """The pressure and total heads of the last table of root-ntupla.dat, by node."""
    rows = [l.split() for l in open(os.path.join(d, "root-ntupla.dat"))]
    rows = [r for r in rows if len(r) >= 5]
    n = int(max(float(r[0]) for r in rows))
    return np.array([[float(v) for v in r[3:5]] for r in rows[-n:]])


def budget(d):
    b = nepora.Results(d).budget
    return b.iloc[-1][[c for c in b.columns if c.startswith("cum_")]].to_numpy(float)


def compare(case, ref, d, tolnl):
    if files(ref) != files(d):
        raise SystemExit("%s: other files than one process's: %s" % (case, sorted(files(ref) ^ files(d))))
    e = np.abs(final_heads(ref) - final_heads(d)).max()
    if not e <= 10 * tolnl:
        raise SystemExit("%s: final heads differ by %g (10 TOLNL = %g)" % (case, e, 10 * tolnl))
    br, bd = budget(ref), budget(d)
    scale = max(np.abs(br).max(), 1e-30)
    if not np.abs(br - bd).max() <= 1e-6 * scale:
        raise SystemExit("%s: cumulative budget %s against %s" % (case, bd, br))


def main():
    tmp = tempfile.mkdtemp()
    try:
        for case in sys.argv[3:] or CASES:
            deck = CASES[case]()
            tolnl = deck.parm.TOLNL
            ref = os.path.join(tmp, case + "-1")
            deck.write(ref)
            run(ref, 0)
            for nproc in (3,) if case == "restart" else (2, 3):
                d = os.path.join(tmp, "%s-%d" % (case, nproc))
                deck.write(d)
                if case == "restart":
                    run(d, 2, ["--checkpoint-every", "2"], stop_at_checkpoint=True)
                    run(d, 3, ["--restart", "nepora3d.chk"])
                else:
                    run(d, nproc)
                compare(case, ref, d, tolnl)
            print("%s: the same run on 1, 2 and 3 processes" % case, flush=True)
    finally:
        shutil.rmtree(tmp)


main()
