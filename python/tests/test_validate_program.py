"""validate() against the program: one field of an example changed at a time (values inside and
outside its range, the selectors the program takes, the ends of every range), and validate()
must report an error exactly when the program stops on its input, that is with exit status 1
before it puts its listing in place (it does so once every input file has been read and
checked, just before the first step; a run that gets there is ended at once)."""
import os
import random
import subprocess
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import nepora
from conftest import ALL_EXAMPLES, SRC


def _set(sec, field, index, value):
    a = np.array(getattr(sec, field), copy=True)
    a[index] = value
    setattr(sec, field, a)


# Scalar fields: (file, field) -> values, or a function of the deck giving them.
SCALARS = {
    ("parm", "IPRT1"): [-1, 0, 3, 4],
    ("parm", "IFLOW"): [0, 2, 3],
    ("parm", "ITRANS"): [-1, 1, 2, 3],
    ("parm", "OSC_FLAG"): [True],
    ("parm", "KSLOPE"): [-1, 0, 1, 2, 3, 4, 6],
    ("parm", "TOLKSL"): [0.0, -1.0],
    ("parm", "PSEL"): lambda d: [d.parm.PSER, d.parm.PSER + 1.0],
    ("parm", "PKRR"): lambda d: [d.parm.PKRL],
    ("parm", "PDSE1R"): lambda d: [d.parm.PDSE1L],
    ("parm", "PDSE2L"): lambda d: [d.parm.PDSE2R],
    ("parm", "ISFONE"): [-1, 2],
    ("parm", "ISFCVG"): [2],
    ("parm", "TETAF"): [-0.1, 0.0, 0.4, 0.5, 1.1],
    ("parm", "LUMP"): [0, 2],
    ("parm", "TETAC"): [-0.1, 0.0, 1.1],
    ("parm", "ITMX"): [-1, 0, 1, 100000, 100001],
    ("parm", "ITMX1"): [-1, 0],
    ("parm", "TOLNL"): [0.0, -1.0],
    ("parm", "ITMXC"): [-1, 0, 100000, 100001],
    ("parm", "ITMXC2"): [-1],
    ("parm", "TOLNLC"): [0.0],
    ("parm", "L2NORM"): [1, -1],
    ("parm", "ERNLMX"): [0.0, -1.0, 1e-300],
    ("parm", "ISOLV"): [-15, -14, -13, -12, -11, -10, -9, -6, -5, -1, 1, 2, 3, 4],
    ("parm", "IRELAX"): [1, 2, -1],
    ("parm", "OMEGA"): [0.0, -1.0],
    ("parm", "ISOLVC"): [-15, -14, -10, -9, -6, -5, 1, 3, 4],
    ("parm", "IRELAXC"): [1],
    ("parm", "OMEGAC"): [0.0],
    ("parm", "ITCGSY"): [-1, 0, 1],
    ("parm", "TLCGSY"): [0.0, -1e-12],
    ("parm", "ITCGNS"): [-1, 0, 1],
    ("parm", "TLCGNS"): [0.0, -1.0],
    ("parm", "TIMEP"): lambda d: [-1.0, d.parm.TMAX, d.parm.TMAX + 1.0, d.parm.TMAX - d.parm.DELTAT],
    ("parm", "DELTAT"): lambda d: [0.0, -1.0, 1e10, 9.99e9, d.parm.TMAX - d.parm.TIMEP, d.parm.DTMAX * 2],
    ("parm", "DTMIN"): lambda d: [0.0, -1.0, d.parm.DTMAX, d.parm.DTMAX * 2],
    ("parm", "DTMAX"): lambda d: [d.parm.DTMIN, d.parm.DTMIN / 2, 0.0],
    ("parm", "TMAX"): lambda d: [d.parm.TIMEP, d.parm.TIMEP - 1.0, d.parm.TIMEP + d.parm.DELTAT / 2],
    ("parm", "DTMAGA"): [-1.0, 0.0, 1.0],
    ("parm", "DTMAGM"): [0.99, 1.0, 0.0],
    ("parm", "DTREDS"): [-1.0, 1.0],
    ("parm", "DTREDM"): [-0.1, 0.0, 1.0, 1.1],
    ("parm", "IPRT"): [-1, 0, 4, 5],
    ("parm", "ISEC"): lambda d: [-1, 0, d.NSTR + 1, d.NSTR + 2],
    ("parm", "UNITS"): ["m d", "cm min", "m parsec", "m", "M D"],
    ("grid", "NZONE"): lambda d: [0, d.grid.NZONE + 1, int(np.max(d.grid.TRIANG[:, 3])) - 1],
    ("grid", "N1"): lambda d: [0, -1, d.required_n1(), d.required_n1() - 1],
    ("grid", "IVERT"): [0, 1, 2, 5],
    ("grid", "ISP"): [-1, 3],
    ("grid", "BASE"): [-1.0, 0.0, 1e-3],
    ("nansfbc", "POTBC"): lambda d: [not d.nansfbc.POTBC],
    ("atmbc", "HSPATM"): [-1, 0, 1, 2, 9999],
    ("soil", "PMIN"): [0.0, 1.0, -1e9],
    ("soil", "IVGHU"): [-1, 0, 1, 2, 3, 4, 5],
    ("soil", "VGN"): [0.5, 1.0, 1.0 + 1e-9, 5.0],
    ("soil", "VGRMC"): [-0.1, 0.0, 0.399, 0.5],
    ("soil", "VGPSAT"): [0.0, 0.5, -1e-9],
    ("soil", "HUPSIA"): [0.5, 0.0],
    ("soil", "HUSWR"): [1.0, -0.1],
    ("soil", "BCPSAT"): [0.0, 1.0],
    ("soil", "BCRMC"): [0.9, -0.1],
    ("flowic", "POTINP"): lambda d: [not d.flowic.POTINP],
    ("flowic", "INDP"): [-1, 3],
    ("transic", "INDC"): [-1, 2],
    ("solute", "DIFFUS"): [-1e-9, 0.0],
}

