"""Decks read and written: byte-identical round trips, records written anew that run the same,
the free-form rules, validation and the node-selection helpers."""
import filecmp
import os
import shutil
import subprocess

import numpy as np
import pytest

import nepora
from nepora import sections as S
from conftest import ALL_EXAMPLES, example

RESULT_FILES = ["hgatm.out", "hgnatm.out", "mbal.out", "heads.out", "csv/budget.csv"]


@pytest.mark.parametrize("name", ALL_EXAMPLES)
def test_round_trip_is_byte_identical_and_rewritten_records_run_the_same(name, tmp_path, program):
    src = example(name, tmp_path)
    deck = nepora.Deck.read(src)
    same = tmp_path / "same"
    deck.write(same)
    written = os.listdir(same)
    assert len(written) == 13  # nepora3d.fnames and the twelve input files
    for f in written:
        assert filecmp.cmp(src / f, same / f, shallow=False), f
    if name == "catchment":
        return  # written by the package itself: the runs below would show nothing new
    # Every record written anew from its values (no text kept): other bytes, the same run.
    for name_ in ("parm", "grid", "nansfbc", "atmbc", "sfbc", "soil", "flowic", "dirts",
                  "transic", "solute", "transbc"):
        sec = getattr(deck, name_)
        if sec._raw is None:
            sec._source = {}
            sec._tail = ""
    new = tmp_path / "new"
    deck.write(new)
    assert open(new / "grid").read() != open(src / "grid").read()
    for d in (src, new):
        r = subprocess.run([program], cwd=d, stdin=subprocess.DEVNULL, capture_output=True)
        assert r.returncode == 0, r.stderr
    for f in RESULT_FILES:
        if os.path.exists(src / f):
            assert filecmp.cmp(src / f, new / f, shallow=False), f


def test_changed_values_keep_the_rest_of_their_record(tmp_path):
    deck = nepora.Deck.read(example("dam", tmp_path))
    deck.parm.TMAX = 20.0
    deck.parm.TIMPRT = [5.0, 10.0]
    deck.write(tmp_path / "out")
    old = open(tmp_path / "dam" / "parm").read().splitlines()
    new = open(tmp_path / "out" / "parm").read().splitlines()
    changed = [(a, b) for a, b in zip(old, new) if a != b]
    assert changed == [
        ("0.0 0.05 1.0e-4 2.0 200.0  TIMEP DELTAT DTMIN DTMAX TMAX",
         "0.0 0.05 1.0e-4 2.0 20.0   TIMEP DELTAT DTMIN DTMAX TMAX"),
        ("1 0 3 50.0 100.0 200.0     IPRT ISEC NPRT TIMPRT",
         "1 0 2 5.0 10.0             IPRT ISEC NPRT TIMPRT")]


def test_free_form_rules():
    text = ("3*1.5, 2.0D-1\n"              # repeats, commas, a D exponent
            "\n  7 1.5-3   label\n"          # a blank line; 1.5-3 is 1.5e-3; a label skipped
            "4 , , 6 / 9 9 9\n"              # a null value keeps, a slash ends the record
            ".true. F\n")
    io = S._IO(True, text, "test file", "t")
    with io.rec(1) as r:
        a = r.values("A", float, None, 6)
    with io.rec(2) as r:
        b = r.values("B", int, np.array([0, 5, 0, 8]), 4)
    with io.rec(3) as r:
        c = [r.value("L", bool, None), r.value("M", bool, None)]
    assert list(a) == [1.5, 1.5, 1.5, 0.2, 7.0, 1.5e-3]
    assert list(b) == [4, 5, 6, 8]
    assert c == [True, False]
    bad = S._IO(True, "1 2.5\n", "grid file", "grid")
    with pytest.raises(nepora.ReadError, match="grid file 'grid' line 1: expected an integer, "
                                               "found '2.5'"):
        with bad.rec(1) as r:
            r.values("V", int, None, 2)


