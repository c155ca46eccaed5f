#!/usr/bin/python3
# Draws the README's picture of the bundled example's map layers, made by the tool alone:
#   - the peak depth as a grid (-grid2 -t99999: a GeoTIFF),
#   - the depth extent at 0.1, 0.3 and 1 m (-extent0.1,0.3,1 -t99999: a GeoPackage),
#   - the UK hazard classes of the base run on pasture (-hazard --land-use pasture --output
#     hazard.gpkg).
#
#   /usr/bin/python3 scripts/map_picture.py build/kelvara [docs/images/example_map.png]
#
# Needs GDAL's Python bindings and matplotlib (Debian: python3-gdal python3-matplotlib). The
# runs are made in a scratch copy of examples/flood, which is removed afterwards.
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
from matplotlib.patches import Patch, PathPatch  # noqa: E402
from matplotlib.path import Path as DrawnPath  # noqa: E402
from osgeo import gdal, ogr  # noqa: E402

gdal.UseExceptions()
ogr.UseExceptions()

ROOT = Path(__file__).resolve().parent.parent
EXAMPLE = ROOT / "examples" / "flood"
EXTENT_COLOURS = {0.1: "#c6dbef", 0.3: "#6baed6", 1.0: "#08519c"}
UK_COLOURS = {1: "#a1d99b", 2: "#fed976", 3: "#fd8d3c", 4: "#bd0026"}


def run(tool, folder, arguments):
    """Runs the tool in batch mode in folder; stops the script when the run fails."""
    done = subprocess.run([tool, "-b", *arguments], cwd=folder, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f"kelvara {' '.join(arguments)} failed:\n{done.stdout}{done.stderr}")


def ring_path(rings):
    """One drawn path of an outer ring and its holes."""
    vertices, codes = [], []
    for ring in rings:
        points = ring.GetPoints()
        vertices.extend((p[0], p[1]) for p in points)
        codes.extend([DrawnPath.MOVETO] + [DrawnPath.LINETO] * (len(points) - 2)
                     + [DrawnPath.CLOSEPOLY])
    return DrawnPath(vertices, codes)


def draw_features(axes, layer, colour_of):
    """Fills each feature's polygons (holes kept) with the colour its fields give."""
    for feature in layer:
        colour = colour_of(feature)
        geometry = feature.GetGeometryRef()
        if colour is None or geometry is None or geometry.IsEmpty():
            continue
        for p in range(geometry.GetGeometryCount()):
            polygon = geometry.GetGeometryRef(p)
            rings = [polygon.GetGeometryRef(r) for r in range(polygon.GetGeometryCount())]
            axes.add_patch(PathPatch(ring_path(rings), facecolor=colour, edgecolor="none"))


def layer_named(source, prefix):
    for i in range(source.GetLayerCount()):
        if source.GetLayer(i).GetName().startswith(prefix):
            return source.GetLayer(i)
    sys.exit(f"no layer {prefix}* in {source.GetDescription()}")


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__ or "usage: map_picture.py KELVARA [PNG]")
    tool = str(Path(sys.argv[1]).resolve())
    picture = Path(sys.argv[2]) if len(sys.argv) > 2 else ROOT / "docs" / "images" / "example_map.png"
    with tempfile.TemporaryDirectory() as scratch:
        folder = Path(scratch) / "flood"
        shutil.copytree(EXAMPLE, folder)
        run(tool, folder, ["-grid2", "-t99999", "base_d.dat"])
        run(tool, folder, ["-extent0.1,0.3,1", "-t99999", "base_d.dat"])
        run(tool, folder, ["-hazard", "--land-use", "pasture", "base_d.dat", "--output", "hazard.gpkg"])

        grid = gdal.Open(str(folder / "base_d(grid2).tif"))
        band = grid.GetRasterBand(1)
        depth = band.ReadAsArray().astype(float)
        nodata = band.GetNoDataValue()
        if nodata is not None:
            depth[depth == nodata] = np.nan
        depth[~np.isfinite(depth) | (depth <= 0.0)] = np.nan
        x0, dx, _, y0, _, dy = grid.GetGeoTransform()
        bounds = (x0, x0 + dx * grid.RasterXSize, y0 + dy * grid.RasterYSize, y0)

        figure, panels = plt.subplots(3, 1, figsize=(7.4, 6.6), sharex=True)
        shown = panels[0].imshow(depth, extent=bounds, cmap="Blues", interpolation="nearest")
        bar = figure.colorbar(shown, ax=panels[0], fraction=0.03, pad=0.01)
        bar.set_label("m", fontsize=7)
        bar.ax.tick_params(labelsize=7)
        panels[0].set_title("Peak depth, grid of 2 m cells (-grid2 -t99999)", fontsize=9)

        extents = ogr.Open(str(folder / "base_d(extent0.1,0.3,1).gpkg"))
        draw_features(panels[1], layer_named(extents, "extent"),
                      lambda f: EXTENT_COLOURS.get(round(f.GetField("threshold"), 3)))
        panels[1].legend(handles=[Patch(color=c, label=f"≥ {t:g} m")
                                  for t, c in EXTENT_COLOURS.items()],
                         loc="upper left", bbox_to_anchor=(1.0, 1.0), fontsize=7, frameon=False)
        panels[1].set_title("Depth extent at 0.1, 0.3 and 1 m (-extent0.1,0.3,1 -t99999)",
                            fontsize=9)

        hazard = ogr.Open(str(folder / "hazard.gpkg"))
        names = {}

        def uk_colour(feature):
            names[feature.GetField("class")] = feature.GetField("class_name")
            return UK_COLOURS.get(feature.GetField("class"))

        draw_features(panels[2], layer_named(hazard, "uk_hazard_class"), uk_colour)
        panels[2].legend(handles=[Patch(color=UK_COLOURS[k], label=names.get(k, str(k)))
                                  for k in sorted(UK_COLOURS)],
                         loc="upper left", bbox_to_anchor=(1.0, 1.0), fontsize=7, frameon=False)
        panels[2].set_title("UK hazard class, pasture (-hazard --land-use pasture --output hazard.gpkg)", fontsize=9)

        for axes in panels:
            axes.set_xlim(bounds[0], bounds[1])
            axes.set_ylim(bounds[2], bounds[3])
            axes.set_aspect("equal")
            axes.tick_params(labelsize=7)
            axes.ticklabel_format(useOffset=False, style="plain")
        figure.suptitle("The example's base run, mapped by kelvara alone", fontsize=10)
        figure.tight_layout()
        picture.parent.mkdir(parents=True, exist_ok=True)
        figure.savefig(picture, dpi=90)
    print(f"Wrote {picture}: {picture.stat().st_size} bytes")


if __name__ == "__main__":
    main()
