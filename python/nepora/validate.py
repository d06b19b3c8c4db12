"""Deck.validate(): every problem of a deck before it runs, each naming its file, record (or
line), field, value and what is accepted. An error is what the program stops on before its first
step (the checks of docs/input.md, made as the program makes them); a warning what it runs but
is likely not what was meant (a node given two conditions, values it passes over)."""
import math

import numpy as np

from . import sections as S
from .sections import _SOIL_TABLE, CURVES_BY, curve_params, mistyped_keywords, near_miss, units_ok


class Problem:
    """One problem: file (its role and name), record number (or line), field, value, message;
    level 'error' (the program stops on it) or 'warning' (it runs, but likely not as meant)."""

    def __init__(self, section, fname, field, value, message, level="error", record=None,
                 line=None):
        self.file = section._role
        self.line = line
        self.fname = fname
        self.field = field
        self.value = value
        self.message = message
        self.level = level
        if record is None and field:
            record, _ = section.record_of(field.split("(")[0])
        self.record = record

    def __str__(self):
        where = "%s '%s'" % (self.file, self.fname)
        if self.line is not None:
            where += " line %d:" % self.line
        elif self.record is not None:
            where += " record %s" % self.record
        what = ""
        if self.field:
            v = self.value
            if isinstance(v, float):
                v = repr(v)
            what = " %s = %s:" % (self.field, v) if v is not None else " %s:" % self.field
        return "%s%s%s %s" % ("warning: " if self.level == "warning" else "", where, what,
                               self.message)

    __repr__ = __str__


def _bad_nodes(a, lo, hi):
    a = np.asarray(a).reshape(-1)
    k = np.nonzero((a < lo) | (a > hi))[0]
    return [(int(i) + 1, int(a[i])) for i in k[:5]]


