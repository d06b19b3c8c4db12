"""Water on the ground against independent truths:

- the kinematic wave on an impermeable plane against its analytic solution: the rising limb
  q = (S^1/2/n) (i t)^(5/3) per unit width, the equilibrium q = i L, the time it is reached and the
  recession after the rain, at two meshes (the finer closer);
- the tilted V-catchment at equilibrium: the outlet gives the rain on its whole area;
- a sloping plane with a soil: rain faster than the upper half's conductivity runs on and
  infiltrates in the lower half (nothing reaches the outlet, which it does when the lower half is as
  tight); rain slower than the conductivity over a shallow water table comes out where the table
  reaches the ground (saturation excess: the outlet flows, the soil gives water back);
- the same hydrograph on 2 processes as on one (with mpiexec).

Every run's budget closes to 1e-6 of the water that entered.

    surface.py PROGRAM [MPIEXEC]        (NEPORA_KEEP=1 keeps the runs' folders)"""
import os
import shutil
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "python"))
import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402
from nepora.deck import Deck  # noqa: E402
from nepora.mesh import rectangle  # noqa: E402

prog = os.path.abspath(sys.argv[1])
mpiexec = sys.argv[2] if len(sys.argv) > 2 else ""
tmp = tempfile.mkdtemp(prefix="nepora-surface-")
env = dict(os.environ, OMPI_ALLOW_RUN_AS_ROOT="1", OMPI_ALLOW_RUN_AS_ROOT_CONFIRM="1",
           OMPI_MCA_rmaps_base_oversubscribe="1", OMP_NUM_THREADS="1")
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def run(deck, name, section, procs=1):
    d = os.path.join(tmp, name)
    deck.write(d)
    with open(os.path.join(d, "parm"), "a") as f:
        f.write(section)
    cmd = [prog] if procs == 1 else [mpiexec, "-n", str(procs), prog]
    r = subprocess.run(cmd, cwd=d, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       text=True)
    if r.returncode != 0:
        sys.exit("%s: exit status %d\n%s" % (name, r.returncode, r.stderr[-2000:]))
    b = pd.read_csv(os.path.join(d, "csv", "budget.csv"))
    last = b.iloc[-1]
    rel = abs(last["cum_error_m3"]) / last["cum_in_m3"]
    check(rel < 1e-6, "%s: budget closes (cumulative error %.2e of the water in)" % (name, rel))
    return b, pd.read_csv(os.path.join(d, "csv", "outlets.csv"))


def plane(nx, L=100.0, S=0.01, z0=1.0, layers=(0.5,), W=2.0, split=None):
    """A plane of nx x 2 nodes falling at S to x = L; split: materials 1 above x = split, 2 below."""
    x, y, tri = rectangle(nx, 2, L, W)
    material = 1 if split is None else np.where(x[tri].mean(axis=1) < split, 1, 2)
    d = Deck()
    d.set_mesh(x, y, tri, z0 + S * (L - x), material=material)
    d.set_layers(list(layers))
    p = d.parm
    p.KSLOPE, p.IFLOW, p.UNITS = 5, 2, "m s"
    p.ITMX, p.ITMX1, p.ITMX2 = 30, 10, 20
    return d, x


def outlet_of(x, L=100.0):
    return " ".join(str(k + 1) for k in range(len(x)) if x[k] == L)


# --- The kinematic wave on an impermeable plane ---
L, S, n, i, tr, W = 100.0, 0.01, 0.03, 1e-5, 1800.0, 2.0
a = S ** 0.5 / n
te = (L / (a * i ** (2 / 3))) ** 0.6


