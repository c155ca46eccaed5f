"""kelvara.ensemble and the tool's -ensemble against an independent numpy reference: each run's
peak per node taken from its files by the rules alone, then np.median, np.mean and np.percentile
on the stacked float32 peaks. Random ensembles of 3 groups x 10 runs, with nodes that have no
value (dry, -99999, NaN), wet and dry cells of water levels, and many ties."""
import subprocess
import warnings

import numpy as np
import pytest

import kelvara
from datfiles import read_dataset, write_dataset

GROUPS = ("1h", "3h", "9h")
RUNS_PER_GROUP = 10
NO_VALUE = -99999.0


def grid_mesh(columns, rows):
    """A .2dm text of triangles over a grid of nodes, and the corners of each cell (from 1)."""
    lines = ["MESH2D"]
    corners = []
    for c in range(columns - 1):
        for r in range(rows - 1):
            a = c * rows + r + 1
            b, d, e = a + rows, a + 1, a + rows + 1
            corners += [(a, b, e), (a, e, d)]
    for i, k in enumerate(corners):
        lines.append(f"E3T {i + 1} {k[0]} {k[1]} {k[2]} 1")
    for c in range(columns):
        for r in range(rows):
            lines.append(f"ND {c * rows + r + 1} {c * 10.0:.3f} {r * 10.0:.3f} 0.000")
    return "\n".join(lines) + "\n", np.array(corners, dtype=np.int64)


def make_run(rng, nodes, cells, with_maximum):
    """(steps, flags) of one run: three ordinary steps and, when asked, a step at 99999. Values
    on a coarse grid (ties), some with no value (-99999) and some NaN."""
    steps = []
    times = [1.0, 2.0, 3.0] + ([99999.0] if with_maximum else [])
    for t in times:
        values = (rng.integers(0, 12, nodes) * 0.25).astype(np.float32)
        values[rng.random(nodes) < 0.08] = NO_VALUE
        values[rng.random(nodes) < 0.04] = np.nan
        values[0] = NO_VALUE  # a node with no value in any run
        flags = (rng.random(cells) < 0.7).astype(np.int8)
        steps.append((t, flags, values))
    return steps


def reference_peak(steps, corners, levels):
    """A run's peak by the rules: its 99999 step when it has one, else the greatest value of its
    ordinary steps; a value counts above -99998 (so NaN never does) and, for water levels, only
    at corners of cells active in its step. NaN where nothing counts."""
    used = [s for s in steps if s[0] == 99999.0] or [s for s in steps if -99998 < s[0] < 99998]
    peak = None
    for _, flags, values in used:
        counts = values > -99998.0
        if levels:
            wet = np.zeros(values.shape[0], dtype=bool)
            wet[corners[flags != 0].ravel() - 1] = True
            counts &= wet
        here = np.where(counts, values, np.float32(np.nan)).astype(np.float32)
        peak = here if peak is None else np.fmax(peak, here)
    return peak


def reference(peaks, group_of_run, stat, percentiles):
    """The statistics from stacked peaks (runs x nodes, float32), node by node."""
    n_groups = max(group_of_run) + 1
    nodes = peaks.shape[1]
    nan = np.float32(np.nan)
    stats = np.full((n_groups, nodes), nan, dtype=np.float32)
    reps = np.full((n_groups, nodes), nan, dtype=np.float32)
    for g in range(n_groups):
        members = [r for r in range(len(group_of_run)) if group_of_run[r] == g]
        for n in range(nodes):
            column = peaks[members, n]
            present = column[~np.isnan(column)]
            if present.size == 0:
                continue
            if stat == "median":
                value = np.median(present)
            else:
                value = np.float32(np.mean(present.astype(np.float64)))
            stats[g, n] = value
            for r in members:  # the first run in list order at or above it
                if peaks[r, n] >= value:
                    reps[g, n] = r + 1
                    break
    envelope = np.full(nodes, nan, dtype=np.float32)
    critical = np.full(nodes, nan, dtype=np.float32)
    representative = np.full(nodes, nan, dtype=np.float32)
    for n in range(nodes):
        for g in range(n_groups):  # equal statistics keep the earlier group
            if not np.isnan(stats[g, n]) and (np.isnan(envelope[n]) or stats[g, n] > envelope[n]):
                envelope[n], critical[n], representative[n] = stats[g, n], g + 1, reps[g, n]
    pct = np.full((len(percentiles), nodes), nan, dtype=np.float32)
    for n in range(nodes):
        present = peaks[~np.isnan(peaks[:, n]), n]
        if present.size:
            for k, p in enumerate(percentiles):
                pct[k, n] = np.percentile(present, p)
    return {"envelope": envelope, "critical_group": critical, "representative_run": representative,
            "percentiles": pct, "group_statistics": stats}


