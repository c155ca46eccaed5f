#!/usr/bin/python3
# Checks that kelvara's flood-map outputs (-arrival, -hazard, -max, -dur) and NetCDF files load
# in an independent reader, the mesh layer of QGIS (its MDAL provider), with the values kelvara
# wrote (the NetCDF files open as mesh layers by themselves: the mesh, its reference and the
# depths and levels of every step against the .dat files): for each
# output of the bundled example it compares what QGIS shows (dataset groups, scalar or vector,
# the time of each step, every node's value, not-a-number nodes included, and every cell's
# active flag) with the same file read here byte by byte with numpy.
#
# Needs Debian's QGIS Python bindings (apt-get install python3-qgis) and numpy, with the
# system interpreter that they are installed for. An optional local check, not part of CI:
#
#   /usr/bin/python3 scripts/gis_check.py build/kelvara /tmp/gis-check
#
# It copies examples/flood into <scratch>/flood, runs the tool there in batch mode, prints a
# table and exits 0 when QGIS and the file agree everywhere, 1 otherwise.
import math
import os
import re
import shutil
import struct
import subprocess
import sys
from pathlib import Path

import numpy as np

os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")

EXAMPLE = Path(__file__).resolve().parent.parent / "examples" / "flood"
RUNS = [  # the tool's arguments after -b; the output is named in its "Wrote" line
    ["-arrival0.3", "base_d.dat"],
    ["-arrival0.5", "base_V.dat"],
    ["-hazard", "base_d.dat"],
    ["-hazard0.5", "base_d.dat"],
    ["-max", "base_d.dat"],
    ["-dur0.3", "base_d.dat"],
]


# ---- The file, read independently ----------------------------------------------------------

def read_dat(path):
    """The dataset at path: a dict with name, vector, nodes, cells and steps, each step a dict
    with time (float32), flags (uint8 per cell, None when the step carries none) and values
    (float32, shape (nodes,) or (nodes, 2)). Raises ValueError on a layout it cannot follow."""
    data = Path(path).read_bytes()
    at = 0

    def take(fmt):
        nonlocal at
        size = struct.calcsize(fmt)
        if at + size > len(data):
            raise ValueError(f"ends at byte {len(data)} inside an item at byte {at}")
        items = struct.unpack_from(fmt, data, at)
        at += size
        return items[0] if len(items) == 1 else items

    def take_array(dtype, count):
        nonlocal at
        array = np.frombuffer(data, dtype=dtype, count=count, offset=at)
        at += array.nbytes
        return array

    out = {"name": None, "vector": None, "nodes": None, "cells": None, "steps": []}
    flag_size = 1
    card = None
    for _ in range(100):  # the header: cards up to the first step
        card = take("<i")
        if card in (100, 150, 160):
            take("<i")
        elif card == 110:
            if take("<i") != 4:
                raise ValueError("reals are not 4 bytes")
        elif card == 120:
            flag_size = take("<i")
            if flag_size not in (1, 4):
                raise ValueError(f"flag size {flag_size}")
        elif card in (130, 140):
            out["vector"] = card == 140
        elif card == 170:
            out["nodes"] = take("<i")
        elif card == 180:
            out["cells"] = take("<i")
        elif card == 190:
            out["name"] = take("40s").rstrip(b" \0").decode("latin-1")
        elif card == 240:
            take(f"<{flag_size}xd")
        elif card == 250:
            if take("<i") != 0:
                raise ValueError("times are not in hours")
        elif card in (200, 210):
            break
    else:
        raise ValueError("no card 200 or 210 in the header")
    if None in (out["vector"], out["nodes"], out["cells"]):
        raise ValueError("the header lacks card 130/140, 170 or 180")

    width = 2 if out["vector"] else 1
    while card == 200:
        status = take("<b" if flag_size == 1 else "<i")
        time = np.float32(take("<f"))
        flags = None
        if status == 1:
            raw = take_array("<u1" if flag_size == 1 else "<i4", out["cells"])
            flags = (raw == 1).astype(np.uint8)
        values = take_array("<f4", out["nodes"] * width).astype(np.float32)
        if out["vector"]:
            values = values.reshape(out["nodes"], 2)
        out["steps"].append({"time": time, "flags": flags, "values": values})
        card = take("<i")
    if card != 210:
        raise ValueError(f"card {card} after a step at byte {at - 4}")
    if at != len(data):
        raise ValueError(f"{len(data) - at} bytes after the end card")
    return out


# ---- The same file in QGIS -----------------------------------------------------------------