# One entry of an array: (file, field, index) -> values, or a function of the deck.
ENTRIES = {
    ("parm", "TIMPRT", 0): lambda d: [d.parm.TIMEP + d.parm.DELTAT, d.parm.TIMEP + d.parm.DELTAT / 2,
                                      d.parm.TMAX + 1.0, -1.0],
    ("parm", "TIMPRT", -1): lambda d: [d.parm.TIMPRT[-2] if len(d.parm.TIMPRT) > 1 else 0.0,
                                       d.parm.TMAX * 2],
    ("parm", "NODVP", 0): lambda d: [0, d.NNOD, d.NNOD + 1],
    ("parm", "IPOUT", 0): lambda d: [0, d.N, d.N + 1],
    ("grid", "ZRATIO", 0): lambda d: [d.grid.ZRATIO[0] + e for e in (1e-9, 1e-10, 1e-12)],
    ("grid", "Z", 0): lambda d: [d.grid.Z[0] + 1.0, -1e6],
    ("grid", "TRIANG", (0, 0)): lambda d: [0, d.NNOD, d.NNOD + 1, d.grid.TRIANG[0, 1], -1],
    ("grid", "TRIANG", (-1, 3)): lambda d: [0, d.grid.NZONE, d.grid.NZONE + 1],
    ("grid", "X", 0): lambda d: [d.grid.X[0] + 0.5, np.nan],
    ("nansfbc", "DIR2D", 0): lambda d: [0, d.NNOD, d.NNOD + 1],
    ("nansfbc", "DIRNOD", 0): lambda d: [0, d.N, d.N + 1] + list(d.nansfbc.NEUNOD[:1]),
    ("nansfbc", "NEUNOD", 0): lambda d: [0, d.N, d.N + 1] + list(d.nansfbc.DIRNOD[:1]),
    ("dirts", "TIME", -1): lambda d: [d.dirts.TIME[0] - 1.0],
    ("dirts", "TIME", 0): lambda d: [d.parm.TIMEP + 1.0],
    ("neuts", "TIME", -1): lambda d: [d.neuts.TIME[0] - 1.0],
    ("atmbc", "TIME", -1): lambda d: [d.atmbc.TIME[0] - 1.0],
    ("atmbc", "TIME", 0): lambda d: [d.parm.TIMEP + 1.0],
    ("soil", "XPERM", (0, 0)): [-1e-9, 0.0],
    ("soil", "ZPERM", (-1, -1)): [-1.0],
    ("soil", "STORAGE", (0, 0)): [-1e-6, 0.0, 10.0],
    ("soil", "POROSITY", (0, 0)): [0.0, -0.1, 0.05],
    ("soil", "POROSITY", (-1, -1)): [0.0, 1.5],
    ("flowic", "HPOTP", 0): [1e3],
    ("solute", "ALFA_L", (0, 0)): [-1.0, 0.0],
    ("solute", "ALFA_T", (-1, -1)): [-1.0],
    ("solute", "RETARD", (0, 0)): [0.0, -1.0, 1e-9],
    ("transbc", "DIR2DC", 0): lambda d: [0, d.NNOD, d.NNOD + 1],
    ("transbc", "DIRNODC", 0): lambda d: [0, d.N + 1],
    ("transbc", "CAUNOD", 0): lambda d: [0, d.N, d.N + 1],
}


