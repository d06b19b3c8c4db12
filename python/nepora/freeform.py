"""Free-form (list-directed) input, read as the programs read it, and written back.

A read statement ("record") starts on a new line and takes as many lines as its values need;
the rest of its last line is skipped (that is where the decks keep their labels). Separators
are blanks, tabs, a comma or the end of a line; ``r*c`` is r copies of c, ``r*`` r null values,
two commas a null value, and a slash ends the statement. Integers have no point; reals may
carry an exponent with E, D or Q or a bare sign (``1.5-3``); logicals are T or F (``.TRUE.``
and any word starting with T or F).

Every statement keeps the span of text it was read from, so that a file whose values are not
changed is written back with its own bytes.
"""
import math
import re

_INT = re.compile(r"^[+-]?[0-9]+$")
_REAL = re.compile(r"^([+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+))(?:[eEdDqQ]([+-]?[0-9]+)|([+-][0-9]+))?$")


class ReadError(ValueError):
    """A value that cannot be read; names the file, the line and what was expected."""


def parse_int(t):
    if not _INT.match(t):
        return None
    v = int(t)
    return v if -2147483648 <= v <= 2147483647 else None


def parse_real(t):
    m = _REAL.match(t)
    if not m:
        return None
    exp = m.group(2) if m.group(2) is not None else m.group(3)
    try:
        v = float(m.group(1) + ("e" + exp if exp is not None else ""))
    except ValueError:
        return None
    return None if math.isinf(v) else v


def parse_logical(t):
    k = 1 if t.startswith(".") else 0
    if k >= len(t):
        return None
    c = t[k]
    if c in "Tt":
        return True
    if c in "Ff":
        return False
    return None


_PARSE = {int: (parse_int, "an integer"), float: (parse_real, "a real number"),
          bool: (parse_logical, "a logical (T or F)")}
_BLANK = " \t\r"
_ENDS = " \t\r,/\n"


class Reader:
    """Reads the statements of one file's text, strictly forward."""

    def __init__(self, text, role, name):
        self.text, self.role, self.name = text, role, name
        self.pos, self.line = 0, 1

    def where(self, line=None):
        return "%s '%s' line %d" % (self.role, self.name, self.line if line is None else line)

    def at_end(self):
        return self.text[self.pos:].strip(" \t\r\n") == ""

    def statement(self):
        return Statement(self)

    def lines(self):
        """The lines from here to the end of the text that are not blank: (line number, words,
        start, end) with the span of the line's text, its end of line included. The reader does
        not move."""
        pos, line = self.pos, self.line
        while pos < len(self.text):
            eol = self.text.find("\n", pos)
            end = len(self.text) if eol < 0 else eol + 1
            words = self.text[pos:end].split()
            if words:
                yield line, words, pos, end
            pos, line = end, line + 1

    def skip_to(self, end, line):
        """Moves past the text up to end, the start of line `line`."""
        self.pos, self.line = end, line


class Statement:
    """One read statement: take values with get(type), then end()."""

    def __init__(self, r):
        self.r = r
        self.start = r.pos
        self.first_line = r.line
        self.repeat_left = 0
        self.repeat_null = False
        self.tok = None
        self.sep_pending = False
        self.done = False          # a slash ended it
        self.value_end = r.pos     # end of the last value's text
        self.last_line = r.line

    def _next(self, expected):
        r = self.r
        if self.done:
            return "slash"
        if self.repeat_left > 0:
            self.repeat_left -= 1
            return "null" if self.repeat_null else "value"
        text, n = r.text, len(r.text)
        while True:
            while r.pos < n and text[r.pos] in _BLANK:
                r.pos += 1
            if r.pos >= n:
                raise ReadError("%s '%s': end of file after line %d, expected %s" % (
                    r.role, r.name, r.line - (1 if text.endswith("\n") or not text else 0), expected))
            c = text[r.pos]
            if c == "\n":
                r.pos += 1
                r.line += 1
                continue
            if c == ",":
                r.pos += 1
                if self.sep_pending:
                    self.sep_pending = False
                    continue
                self.value_end, self.last_line = r.pos, r.line
                return "null"
            if c == "/":
                r.pos += 1
                self.done = True
                self.value_end, self.last_line = r.pos, r.line
                return "slash"
            break
        start = r.pos
        while r.pos < n and text[r.pos] not in _ENDS:
            r.pos += 1
        t = text[start:r.pos]
        self.value_end, self.last_line = r.pos, r.line
        self.sep_pending = True
        self.tok_line = r.line
        star = t.find("*")
        if star >= 0:
            reps = parse_int(t[:star]) if star > 0 and t[0] not in "+-" else None
            if reps is None or reps < 1:
                raise ReadError("%s: expected %s, found '%s'" % (r.where(), expected, t[:40]))
            self.tok = t[star + 1:]
            self.repeat_null = self.tok == ""
            self.repeat_left = reps - 1
            return "null" if self.repeat_null else "value"
        self.tok = t
        return "value"

    def get(self, typ, default=None):
        """The next value of the type; a null value or a slash gives default."""
        parse, expected = _PARSE[typ]
        kind = self._next(expected)
        self.last_tok = self.tok if kind == "value" else None
        if kind != "value":
            return default
        v = parse(self.tok)
        if v is None:
            raise ReadError("%s: expected %s, found '%s'" % (self.r.where(self.tok_line), expected,
                                                             self.tok[:40]))
        return v

    def end(self):
        """Skips the rest of the last line; returns the text the statement was read from and the
        label (what follows the last value on its line)."""
        r = self.r
        text = r.text
        eol = text.find("\n", r.pos)
        label_end = len(text) if eol < 0 else eol
        label = text[self.value_end:label_end]
        r.pos = len(text) if eol < 0 else eol + 1
        if eol >= 0:
            r.line += 1
        return text[self.start:r.pos], label


# ---------------------------------------------------------------------------------------------
# Writing

def fmt_value(v):
    """A value as the free-form reader reads it back to the same value."""
    if isinstance(v, (bool,)) or type(v).__name__ == "bool_":
        return "T" if v else "F"
    if isinstance(v, int) or type(v).__name__.startswith("int"):
        return str(int(v))
    f = float(v)
    if math.isnan(f) or math.isinf(f):
        return repr(f)  # refused by validate(); written so that the program names it
    s = repr(f)
    a = abs(f)
    if "e" in s or a >= 1e6 or 0 < a < 1e-3:
        # Exponent form, shortest mantissa that reads back the same: 1.0e-5, 2.5e9.
        for p in range(17):
            t = "%.*e" % (p, f)
            if float(t) == f:
                break
        m, e = t.split("e")
        if "." not in m:
            m += ".0"
        s = "%se%d" % (m, int(e))
    return s


def same(a, b):
    """Values equal as the program would read them (exact, also for floats)."""
    if a is None or b is None:
        return a is b
    if isinstance(a, bool) or isinstance(b, bool):
        return bool(a) == bool(b) and type(a) is type(b) or (a == b and isinstance(a, bool) == isinstance(b, bool))
    return a == b
