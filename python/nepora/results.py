"""Results(dir): the results of a run as numpy arrays, an xarray Dataset and pandas tables.

The mesh and the nodal results come from the ParaView series of vtk/ (every detailed-output
time: the initial state, the TIMPRT times reached, the end; the pieces of a run on several
processes put together), or from the HDF5 file h5/nepora3d.h5 of --results h5, the tables from csv/ (see docs/results.md). Fields are 32-bit as in the .vtu files; coordinates and times 64-bit.
"""
import os

import numpy as np

from .h5results import H5_FILE, read_h5_series
from .vtu import read_pvd, read_series_file, write_pvd, write_vtu

TABLES = ("budget", "hydrograph", "observations", "seepage", "outlets")


class Results:
    """The results in a deck directory after a run.

    nodes        (N, 3) x, y, z; row k is node k + 1
    tetrahedra   (NT, 4) rows of nodes (0-based, so nodes[tetrahedra] works); row e is element e + 1
    materials    (NT,) material codes;  layers (NT,) 1 at the surface to NSTR
    times, steps the detailed-output times and their step numbers
    dataset      xarray.Dataset over (time, node) and (time, element)
    budget, hydrograph, observations, seepage, outlets: the csv/ tables as pandas DataFrames
                 (None when the run has no such table; outlets: the discharge of the outlets of
                 the surface-flow section)
    """

    def __init__(self, path=".", source=None):
        """source: "vtk" (the ParaView series), "h5" (the HDF5 file) or None, the series
        when there is one and else the HDF5 file."""
        self.path = os.path.abspath(path)
        self._series = None
        self._dataset = None
        self._tables = {}
        pvd = os.path.join(self.path, "vtk", "nepora3d.pvd")
        h5 = os.path.join(self.path, H5_FILE)
        if source is None:
            source = "vtk" if os.path.exists(pvd) or not os.path.exists(h5) else "h5"
        if source not in ("vtk", "h5"):
            raise ValueError("source: 'vtk' or 'h5', not %r" % (source,))
        if not os.path.exists(pvd if source == "vtk" else h5):
            raise FileNotFoundError("%s: no %s (has the deck run, without "
                                    "--no-extra-output%s?)"
                                    % (self.path, "vtk/nepora3d.pvd" if source == "vtk" else H5_FILE,
                                       "" if source == "vtk" else ", with --results h5"))
        self._pvd = pvd
        self._h5 = h5 if source == "h5" else None

    # --- the series of vtk/ ---
    def _load(self):
        if self._series is None and self._h5 is not None:
            self._series = read_h5_series(self._h5)
        if self._series is None:
            entries = read_pvd(self._pvd)
            files = [read_series_file(os.path.join(self.path, "vtk", f)) for _, f in entries]
            if not files:
                raise FileNotFoundError("%s lists no .vtu file" % self._pvd)
            self._series = (np.array([t for t, _ in entries]), files)
        return self._series

    @property
    def nodes(self):
        return self._load()[1][0]["points"]

    @property
    def tetrahedra(self):
        return self._load()[1][0]["cells"].reshape(-1, 4)

    @property
    def materials(self):
        return self._load()[1][0]["cell"]["material"]

    @property
    def layers(self):
        return self._load()[1][0]["cell"]["layer"]

    @property
    def times(self):
        return self._load()[0]

    @property
    def steps(self):
        return np.array([f["field"]["NSTEP"][0] for f in self._load()[1]])

    def node_volumes(self):
        """The volume each node stands for: a quarter of every tetrahedron around it."""
        p, t = self.nodes, self.tetrahedra
        a, b, c, d = (p[t[:, k]] for k in range(4))
        vol = np.abs(np.einsum("ij,ij->i", np.cross(b - a, c - a), d - a)) / 6.0
        out = np.zeros(len(p))
        for k in range(4):
            np.add.at(out, t[:, k], vol / 4.0)
        return out

    @property
    def dataset(self):
        """Every detailed-output time as an xarray Dataset: pressure_head, total_head,
        saturation, relative_conductivity (time, node), darcy_velocity (time, node, component),
        concentration (coupled runs), element_velocity (time, element, component); with a
        surface-flow section ground_water_depth (time, surface_node): the depth of water on the
        ground, max(pressure head, 0) of the surface nodes (surface_node k is node k, 1..NNOD);
        coordinates time, step, node (1..N), x, y, z, element (1..NT), material, layer; the mesh
        as tetrahedron_nodes (element, vertex: node numbers 1..N)."""
        if self._dataset is None:
            import xarray as xr
            times, files = self._load()
            f0 = files[0]
            # With a UNITS record the head and velocity arrays carry their unit
            # (pressure_head_m): the dataset keeps the plain names, the unit in attrs.
            lunit, tunit = self.units()
            suffix = {}
            if lunit:
                for base, u in (("pressure_head", lunit), ("total_head", lunit),
                                ("ground_water_depth", lunit),
                                ("darcy_velocity", lunit + "_" + tunit),
                                ("element_velocity", lunit + "_" + tunit)):
                    suffix[base + "_" + u] = (base, u.replace("_", "/"))
            for f in files:
                for part in ("point", "cell"):
                    f[part] = {suffix.get(k, (k,))[0]: v for k, v in f[part].items()}
            n, nt = len(f0["points"]), len(f0["cells"]) // 4
            data = {}
            for name in f0["point"]:
                if name == "node":
                    continue
                a = np.stack([f["point"][name] for f in files])
                dims = ("time", "node") if a.ndim == 2 else ("time", "node", "component")
                data[name] = (dims, a)
            for name in f0["cell"]:
                if name in ("material", "layer"):
                    continue
                a = np.stack([f["cell"][name] for f in files])
                dims = ("time", "element") if a.ndim == 2 else ("time", "element", "component")
                data[name] = (dims, a)
            data["tetrahedron_nodes"] = (("element", "vertex"), self.tetrahedra.astype(np.int32) + 1)
            nnod = None
            if "pressure_head" in data and self.surface_flow():
                # The surface nodes are the first NNOD, N = NNOD (NSTR + 1).
                nnod = n // (int(f0["cell"]["layer"].max()) + 1)
                psi = data["pressure_head"][1][:, :nnod]
                data["ground_water_depth"] = (("time", "surface_node"), np.maximum(psi, 0).astype(psi.dtype))
            coords = {"time": times, "step": ("time", self.steps.astype(np.int32)),
                      "node": np.arange(1, n + 1, dtype=np.int32),
                      "x": ("node", f0["points"][:, 0]), "y": ("node", f0["points"][:, 1]),
                      "z": ("node", f0["points"][:, 2]),
                      "element": np.arange(1, nt + 1, dtype=np.int32),
                      "material": ("element", f0["cell"]["material"]),
                      "layer": ("element", f0["cell"]["layer"]),
                      "component": ["x", "y", "z"]}
            if nnod is not None:
                coords["surface_node"] = np.arange(1, nnod + 1, dtype=np.int32)
            ds = xr.Dataset(data, coords=coords)
            units = {"pressure_head": "L", "total_head": "L", "ground_water_depth": "L", "darcy_velocity": "L/T",
                     "element_velocity": "L/T", "saturation": "-", "relative_conductivity": "-",
                     "time": "T", "x": "L", "y": "L", "z": "L"}
            if lunit:
                units.update({k: u for k, u in suffix.values()})
                units.update(time=tunit, x=lunit, y=lunit, z=lunit)
            for k, u in units.items():
                if k in ds.variables:
                    ds[k].attrs["units"] = u
            ds.attrs["source"] = "nepora3d results of %s" % self.path
            if lunit:
                ds.attrs["length_unit"], ds.attrs["time_unit"] = lunit, tunit
            self._dataset = ds
        return self._dataset

    def _parm_lines(self):
        try:
            with open(os.path.join(self.path, "nepora3d.fnames")) as f:
                name = f.read().split("\n")[0][:40].rstrip()
            with open(os.path.join(self.path, name)) as f:
                return f.read().split("\n")
        except OSError:
            return []

    def surface_flow(self):
        """True when the deck has a surface-flow section (a SURFACE line in its parameter
        file)."""
        return any(line.split()[:1] and line.split()[0].upper() == "SURFACE"
                   for line in self._parm_lines())

    def units(self):
        """(length, time) of the deck's UNITS record, or (None, None)."""
        found = (None, None)
        for line in self._parm_lines():
            w = line.split()
            if len(w) == 3 and w[0].upper() == "UNITS":
                found = (w[1], w[2])
        return found

    # --- the tables of csv/ ---
    def table(self, name):
        """A csv/ table as a DataFrame (budget, hydrograph, observations, seepage, outlets);
        None when the run did not write it."""
        if name not in self._tables:
            import pandas as pd
            f = os.path.join(self.path, "csv", name + ".csv")
            self._tables[name] = pd.read_csv(f) if os.path.exists(f) else None
        return self._tables[name]

    budget = property(lambda self: self.table("budget"))
    hydrograph = property(lambda self: self.table("hydrograph"))
    observations = property(lambda self: self.table("observations"))
    seepage = property(lambda self: self.table("seepage"))
    outlets = property(lambda self: self.table("outlets"))

    def listing(self):
        """The text of the main listing (fnames line 13)."""
        with open(os.path.join(self.path, "nepora3d.fnames")) as f:
            name = f.read().split("\n")[12][:40].rstrip()
        with open(os.path.join(self.path, name), errors="replace") as f:
            return f.read()

    # --- exports ---
    def to_netcdf(self, path, dataset=None):
        """Writes the dataset (or a Dataset derived from it) to a netCDF file: netCDF-4 when
        the netCDF4 module is there, else netCDF-3 through scipy."""
        ds = self.dataset if dataset is None else dataset
        try:
            import netCDF4  # noqa: F401
            engine = "netcdf4"
        except ImportError:
            engine = "scipy"
            ds = ds.copy()
            for k in list(ds.variables):
                if ds[k].dtype.kind in "iu" and ds[k].dtype.itemsize > 4:
                    ds[k] = ds[k].astype(np.int32)
        ds.to_netcdf(path, engine=engine)
        return path

    def to_vtk(self, directory, dataset=None, name="results"):
        """Writes a ParaView series of the dataset (or a Dataset derived from it, with fields
        of your own over (time, node) or (node,), (time, element) or (element,)): one .vtu a
        time and NAME.pvd; returns the path of the .pvd. Values at full precision."""
        ds = self.dataset if dataset is None else dataset
        os.makedirs(directory, exist_ok=True)
        entries = []
        tet = self.tetrahedra
        for k, t in enumerate(ds["time"].values):
            pd_, cd = {}, {}
            for v in ds.data_vars:
                a = ds[v]
                if "time" in a.dims:
                    a = a.isel(time=k)
                if a.dims and a.dims[0] == "node":
                    pd_[v] = a.values
                elif a.dims and a.dims[0] == "element" and v != "tetrahedron_nodes":
                    cd[v] = a.values
            cd["material"] = ds["material"].values
            cd["layer"] = ds["layer"].values
            fname = "%s_%04d.vtu" % (name, k)
            write_vtu(os.path.join(directory, fname), self.nodes, tet, pd_, cd,
                      {"TimeValue": np.array([t], np.float64)})
            entries.append((t, fname))
        pvd = os.path.join(directory, name + ".pvd")
        write_pvd(pvd, entries)
        return pvd

    def __repr__(self):
        return "<Results %s>" % self.path
