"""NetCDF files of runs, read back with xarray as their users read them: every value, flag, time
and mesh node equal to the .dat and .2dm inputs, and the UGRID and CF attributes in place.

The datasets are read (and, for the cases made here, written) with the small reader below,
written from the .dat layout alone, so that it shares no code with the writer under test.
The tool's own NetCDF files are checked the same way: -ugrid of the example, and the .nc
output of operations against their .dat output.
Environment: KELVARA_UGRID_CONVERT (the converter program), KELVARA_TOOL (the kelvara tool; its
tests are skipped without it), KELVARA_EXAMPLES (examples/flood).
"""
import os
import shutil
import struct
import subprocess

import numpy as np
import pytest
import xarray as xr

CONVERT = os.environ.get("KELVARA_UGRID_CONVERT", "kelvara_ugrid_convert")
TOOL = os.environ.get("KELVARA_TOOL")
EXAMPLES = os.environ.get("KELVARA_EXAMPLES",
                          os.path.join(os.path.dirname(__file__), "..", "..", "examples", "flood"))
NO_VALUE = -99998.0  # values at or below it are no value


# ---- the .dat layout, read and written -------------------------------------------------------

def read_dat(path):
    """Header and steps of a dataset: dict(nodes, cells, vector, units, steps=[(time, flags or
    None, values)]), values (nodes,) or (nodes, 2)."""
    data = open(path, "rb").read()
    at = 4  # 3000
    head = dict(nodes=0, cells=0, vector=False, units=0, flag_size=1)

    def i32():
        nonlocal at
        value = struct.unpack_from("<i", data, at)[0]
        at += 4
        return value

    while True:
        card = i32()
        if card in (100, 110, 150, 160):
            i32()
        elif card == 120:
            head["flag_size"] = i32()
        elif card == 130:
            head["vector"] = False
        elif card == 140:
            head["vector"] = True
        elif card == 170:
            head["nodes"] = i32()
        elif card == 180:
            head["cells"] = i32()
        elif card == 190:
            at += 40
        elif card == 240:
            at += head["flag_size"] + 8
        elif card == 250:
            head["units"] = i32()
        elif card in (200, 210):
            break
    flag_type = "<i4" if head["flag_size"] == 4 else "i1"
    steps = []
    while card == 200:
        status = np.frombuffer(data, flag_type, 1, at)[0]
        at += head["flag_size"]
        time = struct.unpack_from("<f", data, at)[0]
        at += 4
        flags = None
        if status != 0:
            flags = np.frombuffer(data, flag_type, head["cells"], at).astype(np.int8)
            at += head["cells"] * head["flag_size"]
        count = head["nodes"] * (2 if head["vector"] else 1)
        values = np.frombuffer(data, "<f4", count, at)
        at += count * 4
        steps.append((time, flags, values.reshape(-1, 2) if head["vector"] else values))
        card = i32()
    head["steps"] = steps
    return head


def write_dat(path, nodes, cells, steps, vector=False, units=None):
    """A dataset in the layout the tool writes: steps are (time, flags or None, values)."""
    out = [struct.pack("<iiiiiiii", 3000, 100, 3, 110, 4, 120, 1, 140 if vector else 130),
           struct.pack("<iiii", 170, nodes, 180, cells), struct.pack("<i", 190) + b"test".ljust(40)]
    if units is not None:
        out.append(struct.pack("<ii", 250, units))
    for time, flags, values in steps:
        out.append(struct.pack("<i", 200))
        if flags is None:
            out.append(struct.pack("<bf", 0, time))
        else:
            out.append(struct.pack("<bf", 1, time) + np.asarray(flags, "i1").tobytes())
        out.append(np.asarray(values, "<f4").tobytes())
    out.append(struct.pack("<i", 210))
    with open(path, "wb") as f:
        f.write(b"".join(out))


def read_2dm(path):
    """Nodes {number: (x, y, z)} and cells {number: [corners]} of a mesh."""
    nodes, cells = {}, {}
    for line in open(path):
        words = line.replace(",", " ").split()
        if not words:
            continue
        if words[0] == "ND":
            nodes[int(words[1])] = tuple(float(w) for w in words[2:5])
        elif words[0] in ("E3T", "E4Q"):
            n = 3 if words[0] == "E3T" else 4
            cells[int(words[1])] = [int(w) for w in words[2:2 + n]]
    return nodes, cells


