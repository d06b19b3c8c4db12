"""A deck: nepora3d.fnames and the twelve input files it names, as typed sections.

    deck = Deck.read("examples/dam")       # or Deck() for a new one
    deck.parm.TMAX = 20.0
    deck.validate()                         # every problem, with its record and valid range
    deck.write("dam-20")                    # unchanged records keep their bytes
"""
import os

import numpy as np

from . import sections as S
from .sections import DeckError

# The 42 lines of nepora3d.fnames of a new deck: name and note.
FNAMES = [
    ("parm", "parameter file"), ("grid", "grid file"),
    ("nansfbc", "flow boundary-condition nodes"), ("dirts", "prescribed heads (time series)"),
    ("neuts", "prescribed fluxes (time series)"), ("atmbc", "atmospheric boundary conditions"),
    ("sfbc", "seepage faces"), ("soil", "soil file"), ("flowic", "flow initial conditions"),
    ("transic", "transport initial conditions (coupled runs)"),
    ("solute", "solute file (coupled runs)"),
    ("transbc", "transport boundary conditions (coupled runs)"),
    ("out.lst", "main listing"), ("coords.out", "node coordinates (IPRT1 = 3)"),
    ("conv.out", "flow nonlinear convergence"), ("mbal.out", "mass balance"),
    ("cpl.out", "coupled iterations (coupled runs)"), ("vp.out", "vertical profiles (NUMVP > 0)"),
    ("vpc.out", "concentration profiles (coupled runs)"),
    ("hgatm.out", "atmospheric and seepage-face hydrograph"),
    ("hgnatm.out", "prescribed-head and prescribed-flux hydrograph"),
    ("hgflag.out", "atmospheric switching (HGFLAG)"), ("sfflag.out", "seepage-face events (SFFLAG)"),
    ("heads.out", "nodal pressure heads (IPRT >= 1)"), ("vel.out", "nodal velocities (IPRT >= 2)"),
    ("conc.out", "nodal concentrations (coupled runs)"),
    ("sw.out", "nodal saturations (IPRT >= 4)"),
    ("ckrw.out", "nodal relative conductivities (IPRT >= 3)"),
    ("elvel.out", "element velocities (IPRT >= 4)"), ("surfp.out", "surface pressure heads"),
    ("satsur.out", "surface saturation indicators"), ("surfsw.out", "surface saturations"),
    ("surfc.out", "surface concentrations (coupled runs)"),
    ("dirbc.out", "prescribed heads at each step"), ("neubc.out", "prescribed fluxes at each step"),
    ("hgsf.out", "seepage-face hydrograph (heading only)"),
    ("hgdir.out", "prescribed-head hydrograph (heading only)"),
    ("hgneu.out", "prescribed-flux hydrograph (heading only)"),
    ("view1.out", "viewer export file 1 (empty)"), ("view2.out", "viewer export file 2 (empty)"),
    ("view3.out", "viewer export file 3 (empty)"), ("view4.out", "viewer export file 4 (empty)"),
]

SECTIONS = ["parm", "grid", "nansfbc", "dirts", "neuts", "atmbc", "sfbc", "soil", "flowic",
            "transic", "solute", "transbc"]
_CLASSES = [S.Parm, S.Grid, S.Nansfbc, S.Dirts, S.Neuts, S.Atmbc, S.Sfbc, S.Soil, S.Flowic,
            S.Transic, S.Solute, S.Transbc]


class Fnames:
    """The 42 lines of nepora3d.fnames. names[k] is the file of line k + 1 (the first `width`
    characters, trailing blanks dropped: 40 for nepora3d, 30 for nepora3d_alt)."""

    def __init__(self, text=None, width=40):
        self.width = width
        if text is None:
            self._lines = ["%-40s%2d %s" % (n, k + 1, note) for k, (n, note) in enumerate(FNAMES)]
            self._tail = "\n"
        else:
            lines = text.split("\n")
            self._tail = ""
            if lines and lines[-1] == "":
                lines.pop()
                self._tail = "\n"
            self._lines = lines
        self._orig = list(self._lines)
        self.names = [self._name(s) for s in self._lines]

    def _name(self, line):
        return line.rstrip("\r")[:self.width].rstrip(" ")

    def __getitem__(self, line):
        """The file name of a line, 1 to 42."""
        return self.names[line - 1]

    def __setitem__(self, line, name):
        if len(name) > self.width:
            raise DeckError("fnames line %d: the name '%s' is longer than %d characters"
                            % (line, name, self.width))
        while len(self.names) < line:
            self.names.append("")
        self.names[line - 1] = name

    def text(self):
        out = []
        for k, name in enumerate(self.names):
            orig = self._lines[k] if k < len(self._lines) else ""
            if self._name(orig) == name:
                out.append(orig)
            else:
                note = orig.rstrip("\r")[self.width:] if len(orig) > self.width else (
                    "%2d %s" % (k + 1, FNAMES[k][1]) if k < len(FNAMES) else "")
                out.append(("%-*s" % (self.width, name) + note).rstrip(" ") if note.strip() else name)
        return "\n".join(out) + self._tail


