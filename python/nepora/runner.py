"""run(): writes a deck if need be, runs the program on it, shows how far it is, and returns
its Results, or raises RunError with the program's message and exit status."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from .deck import Deck
from .sections import DeckError

STATUS = {0: "completed", 1: "stopped on an error", 2: "ended early (a step failed at the "
          "smallest step size)", 130: "interrupted (SIGINT)", 143: "interrupted (SIGTERM)"}


class RunError(RuntimeError):
    """A run that did not complete: status (the exit status), message (the program's own
    words), stdout, stderr, path (the deck directory; its files hold what was written)."""

    def __init__(self, status, message, stdout, stderr, path):
        self.status, self.message, self.stdout, self.stderr, self.path = (
            status, message, stdout, stderr, path)
        what = STATUS.get(status, "ended with status %s" % status)
        super().__init__("nepora3d %s (exit status %s) in %s:\n%s" % (what, status, path, message))


def find_program(name="nepora3d"):
    """The program: $NEPORA3D (for nepora3d), on PATH, or the build/ of the source tree that
    holds this package."""
    env = os.environ.get("NEPORA3D" if name == "nepora3d" else "NEPORA3D_ALT")
    if env:
        return env
    p = shutil.which(name)
    if p:
        return p
    here = os.path.dirname(os.path.abspath(__file__))
    for up in ("../..", "../../.."):
        cand = os.path.normpath(os.path.join(here, up, "build", name))
        if os.path.isfile(cand) and os.access(cand, os.X_OK):
            return cand
    raise FileNotFoundError("%s not found: build it (make programs), put it on PATH or set "
                            "$NEPORA3D" % name)


def _unique(lines):
    return list(dict.fromkeys(lines))


def _message(stdout, stderr):
    """What the program said about the stop: its lines on standard error, and the STOP and
    ERROR lines of standard output; under mpiexec each line once (every process may say it),
    and mpiexec's own boxed notes only when the program said nothing."""
    err, boxed, inside = [], [], False
    for l in stderr.splitlines():
        if l.startswith("-----") and not l.strip("-"):
            inside = not inside
            continue
        if l.strip():
            (boxed if inside else err).append(l)
    err = _unique(err)
    out = _unique(l.strip() for l in stdout.splitlines()
                  if any(w in l.upper() for w in ("STOP", "ERROR", "WARNING")))
    lines = out[-10:] + err[-20:]
    if not lines:
        lines = boxed[-20:]
    return "\n".join(lines) if lines else "(the program printed nothing)"


def cores():
    """The processor cores this process may use (hardware threads of one core counted once, as
    OpenMPI counts its slots)."""
    try:
        cpus = sorted(os.sched_getaffinity(0))
    except (AttributeError, OSError):
        return os.cpu_count() or 1
    try:
        core_of, cpu = {}, None
        with open("/proc/cpuinfo") as f:
            for line in f:
                key, _, value = line.partition(":")
                key = key.strip()
                if key == "processor":
                    cpu, phys = int(value), "0"
                elif key == "physical id":
                    phys = value.strip()
                elif key == "core id" and cpu is not None:
                    core_of[cpu] = (phys, value.strip())
        if all(c in core_of for c in cpus):
            return len({core_of[c] for c in cpus}) or 1
    except (OSError, ValueError):
        pass
    return len(cpus) or 1


def mpiexec_command(processes, mpiexec=None):
    """The start of the command line for `processes` MPI processes: mpiexec -n P, with
    --oversubscribe (OpenMPI) when P exceeds the cores."""
    mpiexec = mpiexec or shutil.which("mpiexec") or shutil.which("mpirun")
    if not mpiexec:
        raise FileNotFoundError("processes=%d needs mpiexec (Debian: openmpi-bin)" % processes)
    cmd = [mpiexec, "-n", str(processes)]
    if processes > cores():
        try:
            version = subprocess.run([mpiexec, "--version"], capture_output=True, text=True,
                                     timeout=30).stdout
        except (OSError, subprocess.TimeoutExpired):
            version = ""
        if "Open MPI" in version or "OpenRTE" in version:
            cmd.append("--oversubscribe")
    return cmd


class _Progress:
    """One status line from csv/budget.csv, which the program flushes after every step."""

    def __init__(self, path, tmax, t0, show):
        self.file = os.path.join(path, "csv", "budget.csv")
        self.tmax, self.t0, self.show = tmax, t0, show
        self.start = time.time()
        self.tty = hasattr(sys.stderr, "isatty") and sys.stderr.isatty()
        self.last_decile = -1
        self.pos = 0
        self.step, self.t = 0, t0
        self.shown = False
        # The table of an earlier run in the same directory is passed over until the program
        # has written it anew.
        self.stale = self._stamp()

    def _stamp(self):
        try:
            st = os.stat(self.file)
        except OSError:
            return None
        return (st.st_ino, st.st_size, st.st_mtime_ns)

    def poll(self, final=False):
        if self.stale is not None:
            if self._stamp() == self.stale:
                return
            self.stale = None
        try:
            with open(self.file, "rb") as f:
                f.seek(self.pos)
                chunk = f.read()
        except OSError:
            return
        lines = chunk.split(b"\n")
        done = b"\n".join(lines[:-1])
        self.pos += len(done) + (1 if len(lines) > 1 else 0)
        for line in done.split(b"\n")[::-1]:
            parts = line.split(b",")
            if len(parts) > 2 and parts[0].isdigit():
                self.step, self.t = int(parts[0]), float(parts[1])
                break
        else:
            if not final:
                return
        span = self.tmax - self.t0
        frac = min(max((self.t - self.t0) / span, 0.0), 1.0) if span > 0 else 1.0
        wall = time.time() - self.start
        left = wall * (1 - frac) / frac if frac > 0.01 else None
        info = dict(time=self.t, tmax=self.tmax, fraction=frac, step=self.step, wall=wall,
                    left=left)
        if callable(self.show):
            self.show(info)
            return
        text = "nepora3d: t = %.6g / %.6g (%3.0f %%), step %d, %.1f s%s" % (
            self.t, self.tmax, 100 * frac, self.step, wall,
            ", about %.0f s left" % left if left is not None and frac < 1 else "")
        if self.tty:
            sys.stderr.write("\r" + text.ljust(78) + ("\n" if final else ""))
            sys.stderr.flush()
        else:
            decile = int(10 * frac + 1e-9)
            if decile > self.last_decile or final:
                if not (final and decile == self.last_decile):
                    sys.stderr.write(text + "\n")
                self.last_decile = decile