# The curve parameters count only under their own models.
MODEL = {"VGN": (0, 1), "VGRMC": (0, 1), "VGPSAT": (0, 1), "HUPSIA": (2, 3), "HUSWR": (2, 3),
         "BCPSAT": (4,), "BCRMC": (4,)}

# Lines after the last record of the parameter and soil files: a keyword mistyped stops the
# program, with these words; (file, text, what the program says or None).
RECORDS = "1.5 0.1 -1.0    VGN VGRMC VGPSAT (material 1)\n"
MISTYPED = "'%s' is not a keyword: did you mean %s?"
KEYWORDS = [
    ("parm", "UNIT m h\n", "parameter file 'parm' line 19: " + MISTYPED % ("UNIT", "UNITS")),
    ("parm", "a note\n  untis m h\n", "parameter file 'parm' line 20: " + MISTYPED % ("untis", "UNITS")),
    ("parm", "Units m h\nUNI is no keyword\n", None),
    ("soil", "\nCURVE LAYER\n" + RECORDS, "soil file 'soil' line 19: " + MISTYPED % ("CURVE", "CURVES")),
    ("soil", "CURVES MATERIALS\n" + RECORDS,
     "soil file 'soil' line 18: " + MISTYPED % ("MATERIALS", "MATERIAL")),
    ("soil", "cruves layr\n", "soil file 'soil' line 18: " + MISTYPED % ("cruves", "CURVES")),
    ("soil", "notes, then the curves\nCurves material\n" + RECORDS + "CURVE after them\n", None),
]


# The surface-flow section at the end of the parameter file: (base, text, what the program
# says or None). {b} and {c} are nodes on the boundary of the surface, {i} one inside, {n} NNOD + 1.
ON = "SURFACE\nMANNING 0.03 0.1\n"
SURFACE = [
    ("catchment", ON + "OUTLET CRITICAL {b} {c}\nOUTLET LEVEL 0.5 {c}.0\n", "node {c} is already a node of outlet 1"),
    ("catchment", ON + "OUTLET NORMAL {b} {i}\n", "line 21: outlet node {i} is not on the boundary of the surface"),
    ("catchment", ON + "OUTLET normal {n}\n", "outlet node {n} is outside the surface nodes 1..{n_1}"),
    ("catchment", "surface Kinematic\nMANNING 0x1.eb851eb851eb8p-6\nDEPRESSION 1e-3\noutlet Level 0 {b}.0 {c}\n", None),
    ("catchment three materials", ON, "MANNING gives 2 values, the surface triangles have material codes up to 3"),
    ("catchment three materials", "SURFACE\nMANNING 0.03\n", None),
    ("catchment", "MANNING 0.03\n", None), ("catchment", "DEPRESSION 0.0\n", None),
    ("catchment", "DEPRESSION 0.01\n", None), ("catchment", "SURFACE\n", None),
    ("catchment", "SURFACE WAVY\nMANNING 0.03\n", None),
    ("catchment", "SURFACE\nSURFACE\nMANNING 0.03\n", None),
    ("catchment", ON + "MANNING 0.03\n", None),
    ("catchment", "SURFACE\nMANNING 0.03 -0.1\n", None),
    ("catchment", "SURFACE\nMANNING 0.03 1.0d-2\n", None),
    ("catchment", ON + "OUTLET LEVEL -1 {b}\n", None),
    ("catchment", ON + "OUTLET CRITICAL {b}.5\n", None),
    ("catchment", ON + "OUTLET NORMAL\n", None),
    ("catchment", ON + "OUTLET WEIR {b}\n", None),
    ("catchment", "SURFCE\nMANNING 0.03\n", "line 19: " + MISTYPED % ("SURFCE", "SURFACE")),
    ("catchment", ON + "OUTLETS CRITICAL {b}\n", MISTYPED % ("OUTLETS", "OUTLET")),
    ("solute-box", "SURFACE\nMANNING 0.03\n", "runs without transport (ITRANS = 0)"),
]

