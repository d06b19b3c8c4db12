#!/usr/bin/env python3
"""A real catchment from its DEM to its outlet hydrograph, in one script.

dem.tif is a USGS DEM in longitude and latitude (make-dem.py cuts it from matplotlib's sample
data). This script
  1. reprojects it to metres (its UTM zone, 16 N), fills its sinks, finds the D8 flow
     directions and the drained area of every cell (nepora.mesh.Terrain);
  2. traces the catchment of the outlet, a point given in longitude and latitude, and the
     streams that drain 15 ha or more;
  3. meshes the catchment with gmsh, triangles of 40 to 160 m, 40 m along the streams
     (nepora.mesh.from_dem); the triangles along the streams are the channel, rougher;
  4. builds the deck: six layers (4 m of soil), a loam, a storm of 40 mm/h for 2 hours, the
     water on the ground routed to an outlet at the catchment outlet (metres and hours, 12 hours);
  5. spins it up: the steady state of the catchment under a recharge of 2e-5 m/h (175 mm a
     year), the surface flow off, by pseudo-transient continuation (docs/spinup.md), whose
     final heads are the storm's initial state (--initial-from);
  6. runs the storm (nepora.run) and draws the outlet hydrograph (tools/nepora-plot), the maps of the
     depth to the water table, the ponding and the saturation at the ground, and a section
     along the main stream (nepora.Results), into DIR (default: run/ beside this script).

usage: /usr/bin/python3 examples/real-terrain/run.py [DIR]      (about half a minute)
"""
import os
import subprocess
import sys
import time

import numpy as np
from shapely.geometry import LineString

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "python"))
import nepora  # noqa: E402
from nepora.mesh import Terrain, channel_nodes, from_dem, write_geojson  # noqa: E402

OUTLET = (-84.3684, 36.4885)        # longitude, latitude: where the stream leaves
start = time.time()
out = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "run"))
pictures = os.path.join(out, "plots")
os.makedirs(pictures, exist_ok=True)

# 1, 2. The terrain in metres, where its water goes, the catchment and its streams.
terrain = Terrain(os.path.join(here, "dem.tif"))
dem = terrain.dem
print("DEM: %d x %d cells of %.1f m in %s (from %s)" % (len(dem.x), len(dem.y), dem.dx,
                                                        dem.crs, "longitude and latitude"))
# 3. The mesh of the catchment, following the streams.
deck, outline, streams = from_dem(terrain, outlet=OUTLET, size=160.0, min_size=40.0,
                                  tolerance=2.0, streams=15e4, stream_size=40.0,
                                  layers=[0.25, 0.25, 0.5, 1.0, 1.0, 1.0],
                                  channel_material=2, geometry=True)
write_geojson(os.path.join(out, "catchment.geojson"), outline, {"name": "catchment"}, dem.crs)
write_geojson(os.path.join(out, "streams.geojson"), streams, {"name": "streams"}, dem.crs)
print("catchment: %.2f km2, outlet at (%.0f, %.0f); streams %.1f km; %d surface nodes, "
      "%d triangles" % (outline.area / 1e6, *terrain.outlet, streams.length / 1e3, deck.NNOD,
                        len(deck.grid.TRIANG)))
print("%d nodes on the streams; the %d triangles along them are the channel (material 2)"
      % (len(channel_nodes(deck, streams)), (deck.grid.TRIANG[:, 3] == 2).sum()))

