#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Seeds are small, valid inputs from which the fuzzer mutates its way into the odd corners; the
crash cases found later are kept beside them under names starting with "regression-".
Run again after changing a seed; files this script did not write are left alone.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
SEP = b"|NEXT|"


def i32(v):
    return struct.pack("<i", v)


def f32(v):
    return struct.pack("<f", v)


def header(nodes, cells, vector=False, name="seed", flag_size=1, extra=b""):
    out = i32(3000) + i32(100) + i32(3) + i32(110) + i32(4) + i32(120) + i32(flag_size)
    out += i32(140 if vector else 130) + extra
    out += i32(170) + i32(nodes) + i32(180) + i32(cells)
    out += i32(190) + name.encode().ljust(40, b" ")
    return out


def step(time, active, values, vector=False, status=1, flag_size=1):
    flag = (lambda v: i32(v)) if flag_size == 4 else (lambda v: struct.pack("<b", v))
    out = i32(200) + flag(status) + f32(time)
    if status == 1:
        out += b"".join(flag(a) for a in active)
    for v in values:
        out += f32(v[0]) + f32(v[1]) if vector else f32(v)
    return out


def dataset(times, levels, vector=False, flag_size=1, end=True, status=1):
    nodes = len(levels[0])
    out = header(nodes, 2, vector, flag_size=flag_size)
    for t, vals in zip(times, levels):
        values = [(v, v / 2) for v in vals] if vector else vals
        out += step(t, [1, 0] if t > 0 else [1, 1], values, vector, status, flag_size)
    return out + (i32(210) if end else b"")


MESH = (b"MESH2D\n"
        b"ND 1 0.0 0.0 10.0\n"
        b"ND 2 1.0 0.0 10.5\n"
        b"ND 3,1.0,1.0,11.0\n"
        b"ND 4 0.0 1.0 9.0\n"
        b"E3T 1 1 2 3 1\n"
        b"E3T 2 1 3 4 1\n"
        b"NS 1 2 -3\n")
QUAD_MESH = (b"MESH2D\r\n"
             b"ND 1 0 0 1\r\nND 2 1 0 1\r\nND 3 1 1 1\r\nND 4 0 1 1\r\n"
             b"E4Q 1 1 2 3 4 1\r\n")

LEVELS = [[10.2, 10.0, 11.5, 9.5], [10.8, 10.9, 11.8, 9.0]]
DEPTHS = [[0.2, 0.0, 0.5, 0.5], [0.8, 0.4, 0.8, 0.0]]