def kinematic(nx):
    d, x = plane(nx)
    d.set_soil(K=1e-13, STORAGE=1e-6, POROSITY=0.4)
    d.initial_pressure_head(0.0)
    d.set_atmosphere([0.0, tr, tr + 1e-3, 3600.0], [i, i, 0.0, 0.0])
    p = d.parm
    p.TMAX, p.DELTAT, p.DTMIN, p.DTMAX, p.TIMPRT, p.TOLNL = 3600.0, 1.0, 1e-3, 1.0, [tr, 3600.0], 1e-8
    _, o = run(d, "kinematic-%d" % nx, "SURFACE KINEMATIC\nMANNING %g\nOUTLET NORMAL %s\n"
               % (n, outlet_of(x)))
    t, q = o["time_s"].to_numpy(), o["total_m3_s"].to_numpy() / W

    def reaches(f):  # the time q first reaches f times the equilibrium
        k = int(np.argmax(q >= f * i * L))
        return np.interp(f * i * L, q[k - 1:k + 1], t[k - 1:k + 1])

    def recession(tt):  # the outlet's depth left x0 = q/i at tr, travelling at dx/dt = 5/3 a h^(2/3)
        lo, hi = 1e-15, i * L
        for _ in range(100):
            mid = 0.5 * (lo + hi)
            if tr + (L - mid / i) / (5 / 3 * a ** 0.6 * mid ** 0.4) > tt:
                lo = mid
            else:
                hi = mid
        return mid

    if nx == 101:
        # vtk/, read by VTK: at equilibrium (the first output time) velocity times depth on the
        # ground is the rain from upslope, i x per unit width.
        import vtk
        from vtk.util.numpy_support import vtk_to_numpy
        r = vtk.vtkXMLUnstructuredGridReader()
        r.SetFileName(os.path.join(tmp, "kinematic-101", "vtk", "nepora3d_0001.vtu"))
        r.Update()
        g = r.GetOutput()
        xyz = vtk_to_numpy(g.GetPoints().GetData())
        dep = vtk_to_numpy(g.GetPointData().GetArray("ground_water_depth_m"))
        vel = vtk_to_numpy(g.GetPointData().GetArray("surface_velocity_m_s"))
        on = (xyz[:, 2] > 1.0 + S * (L - xyz[:, 0]) - 1e-6) & (xyz[:, 0] > 20) & (xyz[:, 0] < 90)
        err = np.max(np.abs(vel[on, 0] * dep[on] / (i * xyz[on, 0]) - 1))
        check(err < 0.02, "vtk/: velocity x depth on the ground is i x within %.2f %%" % (100 * err))
    rise = (t > 0.2 * te) & (t < 0.8 * te)
    limb = np.max(np.abs(q[rise] - a * (i * t[rise]) ** (5 / 3))) / (i * L)
    t98 = reaches(0.98) / (te * 0.98 ** 0.6) - 1  # the analytic limb reaches 98 % at 0.98^0.6 te
    rec = (t > tr + 60) & (t < 3600)
    recess = np.max(np.abs(q[rec] - np.array([recession(v) for v in t[rec]]))) / (i * L)
    return q.max() / (i * L) - 1, limb, t98, recess


coarse, fine = kinematic(51), kinematic(101)
for (peak, limb, t98, recess), nx in ((coarse, 51), (fine, 101)):
    print("kinematic plane, %d nodes: peak %+.3f %%, rising limb %.3f %%, time to 98 %% %+.2f %%,"
          " recession %.3f %% (of i L)" % (nx, 100 * peak, 100 * limb, 100 * t98, 100 * recess))
check(abs(fine[0]) < 0.02 and abs(fine[2]) < 0.02,
      "kinematic plane: peak and time to equilibrium within 2 %")
check(fine[1] < 0.01 and fine[3] < 0.01, "kinematic plane: rising limb and recession within 1 %")
check(all(abs(f) <= abs(c) for f, c in zip(fine, coarse)), "kinematic plane: converges with the mesh")

# --- The tilted V at equilibrium ---
vdir = os.path.join(tmp, "tilted-v")
subprocess.run([sys.executable, os.path.join(here, "..", "..", "examples", "tilted-v", "build-deck.py"),
                vdir, "--cell", "40", "--rain", "10800", "--end", "10800", "--dtmax", "120"],
               check=True, stdout=subprocess.DEVNULL)