def test_validate_names_record_value_and_range(tmp_path, program):
    d = example("column-rain", tmp_path)
    deck = nepora.Deck.read(d)
    assert deck.validate() == []
    deck.parm.IFLOW = 3
    deck.parm.DTMIN = -1.0
    deck.soil.VGN = 0.8
    deck.grid.TRIANG = np.array([[1, 2, 9, 1], [1, 3, 4, 1]])
    text = [str(p) for p in deck.validate()]
    assert "parameter file 'parm' record 2 IFLOW = 3: must be 1 (Picard) or 2 (Newton)" in text
    assert "parameter file 'parm' record 14 DTMIN = -1.0: must be positive" in text
    assert "soil file 'soil' record 3 VGN = 0.8: must be greater than 1" in text
    assert any(t.startswith("grid file 'grid' record 6 TRIANG") and "1 to NNOD = 4" in t
               for t in text), text
    with pytest.raises(nepora.DeckError, match="IFLOW = 3"):
        nepora.run(deck, tmp_path / "bad", program=program)
    # The program refuses the value too.
    deck = nepora.Deck.read(d)
    deck.parm.IFLOW = 3
    deck.write(d)
    with pytest.raises(nepora.RunError) as e:
        nepora.run(d, program=program, validate=False, progress=False)
    assert e.value.status == 1 and "BAD VALUE FOR IFLOW" in e.value.message
    # Under mpiexec, more processes than cores: every process says it, the message has it once.
    if shutil.which("mpiexec"):
        with pytest.raises(nepora.RunError) as e:
            nepora.run(d, program=program, validate=False, progress=False,
                       processes=nepora.runner.cores() + 1)
        assert e.value.status == 1
        assert e.value.message.count("IFLOW = 3 is neither 1 (Picard) nor 2 (Newton)") == 1
    with pytest.raises(AttributeError, match="did you mean TMAX"):
        deck.parm.TMAXX = 1.0
    with pytest.raises(AttributeError, match="length of TIMPRT"):
        deck.parm.NPRT = 2
    with pytest.raises(TypeError):
        deck.parm.ITMX = 2.5


def test_selections_rebuild_the_hand_written_dam(tmp_path):
    hand = nepora.Deck.read(example("dam", tmp_path))
    deck = hand.copy()
    deck.sfbc.SFNOD = []
    deck.add_seepage_faces(deck.nodes(face="xmax"))
    assert [list(f) for f in deck.sfbc.SFNOD] == [list(f) for f in hand.sfbc.SFNOD]
    # Upstream verticals (x = 0): the replicated nodes 1 and 22 and every node below them.
    up = deck.nodes(x=0)
    assert len(up) == 2 * (deck.NSTR + 1) and set(up[:2]) == set(hand.nansfbc.DIR2D)
    assert list(deck.nodes(x=(19.5, None), level=0)) == [21, 42]
    box = deck.nodes(box=((0, 1), None, (9.5, 10)))
    assert list(box) == [1, 2, 22, 23]


def test_units_record_written_and_read_back(tmp_path, program):
    d = example("hillslope", tmp_path)
    deck = nepora.Deck.read(d)
    assert deck.parm.UNITS is None
    deck.parm.UNITS = "m h"
    deck.write(d)
    assert open(d / "parm").read().splitlines()[-1] == "UNITS m h"
    back = nepora.Deck.read(d)
    assert back.parm.UNITS == "m h"
    back.parm.UNITS = "m parsec"
    assert any("UNITS" in str(p) and "unit of length" in str(p) for p in back.validate())
    res = nepora.run(d, program=program, progress=False)
    assert "time_h" in res.budget.columns
    ds = res.dataset
    assert ds["pressure_head"].attrs["units"] == "m"
    assert ds["darcy_velocity"].attrs["units"] == "m/h"
    assert (ds.attrs["length_unit"], ds.attrs["time_unit"]) == ("m", "h")


