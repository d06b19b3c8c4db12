#!/usr/bin/env python3
"""Builds this example's deck from its terrain (make-terrain.py) with the Python package:
the mesh from the DEM and the outline, two soils from soils.geojson, six layers, a water table
2 m below the ground, a storm, and seepage faces at the outlet. The deck files are committed,
so the example runs without Python: examples/run.sh PROGRAM catchment."""
import os
import sys

import numpy as np

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "python"))
import nepora  # noqa: E402
from nepora.mesh import from_dem  # noqa: E402

j = lambda name: os.path.join(here, name)  # noqa: E731
deck = from_dem(j("dem.asc"), j("boundary.geojson"), size=30.0, min_size=8.0, tolerance=0.1,
                layers=[0.25, 0.25, 0.5, 1.0, 1.5, 2.5], materials=j("soils.geojson"))
# Metres and hours. A loam on the slopes, the sandy alluvium of the valley floor.
deck.set_soil(material=1, K=0.02, STORAGE=1e-4, POROSITY=0.45)
deck.set_soil(material=2, K=0.2, STORAGE=1e-4, POROSITY=0.35)
deck.soil.PMIN = -5.0
deck.initial_water_table(depth=2.0)
# The outlet: the verticals of the surface nodes within 15 m of the lowest boundary node.
xyz = deck.coordinates()[:deck.NNOD]
low = np.argmin(xyz[:, 2])
near = np.nonzero(np.hypot(xyz[:, 0] - xyz[low, 0], xyz[:, 1] - xyz[low, 1]) <= 15.0)[0] + 1
deck.add_seepage_faces(deck.nodes(where=lambda x, y, z: np.isin(
    (np.arange(len(x)) % deck.NNOD) + 1, near)))
# 8 mm/h for 6 hours, then two dry days.
deck.set_atmosphere([0.0, 6.0, 6.01, 54.0], [0.008, 0.008, 0.0, 0.0])
p = deck.parm
p.TMAX, p.DELTAT, p.DTMAX, p.TIMPRT = 54.0, 0.01, 1.0, [6.0, 24.0, 54.0]
p.NODVP = [int(low) + 1]
deck.check()
deck.write(here)
print(deck, "seepage faces:", deck.sfbc.NSF)
