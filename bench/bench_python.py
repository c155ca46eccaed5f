"""Times reading a dataset step by step into numpy (a benchmark, not a test).

    PYTHONPATH=build/python python3 bench/bench_python.py [--runs 7] <dataset.dat | folder>

Given a folder, it writes the benchmark case's depths there first (build/bench/generate_bench
--datasets d: 1,000,000 nodes, 100 hourly steps and the maxima, 605 MB in base_d.dat) unless
the folder holds them already. Three readers go through the file from the page cache, each the
median of --runs runs after one warming pass:
  cat         `cat file > /dev/null`: the time to get the bytes out of the page cache
  kelvara     for step in kelvara.open(file): every step's flags and values as numpy arrays
  np.fromfile a plain numpy reader: np.fromfile for the status, time, flags and values of each
              step (1-byte flags, the header as the tool writes it)
"""
import argparse
import os
import pathlib
import statistics
import subprocess
import sys
import time

import numpy as np

import kelvara

REPOSITORY = pathlib.Path(__file__).resolve().parents[1]


def read_with_kelvara(path):
    steps = 0
    with kelvara.open(path) as ds:
        for step in ds:
            steps += 1
    return steps


def read_with_fromfile(path):
    """A reader as a modeller writes it: header cards, then np.fromfile step by step."""
    steps = 0
    with open(path, "rb") as f:
        nodes = cells = 0
        width = 1
        card = 0
        np.fromfile(f, "<i4", 1)  # the leading 3000
        while card != 200:
            got = np.fromfile(f, "<i4", 1)
            if got.size == 0:
                return steps
            card = int(got[0])
            if card in (100, 110, 120, 150, 160):
                np.fromfile(f, "<i4", 1)
            elif card == 140:
                width = 2
            elif card == 170:
                nodes = int(np.fromfile(f, "<i4", 1)[0])
            elif card == 180:
                cells = int(np.fromfile(f, "<i4", 1)[0])
            elif card == 190:
                f.read(40)
        while card == 200:
            status = np.fromfile(f, "i1", 1)[0]
            np.fromfile(f, "<f4", 1)  # the time
            if status == 1:
                np.fromfile(f, "u1", cells)
            values = np.fromfile(f, "<f4", nodes * width)
            if values.size != nodes * width:
                raise ValueError("file ends inside a step")
            steps += 1
            got = np.fromfile(f, "<i4", 1)
            card = int(got[0]) if got.size else 210
    return steps


def read_with_cat(path):
    subprocess.run(["cat", str(path)], stdout=subprocess.DEVNULL, check=True)
    return None


def timed(reader, path, runs):
    reader(path)  # warms the page cache and the allocator
    times = []
    result = None
    for _ in range(runs):
        start = time.perf_counter()
        result = reader(path)
        times.append(time.perf_counter() - start)
    return statistics.median(times), result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("path", help="a dataset, or a folder for the benchmark case's depths")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--build", default=str(REPOSITORY / "build"),
                        help="build folder with bench/generate_bench (default build/)")
    args = parser.parse_args()

    path = pathlib.Path(args.path)
    if path.is_dir() or not path.exists():
        dataset = path / "base_d.dat"
        if not dataset.exists():
            generator = pathlib.Path(args.build) / "bench" / "generate_bench"
            subprocess.run([str(generator), str(path), "--datasets", "d"], check=True)
        path = dataset
    size = path.stat().st_size
    print(f"{path}: {size / 1e6:.0f} MB; {os.cpu_count()} cores; median of {args.runs} runs")
    cat, _ = timed(read_with_cat, path, args.runs)
    ours, steps = timed(read_with_kelvara, path, args.runs)
    plain, plain_steps = timed(read_with_fromfile, path, args.runs)
    assert steps == plain_steps, (steps, plain_steps)
    print(f"{'reader':<12} {'s':>7} {'GB/s':>6} {'/ cat':>6}")
    for name, seconds in [("cat", cat), ("kelvara", ours), ("np.fromfile", plain)]:
        print(f"{name:<12} {seconds:7.3f} {size / seconds / 1e9:6.2f} {seconds / cat:6.2f}")
    print(f"{steps} steps; kelvara within 1.5 x cat: {'yes' if ours <= 1.5 * cat else 'no'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