# The root-uptake section, the same way.
FEDDES = "FEDDES -0.1 -0.25 -4 -80\n"
ROOTS = [
    ("catchment", "roots 0.7\nROOTDEPTH 0.5\nROOTSHAPE linear\n" + FEDDES, None),
    ("catchment three materials", "ROOTS 0.7 0.5\nROOTDEPTH 0.5\n" + FEDDES,
     "ROOTS gives 2 values, the surface triangles have material codes up to 3"),
    ("catchment", "ROOTS 0.7\n" + FEDDES, "has no ROOTDEPTH line"),
    ("catchment", "ROOTS 0.7\nROOTDEPTH 0.5\n", "has no FEDDES line"),
    ("catchment", "ROOTS 0.7\nROOTDEPTH 0.5\nFEDDES -0.1 -0.25 -80 -4\n", "are not in the order h1 > h2 >= h3 > h4"),
    ("catchment", "ROOTDEPTH 0.5\n" + FEDDES, "belong to a root-uptake section"),
    ("catchment", "ROOTS 1.5\nROOTDEPTH 0.5\n" + FEDDES, "a share of transpiration of 1.5 is above 1"),
    ("catchment", "ROOTS 0.7\nROOTDEPTH 0.5\nROOTSHAPE CONE\n" + FEDDES, "neither UNIFORM nor LINEAR"),
    ("catchment", "ROOTS 0.7\nROOTDETH 0.5\n" + FEDDES, MISTYPED % ("ROOTDETH", "ROOTDEPTH")),
    ("solute-box", "ROOTS 0.7\nROOTDEPTH 0.5\n" + FEDDES, "root water uptake runs without transport"),
]


def _surface(d, text):
    b = d.boundary_nodes()
    inside = np.setdiff1d(np.arange(1, d.NNOD + 1), b)
    return text.format(b=b[0], c=b[1], i=inside[0] if inside.size else 1, n=d.NNOD + 1, n_1=d.NNOD)