def test_curves_section_as_fields_byte_for_byte_and_checked_as_the_program_checks(tmp_path, program):
    d = example("column-rain", tmp_path)
    sand = "".join("3.0 0.05 -0.3   VGN VGRMC VGPSAT (layer %d)\n" % k for k in range(1, 11))
    loam = "".join("1.4 0.12 -1.5   (layer %d)\n" % k for k in range(11, 20))
    text = open(d / "soil").read() + "\n  curves Layer   sand over loam\n" + sand + loam + \
        "1.4, 0.12,\n -1.5\n" + "notes after the section\n"
    open(d / "soil", "w").write(text)
    deck = nepora.Deck.read(d)
    c = deck.soil.CURVES
    assert c.BY == "LAYER" and c.VGN.shape == (20, 1)
    assert list(c.VGN[:, 0]) == [3.0] * 10 + [1.4] * 10
    assert list(c.VGRMC[:, 0]) == [0.05] * 10 + [0.12] * 10
    assert list(c.VGPSAT[:, 0]) == [-0.3] * 10 + [-1.5] * 10
    deck.write(tmp_path / "same")
    assert open(tmp_path / "same" / "soil").read() == text
    assert deck.validate() == []
    # One soil changed: its record alone is written anew; the program refuses the value too.
    c.VGRMC[11, 0] = 0.45
    assert [str(p) for p in deck.validate()] == [
        "soil file 'soil' record CURVES VGRMC = 0.45: material 1, layer 12: the residual "
        "moisture content must be 0 or more and below the porosity 0.4 of layer 12"]
    deck.write(d)
    assert open(d / "soil").read() == text.replace("1.4 0.12 -1.5   (layer 12)",
                                                   "1.4 0.45 -1.5   (layer 12)")
    with pytest.raises(nepora.RunError) as e:
        nepora.run(d, program=program, validate=False, progress=False)
    assert e.value.status == 1
    assert ("soil file 'soil' line 41: material 1, layer 12: VGRMC = 0.45, the residual "
            "moisture content must be 0 or more and below the porosity 0.4 of layer 12") in e.value.message


def test_notes_after_the_last_records_kept_and_mistyped_keywords_named_at_their_line(tmp_path):
    d = example("column-rain", tmp_path)
    open(d / "soil", "a").write("CURVES MATERIAL  sand\n3.0 0.05 -0.3\na note\n")
    open(d / "parm", "a").write("a note\nUNITZ m h\n")
    deck = nepora.Deck.read(d)
    assert deck.soil.CURVES.BY == "MATERIAL" and deck.soil.CURVES.VGN[0, 0] == 3.0
    # Record 19 dropped and the curve made one per layer: the lines move, the notes stay.
    deck.parm.IPOUT = []
    deck.set_curve(layers=1, VGN=2.5)
    deck.write(tmp_path / "new")
    parm = open(tmp_path / "new" / "parm").read().splitlines()
    soil = open(tmp_path / "new" / "soil").read().splitlines()
    assert soil[-1] == "a note" and any(l.startswith("CURVES LAYER") for l in soil)
    assert [str(p) for p in deck.validate()] == [
        "parameter file 'parm' line %d: 'UNITZ' is not a keyword: did you mean UNITS?"
        % (parm.index("UNITZ m h") + 1)]


def test_validate_on_processes_wants_the_iteration_limits_of_the_direct_solver(tmp_path, program):
    # On several processes PETSc's -10 takes the place of a solver of one process: the direct
    # solver of a coupled deck then needs the nonsymmetric iterations' tolerance.
    deck = nepora.Deck.read(example("solute-box", tmp_path))
    deck.parm.ISOLVC, deck.parm.TLCGNS = 3, 0.0
    assert deck.validate() == []
    assert [(p.field, p.value) for p in deck.validate(processes=2)] == [("TLCGNS", 0.0)]
    if shutil.which("mpiexec"):  # the program refuses it as well
        with pytest.raises(nepora.RunError) as e:
            nepora.run(deck, tmp_path / "run", program=program, processes=2, validate=False,
                       progress=False)
        assert "TLCGNS = 0 is not positive" in e.value.message
    deck.parm.ISOLVC, deck.parm.TLCGNS = 0, 1e-10
    assert deck.validate(processes=2) == []


