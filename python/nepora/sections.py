"""The input files of a deck as typed, named fields, and the one description of each file's
records that serves both to read it and to write it.

Each file is a ``Section``: its fields carry the names of docs/input.md (``parm.TMAX``,
``grid.ZRATIO``, ``soil.XPERM``). Counts that only say how long a list is (``NPRT``, ``NNOD``,
``NDIRC``...) are not stored: they are the lengths of their lists, read-only. A section read from
a file remembers the text of every record; when it is written back, a record whose values have
not changed is written with its own bytes (labels, spacing, ``r*c``, ``1.0d-9``), a changed one
anew, with its label kept.
"""
import difflib
import math
import re
from collections import namedtuple

import numpy as np

from .freeform import Reader, ReadError, fmt_value


class DeckError(ValueError):
    """A deck that cannot be read or built as asked."""


# ---------------------------------------------------------------------------------------------
# Sections: typed fields with key validation

class Section:
    """Fields of one input file. Unknown names are refused (with the closest known ones), and
    values are converted to the field's type: int, float, bool, or numpy arrays of them."""

    _role = ""            # "parameter file", as the programs' messages name the file
    _line = 0             # its line in nepora3d.fnames
    _fields = {}          # name -> int | float | bool | (int,) | (float,) (1-D) | (int, 2) ...
    _counts = {}          # count name -> the list whose length it is
    _records = []         # (record number, "NAMES") for messages
    _aliases = {}

    def __init__(self, **values):
        object.__setattr__(self, "_source", {})     # record key -> (values, text, label)
        object.__setattr__(self, "_raw", None)      # text kept as it is (not parsed)
        object.__setattr__(self, "_tail", "")
        object.__setattr__(self, "_error", None)    # why the text could not be parsed
        object.__setattr__(self, "_notes", [])      # lines after the last record: (line, words)
        for k, v in self._defaults().items():
            object.__setattr__(self, k, self._convert(k, v))
        for k, v in values.items():
            setattr(self, k, v)

    def _defaults(self):
        return {}

    # --- key validation and types ---
    def _name(self, name):
        if name in self._fields or name in self._counts:
            return name
        if name in self._aliases:
            return self._aliases[name]
        up = name.upper().replace("-", "_")
        if up in self._fields or up in self._counts:
            return up
        return None

    def _unknown(self, name):
        known = list(self._fields) + list(self._counts)
        near = difflib.get_close_matches(name.upper(), known, n=3, cutoff=0.5)
        hint = (": did you mean %s?" % " or ".join(near)) if near else ""
        return AttributeError("the %s has no field %s%s (fields: %s)" % (
            self._role, name, hint, " ".join(known)))

    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        real = self._name(name)
        if real is None:
            raise self._unknown(name)
        if real in self._counts:
            return len(getattr(self, self._counts[real]))
        return object.__getattribute__(self, real)

    def __setattr__(self, name, value):
        if name.startswith("_"):
            object.__setattr__(self, name, value)
            return
        real = self._name(name)
        if real is None:
            raise self._unknown(name)
        if real in self._counts:
            raise AttributeError("%s is the length of %s: set %s instead" % (
                real, self._counts[real], self._counts[real]))
        object.__setattr__(self, real, self._convert(real, value))
        object.__setattr__(self, "_raw", None)

    def _convert(self, name, v):
        t = self._fields[name]
        if v is None:
            return None
        if isinstance(t, tuple):
            dtype = {int: np.int64, float: np.float64, bool: bool}[t[0]]
            a = np.array(v, dtype=float if t[0] is int else dtype)
            if t[0] is int:
                if a.size and not np.all(np.isfinite(a)) or a.size and np.any(a != np.round(a)):
                    raise TypeError("%s %s: integers expected, got %r" % (self._role, name, v))
                a = a.astype(np.int64)
            ndim = t[1] if len(t) > 1 else 1
            if a.ndim == 0 and ndim == 1:
                a = a.reshape(1)
            if a.ndim != ndim and a.size == 0:
                a = a.reshape((0,) * ndim)
            if a.ndim != ndim:
                raise TypeError("%s %s: a %d-D array expected, got shape %s" % (
                    self._role, name, ndim, a.shape))
            return a
        if t is str:
            if isinstance(v, (tuple, list)) and all(isinstance(w, str) for w in v):
                v = " ".join(v)     # UNITS = ("m", "d")
            if not isinstance(v, str):
                raise TypeError("%s %s: text expected, got %r" % (self._role, name, v))
            return " ".join(v.split())
        if t is bool:
            if isinstance(v, (bool, np.bool_)):
                return bool(v)
            if isinstance(v, str) and v.strip().upper().lstrip(".")[:1] in ("T", "F"):
                return v.strip().upper().lstrip(".")[:1] == "T"
            raise TypeError("%s %s: T or F (True or False) expected, got %r" % (self._role, name, v))
        if t is int:
            if isinstance(v, (bool, np.bool_)):
                raise TypeError("%s %s: an integer expected, got %r" % (self._role, name, v))
            if isinstance(v, (int, np.integer)):
                return int(v)
            if isinstance(v, (float, np.floating)) and float(v).is_integer():
                return int(v)
            raise TypeError("%s %s: an integer expected, got %r" % (self._role, name, v))
        if isinstance(v, (bool, np.bool_)) or not isinstance(v, (int, float, np.integer, np.floating)):
            raise TypeError("%s %s: a real number expected, got %r" % (self._role, name, v))
        return float(v)

    def fields(self):
        """The values as a dict, counts included."""
        d = {k: getattr(self, k) for k in self._fields}
        d.update({k: getattr(self, k) for k in self._counts})
        return d

    def record_of(self, name):
        for n, names in self._records:
            if name in names.split():
                return n, names
        return None, ""

    def __repr__(self):
        if self._raw is not None:
            return "<%s: kept as text (%s)>" % (self._role, self._error or "not read by this deck")
        parts = []
        for k, v in self.fields().items():
            if isinstance(v, np.ndarray) and v.size > 6:
                v = "array%s" % (v.shape,)
            parts.append("%s=%s" % (k, v))
        return "<%s: %s>" % (self._role, ", ".join(parts))


LENGTH_UNITS = ("m", "cm", "mm", "km", "ft")
TIME_UNITS = ("s", "min", "h", "d", "y")


def units_ok(text):
    """A UNITS record's words after the keyword, as the program takes them: a length, a time."""
    w = text.split()
    return len(w) == 2 and w[0] in LENGTH_UNITS and w[1] in TIME_UNITS


def osa_distance(a, b):
    """The optimal string alignment distance of two words: the fewest letters inserted,
    removed or changed, or pairs of neighbours swapped, no letter edited twice."""
    d = [[i + j if i * j == 0 else 0 for j in range(len(b) + 1)] for i in range(len(a) + 1)]
    for i in range(1, len(a) + 1):
        for j in range(1, len(b) + 1):
            d[i][j] = min(d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1]))
            if i > 1 and j > 1 and a[i - 1] == b[j - 2] and a[i - 2] == b[j - 1]:
                d[i][j] = min(d[i][j], d[i - 2][j - 2] + 1)
    return d[len(a)][len(b)]


