"""Results(dir): the results of a run as numpy arrays, an xarray Dataset and pandas tables.

The mesh and the nodal results come from the ParaView series of vtk/ (every detailed-output
time: the initial state, the TIMPRT times reached, the end; the pieces of a run on several
processes put together), the tables from csv/ (see docs/results.md). Fields are 32-bit as in the .vtu files; coordinates and times 64-bit.
"""
import os

import numpy as np

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
    maps(time), section(line, time)   the ground (depth to the water table, ponding,
                 saturation) and vertical sections, as xarray; plot_map, plot_section draw them
    """

    def __init__(self, path="."):
        self.path = os.path.abspath(path)
        self._series = None
        self._dataset = None
        self._tables = {}
        pvd = os.path.join(self.path, "vtk", "nepora3d.pvd")
        if not os.path.exists(pvd):
            raise FileNotFoundError("%s: no vtk/nepora3d.pvd (has the deck run, without "
                                    "--no-extra-output?)" % self.path)
        self._pvd = pvd

    # --- the series of vtk/ ---
    def _load(self):
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

    # --- maps on the ground surface and sections ---
    def levels(self):
        """(NSTR + 1, NNOD): the node numbers (0-based) of every level, the surface first: node
        k of the surface has below it the nodes k + NNOD, k + 2 NNOD, ..."""
        n = len(self.nodes)
        nlev = int(self.layers.max()) + 1
        return np.arange(n).reshape(nlev, n // nlev)

    def surface_triangles(self):
        """(NTRI, 3) the surface triangles as rows of surface nodes (0-based): the faces of the
        tetrahedra of the top layer whose three corners are surface nodes."""
        nnod = self.levels().shape[1]
        top = self.tetrahedra[self.layers == 1]
        on = top < nnod
        t = top[on.sum(axis=1) == 3]
        return t[on[on.sum(axis=1) == 3]].reshape(-1, 3)

    def _at(self, time):
        """The index of a detailed-output time (an index when an int, else the nearest time)."""
        if isinstance(time, (int, np.integer)):
            return int(time)
        return int(np.argmin(np.abs(self.times - float(time))))

    def maps(self, time=-1):
        """The maps of the ground at a detailed-output time (an index, default the last, or a
        time: the nearest) as an xarray Dataset over surface_node (1..NNOD):
        water_table_depth  the depth below the ground of the water table, the top of the
                           saturated zone (pressure head 0, linear between the nodes of the
                           column); 0 where the ground is saturated, NaN where no node of the
                           column is (the table is below the base)
        ponding_depth      the water standing on the ground, max(pressure head, 0)
        ground_saturation  the saturation of the surface node
        with x, y, z of the surface nodes and the time as coordinates."""
        import xarray as xr
        k = self._at(time)
        ds = self.dataset
        lev = self.levels()
        z = self.nodes[:, 2][lev]
        psi = ds["pressure_head"].values[k][lev].astype(float)
        depth = water_table_depth(z, psi)
        top = lev[0]
        unit = ds["pressure_head"].attrs.get("units", "L")
        out = xr.Dataset(
            {"water_table_depth": ("surface_node", depth, {"units": unit}),
             "ponding_depth": ("surface_node", np.maximum(psi[0], 0.0), {"units": unit}),
             "ground_saturation": ("surface_node",
                                   ds["saturation"].values[k][top].astype(float), {"units": "-"})},
            coords={"surface_node": np.arange(1, len(top) + 1, dtype=np.int32),
                    "x": ("surface_node", self.nodes[top, 0]),
                    "y": ("surface_node", self.nodes[top, 1]),
                    "z": ("surface_node", self.nodes[top, 2]), "time": self.times[k]})
        return out

    def section(self, line, time=-1, spacing=None):
        """A vertical section along a polyline [(x, y), ...] at a detailed-output time: every
        nodal field of the dataset interpolated (linearly in the surface triangles, level by
        level) at points every spacing along the line (default: a hundredth of its length)
        where it crosses the mesh, as an xarray Dataset over (level, distance) with x, y
        (distance) and z (level, distance), and the water table's elevation over distance."""
        import xarray as xr
        line = np.asarray(line, float)
        seg = np.hypot(*np.diff(line, axis=0).T)
        cum = np.concatenate([[0.0], np.cumsum(seg)])
        if len(line) < 2 or cum[-1] <= 0:
            raise ValueError("a section needs a polyline of two distinct points at least")
        spacing = cum[-1] / 100.0 if spacing is None else float(spacing)
        s = np.linspace(0.0, cum[-1], int(np.ceil(cum[-1] / spacing)) + 1)
        px, py = np.interp(s, cum, line[:, 0]), np.interp(s, cum, line[:, 1])
        tri, w = _locate(self.nodes[:, 0], self.nodes[:, 1], self.surface_triangles(), px, py)
        keep = tri >= 0
        if not keep.any():
            raise ValueError("the section does not cross the mesh")
        s, px, py, tri, w = s[keep], px[keep], py[keep], tri[keep], w[keep]
        corners = self.surface_triangles()[tri]                     # (P, 3) surface nodes
        lev = self.levels()
        k = self._at(time)
        ds = self.dataset
        nodes = lev[:, corners]                                        # (L, P, 3)

        def interp(values):
            return (values[nodes] * w[None]).sum(axis=-1)
        data = {}
        for name, v in ds.data_vars.items():
            if v.dims[:2] == ("time", "node"):
                a = v.values[k].astype(float)
                if a.ndim == 1:
                    data[name] = (("level", "distance"), interp(a), dict(v.attrs))
        z = interp(self.nodes[:, 2])
        psi = interp(ds["pressure_head"].values[k].astype(float))
        data["water_table"] = ("distance", z[0] - water_table_depth(z, psi),
                               dict(ds["pressure_head"].attrs))
        return xr.Dataset(data, coords={"distance": s, "level": np.arange(len(lev)),
                                        "x": ("distance", px), "y": ("distance", py),
                                        "z": (("level", "distance"), z),
                                        "time": self.times[k]})

    def plot_map(self, name="water_table_depth", time=-1, ax=None, path=None, **kw):
        """A picture of a map of maps() on the surface triangles (matplotlib), with the
        colour bar, blank where the map has no value (the water table below the base); written
        to path when given. Returns the axes."""
        import matplotlib
        if path is not None and ax is None:
            matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        m = self.maps(time)
        fig = None
        if ax is None:
            fig, ax = plt.subplots(figsize=(6.5, 5.5))
        cmap = {"water_table_depth": "viridis_r", "ponding_depth": "Blues",
                "ground_saturation": "YlGnBu"}.get(name, "viridis")
        from matplotlib.tri import Triangulation
        values = m[name].values
        tri = self.surface_triangles()
        # The triangles with a node without a value (a water table below the base) left blank.
        t = Triangulation(m.x.values, m.y.values, tri, mask=np.isnan(values)[tri].any(axis=1))
        pc = ax.tripcolor(t, np.nan_to_num(values), shading="gouraud",
                          cmap=kw.pop("cmap", cmap), **kw)
        ax.set_aspect("equal")
        ax.ticklabel_format(useOffset=False, style="plain")
        ax.tick_params(axis="x", labelrotation=30)
        unit = m[name].attrs.get("units", "")
        ax.figure.colorbar(pc, ax=ax, label="%s [%s]" % (name.replace("_", " "), unit))
        ax.set_title("%s at t = %g" % (name.replace("_", " "), float(m.time)))
        ax.set_xlabel("x")
        ax.set_ylabel("y")
        if path is not None:
            ax.figure.savefig(path, dpi=110, bbox_inches="tight")
            if fig is not None:
                plt.close(fig)
        return ax

    def plot_section(self, line, name="saturation", time=-1, ax=None, path=None, spacing=None,
                     vertical="elevation", **kw):
        """A picture of a field of section() (default the saturation) against distance and
        elevation (vertical="depth": the depth below the ground, for a soil thin beside the
        relief), the ground and the water table drawn over it; written to path when given.
        Returns the axes."""
        import matplotlib
        if path is not None and ax is None:
            matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        sec = self.section(line, time, spacing)
        fig = None
        if ax is None:
            fig, ax = plt.subplots(figsize=(8, 3.8))
        d = np.broadcast_to(sec.distance.values, sec.z.shape)
        depth = vertical == "depth"
        z0 = sec.z.values[0] if depth else 0.0
        v = sec.z.values - z0
        pc = ax.pcolormesh(d, v, sec[name].values, shading="gouraud",
                           cmap=kw.pop("cmap", "YlGnBu"), **kw)
        ax.plot(sec.distance, sec.z.values[0] - z0, "k-", lw=1.2, label="ground")
        ax.plot(sec.distance, sec.water_table.values - z0, "C0--", lw=1.4, label="water table")
        ax.figure.colorbar(pc, ax=ax, label="%s [%s]" % (name.replace("_", " "),
                                                         sec[name].attrs.get("units", "")))
        ax.set_xlabel("distance along the section")
        ax.set_ylabel("height above the ground" if depth else "elevation z")
        ax.set_title("section, %s at t = %g" % (name.replace("_", " "), float(sec.time)))
        ax.legend(fontsize=8, loc="lower left")
        if path is not None:
            ax.figure.savefig(path, dpi=110, bbox_inches="tight")
            if fig is not None:
                plt.close(fig)
        return ax

    def __repr__(self):
        return "<Results %s>" % self.path