def validate(deck, processes=None):
    out = []
    names = {sec: deck.fnames[k + 1] for k, sec in enumerate(
        ["parm", "grid", "nansfbc", "dirts", "neuts", "atmbc", "sfbc", "soil", "flowic",
         "transic", "solute", "transbc"])}

    def add(secname, field, value, message, level="error", record=None, line=None):
        out.append(Problem(getattr(deck, secname), names[secname], field, value, message,
                           level, record, line))

    for line, fname in deck._missing:
        out.append(Problem(type("x", (), {"_role": "fnames line %d" % line})(), fname, None, None,
                           "the file does not exist", record=None))
    p, g, b, sl = deck.parm, deck.grid, deck.nansfbc, deck.soil
    coupled = p.ITRANS != 0
    for name in ["parm", "grid", "nansfbc", "dirts", "neuts", "atmbc", "sfbc", "soil", "flowic",
                 "transic", "solute", "transbc"]:
        sec = getattr(deck, name)
        if sec._error and (coupled or name not in ("transic", "solute", "transbc")):
            add(name, None, None, "cannot be read: " + sec._error)
    unread = {n for n in names if getattr(deck, n)._raw is not None}
    if "parm" in unread or "grid" in unread:
        return out

    # Non-finite reals, in every section read.
    for name in names:
        sec = getattr(deck, name)
        if name in unread or (not coupled and name in ("transic", "solute", "transbc")):
            continue
        for field, v in sec.fields().items():
            for a in (v if isinstance(v, list) else [v]):
                a = np.asarray(a, dtype=object if a is None else None)
                if a.dtype.kind == "f" and a.size and not np.all(np.isfinite(a)):
                    add(name, field, float(a.reshape(-1)[~np.isfinite(a.reshape(-1))][0]),
                        "must be a finite number")
                    break

    nnod, nstr, n = deck.NNOD, deck.NSTR, deck.N
    # --- parameter file ---
    if p.IFLOW not in (1, 2):
        add("parm", "IFLOW", p.IFLOW, "must be 1 (Picard) or 2 (Newton)")
    if p.ITRANS not in (0, 1, 2):
        add("parm", "ITRANS", p.ITRANS, "must be 0 (flow only), 1 or 2 (coupled)")
    if not 0 <= p.KSLOPE <= 5:
        add("parm", "KSLOPE", p.KSLOPE, "must be 0 to 5 (5: mass-conservative storage)")
    if p.KSLOPE == 4:
        pairs = [("PSEL", "PSER")] if p.IFLOW == 1 else [
            ("PKRL", "PKRR"), ("PSEL", "PSER"), ("PDSE1L", "PDSE1R"), ("PDSE2L", "PDSE2R")]
        for lo, hi in pairs:
            if getattr(p, lo) == getattr(p, hi):
                add("parm", lo, getattr(p, lo), "the window [%s, %s] has zero width (KSLOPE = 4 "
                    "needs %s < %s)" % (lo, hi, lo, hi))
    for name in ("TETAF",) + (("TETAC",) if p.ITRANS != 0 else ()):
        v = getattr(p, name)
        if not 0.0 <= v <= 1.0:
            add("parm", name, v, "must lie in 0 to 1 (1 backward Euler, 0.5 Crank-Nicolson)")
        elif v < 0.5:
            add("parm", name, v, "below 0.5 the time scheme is unstable (0.5 to 1)", "warning")
    if not p.ERNLMX > 0:
        add("parm", "ERNLMX", p.ERNLMX, "must be positive (the examples use 1.0e9)")
    if p.IRELAX == 1 and not p.OMEGA > 0:
        add("parm", "OMEGA", p.OMEGA, "must be positive with IRELAX = 1")
    if p.IFLOW == 1 and not p.TLCGSY > 0:
        add("parm", "TLCGSY", p.TLCGSY, "must be positive (Picard's conjugate gradients)")
    # On several processes the program solves with the PETSc selector -10 in place of a solver
    # of one process (the direct one too, whose deck must then give the iterations' limits).
    def run_selector(v):
        several = processes is not None and processes > 1
        return -10 if several and v >= -5 and not -14 <= v <= -10 else v

    nonsym = (p.IFLOW == 2 and run_selector(p.ISOLV) != 3) or \
        (p.ITRANS != 0 and run_selector(p.ISOLVC) != 3)
    if nonsym:
        if not p.TLCGNS > 0:
            add("parm", "TLCGNS", p.TLCGNS, "must be positive (the nonsymmetric iterative solvers)")
    for name in ("ITMX", "ITMXC"):
        v = getattr(p, name)
        if not 1 <= v <= 100000:
            add("parm", name, v, "must be 1 to 100000")
    for name in ("ISOLV", "ISOLVC"):
        v = getattr(p, name)
        if v < -5 and not -14 <= v <= -10:
            add("parm", name, v, "must be -5 or more, or a PETSc selector, -10 to -14")
    for name in (("ITCGSY",) if p.IFLOW == 1 else ()) + (("ITCGNS",) if nonsym else ()):
        if getattr(p, name) < 1:
            add("parm", name, getattr(p, name), "must be at least 1")
    steady = p.DELTAT >= 1.0e10
    if not steady:
        if not p.DELTAT > 0:
            add("parm", "DELTAT", p.DELTAT, "must be positive (or 1.0e10 and more: steady state)")
        if not p.DTMIN > 0:
            add("parm", "DTMIN", p.DTMIN, "must be positive")
        if p.DTMAX < p.DTMIN:
            add("parm", "DTMAX", p.DTMAX, "must not be smaller than DTMIN = %r" % p.DTMIN)
        if p.DTMAGM < 1:
            add("parm", "DTMAGM", p.DTMAGM, "must be at least 1 (the growth of an easy step)")
        if p.DTMAGA < 0:
            add("parm", "DTMAGA", p.DTMAGA, "must not be negative")
        if not 0 <= p.DTREDM <= 1:
            add("parm", "DTREDM", p.DTREDM, "must lie in 0 to 1 (the reduction of a hard step)")
        if p.DTREDS < 0:
            add("parm", "DTREDS", p.DTREDS, "must not be negative")
        if not p.TMAX > p.TIMEP:
            add("parm", "TMAX", p.TMAX, "must lie after TIMEP = %r (TMAX is an end time)" % p.TIMEP)
    if not 0 <= p.ISEC <= nstr + 1:
        add("parm", "ISEC", p.ISEC, "must be 0 to NSTR + 1 = %d" % (nstr + 1))
    tp = np.asarray(p.TIMPRT)
    if tp.size and tp[0] < p.TIMEP + p.DELTAT:
        add("parm", "TIMPRT(1)", float(tp[0]), "must be at least TIMEP + DELTAT = %r"
            % (p.TIMEP + p.DELTAT), record=16)
    if tp.size > 1 and np.any(np.diff(tp) <= 0):
        k = int(np.nonzero(np.diff(tp) <= 0)[0][0]) + 2
        add("parm", "TIMPRT(%d)" % k, float(tp[k - 1]), "must be greater than the time before it",
            record=16)
    if tp.size and not steady and tp[-1] > p.TMAX:
        add("parm", "TIMPRT(%d)" % tp.size, float(tp[-1]), "lies after TMAX = %r: never reached"
            % p.TMAX, "warning", record=16)
    for i, v in _bad_nodes(p.NODVP, 1, nnod):
        add("parm", "NODVP(%d)" % i, v, "must be a surface node, 1 to NNOD = %d" % nnod, record=17)
    for i, v in _bad_nodes(p.IPOUT, 1, n):
        add("parm", "IPOUT(%d)" % i, v, "must be a node, 1 to N = %d" % n, record=19)

    if p.UNITS is not None and not units_ok(p.UNITS):
        add("parm", "UNITS", p.UNITS, "takes a unit of length (m, cm, mm, km, ft) and one of "
            "time (s, min, h, d, y), as 'UNITS m d'")
    surface, roots = _parm_tail_checks(add, deck)

    # --- grid ---
    if g.NZONE < 1:
        add("grid", "NZONE", g.NZONE, "must be at least 1")
    if nstr < 1:
        add("grid", "NSTR", nstr, "must be at least 1 (give ZRATIO)")
    if nnod < 1 or len(g.TRIANG) < 1:
        add("grid", "NNOD", nnod, "the grid needs nodes and triangles (Deck.set_mesh)")
        return out
    if len(g.Y) != nnod:
        add("grid", "Y", len(g.Y), "%d y coordinates for %d x" % (len(g.Y), nnod))
        return out
    z = np.asarray(g.ZRATIO)
    total = float(np.cumsum(z)[-1]) if nstr else 0.0  # summed in order, as the program does
    if nstr and not abs(total - 1.0) <= 1e-10:
        add("grid", "ZRATIO", total, "the fractions must sum to 1 within 1e-10 "
            "(Deck.set_layers takes thicknesses)")
    if np.any(z < 0):
        add("grid", "ZRATIO", float(z[z < 0][0]), "fractions must not be negative")
    elif np.any(z == 0):
        add("grid", "ZRATIO(%d)" % (int(np.nonzero(z == 0)[0][0]) + 1), 0.0,
            "a layer of zero thickness gives flat tetrahedra: give every layer a positive fraction",
            record=4)
    if g.ISP not in (0, 1, 2):
        add("grid", "ISP", g.ISP, "must be 0 (flat surface), 1 or 2 (surface and bottom)")
    if g.ISP in (0, 1) and g.BASE < 0:
        add("grid", "BASE", g.BASE, "must not be negative")
    want = 1 if g.ISP == 0 else nnod
    if g.ISP == 0 and len(g.Z) > 1:
        add("grid", "Z", len(g.Z), "%d elevations given, the first written and read (ISP = 0: "
            "a flat surface)" % len(g.Z), "warning")
    elif len(g.Z) != want:
        add("grid", "Z", len(g.Z), "%d elevations given, %d needed (ISP = %d)" % (len(g.Z), want, g.ISP))
    if g.ISP == 2:
        if len(g.ZBOTTOM) != nnod:
            add("grid", "ZBOTTOM", len(g.ZBOTTOM), "%d bottom elevations given, NNOD = %d needed"
                % (len(g.ZBOTTOM), nnod), record=5)
        elif len(g.Z) == nnod:
            k = np.nonzero(np.asarray(g.ZBOTTOM) >= np.asarray(g.Z))[0]
            if k.size:
                add("grid", "ZBOTTOM(%d)" % (k[0] + 1), float(g.ZBOTTOM[k[0]]),
                    "must lie below the surface elevation %r of node %d" % (float(g.Z[k[0]]), k[0] + 1),
                    record=5)
    t = np.asarray(g.TRIANG)
    bad = np.nonzero((t[:, :3] < 1).any(1) | (t[:, :3] > nnod).any(1))[0]
    for j in bad[:5]:
        add("grid", "TRIANG", list(t[j]), "triangle %d: nodes must be 1 to NNOD = %d" % (j + 1, nnod))
    for j in np.nonzero((t[:, 3] < 1) | (t[:, 3] > g.NZONE))[0][:5]:
        add("grid", "TRIANG", list(t[j]), "triangle %d: material %d must be 1 to NZONE = %d"
            % (j + 1, t[j, 3], g.NZONE))
    meshed = bad.size == 0 and not np.any((t[:, 3] < 1) | (t[:, 3] > g.NZONE))
    if bad.size == 0:
        # The area as the program forms it, from the nodes in ascending order: exactly zero, or
        # a node repeated, stops the run.
        i, k, l = (np.sort(t[:, :3], axis=1) - 1).T
        x, y = np.asarray(g.X), np.asarray(g.Y)
        a2 = x[i] * y[k] + x[k] * y[l] + x[l] * y[i] - x[i] * y[l] - x[k] * y[i] - x[l] * y[k]
        for j in np.nonzero((a2 == 0) | (i == k) | (k == l))[0][:5]:
            add("grid", "TRIANG", list(t[j]), "triangle %d has zero area" % (j + 1))
        alone = np.setdiff1d(np.arange(1, nnod + 1), t[:, :3])
        for v in alone[:5]:
            add("grid", "TRIANG", int(v), "surface node %d belongs to no triangle" % v)
        need = deck.required_n1()
        if min(g.N1, n + 1) * n > 2147483647:
            add("grid", "N1", g.N1, "N1 x N = %d slots for the patterns, more than 2147483647: "
                "lower N1" % (g.N1 * n))
        if g.N1 < need:
            add("grid", "N1", g.N1, "must be at least %d for this mesh: one more than the most "
                "nodes joined to one node, itself included (%s)" % (need, "Picard flow only: "
                "those of a number not below its own" if p.IFLOW == 1 and p.ITRANS == 0 else
                "Newton or coupled"))
    if surface is not None:
        _surface_checks(add, deck, surface, meshed and bad.size == 0)
    if roots is not None:
        _roots_checks(add, deck, roots, meshed and bad.size == 0)
    solid = (g.ISP == 0 and len(g.Z) >= 1) or (g.ISP == 1 and len(g.Z) == want) or (
        g.ISP == 2 and len(g.ZBOTTOM) == nnod == len(g.Z))
    if solid:
        lev = deck.levels()
        if np.any(np.diff(lev, axis=0) >= 0):
            k = np.argwhere(np.diff(lev, axis=0) >= 0)[0]
            add("grid", "BASE", g.BASE, "layer %d under surface node %d has no thickness "
                "(IVERT = %d)" % (k[0] + 1, k[1] + 1, g.IVERT))

    # --- boundary-condition nodes and their series ---
    # A list may name a node once at most: the program refuses counts beyond the nodes there are.
    sf = deck.sfbc.SFNOD
    counts = [("nansfbc", "NDIR", len(b.DIR2D), nnod, "NNOD"), ("nansfbc", "NDIRC", len(b.DIRNOD), n, "N"),
              ("nansfbc", "NQ", len(b.NEUNOD), n, "N")]
    counts += [("sfbc", "NSFNUM(%d)" % (k + 1), len(f), n, "N") for k, f in enumerate(sf)]
    if coupled and deck.transbc._raw is None:
        tb = deck.transbc
        counts += [("transbc", "NP2C", len(tb.DIR2DC), nnod, "NNOD"),
                   ("transbc", "NPFC", len(tb.DIRNODC), n, "N"), ("transbc", "NMC", len(tb.CAUNOD), n, "N")]
    for name, field, count, limit, what in counts:
        if count > limit:
            add(name, field, count, "more than %s = %d" % (what, limit))
    for i, v in _bad_nodes(b.DIR2D, 1, nnod):
        add("nansfbc", "DIR2D(%d)" % i, v, "must be a surface node, 1 to NNOD = %d" % nnod, record=3)
    for name, rec in (("DIRNOD", 5), ("NEUNOD", 7)):
        for i, v in _bad_nodes(getattr(b, name), 1, n):
            add("nansfbc", "%s(%d)" % (name, i), v, "must be a node, 1 to N = %d" % n, record=rec)
    rep = (np.asarray(b.DIR2D)[None, :] + nnod * np.arange(nstr + 1)[:, None]).reshape(-1)
    # A flux at a node of prescribed head never enters the solution: the program refuses it.
    for i, v in enumerate(b.NEUNOD):
        where = "NDIR" if v in rep else "NDIRC" if v in b.DIRNOD else None
        if where:
            add("nansfbc", "NEUNOD(%d)" % (i + 1), v, "its head is prescribed (%s): a flux there "
                "would not enter the solution; give the node one condition" % where, record=7)
            break
    allbc = np.concatenate([rep, b.DIRNOD, b.NEUNOD])
    u, c = np.unique(allbc, return_counts=True)
    if np.any(c > 1):
        add("nansfbc", None, None, "nodes %s carry more than one condition (give each node one)"
            % list(u[c > 1][:10]), "warning", record=None)
    np_ = len(b.DIR2D) + len(b.DIRNOD)
    for name, vname, width, what in (("dirts", "DIRVAL", np_, "NDIR + NDIRC"),
                                     ("neuts", "NEUVAL", len(b.NEUNOD), "NQ")):
        s = getattr(deck, name)
        if width == 0 or s._raw is not None:
            continue
        _series_checks(add, name, s, vname, width, what, p)
    a = deck.atmbc
    if a._raw is None and a.HSPATM not in (None, 9999):
        _series_checks(add, "atmbc", a, "ATMINP", nnod if a.HSPATM == 0 else 1,
                       "NNOD" if a.HSPATM == 0 else "1 (HSPATM not 0)", p)

    xyz = deck.coordinates() if solid else None
    for k, face in enumerate(deck.sfbc.SFNOD):
        bad = _bad_nodes(face, 1, n)
        for i, v in bad:
            add("sfbc", "SFNOD", v, "face %d entry %d: must be a node, 1 to N = %d" % (k + 1, i, n),
                record=2)
        if not bad and len(face) > 1 and solid:
            ze = xyz[np.asarray(face) - 1, 2]
            j = np.nonzero(np.diff(ze) > 0)[0]
            if j.size:
                add("sfbc", "SFNOD", int(face[j[0] + 1]), "face %d: node %d lies above the node "
                    "before it (list a face from the top down)" % (k + 1, face[j[0] + 1]), record=2)

    # --- soil ---
    if sl._raw is None:
        if sl.IVGHU not in range(5):
            add("soil", "IVGHU", sl.IVGHU, "must be 0 to 4 (0 van Genuchten, 1 extended van "
                "Genuchten, 2 and 3 Huyakorn, 4 Brooks-Corey)")
        if sl.IVGHU in (0, 1):
            if not sl.VGN > 1:
                add("soil", "VGN", sl.VGN, "must be greater than 1")
            if not sl.VGPSAT < 0:
                add("soil", "VGPSAT", sl.VGPSAT, "must be negative")
        if sl.IVGHU == 4 and not sl.BCPSAT < 0:
            add("soil", "BCPSAT", sl.BCPSAT, "must be negative")
        if sl.IVGHU in (2, 3) and sl.HUPSIA > 0:
            add("soil", "HUPSIA", sl.HUPSIA, "should be 0 or negative (the head above which the "
                "soil is saturated)", "warning")
        if not sl.PMIN < 0:
            add("soil", "PMIN", sl.PMIN, "should be negative (the air-dry pressure head)", "warning")
        sized = _table_checks(add, "soil", sl, _SOIL_TABLE, nstr, g.NZONE, {
            "XPERM": (0, False), "YPERM": (0, False), "ZPERM": (0, False),
            "STORAGE": (0, False), "POROSITY": (0, True, "warning")})
        _keyword_checks(add, deck, "soil", "CURVES", CURVES_BY)
        if sl.CURVES is not None and sl.IVGHU in range(5):
            _curve_checks(add, sl, nstr, g.NZONE)
        if sized and meshed and sl.IVGHU in range(5):
            _node_checks(add, deck, sl)

    # --- initial conditions ---
    f = deck.flowic
    if f._raw is None:
        if f.INDP not in (0, 1, 2):
            add("flowic", "INDP", f.INDP, "must be 0 (uniform), 1 (one value per node) or 2 "
                "(water table at the surface)")
        elif f.INDP in (0, 1):
            _count_check(add, "flowic", "HPOTP", len(f.HPOTP), 1 if f.INDP == 0 else n,
                         "INDP = %d" % f.INDP)

    # --- transport ---
    if coupled:
        t = deck.transic
        if t._raw is None:
            _count_check(add, "transic", "CSAVE", len(t.CSAVE), 1 if t.INDC == 0 else n,
                         "INDC = %d" % t.INDC)
        s = deck.solute
        if s._raw is None:
            if s.DIFFUS < 0:
                add("solute", "DIFFUS", s.DIFFUS, "must not be negative")
            _table_checks(add, "solute", s, ("ALFA_L", "ALFA_T", "RETARD"), nstr, g.NZONE, {
                "ALFA_L": (0, False), "ALFA_T": (0, False), "RETARD": (0, True)})
        tb = deck.transbc
        if tb._raw is None:
            for i, v in _bad_nodes(tb.DIR2DC, 1, nnod):
                add("transbc", "DIR2DC(%d)" % i, v, "must be a surface node, 1 to NNOD = %d" % nnod)
            for name in ("DIRNODC", "CAUNOD"):
                for i, v in _bad_nodes(getattr(tb, name), 1, n):
                    add("transbc", "%s(%d)" % (name, i), v, "must be a node, 1 to N = %d" % n)
            for lname, vnames in (("DIR2DC", ("DIRVALC",)), ("DIRNODC", ("DIRVALC3D",)),
                                  ("CAUNOD", ("CAUTOT", "CAUADV"))):
                for vn in vnames:
                    if len(getattr(tb, vn)) != len(getattr(tb, lname)):
                        add("transbc", vn, len(getattr(tb, vn)), "%d values for %d nodes of %s"
                            % (len(getattr(tb, vn)), len(getattr(tb, lname)), lname))
    return out