def near_miss(word, keyword):
    """A word of 4 characters or more that is not the keyword (in any case) but one or two
    edits from it: the keyword mistyped, not a note."""
    w = word.upper()
    return len(word) >= 4 and w != keyword and osa_distance(w, keyword) <= 2


def mistyped_keywords(words, keyword, seconds=()):
    """The words of a line after the last record that the program takes for a mistyped
    keyword, with the keyword meant: the first word, a near miss of `keyword`, and, when the
    first word is the keyword or a near miss of it, the second, a near miss of one of
    `seconds`."""
    if not words or not (words[0].upper() == keyword or near_miss(words[0], keyword)):
        return []
    out = [(words[0], keyword)] if words[0].upper() != keyword else []
    for k in seconds if len(words) > 1 else ():
        if near_miss(words[1], k):
            out.append((words[1], k))
            break
    return out


def _table(nstr, nzone, value):
    return np.full((nstr, nzone), float(value))


# ---------------------------------------------------------------------------------------------
# The surface-flow section: lines after the last record of the parameter file

SURFACE_KEYWORDS = ("SURFACE", "MANNING", "DEPRESSION", "OUTLET")
ROOTS_KEYWORDS = ("ROOTS", "ROOTDEPTH", "ROOTSHAPE", "FEDDES")
# In the order the program tries near misses.
PARM_KEYWORDS = ("UNITS",) + SURFACE_KEYWORDS + ROOTS_KEYWORDS
ROOT_SHAPES = ("UNIFORM", "LINEAR")
WAVES = ("DIFFUSION", "KINEMATIC")
OUTLET_KINDS = ("CRITICAL", "NORMAL", "LEVEL")

Outlet = namedtuple("Outlet", "kind level nodes")
Outlet.__doc__ = """An outlet: kind 'CRITICAL', 'NORMAL' or 'LEVEL', level the depth of water held
outside (LEVEL; None for the others), nodes the surface nodes (1 to NNOD) on the boundary."""

# A number as the program takes one in this section: the whole word, decimal or hexadecimal
# (strtod), finite.
_DECIMAL = re.compile(r"[+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?")
_HEX = re.compile(r"[+-]?0[xX](?:[0-9a-fA-F]+\.?[0-9a-fA-F]*|\.[0-9a-fA-F]+)(?:[pP][+-]?\d+)?")


def section_number(word):
    """The value of a word of the surface-flow section, or None when the program takes it for
    no number."""
    if _DECIMAL.fullmatch(word):
        v = float(word)
    elif _HEX.fullmatch(word):
        m = word.lstrip("+-")
        v = float.fromhex(m if "p" in m.lower() else m + "p0")
        v = -v if word.startswith("-") else v
    else:
        return None
    return v if math.isfinite(v) else None


def near_keyword(word, keys):
    """The first of keys that word (4 characters or more, any case) misses by one or two edits,
    or None: the program's test of a mistyped keyword."""
    if len(word) < 4:
        return None
    for k in keys:
        if 1 <= osa_distance(word.upper(), k) <= 2:
            return k
    return None


class Surface(Section):
    """The surface-flow section of the parameter file (docs/surface.md): ON (a SURFACE line),
    WAVE ('DIFFUSION' or 'KINEMATIC'), MANNING (Manning's n per material code, or one for all),
    DEPRESSION (the depression storage) and OUTLETS (a list of Outlet(kind, level, nodes), one
    per OUTLET line, in order). ON = False: no section is written."""
    _role, _line = "parameter file", 1
    _fields = dict(ON=bool, WAVE=str, MANNING=(float,), DEPRESSION=float, OUTLETS=None)
    _aliases = dict(SURFACE="ON", OUTLET="OUTLETS")
    _records = [("SURFACE", "ON WAVE"), ("MANNING", "MANNING"), ("DEPRESSION", "DEPRESSION"),
                ("OUTLET", "OUTLETS")]

    def _defaults(self):
        return dict(ON=False, WAVE="DIFFUSION", MANNING=[], DEPRESSION=0.0, OUTLETS=[])

    def __init__(self, **values):
        Section.__init__(self, **values)
        object.__setattr__(self, "_lines", {})      # keyword -> line (OUTLET: a list), as read

    def _convert(self, name, v):
        if name == "WAVE":
            w = Section._convert(self, name, v).upper()
            if w not in WAVES:
                raise ValueError("parameter file SURFACE: DIFFUSION or KINEMATIC, not %r" % (v,))
            return w
        if name == "OUTLETS":
            return [outlet(*o) for o in v]
        return Section._convert(self, name, v)

    def key(self):
        """The section's values, comparable exactly (floats by their text)."""
        return (self.ON, self.WAVE, tuple(map(repr, map(float, self.MANNING))),
                repr(float(self.DEPRESSION)),
                tuple((o.kind, repr(o.level), tuple(int(n) for n in o.nodes)) for o in self.OUTLETS))

    def lines(self):
        """The section's lines as written (none when off)."""
        if not self.ON:
            return []
        out = ["SURFACE " + self.WAVE]
        if len(self.MANNING):
            out.append("MANNING " + " ".join(fmt_value(float(n)) for n in self.MANNING))
        if self.DEPRESSION != 0.0 or "DEPRESSION" in self._lines:
            out.append("DEPRESSION " + fmt_value(float(self.DEPRESSION)))
        for o in self.OUTLETS:
            level = [fmt_value(float(o.level))] if o.kind == "LEVEL" else []
            out.append(" ".join(["OUTLET", o.kind] + level + [str(int(n)) for n in o.nodes]))
        return out

    def fields(self):
        return dict(ON=self.ON, WAVE=self.WAVE, MANNING=self.MANNING,
                    DEPRESSION=self.DEPRESSION, OUTLETS=self.OUTLETS)


def outlet(kind, level, nodes):
    """An Outlet from its kind (any case), level (LEVEL only) and nodes."""
    k = str(kind).upper()
    if k not in OUTLET_KINDS:
        raise ValueError("an outlet is CRITICAL, NORMAL or LEVEL, not %r" % (kind,))
    if (k == "LEVEL") != (level is not None):
        raise ValueError("a LEVEL outlet takes the depth of water outside (level=), the others "
                         "none")
    n = np.asarray(nodes, dtype=float).reshape(-1)
    if np.any(n != np.round(n)):
        raise TypeError("outlet nodes: integers expected, got %r" % (nodes,))
    return Outlet(k, None if level is None else float(level), n.astype(np.int64))


