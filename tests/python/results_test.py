#!/usr/bin/env python3
"""The files of vtk/ and csv/ read by real readers (VTK's XML reader, pandas, numpy) and held
against the specified files of the same run: root-ntupla.dat, test-vel.dat, the nodal files, the
hydrographs, the mass-balance file, the vertical profiles and the main listing.

    results_test.py vtk|csv|plot PROGRAM

A reader that is not installed fails the test with the name of its Debian package
(tools/install-deps installs them)."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

SRC = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def missing(package, error):
    sys.exit("%s: %s (Debian: %s; tools/install-deps test installs it)" % (sys.executable, error, package))


try:
    import numpy as np
except ImportError as e:
    missing("python3-numpy", e)


def run_deck(case, tmp, program, parm_lines=None):
    """Copies tests/cases/CASE (with lines of parm replaced) and runs PROGRAM there."""
    d = os.path.join(tmp, case)
    shutil.copytree(os.path.join(SRC, "tests", "cases", case), d)
    if parm_lines:
        lines = open(os.path.join(d, "parm")).read().splitlines()
        for n, text in parm_lines.items():
            lines[n - 1] = text
        open(os.path.join(d, "parm"), "w").write("\n".join(lines) + "\n")
    r = subprocess.run([program], cwd=d, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    assert r.returncode == 0, (case, r.returncode, r.stderr)
    return d, r.stderr


def named(d, line):
    """The file named on a line of nepora3d.fnames."""
    return os.path.join(d, open(os.path.join(d, "nepora3d.fnames")).read().splitlines()[line - 1][:40].strip())


def blocks(path):
    """The blocks of a detailed-output file: [(numbers of the head line, values)]."""
    out = []
    for line in open(path):
        if "TIME" in line:
            out.append(([float(t) for t in line.split() if re.match(r"^[-+0-9.E]+$", t)], []))
        elif out:
            try:
                out[-1][1].extend(float(t) for t in line.split())
            except ValueError:
                pass
    return [(h, np.array(v)) for h, v in out]


def close(a, printed, what, digits=7):
    """a agrees with values printed to that many significant digits."""
    a, printed = np.asarray(a, float).ravel(), np.asarray(printed, float).ravel()
    assert a.shape == printed.shape, (what, a.shape, printed.shape)
    bad = ~np.isclose(a, printed, rtol=10.0 ** (1 - digits), atol=1e-300)
    assert not bad.any(), (what, a[bad][:5], printed[bad][:5])


def listing_sizes(d):
    text = open(named(d, 13)).read()
    n = int(re.search(r"N +\(# OF NODES IN 3-D MESH\) += +(\d+)", text).group(1))
    nt = int(re.search(r"NT +\(# OF TETRAHEDRA IN 3-D MESH\) += +(\d+)", text).group(1))
    return n, nt, text


# ---------------------------------------------------------------------------------------------
def check_vtk(program, tmp):
    try:
        from vtkmodules.vtkIOXML import vtkXMLUnstructuredGridReader
        from vtkmodules.util.numpy_support import vtk_to_numpy
    except ImportError as e:
        missing("python3-vtk9", e)
    # A flow-only column that writes every nodal file (IPRT 4) at three output times, the last
    # one the end of the run; and a coupled box.
    for case, parm in (("column", {16: "4 0 3 2.0 12.0 24.0"}), ("tbox", None)):
        d, _ = run_deck(case, tmp, program, parm)
        n, nt, _ = listing_sizes(d)
        coupled = case == "tbox"
        pvd = ET.parse(os.path.join(d, "vtk", "nepora3d.pvd")).getroot()
        assert pvd.get("type") == "Collection"
        sets = pvd.findall("./Collection/DataSet")
        # One data set per output time: those of the surface head map without the repeated
        # final block.
        heads = [tuple(h[:2]) for h, _ in blocks(named(d, 30))]
        if len(heads) > 1 and heads[-1] == heads[-2]:
            heads.pop()
        assert len(sets) == len(heads), (case, len(sets), heads)
        psi = blocks(named(d, 24))
        for k, (ds, (step, time)) in enumerate(zip(sets, heads)):
            assert np.isclose(float(ds.get("timestep")), time, rtol=1e-4, atol=1e-12), (ds.get("timestep"), time)
            r = vtkXMLUnstructuredGridReader()
            r.SetFileName(os.path.join(d, "vtk", ds.get("file")))
            r.Update()
            g = r.GetOutput()
            assert (g.GetNumberOfPoints(), g.GetNumberOfCells()) == (n, nt)
            assert set(vtk_to_numpy(g.GetCellTypesArray())) == {10}
            pd, cd = g.GetPointData(), g.GetCellData()
            want = {"node", "pressure_head", "total_head", "saturation", "relative_conductivity",
                    "darcy_velocity"} | ({"concentration"} if coupled else set())
            assert {pd.GetArrayName(i) for i in range(pd.GetNumberOfArrays())} == want
            assert {cd.GetArrayName(i) for i in range(cd.GetNumberOfArrays())} == {"material", "layer", "element_velocity"}
            get = lambda a: vtk_to_numpy((pd if pd.HasArray(a) else cd).GetArray(a))
            assert int(vtk_to_numpy(g.GetFieldData().GetArray("NSTEP"))[0]) == step
            xyz = vtk_to_numpy(g.GetPoints().GetData())
            close(get("pressure_head"), psi[k][1], "heads")
            # Fields are single precision, coordinates double.
            assert get("pressure_head").dtype == np.float32 and xyz.dtype == np.float64
            assert np.allclose(get("total_head"), get("pressure_head") + xyz[:, 2], rtol=2e-7, atol=2e-7 * abs(xyz[:, 2]).max())
            if not coupled:
                close(get("saturation"), blocks(named(d, 27))[k][1], "sw")
                close(get("relative_conductivity"), blocks(named(d, 28))[k][1], "ckrw")
                close(get("darcy_velocity"), blocks(named(d, 25))[k][1], "nodal velocities")
                close(get("element_velocity").T, blocks(named(d, 29))[k][1], "element velocities")
            else:
                close(get("concentration"), blocks(named(d, 26))[k][1], "concentrations")
            # Layers from the top down, NT/NSTR elements each; their centres go down.
            layer = get("layer")
            nstr = layer.max()
            assert (np.bincount(layer)[1:] == nt // nstr).all()
            conn = vtk_to_numpy(g.GetCells().GetConnectivityArray()).reshape(-1, 4)
            zc = xyz[conn, 2].mean(axis=1)
            assert (np.diff([zc[layer == l].mean() for l in range(1, nstr + 1)]) < 0).all()
        # The last data set is the final state of root-ntupla.dat and test-vel.dat.
        root = np.loadtxt(os.path.join(d, "root-ntupla.dat"))
        vel = np.loadtxt(os.path.join(d, "test-vel.dat"), skiprows=3)
        close(xyz, root[:, 0:3], "coordinates")
        close(get("pressure_head"), root[:, 4], "final heads")
        close(get("darcy_velocity"), vel, "final velocities")
        if coupled:
            close(get("concentration"), root[:, 5], "final concentrations")
    print("vtk: 2 decks passed")


# ---------------------------------------------------------------------------------------------
def cumulative_lines(listing):
    """The listing's cumulative lines: {(equation, base): (abs, rel)}."""
    out = {}
    for m in re.finditer(r"(FLOW|TRANSPORT) EQUATION *: CUMULATIVE \(([-A-Z+]+)\) ABS\. MASS BALANCE ERROR: +(\S+)\n"
                         r" +CUMULATIVE \(\2\) REL\. MASS BALANCE ERROR: +(\S+) %", listing):
        out[(m.group(1), m.group(2))] = (float(m.group(3)), float(m.group(4)))
    return out


