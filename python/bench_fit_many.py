#!/usr/bin/python3
"""Throughput of the Python module: fit_many on many short series, the Dask
example's grid against a serial Python loop over fit, and korvalinde.xarray.fit
on a Dask array on a local cluster of 2 worker processes.

    PYTHONPATH=build/release/python /usr/bin/python3 python/bench_fit_many.py
"""

import argparse
import pathlib
import sys
import tempfile
import time

import numpy as np

# This file's folder holds the package's sources without the compiled module:
# import the built package from PYTHONPATH instead.
HERE = pathlib.Path(__file__).resolve().parent
sys.path = [d for d in sys.path if pathlib.Path(d or ".").resolve() != HERE]
import korvalinde  # noqa: E402


def best_of(repeat, f):
    """Least wall time of `repeat` calls, and the process CPU time of that call."""
    best = None
    for _ in range(repeat):
        t, c = time.perf_counter(), time.process_time()
        f()
        t, c = time.perf_counter() - t, time.process_time() - c
        best = min(best or (t, c), (t, c))
    return best


def xarray_on_cluster(n, years, profiles):
    """korvalinde.xarray.fit, mle + lmom, on an n x n x years Dask array in
    100 x 100 chunks, on a LocalCluster of 2 single-threaded worker processes."""
    import dask.array as da
    import xarray as xr
    from dask.distributed import Client, LocalCluster

    import korvalinde.xarray

    grid = xr.DataArray(da.random.RandomState(1).gumbel(30, 5, size=(n, n, years),
                                                        chunks=(100, 100, -1)),
                        dims=("y", "x", "time"))
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None) as cluster, Client(cluster) as client:
        t = time.perf_counter()
        ds = korvalinde.xarray.fit(grid, methods=("mle", "lmom"), profiles=profiles).compute()
        t = time.perf_counter() - t
        rss = client.run(lambda: __import__("psutil").Process().memory_info().rss)
    print(f"korvalinde.xarray.fit, {n}x{n}x{years} Dask array (100x100 chunks), mle+lmom, "
          f"{'with' if profiles else 'without'} profile bounds, "
          f"LocalCluster of 2 processes: {t:.1f} s, {n * n / t:,.0f} series/s, "
          f"{int(ds.ok.sum())} fitted; worker resident memory after: "
          + ", ".join(f"{v / 2**20:.0f} MB" for v in rss.values()))


def covariate_fits(series, values, threads, repeat):
    """fit_many of the GEV with a location trend on one shared covariate (a
    global-mean temperature): likelihood-ratio tests, profile bounds of the
    100-year level at the first and last years and of its change; then one
    series of 10^6 values."""
    rng = np.random.default_rng(2)
    years = np.arange(values, dtype=float)
    gmst = 0.02 * years + 0.1 * np.sin(years)
    u = rng.uniform(size=(series, values))
    a = 30 + 2 * gmst - 5 * np.log(-np.log(u)) + rng.uniform(0, 10, (series, 1))
    for trend in (False, True):
        for t in sorted({1, threads}):
            wall, cpu = best_of(repeat, lambda: korvalinde.fit_many(
                a, methods=(), periods=(100,), covariates={"gmst": gmst}, threads=t, trend=trend))
            print(f"fit_many on a covariate, {series} series of {values} values, GEV location trend, "
                  f"LR tests, profile bounds of the 100-year level at 2 points and of its change"
                  f"{', trend tests' if trend else ''}, {t} thread(s): {wall:.3f} s ({cpu:.3f} s CPU), "
                  f"{series / wall:,.0f} series/s")
    n = 10 ** 6
    c = np.linspace(0, 1, n)
    x = 30 + 2 * c - 5 * np.log(-np.log(rng.uniform(size=n)))
    wall, cpu = best_of(repeat, lambda: korvalinde.fit_many(
        x, methods=(), periods=(100,), covariates={"c": c}, threads=threads, trend=False))
    print(f"fit_many on a covariate, one series of 10^6 values, the same: {wall:.3f} s ({cpu:.3f} s CPU)")