def read_qgis(qgis, mesh_path, dat_path):
    """What a QGIS mesh layer of mesh_path shows of dat_path: a dict with loaded, nodes, cells
    and groups (name, scalar, on_vertices and datasets: time, values as float64, active as
    uint8, minimum, maximum)."""
    layer = qgis.QgsMeshLayer(str(mesh_path), "mesh", "mdal")
    if not layer.isValid():
        return {"loaded": False, "why": f"the mesh {mesh_path.name} does not load"}
    provider = layer.dataProvider()
    before = provider.datasetGroupCount()
    if not provider.addDataset(str(dat_path)):
        return {"loaded": False, "why": "addDataset refused the file"}
    nodes, cells = provider.vertexCount(), provider.faceCount()
    groups = []
    for g in range(before, provider.datasetGroupCount()):
        meta = provider.datasetGroupMetadata(g)
        group = {
            "name": meta.name(),
            "scalar": meta.isScalar(),
            "on_vertices": meta.dataType() == qgis.QgsMeshDatasetGroupMetadata.DataOnVertices,
            "datasets": [],
        }
        for d in range(provider.datasetCount(g)):
            index = qgis.QgsMeshDatasetIndex(g, d)
            dmeta = provider.datasetMetadata(index)
            block = provider.datasetValues(index, 0, nodes)
            if meta.isScalar():
                values = np.array([block.value(i).scalar() for i in range(nodes)])
            else:
                values = np.array([(block.value(i).x(), block.value(i).y())
                                   for i in range(nodes)])
            flags = provider.areFacesActive(index, 0, cells)
            active = np.array([flags.active(i) for i in range(cells)], dtype=np.uint8)
            group["datasets"].append({
                "time": dmeta.time(), "values": values, "active": active,
                "minimum": dmeta.minimum(), "maximum": dmeta.maximum(),
            })
        groups.append(group)
    return {"loaded": True, "nodes": nodes, "cells": cells, "groups": groups}


# ---- Comparing -----------------------------------------------------------------------------

def compare(name, dat, shown):
    """A row of the table and the lines that detail each disagreement."""
    problems = []
    row = {"output": name, "loaded": "no", "groups": "-", "datasets": "-", "times": "-",
           "diff": "-", "nan": "-", "active": "-", "range": "-"}
    if not shown["loaded"]:
        return row, [f"{name}: not loaded ({shown['why']})"]
    row["loaded"] = "yes"
    groups = shown["groups"]
    row["groups"] = str(len(groups))
    row["datasets"] = "+".join(str(len(g["datasets"])) for g in groups) or "0"
    if (shown["nodes"], shown["cells"]) != (dat["nodes"], dat["cells"]):
        problems.append(f"{name}: the file has {dat['nodes']} nodes and {dat['cells']} cells, "
                        f"the mesh {shown['nodes']} and {shown['cells']}")
        return row, problems
    if len(groups) != 1:
        problems.append(f"{name}: {len(groups)} groups in QGIS ("
                        + ", ".join(repr(g["name"]) for g in groups) + "), 1 expected")
    for g in groups:
        if g["name"] != dat["name"]:
            problems.append(f"{name}: group {g['name']!r}, the file names {dat['name']!r}")
        if g["scalar"] == dat["vector"]:
            problems.append(f"{name}: group {g['name']!r} is "
                            f"{'scalar' if g['scalar'] else 'vector'} in QGIS, "
                            f"{'vector' if dat['vector'] else 'scalar'} in the file")
        if not g["on_vertices"]:
            problems.append(f"{name}: group {g['name']!r} is not on the vertices in QGIS")

    # Each dataset QGIS shows is paired with the first unpaired step of the file at its time.
    unpaired = list(range(len(dat["steps"])))
    times, diffs, nan_nodes, nan_shown, flag_mismatches, range_bad = [], [], 0, set(), 0, []
    for g in groups:
        for d, ds in enumerate(g["datasets"]):
            times.append(f"{ds['time']:g}")
            match = next((s for s in unpaired if float(dat["steps"][s]["time"]) == ds["time"]),
                         None)
            if match is None:
                problems.append(f"{name}: QGIS dataset {d} of {g['name']!r} at time "
                                f"{ds['time']!r} has no step of the file at that time")
                continue
            unpaired.remove(match)
            step = dat["steps"][match]
            label = f"{name}: step at {float(step['time']):g}"
            want = step["values"].astype(np.float64)
            got = ds["values"]
            if got.shape != want.shape:
                problems.append(f"{label}: QGIS values of shape {got.shape}, file {want.shape}")
                continue
            want_nan, got_nan = np.isnan(want), np.isnan(got)
            nan_rows_want = want_nan.any(axis=-1) if want.ndim == 2 else want_nan
            nan_nodes += int(nan_rows_want.sum())
            for i in np.flatnonzero(nan_rows_want):
                shown_value = got[i]
                nan_shown.add("NaN" if np.all(np.isnan(shown_value)) else repr(shown_value))
            differ_nan = np.flatnonzero((want_nan != got_nan).reshape(len(want), -1).any(axis=1))
            if len(differ_nan):
                problems.append(f"{label}: not-a-number at different nodes, e.g. "
                                + "; ".join(f"node {i + 1}: file {step['values'][i]!r}, "
                                            f"QGIS {got[i]!r}" for i in differ_nan[:5])
                                + f" ({len(differ_nan)} nodes)")
            both = ~(want_nan | got_nan)
            delta = np.abs(np.where(both, got - np.where(both, want, 0), 0))
            diffs.append(float(delta.max()) if delta.size else 0.0)
            if diffs[-1] > 0:
                worst = np.argsort(-delta.reshape(len(want), -1).max(axis=1))[:5]
                problems.append(f"{label}: values differ by up to {diffs[-1]:g}, e.g. "
                                + "; ".join(f"node {i + 1}: file {step['values'][i]!r}, "
                                            f"QGIS {got[i]!r}" for i in worst if delta[i].max() > 0))
            flags = step["flags"] if step["flags"] is not None else np.ones(dat["cells"], np.uint8)
            differ = np.flatnonzero(flags != ds["active"])
            flag_mismatches += len(differ)
            if len(differ):
                problems.append(f"{label}: active flags differ at {len(differ)} cells, e.g. "
                                + ", ".join(f"cell {i + 1} file {flags[i]} QGIS {ds['active'][i]}"
                                            for i in differ[:5]))
            # The range QGIS offers for a colour ramp: that of the values, not-a-number left out.
            size = np.hypot(want[:, 0], want[:, 1]) if want.ndim == 2 else want
            finite = size[~np.isnan(size)]
            lo, hi = (float(finite.min()), float(finite.max())) if finite.size else (math.nan,) * 2
            if not (math.isclose(ds["minimum"], lo, rel_tol=1e-6, abs_tol=1e-9)
                    and math.isclose(ds["maximum"], hi, rel_tol=1e-6, abs_tol=1e-9)):
                range_bad.append(f"{float(step['time']):g}")
                problems.append(f"{label}: QGIS gives the range {ds['minimum']!r} to "
                                f"{ds['maximum']!r}, the values run from {lo!r} to {hi!r}")
    for s in unpaired:
        problems.append(f"{name}: the step at {float(dat['steps'][s]['time']):g} is not in QGIS")

    row["times"] = ",".join(times) or "-"
    row["diff"] = f"{max(diffs):g}" if diffs else "-"
    row["nan"] = f"{nan_nodes} ({'/'.join(sorted(nan_shown))})" if nan_nodes else "0"
    row["active"] = "agree" if flag_mismatches == 0 else f"{flag_mismatches} differ"
    row["range"] = "agree" if not range_bad else "differs at " + ",".join(range_bad)
    return row, problems