def _keyword_checks(add, deck, name, keyword, seconds=()):
    """The lines after the last record of a file (in the soil file up to the CURVES line), as
    the program looks at them: a mistyped keyword stops it. They are found in the file as the
    deck will write it, with their lines."""
    from .deck import _column, _describe
    sec = getattr(deck, name)
    if sec._raw is not None:
        return
    describe, column = _describe(name, deck), _column(name)
    written = S.parse(type(sec)(), S.render(sec, describe, column), "", describe, column)
    for line, words in written._notes:
        for word, meant in mistyped_keywords(words, keyword, seconds):
            add(name, None, None, "'%s' is not a keyword: did you mean %s?" % (word, meant),
                line=line)


def _parm_tail_checks(add, deck):
    """The lines after the last record of the parameter file as the program reads them, in
    the file as the deck will write it: a mistyped keyword (UNITS, SURFACE, MANNING, DEPRESSION,
    OUTLET, ROOTS, ROOTDEPTH, ROOTSHAPE, FEDDES) and a surface-flow or root-uptake line it
    refuses, each at its line. Returns the surface-flow and root-uptake sections so read (None
    when the file is not read)."""
    from .deck import _column, _describe
    p = deck.parm
    if p._raw is not None:
        return None, None
    describe = _describe("parm", deck)
    written = S.parse(type(p)(), S.render(p, describe, _column("parm")), "", describe,
                      _column("parm"))
    if written._raw is not None:
        return None, None
    for line, words in written._notes:
        key = words[0].upper()
        if key not in S.PARM_KEYWORDS:
            meant = S.near_keyword(words[0], S.PARM_KEYWORDS)
            if meant:
                add("parm", None, None, "'%s' is not a keyword: did you mean %s?" % (words[0], meant),
                    line=line)
    for line, message in written._surface_errors + written._roots_errors:
        add("parm", None, None, message, line=line)
    return written.SURFACE, written.ROOTS