_, o = run(Deck.read(vdir), "tilted-v", "")  # the section is the deck's
q = o["total_m3_s"].iloc[-1]
check(abs(q / 4.86 - 1) < 0.01, "tilted V: equilibrium discharge %.4f m3/s, rain x area 4.86" % q)


# --- A sloping plane with a soil ---
def soil_plane(name, lower_K, rain, depth, tight=1e-6):
    d, x = plane(26, S=0.05, z0=2.0, layers=(0.05, 0.1, 0.2, 0.4, 0.5, 0.75), split=50.0)
    d.set_soil(material=1, K=tight, STORAGE=1e-5, POROSITY=0.4)
    d.set_soil(material=2, K=lower_K, STORAGE=1e-5, POROSITY=0.4)
    d.initial_water_table(depth=depth)
    d.set_atmosphere([0.0, 3600.0, 3601.0, 7200.0], [rain, rain, 0.0, 0.0])
    p = d.parm
    p.TMAX, p.DELTAT, p.DTMIN, p.DTMAX, p.TIMPRT, p.TOLNL = 7200.0, 1.0, 1e-4, 60.0, [7200.0], 1e-7
    b, o = run(d, name, "SURFACE DIFFUSION\nMANNING 0.05\nOUTLET CRITICAL %s\n" % outlet_of(x))
    return b, o["cum_volume_m3"].iloc[-1], rain * 3600.0 * 200.0


b, out, rain = soil_plane("run-on", 1e-4, 1e-5, 1.5)
check(out < 1e-3 * rain and b["infiltration_m3"].sum() > 0.99 * rain,
      "run-on: the lower half takes what the upper half sheds (outlet %.3g m3 of %.3g m3 of rain)"
      % (out, rain))
b, out_tight, rain = soil_plane("no-run-on", 1e-6, 1e-5, 1.5)
check(out_tight > 0.1 * rain, "infiltration excess: a tight plane sheds %.3g m3 of %.3g m3" % (out_tight, rain))
b, out_sat, rain = soil_plane("saturation-excess", 1e-5, 3e-6, 0.1, tight=1e-5)
check(out_sat > 0.05 * rain and b["exfiltration_m3"].sum() < 0.0,
      "saturation excess: rain slower than the conductivity runs off (%.3g m3), the soil gives "
      "water back (%.3g m3)" % (out_sat, b["exfiltration_m3"].sum()))

# --- On two processes ---
if mpiexec and shutil.which(mpiexec):
    def two(procs):
        d, x = plane(41)
        d.set_soil(K=1e-6, STORAGE=1e-5, POROSITY=0.4)
        d.initial_water_table(depth=0.3)
        d.set_atmosphere([0.0, 1800.0, 1801.0, 3600.0], [2e-5, 2e-5, 0.0, 0.0])
        p = d.parm
        p.TMAX, p.DELTAT, p.DTMIN, p.DTMAX, p.TIMPRT, p.TOLNL = 3600.0, 1.0, 1e-4, 30.0, [3600.0], 1e-8
        p.IFLOW, p.ISOLV = 2, -10
        return run(d, "procs-%d" % procs, "SURFACE DIFFUSION\nMANNING 0.03\nOUTLET CRITICAL %s\n"
                   % outlet_of(x), procs)[1]
    o1, o2 = two(1), two(2)
    same = len(o1) == len(o2) and np.allclose(o1["total_m3_s"], o2["total_m3_s"], rtol=1e-4, atol=1e-9)
    check(same, "2 processes: the one-process hydrograph")

if os.environ.get("NEPORA_KEEP"):
    print("runs kept in", tmp)
else:
    shutil.rmtree(tmp, ignore_errors=True)
if failures:
    sys.exit("%d failed" % len(failures))
