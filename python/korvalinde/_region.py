"""Regional frequency analysis by L-moments: korvalinde.region."""

from __future__ import annotations

import numbers
from typing import Any, Sequence

import numpy as np

from . import _korvalinde

REGION_PERIODS = (2, 5, 10, 20, 50, 100)
SUMMARY_COLUMNS = ("site", "n", "mean", "t", "t3", "t4", "t5")


def _count(name: str, value: Any) -> int:
    if isinstance(value, bool) or not isinstance(value, numbers.Integral) or value < 0:
        raise ValueError(f"{name} must be a whole number, 0 or more")
    return int(value)


def _columns(sites: Any):
    """The summary's columns when sites is a table of site summaries, else None."""
    if isinstance(sites, np.ndarray) and sites.dtype.names is not None:
        names = sites.dtype.names
        get = sites.__getitem__
    elif hasattr(sites, "columns") and hasattr(sites, "__getitem__"):  # a DataFrame
        names = [str(c) for c in sites.columns]
        get = sites.__getitem__
    elif isinstance(sites, dict) and "site" in sites:
        names = list(sites)
        get = sites.__getitem__
    else:
        return None
    missing = [c for c in SUMMARY_COLUMNS if c not in names]
    if missing:
        raise ValueError("summary: columns site,n,mean,t,t3,t4,t5 expected; missing " + ",".join(missing))
    return {c: list(np.asarray(get(c)).tolist()) for c in SUMMARY_COLUMNS}


def region(sites, nsim: int = 500, seed: int = 0, periods: Sequence[float] = REGION_PERIODS,
           accuracy: int = 0, correlation: float = 0.0, min_years: int = 10, threads: int = 0,
           all_curves: bool = False) -> dict:
    """The regional frequency analysis by L-moments of several sites.

    sites: a list of 1-D samples (the sites are named 1, 2, ...), a dict of
    site name -> sample, or a table of site summaries with the columns site,
    n, mean, t, t3, t4, t5 (a pandas DataFrame, a dict of columns or a NumPy
    structured array), as `korvalinde region --summary` reads. NaN in a
    sample is missing. The options are those of the command line. Returns
    the record of `korvalinde region --json` as a dict (without "meta").
    A region that cannot be analysed raises ValueError saying why.
    """
    summary = None
    columns = _columns(sites)
    if columns is not None:
        names = [str(s) for s in columns["site"]]
        try:
            summary = np.array([columns[c] for c in SUMMARY_COLUMNS[1:]], dtype=np.float64).T.copy()
        except (TypeError, ValueError):
            raise ValueError("summary: the columns n,mean,t,t3,t4,t5 must hold numbers") from None
        summary = summary.reshape(len(names), 6)
        samples = []
    else:
        if isinstance(sites, dict):
            names, values = [str(k) for k in sites], list(sites.values())
        elif isinstance(sites, (str, bytes)) or not hasattr(sites, "__iter__"):
            raise TypeError("sites must be a list or dict of samples, or a table of site summaries")
        else:
            values = list(sites)
            names = [str(i + 1) for i in range(len(values))]
        samples = []
        for name, v in zip(names, values):
            try:
                a = np.asarray(v, dtype=np.float64)
            except (TypeError, ValueError):
                raise ValueError(f"site {name}: its sample must hold numbers") from None
            if a.ndim != 1:
                raise ValueError(f"site {name}: a 1-D sample expected")
            samples.append(a)
    if isinstance(periods, (str, bytes)):
        raise TypeError("periods must be a sequence of numbers")
    return _korvalinde.region(names, samples, summary, _count("nsim", nsim), _count("seed", seed),
                              [float(p) for p in periods], _count("accuracy", accuracy),
                              float(correlation), _count("min_years", min_years),
                              _count("threads", threads), bool(all_curves))
