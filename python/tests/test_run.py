"""kelvara.run: one command line in this process, with the tool's outcome."""
import shutil
import subprocess

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
]


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
