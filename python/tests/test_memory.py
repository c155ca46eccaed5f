"""A dataset of a few hundred MB is read with the memory of a few steps."""
import resource

import numpy as np
import pytest

import kelvara
from datfiles import header_bytes, step_bytes

NODES, CELLS, STEPS = 250_000, 500_000, 200  # 1.5 MB a step, 300 MB in all


@pytest.fixture
def tmp_path(tmp_path):
    """The test's folder, emptied afterwards: pytest keeps the folders of earlier runs."""
    yield tmp_path
    for path in tmp_path.iterdir():
        path.unlink()


def peak_bytes():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def test_large_dataset_reads_in_constant_memory(tmp_path):
    path = tmp_path / "large_d.dat"
    values = np.zeros(NODES, np.float32)
    flags = np.ones(CELLS, np.uint8)
    with open(path, "wb") as f:
        f.write(header_bytes(NODES, CELLS, False, "large"))
        for i in range(STEPS):
            values[:: 1000] = i
            f.write(step_bytes(float(i), flags if i % 3 else None, values))
        f.write((210).to_bytes(4, "little"))
    step = CELLS + 4 * NODES
    with kelvara.open(path) as ds:
        first = next(ds)  # the reader's own tables are in place from here on
        del first
        before = peak_bytes()
        count, total = 1, 0.0
        for time, got_flags, got in ds:
            assert got[1000] == time and (got_flags is None) == (count % 3 == 0)
            total += float(got[0])
            count += 1
    grown = peak_bytes() - before
    assert count == STEPS and total == sum(range(1, STEPS))
    assert grown <= 3 * step, f"peak memory grew by {grown} bytes, a step is {step}"


def test_large_dataset_writes_in_constant_memory(tmp_path):
    path = tmp_path / "written_d.dat"
    values = np.zeros(NODES, np.float32)
    flags = np.ones(CELLS, np.uint8)
    step = CELLS + 4 * NODES

    def steps():
        for i in range(STEPS // 2):
            values[:: 1000] = i
            yield float(i), flags, values

    kelvara.write(path, NODES, CELLS, False, "small", [(0.0, flags, values)])  # warms the writer
    before = peak_bytes()
    assert kelvara.write(path, NODES, CELLS, False, "written", steps()) == STEPS // 2
    grown = peak_bytes() - before
    assert path.stat().st_size == 92 + STEPS // 2 * (9 + step) + 4
    assert grown <= 3 * step, f"peak memory grew by {grown} bytes, a step is {step}"
