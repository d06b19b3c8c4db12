"""Terrain preparation and the maps of the ground: a hand-made DEM with a pit (its filling, D8
directions, accumulation and outline worked by hand), the catchment example's known outline,
the real DEM of examples/real-terrain reprojected (the cell size and elevations held against
pyproj and scipy), and the depth to the water table of hand columns and of a hydrostatic run."""
import json
import os
import subprocess
import sys

import numpy as np
import pytest

import nepora
from conftest import SRC

pytest.importorskip("skimage")
pytest.importorskip("gmsh")
geometry = pytest.importorskip("shapely.geometry")
from nepora.mesh import (Raster, Terrain, accumulation, channel_nodes, fill_mesh,  # noqa: E402
                         fill_sinks, flow_directions, from_dem, rectangle, upstream)
from nepora.results import water_table_depth  # noqa: E402

# Rows from the south. A pit of 2 in the middle spills at 5 through (1, 1) to the lowest edge
# cell, (0, 1) at 4, where all the water of the grid leaves.
PIT = np.array([[9, 4, 9, 9, 9],
                [9, 5, 6, 7, 9],
                [9, 6, 2, 6, 9],
                [9, 6, 6, 6, 9],
                [9, 9, 9, 9, 9]], float)


def test_a_pit_filled_drained_and_gathered_by_hand():
    f = fill_sinks(PIT)
    want = PIT.copy()
    want[2, 2] = 5.0
    np.testing.assert_array_equal(f, want)
    rec, code = flow_directions(f, 10.0, 10.0)
    # (1, 1) falls south to the exit; the filled pit, a flat with it, drains to it (south-west);
    # (2, 3) at 6: its one lower neighbour is the filled pit, to the west.
    assert code[1, 1] == 4 and rec[1, 1] == 1
    assert code[2, 2] == 8 and rec[2, 2] == 6
    assert code[2, 3] == 16
    # (0, 0) at 9: 5 down over 10 m to the east beats 4 over 14 m to the north-east.
    assert code[0, 0] == 1
    assert rec[0, 1] == -1 and (rec >= 0).sum() == 24
    a = accumulation(rec, 100.0)
    assert a[0, 1] == pytest.approx(2500.0)           # the 25 cells of 10 m x 10 m
    # (2, 2) gathers itself and what falls to it: (3, 2) above it (1 over 10 m, its only
    # drop), not (1, 1) below it.
    up = upstream(rec, (2, 2))
    assert up[2, 2] and up[3, 2] and not up[1, 1] and not up[0, 1]
    assert a[2, 2] == pytest.approx(100.0 * up.sum())
    # The outline of the whole grid, half way between the cells in and out: the 50 m square
    # less a corner of 2.5 m x 2.5 m / 2 at each of its 4 corners.
    t = Terrain(Raster(10.0 * np.arange(5), 10.0 * np.arange(5), PIT))
    c = t.catchment((10.0, 0.0), snap=False)
    assert c.area == pytest.approx(2500.0 - 4 * 12.5)


def test_the_pits_of_a_mesh_filled_towards_its_outlet():
    # 3 x 3 nodes, each square cut from its lower left to its upper right corner; the outlet
    # node 2 (at 2) joins nodes 1 (at 3) and 5 (at 5). The pit in the middle (1) and the
    # corner 8 (0) beyond it spill over node 1: both raised to 3, the rest kept.
    _, _, tri = rectangle(3, 3, 2.0, 2.0)
    z = np.array([6.0, 3.0, 2.0, 6.0, 1.0, 5.0, 6.0, 6.0, 0.0])
    np.testing.assert_array_equal(fill_mesh(z, tri, [2]),
                                  [6.0, 3.0, 2.0, 6.0, 3.0, 5.0, 6.0, 6.0, 3.0])


def test_a_plane_drains_down_its_steepest_neighbour():
    # z = x + 2 row on 1 x 1 cells: 1 down to the west, 2 to the south, 3 / sqrt 2 = 2.12 to
    # the south-west. z = x + 8 row on cells 3 high: 8 / 3 = 2.67 to the south, but
    # 9 / sqrt 10 = 2.85 to the south-west (on square cells the south would win, 8 > 6.36);
    # z = x + 20 row: 20 / 3 = 6.67 to the south beats 21 / sqrt 10 = 6.64.
    x, y = np.meshgrid(np.arange(6.0), np.arange(5.0))
    _, code = flow_directions(x + 2 * y, 1.0, 1.0)
    assert (code[1:-1, 1:-1] == 8).all()
    _, code = flow_directions(x + 8 * y, 1.0, 3.0)
    assert (code[1:-1, 1:-1] == 8).all()
    _, code = flow_directions(x + 20 * y, 1.0, 3.0)
    assert (code[1:-1, 1:-1] == 4).all()


