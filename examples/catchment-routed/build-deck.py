#!/usr/bin/env python3
"""Builds this example's deck: the terrain, soils, layers, water table and storm of
examples/catchment, with the water on the ground routed to the outlet (the surface-flow section
of the parameter file, docs/surface.md). Where examples/catchment has seepage faces at the outlet,
this one has an outlet on the ground: the groundwater that comes up there joins the water on the
ground and leaves with it. The deck files are committed, so the
example runs without Python: examples/run.sh PROGRAM catchment-routed."""
import os
import sys

import numpy as np

here = os.path.dirname(os.path.abspath(__file__))
terrain = os.path.join(here, "..", "catchment")
sys.path.insert(0, os.path.join(here, "..", "..", "python"))
from nepora.mesh import from_dem  # noqa: E402

j = lambda name: os.path.join(terrain, name)  # noqa: E731
deck = from_dem(j("dem.asc"), j("boundary.geojson"), size=30.0, min_size=8.0, tolerance=0.1,
                layers=[0.25, 0.25, 0.5, 1.0, 1.5, 2.5], materials=j("soils.geojson"))
# Metres and hours, as examples/catchment: a loam on the slopes, the sandy alluvium of the floor.
deck.set_soil(material=1, K=0.02, STORAGE=1e-4, POROSITY=0.45)
deck.set_soil(material=2, K=0.2, STORAGE=1e-4, POROSITY=0.35)
deck.soil.PMIN = -5.0
deck.initial_water_table(depth=0.5)   # a wet spell: the table 0.5 m below the ground
xyz = deck.coordinates()[:deck.NNOD]
low = np.argmin(xyz[:, 2])
# The outlet: the nodes of the boundary within 15 m of the lowest one.
x0, y0 = xyz[low, 0], xyz[low, 1]
outlet = deck.boundary_nodes(where=lambda x, y, z: np.hypot(x - x0, y - y0) <= 15.0)
# A heavier storm than examples/catchment's: 40 mm/h for 3 hours, twice what the loam takes.
deck.set_atmosphere([0.0, 3.0, 3.01, 54.0], [0.04, 0.04, 0.0, 0.0])
p = deck.parm
p.TMAX, p.DELTAT, p.DTMAX, p.TIMPRT = 54.0, 0.01, 0.25, [3.0, 6.0, 24.0, 54.0]
p.NODVP = [int(low) + 1]
p.IFLOW = 2
p.TOLNL, p.ITMX, p.ITMX1, p.ITMX2 = 1e-6, 20, 8, 14
p.UNITS = "m h"
# Grass on the slopes, a rougher floor with its shrubs; the outlet falls freely.
deck.set_surface("DIFFUSION", manning=[0.1, 0.15])
deck.add_outlet("CRITICAL", outlet)
deck.check()
deck.write(here)
print(deck, "outlet nodes:", list(outlet))
