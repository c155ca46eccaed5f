"""Bad input gives kelvara.Error with the tool's message, never a crash; a failed write leaves
nothing behind."""
import os
import struct
import warnings

import numpy as np
import pytest

import kelvara
from datfiles import dataset_bytes, header_bytes, write_dataset

NODES, CELLS = 6, 4
STEPS = [(float(i), np.ones(CELLS, np.uint8), np.arange(NODES, dtype=np.float32) + i)
         for i in range(2)]
GOOD = dataset_bytes(NODES, CELLS, False, "good", STEPS)
HEADER = len(header_bytes(NODES, CELLS, False, "good"))
STEP = 4 + 1 + 4 + CELLS + 4 * NODES


def read_all(path):
    with kelvara.open(path) as ds:
        return list(ds)


CUTS = [  # (where the file ends, steps read when it is no fault, whether that warns)
    ("inside the leading integer", 2, None, False),
    ("inside a card", 6, None, False),
    ("inside the name", 60, None, False),
    ("after the header", HEADER, 0, False),
    ("inside card 200", HEADER + 2, None, False),
    ("just after card 200", HEADER + 4, None, False),
    ("inside the time", HEADER + 6, None, False),
    ("inside the flags", HEADER + 9 + CELLS // 2, None, False),
    ("inside the values", HEADER + STEP - 3, None, False),
    ("after a whole step", HEADER + STEP, 1, True),
    ("inside the next card 200", HEADER + STEP + 1, None, False),
    ("inside the last values", len(GOOD) - 6, None, False),
    ("inside the end card", len(GOOD) - 2, None, False),
    ("nowhere", len(GOOD), 2, False),
]


@pytest.mark.parametrize("what,size,steps,warns", CUTS, ids=[c[0] for c in CUTS])
def test_cut_files(tmp_path, what, size, steps, warns):
    path = tmp_path / "cut_d.dat"
    path.write_bytes(GOOD[:size])
    if steps is not None:
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            assert len(read_all(path)) == steps
        expected = [f"WARNING - {path} has no end card (210) after its last time step; it may "
                    "still be being written."] if warns else []
        assert [str(w.message) for w in caught] == expected
        assert all(w.category is kelvara.Warning for w in caught)
        return
    with pytest.raises(kelvara.Error) as caught:
        read_all(path)
    message = str(caught.value)
    assert message.startswith("ERROR - ") and str(path) in message
    assert message in caught.value.lines and caught.value.status == 1


def replace_card_payload(data, card, payload):
    at = data.index(struct.pack("<i", card))
    return data[:at + 4] + struct.pack("<i", payload) + data[at + 8:]


DAMAGED = [  # (what, bytes, words the message holds)
    ("flag size 3", replace_card_payload(GOOD, 120, 3), "flag size"),
    ("8-byte reals", replace_card_payload(GOOD, 110, 8), "real size"),
    ("negative node count", replace_card_payload(GOOD, 170, -5), "nodes"),
    ("node count beyond the file", replace_card_payload(GOOD, 170, 1 << 30), "truncated"),
    ("cell count beyond the file", replace_card_payload(GOOD, 180, 1 << 29), "truncated"),
]


@pytest.mark.parametrize("what,data,words", DAMAGED, ids=[c[0] for c in DAMAGED])
def test_damaged_headers(tmp_path, what, data, words):
    path = tmp_path / "damaged_h.dat"
    path.write_bytes(data)
    with pytest.raises(kelvara.Error) as caught:
        read_all(path)
    assert str(caught.value).startswith("ERROR - ") and words in str(caught.value)


def test_missing_and_unreadable_files(tmp_path):
    for path in [tmp_path / "missing_d.dat", tmp_path]:
        with pytest.raises(kelvara.Error) as caught:
            kelvara.open(path)
        assert str(caught.value).startswith("ERROR - ")
        assert path.name in "\n".join(caught.value.lines)


@pytest.mark.filterwarnings("ignore::kelvara.Warning")
def test_random_damage_never_crashes(tmp_path):
    """Flipped bytes anywhere in a good file: every outcome is steps or kelvara.Error."""
    rng = np.random.default_rng(16)
    path = tmp_path / "noise.dat"
    outcomes = set()
    for _ in range(300):
        data = bytearray(GOOD)
        for at in rng.integers(0, len(data), size=rng.integers(1, 4)):
            data[at] = rng.integers(0, 256)
        path.write_bytes(bytes(data[: rng.integers(0, len(data) + 1)]))
        try:
            read_all(path)
            outcomes.add("read")
        except kelvara.Error as error:
            assert str(error).startswith("ERROR - ")
            outcomes.add("error")
    assert outcomes == {"read", "error"}


def leftovers(folder):
    return sorted(p.name for p in folder.iterdir())


def test_failed_write_leaves_nothing_and_keeps_the_earlier_file(tmp_path):
    path = tmp_path / "result.dat"
    path.write_bytes(b"earlier")

    class ModelStopped(Exception):
        pass

    def steps_then_failure():
        yield STEPS[0]
        raise ModelStopped()

    with pytest.raises(ModelStopped):
        kelvara.write(path, NODES, CELLS, False, "r", steps_then_failure())
    wrong_shapes = [
        [(0.0, None, np.zeros(NODES + 1))],
        [(0.0, np.ones(CELLS + 1), np.zeros(NODES))],
        [(0.0, None, np.zeros((NODES, 2)))],
        [(0.0, None)],
    ]
    for steps in wrong_shapes:
        with pytest.raises((ValueError, TypeError)):
            kelvara.write(path, NODES, CELLS, False, "r", steps)
    assert path.read_bytes() == b"earlier"
    assert leftovers(tmp_path) == ["result.dat"]
    with pytest.raises(kelvara.Error):
        kelvara.write(tmp_path / "no such folder" / "r.dat", NODES, CELLS, False, "r", STEPS)
    assert leftovers(tmp_path) == ["result.dat"]


MESHES = [  # (what, text, words the message holds)
    ("a node line without z", "MESH2D\nND 1 0 0\n", "Reading .2dm file"),
    ("a node line with a letter", "MESH2D\nNDx 1 0 0 0\n", "Reading .2dm file"),
    ("a cell with a corner of no node", "MESH2D\nND 1 0 0 0\nND 2 1 0 0\nND 3 0 1 0\n"
                                        "E3T 1 1 2 9 1\n", "ERROR - "),
    ("a cell with too few corners", "MESH2D\nND 1 0 0 0\nE4Q 1 1 1 1\n", "Reading .2dm file"),
    ("a node number far beyond its lines", "MESH2D\nND 2000000000 0 0 0\n", "damaged"),
    ("a cell number far beyond its lines", "MESH2D\nND 1 0 0 0\nE3T 999999999 1 1 1\n", "damaged"),
]


@pytest.mark.parametrize("what,text,words", MESHES, ids=[c[0] for c in MESHES])
def test_bad_meshes(tmp_path, what, text, words):
    path = tmp_path / "bad.2dm"
    path.write_text(text)
    with pytest.raises(kelvara.Error) as caught:
        kelvara.read_mesh(path)
    assert str(caught.value).startswith("ERROR - ") and words in "\n".join(caught.value.lines)
    with pytest.raises(kelvara.Error):
        kelvara.read_mesh(tmp_path / "missing.2dm")


NOT_MESHES = [  # (what, bytes)
    ("text", b"Flood study notes\nrun 3 of 7\n"),
    ("a dataset", GOOD),
    ("an empty file", b""),
    ("a mesh's first lines alone", b'MESH2D\nMESHNAME "empty"\n'),
    ("cells without nodes' lines", b"MESH2D\nE3T 1 1 2 3 1\n"),
]


@pytest.mark.parametrize("what,data", NOT_MESHES, ids=[c[0] for c in NOT_MESHES])
def test_a_file_without_a_mesh_is_refused(tmp_path, what, data):
    path = tmp_path / "model.2dm"
    path.write_bytes(data)
    with pytest.raises(kelvara.Error) as caught:
        kelvara.read_mesh(path)
    assert str(caught.value).startswith("ERROR - ") and str(path) in str(caught.value)


def test_the_null_device_is_no_mesh():
    if not os.path.exists(os.devnull):
        pytest.skip("no null device")
    with pytest.raises(kelvara.Error, match="ERROR - " + os.devnull):
        kelvara.read_mesh(os.devnull)


# Each call names an existing file followed by a NUL and more: cut at the NUL, the name would
# be the victim's.
NUL_CALLS = [  # (what, call given the victim's path)
    ("open", lambda victim: kelvara.open(f"{victim}\0.new")),
    ("Dataset", lambda victim: kelvara.Dataset(f"{victim}\0.new")),
    ("open of bytes", lambda victim: kelvara.open(os.fsencode(victim) + b"\0.new")),
    ("write", lambda victim: kelvara.write(f"{victim}\0.new", NODES, CELLS, False, "n", STEPS)),
    ("write of bytes",
     lambda victim: kelvara.write(os.fsencode(victim) + b"\0.new", NODES, CELLS, False, "n",
                                  STEPS)),
    ("read_mesh", lambda victim: kelvara.read_mesh(f"{victim}\0.2dm")),
    ("run's output name",
     lambda victim: kelvara.run(["-b", "-dif", "-nowetdry", victim, victim,
                                 f"{victim}\0put.dat"])),
    ("run's input", lambda victim: kelvara.run(["-b", "-max", f"{victim}\0.dat"])),
    ("run's flag", lambda victim: kelvara.run(["-b", "-max\0", victim])),
    ("the compiled reader", lambda victim: kelvara._kelvara.Reader(f"{victim}\0.new")),
    ("the compiled writer",
     lambda victim: kelvara._kelvara.Writer(f"{victim}\0.new", NODES, CELLS, False, "n")),
    ("the compiled run", lambda victim: kelvara._kelvara.run(["-b", "-max", f"{victim}\0"])),
]


@pytest.mark.parametrize("what,call", NUL_CALLS, ids=[c[0] for c in NUL_CALLS])
def test_a_nul_in_a_path_is_refused(tmp_path, monkeypatch, what, call):
    monkeypatch.chdir(tmp_path)
    victim = "victim_d.dat"
    (tmp_path / victim).write_bytes(GOOD)
    with pytest.raises(ValueError, match="null"):
        call(victim)
    assert leftovers(tmp_path) == [victim]
    assert (tmp_path / victim).read_bytes() == GOOD


MESH_TEXT = "MESH2D\nND 1 0 0 0\nND 2 1 0\nND 3 0 1 0\n"
ERROR_TEXTS = [  # (what, file name, its content, what to do with it, the error's text)
    ("a mesh line that cannot be read", "bad.2dm", MESH_TEXT.encode(), kelvara.read_mesh,
     ["ERROR - Reading .2dm file from following line in .2dm file", "ND 2 1 0"]),
    ("a mesh given as a dataset", "mesh_d.dat", MESH_TEXT.encode(), kelvara.open,
     ["ERROR - Unexpected end of file in mesh_d.dat while reading its header.",
      "mesh_d.dat is not a .dat dataset (it begins like a .2dm mesh): give a run's result "
      "dataset, such as run_h.dat, run_d.dat or run_V.dat."]),
    ("a missing file", "here_d.dat", GOOD, lambda name: kelvara.open("gone_d.dat"),
     ['ERROR - Unable to open "gone_d.dat".']),
]


@pytest.mark.parametrize("what,name,data,call,text", ERROR_TEXTS, ids=[c[0] for c in ERROR_TEXTS])
def test_the_error_carries_every_line_of_the_tools(tmp_path, monkeypatch, what, name, data, call,
                                                   text):
    monkeypatch.chdir(tmp_path)
    (tmp_path / name).write_bytes(data)
    with pytest.raises(kelvara.Error) as caught:
        call(name)
    assert str(caught.value).split("\n") == text
    lines = caught.value.lines
    at = lines.index(text[0])
    assert [line for line in lines[at:] if line] == text
