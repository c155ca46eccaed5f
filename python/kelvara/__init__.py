"""kelvara in Python: read and write binary mesh datasets (.dat) one time step at a time as numpy
arrays, read .2dm meshes, and run kelvara operations in this interpreter.

    import kelvara
    with kelvara.open("run_d.dat") as run:
        for step in run:
            print(step.time, step.values.max())

Every function takes paths as str or os.PathLike (a path with a NUL character raises
ValueError, as open() does). Bad input raises kelvara.Error with the message the kelvara tool
prints for it; wrong arguments raise TypeError or ValueError. Every WARNING the tool would print
becomes a Python warning of the class kelvara.Warning, pointing at the line of your code that
made the call.
"""
import collections
import os
import sys
import warnings

import numpy as np

from . import _kelvara

__all__ = ["Calculation", "Dataset", "Error", "Mesh", "RunResult", "Step", "calc", "open",
           "read_mesh", "run", "write"]


class Error(Exception):
    """A failure reported by kelvara: str(error) is the tool's error, its "ERROR - " line and
    the lines that go with it (one per line of text: the file it cannot read, the line of a
    mesh it stopped at, how to write an argument).

    Attributes: lines, every console line the failed read or run printed (the error's lines
    among them); status, the exit status the tool would have ended with (1); code, what kind
    of failure it is: "usage" (the command line), "bad_input" (a file that cannot be read),
    "wrong_input" (inputs that do not suit the operation or each other), "missing_file",
    "output", "memory", "console", "internal" or "file_table".
    """

    def __init__(self, message, lines=(), status=1, code="internal"):
        """message: the error's text; lines: the console lines; status: the exit status;
        code: the kind of failure."""
        super().__init__(message)
        self.lines = list(lines)
        self.status = status
        self.code = code


# Not in __all__: "from kelvara import *" would hide Python's own Warning.
class Warning(UserWarning):
    """A WARNING of kelvara (str(warning) is the tool's "WARNING - " line and the indented
    lines that go on with it): the result stands, but look at it, as the tool's user would."""


def _warn(text):
    """Issues one of the core's warnings against the first caller outside this package, so that
    the warning names the user's line whichever of the package's functions the call went
    through (the compiled module adds no frame of its own)."""
    level = 2
    frame = sys._getframe(1)
    while frame is not None and frame.f_globals.get("__name__", "").partition(".")[0] == __name__:
        frame = frame.f_back
        level += 1
    warnings.warn(text, Warning, stacklevel=level - 1 if frame is None else level)


_kelvara._set_error_type(Error)
_kelvara._set_warn(_warn)


def _checked(word):
    """A path or argument as str (bytes decoded as the system does), refused when it holds a
    NUL character, which would cut the name where the core passes it on."""
    word = os.fspath(word)
    if not isinstance(word, str):
        word = os.fsdecode(word)
    if "\0" in word:
        raise ValueError(f"embedded null character in {word!r}")
    return word


Step = collections.namedtuple("Step", "time flags values")
Step.__doc__ = """One time step of a dataset.

time: the output time (float, in the dataset's time unit, usually hours).
flags: numpy uint8 array of one flag per cell (1 = active/wet, 0 = inactive/dry), or None
    when the step carries no flags.
values: numpy float32 array, shape (nodes,) for a scalar dataset, (nodes, 2) for a vector one.
"""

Mesh = collections.namedtuple("Mesh", "nodes cells")
Mesh.__doc__ = """A .2dm mesh.

nodes: numpy float64 array of shape (n, 3): x, y and ground elevation z of node i + 1 in row i
    (NaN in all three for a number that no node line gives).
cells: numpy int32 array of shape (m, 4): the corner node numbers (from 1, as in the file and
    in the order the file gives them) of cell i + 1 in row i; 0 in the fourth column of a
    triangle.
"""

RunResult = collections.namedtuple("RunResult", "status lines")
RunResult.__doc__ = """The outcome of a finished kelvara run: status (0) and its console lines."""


