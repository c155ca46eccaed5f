"""kelvara.calc and -calc: every ready-made quantity and free expressions against numpy in
float32 on random runs with wet and dry nodes, the flags, the times and the errors."""
import numpy as np
import pytest

import kelvara
from datfiles import read_dataset, write_dataset

F = np.float32
G = F(9.81)
NAN = F(np.nan)
TIMES = [0.0, 0.5, 1.0, 2.0]
NODES = 3000
CELLS = NODES - 2  # triangles (i, i + 1, i + 2)


def random_run(folder, seed, velocity_times=TIMES):
    """run_d, run_h, run_V and run.2dm: a third of the nodes dry (depth 0, level below the bed
    or at it, some still moving), some barely wet, random flags; each dataset ends with a
    99999 step of maxima. Returns the arrays per step as the files hold them."""
    rng = np.random.default_rng(seed)
    z = rng.uniform(-2.0, 5.0, NODES).astype(F)
    steps = []
    for _ in TIMES:
        dry = rng.random(NODES) < 0.33
        depth = rng.uniform(0.0, 2.5, NODES).astype(F)
        depth[rng.random(NODES) < 0.05] = F(0.005)  # shallower than froude's limit
        depth[dry] = 0.0
        level = (z + depth).astype(F)
        below = dry & (rng.random(NODES) < 0.5)
        level[below] = (z[below] - rng.uniform(0.0, 1.0, below.sum())).astype(F)
        vx = rng.normal(0.0, 1.2, NODES).astype(F)
        vy = rng.normal(0.0, 1.2, NODES).astype(F)
        still = dry & (rng.random(NODES) < 0.5)  # the other dry nodes move: v / 0 is infinite
        vx[still] = 0.0
        vy[still] = 0.0
        creeping = rng.random(NODES) < 0.02  # components within 1e-5: no speed
        vx[creeping] = rng.uniform(-1e-5, 1e-5, creeping.sum()).astype(F)
        vy[creeping] = rng.uniform(-1e-5, 1e-5, creeping.sum()).astype(F)
        flags = {k: (rng.random(CELLS) < 0.7).astype(np.uint8) for k in "dhV"}
        steps.append(dict(d=depth, h=level, vx=vx, vy=vy, z=z, flags=flags))
    maxima = [(99999.0, None, np.full(NODES, 9.0, F))]
    write_dataset(folder / "run_d.dat", NODES, CELLS, False, "Depth",
                  [(t, s["flags"]["d"], s["d"]) for t, s in zip(TIMES, steps)] + maxima)
    write_dataset(folder / "run_h.dat", NODES, CELLS, False, "Water Level",
                  [(t, s["flags"]["h"], s["h"]) for t, s in zip(TIMES, steps)] + maxima)
    write_dataset(folder / "run_V.dat", NODES, CELLS, True, "Velocity",
                  [(t, s["flags"]["V"], np.stack([s["vx"], s["vy"]], axis=1))
                   for t, s in zip(TIMES, steps) if t in velocity_times]
                  + [(99999.0, None, np.full((NODES, 2), 9.0, F))])
    lines = ["MESH2D"]
    lines += [f"E3T {c + 1} {c + 1} {c + 2} {c + 3} 1" for c in range(CELLS)]
    lines += [f"ND {n + 1} {float(n):.1f} 0.0 {float(z[n]):.9g}" for n in range(NODES)]
    (folder / "run.2dm").write_text("\n".join(lines) + "\n")
    return steps


def speed(s):
    """The tool's speed: 0 where both components are within 1e-5."""
    still = (np.abs(s["vx"]) <= F(1e-5)) & (np.abs(s["vy"]) <= F(1e-5))
    return np.where(still, F(0), np.sqrt(s["vx"] * s["vx"] + s["vy"] * s["vy"]))


