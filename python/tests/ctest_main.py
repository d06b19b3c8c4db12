#!/usr/bin/env python3
"""The package's tests under CTest: ctest_main.py PROGRAM. Exit status 77 (skipped) when
numpy, pandas, xarray or pytest is not installed."""
import os
import sys

try:
    import numpy  # noqa: F401
    import pandas  # noqa: F401
    import pytest
    import xarray  # noqa: F401
except ImportError as e:
    print("skipped: %s (Debian: python3-numpy python3-pandas python3-xarray python3-pytest)" % e)
    sys.exit(77)
os.environ["NEPORA3D"] = sys.argv[1]
sys.exit(pytest.main(["-q", "-p", "no:cacheprovider", os.path.dirname(os.path.abspath(__file__))]))