def read_surface(notes):
    """The surface-flow section from the lines after the last record of the parameter file,
    (line, words) each, read as the program reads them: (Surface, [(line, error)]). A line in
    error is left out of the fields; the program stops at the first."""
    sf = Surface()
    errors = []
    lines = sf._lines
    for line, words in notes:
        key = words[0].upper()
        if key not in SURFACE_KEYWORDS:
            continue
        w = words[1:]

        def stop(what):
            errors.append((line, what))

        if key == "SURFACE":
            if sf.ON:
                stop("a second SURFACE line")
                continue
            object.__setattr__(sf, "ON", True)
            lines["SURFACE"] = line
            kind = w[0].upper() if w else "DIFFUSION"
            if len(w) > 1 or kind not in WAVES:
                stop("SURFACE takes DIFFUSION or KINEMATIC, as 'SURFACE DIFFUSION'")
                continue
            object.__setattr__(sf, "WAVE", kind)
        elif key == "MANNING":
            if "MANNING" in lines:
                stop("a second MANNING line")
                continue
            if not w:
                stop("MANNING takes Manning's n (s m^-1/3) of each material, or one for all")
                continue
            lines["MANNING"] = line
            vals = [section_number(s) for s in w]
            bad = [s for s, v in zip(w, vals) if v is None or not v > 0.0]
            if bad:
                stop("Manning's n '%s' is not a positive number" % bad[0])
                continue
            object.__setattr__(sf, "MANNING", np.array(vals, float))
        elif key == "DEPRESSION":
            v = section_number(w[0]) if len(w) == 1 else None
            if v is None or v < 0.0:
                stop("DEPRESSION takes one depth, 0 or more")
                continue
            lines["DEPRESSION"] = line
            object.__setattr__(sf, "DEPRESSION", v)
        else:
            kind = w[0].upper() if w else ""
            first, level = 1, None
            if kind == "LEVEL":
                level = section_number(w[1]) if len(w) > 1 else None
                if level is None or level < 0.0:
                    stop("OUTLET LEVEL takes the depth of water outside, 0 or more, then its nodes")
                    continue
                first = 2
            elif kind not in OUTLET_KINDS:
                stop("OUTLET takes CRITICAL, NORMAL or LEVEL, then the surface nodes of the outlet")
                continue
            if len(w) <= first:
                stop("OUTLET %s names no surface node" % kind)
                continue
            nodes = []
            for s in w[first:]:
                v = section_number(s)
                if v is None or v != math.floor(v) or v < 1.0 or v > 2.0e9:
                    stop("'%s' is not a surface node number" % s)
                    break
                nodes.append(int(v))
            else:
                sf.OUTLETS.append(Outlet(kind, level, np.array(nodes, np.int64)))
                lines.setdefault("OUTLET", []).append(line)
    return sf, errors


def _rewrite_surface(tail, surface):
    """The tail after the last record with the surface-flow lines replaced by the section's,
    where the first of them stood (else at the end); a line whose values did not change keeps
    its text."""
    lines = tail.split("\n")
    keep, at, old = [], None, {}
    for l in lines:
        w = l.split()
        if w and w[0].upper() in SURFACE_KEYWORDS:
            if at is None:
                at = len(keep)
            first = w[0].upper() == "SURFACE"
            one, errors = read_surface([(0, w)] if first else [(0, ["SURFACE"]), (0, w)])
            if not errors:  # the line as the section writes it: the SURFACE line, or the next
                old.setdefault(one.lines()[0 if first else 1], []).append(l)
            continue
        keep.append(l)
    new = [old[l].pop(0) if old.get(l) else l for l in surface.lines()]
    if at is not None:
        return "\n".join(keep[:at] + new + keep[at:])
    tail = "\n".join(keep)
    if not new:
        return tail
    return tail.rstrip("\n") + ("\n" if tail.strip() else "") + "\n".join(new) + "\n"


# ---------------------------------------------------------------------------------------------
# The root-uptake section: lines after the last record of the parameter file

class Roots(Section):
    """The root-uptake section of the parameter file (docs/roots.md): ON (a ROOTS line), SHARE
    (the share of the potential evapotranspiration that is transpiration), DEPTH (the depth of the
    root zone) and SHAPE ('UNIFORM' or 'LINEAR'), each per material code of the surface triangles
    or one for all, and FEDDES (the heads h1 > h2 >= h3 > h4). ON = False: no section is
    written."""
    _role, _line = "parameter file", 1
    _fields = dict(ON=bool, SHARE=(float,), DEPTH=(float,), SHAPE=None, FEDDES=(float,))
    _aliases = dict(ROOTS="SHARE", ROOTDEPTH="DEPTH", ROOTSHAPE="SHAPE")
    _records = [("ROOTS", "ON SHARE"), ("ROOTDEPTH", "DEPTH"), ("ROOTSHAPE", "SHAPE"),
                ("FEDDES", "FEDDES")]

    def _defaults(self):
        return dict(ON=False, SHARE=[], DEPTH=[], SHAPE=[], FEDDES=[])

    def __init__(self, **values):
        Section.__init__(self, **values)
        object.__setattr__(self, "_lines", {})      # keyword -> line, as read

    def _convert(self, name, v):
        if name == "SHAPE":
            v = [v] if isinstance(v, str) else list(v)
            out = [str(w).upper() for w in v]
            bad = [w for w in out if w not in ROOT_SHAPES]
            if bad:
                raise ValueError("parameter file ROOTSHAPE: UNIFORM or LINEAR, not %r" % (bad[0],))
            return out
        return Section._convert(self, name, v)

    def key(self):
        """The section's values, comparable exactly (floats by their text)."""
        return (self.ON, tuple(map(repr, map(float, self.SHARE))),
                tuple(map(repr, map(float, self.DEPTH))), tuple(self.SHAPE),
                tuple(map(repr, map(float, self.FEDDES))))

    def lines(self):
        """The section's lines as written (none when off)."""
        if not self.ON:
            return []
        out = ["ROOTS " + " ".join(fmt_value(float(v)) for v in self.SHARE)]
        if len(self.DEPTH):
            out.append("ROOTDEPTH " + " ".join(fmt_value(float(v)) for v in self.DEPTH))
        if self.SHAPE:
            out.append("ROOTSHAPE " + " ".join(self.SHAPE))
        if len(self.FEDDES):
            out.append("FEDDES " + " ".join(fmt_value(float(v)) for v in self.FEDDES))
        return out

    def fields(self):
        return dict(ON=self.ON, SHARE=self.SHARE, DEPTH=self.DEPTH, SHAPE=self.SHAPE,
                    FEDDES=self.FEDDES)


def read_roots(notes):
    """The root-uptake section from the lines after the last record of the parameter file,
    (line, words) each, read as the program reads them: (Roots, [(line, error)])."""
    rt = Roots()
    errors = []
    lines = rt._lines
    for line, words in notes:
        key = words[0].upper()
        if key not in ROOTS_KEYWORDS:
            continue
        w = words[1:]
        if key in lines:
            errors.append((line, "a second %s line" % key))
            continue
        if key == "ROOTSHAPE":
            bad = [s for s in w if s.upper() not in ROOT_SHAPES]
            if not w:
                errors.append((line, "ROOTSHAPE takes UNIFORM or LINEAR of each material, or one "
                               "for all"))
            elif bad:
                errors.append((line, "ROOTSHAPE '%s' is neither UNIFORM nor LINEAR" % bad[0]))
            else:
                lines[key] = line
                object.__setattr__(rt, "SHAPE", [s.upper() for s in w])
            continue
        vals = [section_number(s) for s in w]
        if key == "FEDDES":
            if len(w) != 4 or None in vals:
                errors.append((line, "FEDDES takes four pressure heads h1 h2 h3 h4, as "
                               "'FEDDES -0.1 -0.25 -4 -80'"))
            elif not (vals[0] > vals[1] >= vals[2] > vals[3]):
                errors.append((line, "FEDDES heads %s are not in the order h1 > h2 >= h3 > h4"
                               % " ".join(w)))
            else:
                lines[key] = line
                object.__setattr__(rt, "FEDDES", np.array(vals, float))
            continue
        if not w:
            errors.append((line, "%s takes %s of each material, or one for all" % (
                key, "the share of the potential evapotranspiration that is transpiration (0..1)"
                if key == "ROOTS" else "the depth of the root zone below the ground")))
            continue
        bad = [s for s, v in zip(w, vals) if v is None or v < 0.0]
        if bad:
            errors.append((line, "%s value '%s' is not a number, 0 or more" % (key, bad[0])))
            continue
        if key == "ROOTS" and max(vals) > 1.0:
            errors.append((line, "ROOTS: a share of transpiration of %g is above 1" % max(vals)))
            continue
        lines[key] = line
        if key == "ROOTS":
            object.__setattr__(rt, "ON", True)
            object.__setattr__(rt, "SHARE", np.array(vals, float))
        else:
            object.__setattr__(rt, "DEPTH", np.array(vals, float))
    return rt, errors