# 4. The deck: metres and hours.
deck.set_soil(K=0.01, STORAGE=1e-4, POROSITY=0.45)        # a loam, the same under the channel
deck.soil.PMIN = -5.0
deck.initial_water_table(depth=1.0)
deck.set_atmosphere([0.0, 2.0, 2.01, 12.0], [0.04, 0.04, 0.0, 0.0])
p = deck.parm
p.TMAX, p.DELTAT, p.DTMAX, p.TIMPRT = 12.0, 0.01, 0.25, [2.0, 4.0, 12.0]
p.IFLOW = 2
p.TOLNL, p.ITMX, p.ITMX1, p.ITMX2 = 1e-5, 20, 8, 14
p.UNITS = "m h"
deck.set_surface("DIFFUSION", manning=[0.15, 0.05])       # forest floor; the stream beds
x0, y0 = terrain.outlet
# The nodes of the boundary within a cell of the outlet, towards which from_dem drained the
# pits of the mesh.
deck.add_outlet("CRITICAL", deck.boundary_nodes(
    where=lambda x, y, z: np.hypot(x - x0, y - y0) <= dem.dx))
deck.check()
deck.write(out)

# 5. The spin-up: the same mesh and soil, a steady recharge, the water that reaches the ground
# held there (no surface section); its steady state from a first guess of a table 1 m deep.
spin = deck.copy()
spin.surface.ON = False
spin.set_atmosphere([0.0, 1e20], [2e-5, 2e-5])
spin.parm.DELTAT, spin.parm.TIMPRT = 1e10, []
spin.write(os.path.join(out, "spin-up"))
steady = nepora.run(spin.path, threads=1, progress=False)
wt = steady.maps(time=steady.times[-1]).water_table_depth
# The last step is the steady step itself where it converged.
last = "the steady step" if "AND THE STEADY STEP" in steady.listing() else "no steady step"
print("spin-up: steady state after %d pseudo-time steps and %s; water table %.2f m deep on average, "
      "at the ground under %.0f %% of the surface nodes" % (
          len(steady.budget) - (last == "the steady step"), last, float(wt.mean()),
          100 * float((wt < 0.01).mean())))
deck.initial_from(steady)

# 6. The storm from the steady state, and its pictures.
res = nepora.run(deck, threads=1, progress=False)
q = res.outlets
b = res.budget
print("run: %d steps to t = %g h; peak discharge %.3f m3/s at t = %.2f h; out %.0f m3 of "
      "%.0f m3 rained; budget error %.2g m3" % (
          len(b), b["time_h"].iloc[-1], q["total_m3_h"].max() / 3600,
          q["time_h"][q["total_m3_h"].idxmax()], q["cum_volume_m3"].iloc[-1],
          b["cum_in_m3"].iloc[-1], b["cum_error_m3"].iloc[-1]))
subprocess.run([sys.executable, os.path.join(here, "..", "..", "tools", "nepora-plot"), out,
                "-o", pictures], check=True, stdout=subprocess.DEVNULL)
# An hour after the storm: the table up to the ground along the streams, water still on them.
for name in ("water_table_depth", "ponding_depth", "ground_saturation"):
    res.plot_map(name, time=4.0, path=os.path.join(pictures, "map-%s.png" % name))
maps = res.maps(time=4.0)
print("at t = 4 h: the water table within 10 cm of the ground under %.0f %% of the surface "
      "nodes, water standing on %d" % (100 * (maps.water_table_depth < 0.1).mean(),
                                       (maps.ponding_depth > 0.001).sum()))
# A section across the valley: square to the longest stream at its middle, within the outline.
main = max(streams.geoms, key=lambda g: g.length)
(ax, ay), (bx, by) = [main.interpolate(f, normalized=True).coords[0] for f in (0.45, 0.55)]
mx, my, d = (ax + bx) / 2, (ay + by) / 2, np.hypot(bx - ax, by - ay)
across = LineString([(mx - 2000 * (ay - by) / d, my + 2000 * (ax - bx) / d),
                     (mx + 2000 * (ay - by) / d, my - 2000 * (ax - bx) / d)]).intersection(outline)
across = max(getattr(across, "geoms", [across]), key=lambda g: g.length)
res.plot_section(list(across.coords), "saturation", time=4.0, vertical="depth",
                 path=os.path.join(pictures, "section.png"))
print("pictures in %s; %.0f s in all" % (pictures, time.time() - start))