def make_study(folder, seed, levels):
    """Writes 3 groups x 10 runs and study.csv; returns (peaks, group of each run, mesh path)."""
    rng = np.random.default_rng(seed)
    mesh_text, corners = grid_mesh(9, 7)
    nodes, cells = 63, len(corners)
    mesh = folder / "valley.2dm"
    mesh.write_text(mesh_text)
    suffix = "_h" if levels else "_d"
    lines, peaks, group_of_run = ["group,file"], [], []
    for g, group in enumerate(GROUPS):
        (folder / group).mkdir()
        for p in range(RUNS_PER_GROUP):
            # Runs with and without the model's maximum, in no particular order.
            steps = make_run(rng, nodes, cells, with_maximum=rng.random() < 0.6)
            name = f"{group}/tp{p + 1:02d}{suffix}.dat"
            write_dataset(folder / name, nodes, cells, False, "Water Level" if levels else "Depth",
                          steps)
            lines.append(f"{group},{name}")
            peaks.append(reference_peak(steps, corners, levels))
            group_of_run.append(g)
    (folder / "study.csv").write_text("\n".join(lines) + "\n")
    return np.stack(peaks), group_of_run, mesh


def assert_same(actual, expected, what):
    actual = np.asarray(actual, dtype=np.float32)
    assert actual.shape == expected.shape, what
    same = (actual == expected) | (np.isnan(actual) & np.isnan(expected))
    bad = np.argwhere(~same)
    assert bad.size == 0, f"{what}: {len(bad)} values differ, first at {bad[0]}: " \
                          f"{actual[tuple(bad[0])]!r} != {expected[tuple(bad[0])]!r}"


CASES = [
    # (seed, water levels, statistic, percentiles)
    (1, False, "median", (10, 50, 90)),
    (2, False, "mean", (0, 33.3, 100)),
    (3, True, "median", (25, 75)),
    (4, True, "mean", (5, 50, 95)),
]


@pytest.mark.parametrize("seed,levels,stat,percentiles", CASES)
def test_every_value_equals_the_numpy_reference(tmp_path, seed, levels, stat, percentiles):
    peaks, group_of_run, mesh = make_study(tmp_path, seed, levels)
    expected = reference(peaks, group_of_run, stat, percentiles)
    assert np.isnan(expected["envelope"][0])
    result = kelvara.ensemble(tmp_path / "study.csv", stat=stat, percentiles=percentiles,
                              per_group=True, mesh=mesh)
    for key in ("envelope", "critical_group", "representative_run", "percentiles",
                "group_statistics"):
        assert_same(getattr(result, key), expected[key], key)
    assert result.groups == list(GROUPS)
    assert len(result.runs) == 30 and result.runs[0].endswith("1h/tp01" + ("_h" if levels else "_d")
                                                             + ".dat")
    assert result.percentiles.shape == (len(percentiles), 63)
    # Nothing is written without output.
    assert sorted(p.name for p in tmp_path.iterdir()) == ["1h", "3h", "9h", "study.csv",
                                                          "valley.2dm"]


