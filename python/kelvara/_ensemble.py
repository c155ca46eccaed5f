"""kelvara.ensemble: design floods from an ensemble of runs, as numpy arrays."""
import os

from . import _kelvara


class Ensemble:
    """The statistics of an ensemble, node by node (arrays of float32, NaN where no run has a
    value):

    envelope: the greatest group statistic; critical_group: its group's number (1 = groups[0]);
    representative_run: the number of that group's representative run (1 = runs[0]), the first
    run of the group in list order whose peak is at or above the group's statistic;
    percentiles: shape (len(percentile_levels), nodes), each over all runs; group_statistics:
    shape (len(groups), nodes) with per_group, else (0, nodes).

    statistic ("median" or "mean"), percentile_levels, groups (names in order of first
    appearance), runs (paths in list order), run_groups (each run's group), missing (each run:
    left out with skip_missing), nodes and cells.
    """

    def __init__(self, answer, statistic, percentile_levels):
        self.envelope = answer["envelope"]
        self.critical_group = answer["critical_group"]
        self.representative_run = answer["representative_run"]
        self.percentiles = answer["percentiles"]
        self.group_statistics = answer["group_statistics"]
        self.groups = list(answer["groups"])
        self.runs = list(answer["runs"])
        self.run_groups = list(answer["run_groups"])
        self.missing = list(answer["missing"])
        self.statistic = statistic
        self.percentile_levels = tuple(percentile_levels)
        self.nodes = int(self.envelope.shape[0])
        self.cells = int(answer["cells"])

    def __repr__(self):
        return (f"<kelvara.Ensemble {self.statistic} of {len(self.runs)} runs in "
                f"{len(self.groups)} groups, {self.nodes} nodes>")


def _error_text(lines):
    """The error's "ERROR - " line and the non-empty lines after it."""
    for i, line in enumerate(lines):
        if line.startswith("ERROR - "):
            return "\n".join([line] + [rest for rest in lines[i + 1:] if rest])
    return next((line for line in lines if line), "ERROR - kelvara stopped")


def ensemble(runs, stat="median", percentiles=(), per_group=False, skip_missing=False,
             output=None, mesh=None):
    """Computes the design-flood statistics of an ensemble and returns an Ensemble of arrays.

    runs: the path of a list file ("group,file" lines, relative names from the list's folder,
    as the tool's --runs), or a sequence of (group, path) pairs in list order. Each run's peak
    at every node is read once (its 99999 step, a maximum's 111111 step, else the greatest of
    its steps; water levels only where wet, vectors by magnitude). stat: "median" or "mean",
    per group; percentiles: levels from 0 to 100 over all runs, as numpy's percentile (linear);
    per_group: also each group's statistic; skip_missing: a run that cannot be read becomes a
    kelvara.Warning and a gap instead of an error. output: also write the dataset there (with
    its CSV legend beside it), as the tool's -ensemble does; nothing is written without it.
    mesh: the mesh of water levels, instead of the one beside the first run.

    Bad runs raise kelvara.Error naming the file; wrong arguments raise TypeError or
    ValueError. Each WARNING (a group of one run, a run left out) is a kelvara.Warning.
    """
    from . import Error, _checked, _warn

    if stat not in ("median", "mean"):
        raise ValueError(f"stat must be 'median' or 'mean', not {stat!r}")
    if isinstance(percentiles, (str, bytes)):
        raise TypeError("percentiles is a sequence of numbers, for example (10, 50, 90)")
    levels = [float(p) for p in percentiles]
    for p in levels:
        if not 0.0 <= p <= 100.0:
            raise ValueError(f"each percentile must be from 0 to 100, not {p!r}")
    list_path, pairs = "", []
    if isinstance(runs, (str, bytes, os.PathLike)):
        list_path = _checked(runs)
        if not list_path:
            raise ValueError("runs names no list file")
    else:
        for item in runs:
            try:
                group, path = item
            except (TypeError, ValueError):
                raise TypeError("runs is a list file's path or a sequence of (group, path) "
                                f"pairs, not an item {item!r}") from None
            pairs.append((_checked(group), _checked(path)))
        if not pairs:
            raise ValueError("runs names no run")
    answer = _kelvara.ensemble(list_path, pairs, stat, levels, bool(per_group),
                               bool(skip_missing), _checked(output) if output is not None else "",
                               _checked(mesh) if mesh is not None else "")
    for text in answer["warnings"]:
        _warn(text)
    if "error" in answer:
        lines = list(answer["error"])
        raise Error(_error_text(lines), lines, 1, answer["code"])
    return Ensemble(answer, stat, levels)
