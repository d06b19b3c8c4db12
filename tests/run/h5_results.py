"""The HDF5 results file (--results h5) against the ParaView series of the same run, on 1 and
2 processes; on 3 processes alone (no vtk/) and continued from a checkpoint taken on 2, against
a run on one process; its XDMF description through ParaView's own reader when pvpython is there.

    h5_results.py PROGRAM MPIEXEC
Without mpiexec the runs on several processes are left out (said on standard output)."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "python"))
try:
    import numpy as np
    import xarray as xr
    import h5py
    import nepora
except ImportError as e:
    print("%s: install python3-numpy python3-xarray python3-h5py (tools/install-deps)" % e)
    sys.exit(1)

prog, mpiexec = os.path.abspath(sys.argv[1]), sys.argv[2] if len(sys.argv) > 2 else ""
if mpiexec and shutil.which(mpiexec) is None:
    mpiexec = ""
env = dict(os.environ, OMPI_ALLOW_RUN_AS_ROOT="1", OMPI_ALLOW_RUN_AS_ROOT_CONFIRM="1",
           OMPI_MCA_rmaps_base_oversubscribe="1", OMP_NUM_THREADS="1")
examples = os.path.join(here, "..", "..", "examples")


def fail(msg):
    raise SystemExit("h5_results: " + msg)


def run(d, nproc, args, stop_at_checkpoint=False):
    cmd = ([prog] if nproc == 0 else [mpiexec, "--oversubscribe", "-n", str(nproc), prog]) + list(args)
    with open(os.path.join(d, "stderr"), "w") as err:
        p = subprocess.Popen(cmd, cwd=d, env=env, stdout=subprocess.DEVNULL, stderr=err)
        if stop_at_checkpoint:
            while p.poll() is None and not os.path.exists(os.path.join(d, "nepora3d.chk")):
                time.sleep(0.02)
            p.send_signal(signal.SIGTERM)
        status = p.wait(timeout=600)
    if status != 0 and not stop_at_checkpoint:
        fail("%s on %d processes: status %d: %s" % (d, nproc, status, open(err.name).read()[-2000:]))


def same_as_series(d):
    """The Dataset read from the HDF5 file is the one read from the .vtu files (the same
    float32 values, mesh, times and steps)."""
    a = nepora.Results(d, source="vtk").dataset
    b = nepora.Results(d, source="h5").dataset
    try:
        xr.testing.assert_identical(a, b)
    except AssertionError as e:
        fail("%s: the HDF5 file and the ParaView series differ: %s" % (d, e))
    return a


def xdmf_times(d):
    """The times the description lists, each with DataItems that name datasets of the file of
    the stated shapes."""
    root = ET.parse(os.path.join(d, "h5", "nepora3d.xdmf")).getroot()
    times = []
    with h5py.File(os.path.join(d, "h5", "nepora3d.h5"), "r") as f:
        for g in root.iter("Grid"):
            t = g.find("Time")
            if t is None:
                continue
            times.append(float(t.get("Value")))
            for item in g.iter("DataItem"):
                name, path = item.text.split(":")
                shape = tuple(int(v) for v in item.get("Dimensions").split())
                if name != "nepora3d.h5" or path not in f or f[path].shape != shape:
                    fail("%s: the description names %s %s, not in the file" % (d, item.text, shape))
    return np.array(times)


def through_paraview(d, ds):
    """ParaView's XDMF reader gives the times and, at each, the arrays of the Dataset."""
    pv = shutil.which("pvpython")
    if pv is None:
        print("pvpython not found (Debian: paraview): the description not read by ParaView")
        return
    out = os.path.join(d, "pv.npz")
    script = (
        "import sys, numpy as np\n"
        "from paraview.simple import Xdmf3ReaderS\n"
        "from paraview import servermanager as sm\n"
        "from vtkmodules.numpy_interface import dataset_adapter as dsa\n"
        "r = Xdmf3ReaderS(FileName=[sys.argv[1]])\n"
        "arrays = {'times': np.array(r.TimestepValues)}\n"
        "for k, t in enumerate(r.TimestepValues):\n"
        "    r.UpdatePipeline(t)\n"
        "    w = dsa.WrapDataObject(sm.Fetch(r))\n"
        "    arrays['points'] = np.array(w.Points)\n"
        "    for n in ('pressure_head', 'saturation', 'darcy_velocity'):\n"
        "        arrays['%s_%d' % (n, k)] = np.array(w.PointData[n])\n"
        "    arrays['element_velocity_%d' % k] = np.array(w.CellData['element_velocity'])\n"
        "np.savez(sys.argv[2], **arrays)\n")
    subprocess.run([pv, "-c", script, os.path.join(d, "h5", "nepora3d.xdmf"), out], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
    a = np.load(out)
    if not np.array_equal(a["times"], ds["time"].values):
        fail("ParaView reads the times %s, not %s" % (a["times"], ds["time"].values))
    if not np.array_equal(a["points"], np.stack([ds.x, ds.y, ds.z], axis=1)):
        fail("ParaView reads other points")
    for k in range(len(a["times"])):
        for n in ("pressure_head", "saturation", "darcy_velocity", "element_velocity"):
            if not np.array_equal(a["%s_%d" % (n, k)], ds[n].values[k]):
                fail("ParaView reads another %s at time %d" % (n, k))


def main():
    deck = nepora.Deck.read(os.path.join(examples, "hillslope"))
    deck.parm.ISOLV = -10
    deck.parm.IFLOW, deck.parm.KSLOPE = 2, 5
    deck.parm.TMAX, deck.parm.TIMPRT = 12.0, [3.0, 6.0, 9.0, 12.0]
    tmp = tempfile.mkdtemp()
    try:
        ref = os.path.join(tmp, "one")
        deck.write(ref)
        run(ref, 0, ["--results", "vtk,h5"])
        ds = same_as_series(ref)
        if not np.array_equal(xdmf_times(ref), ds["time"].values):
            fail("the description lists other times than the series")
        through_paraview(ref, ds)
        print("one process: the HDF5 file holds the series' values, ParaView reads them", flush=True)
        if not mpiexec:
            print("mpiexec not found: no run on several processes")
            return
        d = os.path.join(tmp, "two")
        deck.write(d)
        run(d, 2, ["--results=h5,vtk"])
        same_as_series(d)
        # On 3 processes without vtk/, and continued on 3 from a checkpoint taken on 2: the mesh
        # of one process, the times and steps, the heads within the solver's tolerance.
        tol = 10 * deck.parm.TOLNL
        for name, steps in (("three", [(3, ["--results", "h5"])]),
                            ("restart", [(2, ["--results", "h5", "--checkpoint-every", "2"]),
                                         (3, ["--results", "h5", "--restart", "nepora3d.chk"])])):
            d = os.path.join(tmp, name)
            deck.write(d)
            for k, (n, args) in enumerate(steps):
                run(d, n, args, stop_at_checkpoint=k + 1 < len(steps))
            if os.path.exists(os.path.join(d, "vtk")):
                fail("%s: --results h5 made vtk/" % name)
            b = nepora.Results(d).dataset
            for c in ("x", "y", "z", "tetrahedron_nodes", "material", "layer", "time", "step"):
                if not np.array_equal(ds[c].values, b[c].values):
                    fail("%s: %s differs from one process's" % (name, c))
            e = float(np.abs(ds.pressure_head - b.pressure_head).max())
            if not e <= tol:
                fail("%s: pressure heads differ by %g from one process's (10 TOLNL = %g)" % (name, e, tol))
            if not np.array_equal(xdmf_times(d), ds["time"].values):
                fail("%s: the description lists other times" % name)
            print("%s: the file of one process within %.2g" % (name, e), flush=True)
    finally:
        shutil.rmtree(tmp)


main()