# (expression, numpy in float32, datasets whose flags make the output's, nodes left without
# data on purpose)
CASES = [
    ("depth", lambda s, t: np.where(s["h"] <= s["z"], F(0), s["h"] - s["z"]), "h", None),
    ("dv", lambda s, t: s["d"] * speed(s), "dV", None),
    ("dv2", lambda s, t: s["d"] * speed(s) ** 2, "dV", None),
    ("froude", lambda s, t: np.where(s["d"] <= F(0.01), NAN, speed(s) / np.sqrt(G * s["d"])),
     "dV", lambda s: s["d"] <= F(0.01)),
    ("energy", lambda s, t: s["h"] + speed(s) ** 2 / (F(2) * G), "hV", None),
    ("v / d", lambda s, t: speed(s) / s["d"], "dV", None),
    ("sqrt(h - z)", lambda s, t: np.sqrt(s["h"] - s["z"]), "h", None),
    ("if(d > 0.3 && v > 1, 1, 0)",
     lambda s, t: ((s["d"] > F(0.3)) & (speed(s) > F(1))).astype(F), "dV", None),
    ("max(d, 0.1) * min(v, 2) - abs(vx) + vy",
     lambda s, t: np.maximum(s["d"], F(0.1)) * np.minimum(speed(s), F(2)) - np.abs(s["vx"])
     + s["vy"], "dV", None),
    ("(h - z) / t + g", lambda s, t: (s["h"] - s["z"]) / F(t) + G, "h", None),
]


def expect_close(got, want, s):
    """Not a number where numpy's float32 result is not finite; elsewhere within four units in
    the last place of the largest of the result and the inputs (the calculator rounds once,
    numpy at every operation)."""
    bad = ~np.isfinite(want)
    np.testing.assert_array_equal(np.isnan(got), bad)
    scale = np.maximum.reduce([np.abs(want), np.abs(s["d"]), np.abs(s["h"]), np.abs(s["z"]),
                               speed(s), np.abs(s["vx"]), np.abs(s["vy"]), np.full(NODES, G)])
    ok = ~bad
    assert np.all(np.abs(got[ok] - want[ok]) <= 4 * np.spacing(scale[ok]))


@pytest.mark.filterwarnings("ignore:WARNING - .* not a number")
@pytest.mark.parametrize("expr,reference,flagged,no_data", CASES, ids=[c[0] for c in CASES])
def test_quantities_match_numpy_in_float32(tmp_path, expr, reference, flagged, no_data):
    steps = random_run(tmp_path, seed=len(expr))
    with np.errstate(all="ignore"), kelvara.calc(expr, tmp_path / "run_d.dat") as calculation:
        got = list(calculation)
        assert [step.time for step in got] == TIMES  # the maxima at 99999 left out
        counted = 0
        for t, s, step in zip(TIMES, steps, got):
            want = reference(s, t).astype(F)
            assert step.values.dtype == np.float32
            expect_close(step.values, want, s)
            wet = np.zeros(CELLS, bool)
            for k in flagged:
                wet |= s["flags"][k] != 0
            np.testing.assert_array_equal(step.flags, wet.astype(np.uint8))
            intended = no_data(s) if no_data else np.zeros(NODES, bool)
            counted += int((~np.isfinite(want) & ~intended).sum())
        assert calculation.not_a_number == counted


def test_a_division_by_zero_is_counted_in_one_warning(tmp_path):
    random_run(tmp_path, seed=1)
    with pytest.warns(kelvara.Warning) as caught:
        kelvara.calc("v / d", tmp_path / "run_d.dat", output=tmp_path / "out.dat")
    texts = [str(w.message) for w in caught if "not a number" in str(w.message)]
    assert len(texts) == 1 and "stored as not a number" in texts[0]


def test_the_tool_and_python_give_the_same_dataset(tmp_path, monkeypatch):
    random_run(tmp_path, seed=7)
    monkeypatch.chdir(tmp_path)
    kelvara.run(["-calc", "froude", "run_V.dat"])
    kelvara.run(["--expr", "h - z + t", "-calc", "run_h.dat", "--output", "tool.dat"])
    assert kelvara.calc("froude", "run_V.dat", output="py(froude).dat") == len(TIMES)
    kelvara.calc("h - z + t", "run_h.dat", output="py.dat")
    for tool, python in (("run(froude).dat", "py(froude).dat"), ("tool.dat", "py.dat")):
        _, a = read_dataset(tmp_path / tool)
        _, b = read_dataset(tmp_path / python)
        assert [s[0] for s in a] == [s[0] for s in b] == TIMES
        for (_, fa, va), (_, fb, vb) in zip(a, b):
            np.testing.assert_array_equal(fa, fb)
            assert va.tobytes() == vb.tobytes()


