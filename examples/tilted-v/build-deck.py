#!/usr/bin/env python3
"""Builds this example's deck: the tilted V-catchment of the integrated-hydrology
intercomparisons. Two 800 m x 1000 m planes fall at 5 % towards a 20 m wide channel, which falls
at 2 % to the outlet (the planes fall at 2 % along it too); Manning's n 0.015 on the planes, 0.15
in the channel; an impermeable soil; rain of 3e-6 m/s for 90 minutes, 180 minutes in all.

    build-deck.py [DIR] [--cell 20] [--rain 5400] [--end 10800]

writes the deck into DIR (default: beside this script). The deck files are committed, so the
example runs without Python: examples/run.sh PROGRAM tilted-v."""
import argparse
import os
import sys

import numpy as np

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "python"))
from nepora.deck import Deck  # noqa: E402

ap = argparse.ArgumentParser()
ap.add_argument("dir", nargs="?", default=here)
ap.add_argument("--cell", type=float, default=20.0)
ap.add_argument("--rain", type=float, default=5400.0, help="rain duration, s")
ap.add_argument("--end", type=float, default=10800.0, help="end of the run, s")
ap.add_argument("--dtmax", type=float, default=60.0)
a = ap.parse_args()

plane, channel, length = 800.0, 20.0, 1000.0
xs = np.concatenate([np.arange(0.0, plane + 1e-9, a.cell),
                     np.arange(plane + channel, 2 * plane + channel + 1e-9, a.cell)])
ys = np.arange(0.0, length + 1e-9, a.cell)
nx, ny = len(xs), len(ys)
X, Y = np.meshgrid(xs, ys)
x, y = X.reshape(-1), Y.reshape(-1)
# The channel runs along y between x = 800 and 820, its bed falling at 2 % to y = 0.
dist = np.where(x <= plane, plane - x, np.maximum(x - plane - channel, 0.0))
z = 10.0 + 0.02 * y + 0.05 * dist
tri, mat = [], []
for j in range(ny - 1):
    for i in range(nx - 1):
        p, q = j * nx + i, j * nx + i + 1
        r, s = p + nx, q + nx
        code = 2 if xs[i] == plane else 1
        tri += [(p, q, s), (p, s, r)]
        mat += [code, code]

deck = Deck()
deck.set_mesh(x, y, np.array(tri), z, material=np.array(mat))
deck.set_layers([1.0])
deck.set_soil(K=1e-12, STORAGE=1e-6, POROSITY=0.4)   # impermeable
deck.initial_pressure_head(0.0)
i = 3e-6
if a.rain < a.end:
    deck.set_atmosphere([0.0, a.rain, a.rain + 1.0, a.end], [i, i, 0.0, 0.0])
else:
    deck.set_atmosphere([0.0, a.end], [i, i])
p = deck.parm
p.TMAX, p.DELTAT, p.DTMIN, p.DTMAX = a.end, 10.0, 1e-3, a.dtmax
p.TIMPRT = sorted({a.rain, a.end})
p.KSLOPE = 5
p.IFLOW = 2          # Newton: the surface terms with their derivatives converge in a few iterations
p.TOLNL = 1e-6
p.ITMX, p.ITMX1, p.ITMX2 = 20, 6, 12
p.UNITS = "m s"
outlet = [k + 1 for k in range(len(x)) if y[k] == 0.0 and plane <= x[k] <= plane + channel]
deck.set_surface("DIFFUSION", manning=[0.015, 0.15])
deck.add_outlet("NORMAL", outlet)
deck.write(a.dir)
print(deck, "outlet nodes:", outlet)