def run(deck_or_dir, directory=None, threads=None, processes=None, program=None,
        progress=True, extra_output=True, validate=True, check=True, pseudo_transient=False):
    """Runs nepora3d on a Deck or a deck directory and returns its Results.

    deck_or_dir  a Deck (written to directory, or where it was read from; a new deck without
                 either goes to a new temporary directory) or the path of a deck directory
    threads      OpenMP threads (OMP_NUM_THREADS); default: the program's (one per core)
    processes    MPI processes: the program is started by mpiexec -n PROCESSES (with
                 --oversubscribe under OpenMPI when they exceed the cores); None: started
                 directly, one process
    program      the program (default: find_program()); 'nepora3d_alt' for the second build
    progress     True: a status line on standard error (simulated time / TMAX, percent, step,
                 wall time, time left; a line every 10 % when standard error is no terminal);
                 False: quiet; a function: called with a dict after every poll
    extra_output False: --no-extra-output (no vtk/ and csv/; returns None instead of Results)
    validate     check the deck first (Deck.validate) and refuse it with its problems
    check        raise RunError when the run does not complete (exit status not 0)
    pseudo_transient  a steady-state deck goes to its steady state by pseudo-time steps from
                 the first (--pseudo-transient; docs/spinup.md)

    A Deck given Deck.initial_from(results) starts from the final heads of that run
    (--initial-from).
    """
    from .results import Results
    if isinstance(deck_or_dir, Deck):
        deck = deck_or_dir
        path = directory or deck.path or tempfile.mkdtemp(prefix="nepora-")
    else:
        path = os.fspath(deck_or_dir)
        if not os.path.exists(os.path.join(path, "nepora3d.fnames")):
            raise DeckError("%s: no nepora3d.fnames, not a deck directory" % path)
        deck = Deck.read(path) if validate or progress or directory is not None else None
        if directory is not None:
            deck.write(directory)
            path = directory
    if validate:
        problems = [p for p in deck.validate(processes) if p.level == "error"]
        if problems:
            raise DeckError("the deck has %d problem%s:\n  %s" % (
                len(problems), "s" if len(problems) > 1 else "",
                "\n  ".join(str(p) for p in problems)))
    if isinstance(deck_or_dir, Deck):
        deck.write(path)
    path = os.path.abspath(path)
    prog = program if program and os.sep in program else find_program(program or "nepora3d")
    # The status line is ours (from csv/budget.csv); the program's own would only be captured.
    cmd = [prog, path, "--progress-every", "0"] + ([] if extra_output else ["--no-extra-output"])
    start = getattr(deck, "_initial_from", None) if deck is not None else None
    if start:
        cmd += ["--initial-from", start]
    if pseudo_transient:
        cmd.append("--pseudo-transient")
    env = dict(os.environ)
    if threads is not None:
        env["OMP_NUM_THREADS"] = str(int(threads))
    if processes is not None:
        if isinstance(processes, bool) or int(processes) != processes or processes < 1:
            raise ValueError("processes must be a whole number of at least 1, not %r" % (processes,))
        cmd = mpiexec_command(int(processes)) + cmd
        if os.geteuid() == 0:
            env.setdefault("OMPI_ALLOW_RUN_AS_ROOT", "1")
            env.setdefault("OMPI_ALLOW_RUN_AS_ROOT_CONFIRM", "1")
    prog_state = None
    if progress and extra_output and deck is not None and deck.parm._raw is None:
        prog_state = _Progress(path, deck.parm.TMAX, deck.parm.TIMEP, progress)
    proc = subprocess.Popen(cmd, cwd=path, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            errors="replace")
    out, err = [], []
    try:
        while True:
            try:
                o, e = proc.communicate(timeout=0.5)
                out.append(o)
                err.append(e)
                break
            except subprocess.TimeoutExpired:
                if prog_state:
                    prog_state.poll()
    except KeyboardInterrupt:
        # The program ends at the end of its current step, its files complete.
        proc.send_signal(signal.SIGINT)
        o, e = proc.communicate()
        raise
    if prog_state:
        prog_state.poll(final=True)
    stdout, stderr = "".join(out), "".join(err)
    status = proc.returncode
    if status != 0 and check:
        raise RunError(status, _message(stdout, stderr), stdout, stderr, path)
    if not extra_output:
        return None
    res = Results(path)
    res.status, res.stdout, res.stderr = status, stdout, stderr
    # The program's warnings (a budget that does not close, values left unread...) are shown.
    res.warnings = [l for l in stderr.splitlines() if "warning" in l.lower()]
    if progress and res.warnings:
        sys.stderr.write("\n".join(res.warnings) + "\n")
    return res