def run_tool(tool, folder, args):
    """Runs the tool in batch mode; the output's path, or None with the reason."""
    done = subprocess.run([str(tool), "-b", *args], cwd=folder, capture_output=True, text=True)
    lines = [line for line in done.stdout.splitlines() if line.strip()]
    last = lines[-1] if lines else ""
    found = re.match(r"Wrote (.+?): \d+ steps? \(", last)
    if done.returncode != 0 or not found:
        return None, f"exit status {done.returncode}, last line {last!r}"
    return folder / found.group(1), None


# ---- NetCDF files as mesh layers -----------------------------------------------------------

NETCDF_RUNS = [  # the tool's arguments after -b, and the datasets the file must hold
    (["-ugrid", "base_d.dat", "base_h.dat", "base_V.dat"], "base.nc",
     {"water depth": "base_d.dat", "water level": "base_h.dat", "velocity": "base_V.dat"}),
    (["-max", "base_d.dat", "design_d.dat", "--output", "peak.nc"], "peak.nc", {}),
]


def check_netcdf(qgis, tool, folder):
    """Rows and problems for the NetCDF files of the tool opened as mesh layers by themselves:
    the mesh's counts and reference, and every value and time of the datasets named against the
    .dat files (ordinary steps on the time axis, the 99999 step as a group of its own)."""
    rows, problems = [], []
    for args, name, datasets in NETCDF_RUNS:
        done = subprocess.run([str(tool), "-b", *args], cwd=folder, capture_output=True, text=True)
        if done.returncode != 0:
            problems.append(f"{name}: the tool failed: {done.stdout.strip().splitlines()[-1:]}")
            continue
        layer = qgis.QgsMeshLayer(str(folder / name), "mesh", "mdal")
        provider = layer.dataProvider() if layer.isValid() else None
        if provider is None or (provider.vertexCount(), provider.faceCount()) != (300, 504):
            shown = (provider.vertexCount(), provider.faceCount()) if provider else "nothing"
            problems.append(f"{name}: not opened as the mesh of 300 nodes and 504 cells ({shown})")
            rows.append({"output": name, "loaded": "no"})
            continue
        if layer.crs().authid() != "EPSG:25832":
            problems.append(f"{name}: the reference is {layer.crs().authid()!r}, not EPSG:25832")
        groups = {provider.datasetGroupMetadata(g).name(): g
                  for g in range(provider.datasetGroupCount())}
        worst, compared = 0.0, 0
        for group_name, dat_name in datasets.items():
            dat = read_dat(folder / dat_name)
            ordinary = [s for s in dat["steps"] if float(s["time"]) < 99998]
            g = groups.get(group_name)
            if g is None or provider.datasetCount(g) != len(ordinary):
                problems.append(f"{name}: no group {group_name!r} of {len(ordinary)} steps "
                                f"(groups: {sorted(groups)})")
                continue
            for d, step in enumerate(ordinary):
                index = qgis.QgsMeshDatasetIndex(g, d)
                if provider.datasetMetadata(index).time() != float(step["time"]):
                    problems.append(f"{name}: {group_name} step {d} at "
                                    f"{provider.datasetMetadata(index).time()} h, the file "
                                    f"{float(step['time'])} h")
                block = provider.datasetValues(index, 0, 300)
                if dat["vector"]:  # one group of vectors, from the x- and y-components
                    got = np.array([(block.value(i).x(), block.value(i).y()) for i in range(300)])
                else:
                    got = np.array([block.value(i).scalar() for i in range(300)])
                want = step["values"].astype(np.float64)
                both = ~(np.isnan(got) | np.isnan(want))
                if got.shape != want.shape:
                    problems.append(f"{name}: {group_name} values of shape {got.shape}, the "
                                    f"file's {want.shape}")
                    continue
                if (np.isnan(got) != np.isnan(want)).any():
                    problems.append(f"{name}: {group_name} at {float(step['time'])} h: "
                                    "not-a-number at different nodes")
                worst = max(worst, float(np.abs(got[both] - want[both]).max(initial=0.0)))
                compared += 1
        if worst > 0:
            problems.append(f"{name}: values differ by up to {worst:g}")
        rows.append({"output": name, "loaded": "yes", "groups": str(len(groups)),
                     "datasets": str(compared), "diff": f"{worst:g}", "active": "-",
                     "range": "-", "times": "as the .dat" if compared else "-", "nan": "-"})
    return rows, problems