def _roots_checks(add, deck, rt, meshed):
    """The root-uptake section against the deck, as the program checks it once the mesh is
    built: a section without ROOTS, ROOTDEPTH or FEDDES, the lists against the material codes
    of the surface triangles, and no transport."""
    lines = rt._lines
    if not rt.ON:
        rest = [lines[k] for k in ("ROOTDEPTH", "ROOTSHAPE", "FEDDES") if k in lines]
        if rest or len(rt.DEPTH) or rt.SHAPE or len(rt.FEDDES):
            add("parm", None, None, "ROOTDEPTH, ROOTSHAPE and FEDDES belong to a root-uptake "
                "section, which begins with a ROOTS line (Deck.set_roots)",
                line=min(rest) if rest else None)
        return
    at = lines.get("ROOTS")
    for key, values in (("ROOTDEPTH", rt.DEPTH), ("FEDDES", rt.FEDDES)):
        if not len(values):
            add("parm", None, None, "the root-uptake section has no %s line (Deck.set_roots)" % key,
                line=at)
    if deck.parm.ITRANS != 0:
        add("parm", "ITRANS", deck.parm.ITRANS, "root water uptake runs without transport "
            "(ITRANS = 0): what the roots do with the solute is not modelled")
    if not meshed:
        return
    maxmat = max(1, int(np.max(np.asarray(deck.grid.TRIANG)[:, 3])))
    for key, values in (("ROOTS", rt.SHARE), ("ROOTDEPTH", rt.DEPTH), ("ROOTSHAPE", rt.SHAPE)):
        if len(values) and len(values) != 1 and len(values) < maxmat:
            add("parm", None, None, "%s gives %d values, the surface triangles have material "
                "codes up to %d" % (key, len(values), maxmat), line=lines.get(key))


