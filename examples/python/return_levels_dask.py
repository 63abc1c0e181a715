#!/usr/bin/python3
"""Return levels over a grid of annual maxima, fitted on a Dask cluster.

Makes a reproducible synthetic grid of annual maxima (Gumbel, with location
and scale varying smoothly over the grid) as an xarray DataArray backed by a
chunked Dask array, fits every cell with korvalinde.fit_many through
xarray.apply_ufunc on a local cluster of worker processes, and writes the
T-year return level and the width of its 95% interval as .npy files and as an
SVG heat map.

    PYTHONPATH=build/release/python /usr/bin/python3 \
        examples/python/return_levels_dask.py --ny 200 --nx 200 --years 50 --out out
"""

import argparse
import contextlib
import math
import os
import sys
import time
from xml.sax.saxutils import escape

import dask.array as da
import numpy as np
import xarray as xr
from dask.distributed import Client, LocalCluster

import korvalinde

SEED = 20261208


def make_grid(ny, nx, years, seed=SEED, chunk=100):
    """Annual maxima of ny x nx cells over `years` years, chunked by cells."""
    rng = np.random.default_rng(seed)
    y = np.linspace(0.0, 1.0, ny)[:, None]
    x = np.linspace(0.0, 1.0, nx)[None, :]
    loc = 30.0 + 10.0 * np.sin(np.pi * x) * np.cos(0.5 * np.pi * y) + 5.0 * y
    scale = 4.0 + 2.0 * x + 1.5 * np.sin(2.0 * np.pi * y) ** 2
    maxima = rng.gumbel(loc[..., None], scale[..., None], size=(ny, nx, years))
    return xr.DataArray(
        da.from_array(maxima, chunks=(chunk, chunk, -1)),
        dims=("y", "x", "year"),
        coords={"y": np.arange(ny), "x": np.arange(nx), "year": np.arange(years)},
        name="annual_maximum",
    )


def _level_and_width(block, period, method, bins, threads):
    r = korvalinde.fit_many(block, axis=-1, bins=bins, methods=(method,), periods=(period,),
                            threads=threads)
    return (r[f"{method}_rl"][..., 0],
            r[f"{method}_rl_upper"][..., 0] - r[f"{method}_rl_lower"][..., 0])


def return_level_map(maxima, period=100.0, method="mle", bins=50, threads=1):
    """Lazy T-year return level and 95% interval width of every cell."""
    level, width = xr.apply_ufunc(
        _level_and_width, maxima,
        input_core_dims=[["year"]], output_core_dims=[[], []],
        kwargs={"period": period, "method": method, "bins": bins, "threads": threads},
        dask="parallelized", output_dtypes=[np.float64, np.float64])
    return xr.Dataset({"level": level, "width": width})


# A perceptual blue-green-yellow ramp, interpolated between these stops.
_RAMP = [(68, 1, 84), (59, 82, 139), (33, 145, 140), (94, 201, 98), (253, 231, 37)]
_LEVELS = 64


def _colour(k):
    t = k / (_LEVELS - 1) * (len(_RAMP) - 1)
    i = min(int(t), len(_RAMP) - 2)
    f = t - i
    r, g, b = (round(a + (c - a) * f) for a, c in zip(_RAMP[i], _RAMP[i + 1]))
    return f"#{r:02x}{g:02x}{b:02x}"


def _fmt(v):
    return f"{v:.4g}"