def test_surface_section_as_fields_byte_for_byte_and_rewritten_where_it_stood(tmp_path):
    d = example("hillslope", tmp_path)
    tail = ("a note\n  surface   kinematic\nManning 3.0e-2  0.1 \nUNITS m h\n"
            "outlet Level 0.25 11 22\nOUTLET critical 1\nnotes after\n")
    text = open(d / "parm").read() + tail
    open(d / "parm", "w").write(text)
    deck = nepora.Deck.read(d)
    sf = deck.surface
    assert (sf.ON, sf.WAVE, list(sf.MANNING), sf.DEPRESSION) == (True, "KINEMATIC", [0.03, 0.1], 0.0)
    assert [(o.kind, o.level, list(o.nodes)) for o in sf.OUTLETS] == [("LEVEL", 0.25, [11, 22]),
                                                                      ("CRITICAL", None, [1])]
    deck.write(tmp_path / "same")
    assert open(tmp_path / "same" / "parm").read() == text
    # An outlet added: the lines that did not change keep their text, the section its place.
    assert deck.add_outlet("NORMAL", deck.nodes(x=0.0, y=10.0)) == 3   # a vertical: node 12 on top
    deck.surface.DEPRESSION = 0.001
    deck.write(tmp_path / "more")
    assert open(tmp_path / "more" / "parm").read() == text.replace(tail, (
        "a note\n  surface   kinematic\nManning 3.0e-2  0.1 \nDEPRESSION 0.001\n"
        "outlet Level 0.25 11 22\nOUTLET critical 1\nOUTLET NORMAL 12\nUNITS m h\nnotes after\n"))
    with pytest.raises(nepora.DeckError, match="already nodes of outlet 1"):
        deck.add_outlet("CRITICAL", [22])
    back = nepora.Deck.read(tmp_path / "more")
    assert back.surface.key() == deck.surface.key()
    back.surface.ON = False          # off: no section, the notes stay
    back.write(tmp_path / "off")
    assert open(tmp_path / "off" / "parm").read() == text.replace(tail, "a note\nUNITS m h\nnotes after\n")


def test_roots_section_as_fields_byte_for_byte_and_rewritten_where_it_stood(tmp_path):
    d = example("hillslope", tmp_path)
    tail = "a note\n  roots  0.7 0.5\nFEDDES -0.1 -0.25 -4 -80\nrootdepth 0.5\nnotes after\n"
    text = open(d / "parm").read() + tail
    open(d / "parm", "w").write(text)
    deck = nepora.Deck.read(d)
    rt = deck.roots
    assert (rt.ON, list(rt.SHARE), list(rt.DEPTH), rt.SHAPE, list(rt.FEDDES)) == (
        True, [0.7, 0.5], [0.5], [], [-0.1, -0.25, -4.0, -80.0])
    deck.write(tmp_path / "same")
    assert open(tmp_path / "same" / "parm").read() == text
    deck.set_roots(0.6, [0.5, 1.0], [-0.1, -0.25, -4.0, -80.0], shape="linear")
    deck.write(tmp_path / "more")
    assert open(tmp_path / "more" / "parm").read() == text.replace(tail, (
        "a note\nROOTS 0.6\nROOTDEPTH 0.5 1.0\nROOTSHAPE LINEAR\nFEDDES -0.1 -0.25 -4.0 -80.0\nnotes after\n"))
    back = nepora.Deck.read(tmp_path / "more")
    assert back.roots.key() == deck.roots.key()
    back.roots.ON = False
    back.write(tmp_path / "off")
    assert open(tmp_path / "off" / "parm").read() == text.replace(tail, "a note\nnotes after\n")
