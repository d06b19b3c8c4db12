"""Surface triangulations for Deck.set_mesh: a structured rectangle, and (from_dem) a mesh of a
real terrain from a DEM and a boundary polygon."""
import numpy as np


def rectangle(nx, ny, lx, ly, x0=0.0, y0=0.0):
    """A rectangle of nx x ny surface nodes (lx by ly), each cell split by the same diagonal:
    x, y (node k at column k % nx, row k // nx) and the (NTRI, 3) triangles (0-based)."""
    xs = x0 + np.linspace(0.0, lx, nx)
    ys = y0 + np.linspace(0.0, ly, ny)
    X, Y = np.meshgrid(xs, ys)
    tri = []
    for j in range(ny - 1):
        for i in range(nx - 1):
            a, b = j * nx + i, j * nx + i + 1
            c, d = a + nx, b + nx
            tri += [(a, b, d), (a, d, c)]
    return X.reshape(-1), Y.reshape(-1), np.array(tri, np.int64).reshape(-1, 3)