def _surface_checks(add, deck, sf, meshed):
    """The surface-flow section against the deck, as the program checks it once the mesh is
    built: a section without SURFACE, MANNING against the material codes, the outlet nodes (on
    the boundary of the surface, one outlet each), and no transport."""
    lines = sf._lines
    if not sf.ON:
        if "MANNING" in lines or sf.OUTLETS or sf.DEPRESSION != 0.0:
            first = min([lines.get("MANNING") or 10 ** 9, lines.get("DEPRESSION") or 10 ** 9] +
                        lines.get("OUTLET", []))
            add("parm", None, None, "MANNING, DEPRESSION and OUTLET belong to a surface-flow "
                "section, which begins with a SURFACE line (Deck.set_surface)", line=first)
        return
    p = deck.parm
    at = lines.get("SURFACE")
    if "MANNING" not in lines:
        add("parm", None, None, "the surface-flow section has no MANNING line (Deck.set_surface)",
            line=at)
    if not meshed:
        return
    maxmat = int(np.max(np.asarray(deck.grid.TRIANG)[:, 3]))
    if len(sf.MANNING) and len(sf.MANNING) != 1 and len(sf.MANNING) < maxmat:
        add("parm", None, None, "MANNING gives %d values, the surface triangles have material "
            "codes up to %d" % (len(sf.MANNING), maxmat), line=lines.get("MANNING"))
    width = deck.boundary_widths()
    owner = {}
    for k, (o, line) in enumerate(zip(sf.OUTLETS, lines.get("OUTLET", []))):
        for g in o.nodes:
            g = int(g)
            if g > deck.NNOD:
                add("parm", None, None, "outlet node %d is outside the surface nodes 1..%d"
                    % (g, deck.NNOD), line=line)
                break
            if not width[g] > 0.0:
                add("parm", None, None, "outlet node %d is not on the boundary of the surface" % g,
                    line=line)
                break
            if g in owner:
                add("parm", None, None, "node %d is already a node of outlet %d" % (g, owner[g]),
                    line=line)
                break
            owner[g] = k + 1
    if p.ITRANS != 0:
        add("parm", "ITRANS", p.ITRANS, "the surface-flow section runs without transport "
            "(ITRANS = 0): the solute in the water on the ground is not modelled")
    if p.UNITS is None:
        add("parm", None, None, "no UNITS line: Manning's n and the gravity are taken in metres "
            "and seconds", "warning", line=at)
    if not sf.OUTLETS:
        add("parm", None, None, "no OUTLET line: every boundary edge of the surface is closed",
            "warning", line=at)


