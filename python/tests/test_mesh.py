"""Meshes from terrain: the catchment example's DEM and outline through from_dem and
tools/nepora-mesh, held against shapely's polygons and scipy's interpolation of the DEM; the
catchment deck runs end to end."""
import json
import os
import subprocess
import sys

import numpy as np
import pytest

import nepora
from conftest import SRC, example

pytest.importorskip("gmsh")
shapely_geometry = pytest.importorskip("shapely.geometry")
from nepora.mesh import Raster, from_dem  # noqa: E402

HERE = os.path.join(SRC, "examples", "catchment")


def polygon(name):
    with open(os.path.join(HERE, name)) as f:
        return shapely_geometry.shape(json.load(f)["features"][0]["geometry"])


def test_from_dem_covers_the_outline_with_the_dem_elevations():
    deck = from_dem(os.path.join(HERE, "dem.asc"), os.path.join(HERE, "boundary.geojson"),
                    size=30.0, min_size=8.0, tolerance=0.1, layers=[1.0, 2.0],
                    materials=os.path.join(HERE, "soils.geojson"))
    g = deck.grid
    t = g.TRIANG[:, :3] - 1
    x, y = g.X, g.Y
    area = 0.5 * np.abs((x[t[:, 1]] - x[t[:, 0]]) * (y[t[:, 2]] - y[t[:, 0]])
                        - (x[t[:, 2]] - x[t[:, 0]]) * (y[t[:, 1]] - y[t[:, 0]]))
    outline = polygon("boundary.geojson")
    assert area.sum() == pytest.approx(outline.area, rel=1e-3)
    edge = outline.buffer(1e-6)
    assert all(edge.contains(shapely_geometry.Point(a, b)) for a, b in zip(x, y))
    # Elevations: the DEM interpolated bilinearly between its cell centres.
    from scipy.interpolate import RegularGridInterpolator
    r = Raster.read(os.path.join(HERE, "dem.asc"))
    f = RegularGridInterpolator((r.y, r.x), r.z, method="linear")
    np.testing.assert_allclose(g.Z, f(np.column_stack([y, x])), atol=1e-9)
    # Triangles of the side the curvature asks for, h = sqrt(8 tolerance / c) within [8, 30]:
    # smaller where the terrain bends more.
    h = np.clip(np.sqrt(8 * 0.1 / r.curvature()), 8.0, 30.0)
    want = r.sample(x[t].mean(1), y[t].mean(1), h)
    side = np.sqrt(area * 4 / np.sqrt(3))
    assert 0.7 < np.median(side / want) < 1.3
    lo, hi = np.quantile(want, [0.25, 0.75])
    assert side[want <= lo].mean() < 0.85 * side[want >= hi].mean()
    # Materials: the alluvium where a triangle's centre lies in its polygon.
    band = polygon("soils.geojson")
    inside = np.array([band.contains(shapely_geometry.Point(a, b))
                       for a, b in zip(x[t].mean(1), y[t].mean(1))])
    assert inside.any() and (~inside).any()
    np.testing.assert_array_equal(g.TRIANG[:, 3], np.where(inside, 2, 1))
    assert g.NZONE == 2 and deck.soil.XPERM.shape == (2, 2)
    assert [p for p in deck.validate() if p.level == "error"] == []


def test_nepora_mesh_writes_a_deck_that_runs(tmp_path, program):
    out = tmp_path / "deck"
    r = subprocess.run([sys.executable, os.path.join(SRC, "tools", "nepora-mesh"),
                        os.path.join(HERE, "dem.asc"), os.path.join(HERE, "boundary.geojson"),
                        "-o", str(out), "--size", "60", "--layers", "0.5,1.5"],
                       capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    assert "surface nodes" in r.stdout
    deck = nepora.Deck.read(out)
    assert deck.NSTR == 2 and deck.grid.BASE == 2.0
    deck.set_atmosphere([0.0], [0.005])
    deck.initial_water_table(depth=1.0)
    deck.parm.TMAX = 2.0
    res = nepora.run(deck, program=program, progress=False)
    b = res.budget
    assert b["time_T"].iloc[-1] == 2.0
    assert abs(b["cum_error_L3"].iloc[-1]) < 1e-6 * b["cum_in_L3"].iloc[-1]


def test_the_catchment_example_runs_end_to_end(tmp_path, program):
    d = example("catchment", tmp_path)
    res = nepora.run(d, program=program, progress=False)
    b, h = res.budget, res.hydrograph
    assert b["time_T"].iloc[-1] == 54.0
    assert (h["seepage_L3_T"] < 0).any()                    # the outlet seeps
    assert abs(b["cum_error_L3"].iloc[-1]) < 1e-6 * b["cum_in_L3"].iloc[-1]