# ---- running the converter -------------------------------------------------------------------

def convert(folder, output, mesh, datasets, reference=None):
    command = [CONVERT] + (["--reference-time", reference] if reference else [])
    command += [output, mesh] + list(datasets)
    return subprocess.run(command, cwd=folder, capture_output=True, text=True, timeout=120)


def tool(folder, *arguments):
    return subprocess.run([TOOL, "-b"] + list(arguments), cwd=folder, capture_output=True,
                          text=True, timeout=120)


def copy_example(folder, names=("base.2dm", "base_d.dat", "base_h.dat", "base_V.dat")):
    for name in names:
        shutil.copy(os.path.join(EXAMPLES, name), folder / name)


# The example run in base.nc, written by the converter or by the tool's -ugrid.
@pytest.fixture(scope="module", params=["converter", "kelvara -ugrid"])
def example(tmp_path_factory, request):
    folder = tmp_path_factory.mktemp("example")
    copy_example(folder)
    if request.param == "converter":
        done = convert(folder, "base.nc", "base.2dm", ["base_d.dat", "base_h.dat", "base_V.dat"])
    else:
        if not TOOL:
            pytest.skip("KELVARA_TOOL not given")
        done = tool(folder, "-ugrid", "base_d.dat", "base_h.dat", "base_V.dat")
    assert done.returncode == 0, done.stdout + done.stderr
    return folder


def expected(values):
    """What xarray shows for .dat values: no value as not a number."""
    values = np.asarray(values, np.float32)
    return np.where(values <= NO_VALUE, np.nan, values)


# ---- the example, value by value --------------------------------------------------------------

@pytest.mark.parametrize("dat, names", [
    ("base_d.dat", ["depth"]),
    ("base_h.dat", ["water_level"]),
    ("base_V.dat", ["velocity_x", "velocity_y"]),
])
def test_every_value_and_flag_equals_the_dataset(example, dat, names):
    run = read_dat(example / dat)
    stem = names[0].rsplit("_", 1)[0] if run["vector"] else names[0]
    with xr.open_dataset(example / "base.nc", decode_times=False) as ds:
        hours = ds["time"].values
        ordinary = [s for s in run["steps"] if abs(s[0]) < 99998]
        assert list(hours) == [np.float64(s[0]) for s in ordinary]
        for index, (time, flags, values) in enumerate(ordinary):
            for component, name in enumerate(names):
                got = ds[name].isel(time=index).values
                want = values[:, component] if run["vector"] else values
                np.testing.assert_array_equal(got, expected(want), err_msg=f"{name} at {time}")
            np.testing.assert_array_equal(ds[stem + "_active"].isel(time=index).values, flags)
        summaries = [s for s in run["steps"] if abs(s[0]) >= 99998]
        assert [s[0] for s in summaries] == [99999.0]
        _, flags, values = summaries[0]
        for component, name in enumerate(names):
            variable = ds[name + "_maximum"]
            assert variable.dims == ("nmesh2d_node",)
            want = values[:, component] if run["vector"] else values
            np.testing.assert_array_equal(variable.values, expected(want))
            assert variable.attrs["step_time"] == 99999.0
            assert variable.attrs["cell_methods"] == "time: maximum"
        np.testing.assert_array_equal(ds[stem + "_maximum_active"].values, flags)


def test_mesh_nodes_and_faces_equal_the_2dm(example):
    nodes, cells = read_2dm(example / "base.2dm")
    with xr.open_dataset(example / "base.nc", mask_and_scale=False) as ds:
        xyz = np.array([nodes[n] for n in sorted(nodes)])
        np.testing.assert_array_equal(ds["mesh2d_node_x"].values, xyz[:, 0])
        np.testing.assert_array_equal(ds["mesh2d_node_y"].values, xyz[:, 1])
        np.testing.assert_array_equal(ds["mesh2d_node_z"].values, xyz[:, 2].astype(np.float32))
        faces = ds["mesh2d_face_nodes"].values
        assert faces.shape == (len(cells), 4)
        x, y = xyz[:, 0], xyz[:, 1]
        for number in sorted(cells):
            corners = cells[number]
            row = faces[number - 1]
            used = row[row != -1]
            assert len(used) == len(corners)
            assert sorted(used + 1) == sorted(corners)
            # the same ring, anticlockwise
            shoelace = sum(x[used[k]] * y[used[(k + 1) % len(used)]] -
                           x[used[(k + 1) % len(used)]] * y[used[k]] for k in range(len(used)))
            assert shoelace > 0, f"cell {number}"
            start = corners.index(used[0] + 1)
            ring = corners[start:] + corners[:start]
            assert list(used + 1) in (ring, [ring[0]] + ring[1:][::-1])