def test_pairs_and_a_list_give_the_same_arrays(tmp_path):
    peaks, group_of_run, _ = make_study(tmp_path, 5, False)
    pairs = [(GROUPS[g], tmp_path / GROUPS[g] / f"tp{(r % RUNS_PER_GROUP) + 1:02d}_d.dat")
             for r, g in enumerate(group_of_run)]
    from_list = kelvara.ensemble(str(tmp_path / "study.csv"), percentiles=[50])
    from_pairs = kelvara.ensemble(pairs, percentiles=[50])
    for key in ("envelope", "critical_group", "representative_run", "percentiles"):
        assert_same(getattr(from_pairs, key), getattr(from_list, key), key)
    assert from_pairs.group_statistics.shape == (0, 63)


def test_the_tool_writes_what_the_reference_gives(tmp_path, tool):
    peaks, group_of_run, _ = make_study(tmp_path, 6, False)
    expected = reference(peaks, group_of_run, "median", (10, 50, 90))
    done = subprocess.run([tool, "-b", "-ensemble", "--runs", "study.csv", "--percentiles",
                           "10,50,90", "--per-group"], cwd=tmp_path, capture_output=True,
                          text=True)
    assert done.returncode == 0, done.stdout
    header, steps = read_dataset(tmp_path / "study(ensemble).dat")
    times = [s[0] for s in steps]
    assert times == [120001, 120002, 120003, 120011, 120012, 120013, 120101, 120102, 120103]
    values = {t: np.asarray(v, dtype=np.float32) for t, _, v in steps}
    assert_same(values[120001], expected["envelope"], "envelope")
    assert_same(values[120002], expected["critical_group"], "critical group")
    assert_same(values[120003], expected["representative_run"], "representative run")
    for k in range(3):
        assert_same(values[120011 + k], expected["percentiles"][k], f"percentile {k + 1}")
    for g in range(3):
        assert_same(values[120101 + g], expected["group_statistics"][g], f"group {g + 1}")
    legend = (tmp_path / "study(ensemble).csv").read_text()
    assert "\n3,group,9h,9h\n" in legend
    assert "[30/30] 9h/tp10_d.dat" in done.stdout


def test_output_is_written_only_when_asked(tmp_path):
    make_study(tmp_path, 7, False)
    result = kelvara.ensemble(tmp_path / "study.csv", output=tmp_path / "design.dat")
    header, steps = read_dataset(tmp_path / "design.dat")
    assert [s[0] for s in steps] == [120001, 120002, 120003]
    assert_same(steps[0][2], result.envelope, "envelope")
    assert (tmp_path / "design.csv").exists()


def test_bad_runs_and_arguments(tmp_path):
    make_study(tmp_path, 8, False)
    run = tmp_path / "1h" / "tp01_d.dat"
    with pytest.raises(kelvara.Error) as failure:
        kelvara.ensemble([("1h", run), ("1h", tmp_path / "gone_d.dat")])
    assert "gone_d.dat" in str(failure.value) and failure.value.code == "bad_input"
    with pytest.warns(kelvara.Warning, match="gone_d.dat"):
        result = kelvara.ensemble([("1h", run), ("1h", tmp_path / "gone_d.dat"),
                                   ("1h", tmp_path / "1h" / "tp02_d.dat")], skip_missing=True)
    assert result.missing == [False, True, False]
    with pytest.warns(kelvara.Warning, match="single run"):
        kelvara.ensemble([("1h", run), ("2h", tmp_path / "3h" / "tp01_d.dat"),
                          ("2h", tmp_path / "3h" / "tp02_d.dat")])
    for bad, error in [(dict(stat="mode"), ValueError), (dict(percentiles=(101,)), ValueError),
                       (dict(percentiles="10,50"), TypeError)]:
        with pytest.raises(error):
            kelvara.ensemble(tmp_path / "study.csv", **bad)
    with pytest.raises(TypeError):
        kelvara.ensemble([run])
    with pytest.raises(ValueError):
        kelvara.ensemble([])
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        kelvara.ensemble(tmp_path / "study.csv")  # no warning for a sound study