class Dataset:
    """A dataset open for reading, one time step at a time (see kelvara.open)."""

    def __init__(self, path):
        """Opens path and reads its header; raises kelvara.Error for a file that cannot be read."""
        self._path = _checked(path)
        self._reader = _kelvara.Reader(self._path)

    @property
    def path(self):
        """The path the dataset was opened with."""
        return self._path

    @property
    def nodes(self):
        """Number of nodes: the length of each step's values."""
        return self._reader.nodes

    @property
    def cells(self):
        """Number of cells: the length of each step's flags."""
        return self._reader.cells

    @property
    def vector(self):
        """True for a vector dataset (two values per node), False for a scalar one."""
        return self._reader.vector

    @property
    def name(self):
        """The dataset's own name (header card 190), without trailing blanks."""
        return self._reader.name

    @property
    def flag_size(self):
        """Bytes of each activity flag in the file: 1, or 4 for some producers."""
        return self._reader.flag_size

    @property
    def time_unit(self):
        """Unit of the step times: "hours" unless the header says "minutes", "seconds" or "days"
        (or "unknown" for a unit code kelvara does not know)."""
        return self._reader.time_unit

    @property
    def closed(self):
        """True once the dataset has been closed."""
        return self._reader.closed

    def read_step(self):
        """Reads the next time step: a Step, or None after the last one.

        Each call returns new arrays, which stay valid after later reads; only one step is held
        by the reader at any time, whatever the size of the file. A file that ends after a whole
        step without its end card (a run still being written) gives its steps and a
        kelvara.Warning; a damaged one raises kelvara.Error.
        """
        got = self._reader.next_step()
        if got is None:
            return None
        return Step(*got)

    def __iter__(self):
        """Iterates over the steps not yet read (a dataset is read once, like a file)."""
        return self

    def __next__(self):
        """The next Step; StopIteration after the last one."""
        step = self.read_step()
        if step is None:
            raise StopIteration
        return step

    def close(self):
        """Closes the file; later reads raise ValueError. Closing twice does nothing."""
        self._reader.close()

    def __enter__(self):
        """A dataset is its own context manager: closed when the with block ends."""
        return self

    def __exit__(self, *exc):
        """Closes the dataset."""
        self.close()
        return False

    def __repr__(self):
        """Path, kind and size of the dataset."""
        kind = "vector" if self.vector else "scalar"
        state = "closed" if self.closed else "open"
        return (f"<kelvara.Dataset {self._path!r} {kind}, {self.nodes} nodes, "
                f"{self.cells} cells, {state}>")


def open(path):
    """Opens a dataset (.dat) for reading and returns a Dataset.

    The header is read at once: nodes, cells, vector, name, flag_size and time_unit. Iterating
    over the Dataset yields one Step (time, flags, values) at a time; memory stays that of one
    step whatever the size of the file. Use it in a with block so that the file is closed:

        with kelvara.open("run_d.dat") as run:
            depth = max(step.values.max() for step in run)

    Raises kelvara.Error when the file is missing or is not a dataset kelvara can read, and
    ValueError for a path with a NUL character. The tool's warnings about the header (times in
    a unit other than hours) come as kelvara.Warning.
    """
    return Dataset(path)


def _as_flags(flags, cells):
    """Flags as uint8 for the writer, which writes 1 for every non-zero byte."""
    if flags is None:
        return None
    array = np.asarray(flags)
    if array.shape != (cells,):
        raise ValueError(f"flags of shape {array.shape}, expected ({cells},)")
    if array.dtype in (np.bool_, np.int8, np.uint8):
        return np.ascontiguousarray(array).view(np.uint8)
    return (array != 0).view(np.uint8)


def _as_values(values, nodes, vector):
    """Values as a C-ordered float32 array of the dataset's shape."""
    array = np.ascontiguousarray(values, dtype=np.float32)
    expected = (nodes, 2) if vector else (nodes,)
    if array.shape != expected:
        raise ValueError(f"values of shape {array.shape}, expected {expected}")
    return array


def write(path, nodes, cells, vector, name, steps):
    """Writes a dataset (.dat) that kelvara and other mesh tools read; returns the step count.

    nodes, cells: the mesh's node and cell counts. vector: False for one value per node, True
    for two. name: the dataset's own name (at most 40 ASCII characters, no / or \\, trailing
    blanks dropped; None takes the file's bare name, as the tool does). steps: any iterable of (time, flags, values), each written
    as it comes: values of shape (nodes,) or, for vectors, (nodes, 2), converted to float32;
    flags one per cell (non-zero = active), or None for a step whose cells are all active.

    The file appears under its name only once it is complete: should anything fail on the way
    (a step of the wrong shape, an exception of the iterable, a full disk) nothing is left
    behind and an earlier file of that name stays as it was.
    """
    path = _checked(path)
    nodes, cells, vector = int(nodes), int(cells), bool(vector)
    if nodes < 0 or cells < 0:
        raise ValueError("nodes and cells must not be negative")
    if name is None:
        name = os.path.splitext(os.path.basename(path))[0][-40:]
    if (not isinstance(name, str) or len(name) > 40 or not name.isascii()
            or "/" in name or "\\" in name):
        raise ValueError("name must be text of at most 40 ASCII characters, without / or \\")
    writer = _kelvara.Writer(path, nodes, cells, vector, name)
    count = 0
    try:
        for step in steps:
            time, flags, values = step
            writer.write_step(float(time), _as_flags(flags, cells),
                              _as_values(values, nodes, vector))
            count += 1
        writer.finish()
    finally:
        writer.abandon()  # after finish() this does nothing
    return count


