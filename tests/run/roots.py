"""Root water uptake on a soil column against independent truths:

- wet soil (every root node between h2 and h3): the roots take the potential transpiration,
  the share of the demand given, exactly, and the ground evaporates the rest;
- drying under a strong demand and no rain: the uptake falls below the potential, and at every
  output time equals Tp sum_i w_i alpha(h_i), formed here from the heads of vtk/, the nodal volumes
  of its tetrahedra and Feddes' curve (w uniform root density times volume, normalised);
- the budget closes: the water content integrated here from vtk/ (porosity x saturation plus
  the specific storage term) changes by what entered less what left, uptake included;
- Picard and Newton take the same water;
- a FEDDES line out of order stops the run naming the file and the line.

    roots.py PROGRAM        (NEPORA_KEEP=1 keeps the runs' folders)"""
import os
import shutil
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "python"))
import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402
import vtk  # noqa: E402
from vtk.util.numpy_support import vtk_to_numpy  # noqa: E402
from nepora.deck import Deck  # noqa: E402
from nepora.mesh import rectangle  # noqa: E402

prog = os.path.abspath(sys.argv[1])
tmp = tempfile.mkdtemp(prefix="nepora-roots-")
failures = []
H1, H2, H3, H4 = -0.1, -0.25, -2.0, -20.0
FRAC, DEPTH, POR, SS = 0.7, 0.5, 0.4, 1e-5


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def column(rate, days, iflow=2, section=None):
    x, y, tri = rectangle(2, 2, 1.0, 1.0)
    d = Deck()
    d.set_mesh(x, y, tri, np.full(4, 2.0))
    d.set_layers([0.1] * 20)
    d.set_soil(K=1e-6, STORAGE=SS, POROSITY=POR)
    d.soil.PMIN = -1000.0
    d.initial_pressure_head(-1.0)
    d.set_atmosphere([0.0, 1e8], [rate, rate])
    p = d.parm
    p.IFLOW, p.UNITS = iflow, "m s"
    t = days * 86400.0
    p.TMAX, p.DELTAT, p.DTMIN, p.DTMAX, p.TOLNL = t, 100.0, 1e-2, 3600.0, 1e-9
    p.TIMPRT = [t / 4, t / 2, 3 * t / 4, t]
    return d, section or "ROOTS %g\nROOTDEPTH %g\nFEDDES %g %g %g %g\n" % (FRAC, DEPTH, H1, H2, H3, H4)