def _panel(out, values, title, left, top, size):
    """One heat map, one path per colour (runs of equal colour merged), and a colour bar."""
    ny, nx = values.shape
    cell = size / max(nx, ny)
    finite = values[np.isfinite(values)]
    lo, hi = (float(finite.min()), float(finite.max())) if finite.size else (0.0, 1.0)
    span = hi - lo if hi > lo else 1.0
    out.append(f'<text x="{left}" y="{top - 8}" font-size="14">{escape(title)}</text>')
    runs = {}  # colour -> subpaths in cell units
    for j in range(ny):
        row = values[ny - 1 - j]  # north up
        keys = [(-1 if not math.isfinite(v) else
                 min(_LEVELS - 1, int((v - lo) / span * _LEVELS))) for v in row]
        i = 0
        while i < nx:
            end = i + 1
            while end < nx and keys[end] == keys[i]:
                end += 1
            runs.setdefault(keys[i], []).append(f"M{i} {j}h{end - i}v1h{i - end}z")
            i = end
    out.append(f'<g transform="translate({left} {top}) scale({cell:.6g})">')
    for k, parts in sorted(runs.items()):
        fill = "#bbbbbb" if k < 0 else _colour(k)
        out.append(f'<path fill="{fill}" d="{"".join(parts)}"/>')
    out.append("</g>")
    bar = left + nx * cell + 10
    step = ny * cell / _LEVELS
    for k in range(_LEVELS):
        y = top + (_LEVELS - 1 - k) * step
        out.append(f'<rect x="{bar}" y="{y:.2f}" width="14" height="{step + 0.05:.2f}" '
                   f'fill="{_colour(k)}"/>')
    out.append(f'<text x="{bar + 18}" y="{top + 10}" font-size="11">{_fmt(hi)}</text>')
    out.append(f'<text x="{bar + 18}" y="{top + ny * cell}" font-size="11">{_fmt(lo)}</text>')


def write_svg(path, panels, heading):
    """panels: (title, 2-D array) pairs, drawn side by side."""
    size, margin, gap = 400, 30, 110
    width = margin + len(panels) * (size + gap)
    height = size + 2 * margin + 30
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" version="1.1" width="{width}" '
           f'height="{height}" viewBox="0 0 {width} {height}" font-family="sans-serif">',
           f'<rect width="{width}" height="{height}" fill="white"/>',
           f'<text x="{margin}" y="20" font-size="15">{escape(heading)}</text>',
           '<g shape-rendering="crispEdges">']
    for n, (title, values) in enumerate(panels):
        _panel(out, np.asarray(values), title, margin + n * (size + gap), margin + 30, size)
    out.append("</g></svg>\n")
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(out))


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--ny", type=int, default=200, help="grid rows (default 200)")
    p.add_argument("--nx", type=int, default=200, help="grid columns (default 200)")
    p.add_argument("--years", type=int, default=50, help="annual maxima per cell (default 50)")
    p.add_argument("--chunk", type=int, default=100, help="cells per chunk side (default 100)")
    p.add_argument("--period", type=float, default=100.0, help="return period T (default 100)")
    p.add_argument("--method", choices=("ls", "mle", "lmom"), default="mle",
                   help="estimation method (default mle)")
    p.add_argument("--bins", type=int, default=50, help="histogram bins for ls (default 50)")
    p.add_argument("--workers", type=int, default=2, help="worker processes (default 2)")
    p.add_argument("--seed", type=int, default=SEED, help="random seed of the grid")
    p.add_argument("--out", default="return_levels", help="output directory")
    p.add_argument("--scheduler", default=None,
                   help="address of a running dask.distributed scheduler, e.g. "
                        "tcp://scheduler:8786 (default: a local cluster of --workers processes)")
    args = p.parse_args(argv)

    os.makedirs(args.out, exist_ok=True)
    maxima = make_grid(args.ny, args.nx, args.years, args.seed, args.chunk)
    start = time.perf_counter()
    if args.scheduler:
        # A real cluster: the same code, with the workers where the scheduler has them
        # (each needs the korvalinde module importable).
        cluster = contextlib.nullcontext(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               host="127.0.0.1", dashboard_address=None)
    with cluster as address, Client(address):
        ready = time.perf_counter()
        result = return_level_map(maxima, args.period, args.method, args.bins).compute()
        done = time.perf_counter()
    level = result["level"].values
    width = result["width"].values

    t = f"{args.period:g}"
    np.save(os.path.join(args.out, f"return_level_{t}.npy"), level)
    np.save(os.path.join(args.out, f"interval_width_{t}.npy"), width)
    write_svg(os.path.join(args.out, f"return_level_{t}.svg"),
              [(f"{t}-year return level ({args.method})", level),
               ("width of its 95% interval", width)],
              f"{args.ny} x {args.nx} cells, {args.years} annual maxima each")
    failed = int(np.count_nonzero(~np.isfinite(level)))
    print(f"fitted {args.ny * args.nx} cells in {done - ready:.2f} s "
          f"(cluster start {ready - start:.2f} s), {failed} without a level; "
          f"level {np.nanmin(level):.4g} to {np.nanmax(level):.4g}; written to {args.out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