def families(a, threads, repeat):
    """fit_many's L-moment fits of GLO, GEV, GNO and PE3 together: the default
    record (influence-function errors, levels and goodness of fit, no p-values,
    as for the GEV), the lean one (gof=False, se=False: parameters and the
    levels of the ten default periods) and the lean one with the 100-year level
    only; target 200,000 series/s on 2 cores for 10^5 series of 50 values."""
    cases = ((False, None, "errors, goodness of fit"),
             (True, None, "parameters and levels only"),
             (True, (100,), "parameters and the 100-year level"))
    for lean, periods, what in cases:
        kw = {} if periods is None else {"periods": periods}
        for t in sorted({1, threads}):
            wall, cpu = best_of(repeat, lambda: korvalinde.fit_many(
                a, methods=("lmom",), threads=t, dist="glo,gev,gno,pe3", gof=not lean, se=not lean,
                **kw))
            print(f"fit_many, {len(a)} series of {a.shape[1]} values, glo,gev,gno,pe3 lmom, "
                  f"{what}, {t} thread(s): {wall:.3f} s ({cpu:.3f} s CPU, "
                  f"{cpu / len(a) * 1e6:.1f} us a series), {len(a) / wall:,.0f} series/s")


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--series", type=int, default=100_000)
    p.add_argument("--values", type=int, default=50)
    p.add_argument("--gev-values", type=int, default=100, help="values of the GEV cases' series")
    p.add_argument("--threads", type=int, default=2)
    p.add_argument("--repeat", type=int, default=3)
    p.add_argument("--grid", type=int, default=200, help="grid side of the Dask run (0: skip)")
    p.add_argument("--xarray", type=int, default=1000,
                   help="grid side of the korvalinde.xarray.fit run (0: skip)")
    p.add_argument("--xarray-profiles", action="store_true",
                   help="the korvalinde.xarray.fit run with the profile bounds (slow)")
    p.add_argument("--covariates", type=int, default=20_000,
                   help="series of the fits on a covariate (0: skip)")
    p.add_argument("--covariates-only", action="store_true", help="only the fits on a covariate")
    p.add_argument("--families-only", action="store_true",
                   help="only the L-moment fits of glo, gev, gno and pe3")
    args = p.parse_args(argv)
    if args.covariates > 0 and not args.families_only:
        covariate_fits(args.covariates, 60, args.threads, args.repeat)
    if args.covariates_only:
        return 0

    rng = np.random.default_rng(1)
    a = rng.gumbel(rng.uniform(10, 30, (args.series, 1)), rng.uniform(1, 5, (args.series, 1)),
                   (args.series, args.values))
    families(a, args.threads, args.repeat)
    if args.families_only:
        return 0
    m = max(1, args.series // 10)
    g = rng.gumbel(rng.uniform(10, 30, (m, 1)), rng.uniform(1, 5, (m, 1)), (m, args.gev_values))
    # methods, distribution, profile bounds, share of the series (the slow cases on fewer)
    cases = [(("ls", "mle", "lmom"), "gumbel", True, 10), (("mle", "lmom"), "gumbel", True, 10),
             (("mle", "lmom"), "gumbel", False, 1), (("lmom",), "gumbel", True, 1),
             # The GEV on longer series: mle alone is the GEV check with the GEV's profile bounds.
             (("mle",), "gev", True, 10), (("mle", "lmom"), "gev", True, 10),
             (("mle", "lmom"), "gumbel,gev", True, 10), (("mle", "lmom"), "gev", False, 10)]
    for methods, dist, profiles, share in cases:
        part = (g if "gev" in dist else a)[:max(1, args.series // share)]
        for threads in sorted({1, args.threads}):
            t, cpu = best_of(args.repeat, lambda: korvalinde.fit_many(
                part, methods=methods, threads=threads, dist=dist, profiles=profiles))
            # CPU time shows when other processes held the cores.
            extras = ["goodness of fit with p-values"]
            if "mle" in methods:
                extras += ["Gumbel check"] + (["profile bounds"] if profiles else [])
            print(f"fit_many, {len(part)} series of {part.shape[1]} values, {dist} "
                  f"{'+'.join(methods)}, {', '.join(extras)}, {threads} thread(s): {t:.3f} s "
                  f"({cpu:.3f} s CPU, {cpu / len(part) * 1e6:.1f} us a series), "
                  f"{len(part) / t:,.0f} series/s")
    if args.xarray > 0:
        xarray_on_cluster(args.xarray, args.values, args.xarray_profiles)

    if args.grid <= 0:
        return 0
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "examples" / "python"))
    import return_levels_dask as example

    n = args.grid
    maxima = example.make_grid(n, n, 50).values
    t = time.perf_counter()
    for i in range(n):
        for j in range(n):
            korvalinde.fit(maxima[i, j], methods=("mle",), periods=(100,))
    serial = time.perf_counter() - t
    print(f"serial Python loop over fit, {n}x{n}x50 grid, mle: {serial:.2f} s")
    t, _ = best_of(1, lambda: korvalinde.fit_many(maxima, methods=("mle",), periods=(100,),
                                                  threads=args.threads))
    print(f"fit_many on the same grid in this process, {args.threads} thread(s): {t:.2f} s")
    with tempfile.TemporaryDirectory() as out:
        t = time.perf_counter()
        example.main(["--ny", str(n), "--nx", str(n), "--out", out])
        print(f"Dask example (2 worker processes, cluster start included): "
              f"{time.perf_counter() - t:.2f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
