"""A deck built from nothing in Python runs; its water budget closes against a balance of our
own (the rain applied, the water in the soil integrated from the nodal fields), and the
results read back through netCDF and VTK."""
import numpy as np
import pytest

import nepora
from nepora.mesh import rectangle

RAIN, HOURS = 0.01, 5.0          # m/h for 5 h on 2 m x 2 m, below the conductivity: no ponding


def scratch_deck():
    deck = nepora.Deck()
    x, y, tri = rectangle(3, 3, 2.0, 2.0)
    deck.set_mesh(x, y, tri, z=3.0 - 0.1 * x)                # a surface sloping along x
    deck.set_layers([0.1] * 5 + [0.3] * 5)                   # 2 m deep
    deck.set_soil(K=0.05, STORAGE=1e-4, POROSITY=0.4)
    deck.set_soil(depth=(0.0, 0.3), K=0.02)                  # a less permeable topsoil
    deck.initial_water_table(depth=1.0)                      # parallel to the surface
    deck.prescribe_head(deck.nodes(bottom=True), lambda t, x, y, z: 2.0 - 0.1 * x, times=[0.0])
    deck.set_atmosphere([0.0, HOURS], [RAIN, RAIN])
    deck.parm.TMAX, deck.parm.DTMAX, deck.parm.TIMPRT = HOURS, 0.5, [1.0, HOURS]
    return deck


def water(res, k, poro=0.4, ss=1e-4):
    """Water held in the mesh at output k: the nodal volumes times porosity*Sw + Ss*Sw*psi,
    the storage the mass-conservative scheme balances."""
    ds = res.dataset.isel(time=k)
    sw = ds["saturation"].values.astype(float)
    psi = ds["pressure_head"].values.astype(float)
    return float(np.sum(res.node_volumes() * (poro * sw + ss * sw * psi)))


def test_scratch_deck_runs_and_its_budget_closes(tmp_path, program):
    deck = scratch_deck()
    assert [p for p in deck.validate() if p.level == "error"] == []
    seen = []
    res = nepora.run(deck, tmp_path / "deck", program=program, progress=seen.append)
    assert seen and seen[-1]["fraction"] == 1.0
    b = res.budget
    # The rain applied: every step flux-controlled, rate x area x time.
    assert b["atm_head_in_L3"].abs().sum() == 0.0
    assert b["atm_flux_in_L3"].sum() == pytest.approx(RAIN * 4.0 * HOURS, rel=1e-12)
    # The storage change of the program against the water integrated from the fields.
    assert list(res.times) == [0.0, 1.0, HOURS]
    mine = water(res, 2) - water(res, 0)
    assert mine == pytest.approx(b["cum_storage_change_L3"].iloc[-1], rel=1e-6)
    # In + out - storage change of the whole run.
    closing = b["cum_in_L3"].iloc[-1] + b["cum_out_L3"].iloc[-1] - mine
    assert abs(closing) < 1e-4 * b["cum_in_L3"].iloc[-1]
    # The initial heads: hydrostatic under a water table 1 m below the sloping surface.
    ds = res.dataset.isel(time=0)
    zs = 3.0 - 0.1 * ds["x"].values
    np.testing.assert_allclose(ds["pressure_head"].values, zs - 1.0 - ds["z"].values, atol=1e-6)


def test_exports_read_back(tmp_path, program):
    res = nepora.run(scratch_deck(), tmp_path / "deck", program=program, progress=False)
    import xarray as xr
    ds = res.dataset
    nc = res.to_netcdf(str(tmp_path / "r.nc"))
    with xr.open_dataset(nc) as back:
        np.testing.assert_array_equal(back["pressure_head"].values, ds["pressure_head"].values)
        np.testing.assert_array_equal(back["tetrahedron_nodes"].values, ds["tetrahedron_nodes"].values)
    ds2 = ds.assign(depth=("node", 3.0 - 0.1 * ds["x"].values - ds["z"].values))
    pvd = res.to_vtk(str(tmp_path / "vtk"), ds2)
    vtk = pytest.importorskip("vtkmodules.vtkIOXML")
    from vtkmodules.util.numpy_support import vtk_to_numpy
    r = vtk.vtkXMLUnstructuredGridReader()
    r.SetFileName(pvd.replace(".pvd", "_0002.vtu"))
    r.Update()
    g = r.GetOutput()
    assert g.GetNumberOfCells() == res.tetrahedra.shape[0]
    pd = g.GetPointData()
    np.testing.assert_array_equal(vtk_to_numpy(pd.GetArray("saturation")),
                                  ds["saturation"].values[2])
    np.testing.assert_array_equal(vtk_to_numpy(pd.GetArray("depth")), ds2["depth"].values)
    np.testing.assert_array_equal(vtk_to_numpy(g.GetPoints().GetData()), res.nodes)