def _node_checks(add, deck, sl):
    """The porosity and storage of every node (the means over its tetrahedra) against the
    curve of records 3 to 7, as the program checks them once the mesh is built."""
    por, sto = deck.nodal_means()
    if sl.IVGHU not in (2, 3) or sl.CURVES is not None:
        for i in np.nonzero(~(por > 0))[0][:3]:
            add("soil", "POROSITY", float(por[i]), "node %d: its mean porosity over its tetrahedra "
                "must be positive" % (i + 1), record=8)
        if not np.all(por > 0):
            return
    if sl.CURVES is not None:
        return
    if sl.IVGHU in (2, 3):
        if not 0 <= sl.HUSWR < 1:
            add("soil", "HUSWR", sl.HUSWR, "the residual saturation must be 0 or more and below 1")
        return
    name = "BCRMC" if sl.IVGHU == 4 else "VGRMC"
    r = getattr(sl, name)
    if not r >= 0:
        add("soil", name, r, "the residual moisture content must be 0 or more")
        return
    if sl.IVGHU == 1:
        # The extended curve turns linear where its moisture capacity falls to the node's
        # specific storage: the largest capacity must exceed it.
        m = (sl.VGN - 1.0) / sl.VGN
        dmcmax = -m * sl.VGN * (por - r) * m ** m / ((1.0 + m) ** (1.0 + m) * sl.VGPSAT)
        for i in np.nonzero(dmcmax <= sto)[0][:3]:
            add("soil", "STORAGE", float(sto[i]), "node %d: its mean specific storage must be "
                "below the largest moisture capacity %.10g of the extended van Genuchten curve "
                "at its mean porosity %r" % (i + 1, dmcmax[i], float(por[i])), record=8)
        return
    for i in np.nonzero(~(r < por))[0][:1]:
        add("soil", name, r, "the residual moisture content must lie below the mean porosity "
            "%r of node %d" % (float(por[i]), i + 1))