def read_mesh(path):
    """Reads a .2dm mesh and returns a Mesh (nodes, cells) of numpy arrays.

    nodes has shape (n, 3) and dtype float64 (x, y, z of node i + 1 in row i); cells has shape
    (m, 4) and dtype int32 (corner node numbers in file order, 0 in the fourth column of a
    triangle). The mesh is checked as the tool checks it; an unreadable line, a corner that
    names no node, or a file that holds no mesh (not a single node line: text, a dataset, an
    empty file) raises kelvara.Error naming the file. Nodes that no line gives come with a
    kelvara.Warning.
    """
    return Mesh(*_kelvara.read_mesh(_checked(path)))


def run(arguments):
    """Runs one kelvara command line in this process and returns RunResult(status, lines).

    arguments: the command line without the program name, as a list of str or os.PathLike,
    for example ["-max", "run_h.dat"]. The run is in batch mode: it never reads standard input
    and never waits. Its console lines are returned, not printed; each of its WARNINGs is also
    issued as a kelvara.Warning. A run that ends on an error raises kelvara.Error (its message
    the error's lines, its lines the whole console) and leaves no output behind; the
    interpreter goes on and the next run starts afresh. "--help" or "--version" anywhere
    answers as the tool does: RunResult(0, the usage text or the version line), and no run.
    An argument with a NUL character raises ValueError.
    """
    if isinstance(arguments, (str, bytes)) or isinstance(arguments, os.PathLike):
        raise TypeError("run takes a list of arguments, for example ['-max', 'run_h.dat']")
    words = [_checked(argument) for argument in arguments]
    status, lines = _kelvara.run(words)
    return RunResult(status, lines)


from ._ensemble import Ensemble, ensemble  # noqa: E402  (uses the names above)

__all__ += ["Ensemble", "ensemble"]
class Calculation:
    """A quantity computed one output time after another (see kelvara.calc): iterating yields
    Step(time, flags, values), values float32 of shape (nodes,)."""

    def __init__(self, expr, path, depth=None, level=None, velocity=None, mesh=None):
        """Checks expr and opens path and the datasets and mesh that expr reads."""
        named = [None if p is None else _checked(p) for p in (depth, level, velocity, mesh)]
        self._core = _kelvara.Calculation(expr, _checked(path), *named)

    @property
    def nodes(self):
        """Number of nodes: the length of each step's values."""
        return self._core.nodes

    @property
    def cells(self):
        """Number of cells: the length of each step's flags."""
        return self._core.cells

    @property
    def files(self):
        """The files read: the run's dataset first, then those the expression reads."""
        return list(self._core.files)

    @property
    def not_a_number(self):
        """How many values so far came out not a number or infinite (stored as NaN)."""
        return self._core.not_a_number

    def __iter__(self):
        return self

    def __next__(self):
        """The next Step; StopIteration after the last one."""
        got = self._core.next_step()
        if got is None:
            raise StopIteration
        return Step(*got)

    def close(self):
        """Closes the files. Closing twice does nothing."""
        self._core.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


def calc(expr, path, *, depth=None, level=None, velocity=None, mesh=None, output=None):
    """Computes a quantity node by node at every output time of a run, as the tool's -calc does.

    expr: an expression of d (depth), h (water level), v (speed), vx, vy (the velocity's
    components), z (bed elevation, from the mesh), t (the step's time in hours) and g (9.81),
    such as "d*v^2" or "if(d > 0.3 && v > 1, 1, 0)", or a ready-made quantity: "depth",
    "dv", "dv2", "froude", "energy". path: the run's dataset (run_d.dat, run_h.dat or
    run_V.dat), whose steps give the times (its 99999 maxima and other summary steps are left
    out). The datasets the expression reads are found beside it by the tool's name rule
    (run_d.dat, run_h.dat, run_V.dat, run.2dm), or named with depth, level, velocity and mesh.

    Without output, returns a Calculation: iterate over it for Step(time, flags, values), one
    step in memory at a time; flags are active where any dataset read is active. With output,
    writes the steps to that dataset (safely: nothing is left on a failure) and returns the
    number of steps written. Values that come out not a number or infinite are stored as NaN
    and counted in one kelvara.Warning. A bad expression, a missing file or datasets that do
    not suit raise kelvara.Error.
    """
    calculation = Calculation(expr, path, depth=depth, level=level, velocity=velocity, mesh=mesh)
    if output is None:
        return calculation
    with calculation:
        output = _checked(output)
        for read in calculation.files:
            if os.path.abspath(read) == os.path.abspath(output) or (
                    os.path.exists(output) and os.path.samefile(read, output)):
                raise Error(f"ERROR - The output file \"{output}\" would replace the input "
                            f"\"{read}\". Give the output another name.", code="output")
        return write(output, calculation.nodes, calculation.cells, False, None, calculation)
