"""kelvara.run: one command line in this process, with the tool's outcome."""
import shutil
import subprocess

import numpy as np
import pytest

import kelvara


def files_of(folder):
    return {p.name: p.read_bytes() for p in sorted(folder.iterdir())}


def test_good_failing_good_in_one_interpreter(example, monkeypatch):
    monkeypatch.chdir(example)
    before = files_of(example)
    first = kelvara.run(["-max", "base_d.dat"])
    assert first.status == 0 and "Finished." in first.lines
    assert (example / "base_d(maxmax).dat").exists()
    with pytest.raises(kelvara.Error) as caught:
        kelvara.run(["-dif", "base_d.dat", "missing_d.dat"])
    error = caught.value
    assert str(error).startswith("ERROR - ") and str(error) in error.lines and error.status == 1
    assert "missing_d.dat" in "\n".join(error.lines)
    with pytest.raises(kelvara.Error):
        kelvara.run(["-trim1", "-max", "base_d.dat"])  # two operations at once
    third = kelvara.run(["-con", example / "base_d.dat", example / "design_d.dat"])
    assert third.status == 0
    assert sorted(files_of(example)) == sorted([*before, "base_d(con).dat", "base_d(maxmax).dat"])


COMMANDS = [
    ["-max", "base_h.dat"],
    ["-max", "base_V.dat"],
    ["-con", "base_d.dat", "design_d.dat"],
    ["-dif", "base_d.dat", "design_d.dat"],
    ["-dur0.1", "base_d.dat"],
    ["-ddur0.1", "-t6", "base_d.dat", "design_d.dat"],
    ["-trim1", "base_V.dat"],
    ["-va", "base_V.dat"],
    ["-k3", "base_d.dat"],
    ["-times", "base_h.dat"],
    ["-dif", "base_d.dat"],
    ["-max", "missing_h.dat"],
    [],
    ["--help"],
    ["--version"],
    ["-max", "base_d.dat", "--help"],
    ["-zz", "--version", "--help"],
    ["-r7.5", "base_d.dat"],
]


@pytest.mark.filterwarnings("ignore::kelvara.Warning")
@pytest.mark.parametrize("arguments", COMMANDS, ids=[" ".join(c) or "usage" for c in COMMANDS])
def test_results_equal_the_tools(tool, example, tmp_path, monkeypatch, arguments):
    by_tool = tmp_path / "by_tool"
    shutil.copytree(example, by_tool)
    ran = subprocess.run([tool, "-b", *arguments], cwd=by_tool, stdin=subprocess.DEVNULL,
                         capture_output=True, timeout=60)
    monkeypatch.chdir(example)
    try:
        result = kelvara.run(["-b", *arguments])
        status, lines = result
    except kelvara.Error as error:
        status, lines = error.status, error.lines
    assert status == ran.returncode
    assert lines == ran.stdout.decode().splitlines()
    assert files_of(example) == files_of(by_tool)


def test_a_modellers_script(example, monkeypatch):
    """Read a run, compute with numpy, write a dataset the tool reads, run an operation."""
    monkeypatch.chdir(example)
    with kelvara.open("base_d.dat") as run:
        nodes, cells = run.nodes, run.cells
        deepest = np.full(nodes, -np.inf, np.float32)
        first_wet = None
        for step in run:
            np.maximum(deepest, step.values, out=deepest)
            if first_wet is None and step.values[160] >= 0.1:
                first_wet = step.time
    assert first_wet == 4.0
    kelvara.run(["-max", "base_d.dat"])
    with kelvara.open("base_d(maxmax).dat") as by_tool:
        assert np.array_equal(next(by_tool).values, deepest)
    wet = np.zeros(cells, np.uint8)
    kelvara.write("deepest_d.dat", nodes, cells, False, "deepest", [(111111.0, wet, deepest)])
    status, lines = kelvara.run(["-trim0.5", "deepest_d.dat"])
    with kelvara.open("deepest_d(trim0.5).dat") as trimmed:
        time, flags, values = next(trimmed)
    assert time == 111111.0 and not flags.any()
    assert np.array_equal(values, np.minimum(deepest, np.float32(0.5)))


