import os
import shutil
import sys

import pytest

SRC = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# The package of this tree, unless the tests are to try an installed one.
if not os.environ.get("NEPORA_TEST_INSTALLED"):
    sys.path.insert(0, os.path.join(SRC, "python"))
EXAMPLES = ["column-rain", "dam", "hillslope", "solute-box"]
ALL_EXAMPLES = EXAMPLES + ["catchment"]


@pytest.fixture(scope="session")
def program():
    """The program under test: $NEPORA3D or build/nepora3d of this tree."""
    p = os.environ.get("NEPORA3D") or os.path.join(SRC, "build", "nepora3d")
    if not os.access(p, os.X_OK):
        pytest.skip("nepora3d not built (make programs)")
    return p


def example(name, tmp_path):
    """A scratch copy of an example deck."""
    d = tmp_path / name
    shutil.copytree(os.path.join(SRC, "examples", name), d,
                    ignore=shutil.ignore_patterns("run", "README.md"))
    return d


def pytest_report_header(config):
    import nepora
    if os.environ.get("NEPORA_TEST_INSTALLED") and nepora.__file__.startswith(os.path.join(SRC, "python")):
        raise pytest.UsageError("NEPORA_TEST_INSTALLED, but nepora is imported from the tree")
    return "nepora from %s" % os.path.dirname(nepora.__file__)