def _whole(d):
    """Mutations of a whole field: lists, layers, faces."""
    g, sf = d.grid, d.sfbc.SFNOD
    z = np.asarray(g.ZRATIO)
    out = [
        ("ZRATIO first layer 0", lambda d: setattr(d.grid, "ZRATIO", np.r_[0.0, z[1] + z[0], z[2:]])),
        ("ZRATIO first layer negative", lambda d: setattr(d.grid, "ZRATIO", np.r_[-z[0], z[1] + 2 * z[0], z[2:]])),
        ("TIMPRT none", lambda d: setattr(d.parm, "TIMPRT", [])),
        ("TIMPRT repeated", lambda d: setattr(d.parm, "TIMPRT", np.r_[d.parm.TIMPRT, d.parm.TIMPRT[-1:]])),
        ("NODVP none", lambda d: setattr(d.parm, "NODVP", [])),
        ("IPOUT none", lambda d: setattr(d.parm, "IPOUT", [])),
        ("IPOUT every node", lambda d: setattr(d.parm, "IPOUT", np.arange(1, d.N + 1))),
        ("SFNOD more faces than NNOD", lambda d: setattr(d.sfbc, "SFNOD", [[1]] * (d.NNOD + 1))),
        ("SFNOD a face of N + 1 nodes", lambda d: setattr(d.sfbc, "SFNOD", [[1] * (d.N + 1)])),
    ]
    if g.ISP == 1:  # a flat surface, and bottom elevations
        def bottom(d, node1=5.0):
            d.grid.ISP, d.grid.ZBOTTOM = 2, np.r_[d.grid.Z[0] - node1, d.grid.Z[1:] - 5.0]
        out += [("ISP 0", lambda d: setattr(d.grid, "ISP", 0)), ("ISP 2", bottom),
                ("ISP 2, node 1 of no thickness", lambda d: bottom(d, 0.0))]
    if sf:
        out += [("SFNOD face reversed", lambda d: setattr(d.sfbc, "SFNOD", [f[::-1] for f in sf])),
                ("SFNOD node 0", lambda d: setattr(d.sfbc, "SFNOD", [np.r_[0, f[1:]] for f in sf])),
                ("SFNOD node N + 1", lambda d: setattr(d.sfbc, "SFNOD", [np.r_[f[:-1], d.N + 1] for f in sf])),
                ("SFNOD face empty", lambda d: setattr(d.sfbc, "SFNOD", [f[:0] for f in sf]))]
    if d.flowic.INDP in (0, 1):
        out += [("INDP 2", lambda d: setattr(d.flowic, "INDP", 2)),
                ("INDP %d" % (1 - d.flowic.INDP), lambda d: setattr(d.flowic, "INDP", 1 - d.flowic.INDP))]
    if d.parm.ITRANS:
        out.append(("INDC 1", lambda d: setattr(d.transic, "INDC", 1)))
    if d.soil.IVGHU == 1:  # storage against the largest capacity of the extended curve
        out += [("STORAGE of the last soil %g" % v, lambda d, v=v: _set(d.soil, "STORAGE", (-1, -1), v))
                for v in (1.0, 0.2)]
    return out


def _bases():
    decks = {name: nepora.Deck.read(os.path.join(SRC, "examples", name)) for name in ALL_EXAMPLES}
    # Newton with the fixed slopes of KSLOPE = 4 and constant relaxation: the checks of those.
    newton = decks["column-rain"].copy()
    newton.parm.IFLOW, newton.parm.KSLOPE, newton.parm.IRELAX = 2, 4, 1
    decks["column-rain Newton"] = newton
    # The other curve models.
    for name, ivghu in (("catchment", 1), ("hillslope", 2), ("dam", 4)):
        decks["%s IVGHU %d" % (name, ivghu)] = d = decks[name].copy()
        d.soil.IVGHU = ivghu
    return decks