def test_ugrid_and_cf_attributes(example):
    with xr.open_dataset(example / "base.nc", decode_times=False, mask_and_scale=False) as ds:
        assert ds.attrs["Conventions"] == "CF-1.8 UGRID-1.0"
        topology = ds["mesh2d"].attrs
        assert topology["cf_role"] == "mesh_topology"
        assert topology["topology_dimension"] == 2
        assert topology["node_coordinates"] == "mesh2d_node_x mesh2d_node_y"
        assert topology["face_node_connectivity"] == "mesh2d_face_nodes"
        faces = ds["mesh2d_face_nodes"].attrs
        assert faces["cf_role"] == "face_node_connectivity"
        assert faces["start_index"] == 0 and faces["_FillValue"] == -1
        assert ds["time"].attrs["units"] == "hours since 2000-01-01 00:00:00"
        assert ds["time"].attrs["calendar"] == "standard"
        for name, standard, units in [("depth", None, "m"),
                                      ("water_level", "water_surface_height_above_reference_datum", "m"),
                                      ("velocity_x", "sea_water_x_velocity", "m s-1"),
                                      ("velocity_y", "sea_water_y_velocity", "m s-1")]:
            attrs = ds[name].attrs
            assert ds[name].dims == ("time", "nmesh2d_node")
            assert attrs["mesh"] == "mesh2d" and attrs["location"] == "node"
            assert attrs["_FillValue"] == np.float32(-99999)
            assert attrs.get("standard_name") == standard
            assert attrs["units"] == units
        flags = ds["depth_active"]
        assert flags.dims == ("time", "nmesh2d_face")
        assert flags.attrs["location"] == "face"
        assert flags.attrs["flag_meanings"] == "inactive active"
        assert "projected_coordinate_system" not in ds.variables  # copied without its .prj


def test_time_decodes_from_the_reference_time(example, tmp_path):
    for name in ("base.2dm", "base_d.dat"):
        shutil.copy(example / name, tmp_path / name)
    done = convert(tmp_path, "r.nc", "base.2dm", ["base_d.dat"], reference="2024-02-29T06:30")
    assert done.returncode == 0, done.stdout
    with xr.open_dataset(tmp_path / "r.nc") as ds:
        assert ds["time"].values[0] == np.datetime64("2024-02-29T06:30:00")
        assert ds["time"].values[12] == np.datetime64("2024-02-29T18:30:00")
    refused = convert(tmp_path, "bad.nc", "base.2dm", ["base_d.dat"], reference="2023-02-29")
    assert refused.returncode == 1
    assert 'ERROR - The reference time "2023-02-29"' in refused.stdout
    assert not (tmp_path / "bad.nc").exists()


# ---- cases made here ---------------------------------------------------------------------------

# Two triangles and a quadrilateral, one triangle given clockwise; a coordinate reference.
MESH = """MESH2D
ND 1 0 0 1.5
ND 2 10 0 2.5
ND 3 10 10 3.5
ND 4 0 10 -99999
ND 5 20 0 4
ND 6 20 10 5
E3T 1 1 2 3 1
E3T 2 1 4 3 1
E4Q 3 2 5 6 3 1
"""
PRJ = ('PROJCS["test grid",GEOGCS["WGS 84",DATUM["WGS_1984",SPHEROID["WGS 84",6378137,'
       '298.257223563]],PRIMEM["Greenwich",0],UNIT["degree",0.0174532925199433]],'
       'PROJECTION["Transverse_Mercator"],UNIT["metre",1]]\n')