def _rewrite_roots(tail, roots):
    """The tail after the last record with the root-uptake lines replaced by the section's,
    where the first of them stood (else at the end)."""
    keep, at = [], None
    for l in tail.split("\n"):
        w = l.split()
        if w and w[0].upper() in ROOTS_KEYWORDS:
            if at is None:
                at = len(keep)
            continue
        keep.append(l)
    new = roots.lines()
    if at is not None:
        return "\n".join(keep[:at] + new + keep[at:])
    tail = "\n".join(keep)
    if not new:
        return tail
    return tail.rstrip("\n") + ("\n" if tail.strip() else "") + "\n".join(new) + "\n"



class Parm(Section):
    _role, _line = "parameter file", 1
    _fields = dict(
        IPRT1=int, IFLOW=int, ITRANS=int, OSC_FLAG=bool, KSLOPE=int, TOLKSL=float,
        PKRL=float, PKRR=float, PSEL=float, PSER=float,
        PDSE1L=float, PDSE1R=float, PDSE2L=float, PDSE2R=float, ISFONE=int, ISFCVG=int,
        TETAF=float, LUMP=int, TETAC=float, LUMPC=int, ITMX=int, ITMX1=int, ITMX2=int, TOLNL=float,
        ITMXC=int, ITMXC1=int, ITMXC2=int, TOLNLC=float, L2NORM=int, ERNLMX=float,
        ISOLV=int, IRELAX=int, OMEGA=float, ISOLVC=int, IRELAXC=int, OMEGAC=float,
        ITCGSY=int, TLCGSY=float, ITCGNS=int, TLCGNS=float,
        TIMEP=float, DELTAT=float, DTMIN=float, DTMAX=float, TMAX=float,
        DTMAGA=float, DTMAGM=float, DTREDS=float, DTREDM=float,
        IPRT=int, ISEC=int, TIMPRT=(float,), NODVP=(int,), IPOUT=(int,), UNITS=str,
        SURFACE=Surface, ROOTS=Roots)
    _counts = dict(NPRT="TIMPRT", NUMVP="NODVP", NR="IPOUT")
    _records = [(1, "IPRT1"), (2, "IFLOW ITRANS OSC_FLAG"), (3, "KSLOPE TOLKSL"),
                (4, "PKRL PKRR PSEL PSER"), (5, "PDSE1L PDSE1R PDSE2L PDSE2R"), (6, "ISFONE ISFCVG"),
                (7, "TETAF LUMP TETAC LUMPC"), (8, "ITMX ITMX1 ITMX2 TOLNL"),
                (9, "ITMXC ITMXC1 ITMXC2 TOLNLC"), (10, "L2NORM ERNLMX"), (11, "ISOLV IRELAX OMEGA"),
                (12, "ISOLVC IRELAXC OMEGAC"), (13, "ITCGSY TLCGSY ITCGNS TLCGNS"),
                (14, "TIMEP DELTAT DTMIN DTMAX TMAX"), (15, "DTMAGA DTMAGM DTREDS DTREDM"),
                (16, "IPRT ISEC NPRT TIMPRT"), (17, "NUMVP NODVP"), (18, "NR"), (19, "IPOUT"), (20, "UNITS"),
                ("SURFACE", "SURFACE"), ("ROOTS", "ROOTS")]

    def _convert(self, name, v):
        if name == "ROOTS":
            if v is None:
                return Roots()
            if isinstance(v, Roots):
                return v
            raise TypeError("parameter file ROOTS: a Roots (Deck.set_roots makes one) or None, "
                            "not %r" % (v,))
        if name == "SURFACE":
            if v is None:
                return Surface()
            if isinstance(v, Surface):
                return v
            raise TypeError("parameter file SURFACE: a Surface (Deck.set_surface makes one) or "
                            "None, not %r" % (v,))
        return Section._convert(self, name, v)

    def _defaults(self):
        # Picard with the mass-conservative storage, as the column-rain example.
        return dict(IPRT1=1, IFLOW=1, ITRANS=0, OSC_FLAG=False, KSLOPE=5, TOLKSL=0.01,
                    PKRL=-3.0, PKRR=-1.0, PSEL=-3.0, PSER=-1.0,
                    PDSE1L=-3.0, PDSE1R=-2.0, PDSE2L=-2.0, PDSE2R=-1.0, ISFONE=0, ISFCVG=0,
                    TETAF=1.0, LUMP=1, TETAC=1.0, LUMPC=1, ITMX=15, ITMX1=5, ITMX2=10, TOLNL=1.0e-4,
                    ITMXC=10, ITMXC1=3, ITMXC2=8, TOLNLC=1.0e-4, L2NORM=0, ERNLMX=1.0e9,
                    ISOLV=0, IRELAX=0, OMEGA=1.0, ISOLVC=0, IRELAXC=0, OMEGAC=1.0,
                    ITCGSY=500, TLCGSY=1.0e-12, ITCGNS=500, TLCGNS=1.0e-12,
                    TIMEP=0.0, DELTAT=0.01, DTMIN=1.0e-5, DTMAX=1.0, TMAX=1.0,
                    DTMAGA=0.0, DTMAGM=1.25, DTREDS=0.0, DTREDM=0.5,
                    IPRT=1, ISEC=0, TIMPRT=[], NODVP=[], IPOUT=[], UNITS=None,
                    SURFACE=None, ROOTS=None)


class Grid(Section):
    _role, _line = "grid file", 2
    _fields = dict(NZONE=int, N1=int, IVERT=int, ISP=int, BASE=float, ZRATIO=(float,),
                   Z=(float,), ZBOTTOM=(float,), TRIANG=(int, 2), X=(float,), Y=(float,))
    _counts = dict(NSTR="ZRATIO", NNOD="X", NTRI="TRIANG")
    _records = [(1, "NZONE NSTR N1"), (2, "NNOD NTRI"), (3, "IVERT ISP BASE"), (4, "ZRATIO"),
                (5, "Z ZBOTTOM"), (6, "TRIANG"), (7, "X Y")]

    def _defaults(self):
        return dict(NZONE=1, N1=30, IVERT=0, ISP=1, BASE=1.0, ZRATIO=[1.0], Z=[], ZBOTTOM=[],
                    TRIANG=np.zeros((0, 4), int), X=[], Y=[])


