"""kelvara.read_mesh: node coordinates and elevations, cells in file order."""
import numpy as np
import pytest

import kelvara
from conftest import EXAMPLE

SMALL = """MESH2D
MESHNAME "small"
E3T 1 1 2 3 1
E4Q 2 2 4 5 3 1
ND 1 0.0 0.0 10.5
ND 2 1024.0 0.0 11.0
ND 3 0.0 2.0 -3.25
ND 4 1024.0,2.0,12.0
ND 5 512.0 4.0 13.0
NS 1 2 -3
"""


def test_small_mesh(tmp_path):
    path = tmp_path / "small.2dm"
    path.write_text(SMALL)
    nodes, cells = kelvara.read_mesh(path)
    assert nodes.dtype == np.float64 and nodes.shape == (5, 3)
    assert cells.dtype == np.int32 and cells.shape == (2, 4)
    assert nodes.tolist() == [[0, 0, 10.5], [1024, 0, 11], [0, 2, -3.25], [1024, 2, 12],
                              [512, 4, 13]]
    assert cells.tolist() == [[1, 2, 3, 0], [2, 4, 5, 3]]


def test_bundled_mesh_as_its_lines_say():
    nodes, cells = kelvara.read_mesh(str(EXAMPLE / "flood.2dm"))
    expected_nodes, expected_cells = {}, {}
    for line in (EXAMPLE / "flood.2dm").read_text().splitlines():
        words = line.split()
        if words and words[0] == "ND":
            expected_nodes[int(words[1])] = [float(w) for w in words[2:5]]
        elif words and words[0] in ("E3T", "E4Q"):
            corners = [int(w) for w in words[2:6 if words[0] == "E4Q" else 5]]
            expected_cells[int(words[1])] = corners + [0] * (4 - len(corners))
    assert nodes.shape == (300, 3) and cells.shape == (504, 4)
    want = np.array([expected_nodes[i + 1] for i in range(len(expected_nodes))])
    assert np.allclose(nodes, want, rtol=1e-6, atol=1e-6)
    assert cells.tolist() == [expected_cells[i + 1] for i in range(len(expected_cells))]


def test_a_node_without_a_line(tmp_path):
    path = tmp_path / "gap.2dm"
    path.write_text("MESH2D\nND 1 0 0 1\nND 3 1 0 2\nE3T 1 1 3 1 1\n")
    with pytest.warns(UserWarning, match="WARNING - "):
        nodes, cells = kelvara.read_mesh(path)
    assert nodes.shape == (3, 3) and np.isnan(nodes[1]).all()
    assert nodes[2].tolist() == [1, 0, 2] and cells.tolist() == [[1, 3, 1, 0]]