def _curve_checks(add, sl, nstr, nzone):
    """The CURVES section, checked record by record as the program reads it: the rule's words
    are the program's, after the soil (material, and layer under CURVES LAYER) they concern."""
    c = sl.CURVES

    def bad(field, value, message):
        add("soil", field, value, message, record="CURVES")

    if c.BY not in CURVES_BY:
        if any(near_miss(c.BY, k) for k in CURVES_BY):
            return  # a mistyped MATERIAL or LAYER, named with the line
        bad("BY", c.BY, "expected 'CURVES MATERIAL' (a record for each material type) or "
            "'CURVES LAYER' (a record for each layer and material type), found '%s'"
            % ("CURVES " + c.BY).strip())
        return
    names = curve_params(sl.IVGHU)
    tables = {}
    for k in names:
        t = np.asarray(getattr(c, k))
        if t.shape != (nstr, nzone):
            bad(k, t.shape, "the table needs NSTR x NZONE = %d x %d rows (layer, material)"
                % (nstr, nzone))
            return
        tables[k] = t
    by_layer = c.BY == "LAYER"
    if not by_layer:
        for k, t in tables.items():
            for m in np.nonzero(np.any(t != t[:1], axis=0))[0][:3]:
                l = int(np.nonzero(t[:, m] != t[0, m])[0][0])
                bad(k, float(t[l, m]), "material %d, layer %d: differs from layer 1 (%r), but "
                    "CURVES MATERIAL gives a material one curve in every layer (BY = 'LAYER', "
                    "or Deck.set_curve)" % (m + 1, l + 1, float(t[0, m])))
    for k, t in tables.items():
        if not np.all(np.isfinite(t)):
            l, m = np.argwhere(~np.isfinite(t))[0]
            bad(k, float(t[l, m]), "layer %d, material %d: must be a finite number" % (l + 1, m + 1))
            return
    vg, bc = sl.IVGHU in (0, 1), sl.IVGHU == 4
    soils = [(l, m) for l in range(nstr) for m in range(nzone)] if by_layer else \
        [(0, m) for m in range(nzone)]
    count = 0
    for l, m in soils:
        if count >= 10:
            break
        at = "material %d%s: " % (m + 1, ", layer %d" % (l + 1) if by_layer else "")
        v = {k: float(t[l, m]) for k, t in tables.items()}
        before = count
        if vg and not v["VGN"] > 1.0:
            bad("VGN", v["VGN"], at + "the van Genuchten exponent must be greater than 1")
            count += 1
        if vg and not v["VGPSAT"] < 0.0:
            bad("VGPSAT", v["VGPSAT"], at + "the van Genuchten scale head must be negative")
            count += 1
        if bc and not v["BCPSAT"] < 0.0:
            bad("BCPSAT", v["BCPSAT"], at + "the Brooks-Corey air-entry head must be negative")
            count += 1
        if sl.IVGHU in (2, 3) and not 0.0 <= v["HUSWR"] < 1.0:
            bad("HUSWR", v["HUSWR"], at + "the residual saturation must be 0 or more and below 1")
            count += 1
        rname = "VGRMC" if vg else "BCRMC"
        for layer in ([l] if by_layer else range(nstr)):
            phi = float(sl.POROSITY[layer, m])
            ss = float(sl.STORAGE[layer, m])
            if not phi > 0.0:
                bad("POROSITY", phi, at + "layer %d: a soil with its own retention curve needs a "
                    "positive porosity" % (layer + 1))
                count += 1
                continue
            if (vg or bc) and not 0.0 <= v[rname] < phi:
                bad(rname, v[rname], at + "the residual moisture content must be 0 or more and "
                    "below the porosity %r of layer %d" % (phi, layer + 1))
                count += 1
                continue
            if sl.IVGHU == 1 and count == before:
                # The extended curve turns linear where its moisture capacity falls to the
                # soil's specific storage: the largest capacity must exceed it.
                n, tr, psis = v["VGN"], v["VGRMC"], v["VGPSAT"]
                mm = (n - 1.0) / n
                dmcmax = -mm * n * (phi - tr) * mm ** mm / ((1.0 + mm) ** (1.0 + mm) * psis)
                if dmcmax <= ss:
                    add("soil", "STORAGE", ss, "layer %d, material %d: must be below the largest "
                        "moisture capacity %.10g of its extended van Genuchten curve"
                        % (layer + 1, m + 1, dmcmax), record=8)
                    count += 1