def water_table_depth(z, psi):
    """The depth below the top of every column of the water table, where the pressure head
    crosses 0 going up from the highest node with pressure head >= 0 (linear between it and
    the node above); z and psi of shape (levels, columns), the top level first. 0 where the top
    node has psi >= 0, NaN where no node has."""
    z, psi = np.asarray(z, float), np.asarray(psi, float)
    wet = psi >= 0
    first = np.argmax(wet, axis=0)                      # the highest wet level (top first)
    cols = np.arange(z.shape[1])
    out = np.full(z.shape[1], np.nan)
    any_ = wet.any(axis=0)
    top = any_ & (first == 0)
    out[top] = 0.0
    mid = any_ & (first > 0)
    j, c = first[mid], cols[mid]
    zb, pb = z[j, c], psi[j, c]                         # the wet node
    za, pa = z[j - 1, c], psi[j - 1, c]                 # the dry one above it
    zw = zb + (za - zb) * pb / (pb - pa)
    out[mid] = z[0, c] - zw
    return out


def _locate(x, y, tri, px, py):
    """The triangle holding each point (-1 outside) and its barycentric weights (P, 3)."""
    from matplotlib.tri import Triangulation
    t = Triangulation(x[:tri.max() + 1], y[:tri.max() + 1], tri)
    which = np.asarray(t.get_trifinder()(px, py))
    c = tri[np.maximum(which, 0)]
    x0, y0 = x[c[:, 0]], y[c[:, 0]]
    x1, y1 = x[c[:, 1]], y[c[:, 1]]
    x2, y2 = x[c[:, 2]], y[c[:, 2]]
    det = (y1 - y2) * (x0 - x2) + (x2 - x1) * (y0 - y2)
    a = ((y1 - y2) * (px - x2) + (x2 - x1) * (py - y2)) / det
    b = ((y2 - y0) * (px - x2) + (x0 - x2) * (py - y2)) / det
    return which, np.column_stack([a, b, 1.0 - a - b])
