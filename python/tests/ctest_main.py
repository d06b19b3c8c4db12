#!/usr/bin/env python3
"""The package's tests under CTest: ctest_main.py PROGRAM. A module that the tests need and
that is not installed fails it with the name of its Debian package (tools/install-deps installs
them), and so does any test that pytest skipped, with its reason."""
import importlib.util
import os
import sys

PACKAGES = {"numpy": "python3-numpy", "pandas": "python3-pandas", "xarray": "python3-xarray",
            "pytest": "python3-pytest", "scipy": "python3-scipy", "vtkmodules": "python3-vtk9",
            "gmsh": "python3-gmsh", "shapely": "python3-shapely", "skimage": "python3-skimage",
            "pyproj": "python3-pyproj", "osgeo": "python3-gdal", "matplotlib": "python3-matplotlib"}
lacking = [p for m, p in PACKAGES.items() if importlib.util.find_spec(m) is None]
if lacking:
    sys.exit("%s lacks the modules of Debian's %s (tools/install-deps test installs them)"
             % (sys.executable, " ".join(lacking)))
import pytest  # noqa: E402


class Skips:
    """The tests that pytest skipped, with their reasons."""
    def __init__(self):
        self.seen = []

    def pytest_runtest_logreport(self, report):
        if report.skipped:
            self.seen.append("%s: %s" % (report.nodeid, report.longrepr[-1]))


os.environ["NEPORA3D"] = sys.argv[1]
skips = Skips()
status = pytest.main(["-q", "-p", "no:cacheprovider", os.path.dirname(os.path.abspath(__file__))],
                     plugins=[skips])
if status == 0 and skips.seen:
    sys.exit("skipped, which fails here:\n  " + "\n  ".join(skips.seen))
sys.exit(status)