def _count_check(add, name, field, given, need, why):
    """A list read as one record of `need` values: fewer stop the run, more are passed over."""
    if given < need:
        add(name, field, given, "%d values given, %d needed (%s)" % (given, need, why))
    elif given > need:
        add(name, field, given, "%d values given, %d read (%s): the rest are passed over"
            % (given, need, why), "warning")


def _series_checks(add, name, s, vname, width, what, p):
    t = np.asarray(s.TIME)
    v = np.asarray(getattr(s, vname))
    if t.size == 0:
        if name == "atmbc":
            add(name, "TIME", None, "no record after HSPATM: no atmospheric input, as with "
                "HSPATM = 9999", "warning")
        else:
            add(name, "TIME", None, "the file needs at least one record (a time and its values)")
        return
    if v.shape != (t.size, width):
        add(name, vname, v.shape[1] if v.ndim == 2 else v.size,
            "every record needs %d value%s (%s), one row a time" % (width, "" if width == 1 else "s", what))
    d = np.nonzero(np.diff(t) < 0)[0]
    if d.size:
        add(name, "TIME", float(t[d[0] + 1]), "is earlier than the time %r of the record before it"
            % float(t[d[0]]))
    if t[0] > p.TIMEP and p.DELTAT < 1.0e10:
        add(name, "TIME", float(t[0]), "the first record lies after TIMEP = %r: before it the "
            "values rise linearly from zero at time 0" % p.TIMEP, "warning")


def _table_checks(add, name, sec, fields, nstr, nzone, limits):
    """Tables of NSTR x NZONE rows and their limits (lowest, strict[, level]); True when every
    table has its rows."""
    sized = True
    for field in fields:
        tab = np.asarray(getattr(sec, field))
        if tab.shape != (nstr, nzone):
            add(name, field, tab.shape, "the table needs NSTR x NZONE = %d x %d rows (layer, "
                "material)" % (nstr, nzone))
            sized = False
            continue
        lo, strict, level = (limits[field] + ("error",))[:3]
        bad = np.argwhere(tab <= lo) if strict else np.argwhere(tab < lo)
        for layer, m in bad[:3]:
            add(name, field, float(tab[layer, m]), "layer %d material %d: %s %s %r"
                % (layer + 1, m + 1, "must be" if level == "error" else "should be",
                   ">" if strict else ">=", lo), level)
    return sized
