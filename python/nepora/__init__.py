"""nepora: build, check, run and read nepora3d decks from Python.

    import nepora
    deck = nepora.Deck.read("examples/dam")
    deck.parm.TMAX = 20.0
    deck.check()                          # every problem, with its record and valid range
    res = nepora.run(deck, "dam-20")      # writes the deck there, runs it, shows progress
    res.dataset                           # xarray: pressure head etc. by (time, node)
    res.budget                            # pandas: the water budget of every step
"""
from .sections import DeckError
from .freeform import ReadError
from .deck import Deck
from .validate import Problem
from .runner import run, RunError, find_program
from .results import Results

__all__ = ["Deck", "DeckError", "ReadError", "Problem", "run", "RunError", "find_program",
           "Results"]
__version__ = "1.1.0"
