#!/usr/bin/python3
"""Throughput of the Python module: fit_many on many short series, and the Dask
example's grid against a serial Python loop over fit.

    PYTHONPATH=build/release/python /usr/bin/python3 python/bench_fit_many.py
"""

import argparse
import pathlib
import sys
import tempfile
import time

import numpy as np

import korvalinde


def best_of(repeat, f):
    """Least wall time of `repeat` calls, and the process CPU time of that call."""
    best = None
    for _ in range(repeat):
        t, c = time.perf_counter(), time.process_time()
        f()
        t, c = time.perf_counter() - t, time.process_time() - c
        best = min(best or (t, c), (t, c))
    return best


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--series", type=int, default=100_000)
    p.add_argument("--values", type=int, default=50)
    p.add_argument("--threads", type=int, default=2)
    p.add_argument("--repeat", type=int, default=3)
    p.add_argument("--grid", type=int, default=200, help="grid side of the Dask run (0: skip)")
    args = p.parse_args(argv)

    rng = np.random.default_rng(1)
    a = rng.gumbel(rng.uniform(10, 30, (args.series, 1)), rng.uniform(1, 5, (args.series, 1)),
                   (args.series, args.values))
    for threads in sorted({1, args.threads}):
        t, cpu = best_of(args.repeat, lambda: korvalinde.fit_many(a, threads=threads))
        # CPU time shows when other processes held the cores.
        print(f"fit_many, {args.series} series of {args.values} values, ls+mle+lmom, "
              f"{threads} thread(s): {t:.3f} s ({cpu:.3f} s CPU), "
              f"{args.series / t:,.0f} series/s")

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
