"""The tool's warnings as kelvara.Warning, each pointing at the line of the caller's code."""
import inspect
import warnings

import numpy as np
import pytest

import kelvara
from datfiles import write_dataset

NODES, CELLS = 3, 1
STEPS = [(float(t), np.ones(CELLS, np.uint8), np.full(NODES, t, np.float32)) for t in range(2)]
NO_END = "WARNING - {} has no end card (210) after its last time step; it may still be being written."
MINUTES = "WARNING - The times of {} are in minutes, not hours; durations are in minutes too."
NO_ELEVATION = ("WARNING - Did not read an elevation for all nodes from .2dm file: 1 of 3 nodes "
                "have none.")


def files(folder):
    write_dataset(folder / "cut_d.dat", NODES, CELLS, False, "cut", STEPS, end=False)
    write_dataset(folder / "minutes_d.dat", NODES, CELLS, False, "minutes", STEPS, time_units=1)
    write_dataset(folder / "run_d.dat", NODES, CELLS, False, "run", STEPS)
    write_dataset(folder / "later_d.dat", NODES, CELLS, False, "later",
                  [(0.0, None, STEPS[0][2]), (0.5, None, STEPS[1][2])])
    (folder / "gap.2dm").write_text("MESH2D\nND 1 0 0 1\nND 3 1 0 2\nE3T 1 1 3 1 1\n")


def for_loop():
    with kelvara.open("cut_d.dat") as ds:
        for _ in ds:
            pass


def list_of():
    with kelvara.open("cut_d.dat") as ds:
        list(ds)


def read_step():
    ds = kelvara.Dataset("cut_d.dat")
    while ds.read_step() is not None:
        pass
    ds.close()


def next_of():
    with kelvara.open("cut_d.dat") as ds:
        next(ds), next(ds)
        assert next(ds, None) is None


def open_of():
    kelvara.open("minutes_d.dat").close()


def dataset_of():
    kelvara.Dataset("minutes_d.dat").close()


def read_mesh():
    kelvara.read_mesh("gap.2dm")


def run_of_a_cut_file():
    kelvara.run(["-max", "cut_d.dat"])


def run_removing_nothing():
    kelvara.run(["-r7", "run_d.dat"])


def run_of_unpaired_times():
    kelvara.run(["-dif", "-nowetdry", "run_d.dat", "later_d.dat"])


CALLS = [  # (the call, its warnings)
    (for_loop, [NO_END.format("cut_d.dat")]),
    (list_of, [NO_END.format("cut_d.dat")]),
    (read_step, [NO_END.format("cut_d.dat")]),
    (next_of, [NO_END.format("cut_d.dat")]),
    (open_of, [MINUTES.format("minutes_d.dat")]),
    (dataset_of, [MINUTES.format("minutes_d.dat")]),
    (read_mesh, [NO_ELEVATION]),
    (run_of_a_cut_file, [NO_END.format("cut_d.dat")]),
    (run_removing_nothing,
     ["WARNING - run_d.dat has no time step at 7.000: nothing was removed."]),
    (run_of_unpaired_times,  # the indented line goes on with its warning
     ["WARNING - Inconsistent times were found:     1.000     0.500\n"
      "          Trying to find next match."]),
]


@pytest.mark.parametrize("call,expected", CALLS, ids=[c[0].__name__ for c in CALLS])
def test_warnings_point_at_the_callers_line(tmp_path, monkeypatch, call, expected):
    monkeypatch.chdir(tmp_path)
    files(tmp_path)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        call()
    assert [str(w.message) for w in caught] == expected
    source, first = inspect.getsourcelines(call)
    for w in caught:
        assert w.category is kelvara.Warning and issubclass(w.category, UserWarning)
        assert w.filename == __file__ and first < w.lineno < first + len(source)


def test_a_runs_warnings_are_its_console_lines(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    files(tmp_path)
    with pytest.warns(kelvara.Warning) as caught:
        result = kelvara.run(["-con", "run_d.dat", "cut_d.dat"])
    warned = [str(w.message) for w in caught]
    assert warned == [line for line in result.lines if line.startswith("WARNING - ")]
    assert len(warned) == 1 and "cut_d.dat" in warned[0]


def test_warnings_as_errors_stop_the_call(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    files(tmp_path)
    with warnings.catch_warnings():
        warnings.simplefilter("error", kelvara.Warning)
        with pytest.raises(kelvara.Warning, match="minutes"):
            kelvara.open("minutes_d.dat")
        with pytest.raises(kelvara.Warning, match="no end card"):
            kelvara.run(["-max", "cut_d.dat"])
        with pytest.raises(kelvara.Warning, match="no end card"):
            with kelvara.open("cut_d.dat") as ds:
                list(ds)