def test_a_time_a_dataset_lacks_is_left_out(tmp_path):
    random_run(tmp_path, seed=3, velocity_times=[0.0, 1.0, 2.0])
    with pytest.warns(kelvara.Warning, match="run_V.dat has no step at time 0.500"):
        times = [step.time for step in kelvara.calc("dv", tmp_path / "run_d.dat")]
    assert times == [0.0, 1.0, 2.0]


def test_named_datasets_replace_those_beside_the_input(tmp_path):
    random_run(tmp_path, seed=4)
    other = tmp_path / "other"
    other.mkdir()
    random_run(other, seed=5)
    mine = list(kelvara.calc("d - h", tmp_path / "run_d.dat"))
    mixed = list(kelvara.calc("d - h", tmp_path / "run_d.dat", level=other / "run_h.dat"))
    _, levels = read_dataset(other / "run_h.dat")
    _, depths = read_dataset(tmp_path / "run_d.dat")
    for a, b, (_, _, h), (_, _, d) in zip(mine, mixed, levels, depths):
        assert not np.array_equal(a.values, b.values)
        np.testing.assert_array_equal(b.values, d - h)


@pytest.mark.parametrize("expr,kwargs,missing,keyword", [
    ("dv2", {}, "run_V.dat", "velocity="),
    ("h - z", {}, "run_h.dat", "level="),
    ("depth", {"mesh": "elsewhere.2dm"}, "elsewhere.2dm", "mesh="),
    ("d", {"depth": "gone_d.dat"}, "gone_d.dat", "depth="),
])
def test_a_missing_dataset_names_the_file_and_the_keyword(tmp_path, expr, kwargs, missing,
                                                          keyword):
    random_run(tmp_path, seed=6)
    (tmp_path / "run_V.dat").unlink()
    (tmp_path / "run_h.dat").unlink()
    kwargs = {k: tmp_path / v for k, v in kwargs.items()}
    if expr == "depth":
        write_dataset(tmp_path / "run_h.dat", NODES, CELLS, False, "h", [(0.0, None,
                                                                         np.zeros(NODES, F))])
    with pytest.raises(kelvara.Error) as caught:
        kelvara.calc(expr, tmp_path / "run_d.dat", **kwargs)
    assert caught.value.code == "missing_file"
    assert missing + " cannot be found" in str(caught.value)
    assert keyword in str(caught.value)


def test_bad_expressions_and_datasets_that_do_not_suit(tmp_path):
    random_run(tmp_path, seed=8)
    with pytest.raises(kelvara.Error, match=r"(?s)Syntax error.*d\*\(v\n\s+\^"):
        kelvara.calc("d*(v", tmp_path / "run_d.dat")
    with pytest.raises(kelvara.Error, match="(?s)Unknown name \"depht\".*The names: d"):
        kelvara.calc("depht", tmp_path / "run_d.dat")
    with pytest.raises(kelvara.Error, match="run_V.dat is a vector dataset"):
        kelvara.calc("d", tmp_path / "run_V.dat", depth=tmp_path / "run_V.dat")
    with pytest.raises(kelvara.Error, match="would replace the input"):
        kelvara.calc("dv", tmp_path / "run_d.dat", output=tmp_path / "run_V.dat")


@pytest.mark.filterwarnings("ignore:WARNING - The times")
def test_t_is_the_steps_time_in_hours_whatever_the_datasets_unit(tmp_path):
    values = np.zeros(4, F)
    write_dataset(tmp_path / "run_d.dat", 4, 2, False, "Depth",
                  [(t, None, values) for t in (0.0, 30.0, 90.0)], time_units=1)  # minutes
    got = [(step.time, step.values[0]) for step in kelvara.calc("t + d", tmp_path / "run_d.dat")]
    assert got == [(0.0, 0.0), (30.0, 0.5), (90.0, 1.5)]
