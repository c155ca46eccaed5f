"""Reading and writing datasets: round trips, files of other producers, the reader's manners."""
import pathlib
import struct
import warnings

import numpy as np
import pytest

import kelvara
from datfiles import dataset_bytes, read_dataset, write_dataset

NODES, CELLS = 7, 5


def bits(array):
    return np.ascontiguousarray(array, dtype=np.float32).view(np.uint32)


def make_steps(vector, flag_pattern, count=3):
    """Steps whose values include the reals a careless reader alters: NaN, infinities, -0.0."""
    rng = np.random.default_rng(len(flag_pattern) + 10 * vector)
    steps = []
    for i in range(count):
        shape = (NODES, 2) if vector else (NODES,)
        values = rng.normal(size=shape).astype(np.float32)
        values.flat[0] = np.nan
        values.flat[1] = -0.0
        values.flat[2] = np.inf if i % 2 else -np.inf
        values.flat[3] = -99999.0
        has_flags = flag_pattern[i % len(flag_pattern)] == "f"
        flags = (rng.random(CELLS) < 0.5).astype(np.uint8) if has_flags else None
        steps.append((float(i) * 0.5, flags, values))
    return steps


def assert_steps_equal(got, expected):
    assert len(got) == len(expected)
    for (t, f, v), (et, ef, ev) in zip(got, expected):
        assert t == np.float32(et)
        if ef is None:
            assert f is None
        else:
            assert f.dtype == np.uint8 and np.array_equal(f, ef)
        assert v.dtype == np.float32 and v.shape == ev.shape
        assert np.array_equal(bits(v), bits(ev))


ROUND_TRIPS = [  # (vector, flags of the steps in turn: f = flags, - = none)
    (False, "f"),
    (True, "f"),
    (False, "-"),
    (True, "-"),
    (False, "f-"),
    (True, "-f"),
]


@pytest.mark.parametrize("vector,pattern", ROUND_TRIPS)
def test_reads_what_the_format_says(tmp_path, vector, pattern):
    steps = make_steps(vector, pattern)
    path = tmp_path / "run_d.dat"
    write_dataset(path, NODES, CELLS, vector, "run_d", steps)
    with kelvara.open(path) as ds:
        assert (ds.nodes, ds.cells, ds.vector, ds.name, ds.flag_size, ds.time_unit) == (
            NODES, CELLS, vector, "run_d", 1, "hours")
        assert_steps_equal(list(ds), steps)


@pytest.mark.parametrize("vector,pattern", ROUND_TRIPS)
def test_writes_what_the_format_says(tmp_path, vector, pattern):
    steps = make_steps(vector, pattern)
    path = tmp_path / "out.dat"
    assert kelvara.write(path, NODES, CELLS, vector, "made in python", iter(steps)) == len(steps)
    # Every written step carries flags: a step given none has every cell active.
    ones = np.ones(CELLS, np.uint8)
    expected = [(t, ones if f is None else f, v) for t, f, v in steps]
    assert path.read_bytes() == dataset_bytes(NODES, CELLS, vector, "made in python", expected)
    header, got = read_dataset(path)
    assert (header["nodes"], header["cells"], header["vector"]) == (NODES, CELLS, vector)
    assert_steps_equal(got, expected)
    with kelvara.open(str(path)) as ds:
        assert_steps_equal(list(ds), expected)


def test_write_takes_any_array_like_and_names_after_the_file(tmp_path):
    path = tmp_path / "depth_max.dat"
    steps = [(1, [1, 0, 2], [0.5, 1.5]), (2.5, np.array([True, False, False]), (3, 4))]
    kelvara.write(path, 2, 3, False, None, steps)
    header, got = read_dataset(path)
    assert header["name"] == "depth_max"
    assert [t for t, _, _ in got] == [1.0, 2.5]
    assert got[0][1].tolist() == [1, 0, 1] and got[1][1].tolist() == [1, 0, 0]
    assert got[1][2].tolist() == [3.0, 4.0]


