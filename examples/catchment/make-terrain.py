#!/usr/bin/env python3
"""Writes the terrain of this example: dem.asc (a 400 m x 300 m valley on 5 m cells: a floor
that meanders and falls 3 % towards the outlet in the west, side slopes rising 15 m to the
ridges, a tributary hollow from the north-east and rough ground of a decimetre),
boundary.geojson (the catchment outline, closing at the outlet) and soils.geojson (the
alluvium of the valley floor, material 2). Deterministic: the same files on every machine."""
import json
import os
import sys

import numpy as np

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "python"))
from nepora.mesh import Raster  # noqa: E402


def floor(x):
    return 150.0 + 20.0 * np.sin(x / 70.0)


cs = 5.0
x = cs / 2 + cs * np.arange(80)
y = cs / 2 + cs * np.arange(60)
X, Y = np.meshgrid(x, y)
d = Y - floor(X)
z = 100.0 + 0.03 * X + 15.0 * (d / 150.0) ** 2
z -= 4.0 * np.exp(-(((X - 300.0) - 0.8 * (Y - 160.0)) / 30.0) ** 2) * (Y > floor(X)) * \
    np.clip((Y - floor(X)) / 60.0, 0, 1)                      # a hollow from the north-east
rng = np.random.default_rng(27)
noise = rng.normal(0.0, 1.0, z.shape)
for _ in range(4):                                            # smoothed: rough ground, not grit
    p = np.pad(noise, 1, mode="edge")
    noise = (p[:-2, 1:-1] + p[2:, 1:-1] + p[1:-1, :-2] + p[1:-1, 2:] + 4 * noise) / 8.0
z += 0.1 * noise / noise.std()
Raster(x, y, z).write_ascii(os.path.join(here, "dem.asc"), digits=2)

t = np.linspace(0.0, 2 * np.pi, 41)[:-1]
ring = []
for a in t:                                   # an egg round the valley, narrow at the outlet
    u = 205.0 + 185.0 * np.cos(a)
    w = 115.0 * (0.3 + 0.7 * (1.0 + np.cos(a)) / 2.0) ** 0.5
    ring.append([round(float(u), 2), round(float(floor(u) + w * np.sin(a)), 2)])
ring.append(ring[0])
json.dump({"type": "FeatureCollection", "features": [{"type": "Feature", "properties":
          {"name": "catchment"}, "geometry": {"type": "Polygon", "coordinates": [ring]}}]},
          open(os.path.join(here, "boundary.geojson"), "w"), indent=1)

xs = np.linspace(0.0, 400.0, 41)
band = [[float(u), round(float(floor(u) + 25.0), 2)] for u in xs] + \
       [[float(u), round(float(floor(u) - 25.0), 2)] for u in xs[::-1]]
band.append(band[0])
json.dump({"type": "FeatureCollection", "features": [{"type": "Feature", "properties":
          {"name": "alluvium", "material": 2}, "geometry": {"type": "Polygon", "coordinates": [band]}}]},
          open(os.path.join(here, "soils.geojson"), "w"), indent=1)