SCALAR = dataset([0.0, 1.0], LEVELS)
VECTOR = dataset([0.0, 1.0], DEPTHS, vector=True)
WIDE_FLAGS = dataset([0.0, 5.0], LEVELS, flag_size=4)
NO_FLAGS = dataset([1.0, 2.0], DEPTHS, status=0)
NO_END = dataset([1.0], LEVELS[:1], end=False)
HEADER_ONLY = header(4, 2) + i32(210)
SPECIAL_TIMES = dataset([1.0, 99999.1, 111111.0], LEVELS + LEVELS[:1])
TIME_UNITS = (header(4, 2, extra=i32(250) + i32(1) + i32(240) + struct.pack("<b", 1) +
                                 struct.pack("<d", 2451545.0))
              + step(60.0, [1, 1], LEVELS[0]) + i32(210))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    datasets = {"scalar": SCALAR, "vector": VECTOR, "wide-flags": WIDE_FLAGS,
                "no-flags": NO_FLAGS, "no-end": NO_END, "header-only": HEADER_ONLY,
                "summary-times": SPECIAL_TIMES, "time-units": TIME_UNITS}
    # fuzz_dataset: command byte (datasetCommands() of harness.h), first dataset, optionally the
    # second.
    for op in range(14):
        for name, data in datasets.items():
            write("fuzz_dataset", "op%02d-%s" % (op, name), bytes([op]) + data)
    write("fuzz_dataset", "op00-two-runs", bytes([0]) + SCALAR + SEP + NO_END)
    write("fuzz_dataset", "op09-two-runs", bytes([9]) + SCALAR + SEP + SPECIAL_TIMES)
    write("fuzz_dataset", "op10-mixed", bytes([10]) + SCALAR + SEP + WIDE_FLAGS)
    # fuzz_dataset_memory: the same inputs, read from memory.
    for op in range(14):
        for name, data in datasets.items():
            write("fuzz_dataset_memory", "op%02d-%s" % (op, name), bytes([op]) + data)
    write("fuzz_dataset_memory", "op00-two-runs", bytes([0]) + SCALAR + SEP + NO_END)
    write("fuzz_dataset_memory", "op10-mixed", bytes([10]) + SCALAR + SEP + WIDE_FLAGS)

    # fuzz_water_level: command byte, run_h.dat, run.2dm, base_h.dat, base.2dm, run_d.dat,
    # base_d.dat.
    depth = dataset([0.0, 1.0], DEPTHS)
    for op in range(8):
        write("fuzz_water_level", "op%d-levels" % op,
              bytes([op]) + SCALAR + SEP + MESH + SEP + WIDE_FLAGS)
        write("fuzz_water_level", "op%d-companions" % op,
              bytes([op]) + SCALAR + SEP + MESH + SEP + SCALAR + SEP + MESH + SEP + depth +
              SEP + NO_FLAGS)
    write("fuzz_water_level", "op0-quad", bytes([0]) + header(4, 1) +
          step(1.0, [1], LEVELS[0]) + i32(210) + SEP + QUAD_MESH)
    write("fuzz_water_level", "op3-no-mesh", bytes([3]) + SCALAR)

    # fuzz_mesh: node count, cell count, mesh text.
    write("fuzz_mesh", "triangles", bytes([4, 2]) + MESH)
    write("fuzz_mesh", "quad", bytes([4, 1]) + QUAD_MESH)
    write("fuzz_mesh", "missing-node", bytes([5, 2]) + MESH)
    write("fuzz_mesh", "bad-line", bytes([4, 2]) + MESH + b"ND 5 1.0\n")
    write("fuzz_mesh", "long-line", bytes([4, 2]) + b"ND 1 " + b"0" * 120 + b" 1 2\n" + MESH)

    # fuzz_command_line: arguments separated by NUL bytes.
    lines = [
        ["-b", "-con", "a_d.dat", "b_d.dat"],
        ["-k99999", "run_h.dat"], ["-r99999.5", "run_h.dat"], ["-trim2", "x_V.dat"],
        ["-va", "x_V.dat"], ["-dur0.3", "-ddur0.5", "-t10", "a_h.dat", "b_h.dat"],
        ["-dif", "-nowetdry", "a_d.dat", "b_d.dat", "c.dat"], ["-times", "a.dat"],
        ["-max", "-t1e2", "a_h.dat"], ["-tim"], ["-b"], [], ["-ddur1", "a.dat", "b.dat"],
        ["-k 1,5", "a.dat"], ["-BOGUS", "-nowetdry"],
    ]
    for n, args in enumerate(lines):
        write("fuzz_command_line", "args%02d" % n, b"\0".join(a.encode() for a in args))

    # fuzz_lines and fuzz_values: the text comes last in the input; the numbers are taken from
    # its end, so plain text seeds are enough.
    texts = [b"Read File == x.csv ! comment", b"  12.5, 3 ,abc", b"X, Y ,Depth",
             b"Timestep == 2\n# note\n\tRead GIS Z == a.mif\n",
             b"a, \"b c\" ,d", b"Depth = 2.5, Width = 3", b"1.5 2e3,-4 ! x",
             b"name='quoted', value = 1d3 /"]
    for n, text in enumerate(texts):
        write("fuzz_lines", "text%d" % n, text)
        write("fuzz_values", "text%d" % n, text)

    # fuzz_run_list: a list's text, then --percentiles, then --reference-time.
    lists = {
        "header-quotes": [b'group,file\n# comment\n1h,"run, one_d.dat"\n "2 h" , b_d.dat\n'
                          b'1h,"say ""hi""_d.dat"\r\n', b"10,50,90", b"2000-01-01 00:00:00"],
        "folders": [b"1h,C:\\runs\\a_d.dat\n2h,..\\b_d.dat\n  \n9h,/abs//c_d.dat", b" 0 , 100 ",
                    b"2024-02-29T12:30"],
        "bad-line": [b"1h,a.dat\nno comma here\n", b"50,101", b"2023-02-29"],
        "open-quote": [b'1h,"a.dat\n2h,b.dat', b"", b" 1999-12-31 "],
        "regression-quoted-blank-file": [b'1h," "\n', b"1e1,,5", b"2000-13-01"],
    }
    for name, parts in lists.items():
        write("fuzz_run_list", name, SEP.join(parts))

    # fuzz_extent: the target takes its numbers from the input's end, each from one byte, so a
    # seed is the bytes in the order taken, reversed. Thresholds (by index): 0, 0.5, 1, 0.1, -1,
    # 2.5, 1e-30, 3e38; node values: 0 and 1 the thresholds, 2 and 3 just above and below the
    # first, then 0, 1, 2, 3, 0.25, -2, NaN, inf, -inf, -99999, 1e30, the smallest float.
    def extent(first, second, shape, nodes, squares=(), free=(), flags=(), size=None):
        taken = [first, second, shape]
        if shape & 8:
            taken += [size[0] - 1, size[1] - 1]
        else:
            taken.append(len(nodes) - 3)
        for coordinate, value in nodes:
            taken += [coordinate, value]
        taken += list(squares)
        taken.append(len(free) - (0 if shape & 8 else 1))
        for corners in free:
            taken.append(1 if len(corners) == 4 else 0)
            taken += [n - 1 for n in corners]
        taken += list(flags)
        return bytes(reversed(taken))

    def grid(values):  # 4 x 4 nodes at their grid points
        return [(0, v) for v in values]

    rising = [4, 8, 5, 6] * 4  # 0, 0.25, 1, 2 along x
    hole = [6, 6, 6, 6, 6, 4, 4, 6, 6, 4, 4, 6, 6, 6, 6, 6]
    write("fuzz_extent", "quads-rising", extent(1, 2, 8, grid(rising), [1, 2, 3] * 3, size=(3, 3)))
    write("fuzz_extent", "triangles-hole", extent(1, 5, 8, grid(hole), [4, 5] * 4 + [1], size=(3, 3)))
    write("fuzz_extent", "all-at-threshold", extent(2, 0, 8, grid([0] * 16), [4, 5, 4] * 3, size=(3, 3)))
    write("fuzz_extent", "no-values", extent(1, 1, 8, grid([10, 11, 12, 13, 14, 15, 2, 3] * 2),
                                             [1] * 9, size=(3, 3)))
    write("fuzz_extent", "classes-flags-far", extent(0, 1, 15, grid([4, 5, 6, 7, 5, 5] * 3)[:16],
                                                     [1, 4, 0, 2, 5, 3, 1, 1, 4], flags=[1, 0, 3] * 4,
                                                     size=(3, 3)))
    write("fuzz_extent", "moved-node", extent(1, 2, 8, [(0, 5)] * 4 + [(0xE5, 7)] + [(0, 4)] * 11,
                                              [1] * 9, free=[(1, 2, 3)], size=(3, 3)))
    write("fuzz_extent", "free-repeated-corners", extent(
        1, 4, 0, [(0, 5), (1, 6), (4, 7), (5, 4), (2, 0), (0xF9, 5)],
        free=[(1, 2, 3), (1, 1, 2), (2, 3, 4, 4), (1, 3, 5), (3, 2, 4), (6, 1, 2)]))


if __name__ == "__main__":
    main()
