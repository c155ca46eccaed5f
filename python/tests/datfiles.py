"""Test-side writer and reader of binary mesh datasets, written from the format alone.

They share no code with the package under test, so that a fault in one is not hidden by the
same fault in the other. Small files only: the reader keeps every step in memory.
"""
import struct

import numpy as np


def header_bytes(nodes, cells, vector, name, flag_size=1, reference_time=None,
                 time_units=None, extra_cards=(), order=None):
    """The cards of a header, as the tool writes them unless told otherwise.

    reference_time (card 240) and time_units (card 250) are added when given; extra_cards are
    bare card numbers placed before card 170; order=\"counts-first\" puts 170 and 180 ahead of
    the rest, as some producers do.
    """
    out = [struct.pack("<i", 3000)]
    counts = struct.pack("<iiii", 170, nodes, 180, cells)
    if order == "counts-first":
        out.append(counts)
    out.append(struct.pack("<iiiiii", 100, 3, 110, 4, 120, flag_size))
    out.append(struct.pack("<i", 140 if vector else 130))
    for card in extra_cards:
        out.append(struct.pack("<i", card))
    if order != "counts-first":
        out.append(counts)
    encoded = name.encode("ascii")
    out.append(struct.pack("<i", 190) + encoded.ljust(40, b" "))
    if reference_time is not None:
        out.append(struct.pack("<i", 240) + _flag(flag_size, 1) + struct.pack("<d", reference_time))
    if time_units is not None:
        out.append(struct.pack("<ii", 250, time_units))
    return b"".join(out)


def _flag(flag_size, value):
    return struct.pack("<i", value) if flag_size == 4 else struct.pack("<b", value)


def step_bytes(time, flags, values, flag_size=1):
    """Card 200 and one step: flags None gives a step without flags (status 0)."""
    parts = [struct.pack("<i", 200)]
    if flags is None:
        parts.append(_flag(flag_size, 0) + struct.pack("<f", time))
    else:
        parts.append(_flag(flag_size, 1) + struct.pack("<f", time))
        dtype = "<i4" if flag_size == 4 else "i1"
        parts.append(np.asarray(flags).astype(dtype).tobytes())
    parts.append(np.asarray(values, dtype="<f4").tobytes())  # (nodes, 2) is x1 y1 x2 y2 ...
    return b"".join(parts)


def dataset_bytes(nodes, cells, vector, name, steps, flag_size=1, end=True, **header):
    """A whole dataset: header, every (time, flags, values) step and, when end, card 210."""
    out = [header_bytes(nodes, cells, vector, name, flag_size=flag_size, **header)]
    for time, flags, values in steps:
        out.append(step_bytes(time, flags, values, flag_size))
    if end:
        out.append(struct.pack("<i", 210))
    return b"".join(out)


def write_dataset(path, *args, **kwargs):
    data = dataset_bytes(*args, **kwargs)
    with open(path, "wb") as f:
        f.write(data)
    return data


def read_dataset(path):
    """(header dict, [(time, flags or None, values)]) of a small dataset of 1-byte flags."""
    data = open(path, "rb").read()
    pos = 0
    header = {"vector": False, "name": None, "flag_size": 1}

    def take(fmt):
        nonlocal pos
        value = struct.unpack_from(fmt, data, pos)
        pos += struct.calcsize(fmt)
        return value[0] if len(value) == 1 else value

    card = None
    while card != 200:
        card = take("<i")
        if card in (100, 110, 150, 160):
            take("<i")
        elif card == 120:
            header["flag_size"] = take("<i")
        elif card in (130, 140):
            header["vector"] = card == 140
        elif card == 170:
            header["nodes"] = take("<i")
        elif card == 180:
            header["cells"] = take("<i")
        elif card == 190:
            header["name"] = data[pos:pos + 40].decode("ascii").rstrip(" \0")
            pos += 40
    steps = []
    nodes, cells = header["nodes"], header["cells"]
    width = 2 if header["vector"] else 1
    while card == 200:
        status, time = take("<bf")
        flags = None
        if status == 1:
            flags = np.frombuffer(data, np.uint8, cells, pos).copy()
            pos += cells
        values = np.frombuffer(data, "<f4", nodes * width, pos).copy()
        pos += 4 * nodes * width
        steps.append((time, flags, values.reshape(nodes, 2) if width == 2 else values))
        card = take("<i") if pos < len(data) else 210
    assert card == 210 and pos == len(data), "trailing bytes after the end card"
    return header, steps
