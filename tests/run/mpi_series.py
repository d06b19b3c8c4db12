"""The ParaView series of a run on several processes against that of one process, read by VTK's
own readers: every .pvtu (vtkXMLPUnstructuredGridReader) holds the NT tetrahedra of the mesh once
each and every node at least once, the tetrahedra are those of the one-process .vtu
(vtkXMLUnstructuredGridReader) once mapped back by `node` and `element`, and the pressure heads
agree with it within float32 rounding plus 10 TOLNL (exactly between the pieces that share a
node). With `results`, the Python package's Results of the two runs give the same mesh, times
and heads.
    mpi_series.py vtk|results ONE_DIR MANY_DIR TOLNL
A reader that is missing fails it with the name of its Debian package."""
import os
import sys
import xml.etree.ElementTree as ET


def missing(package, error):
    sys.exit("%s: %s (Debian: %s; tools/install-deps test installs it)" % (sys.executable, error, package))


try:
    import numpy as np
except ImportError as e:
    missing("python3-numpy", e)

what, one, many, tol = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4])


def entries(d):
    root = ET.parse(os.path.join(d, "vtk", "nepora3d.pvd")).getroot()
    return [(float(e.get("timestep")), e.get("file")) for e in root.iter("DataSet")]


def close(a, ref):
    # The float32 rounding of both values, and the tolerance of the nonlinear iterations.
    return np.abs(a - ref) <= 10 * tol + 2 * np.finfo(np.float32).eps * np.abs(ref)


def check_vtk():
    try:
        from vtkmodules.vtkIOXML import vtkXMLPUnstructuredGridReader, vtkXMLUnstructuredGridReader
        from vtkmodules.util.numpy_support import vtk_to_numpy as arr
    except ImportError as e:
        missing("python3-vtk9", e)
    ref, got = entries(one), entries(many)
    assert [t for t, _ in ref] == [t for t, _ in got], (ref, got)
    for (_, f1), (_, fp) in zip(ref, got):
        assert f1.endswith(".vtu") and fp.endswith(".pvtu"), (f1, fp)
        r = vtkXMLUnstructuredGridReader()
        r.SetFileName(os.path.join(one, "vtk", f1))
        r.Update()
        p = vtkXMLPUnstructuredGridReader()
        p.SetFileName(os.path.join(many, "vtk", fp))
        p.Update()
        g1, gp = r.GetOutput(), p.GetOutput()
        n, nt = g1.GetNumberOfPoints(), g1.GetNumberOfCells()
        assert gp.GetNumberOfCells() == nt, (fp, gp.GetNumberOfCells(), nt)
        node = arr(gp.GetPointData().GetArray("node"))
        elem = arr(gp.GetCellData().GetArray("element"))
        assert np.array_equal(np.unique(node), np.arange(1, n + 1)), fp
        assert np.array_equal(np.sort(elem), np.arange(1, nt + 1)), fp
        conn1 = arr(g1.GetCells().GetConnectivityArray()).reshape(-1, 4)
        connp = arr(gp.GetCells().GetConnectivityArray()).reshape(-1, 4)
        assert np.array_equal(node[connp] - 1, conn1[elem - 1]), fp + ": other tetrahedra"
        psi1 = arr(g1.GetPointData().GetArray("pressure_head"))
        psip = arr(gp.GetPointData().GetArray("pressure_head"))
        ok = close(psip.astype(np.float64), psi1[node - 1].astype(np.float64))
        assert ok.all(), "%s: heads differ by %g" % (fp, np.abs(psip - psi1[node - 1]).max())
        # A node in two pieces has the same value in both.
        first = np.zeros(n, np.float32)
        first[node - 1] = psip
        assert np.array_equal(first[node - 1], psip), fp + ": pieces disagree on a shared node"
    pieces = len(ET.parse(os.path.join(many, "vtk", fp)).getroot().findall(".//Piece"))
    print("vtk: %d times, %d cells in %d pieces" % (len(got), nt, pieces))


def check_results():
    try:
        import xarray  # noqa: F401
    except ImportError as e:
        missing("python3-xarray", e)
    here = os.path.dirname(os.path.abspath(__file__))
    sys.path.insert(0, os.path.join(here, "..", "..", "python"))
    from nepora import Results
    a, b = Results(one), Results(many)
    for name in ("nodes", "tetrahedra", "materials", "layers", "times", "steps"):
        x, y = getattr(a, name), getattr(b, name)
        assert x.dtype == y.dtype and np.array_equal(x, y), name
    da, db = a.dataset, b.dataset
    assert set(da.data_vars) == set(db.data_vars) and set(da.coords) == set(db.coords)
    assert close(db["pressure_head"].values, da["pressure_head"].values).all()
    print("results: the same mesh, %d times and heads" % len(a.times))


{"vtk": check_vtk, "results": check_results}[what]()