def test_two_soils_with_curves_of_their_own_run_and_close_their_budget(tmp_path, program):
    # Sand (x < 1) beside a loam (x > 1), the same table values: only the curves differ.
    curves = {1: (3.0, 0.05, -0.3), 2: (1.4, 0.12, -1.5)}
    deck = nepora.Deck()
    x, y, tri = rectangle(5, 3, 2.0, 2.0)
    deck.set_mesh(x, y, tri, z=3.0 - 0.1 * x, material=np.where(x[tri].mean(1) < 1.0, 1, 2))
    deck.set_layers([0.1] * 5 + [0.3] * 5)
    deck.set_soil(K=0.05, STORAGE=1e-4, POROSITY=0.4)
    for m, (n, tr, ps) in curves.items():
        deck.set_curve(material=m, VGN=n, VGRMC=tr, VGPSAT=ps)
    assert deck.soil.CURVES.BY == "MATERIAL"
    deck.initial_water_table(depth=1.0)
    deck.prescribe_head(deck.nodes(bottom=True), lambda t, x, y, z: 2.0 - 0.1 * x, times=[0.0])
    deck.set_atmosphere([0.0, HOURS], [RAIN, RAIN])
    deck.parm.TMAX, deck.parm.DTMAX, deck.parm.TIMPRT = HOURS, 0.5, [1.0, HOURS]
    res = nepora.run(deck, tmp_path / "deck", program=program, progress=False)
    assert "RETENTION CURVES OF EVERY LAYER AND MATERIAL TYPE (CURVES MATERIAL)" in res.listing()
    b = res.budget
    mine = water(res, 2) - water(res, 0)
    assert mine == pytest.approx(b["cum_storage_change_L3"].iloc[-1], rel=1e-6)
    assert abs(b["cum_in_L3"].iloc[-1] + b["cum_out_L3"].iloc[-1] - mine) < 1e-4 * b["cum_in_L3"].iloc[-1]
    # A node inside one soil has that soil's van Genuchten saturation at its pressure head.
    ds = res.dataset.isel(time=2)
    psi, sw = ds["pressure_head"].values.astype(float), ds["saturation"].values.astype(float)
    mats = np.zeros((len(psi), 3), bool)
    for k in range(4):
        mats[res.tetrahedra[:, k], res.materials - 1] = True
    for m, (n, tr, ps) in curves.items():
        inside = (mats.sum(1) == 1) & mats[:, m - 1] & (psi < 0)
        assert inside.sum() >= 20
        se = (1 + (psi[inside] / ps) ** n) ** (1 / n - 1)
        np.testing.assert_allclose(sw[inside], (tr + (0.4 - tr) * se) / 0.4, rtol=2e-5)


def test_surface_flow_plane_drains_the_rain_at_its_outlet(tmp_path, program):
    # A 100 m x 2 m impermeable plane of slope 0.01 under 1e-5 m/s of rain for 30 min, past its
    # time to equilibrium (about 770 s): at equilibrium the outlet drains i A, and the depth at x
    # from the crest is the kinematic wave's (i x n / S^1/2)^3/5.
    L, W, S, n, i, T = 100.0, 2.0, 0.01, 0.03, 1e-5, 1800.0
    x, y, tri = rectangle(51, 2, L, W)
    deck = nepora.Deck()
    deck.set_mesh(x, y, tri, z=S * (L - x) + 1.0)
    deck.set_layers([0.5])
    deck.set_soil(K=1e-13, STORAGE=1e-6, POROSITY=0.4)
    deck.initial_pressure_head(0.0)
    deck.set_atmosphere([0.0, T], [i, i])
    p = deck.parm
    p.UNITS, p.TMAX, p.DELTAT, p.DTMIN, p.DTMAX, p.TIMPRT = "m s", T, 1.0, 1e-3, 10.0, [T]
    p.TOLNL, p.ITMX, p.ITMX1, p.ITMX2 = 1e-7, 30, 10, 20
    deck.set_surface("KINEMATIC", manning=n)
    deck.add_outlet("NORMAL", deck.nodes(face="xmax"))       # the surface nodes of that face
    res = nepora.run(deck, tmp_path / "plane", program=program, progress=False)
    assert nepora.Deck.read(tmp_path / "plane").surface.key() == deck.surface.key()
    o = res.outlets
    assert list(o.columns) == ["step", "time_s", "outlet_1_m3_s", "total_m3_s", "cum_volume_m3"]
    assert o["total_m3_s"].iloc[-1] == pytest.approx(i * L * W, rel=1e-3)
    # The rain is out through the outlet or still on the ground (a third of every triangle's
    # area to each corner).
    h = res.dataset["ground_water_depth"].isel(time=-1).values.astype(float)
    a = 0.5 * np.abs(np.cross(np.column_stack([x, y])[tri[:, 1]] - np.column_stack([x, y])[tri[:, 0]],
                              np.column_stack([x, y])[tri[:, 2]] - np.column_stack([x, y])[tri[:, 0]]))
    area = np.bincount(tri.reshape(-1), np.repeat(a / 3.0, 3), minlength=len(x))
    assert o["cum_volume_m3"].iloc[-1] + area @ h == pytest.approx(i * L * W * T, rel=1e-3)
    inner = (x >= 20.0) & (x <= 90.0)
    np.testing.assert_allclose(h[inner], (i * x[inner] * n / S ** 0.5) ** 0.6, rtol=0.05)