OTHER_PRODUCERS = [  # (description, header options, flag size)
    ("4-byte flags", {}, 4),
    ("reference time", {"reference_time": 2451545.25}, 1),
    ("reference time with 4-byte flags", {"reference_time": 2451545.25}, 4),
    ("counts before the other cards", {"order": "counts-first"}, 1),
    ("cards that carry nothing", {"extra_cards": (3000, 210, 999)}, 1),
]


@pytest.mark.parametrize("what,header,flag_size", OTHER_PRODUCERS, ids=[c[0] for c in OTHER_PRODUCERS])
@pytest.mark.parametrize("vector", [False, True])
def test_reads_files_of_other_producers(tmp_path, what, header, flag_size, vector):
    steps = make_steps(vector, "f-f")
    path = tmp_path / "other.dat"
    write_dataset(path, NODES, CELLS, vector, "other", steps, flag_size=flag_size, **header)
    with kelvara.open(path) as ds:
        assert (ds.nodes, ds.cells, ds.vector, ds.flag_size) == (NODES, CELLS, vector, flag_size)
        assert_steps_equal(list(ds), steps)


@pytest.mark.parametrize("code,unit", [(1, "minutes"), (2, "seconds"), (4, "days"), (7, "unknown")])
def test_time_unit_of_card_250(tmp_path, code, unit):
    path = tmp_path / "minutes.dat"
    write_dataset(path, NODES, CELLS, False, "t", make_steps(False, "f"), time_units=code)
    with pytest.warns(UserWarning, match=f"WARNING - The times of .* are in (an )?{unit}"):
        ds = kelvara.open(path)
    with ds:
        assert ds.time_unit == unit
        assert len(list(ds)) == 3


@pytest.mark.parametrize("end", [True, False])
def test_header_only_and_missing_end_card(tmp_path, end):
    path = tmp_path / "empty.dat"
    write_dataset(path, NODES, CELLS, False, "empty", [], end=end)
    with kelvara.open(path) as ds:
        assert ds.read_step() is None
    steps = make_steps(False, "f")
    write_dataset(path, NODES, CELLS, False, "no end", steps, end=end)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        with kelvara.open(path) as ds:
            assert_steps_equal(list(ds), steps)
    # Steps without the end card after them: a run still being written, as the tool warns.
    assert [w.category for w in caught] == ([] if end else [kelvara.Warning])


def test_reads_the_bundled_example_as_the_format_says():
    example = pathlib.Path(__file__).resolve().parents[2] / "examples" / "flood"
    for name in ["base_d.dat", "base_V.dat"]:
        header, expected = read_dataset(example / name)
        with kelvara.open(example / name) as ds:
            assert (ds.nodes, ds.cells, ds.vector) == (header["nodes"], header["cells"],
                                                       header["vector"])
            assert_steps_equal(list(ds), expected)


def test_reader_manners(tmp_path):
    path = tmp_path / "run_h.dat"
    write_dataset(path, NODES, CELLS, False, "run_h", make_steps(False, "f"))
    ds = kelvara.open(path)
    assert "run_h.dat" in repr(ds) and not ds.closed
    first = next(ds)
    second = ds.read_step()
    # Earlier steps stay as they were read.
    assert first.time == 0.0 and second.time == 0.5
    assert not np.shares_memory(first.values, second.values)
    time, flags, values = next(ds)
    assert time == 1.0 and values.shape == (NODES,)
    with pytest.raises(StopIteration):
        next(ds)
    assert ds.read_step() is None
    ds.close()
    ds.close()
    assert ds.closed
    with pytest.raises(ValueError):
        ds.read_step()
    with kelvara.open(path) as again:
        pass
    assert again.closed


def test_bad_arguments_are_refused(tmp_path):
    path = tmp_path / "x.dat"
    good = [(0.0, None, np.zeros(NODES, np.float32))]
    with pytest.raises(TypeError):
        kelvara.open(42)
    with pytest.raises(ValueError):
        kelvara.write(path, NODES, CELLS, False, "x" * 41, good)
    with pytest.raises(ValueError):
        kelvara.write(path, -1, CELLS, False, "x", good)
    with pytest.raises(TypeError):
        kelvara.run("-max run_h.dat")
    assert not path.exists()
