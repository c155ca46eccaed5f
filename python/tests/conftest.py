import os
import pathlib
import shutil

import pytest

REPOSITORY = pathlib.Path(__file__).resolve().parents[2]
EXAMPLE = REPOSITORY / "examples" / "flood"


@pytest.fixture
def tool():
    """The built kelvara executable (ctest passes it in KELVARA_TOOL)."""
    path = os.environ.get("KELVARA_TOOL")
    if not path or not os.path.exists(path):
        pytest.skip("KELVARA_TOOL does not name the built kelvara executable")
    return path


@pytest.fixture
def example(tmp_path):
    """A fresh copy of the bundled example flood case."""
    folder = tmp_path / "flood"
    shutil.copytree(EXAMPLE, folder)
    return folder