def test_datasets_of_different_times_share_one_increasing_axis(tmp_path):
    (tmp_path / "run.2dm").write_text(MESH)
    (tmp_path / "run.prj").write_text(PRJ)
    depth = [(0.0, [1, 0, 1], [0.0, 1.0, -99999.0, 2.5, -99998.5, 3.0]),
             (1.0, None, [0.5, 1.5, 2.0, 2.5, 3.5, 4.5]),
             (111111.0, [1, 1, 1], [9.0] * 6)]
    # in minutes: 30 and 90 minutes are 0.5 and 1.5 h
    level = [(30.0, [0, 0, 1], np.arange(6)), (90.0, [1, 1, 1], np.arange(6) + 10)]
    speed = [(1.5, [1, 1, 0], np.arange(12).reshape(6, 2))]
    write_dat(tmp_path / "run_d.dat", 6, 3, depth)
    write_dat(tmp_path / "run_h.dat", 6, 3, level, units=1)
    write_dat(tmp_path / "run_q.dat", 6, 3, speed, vector=True)
    done = convert(tmp_path, "run.nc", "run.2dm", ["run_d.dat", "run_h.dat", "run_q.dat"])
    assert done.returncode == 0, done.stdout
    assert "WARNING - No coordinate reference" not in done.stdout
    with xr.open_dataset(tmp_path / "run.nc", decode_times=False) as ds:
        assert list(ds["time"].values) == [0.0, 0.5, 1.0, 1.5]
        nan = np.nan
        np.testing.assert_array_equal(ds["depth"].values, [
            [0.0, 1.0, nan, 2.5, nan, 3.0], [nan] * 6, [0.5, 1.5, 2.0, 2.5, 3.5, 4.5], [nan] * 6])
        np.testing.assert_array_equal(ds["depth_summary"].values, [9.0] * 6)
        assert "units" not in ds["depth_summary"].attrs  # a summary's units are its own
        # a step without flags, and the times a dataset has no step at, are fill
        np.testing.assert_array_equal(ds["depth_active"].values,
                                      [[1, 0, 1], [nan] * 3, [nan] * 3, [nan] * 3])
        np.testing.assert_array_equal(ds["water_level"].values[[1, 3]],
                                      [np.arange(6), np.arange(6) + 10])
        assert np.isnan(ds["water_level"].values[[0, 2]]).all()
        # an unknown vector keeps its suffix as its name and has no standard name
        np.testing.assert_array_equal(ds["q_x"].values[3], [0, 2, 4, 6, 8, 10])
        np.testing.assert_array_equal(ds["q_y"].values[3], [1, 3, 5, 7, 9, 11])
        assert "standard_name" not in ds["q_x"].attrs
        # the bed elevation's no value
        assert np.isnan(ds["mesh2d_node_z"].values[3])
        # the coordinate reference
        # (a projected one under the name the desktop GIS's mesh reader looks for)
        crs = ds["projected_coordinate_system"]
        assert crs.attrs["crs_wkt"] == crs.attrs["spatial_ref"] == crs.attrs["wkt"] == PRJ.strip()
        assert ds["depth"].attrs["grid_mapping"] == "projected_coordinate_system"
        assert ds["mesh2d_node_x"].attrs["standard_name"] == "projection_x_coordinate"
        assert ds["mesh2d_node_y"].attrs["units"] == "m"
    with xr.open_dataset(tmp_path / "run.nc", mask_and_scale=False) as ds:
        assert ds["mesh2d_face_nodes"].values.tolist() == [[0, 1, 2, -1], [0, 2, 3, -1],
                                                             [1, 4, 5, 2]]


@pytest.mark.parametrize("what, datasets, files, message", [
    ("a dataset of other nodes", ["bad_d.dat"], {"bad_d.dat": (5, 3)}, "has 5 nodes and 3 cells"),
    ("a dataset of other cells", ["bad_d.dat"], {"bad_d.dat": (6, 2)}, "has 6 nodes and 2 cells"),
    ("a missing dataset", ["none_d.dat"], {}, "none_d.dat"),
    ("two steps at one time", ["twice_d.dat"], {"twice_d.dat": (6, 3, 2)}, "two steps at time 0"),
])
def test_a_failed_conversion_leaves_no_file(tmp_path, what, datasets, files, message):
    (tmp_path / "run.2dm").write_text(MESH)
    (tmp_path / "run.nc").write_bytes(b"earlier")
    for name, shape in files.items():
        nodes, cells = shape[:2]
        repeats = shape[2] if len(shape) > 2 else 1
        write_dat(tmp_path / name, nodes, cells, [(0.0, [1] * cells, [1.0] * nodes)] * repeats)
    done = convert(tmp_path, "run.nc", "run.2dm", datasets)
    assert done.returncode == 1, what
    assert "ERROR - " in done.stdout and message in done.stdout, done.stdout
    assert (tmp_path / "run.nc").read_bytes() == b"earlier", what
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted(["run.2dm", "run.nc"] + list(files))