def check_csv(program, tmp):
    try:
        import pandas as pd
    except ImportError as e:
        missing("python3-pandas", e)
    for case in ("column", "dam", "tbox"):
        d, err = run_deck(case, tmp, program)
        n, nt, listing = listing_sizes(d)
        coupled = case == "tbox"
        tables = {}
        for f in sorted(os.listdir(os.path.join(d, "csv"))):
            p = os.path.join(d, "csv", f)
            t = pd.read_csv(p)
            a = np.genfromtxt(p, delimiter=",", names=True)
            assert list(t.columns) == list(a.dtype.names), f
            assert len(t) == a.size > 0, f
            assert all(re.match(r"^[a-z][A-Za-z0-9_]*$", c) for c in t.columns), f
            tables[f] = t
        assert ("seepage.csv" in tables) == (case == "dam")
        assert ("observations.csv" in tables) == (case != "tbox")

        # Budget: one row per step, the errors of mbal.out, cumulative columns that are the sums
        # of the step columns and the listing's and the closing summary's totals.
        b = tables["budget.csv"]
        assert (b.step == np.arange(1, len(b) + 1)).all()
        mbal = np.loadtxt(named(d, 16), skiprows=3, ndmin=2)
        assert len(mbal) == len(b), (case, len(mbal), len(b))
        close(b[["dt_T", "time_T", "error_L3", "rel_error_pct"]], mbal[:, 1:5], "mbal.out", 5)
        for col in ("in_L3", "out_L3", "storage_change_L3"):
            assert np.allclose(np.cumsum(b[col]), b["cum_" + col], rtol=1e-12, atol=1e-15 * abs(b[col]).max())
        assert np.allclose(b.cum_error_L3, b.cum_in_L3 + b.cum_out_L3 - b.cum_storage_change_L3, rtol=1e-9, atol=1e-15)
        assert np.allclose(np.cumsum(abs(b.error_L3)), b.cum_abs_error_L3, rtol=1e-12, atol=1e-300)
        last = b.iloc[-1]
        lines = cumulative_lines(listing)
        assert lines or last.dt_T >= 1e10, "no cumulative line in the listing"
        for (eq, base), (a, rel) in lines.items():
            if eq == "FLOW":
                den = {"TOTAL-IN+OUT": last.cum_in_L3 + last.cum_out_L3, "TOTAL-IN": last.cum_in_L3,
                       "TOTAL-OUT": last.cum_out_L3}[base]
                close(last.cum_abs_error_L3, a, "cumulative flow error", 6)
            else:
                den = last.cum_solute_in_M if last.cum_solute_in_M != 0 else last.cum_solute_out_M
                close(last.cum_solute_abs_error_M, a, "cumulative solute error", 6)
            assert np.isclose(100 * a / den, rel, rtol=1e-5), (eq, base)
        m = re.search(r"after (\d+) steps, (\d+) nonlinear and (\d+) linear iterations", err)
        assert (int(m.group(1)), int(m.group(2)), int(m.group(3))) == (len(b), b.nonlinear_iterations.sum(), b.linear_iterations.sum())
        m = re.search(r"water budget: in (\S+), out (\S+), storage change (\S+), net error (\S+)", err)
        close([last.cum_in_L3, last.cum_out_L3, last.cum_storage_change_L3], [float(v) for v in m.groups()[:3]], "summary", 6)
        close(last.cum_error_L3, float(m.group(4)), "summary net error", 3)

        # Hydrograph: the lines of units 31 and 32 (two per step in a coupled run).
        h = tables["hydrograph.csv"]
        atm = np.loadtxt(named(d, 20), skiprows=2, ndmin=2)
        close(h[["atm_potential_L3_T", "atm_actual_L3_T", "overland_L3_T", "return_L3_T", "seepage_L3_T"]],
              atm[:, 3:8], "unit 31", 4)
        natm = [[float(v) for v in l.split()] for l in open(named(d, 21)).read().splitlines()[3 if coupled else 2:]]
        if coupled:
            close(h[["solute_dirichlet_M_T", "solute_cauchy_M_T"]], [r[5:7] for r in natm[1::2]], "unit 32 solute", 6)
            natm = natm[0::2]
        close(h[["bc_head_L3_T", "bc_flux_L3_T"]], [r[3:5] for r in natm], "unit 32", 6)

        # Observations: the profiles of vp.out at the output times, once each.
        o = tables.get("observations.csv", pd.DataFrame(columns=["step", "node", "vertical", "output", "time_T"]))
        assert not o.duplicated(["step", "node", "vertical"]).any()
        if len(o):
            assert np.allclose(o.total_head_L, o.pressure_head_L + o.z_L, rtol=1e-14, atol=1e-12)
        vp = blocks(named(d, 18))
        prof = o[(o.output == 1) & (o.vertical > 0)]
        if vp:
            times = prof.time_T.unique()
            if len(vp) > 1 and vp[-1][0] == vp[-2][0]:
                vp.pop()
            assert len(times) == len(vp)
            for t, (head, v) in zip(times, vp):
                assert np.isclose(t, head[1], rtol=1e-4, atol=1e-12)
                close(prof[prof.time_T == t][["z_L", "pressure_head_L", "saturation", "relative_conductivity"]], v, "vp.out")
        # The partial-output nodes of every step: the listing's lines, 4 digits.
        part = re.findall(r"SOLUZIONE SUI NODI DI OUTPUT\n.*\n(.*)\n", listing)
        if part:
            rows = o[(o.vertical == 0) & (o.step > 0)]
            printed = np.array([[float(v) for v in l.split()] for l in part])
            assert np.allclose(rows.pressure_head_L.to_numpy().reshape(len(part), -1), printed[:, 1::4], rtol=1e-3)

        # Seepage faces: at the end, the nodes from the exit point down are held at pressure
        # head 0 and those above it are unsaturated (root-ntupla.dat).
        if "seepage.csv" in tables:
            s = tables["seepage.csv"]
            root = np.loadtxt(os.path.join(d, "root-ntupla.dat"))
            faces = open(os.path.join(d, "sfbc")).read().split()
            at, nodes = 1, {}
            for f in range(1, int(faces[0]) + 1):
                k = int(faces[at])
                nodes[f] = [int(v) for v in faces[at + 1:at + 1 + k]]
                at += 1 + k
            for _, r in s[s.step == b.step.iloc[-1]].iterrows():
                face = nodes[int(r.face)]
                e = int(r.exit_position)
                assert all(root[i - 1, 4] == 0 for i in face[e - 1:])
                assert all(root[i - 1, 4] < 0 for i in face[:e - 1])
                if e <= len(face):
                    assert int(r.exit_node) == face[e - 1] and r.exit_z_L == root[face[e - 1] - 1, 2]
    print("csv: 3 decks passed")