def main(argv):
    if len(argv) != 3:
        print("usage: gis_check.py TOOL SCRATCH_FOLDER", file=sys.stderr)
        return 1
    tool, scratch = Path(argv[1]).resolve(), Path(argv[2]).resolve()
    try:
        from qgis import core as qgis
    except ImportError as error:
        print(f"needs python3-qgis for this interpreter ({sys.executable}): {error}",
              file=sys.stderr)
        return 1
    app = qgis.QgsApplication([], False)
    app.initQgis()
    if "mdal" not in qgis.QgsProviderRegistry.instance().providerList():
        print("QGIS has no mdal provider", file=sys.stderr)
        return 1

    folder = scratch / "flood"
    shutil.copytree(EXAMPLE, folder, dirs_exist_ok=True)
    print(f"QGIS {qgis.Qgis.QGIS_VERSION}; example copied to {folder}")
    rows, problems = [], []
    for args in RUNS:
        command = "kelvara -b " + " ".join(args)
        output, why = run_tool(tool, folder, args)
        if output is None:
            rows.append({"output": command, "loaded": "no run"})
            problems.append(f"{command}: {why}")
            continue
        mesh = folder / (args[-1].rsplit("_", 1)[0] + ".2dm")
        try:
            dat = read_dat(output)
        except ValueError as error:
            rows.append({"output": output.name, "loaded": "unread"})
            problems.append(f"{output.name}: the numpy reader cannot follow it: {error}")
            continue
        row, found = compare(output.name, dat, read_qgis(qgis, mesh, output))
        rows.append(row)
        problems += found
    found_rows, found = check_netcdf(qgis, tool, folder)
    rows += found_rows
    problems += found

    columns = [("output", "output"), ("loaded", "loaded"), ("groups", "groups"),
               ("datasets", "datasets"), ("times", "times in QGIS (h)"),
               ("diff", "max |QGIS-file|"), ("nan", "NaN node-steps (QGIS shows)"),
               ("active", "active flags"), ("range", "min/max")]
    widths = [max(len(title), *(len(str(r.get(key, ""))) for r in rows)) for key, title in columns]
    print("  ".join(title.ljust(w) for (_, title), w in zip(columns, widths)))
    for r in rows:
        print("  ".join(str(r.get(key, "")).ljust(w) for (key, _), w in zip(columns, widths)))
    print()
    for line in problems:
        print("DISAGREES: " + line)
    print("all outputs agree" if not problems else f"{len(problems)} disagreements")
    app.exitQgis()
    return 0 if not problems else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