class Nansfbc(Section):
    _role, _line = "flow boundary-condition node file", 3
    _fields = dict(POTBC=bool, DIR2D=(int,), DIRNOD=(int,), NEUNOD=(int,))
    _counts = dict(NDIR="DIR2D", NDIRC="DIRNOD", NQ="NEUNOD")
    _records = [(1, "POTBC"), (2, "NDIR"), (3, "DIR2D"), (4, "NDIRC"), (5, "DIRNOD"), (6, "NQ"),
                (7, "NEUNOD")]

    def _defaults(self):
        return dict(POTBC=True, DIR2D=[], DIRNOD=[], NEUNOD=[])


class Dirts(Section):
    """Prescribed-head series: TIME (times) and DIRVAL (one row a time: the NDIR values of the
    replicated surface nodes, then the NDIRC values of the fixed nodes)."""
    _role, _line = "prescribed-head file", 4
    _fields = dict(TIME=(float,), DIRVAL=(float, 2))
    _records = [(1, "TIME DIRVAL")]

    def _defaults(self):
        return dict(TIME=[0.0], DIRVAL=np.zeros((1, 0)))


class Neuts(Section):
    """Prescribed-flux series: TIME and NEUVAL (one row a time, one value per NEUNOD node)."""
    _role, _line = "prescribed-flux file", 5
    _fields = dict(TIME=(float,), NEUVAL=(float, 2))
    _records = [(1, "TIME NEUVAL")]

    def _defaults(self):
        return dict(TIME=[0.0], NEUVAL=np.zeros((1, 0)))


class Atmbc(Section):
    """Atmospheric series: HSPATM, TIME and ATMINP (one row a time: one rate, or NNOD rates when
    HSPATM = 0). HSPATM None: an empty file (no atmospheric input)."""
    _role, _line = "atmospheric file", 6
    _fields = dict(HSPATM=int, TIME=(float,), ATMINP=(float, 2))
    _records = [(1, "HSPATM"), (2, "TIME ATMINP")]

    def _defaults(self):
        return dict(HSPATM=9999, TIME=[], ATMINP=np.zeros((0, 1)))


class Sfbc(Section):
    """Seepage faces: SFNOD, one array of 3-D nodes a face, from the top down."""
    _role, _line = "seepage-face file", 7
    _fields = dict(SFNOD=None)
    _records = [(1, "NSF"), (2, "NSFNUM SFNOD")]

    @property
    def NSF(self):
        return len(self.SFNOD)

    @property
    def NSFNUM(self):
        return [len(f) for f in self.SFNOD]

    def _convert(self, name, v):
        return [np.array(f, dtype=np.int64).reshape(-1) for f in v]

    def _defaults(self):
        return dict(SFNOD=[])

    def fields(self):
        return dict(NSF=self.NSF, NSFNUM=self.NSFNUM, SFNOD=self.SFNOD)


_SOIL_TABLE = ("XPERM", "YPERM", "ZPERM", "STORAGE", "POROSITY")


# The curve parameters of records 3 to 7, and those a record of the CURVES section holds for
# each model (IVGHU 0 to 4), in their order.
_CURVE_PARAMS = ("VGN", "VGRMC", "VGPSAT", "HUALFA", "HUBETA", "HUGAMA", "HUPSIA", "HUSWR", "HUN",
                 "HUA", "HUB", "BCBETA", "BCRMC", "BCPSAT")
_HU = ("HUALFA", "HUBETA", "HUGAMA", "HUPSIA", "HUSWR")
_MODEL_PARAMS = {0: ("VGN", "VGRMC", "VGPSAT"), 1: ("VGN", "VGRMC", "VGPSAT"),
                 2: _HU + ("HUN",), 3: _HU + ("HUA", "HUB"), 4: ("BCBETA", "BCRMC", "BCPSAT")}
CURVES_BY = ("MATERIAL", "LAYER")


def curve_params(ivghu):
    """The parameters of model IVGHU in a CURVES record; None for a model the program lacks."""
    return _MODEL_PARAMS.get(ivghu)


class Curves(Section):
    """The CURVES section of the soil file: a retention curve for every soil. BY is 'MATERIAL'
    (one record per material type, its curve in every layer) or 'LAYER' (one record per layer
    and material type, in the order of the table). Every parameter is an (NSTR, NZONE) table
    like XPERM; the file holds those of the model IVGHU chooses (under BY = 'MATERIAL' each
    material's column is one value)."""
    _role, _line = "soil file", 8
    _fields = dict(BY=str, **{k: (float, 2) for k in _CURVE_PARAMS})
    _records = [("CURVES", "BY " + " ".join(_CURVE_PARAMS))]

    def _defaults(self):
        return dict(BY="MATERIAL")

    def _convert(self, name, v):
        if name == "BY":
            by = Section._convert(self, name, v).upper()
            if by not in CURVES_BY:
                raise ValueError("soil file CURVES BY: MATERIAL (a curve for each material type) "
                                 "or LAYER (a curve for each layer and material type), not %r" % (v,))
            return by
        return Section._convert(self, name, v)

    def params(self, ivghu):
        """The tables of model IVGHU's parameters, by name."""
        return {k: getattr(self, k) for k in curve_params(ivghu) or ()}


class Soil(Section):
    """Soil file; the table fields are arrays of shape (NSTR, NZONE): row layer, column
    material. CURVES: None, or the optional section after the table (a Curves)."""
    _role, _line = "soil file", 8
    _fields = dict(PMIN=float, IVGHU=int, VGN=float, VGRMC=float, VGPSAT=float,
                   HUALFA=float, HUBETA=float, HUGAMA=float, HUPSIA=float, HUSWR=float, HUN=float,
                   HUA=float, HUB=float, BCBETA=float, BCRMC=float, BCPSAT=float,
                   **{k: (float, 2) for k in _SOIL_TABLE}, CURVES=Curves)
    _records = [(1, "PMIN"), (2, "IVGHU"), (3, "VGN VGRMC VGPSAT"),
                (4, "HUALFA HUBETA HUGAMA HUPSIA HUSWR"), (5, "HUN"), (6, "HUA HUB"),
                (7, "BCBETA BCRMC BCPSAT"), (8, " ".join(_SOIL_TABLE)), ("CURVES", "CURVES")]

    def _convert(self, name, v):
        if name == "CURVES":
            if v is None or isinstance(v, Curves):
                return v
            raise TypeError("soil file CURVES: None or a Curves (Deck.set_curve makes one), "
                            "not %r" % (v,))
        return Section._convert(self, name, v)

    def new_curves(self, nstr, nzone, by="MATERIAL"):
        """A CURVES section giving every soil the curve of records 3 to 7."""
        c = Curves(BY=by)
        for k in _CURVE_PARAMS:
            object.__setattr__(c, k, _table(nstr, nzone, getattr(self, k)))
        return c

    def _defaults(self):
        return dict(PMIN=-2.0, IVGHU=0, VGN=2.0, VGRMC=0.06, VGPSAT=-0.5, HUALFA=1.0, HUBETA=2.0,
                    HUGAMA=1.0, HUPSIA=0.0, HUSWR=0.0, HUN=3.0, HUA=1.0, HUB=1.0, BCBETA=2.0,
                    BCRMC=0.05, BCPSAT=-0.5, XPERM=_table(1, 1, 0.05), YPERM=_table(1, 1, 0.05),
                    ZPERM=_table(1, 1, 0.05), STORAGE=_table(1, 1, 1e-4),
                    POROSITY=_table(1, 1, 0.4), CURVES=None)


