"""Times reading a dataset step by step into numpy (a benchmark, not a test).

    PYTHONPATH=build/python python3 bench/bench_python.py [--runs 7] <dataset.dat | folder>

Given a folder, it writes the benchmark case's depths there first (build/bench/generate_bench
--datasets d: 1,000,000 nodes, 100 hourly steps and the maxima, 605 MB in base_d.dat) unless
the folder holds them already. Three readers go through the file from the page cache, taking
turns, after one warming pass each; each figure is the median of --runs runs (wall time, and
processor time of all threads and children):
  cat         `cat file > /dev/null`: the time to get the bytes out of the page cache
  kelvara     for step in kelvara.open(file): every step's flags and values as numpy arrays
  np.fromfile a plain numpy reader: np.fromfile for the status, time, flags and values of each
              step (1-byte flags, the header as the tool writes it)
"""
import argparse
import os
import pathlib
import resource
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


def cpu_seconds():
    """Processor time of this process, its threads and its finished children."""
    me = resource.getrusage(resource.RUSAGE_SELF)
    children = resource.getrusage(resource.RUSAGE_CHILDREN)
    return me.ru_utime + me.ru_stime + children.ru_utime + children.ru_stime


def timed(readers, path, runs):
    """Median wall and processor seconds of each reader, the readers taking turns run by run so
    that a change in the machine's load falls on all of them alike."""
    for reader in readers.values():
        reader(path)  # warms the page cache and the allocator
    wall = {name: [] for name in readers}
    cpu = {name: [] for name in readers}
    for _ in range(runs):
        for name, reader in readers.items():
            start, start_cpu = time.perf_counter(), cpu_seconds()
            reader(path)
            wall[name].append(time.perf_counter() - start)
            cpu[name].append(cpu_seconds() - start_cpu)
    return ({name: statistics.median(t) for name, t in wall.items()},
            {name: statistics.median(t) for name, t in cpu.items()})


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
    steps, plain_steps = read_with_kelvara(path), read_with_fromfile(path)
    assert steps == plain_steps, (steps, plain_steps)
    readers = {"cat": read_with_cat, "kelvara": read_with_kelvara,
               "np.fromfile": read_with_fromfile}
    wall, cpu = timed(readers, path, args.runs)
    load = os.getloadavg()[0]
    print(f"{steps} steps; load average {load:.1f} at the end")
    print(f"{'reader':<12} {'s':>7} {'GB/s':>6} {'/ cat':>6} {'cpu s':>7}")
    for name in readers:
        seconds = wall[name]
        print(f"{name:<12} {seconds:7.3f} {size / seconds / 1e9:6.2f} "
              f"{seconds / wall['cat']:6.2f} {cpu[name]:7.3f}")
    ours = wall["kelvara"]
    print(f"kelvara within 1.5 x cat: {'yes' if ours <= 1.5 * wall['cat'] else 'no'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