def test_mesh_alone(tmp_path):
    (tmp_path / "run.2dm").write_text(MESH)
    done = convert(tmp_path, "mesh.nc", "run.2dm", [])
    assert done.returncode == 0, done.stdout
    assert "WARNING - No coordinate reference" in done.stdout
    with xr.open_dataset(tmp_path / "mesh.nc") as ds:
        assert ds.sizes["nmesh2d_node"] == 6 and ds.sizes["nmesh2d_face"] == 3
        assert ds.sizes["time"] == 0


# ---- the .nc output of an operation, against its .dat output ----------------------------------

@pytest.mark.parametrize("arguments, ordinary, named", [
    (["-max", "base_d.dat", "design_d.dat"], "depth",
     {111111.0: "depth_maximum", 222222.0: "depth_input_number"}),
    (["-hazard", "base_d.dat"], "value",
     {100011.0: "depth_velocity", 100012.0: "hazard_class", 100013.0: "hazard_rating",
      100014.0: "uk_hazard_class"}),
    (["-trim1", "base_V.dat"], "velocity", {99999.0: "velocity_maximum"}),
])
def test_an_operations_nc_output_equals_its_dat_output(tmp_path, arguments, ordinary, named):
    if not TOOL:
        pytest.skip("KELVARA_TOOL not given")
    copy_example(tmp_path, ("base.2dm", "base_d.dat", "base_V.dat", "design_d.dat"))
    for output in ("out.dat", "out.nc"):
        done = tool(tmp_path, *arguments, "--output", output)
        assert done.returncode == 0, done.stdout + done.stderr
    run = read_dat(tmp_path / "out.dat")
    with xr.open_dataset(tmp_path / "out.nc", decode_times=False) as ds:
        assert ds.attrs["Conventions"] == "CF-1.8 UGRID-1.0"
        assert ds["mesh2d"].attrs["cf_role"] == "mesh_topology"
        ordinary_steps = [s for s in run["steps"] if abs(s[0]) < 99998 and s[0] not in named]
        assert list(ds["time"].values) == [np.float64(s[0]) for s in ordinary_steps]
        parts = [ordinary + "_x", ordinary + "_y"] if run["vector"] else [ordinary]
        for index, (time, flags, values) in enumerate(ordinary_steps):
            for component, name in enumerate(parts):
                want = values[:, component] if run["vector"] else values
                np.testing.assert_array_equal(ds[name].isel(time=index).values, expected(want),
                                              err_msg=f"{name} at {time}")
            np.testing.assert_array_equal(ds[ordinary + "_active"].isel(time=index).values, flags)
        for time, flags, values in run["steps"]:
            if time not in named:
                continue
            stem = named[time]
            names = [stem.replace("_maximum", "_x_maximum"),
                     stem.replace("_maximum", "_y_maximum")] if run["vector"] else [stem]
            for component, name in enumerate(names):
                variable = ds[name]
                assert variable.dims == ("nmesh2d_node",), name
                assert variable.attrs["mesh"] == "mesh2d" and variable.attrs["location"] == "node"
                assert variable.attrs["step_time"] == np.float32(time)
                want = values[:, component] if run["vector"] else values
                np.testing.assert_array_equal(variable.values.astype(np.float32), expected(want),
                                              err_msg=name)
            np.testing.assert_array_equal(ds[stem + "_active"].values, flags)
    if "-max" in arguments:
        with xr.open_dataset(tmp_path / "out.nc", mask_and_scale=False) as ds:
            numbers = ds["depth_input_number"]
            assert numbers.dtype == np.int32  # input numbers are whole
            assert set(np.unique(numbers.values)) <= {-99999, 1, 2}