def _describe(name, deck):
    """The description of a section's records, with the sizes it takes from the others."""
    g, b = deck.grid, deck.nansfbc
    nnod, nstr = len(g.X), len(g.ZRATIO)
    if name == "parm":
        return S._parm
    if name == "grid":
        return S._grid
    if name == "nansfbc":
        return S._nansfbc
    if name == "dirts":
        sizes = [len(b.DIR2D), len(b.DIRNOD)] if len(b.DIR2D) else [len(b.DIRNOD)]
        return lambda io, s: S._series(io, s, "DIRVAL", sizes)
    if name == "neuts":
        return lambda io, s: S._series(io, s, "NEUVAL", [len(b.NEUNOD)])
    if name == "atmbc":
        return lambda io, s: S._atmbc(io, s, nnod)
    if name == "sfbc":
        return S._sfbc
    if name == "soil":
        return lambda io, s: S._soil(io, s, nstr, g.NZONE)
    if name == "flowic":
        return lambda io, s: S._flowic(io, s, nnod * (nstr + 1))
    if name == "transic":
        return lambda io, s: S._transic(io, s, nnod * (nstr + 1))
    if name == "solute":
        return lambda io, s: S._solute(io, s, nstr, g.NZONE)
    return S._transbc


def _column(name):
    return 40 if name == "grid" else 27


def _in_polygon(x, y, polygon, tol):
    """Points inside a polygon (a list of (x, y), or a shapely Polygon: its outer ring) or on
    its edges within tol, by the crossings of a ray along x."""
    if hasattr(polygon, "exterior"):
        polygon = list(polygon.exterior.coords)
    p = np.asarray(polygon, float)
    if p.ndim != 2 or p.shape[1] != 2 or len(p) < 3:
        raise DeckError("polygon= takes three (x, y) vertices or more")
    a, b = p, np.roll(p, -1, axis=0)
    x, y = np.asarray(x, float)[:, None], np.asarray(y, float)[:, None]
    up = (a[:, 1] <= y) != (b[:, 1] <= y)
    with np.errstate(divide="ignore", invalid="ignore"):
        cross = a[:, 0] + (y - a[:, 1]) * (b[:, 0] - a[:, 0]) / (b[:, 1] - a[:, 1])
    inside = (np.count_nonzero(up & (x < cross), axis=1) % 2) == 1
    # On an edge: the distance to the segment within tol.
    d = b - a
    ll = np.maximum((d ** 2).sum(1), 1e-300)
    s = np.clip(((x - a[:, 0]) * d[:, 0] + (y - a[:, 1]) * d[:, 1]) / ll, 0.0, 1.0)
    near = np.hypot(a[:, 0] + s * d[:, 0] - x, a[:, 1] + s * d[:, 1] - y) <= tol
    return inside | near.any(1)