def test_threads_share_the_core(example, monkeypatch):
    """Reads and runs from several threads at once all finish, each with its own result."""
    import threading

    monkeypatch.chdir(example)
    with kelvara.open("base_V.dat") as ds:
        expected = [step.values.copy() for step in ds]
    outcomes = []

    def read():
        with kelvara.open("base_V.dat") as ds:
            got = [step.values for step in ds]
        outcomes.append(all(np.array_equal(a, b) for a, b in zip(got, expected))
                        and len(got) == len(expected))

    def run():
        outcomes.append(kelvara.run(["-max", "base_d.dat"]).status == 0)

    threads = [threading.Thread(target=f) for f in (read, run, read, run, read)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=60)
    assert outcomes == [True] * 5


RUN_ERRORS = [  # (command line, the error's text)
    (["-k1,5", "base_d.dat"],
     ["ERROR - Reading the time of -k",
      '"-k1,5": its time must be a number written right after the flag, for example -k99999']),
    (["-max", "flood.2dm"],
     ["ERROR - flood.2dm holds no dataset: no card 200 or 210 within the first 100 cards of "
      "its header.",
      "flood.2dm is not a .dat dataset (it begins like a .2dm mesh): give a run's result "
      "dataset, such as run_h.dat, run_d.dat or run_V.dat."]),
    (["base_d.dat"], ["ERROR - No operational flag specified."]),  # the usage text after it
]


@pytest.mark.parametrize("arguments,text", RUN_ERRORS, ids=[" ".join(c[0]) for c in RUN_ERRORS])
def test_a_failed_runs_error_carries_every_line(example, monkeypatch, arguments, text):
    monkeypatch.chdir(example)
    with pytest.raises(kelvara.Error) as caught:
        kelvara.run(["-b", *arguments])
    assert str(caught.value).split("\n") == text
    assert all(line in caught.value.lines for line in text)


RUN_CODES = [
    (["-q"], "usage"),
    (["-k1", "missing_d.dat"], "missing_file"),
    (["-max", "flood.2dm"], "bad_input"),
    (["-con", "base_d.dat", "base_V.dat"], "bad_input"),  # two quantities by their names
    (["base_d.dat"], "usage"),
]


@pytest.mark.parametrize("arguments,code", RUN_CODES, ids=[" ".join(c[0]) for c in RUN_CODES])
def test_a_failed_runs_error_carries_its_code(example, monkeypatch, arguments, code):
    monkeypatch.chdir(example)
    with pytest.raises(kelvara.Error) as caught:
        kelvara.run(["-b", *arguments])
    assert caught.value.code == code and caught.value.status == 1


def test_a_damaged_datasets_error_carries_its_code(tmp_path):
    (tmp_path / "bad_d.dat").write_bytes(b"\x00" * 10)
    with pytest.raises(kelvara.Error) as caught:
        kelvara.open(tmp_path / "bad_d.dat")
    assert caught.value.code == "bad_input"


def test_runs_on_several_threads_at_once_each_give_a_lone_runs_result(example, monkeypatch):
    import threading

    monkeypatch.chdir(example)
    commands = [["-k1", "base_d.dat"], ["-r1", "design_d.dat"], ["-max", "base_V.dat"]]
    outputs = ["base_d(k1.).dat", "design_d(r1.).dat", "base_V(maxmax).dat"]
    alone = []
    for command, output in zip(commands, outputs):
        result = kelvara.run(command)
        alone.append((result.lines, (example / output).read_bytes()))
        (example / output).unlink()
    results = [None] * len(commands)

    def work(i):
        results[i] = kelvara.run(commands[i]).lines

    for _ in range(3):
        threads = [threading.Thread(target=work, args=(i,)) for i in range(len(commands))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for i, output in enumerate(outputs):
            assert results[i] == alone[i][0]
            assert (example / output).read_bytes() == alone[i][1]
            (example / output).unlink()