class Flowic(Section):
    """Flow initial conditions. HPOTP holds the values (potential heads when POTINP, else the
    pressure heads, PSAVE: the same field): one value (INDP = 0) or N (INDP = 1)."""
    _role, _line = "flow initial conditions file", 9
    _fields = dict(POTINP=bool, INDP=int, HPOTP=(float,))
    _aliases = dict(PSAVE="HPOTP")
    _records = [(1, "POTINP"), (2, "INDP"), (3, "HPOTP PSAVE")]

    def _defaults(self):
        return dict(POTINP=True, INDP=2, HPOTP=[])


class Transic(Section):
    _role, _line = "transport initial conditions file", 10
    _fields = dict(INDC=int, CSAVE=(float,))
    _records = [(1, "INDC"), (2, "CSAVE")]

    def _defaults(self):
        return dict(INDC=0, CSAVE=[0.0])


class Solute(Section):
    """Solute file; ALFA_L, ALFA_T, RETARD are (NSTR, NZONE) arrays (ALFA-L and ALFA-T in the
    documents)."""
    _role, _line = "solute file", 11
    _fields = dict(RHO0=float, EPSLON=float, DIFFUS=float, EPSLON1=float,
                   ALFA_L=(float, 2), ALFA_T=(float, 2), RETARD=(float, 2))
    _records = [(1, "RHO0 EPSLON DIFFUS EPSLON1"), (2, "ALFA_L ALFA_T RETARD")]

    def _defaults(self):
        return dict(RHO0=1.0, EPSLON=0.0, DIFFUS=0.0, EPSLON1=0.0, ALFA_L=_table(1, 1, 0.0),
                    ALFA_T=_table(1, 1, 0.0), RETARD=_table(1, 1, 1.0))


class Transbc(Section):
    """Transport boundary conditions. DIRVALC: the concentrations of the DIR2DC surface nodes;
    DIRVALC3D: those of the DIRNODC nodes (both DIRVALC in the documents)."""
    _role, _line = "transport boundary conditions file", 12
    _fields = dict(DIR2DC=(int,), DIRVALC=(float,), DIRNODC=(int,), DIRVALC3D=(float,),
                   CAUNOD=(int,), CAUTOT=(float,), CAUADV=(float,))
    _counts = dict(NP2C="DIR2DC", NPFC="DIRNODC", NMC="CAUNOD")
    _records = [(1, "NP2C"), (2, "DIR2DC"), (3, "DIRVALC"), (4, "NPFC"), (5, "DIRNODC"),
                (6, "DIRVALC3D"), (7, "NMC"), (8, "CAUNOD"), (9, "CAUTOT"), (10, "CAUADV")]

    def _defaults(self):
        return dict(DIR2DC=[], DIRVALC=[], DIRNODC=[], DIRVALC3D=[], CAUNOD=[], CAUTOT=[],
                    CAUADV=[])


# ---------------------------------------------------------------------------------------------
# Reading and writing through one description per file

def _norm(v):
    """Values as the program reads them, for the test 'unchanged': floats by their exact text
    (so that -0.0 is not 0.0), ints and logicals by value and kind."""
    if isinstance(v, (bool, np.bool_)):
        return ("b", bool(v))
    if isinstance(v, (int, np.integer)):
        return ("i", int(v))
    return ("f", repr(float(v)))


class _Rec:
    """One record being read (reading) or written (writing)."""

    def __init__(self, io, key, label):
        self.io, self.key, self.label = io, key, label
        self.names, self.vals, self.toks = [], [], []
        self.lines = [[]]             # written tokens, line by line
        self.st = io.reader.statement() if io.reading else None

    def _break(self, per_line):
        if per_line and len(self.lines[-1]) >= per_line:
            self.lines.append([])

    def value(self, name, typ, cur):
        self.names.append(name)
        if self.io.reading:
            v = self.st.get(typ, cur if cur is not None else typ(0))
            self.toks.append(self.st.last_tok)
        else:
            v = cur
            self.lines[-1].append(fmt_value(v))
        self.vals.append(_norm(v))
        return v

    def values(self, name, typ, cur, n, per_line=None, default=None):
        """n values (n = len(cur) when writing); nulls keep default[i] (or cur[i])."""
        self.names.append(name)
        if self.io.reading:
            if n < 0:
                raise DeckError("%s: %s count %d is negative" % (self.io.reader.where(), name, n))
            base = default if default is not None else cur
            out = []
            for i in range(n):
                d = base[i] if base is not None and i < len(base) else typ(0)
                out.append(self.st.get(typ, d))
                self.toks.append(self.st.last_tok)
            arr = np.array(out, dtype=float if typ is float else np.int64)
        else:
            arr = np.asarray(cur).reshape(-1)
            if len(self.lines[-1]) and per_line:
                self.lines.append([])
            for v in arr:
                self._break(per_line)
                self.lines[-1].append(fmt_value(v.item() if hasattr(v, "item") else v))
        self.vals.extend(_norm(v.item()) for v in arr)
        return arr

    def count(self, name, seq):
        return self.value(name, int, None if self.io.reading else len(seq))

    def fields(self, obj, names):
        for name in names.split():
            object.__setattr__(obj, name, self.value(name, obj._fields[name],
                                                     getattr(obj, name)))


class _IO:
    """Runs a file's description: reading a text, or writing the sections' values."""

    def __init__(self, reading, text="", role="", name="", source=None, column=27):
        self.reading = reading
        self.reader = Reader(text, role, name) if reading else None
        self.source = {} if reading else (source or {})
        self.out = []
        self.column = column

    def more(self, k, n):
        return (not self.reader.at_end()) if self.reading else k < n

    def at_end(self):
        return self.reader.at_end() if self.reading else False

    class _Ctx:
        def __init__(self, io, key, label, extra):
            self.io, self.key, self.label, self.extra = io, key, label, extra

        def __enter__(self):
            self.rec = _Rec(self.io, self.key, self.label)
            return self.rec

        def __exit__(self, et, ev, tb):
            if et is None:
                self.io._close(self.rec, self.extra)
            return False

    def rec(self, key, label=None, extra=""):
        return _IO._Ctx(self, key, label, extra)

    def _close(self, rec, extra):
        if self.reading:
            text, label = rec.st.end()
            self.source[rec.key] = (tuple(rec.vals), text, label, tuple(rec.toks))
            return
        src = self.source.get(rec.key)
        if src is not None and src[0] == tuple(rec.vals):
            self.out.append(src[1])
            return
        if src is not None and len(src[0]) == len(rec.vals):
            # Values that did not change keep their spelling (1.0e-4 stays 1.0e-4).
            k = 0
            for line in rec.lines:
                for j in range(len(line)):
                    if src[0][k] == rec.vals[k] and src[3][k] is not None:
                        line[j] = src[3][k]
                    k += 1
        lines = [" ".join(t) for t in rec.lines if t] or [""]
        if src is not None:
            label = src[2]
            stripped = label.lstrip(" \t")
            if stripped.strip():
                col = len(src[1].rstrip("\n").split("\n")[-1]) - len(stripped)
                pad = max(col - len(lines[-1]), 2)
                lines[-1] += " " * pad + stripped.rstrip("\r")
        else:
            label = rec.label if rec.label is not None else " ".join(dict.fromkeys(rec.names))
            if extra:
                label += " " + extra
            if label:
                lines[-1] += " " * max(self.column - len(lines[-1]), 2) + label
        self.out.append("\n".join(lines) + "\n")