class Deck:
    """A deck directory as Python objects: deck.parm, deck.grid, deck.nansfbc, deck.dirts,
    deck.neuts, deck.atmbc, deck.sfbc, deck.soil, deck.flowic, deck.transic, deck.solute,
    deck.transbc (the files of fnames lines 1 to 12) and deck.fnames; deck.surface is the
    surface-flow section of the parameter file (deck.parm.SURFACE), deck.roots its root-uptake
    section (deck.parm.ROOTS)."""

    def __init__(self, width=40):
        self.fnames = Fnames(width=width)
        self.path = None
        self._missing = []
        for name, cls in zip(SECTIONS, _CLASSES):
            setattr(self, name, cls())
        self._resize_tables()

    def __setattr__(self, name, value):
        if not name.startswith("_") and name not in SECTIONS + ["fnames", "path", "surface", "roots"]:
            raise AttributeError("a Deck has no part %s (parts: %s)" % (name, " ".join(SECTIONS)))
        object.__setattr__(self, name, value)

    # --- reading and writing ---
    @classmethod
    def read(cls, path, width=40):
        """Reads the deck in directory path (nepora3d_alt decks: width=30)."""
        deck = cls.__new__(cls)
        object.__setattr__(deck, "path", os.path.abspath(path))
        object.__setattr__(deck, "_missing", [])
        fn = os.path.join(path, "nepora3d.fnames")
        try:
            with open(fn, newline="") as f:
                deck.fnames = Fnames(f.read(), width)
        except OSError as e:
            raise DeckError("cannot read %s: %s" % (fn, e.strerror)) from None
        grid_ok = True
        for name, cls_ in zip(SECTIONS, _CLASSES):
            setattr(deck, name, cls_())
        for k, name in enumerate(SECTIONS):
            sec = getattr(deck, name)
            object.__setattr__(sec, "_exists", True)
            fname = deck.fnames[k + 1] if k < len(deck.fnames.names) else ""
            full = os.path.join(path, fname)
            try:
                with open(full, newline="") as f:
                    text = f.read()
            except OSError:
                object.__setattr__(sec, "_exists", False)
                if k < 9:
                    deck._missing.append((k + 1, fname))
                continue
            skip = ((name == "dirts" and len(deck.nansfbc.DIR2D) + len(deck.nansfbc.DIRNOD) == 0)
                    or (name == "neuts" and len(deck.nansfbc.NEUNOD) == 0)
                    or (not grid_ok and name in ("atmbc", "soil", "flowic", "transic", "solute")))
            if skip:
                object.__setattr__(sec, "_raw", text)
                object.__setattr__(sec, "_error", None)
                continue
            S.parse(sec, text, fname, _describe(name, deck), _column(name))
            if name == "grid" and sec._raw is not None:
                grid_ok = False
        return deck

    def write(self, path=None):
        """Writes nepora3d.fnames and the input files into directory path (default: where the
        deck was read from); returns the path."""
        path = os.path.abspath(path or self.path or ".")
        os.makedirs(path, exist_ok=True)
        with open(os.path.join(path, "nepora3d.fnames"), "w", newline="") as f:
            f.write(self.fnames.text())
        for k, name in enumerate(SECTIONS):
            sec = getattr(self, name)
            if not getattr(sec, "_exists", True) and sec._raw is None and not sec._source:
                continue  # a transport file a flow-only deck never had
            fname = self.fnames[k + 1]
            if os.path.isabs(fname):
                raise DeckError("fnames line %d names '%s': a deck is written with names "
                                "relative to its directory" % (k + 1, fname))
            text = S.render(sec, _describe(name, self), _column(name))
            full = os.path.join(path, fname)
            os.makedirs(os.path.dirname(full) or ".", exist_ok=True)
            with open(full, "w", newline="") as f:
                f.write(text)
        for line in range(13, 43):  # folders of the output files
            fname = self.fnames[line] if line <= len(self.fnames.names) else ""
            d = os.path.dirname(fname)
            if d and not os.path.isabs(fname):
                os.makedirs(os.path.join(path, d), exist_ok=True)
        self.path = path
        return path

    def copy(self):
        import copy
        return copy.deepcopy(self)

    # --- sizes and geometry ---
    @property
    def NNOD(self):
        return len(self.grid.X)

    @property
    def NSTR(self):
        return len(self.grid.ZRATIO)

    @property
    def N(self):
        return self.NNOD * (self.NSTR + 1)

    @property
    def NT(self):
        return 3 * len(self.grid.TRIANG) * self.NSTR

    def levels(self):
        """Elevation of every node level, shape (NSTR + 1, NNOD) (docs/input.md 7.1)."""
        g = self.grid
        nnod = self.NNOD
        z = np.asarray(g.Z, float)
        z = np.full(nnod, z[0]) if g.ISP == 0 and z.size else z
        c = np.concatenate([[0.0], np.cumsum(g.ZRATIO)])[:, None]
        if z.size != nnod:
            raise DeckError("grid: %d surface elevations for %d nodes" % (z.size, nnod))
        if g.ISP == 2:
            return z - (z - np.asarray(g.ZBOTTOM, float)) * c
        zmin = z.min() if nnod else 0.0
        if g.IVERT == 0:
            return z - g.BASE * c
        if g.IVERT == 1:
            return z - (z - zmin + g.BASE) * c
        out = np.broadcast_to(zmin - g.BASE * c, (len(c), nnod)).copy()
        out[0] = z
        return out

    def coordinates(self):
        """x, y, z of every node, shape (N, 3): row k is node k + 1."""
        lev = self.levels()
        nl = lev.shape[0]
        x = np.tile(self.grid.X, nl)
        y = np.tile(self.grid.Y, nl)
        return np.column_stack([x, y, lev.reshape(-1)])

    def nodes(self, x=None, y=None, z=None, level=None, face=None, box=None, where=None,
              surface=False, bottom=False, tol=None, polygon=None):
        """Node numbers (1-based, ascending) of the nodes that satisfy every condition given:
        x=, y=, z= a value (within tol) or a (low, high) range; level= a node level (0 is the
        surface) or a list; face= 'xmin', 'xmax', 'ymin', 'ymax' (the sides of the mesh's
        bounding box), 'surface' or 'bottom'; box=((x0, x1), (y0, y1), (z0, z1)) (None for
        any); where= a function f(x, y, z) -> bool array; polygon= a list of (x, y) vertices
        (or a shapely Polygon): the nodes inside it in plan, or on its edges (within tol)."""
        xyz = self.coordinates()
        nnod = self.NNOD
        if tol is None:
            span = np.ptp(xyz, axis=0).max() if len(xyz) else 1.0
            tol = 1e-9 * max(span, 1.0)
        keep = np.ones(len(xyz), bool)
        lev = np.arange(len(xyz)) // max(nnod, 1)

        def cond(col, v):
            if v is None:
                return True
            if isinstance(v, (tuple, list)) and len(v) == 2:
                lo, hi = v
                lo = -np.inf if lo is None else lo
                hi = np.inf if hi is None else hi
                return (xyz[:, col] >= lo - tol) & (xyz[:, col] <= hi + tol)
            return np.abs(xyz[:, col] - v) <= tol

        for col, v in enumerate((x, y, z)):
            keep &= cond(col, v)
        if box is not None:
            for col, v in enumerate(box):
                keep &= cond(col, None if v is None else tuple(v))
        if level is not None:
            keep &= np.isin(lev, np.atleast_1d(level))
        if surface:
            keep &= lev == 0
        if bottom:
            keep &= lev == self.NSTR
        if face is not None:
            sides = {"xmin": (0, min), "xmax": (0, max), "ymin": (1, min), "ymax": (1, max)}
            if face in sides:
                col, f = sides[face]
                keep &= np.abs(xyz[:, col] - f(xyz[:, col])) <= tol
            elif face in ("surface", "top"):
                keep &= lev == 0
            elif face == "bottom":
                keep &= lev == self.NSTR
            else:
                raise DeckError("face must be xmin, xmax, ymin, ymax, surface or bottom, not %r"
                                % (face,))
        if where is not None:
            keep &= np.asarray(where(xyz[:, 0], xyz[:, 1], xyz[:, 2]), bool)
        if polygon is not None:
            keep &= _in_polygon(xyz[:, 0], xyz[:, 1], polygon, tol)
        return np.nonzero(keep)[0] + 1

    def boundary_widths(self):
        """The share of the surface's boundary of every surface node (array of NNOD + 1, entry 0
        unused): half of each boundary edge (an edge of one triangle) at the node, 0 inside.
        The outlet nodes of the surface-flow section are those of positive width."""
        t = np.sort(np.asarray(self.grid.TRIANG)[:, :3], axis=1)
        edges = np.concatenate([t[:, [0, 1]], t[:, [1, 2]], t[:, [0, 2]]])
        u, count = np.unique(edges, axis=0, return_counts=True)
        width = np.zeros(self.NNOD + 1)
        ok = (u >= 1).all(1) & (u <= self.NNOD).all(1) & (count == 1)
        a, b = u[ok, 0], u[ok, 1]
        x, y = np.asarray(self.grid.X), np.asarray(self.grid.Y)
        half = 0.5 * np.hypot(x[a - 1] - x[b - 1], y[a - 1] - y[b - 1])
        np.add.at(width, a, half)
        np.add.at(width, b, half)
        return width

    def boundary_nodes(self, **selectors):
        """The surface nodes (1 to NNOD, ascending) on the boundary of the surface triangulation
        that satisfy the selectors of Deck.nodes (x=, y=, box=, polygon=, where=, face=...):
        the nodes an outlet of the surface-flow section may hold."""
        on = np.nonzero(self.boundary_widths() > 0)[0]
        return np.intersect1d(on, self.nodes(level=0, **selectors))

    # --- the surface-flow section ---
    @property
    def surface(self):
        """The surface-flow section of the parameter file (a sections.Surface: ON, WAVE,
        MANNING, DEPRESSION, OUTLETS); off in a deck without it."""
        return self.parm.SURFACE

    @surface.setter
    def surface(self, value):
        self.parm.SURFACE = value

    def set_surface(self, wave="DIFFUSION", manning=None, depression=0.0):
        """Turns surface flow on: wave 'DIFFUSION' or 'KINEMATIC', manning Manning's n
        (s m^-1/3) of each material code of the surface triangles, or one for all, depression
        the depression storage (length). The outlets stay as they are; returns the section."""
        if self.parm._raw is not None:
            raise DeckError("the parameter file could not be read (%s): it is written as it is"
                            % self.parm._error)
        if manning is None:
            raise DeckError("set_surface needs manning=: Manning's n of each material code, or "
                            "one for all")
        sf = self.parm.SURFACE
        sf.WAVE, sf.MANNING, sf.DEPRESSION = wave, manning, depression
        sf.ON = True
        return sf

    # --- the root-uptake section ---
    @property
    def roots(self):
        """The root-uptake section of the parameter file (a sections.Roots: ON, SHARE, DEPTH,
        SHAPE, FEDDES); off in a deck without it."""
        return self.parm.ROOTS

    @roots.setter
    def roots(self, value):
        self.parm.ROOTS = value

    def set_roots(self, share, depth, feddes, shape=None):
        """Turns root water uptake on (docs/roots.md): share the part of the potential
        evapotranspiration (the negative atmospheric rates) that is transpiration, 0 to 1, depth
        the depth of the root zone below the ground (length), shape 'UNIFORM' or 'LINEAR' (the
        root density falling to 0 at the depth; None: not written, uniform), each one value for
        all or one per material code of the surface triangles; feddes the four pressure heads
        h1 > h2 >= h3 > h4 of Feddes' reduction (length). Returns the section."""
        if self.parm._raw is not None:
            raise DeckError("the parameter file could not be read (%s): it is written as it is"
                            % self.parm._error)
        rt = self.parm.ROOTS
        rt.SHARE, rt.DEPTH, rt.FEDDES = share, depth, feddes
        rt.SHAPE = [] if shape is None else shape
        rt.ON = True
        return rt

    def add_outlet(self, kind, nodes, level=None):
        """An outlet of the surface-flow section: kind 'CRITICAL', 'NORMAL' or 'LEVEL' (level=
        the depth of water held outside), nodes on the boundary of the surface: surface node
        numbers, or any Deck.nodes selection (its surface nodes are taken: deck.nodes(x=100.0),
        deck.nodes(polygon=...)), or deck.boundary_nodes(...). Returns the outlet's number."""
        nodes = np.unique(np.asarray(nodes, np.int64).reshape(-1))
        top = nodes[(nodes >= 1) & (nodes <= self.NNOD)]
        if top.size == 0:
            raise DeckError("an outlet needs surface nodes (1 to NNOD = %d): none given" % self.NNOD)
        inner = top[self.boundary_widths()[top] <= 0]
        if inner.size:
            raise DeckError("surface nodes %s are not on the boundary of the surface "
                            "(deck.boundary_nodes(...) selects those that are)" % list(inner[:10]))
        sf = self.parm.SURFACE
        for k, o in enumerate(sf.OUTLETS):
            both = np.intersect1d(o.nodes, top)
            if both.size:
                raise DeckError("nodes %s are already nodes of outlet %d" % (list(both[:10]), k + 1))
        sf.OUTLETS = list(sf.OUTLETS) + [S.outlet(kind, level, top)]
        return len(sf.OUTLETS)

    def max_neighbours(self):
        """The largest number of neighbours of a surface node in the triangulation."""
        t = np.asarray(self.grid.TRIANG)[:, :3]
        nb = [set() for _ in range(self.NNOD + 1)]
        for a, b, c in t:
            for p, q in ((a, b), (b, c), (a, c)):
                if 1 <= p <= self.NNOD and 1 <= q <= self.NNOD and p != q:
                    nb[p].add(q)
                    nb[q].add(p)
        return max((len(s) for s in nb), default=0)

    def tetrahedra(self, layers=None):
        """The tetrahedra of the mesh as the program cuts the prisms: an (NT, 4) array of node
        numbers, then the layer and the material type of each (the top `layers` layers only,
        when given). Every triangle's nodes must lie in 1 to NNOD."""
        t = np.sort(np.asarray(self.grid.TRIANG)[:, :3], axis=1)
        mat = np.asarray(self.grid.TRIANG)[:, 3]
        nl = self.NSTR if layers is None else min(layers, self.NSTR)
        up = (np.arange(nl) * self.NNOD)[:, None, None]
        a, b = t[None] + up, t[None] + up + self.NNOD
        # On each vertical face the diagonal joins the upper node of the higher vertex to the
        # lower node of the lower one.
        tets = np.stack([np.stack([a[..., 0], a[..., 1], a[..., 2], b[..., 0]], -1),
                         np.stack([b[..., 0], b[..., 1], b[..., 2], a[..., 2]], -1),
                         np.stack([a[..., 1], a[..., 2], b[..., 1], b[..., 0]], -1)], 2)
        shape = (nl, len(t), 3)
        layer = np.broadcast_to(np.arange(1, nl + 1)[:, None, None], shape)
        return (tets.reshape(-1, 4), layer.reshape(-1),
                np.broadcast_to(mat[None, :, None], shape).reshape(-1))

    def required_n1(self):
        """The smallest N1 the program takes for this mesh and scheme: one more than the most
        nodes joined to one node, itself included (under Picard flow only, those of a number not
        below its own); docs/input.md 7.2 gives a bound of it."""
        if self.NNOD < 1 or self.NSTR < 1 or len(self.grid.TRIANG) == 0:
            return 1
        # Two layers hold a node of every kind: the top, the middle and the bottom ones.
        tets = self.tetrahedra(layers=2)[0]
        upper = self.parm.IFLOW == 1 and self.parm.ITRANS == 0
        rows, cols = np.repeat(tets, 4, axis=1).reshape(-1), np.tile(tets, 4).reshape(-1)
        keep = cols >= rows if upper else np.ones(rows.shape, bool)
        pairs = np.unique(rows[keep] * (tets.max() + 1) + cols[keep])
        return int(np.bincount(pairs // (tets.max() + 1)).max()) + 1

    def nodal_means(self):
        """The porosity and the specific storage of every node (PORNOD, SNODI): the means over
        the tetrahedra around it, as the program forms them."""
        tets, layer, mat = self.tetrahedra()
        por = np.asarray(self.soil.POROSITY)[layer - 1, mat - 1]
        sto = np.asarray(self.soil.STORAGE)[layer - 1, mat - 1]
        count = np.bincount(tets.reshape(-1), minlength=self.N + 1)[1:]
        mean = [np.bincount(tets.reshape(-1), np.repeat(v, 4), minlength=self.N + 1)[1:] /
                np.maximum(count, 1) for v in (por, sto)]
        return mean[0], mean[1]

    # --- building ---
    def set_mesh(self, x, y, triangles, z, material=1, zbottom=None):
        """The surface triangulation: x, y, z of the NNOD surface nodes, triangles as an
        (NTRI, 3) array of 0-based indices into x and y (as scipy, matplotlib and gmsh give
        them), material one code or one per triangle. zbottom: the bottom elevation of every
        node (ISP = 2; else the layers follow set_layers). N1 is set to what the mesh needs."""
        g = self.grid
        tri = np.asarray(triangles, np.int64)
        if tri.ndim != 2 or tri.shape[1] != 3:
            raise DeckError("triangles must be an (NTRI, 3) array of node indices")
        mat = np.broadcast_to(np.asarray(material, np.int64), (len(tri),))
        g.X, g.Y = np.asarray(x, float), np.asarray(y, float)
        g.TRIANG = np.column_stack([tri + 1, mat])
        z = np.broadcast_to(np.asarray(z, float), g.X.shape)
        g.Z = z
        if zbottom is not None:
            g.ISP = 2
            g.ZBOTTOM = np.broadcast_to(np.asarray(zbottom, float), g.X.shape)
        elif g.ISP == 2:
            g.ISP = 1
        if g.ISP == 0:
            g.ISP = 1
        g.NZONE = max(int(mat.max()) if len(mat) else 1, 1)
        # Room for a Newton or coupled run, whatever the scheme chosen later.
        g.N1 = 2 * self.max_neighbours() + 4
        self._resize_tables()

    def set_layers(self, thicknesses):
        """Layers by their thicknesses (length units, top layer first): every vertical is
        sum(thicknesses) deep below its surface node (IVERT = 0, BASE the sum)."""
        t = np.asarray(thicknesses, float).reshape(-1)
        if t.size == 0 or np.any(t <= 0):
            raise DeckError("layer thicknesses must be positive")
        g = self.grid
        if g.ISP == 2:
            raise DeckError("the grid gives bottom elevations (ISP = 2): layers are fractions "
                            "there; set grid.ZRATIO")
        g.IVERT = 0
        g.BASE = float(t.sum())
        g.ZRATIO = t / t.sum()
        self._resize_tables()

    def _resize_tables(self):
        """Soil and solute tables of NSTR x NZONE rows, extended by repeating the last layer
        and material."""
        nstr, nzone = max(self.NSTR, 1), max(self.grid.NZONE, 1)
        parts = [(self.soil, S._SOIL_TABLE), (self.solute, ("ALFA_L", "ALFA_T", "RETARD"))]
        if self.soil._raw is None and self.soil.CURVES is not None:
            parts.append((self.soil.CURVES, S._CURVE_PARAMS))
        for sec, names in parts:
            for name in names:
                t = getattr(sec, name)
                if t.shape == (nstr, nzone) or t.size == 0:
                    continue
                i = np.minimum(np.arange(nstr), t.shape[0] - 1)
                j = np.minimum(np.arange(nzone), t.shape[1] - 1)
                setattr(sec, name, t[np.ix_(i, j)])

    def set_soil(self, layers=None, material=None, depth=None, **values):
        """Sets soil-table values (XPERM, YPERM, ZPERM, STORAGE, POROSITY; K= sets all three
        conductivities) for the layers (1-based number or list; or depth=(top, bottom): the
        layers whose middle lies in that depth range below the surface) and materials (1-based;
        default all)."""
        if "K" in values:
            k = values.pop("K")
            values.update(XPERM=k, YPERM=k, ZPERM=k)
        self._resize_tables()
        rows = self._layer_rows(layers, depth)
        cols = slice(None) if material is None else self._material_cols(material)
        for name, v in values.items():
            real = self.soil._name(name)
            if real not in S._SOIL_TABLE:
                raise DeckError("set_soil sets %s, not %s" % (" ".join(S._SOIL_TABLE), name))
            t = getattr(self.soil, real).copy()
            t[np.ix_(rows, np.arange(t.shape[1])[cols])] = v
            setattr(self.soil, real, t)

    def set_curve(self, layers=None, material=None, depth=None, **values):
        """Gives soils a retention curve of their own (the CURVES section of the soil file):
        the parameters of the model deck.soil.IVGHU chooses, by the names of records 3 to 7
        (VGN VGRMC VGPSAT for van Genuchten, BCBETA BCRMC BCPSAT for Brooks-Corey...), for the
        materials (1-based; default all) and layers (as set_soil; default all). Soils not given
        keep the curve they had: at first that of records 3 to 7. A curve that differs between
        layers of one material makes the section CURVES LAYER; returns the section."""
        sl = self.soil
        names = S.curve_params(sl.IVGHU)
        if names is None:
            raise DeckError("IVGHU = %r is no curve model (0 to 4)" % sl.IVGHU)
        for name in list(values):
            real = name.upper()
            if real not in names:
                used = "" if real not in S._CURVE_PARAMS else \
                    ": it is not a parameter of model IVGHU = %d (set deck.soil.IVGHU first)" % sl.IVGHU
                raise DeckError("set_curve sets %s, not %s%s" % (" ".join(names), name, used))
            values[real] = values.pop(name)
        if sl.CURVES is None:
            sl.CURVES = sl.new_curves(max(self.NSTR, 1), max(self.grid.NZONE, 1))
        self._resize_tables()
        c = sl.CURVES
        rows = self._layer_rows(layers, depth)
        cols = np.arange(max(self.grid.NZONE, 1)) if material is None else self._material_cols(material)
        for name, v in values.items():
            t = getattr(c, name).copy()
            t[np.ix_(rows, cols)] = v
            setattr(c, name, t)
        if c.BY == "MATERIAL" and any(np.any(getattr(c, k) != getattr(c, k)[:1]) for k in names):
            c.BY = "LAYER"
        return c

    def _material_cols(self, material):
        m = np.atleast_1d(np.asarray(material, np.int64))
        bad = m[(m < 1) | (m > self.grid.NZONE)]
        if bad.size:
            raise DeckError("material %d: the grid has material types 1 to NZONE = %d"
                            % (bad[0], self.grid.NZONE))
        return m - 1

    def _layer_rows(self, layers, depth):
        if depth is not None:
            if self.grid.IVERT != 0 or self.grid.ISP == 2:
                raise DeckError("depth= needs layers of fixed thickness (set_layers)")
            c = np.concatenate([[0.0], np.cumsum(self.grid.ZRATIO)]) * self.grid.BASE
            mid = 0.5 * (c[:-1] + c[1:])
            return np.nonzero((mid >= depth[0]) & (mid <= depth[1]))[0]
        if layers is None:
            return np.arange(self.NSTR)
        rows = np.atleast_1d(np.asarray(list(layers) if isinstance(layers, range) else layers, np.int64))
        bad = rows[(rows < 1) | (rows > self.NSTR)]
        if bad.size:
            raise DeckError("layer %d: the grid has layers 1 to NSTR = %d" % (bad[0], self.NSTR))
        return rows - 1

    def set_atmosphere(self, times=None, rates=None):
        """Rain (positive) and evaporation (negative) rates, length/time: rates one value a time
        (the whole surface), an (ntimes, NNOD) array, or a function f(t, x, y) of the surface
        nodes; times=None and rates=None: no atmospheric input (HSPATM = 9999)."""
        a = self.atmbc
        if rates is None:
            a.HSPATM, a.TIME, a.ATMINP = 9999, [], np.zeros((0, 1))
            return
        t = np.asarray(times, float).reshape(-1)
        if callable(rates):
            r = np.array([np.broadcast_to(rates(ti, self.grid.X, self.grid.Y), (self.NNOD,))
                          for ti in t])
        else:
            r = np.asarray(rates, float)
            r = r.reshape(len(t), -1) if r.size else r.reshape(len(t), 1)
        a.HSPATM = 1 if r.shape[1] == 1 else 0
        a.TIME, a.ATMINP = t, r

    def _table_of(self, value, times, nodes):
        """Values at times for the nodes from a number, a function f(t, x, y, z), a
        {time: value} dict, a pandas Series or DataFrame (index: time), or (times, values)."""
        xyz = self.coordinates()[np.asarray(nodes) - 1]
        if callable(value):
            if times is None:
                raise DeckError("a function of time needs times=")
            t = np.asarray(times, float).reshape(-1)
            v = np.array([np.broadcast_to(value(ti, xyz[:, 0], xyz[:, 1], xyz[:, 2]),
                                          (len(nodes),)) for ti in t], float)
            return t, v
        if hasattr(value, "index") and hasattr(value, "values"):  # pandas
            t = np.asarray(value.index, float)
            v = np.asarray(value.values, float).reshape(len(t), -1)
        elif isinstance(value, dict):
            t = np.array(sorted(value), float)
            v = np.array([np.broadcast_to(value[k], (len(nodes),)) for k in sorted(value)], float)
        elif isinstance(value, tuple) and len(value) == 2:
            t = np.asarray(value[0], float).reshape(-1)
            v = np.asarray(value[1], float).reshape(len(t), -1)
        else:
            t = np.asarray([self.parm.TIMEP] if times is None else times, float).reshape(-1)
            v = np.broadcast_to(np.asarray(value, float), (len(t), len(nodes))) \
                if np.ndim(value) <= 1 and np.size(value) in (1, len(nodes)) else np.asarray(value, float)
        v = np.broadcast_to(v, (len(t), len(nodes))) if v.shape[1] == 1 else v
        if v.shape != (len(t), len(nodes)):
            raise DeckError("values of shape %s for %d times and %d nodes" % (v.shape, len(t), len(nodes)))
        return t, v

    @staticmethod
    def _interp(t0, v0, t):
        """The program's interpolation of a series: linear between records, held after the
        last, rising linearly from 0 at time 0 before the first."""
        out = np.empty((len(t), v0.shape[1]))
        for j in range(v0.shape[1]):
            out[:, j] = np.interp(t, t0, v0[:, j])
        if len(t0) and t0[0] > 0:
            early = (t < t0[0]) & (t >= 0)
            out[early] = v0[0] * (t[early] / t0[0])[:, None]
        return out

    def _merge(self, series, vname, old_cols, new_t, new_v):
        t0 = np.asarray(series.TIME, float)
        v0 = np.asarray(getattr(series, vname), float)[:, old_cols] if series._raw is None and len(t0) else np.zeros((0, 0))
        if v0.shape[1] == 0:
            t = new_t
        else:
            t = np.union1d(t0, new_t)
        old = self._interp(t0, v0, t) if v0.shape[1] else np.zeros((len(t), 0))
        new = self._interp(new_t, new_v, t)
        series.TIME = t
        setattr(series, vname, np.column_stack([old, new]) if old.size or new.size else np.zeros((len(t), 0)))

    def prescribe_head(self, nodes, value, times=None, potential=True):
        """Prescribed heads at the 3-D nodes (fixed nodes, NDIRC): value a number, a function
        f(t, x, y, z) evaluated at times, a {time: value} dict, a pandas Series/DataFrame
        indexed by time, or (times, values). potential=True: total heads (POTBC = T)."""
        b = self.nansfbc
        nodes = np.unique(np.asarray(nodes, np.int64).reshape(-1))
        if len(b.DIR2D) + len(b.DIRNOD) and b.POTBC != bool(potential):
            raise DeckError("the deck's prescribed heads are %s heads (POTBC = %s)" % (
                "potential" if b.POTBC else "pressure", "T" if b.POTBC else "F"))
        if np.isin(nodes, b.NEUNOD).any():
            raise DeckError("nodes %s already carry a prescribed flux" % nodes[np.isin(nodes, b.NEUNOD)][:10])
        b.POTBC = bool(potential)
        t, v = self._table_of(value, times, nodes)
        keep = ~np.isin(b.DIRNOD, nodes)
        cols = np.concatenate([np.arange(len(b.DIR2D)), len(b.DIR2D) + np.nonzero(keep)[0]]).astype(int)
        self._merge(self.dirts, "DIRVAL", cols, t, v)
        b.DIRNOD = np.concatenate([b.DIRNOD[keep], nodes])

    def prescribe_flux(self, nodes, value, times=None):
        """Prescribed nodal fluxes (volume/time per node, inflow positive) at the nodes, the
        values as for prescribe_head."""
        b = self.nansfbc
        nodes = np.unique(np.asarray(nodes, np.int64).reshape(-1))
        if np.isin(nodes, b.DIRNOD).any():
            raise DeckError("nodes %s already carry a prescribed head" % nodes[np.isin(nodes, b.DIRNOD)][:10])
        t, v = self._table_of(value, times, nodes)
        keep = ~np.isin(b.NEUNOD, nodes)
        self._merge(self.neuts, "NEUVAL", np.nonzero(keep)[0], t, v)
        b.NEUNOD = np.concatenate([b.NEUNOD[keep], nodes])

    def add_seepage_faces(self, nodes):
        """Seepage faces from a set of nodes (deck.nodes(face='xmax'), say): one face per
        vertical, its nodes from the top down. Returns the number of faces added."""
        nodes = np.unique(np.asarray(nodes, np.int64).reshape(-1))
        vert = (nodes - 1) % self.NNOD
        faces = list(self.sfbc.SFNOD)
        new = 0
        for v in np.unique(vert):
            col = nodes[vert == v]
            faces.append(np.sort(col))
            new += 1
        self.sfbc.SFNOD = faces
        return new

    def initial_water_table(self, level=None, depth=None, surface=None):
        """Hydrostatic initial heads below a water table: level= one elevation (flat), depth=
        a depth below the ground surface (parallel to it), or surface= its elevation at every
        surface node (an array of NNOD) or a function f(x, y). With none of them: the water
        table at the ground surface (INDP = 2)."""
        f = self.flowic
        given = [a is not None for a in (level, depth, surface)]
        if sum(given) > 1:
            raise DeckError("give one of level=, depth=, surface=")
        if not any(given):
            f.POTINP, f.INDP, f.HPOTP = True, 2, []
            return
        if level is not None:
            f.POTINP, f.INDP, f.HPOTP = True, 0, [float(level)]
            return
        zs = self.levels()[0]
        if depth is not None:
            wt = zs - depth
        elif callable(surface):
            wt = np.broadcast_to(surface(self.grid.X, self.grid.Y), zs.shape).astype(float)
        else:
            wt = np.broadcast_to(np.asarray(surface, float), zs.shape)
        f.POTINP, f.INDP, f.HPOTP = True, 1, np.tile(wt, self.NSTR + 1)

    def initial_from(self, results):
        """Starts the deck, when run, from the final heads of another run of the same mesh
        (results: a Results, or the directory of that run), read at full precision from its
        csv/final-state.csv (the program's --initial-from) in place of the heads of the
        initial-condition file; None starts it from its own again."""
        if results is None:
            object.__setattr__(self, "_initial_from", None)
            return self
        path = os.path.abspath(getattr(results, "path", None) or os.fspath(results))
        if not (os.path.isfile(os.path.join(path, "csv", "final-state.csv")) or os.path.isfile(path)):
            raise DeckError("%s: no csv/final-state.csv (a run that ended on an error, or one "
                            "with --no-extra-output, writes none)" % path)
        object.__setattr__(self, "_initial_from", path)
        return self

    def initial_pressure_head(self, value):
        """Initial pressure heads: one value, N values, or a function f(x, y, z)."""
        f = self.flowic
        if callable(value):
            xyz = self.coordinates()
            value = np.broadcast_to(value(xyz[:, 0], xyz[:, 1], xyz[:, 2]), (self.N,))
        v = np.asarray(value, float).reshape(-1)
        f.POTINP, f.INDP, f.HPOTP = False, 0 if v.size == 1 else 1, v

    # --- checking ---
    def validate(self, processes=None):
        """Every problem found, as a list of Problem (file, record, field, value, message);
        empty when the deck is fit to run (on `processes` MPI processes, when given)."""
        from .validate import validate
        return validate(self, processes)

    def check(self):
        """Raises DeckError listing every problem validate() finds."""
        problems = self.validate()
        if problems:
            raise DeckError("the deck has %d problem%s:\n  %s" % (
                len(problems), "s" if len(problems) > 1 else "",
                "\n  ".join(str(p) for p in problems)))
        return self

    def __repr__(self):
        return "<Deck %s: %d surface nodes, %d triangles, %d layers, N = %d>" % (
            self.path or "(not written)", self.NNOD, len(self.grid.TRIANG), self.NSTR, self.N)