def run(deck, name, section, status=0):
    d = os.path.join(tmp, name)
    deck.write(d)
    with open(os.path.join(d, "parm"), "a") as f:
        f.write(section)
    r = subprocess.run([prog], cwd=d, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if r.returncode != status:
        sys.exit("%s: exit status %d\n%s" % (name, r.returncode, r.stderr[-2000:]))
    return d, r


def vtu(d, k):
    r = vtk.vtkXMLUnstructuredGridReader()
    r.SetFileName(os.path.join(d, "vtk", "nepora3d_%04d.vtu" % k))
    r.Update()
    g = r.GetOutput()
    xyz = vtk_to_numpy(g.GetPoints().GetData())
    cells = vtk_to_numpy(g.GetCells().GetData()).reshape(-1, 5)[:, 1:]
    vol = np.zeros(len(xyz))
    a, b, c, e = (xyz[cells[:, m]] for m in range(4))
    v = np.abs(np.einsum("ij,ij->i", b - a, np.cross(c - a, e - a))) / 6.0
    for m in range(4):
        np.add.at(vol, cells[:, m], v / 4.0)
    arr = g.GetPointData()
    return (xyz, vol, vtk_to_numpy(arr.GetArray("pressure_head_m")),
            vtk_to_numpy(arr.GetArray("saturation")))


def feddes(h):
    return np.where((h >= H1) | (h <= H4), 0.0,
                    np.where(h > H2, (H1 - h) / (H1 - H2),
                             np.where(h >= H3, 1.0, (h - H4) / (H3 - H4))))


def water(d, k):
    _, vol, h, sw = vtu(d, k)
    return np.sum(vol * (POR * sw + SS * sw * h))


def closes(d, name):
    b = pd.read_csv(os.path.join(d, "csv", "budget.csv"))
    dw = water(d, 4) - water(d, 0)
    net = b["cum_in_m3"].iloc[-1] + b["cum_out_m3"].iloc[-1]
    up = -b["cum_uptake_out_m3"].iloc[-1]
    check(abs(dw - net) < 1e-6 * abs(net) and up > 0.5 * abs(net),
          "%s: water content integrated from vtk/ changes by %.8g m3, in + out %.8g m3 "
          "(uptake %.6g m3)" % (name, dw, net, up))
    return b


# --- Wet soil: the potential rate, exactly ---
E = 2e-8  # m/s of demand on 1 m2
deck, sec = column(-E, 5)
d, _ = run(deck, "wet", sec)
b = closes(d, "wet")
tp = FRAC * E * b["dt_s"]
err = np.max(np.abs(-b["uptake_out_m3"] / tp - 1))
evap = np.max(np.abs(b["atm_flux_out_m3"] / (-(1 - FRAC) * E * b["dt_s"]) - 1))
check(err < 1e-12 and np.allclose(b["transpiration_potential_m3"], tp, rtol=1e-12, atol=0),
      "wet: uptake = potential %.3g x %.3g m/s every step (largest deviation %.1e)" % (FRAC, E, err))
check(evap < 1e-12, "wet: the ground evaporates the rest, %.3g x %.3g m/s" % (1 - FRAC, E))
_, _, h, _ = vtu(d, 4)
check(np.all((h > H3) & (h < H2)), "wet: every head stayed between h3 and h2")

# --- Drying: the uptake follows Feddes' curve ---
E = 1e-7
out = {}
for iflow in (2, 1):
    deck, sec = column(-E, 12, iflow)
    d, _ = run(deck, "dry-%d" % iflow, sec)
    b = closes(d, "dry, IFLOW %d" % iflow)
    out[iflow] = -b["cum_uptake_out_m3"].iloc[-1]
    if iflow != 2:
        continue
    rate = -b["uptake_out_m3"] / b["dt_s"]
    worst, ratios = 0.0, []
    x, y = deck.grid.X[:4], deck.grid.Y[:4]
    area = np.zeros(4)  # each surface node's third of the triangles around it
    for t in np.asarray(deck.grid.TRIANG)[:, :3] - 1:
        a = 0.5 * abs((x[t[1]] - x[t[0]]) * (y[t[2]] - y[t[0]]) - (x[t[2]] - x[t[0]]) * (y[t[1]] - y[t[0]]))
        area[t] += a / 3.0
    for k in range(1, 5):
        xyz, vol, h, _ = vtu(d, k)
        col = np.arange(len(xyz)) % 4  # node i of layer L is (L-1) NNOD + its surface node
        w = np.where(2.0 - xyz[:, 2] <= DEPTH + 1e-9, vol, 0.0)
        expect = sum(FRAC * E * area[j] * np.sum(w[col == j] * feddes(h[col == j])) / np.sum(w[col == j])
                     for j in range(4))
        got = rate.iloc[np.argmin(np.abs(b["time_s"] - deck.parm.TIMPRT[k - 1]))]
        worst = max(worst, abs(got / expect - 1))
        ratios.append(got / (FRAC * E))
    check(worst < 1e-5, "dry: uptake at the output times = Tp sum w alpha(h) from vtk/ within %.1e "
          "(actual/potential %s)" % (worst, " ".join("%.3f" % r for r in ratios)))
    check(ratios[0] > 0.9 and ratios[-1] < 0.6 and all(np.diff(ratios) < 0),
          "dry: the uptake falls as the soil dries")
check(abs(out[1] / out[2] - 1) < 1e-3, "dry: Picard takes %.6g m3, Newton %.6g m3" % (out[1], out[2]))

# --- A bad section ---
deck, _ = column(-E, 1)
d, r = run(deck, "bad", "ROOTS 0.5\nROOTDEPTH 0.5\nFEDDES -0.1 -0.25 -30 -20\n", status=1)
check("line 22" in r.stderr and "h1 > h2 >= h3 > h4" in r.stderr,
      "bad FEDDES: " + [m for m in r.stderr.splitlines() if "FEDDES" in m][0])

if os.environ.get("NEPORA_KEEP"):
    print("runs kept in", tmp)
else:
    shutil.rmtree(tmp, ignore_errors=True)
if failures:
    sys.exit("%d failed" % len(failures))