def test_the_catchment_example_outline_from_its_outlet_with_its_streams():
    here = os.path.join(SRC, "examples", "catchment")
    with open(os.path.join(here, "boundary.geojson")) as f:
        drawn = geometry.shape(json.load(f)["features"][0]["geometry"])
    deck, outline, streams = from_dem(os.path.join(here, "dem.asc"), outlet=(10.0, 165.0),
                                      size=30.0, min_size=8.0, tolerance=0.1, streams=5000.0,
                                      stream_size=8.0, geometry=True)
    # The valley drains west to its outlet: the outline drawn round it lies inside the traced
    # one (but for the tip at the outlet), which is nearly the whole DEM (400 m x 300 m).
    assert drawn.difference(outline).area < 0.03 * drawn.area
    assert 0.8 * 120000 < outline.area <= 120000
    g = deck.grid
    t = g.TRIANG[:, :3] - 1
    area = 0.5 * np.abs((g.X[t[:, 1]] - g.X[t[:, 0]]) * (g.Y[t[:, 2]] - g.Y[t[:, 0]])
                        - (g.X[t[:, 2]] - g.X[t[:, 0]]) * (g.Y[t[:, 1]] - g.Y[t[:, 0]]))
    simple = outline.simplify(2.5, preserve_topology=True)
    assert area.sum() == pytest.approx(simple.area, rel=1e-3)
    # The streams are edges of the mesh: the edges with both ends on them (and their middle)
    # add up to their length.
    on = np.zeros(deck.NNOD, bool)
    on[channel_nodes(deck, streams) - 1] = True
    edges = {tuple(sorted(e)) for tri in t for e in ((tri[0], tri[1]), (tri[1], tri[2]),
                                                     (tri[2], tri[0]))}
    length = sum(np.hypot(g.X[a] - g.X[b], g.Y[a] - g.Y[b]) for a, b in edges
                 if on[a] and on[b] and streams.distance(
                     geometry.Point((g.X[a] + g.X[b]) / 2, (g.Y[a] + g.Y[b]) / 2)) < 1e-6)
    assert streams.length > 100.0
    assert length == pytest.approx(streams.length, rel=1e-6)


def test_a_dem_in_degrees_reprojected_to_metres():
    pyproj = pytest.importorskip("pyproj")
    interpolate = pytest.importorskip("scipy.interpolate")
    src = Raster.read(os.path.join(SRC, "examples", "real-terrain", "dem.tif"))
    assert src.geographic()
    t = Terrain(src)
    assert t.dem.crs == "EPSG:32616" and not t.dem.geographic()       # UTM 16 N at 84.4 W
    # A cell of 3 seconds of longitude at 36.49 N: 6378137 m * cos(36.49°) * pi / 180 / 1200
    # on the sphere; the ellipsoid makes it 0.2 % longer.
    east = 6378137.0 * np.cos(np.radians(36.4952)) * np.pi / 180.0 / 1200.0
    assert t.dem.dx == pytest.approx(east, rel=5e-3)
    # Elevations: the source interpolated bilinearly at the point the cell centre comes from.
    back = pyproj.Transformer.from_crs("EPSG:32616", "EPSG:4326", always_xy=True)
    f = interpolate.RegularGridInterpolator((src.y, src.x), src.z)
    i, j = np.array([10, 15, 20, 25]), np.array([8, 12, 20, 24])
    lon, lat = back.transform(t.dem.x[j], t.dem.y[i])
    np.testing.assert_allclose(t.dem.z[i, j], f(np.column_stack([lat, lon])), atol=0.05)
    # Outlet in longitude and latitude: the example's tributary of 1.9 km2, its outline
    # enclosing the area the accumulation gathers at its outlet (but for the cut corners).
    c = t.catchment((-84.3684, 36.4885), source_crs=True)
    assert 1.5e6 < c.area < 2.5e6
    assert c.area == pytest.approx(t.area[t.cell(*t.outlet)], rel=0.01)


def test_depth_to_the_water_table_of_hand_columns():
    z = np.array([[0.0] * 4, [-1.0] * 4, [-2.0] * 4, [-3.0] * 4])
    psi = np.array([[-1.5, 0.2, -3.0, -1.0],
                    [-0.5, 1.2, -2.0, 0.5],
                    [0.5, 2.2, -1.0, -0.3],
                    [1.5, 3.2, -0.1, 1.0]])
    # 1.5 (the crossing half way from -1 to -2); saturated to the ground; dry; and a perched
    # table, the highest, crossing 0 a third of the way from -1 up to 0 (psi -1 to 0.5).
    np.testing.assert_allclose(water_table_depth(z, psi), [1.5, 0.0, np.nan, 2.0 / 3.0])


def test_maps_and_sections_of_a_hydrostatic_run(tmp_path, program):
    here = os.path.join(SRC, "examples", "catchment")
    out = tmp_path / "deck"
    r = subprocess.run([sys.executable, os.path.join(SRC, "tools", "nepora-mesh"),
                        os.path.join(here, "dem.asc"), "--outlet", "10,165", "-o", str(out),
                        "--size", "60", "--layers", "0.5,0.5,2"], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    deck = nepora.Deck.read(out)
    deck.initial_water_table(depth=1.3)
    deck.set_atmosphere([0.0], [0.0])
    deck.parm.TMAX = 0.5
    res = nepora.run(deck, program=program, progress=False)
    m = res.maps(time=0)
    # Hydrostatic at the start: the table 1.3 below the ground everywhere, nothing ponded.
    np.testing.assert_allclose(m.water_table_depth, 1.3, atol=1e-5)
    assert (m.ponding_depth == 0).all() and (m.ground_saturation < 1).all()
    sec = res.section([(50.0, 80.0), (300.0, 220.0)], time=0, spacing=5.0)
    np.testing.assert_allclose(sec.water_table, sec.z[0] - 1.3, atol=1e-5)
    # The ground along the section: the surface elevations, linear in the triangles.
    from matplotlib.tri import LinearTriInterpolator, Triangulation
    g = deck.grid
    ground = LinearTriInterpolator(Triangulation(g.X, g.Y, g.TRIANG[:, :3] - 1), g.Z)
    np.testing.assert_allclose(sec.z[0], ground(sec.x, sec.y), atol=1e-6)
    np.testing.assert_allclose(sec.pressure_head[-1], 1.7, atol=1e-4)   # the base, 3 m down
