"""The HDF5 results file of a run with --results h5 (h5/nepora3d.h5, docs/results.md), read with
h5py into the form the ParaView series is read into, so that Results gives the same arrays and
Dataset from either."""
import os

import numpy as np

H5_FILE = os.path.join("h5", "nepora3d.h5")


def read_h5_series(path):
    """(times, files) of the HDF5 file at path: the times in order and, for each, a dict as
    vtu.read_series_file gives (points, cells, point, cell, field), the mesh shared by all."""
    import h5py
    with h5py.File(path, "r") as f:
        mesh = f["mesh"]
        points = mesh["points"][...]
        cells = mesh["tetrahedra"][...].astype(np.int64).reshape(-1)
        material, layer = mesh["material"][...], mesh["layer"][...]
        times, files = [], []
        for name in sorted(f["times"]):
            g = f["times"][name]
            point, cell = {}, {}
            for a in g:
                v = g[a][...]
                (cell if v.shape[0] == len(material) and a.startswith("element_") else point)[a] = v
            cell["material"], cell["layer"] = material, layer
            times.append(float(g.attrs["time"]))
            files.append({"points": points, "cells": cells, "point": point, "cell": cell,
                          "field": {"TimeValue": np.array([times[-1]]),
                                    "NSTEP": np.array([int(g.attrs["step"])], np.int32)}})
    return np.array(times), files