def mutations(seed=3):
    """(base name, what, function changing a copy of the deck[, the program's words]): every
    value of the tables above once, each on an example drawn among those that have the field
    (the transport fields on the coupled one), each whole-field change on two examples, and the
    lines after the last records."""
    decks = _bases()
    names = sorted(decks)
    rng = random.Random(seed)
    out = []
    table = [(s, f, None, v) for (s, f), v in SCALARS.items()] + \
            [(s, f, i, v) for (s, f, i), v in ENTRIES.items()]
    for sec, field, idx, vals in table:
        def has(d, sec=sec, field=field):
            s = getattr(d, sec)
            return s._raw is None and np.size(getattr(s, field)) > 0 and (
                sec not in ("transic", "solute", "transbc") or d.parm.ITRANS != 0) and (
                d.soil.IVGHU in MODEL.get(field, (d.soil.IVGHU,)))
        given = {n: vals(decks[n]) if callable(vals) else vals for n in names if has(decks[n])}
        for k in range(max(map(len, given.values()), default=0)):
            def f(d, sec=sec, field=field, idx=idx, vals=vals, k=k):
                v = (vals(d) if callable(vals) else vals)[k]
                if idx is None:
                    setattr(getattr(d, sec), field, v)
                else:
                    _set(getattr(d, sec), field, idx, v)
            base = rng.choice([n for n in given if k < len(given[n])])
            out.append((base, "%s.%s%s = %r" % (sec, field, "" if idx is None else "[%s]" % (idx,),
                                                given[base][k]), f))
    whole = {}
    for n in names:
        for what, f in _whole(decks[n]):
            whole.setdefault(what, []).append((n, what, f))
    for same in whole.values():
        out += rng.sample(same, min(2, len(same)))
    for sec, text, said in KEYWORDS:
        def f(d, sec=sec, text=text):
            getattr(d, sec)._tail += text
        out.append(("dam", "%s ends %r" % (sec, text), f, said))
    # Three material codes, the soil of the second for the third.
    three = decks["catchment three materials"] = decks["catchment"].copy()
    three.grid.NZONE = 3
    three.grid.TRIANG[-1, 3] = 3
    three._resize_tables()
    for base, text, said in SURFACE:
        def f(d, text=text):
            d.parm._tail += _surface(d, text)
        out.append((base, "parm ends %r" % text, f, said and _surface(decks[base], said)))
    for base, text, said in ROOTS:
        def f(d, text=text):
            d.parm._tail += text
        out.append((base, "parm ends %r" % text, f, said))

    def api(d):  # what the helpers write
        d.set_surface("KINEMATIC", manning=[0.03, 0.1], depression=0.001)
        d.add_outlet("NORMAL", d.boundary_nodes(x=(None, d.grid.X.min() + 50.0)))
        d.add_outlet("LEVEL", d.boundary_nodes(x=(d.grid.X.max() - 50.0, None)), level=0.2)
    out.append(("catchment", "set_surface and add_outlet", api, None))
    out.append(("catchment three materials", "set_roots",
                lambda d: d.set_roots([0.6, 0.8, 0.0], 0.4, [-0.1, -0.25, -4.0, -80.0], ["LINEAR", "UNIFORM", "UNIFORM"]), None))
    return decks, out


def program_stops(program, path, listing):
    """True when the program stops on the deck's input, False when it gets through; with what it
    said on standard error. A listing of an earlier run is put in place first: the program
    replaces it once the input has been read and checked, and keeps it when it stops before (a
    run that gets there is ended at once)."""
    with open(listing, "w") as f:
        f.write("earlier run\n")
    earlier = os.stat(listing).st_ino
    replaced = lambda: os.stat(listing).st_ino != earlier  # noqa: E731
    with open(os.path.join(path, "stderr"), "w+") as err:
        p = subprocess.Popen([program, path, "--no-extra-output", "--progress-every", "0"],
                             cwd=path, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=err)
        while p.poll() is None:
            if replaced():
                p.kill()
                p.wait()
                return False, ""
            time.sleep(0.002)
        err.seek(0)
        said = err.read()
    if p.returncode not in (0, 1):
        return None, "exit status %d: %s" % (p.returncode, said)
    return p.returncode == 1 and not replaced(), said


def check_one(program, decks, case, root):
    base, what, f = case[:3]
    deck = decks[base].copy()
    f(deck)
    try:
        errors = [str(p) for p in deck.validate() if p.level == "error"]
    except Exception as e:  # noqa: BLE001 - a failure of validate() is a disagreement too
        errors = ["validate() raised %r" % e]
    path = tempfile.mkdtemp(dir=root)
    deck.write(path)
    stops, said = program_stops(program, path, os.path.join(path, deck.fnames[13]))
    if case[3:] and case[3] is not None:
        # The words of the program, and those of validate(), are those meant.
        for text in ("validate " + " ".join(errors), "program " + said):
            if case[3] not in text:
                stops = None
                said += "; expected %r in what the %s says" % (case[3], text.split()[0])
    return base, what, errors, stops, said


def test_validate_reports_an_error_exactly_when_the_program_stops(program, tmp_path):
    decks, cases = mutations()
    with ThreadPoolExecutor(2) as pool:
        results = list(pool.map(lambda c: check_one(program, decks, c, str(tmp_path)), cases))
    wrong = ["%s, %s: validate %s; program %s" % (
        base, what, errors or "nothing", said.strip() or ("stopped" if stops else "ran"))
        for base, what, errors, stops, said in results if stops is None or bool(errors) != stops]
    assert len(cases) > 200 and any(r[3] for r in results) and not all(r[3] for r in results)
    assert not wrong, "%d of %d disagree:\n%s" % (len(wrong), len(cases), "\n".join(wrong))