# ---------------------------------------------------------------------------------------------
def check_plot(program, tmp):
    try:
        import matplotlib  # noqa: F401
        import vtk  # noqa: F401
    except ImportError as e:
        missing("python3-matplotlib python3-vtk9", e)
    d, _ = run_deck("dam", tmp, program)
    r = subprocess.run([sys.executable, os.path.join(SRC, "tools", "nepora-plot"), d], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    want = {"hydrograph.png", "budget.png", "profiles.png", "seepage.png"}
    got = set(os.listdir(os.path.join(d, "plots")))
    assert want <= got, got
    for f in want:
        data = open(os.path.join(d, "plots", f), "rb").read()
        assert data[:8] == b"\x89PNG\r\n\x1a\n" and len(data) > 10000, f
    print("plot: %d pictures" % len(got))

    # UNITS cm h: the same numbers, the columns and arrays named with the units, the axes too.
    u = os.path.join(tmp, "dam-units")
    shutil.copytree(os.path.join(SRC, "tests", "cases", "dam"), u)
    with open(os.path.join(u, "parm"), "a") as f:
        f.write("UNITS cm h\n")
    r = subprocess.run([program], cwd=u, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    assert "     UNITS   (LENGTH, TIME)                    = cm, h" in open(named(u, 13)).read()
    plain = open(os.path.join(d, "csv", "budget.csv")).read().splitlines()
    units = open(os.path.join(u, "csv", "budget.csv")).read().splitlines()
    assert units[1:] == plain[1:]
    assert units[0] == plain[0].replace("_T", "_h").replace("_L3", "_cm3"), units[0]
    reader = vtk.vtkXMLUnstructuredGridReader()
    reader.SetFileName(os.path.join(u, "vtk", "nepora3d_0001.vtu"))
    reader.Update()
    pd = reader.GetOutput().GetPointData()
    assert pd.GetArray("pressure_head_cm") is not None and pd.GetArray("darcy_velocity_cm_h") is not None
    r = subprocess.run([sys.executable, os.path.join(SRC, "tools", "nepora-plot"), u], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    assert want <= set(os.listdir(os.path.join(u, "plots")))
    from importlib.machinery import SourceFileLoader
    plot = SourceFileLoader("nepora_plot", os.path.join(SRC, "tools", "nepora-plot")).load_module()
    plot.canonical(units[0].split(","))
    assert plot.units("flux [L³/T] (in > 0)") == "flux [cm³/h] (in > 0)", plot.UNITS
    print("plot: units cm h in the tables, the arrays and the axes")

    # Surface flow: a plane under 20 minutes of rain, drained by two outlets.
    sys.path.insert(0, os.path.join(SRC, "python"))
    import nepora
    from nepora.mesh import rectangle
    x, y, tri = rectangle(21, 3, 100.0, 2.0)
    deck = nepora.Deck()
    deck.set_mesh(x, y, tri, z=0.01 * (100.0 - x) + 1.0)
    deck.set_layers([0.5])
    deck.set_soil(K=1e-13, STORAGE=1e-6, POROSITY=0.4)
    deck.initial_pressure_head(0.0)
    deck.set_atmosphere([0.0, 1200.0, 1200.001, 2400.0], [1e-5, 1e-5, 0.0, 0.0])
    deck.parm.UNITS, deck.parm.TMAX, deck.parm.DTMAX, deck.parm.TIMPRT = "m s", 2400.0, 20.0, [2400.0]
    deck.set_surface(manning=0.03)
    deck.add_outlet("NORMAL", deck.boundary_nodes(x=100.0, y=(None, 1.0)))
    deck.add_outlet("CRITICAL", deck.boundary_nodes(x=100.0, y=(1.5, None)))
    s = deck.write(os.path.join(tmp, "plane"))
    r = subprocess.run([program], cwd=s, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    r = subprocess.run([sys.executable, os.path.join(SRC, "tools", "nepora-plot"), s], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    data = open(os.path.join(s, "plots", "outlets.png"), "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n" and len(data) > 10000
    print("plot: the outlet hydrograph of a run with surface flow")

    # What the pictures hold, from hand-made tables: 8 seepage faces drawn as totals (face k
    # seeps, 0.5 out, from time k on); the hydrograph without its empty panel of prescribed heads
    # and fluxes (the plane has none); the discharge on a log axis with --log.
    drawn = {}
    plot.finish = lambda fig, out, name, written: drawn.update({name: fig.axes})
    faces = {"time_T": [], "face": [], "exit_z_L": [], "flux_L3_T": []}
    for t in range(4):
        for k in range(8):
            faces["time_T"].append(float(t))
            faces["face"].append(k + 1.0)
            faces["exit_z_L"].append(1.0 if k < t else float("nan"))
            faces["flux_L3_T"].append(-0.5 if k < t else 0.0)
    plot.seepage(faces, "hand", tmp, [])
    top, bottom = drawn["seepage.png"]
    assert list(top.lines[0].get_ydata()) == [0, 1, 2, 3]
    assert list(bottom.lines[0].get_ydata()) == [0.0, -0.5, -1.0, -1.5]
    h = plot.read(os.path.join(s, "csv", "hydrograph.csv"))
    plot.hydrograph(h, "plane", tmp, [])
    assert len(drawn["hydrograph.png"]) == 1
    plot.outlets(plot.read(os.path.join(s, "csv", "outlets.csv")), h, "plane", tmp, [], log=True)
    assert drawn["outlets.png"][0].get_yscale() == "log"
    print("plot: seepage totals, no empty panel, a log discharge axis")


if __name__ == "__main__":
    what, program = sys.argv[1], os.path.abspath(sys.argv[2])
    tmp = tempfile.mkdtemp(prefix="nepora-results-")
    try:
        {"vtk": check_vtk, "csv": check_csv, "plot": check_plot}[what](program, tmp)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