def _parm(io, p):
    for n, names in Parm._records[:15]:
        with io.rec(n) as r:
            r.fields(p, names)
    with io.rec(16) as r:
        r.fields(p, "IPRT ISEC")
        n = r.count("NPRT", p.TIMPRT)
        object.__setattr__(p, "TIMPRT", r.values("TIMPRT", float, p.TIMPRT, n))
    with io.rec(17) as r:
        n = r.count("NUMVP", p.NODVP)
        object.__setattr__(p, "NODVP", r.values("NODVP", int, p.NODVP, n))
    with io.rec(18) as r:
        n = r.count("NR", p.IPOUT)
    if n != 0:
        with io.rec(19) as r:
            object.__setattr__(p, "IPOUT", r.values("IPOUT", int, p.IPOUT, n, per_line=20))
    elif io.reading:
        object.__setattr__(p, "IPOUT", np.zeros(0, np.int64))


def _grid(io, g):
    with io.rec(1) as r:
        g.NZONE = r.value("NZONE", int, g.NZONE)
        nstr = r.count("NSTR", g.ZRATIO)
        g.N1 = r.value("N1", int, g.N1)
    with io.rec(2) as r:
        nnod = r.count("NNOD", g.X)
        ntri = r.count("NTRI", g.TRIANG)
    with io.rec(3) as r:
        r.fields(g, "IVERT ISP BASE")
    with io.rec(4) as r:
        object.__setattr__(g, "ZRATIO", r.values("ZRATIO", float, g.ZRATIO, nstr, per_line=10))
    if g.ISP == 0:
        # One elevation, the first: the program reads no other (those after it would be read
        # as the next records).
        with io.rec(5) as r:
            z = r.values("Z", float, g.Z if io.reading else g.Z[:1], 1)
        if io.reading:
            object.__setattr__(g, "Z", z)
    else:
        with io.rec(5) as r:
            object.__setattr__(g, "Z", r.values("Z", float, g.Z, nnod, per_line=10))
        if g.ISP == 2:
            with io.rec("5b", label="ZBOTTOM") as r:
                object.__setattr__(g, "ZBOTTOM", r.values("ZBOTTOM", float, g.ZBOTTOM, nnod,
                                                          per_line=10))
    with io.rec(6) as r:
        t = r.values("TRIANG", int, g.TRIANG.reshape(-1), 4 * ntri, per_line=4)
        object.__setattr__(g, "TRIANG", t.reshape(-1, 4))
    with io.rec(7, label="X Y") as r:
        xy = np.column_stack([g.X, g.Y]).reshape(-1) if not io.reading else None
        xy = r.values("X", float, xy, 2 * nnod, per_line=10)
        object.__setattr__(g, "X", xy[0::2].copy())
        object.__setattr__(g, "Y", xy[1::2].copy())


def _nansfbc(io, b):
    with io.rec(1) as r:
        r.fields(b, "POTBC")
    for key, cname, lname in ((2, "NDIR", "DIR2D"), (4, "NDIRC", "DIRNOD"), (6, "NQ", "NEUNOD")):
        with io.rec(key) as r:
            n = r.count(cname, getattr(b, lname))
        if n != 0:
            with io.rec(key + 1) as r:
                object.__setattr__(b, lname, r.values(lname, int, getattr(b, lname), n, per_line=20))
        elif io.reading:
            object.__setattr__(b, lname, np.zeros(0, np.int64))


def _series(io, s, vname, sizes):
    """TIME records, each followed by one read per size (sizes of 0 are not read)."""
    times, rows = [], []
    k = 0
    width = sum(sizes)
    prev = np.zeros(width)
    while io.more(k, len(s.TIME)):
        with io.rec(("TIME", k)) as r:
            times.append(r.value("TIME", float, None if io.reading else s.TIME[k]))
        row = []
        at = 0
        for j, n in enumerate(sizes):
            if n <= 0:
                continue
            cur = None if io.reading else getattr(s, vname)[k][at:at + n]
            with io.rec((vname, k, j), label=vname) as r:
                row.append(r.values(vname, float, cur, n, per_line=10, default=prev[at:at + n]))
            at += n
        row = np.concatenate(row) if row else np.zeros(0)
        if io.reading:
            prev = row
        rows.append(row)
        k += 1
    if io.reading:
        object.__setattr__(s, "TIME", np.array(times, float))
        object.__setattr__(s, vname, np.array(rows, float).reshape(len(times), width))


def _atmbc(io, a, nnod):
    if io.reading and io.at_end():
        object.__setattr__(a, "HSPATM", None)
        object.__setattr__(a, "TIME", np.zeros(0))
        object.__setattr__(a, "ATMINP", np.zeros((0, 1)))
        return
    if not io.reading and a.HSPATM is None:
        return
    with io.rec(1) as r:
        r.fields(a, "HSPATM")
    if a.HSPATM == 9999:
        if io.reading:
            object.__setattr__(a, "TIME", np.zeros(0))
            object.__setattr__(a, "ATMINP", np.zeros((0, 1)))
        return
    _series(io, a, "ATMINP", [1 if a.HSPATM != 0 else nnod])


def _sfbc(io, s):
    with io.rec(1) as r:
        nsf = r.count("NSF", s.SFNOD)
    faces = []
    for k in range(nsf):
        cur = None if io.reading else s.SFNOD[k]
        with io.rec(("NSFNUM", k)) as r:
            n = r.count("NSFNUM", cur)
        if n != 0:
            with io.rec(("SFNOD", k)) as r:
                faces.append(r.values("SFNOD", int, cur, n, per_line=20))
        else:
            faces.append(np.zeros(0, np.int64))
    if io.reading:
        object.__setattr__(s, "SFNOD", faces)


def _rows(io, obj, names, nstr, nzone, what):
    if io.reading:
        for name in names:
            object.__setattr__(obj, name, np.zeros((nstr, nzone)))
    tables = [getattr(obj, name) for name in names]
    label = " ".join(n.replace("ALFA_", "ALFA-") for n in names)
    for layer in range(nstr):
        for m in range(nzone):
            extra = "(layer %d)" % (layer + 1) if nzone == 1 else "(layer %d material %d)" % (layer + 1, m + 1)
            with io.rec((what, layer, m), label=label, extra=extra) as r:
                for name, t in zip(names, tables):
                    cur = t[layer, m] if layer < t.shape[0] and m < t.shape[1] else float("nan")
                    v = r.value(name, float, None if io.reading else float(cur))
                    if io.reading:
                        t[layer, m] = v


def _soil(io, s, nstr, nzone):
    for n, names in Soil._records[:7]:
        with io.rec(n) as r:
            r.fields(s, names)
    _rows(io, s, _SOIL_TABLE, nstr, nzone, "row")
    _curves(io, s, nstr, nzone)


def _curves(io, s, nstr, nzone):
    """The CURVES section: its first line ('CURVES MATERIAL' or 'CURVES LAYER', more words a
    comment) is the first line after the table that is not blank, when its first word is CURVES;
    any other line after the table is a note, left in the text as it is. The first line is kept
    in _notes (line, words) for validate(), which the program's check of near misses concerns."""
    names = curve_params(s.IVGHU)
    if io.reading:
        object.__setattr__(s, "CURVES", None)
        if names is None:
            return  # a model the program refuses before the section
        notes = []
        for line, words, start, end in io.reader.lines():
            notes.append((line, words))
            break  # the program looks at the first line only
        object.__setattr__(s, "_notes", notes)
        if not notes or notes[-1][1][0].upper() != "CURVES":
            return
        words = notes[-1][1]
        c = s.new_curves(nstr, nzone)
        object.__setattr__(c, "BY", words[1].upper() if len(words) > 1 else "")
        object.__setattr__(s, "CURVES", c)
        # The notes before the line, as they are, and the line itself.
        io.source["CURVES"] = (c.BY, io.reader.text[io.reader.pos:start],
                               io.reader.text[start:end])
        io.reader.skip_to(end, notes[-1][0] + 1)
    else:
        c = s.CURVES
        if c is None:
            return
        src = io.source.get("CURVES")
        if src is not None and src[0] == c.BY:
            io.out.append(src[1] + src[2])
        else:
            note = "a curve for each material type" if c.BY == "MATERIAL" else \
                "a curve for each layer and material type"
            head = "CURVES " + c.BY
            io.out.append((src[1] if src else "") + head + " " * max(io.column - len(head), 2) +
                          note + "\n")
    if c.BY not in CURVES_BY or names is None:
        return
    by_layer = c.BY == "LAYER"
    tables = [getattr(c, k) for k in names]
    soils = [(l, m) for l in range(nstr) for m in range(nzone)] if by_layer else \
        [(0, m) for m in range(nzone)]
    for l, m in soils:
        if not by_layer:
            extra = "(material %d)" % (m + 1)
        else:
            extra = "(layer %d)" % (l + 1) if nzone == 1 else "(layer %d material %d)" % (l + 1, m + 1)
        with io.rec(("CURVES", c.BY, names, l, m), label=" ".join(names), extra=extra) as r:
            for name, t in zip(names, tables):
                cur = None
                if not io.reading:
                    cur = float(t[l, m]) if l < t.shape[0] and m < t.shape[1] else float("nan")
                v = r.value(name, float, cur)
                if io.reading:
                    if by_layer:
                        t[l, m] = v
                    else:
                        t[:, m] = v


def _flowic(io, f, n):
    with io.rec(1) as r:
        r.fields(f, "POTINP")
    with io.rec(2) as r:
        r.fields(f, "INDP")
    name = "HPOTP" if f.POTINP else "PSAVE"
    if f.INDP in (0, 1):
        count = 1 if f.INDP == 0 else n
        with io.rec(3, label=name) as r:
            object.__setattr__(f, "HPOTP", r.values(name, float, f.HPOTP, count, per_line=10))
    elif io.reading:
        object.__setattr__(f, "HPOTP", np.zeros(0))


def _transic(io, t, n):
    with io.rec(1) as r:
        r.fields(t, "INDC")
    with io.rec(2) as r:
        object.__setattr__(t, "CSAVE", r.values("CSAVE", float, t.CSAVE,
                                                1 if t.INDC == 0 else n, per_line=10))


def _solute(io, s, nstr, nzone):
    with io.rec(1) as r:
        r.fields(s, "RHO0 EPSLON DIFFUS EPSLON1")
    _rows(io, s, ("ALFA_L", "ALFA_T", "RETARD"), nstr, nzone, "row")


def _transbc(io, t):
    groups = ((1, "NP2C", "DIR2DC", (("DIRVALC", float),)),
              (4, "NPFC", "DIRNODC", (("DIRVALC3D", float),)),
              (7, "NMC", "CAUNOD", (("CAUTOT", float), ("CAUADV", float))))
    for key, cname, lname, more in groups:
        with io.rec(key) as r:
            n = r.count(cname, getattr(t, lname))
        lists = ((lname, int),) + more
        for j, (name, typ) in enumerate(lists):
            if n != 0:
                with io.rec(key + 1 + j, label=name.replace("3D", "")) as r:
                    object.__setattr__(t, name, r.values(name.replace("3D", ""), typ,
                                                         getattr(t, name), n, per_line=20))
            elif io.reading:
                object.__setattr__(t, name, np.zeros(0, np.int64 if typ is int else float))


def parse(section, text, name, describe, column=27):
    """Reads text into the section; a text that cannot be read is kept as it is, with the
    reason."""
    io = _IO(True, text, section._role, name, column=column)
    try:
        describe(io, section)
    except (ValueError, IndexError) as e:
        object.__setattr__(section, "_raw", text)
        object.__setattr__(section, "_error", str(e))
        object.__setattr__(section, "_source", {})
        return section
    object.__setattr__(section, "_source", io.source)
    rest = text[io.reader.pos:]
    object.__setattr__(section, "_tail", rest)
    if isinstance(section, Parm):
        # The last UNITS line holds, unless one before it is refused (the program stops there).
        units = None
        notes = [(line, w) for line, w, _, _ in io.reader.lines()]
        for _, w in notes:
            if w[0].upper() == "UNITS":
                units = " ".join(w[1:])
                if not units_ok(units):
                    break
        object.__setattr__(section, "UNITS", units)
        object.__setattr__(section, "_units", units)
        object.__setattr__(section, "_notes", notes)
        surface, errors = read_surface(notes)
        object.__setattr__(section, "SURFACE", surface)
        object.__setattr__(section, "_surface_key", surface.key())
        object.__setattr__(section, "_surface_errors", errors)
        roots, errors = read_roots(notes)
        object.__setattr__(section, "ROOTS", roots)
        object.__setattr__(section, "_roots_key", roots.key())
        object.__setattr__(section, "_roots_errors", errors)
    return section


def render(section, describe, column=27):
    if section._raw is not None:
        return section._raw
    io = _IO(False, source=section._source, column=column)
    describe(io, section)
    tail = section._tail
    if isinstance(section, Parm) and section.UNITS != getattr(section, "_units", None):
        # The optional UNITS line after the last record: replaced, added or dropped.
        lines = [l for l in tail.split("\n") if not (l.split() and l.split()[0].upper() == "UNITS")]
        tail = "\n".join(lines)
        if section.UNITS:
            tail = tail.rstrip("\n") + ("\n" if tail.strip() else "") + "UNITS " + section.UNITS + "\n"
    if isinstance(section, Parm) and section.SURFACE.key() != getattr(
            section, "_surface_key", Surface().key()):
        # The surface-flow lines: replaced where they stood, added or dropped.
        tail = _rewrite_surface(tail, section.SURFACE)
    if isinstance(section, Parm) and section.ROOTS.key() != getattr(
            section, "_roots_key", Roots().key()):
        tail = _rewrite_roots(tail, section.ROOTS)
    # A file whose last record had no end of line, followed by what the deck adds.
    for k in range(1, len(io.out)):
        if not io.out[k - 1].endswith("\n"):
            io.out[k - 1] += "\n"
    body = "".join(io.out)
    if tail.strip() and body and not body.endswith("\n"):
        body += "\n"
    return body + tail
