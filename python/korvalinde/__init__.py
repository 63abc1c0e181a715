"""Fitting extreme-value distributions to samples: one at a time (fit), every
slice of an array at once (fit_many), or along a dimension of an xarray
DataArray (korvalinde.xarray.fit).

Every call checks its arguments before it computes: a wrong type raises a
short TypeError, a wrong value a ValueError, each naming the argument; a
sample that cannot be fitted raises InputError. The calls release the GIL
while they compute, and Ctrl-C stops them.
"""

from __future__ import annotations

import numbers
from typing import Any, Optional, Sequence

from ._types import FitManyResult, FitRecord


class InputError(ValueError):
    """A sample that cannot be fitted (too few values, a value that is not
    finite, ...). `file`, `line` and `column` tell where, when known."""

    def __init__(self, message: str, file: Optional[str] = None, line: Optional[int] = None,
                 column: Optional[int] = None):
        super().__init__(message)
        self.file, self.line, self.column = file, line, column


from . import _korvalinde  # noqa: E402  (raises InputError, defined above)

__version__: str = _korvalinde.__version__
__all__ = ["InputError", "FitManyResult", "FitRecord", "__version__", "fit", "fit_many", "idf",
           "lmoments", "region"]

METHODS = ("ls", "mle", "lmom")
# As on the command line: the histogram least-squares fit (ls) on request.
DEFAULT_METHODS = ("mle", "lmom")
PERIODS = (2, 5, 10, 20, 50, 100, 200, 500, 1000)
DISTRIBUTIONS = ("gumbel", "gev")
# The further families --dist takes, fitted by L-moments (and maximum likelihood
# where it is available): their records have one object each, and the record
# the sample's "lmoments" and the "comparison" of the families.
FAMILIES = ("glo", "gno", "pe3", "lp3", "gpa", "weibull", "kappa", "wakeby", "exp", "normal",
            "lognormal")
# Their parameters' names in the records and in fit_many's keys.
PARAMETERS = {
    "gumbel": ("loc", "scale"), "gev": ("loc", "scale", "shape"),
    **{f: ("loc", "scale", "shape") for f in ("glo", "gno", "gpa", "weibull")},
    "pe3": ("loc", "scale", "shape", "mean", "sd", "skew"),
    "lp3": ("loc", "scale", "shape", "mean", "sd", "skew"),
    "kappa": ("loc", "scale", "shape", "k", "h"),
    "wakeby": ("loc", "xi", "alpha", "beta", "gamma", "delta"),
    "exp": ("loc", "scale"), "normal": ("loc", "scale", "mean", "sd"),
    "lognormal": ("meanlog", "sdlog"),
}


def _integer(name: str, value: Any) -> int:
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}")
    return int(value)


def _real(name: str, value: Any) -> float:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    return float(value)


def _flag(name: str, value: Any) -> bool:
    if not isinstance(value, (bool, numbers.Integral)):
        raise TypeError(f"{name} must be True or False, not {type(value).__name__}")
    return bool(value)


def _sequence(name: str, value: Any, item, what: str) -> list:
    if isinstance(value, (str, bytes)) or not hasattr(value, "__iter__"):
        raise TypeError(f"{name} must be a sequence of {what}, not {type(value).__name__}")
    return [item(name, v) for v in value]


def _method(name: str, value: Any) -> str:
    if not isinstance(value, str):
        raise TypeError(f"{name} must hold method names, not {type(value).__name__}")
    return value


def _dist(value: Any) -> str:
    if value not in DISTRIBUTIONS:
        raise ValueError(f"dist must be one of {', '.join(DISTRIBUTIONS)}, not {value!r}")
    return value


def _families(value: Any) -> tuple:
    """(gumbel, gev, order): whether each is in the comma-separated list
    `value`, and with a further family every name in the order given."""
    names = value.split(",") if isinstance(value, str) else [value]
    if not names or any(n not in DISTRIBUTIONS + FAMILIES for n in names):
        raise ValueError(f"dist must be a comma-separated list of "
                         f"{', '.join(DISTRIBUTIONS + FAMILIES)}, not {value!r}")
    order = list(dict.fromkeys(names)) if any(n in FAMILIES for n in names) else []
    return "gumbel" in names, "gev" in names, order


def lmoments(x, nmom: int = 5, skipna: bool = False) -> dict:
    """The sample L-moments of x (1-D array-like of real numbers) from the
    unbiased probability-weighted moments: a dict of l1, and up to order
    `nmom` (1 to 5) l2 and t = l2 / l1, t3, t4 and t5, as the record's
    "lmoments" of `fit(x, dist=...)` with a further family. A ratio needs as
    many values as its order (None otherwise). With `skipna` NaNs are left out.
    """
    return _korvalinde.lmoments(x, _integer("nmom", nmom), _flag("skipna", skipna))


def fit(x, bins: int = 50, prob: float = 0.99, methods: Sequence[str] = DEFAULT_METHODS,
        periods: Sequence[float] = PERIODS, bootstrap: int = 0, seed: int = 0,
        level: Optional[float] = None, threads: int = 0, name: str = "",
        skipna: bool = False, min_count: int = 2, dist: str = "gumbel",
        profiles: bool = True, confidence: float = 0.95, covariates=None,
        vary: Optional[Sequence[str]] = None, at=None, threshold: Optional[float] = None,
        threshold_quantile: Optional[float] = None, run: int = 0,
        per_year: Optional[float] = None) -> FitRecord:
    """Fit a distribution to one sample (1-D array-like of real numbers).

    Returns the record of `korvalinde fit --json` as a dict, key for key
    (undefined numbers are None), with `loc` and `scale` beside `a` and `b`.
    `dist` lists the distributions fitted in full, as `--dist` does:
    "gumbel", "gev" or "gumbel,gev". With "gev" the record has the GEV fits
    (the "gev" object); without "gumbel" the Gumbel is still fitted (for the
    Gumbel check) but without its profile-likelihood bounds. The further
    families (FAMILIES: "glo,pe3", ...) add an object each, "lmoments",
    "comparison", "best_aic" and "best_lmom"; the first family named with a
    result leads. `profiles=False`
    leaves out maximum likelihood's profile-likelihood bounds, its costly
    part. `threads` are the worker threads of the call (0: all cores); the
    results do not depend on them. With `skipna`, missing values (NaN,
    masked) are left out; fewer than `min_count` values raise InputError, as
    does any sample that cannot be fitted. See the compiled module's fit for
    the rest.

    `covariates` ({"time": years, "gmst": ...}, each as long as x) also fits
    the GEV with its location (`vary=("loc",)`) or location and log-scale
    (`("loc", "scale")`) linear in them, or both multiplied by exp(a c / mu0)
    (`"dispersion"`: sigma / mu constant), as `korvalinde fit --covariate`
    does: the record then has gev.mle.nonstationary and trend (the trend
    tests over covariates["time"], else over the position), and the GEV in
    full. `at` lists the covariate points of the effective levels, each a
    dict of every covariate's value (or a number with one covariate);
    default the first and last values of a single covariate. Observations
    with NaN in x or a covariate are left out of the covariate fit and
    counted in nonstationary.n_dropped.

    `threshold` (or `threshold_quantile`, the threshold at that quantile of
    x) fits the generalized Pareto distribution to the peaks over it instead,
    as `korvalinde fit --pot` does for rows without times: x holds the
    observations in order (NaN: missing), `per_year` of them a year; `run`
    steps without an exceedance end a cluster (0: each exceedance is one).
    The record has n, min, max and "pot" (of the methods mle and lmom), and
    with `covariates` (each as long as x; `vary` "scale", the default here)
    gpd.mle.nonstationary, the GPD's log-scale linear in the covariates at
    each cluster's maximum with the cluster rate held constant, and the
    trend tests of the excesses over covariates["time"] (else the position).
    """
    gumbel, gev, order = _families(dist)
    if not isinstance(name, str):
        raise TypeError(f"name must be a string, not {type(name).__name__}")
    if threshold is not None or threshold_quantile is not None:
        unused = [k for k, v, default in (("bins", bins, 50), ("prob", prob, 0.99), ("bootstrap", bootstrap, 0),
                                          ("skipna", skipna, False), ("min_count", min_count, 2))
                  if v != default]
        if unused:
            raise ValueError(f"{', '.join(unused)}: not used with a threshold (NaN marks a missing observation)")
        return _fit_pot(x, name, threshold, threshold_quantile, run, per_year, dist, methods, periods,
                        level, confidence, profiles, covariates, vary, at)
    if vary is None:
        vary = ("loc",)
    if covariates is not None:
        if order:
            raise ValueError("covariates fit the GEV: dist must be gumbel, gev or gumbel,gev")
        record = fit(x, bins, prob, methods, periods, bootstrap, seed, level, threads, name, skipna,
                     min_count, "gumbel,gev" if gumbel else "gev", profiles, confidence)
        extra = _fit_covariates(x, covariates, vary, at, periods, level, confidence, profiles)
        record["gev"]["mle"]["nonstationary"] = extra["nonstationary"]
        record["gev"]["mle"]["nonstationary"]["n_dropped"] = extra["n_dropped"]
        record["trend"] = extra["trend"]
        return record
    return _korvalinde.fit(
        x, _integer("bins", bins), _real("prob", prob),
        _sequence("methods", methods, _method, "method names"),
        _sequence("periods", periods, _real, "numbers"), _integer("bootstrap", bootstrap),
        _integer("seed", seed), None if level is None else _real("level", level),
        _integer("threads", threads), name, _flag("skipna", skipna),
        _integer("min_count", min_count), gev, _flag("profiles", profiles),
        _real("confidence", confidence), gumbel, order)


def fit_many(a, axis: int = -1, bins: int = 50, prob: float = 0.99,
             methods: Sequence[str] = DEFAULT_METHODS, periods: Sequence[float] = PERIODS,
             threads: int = 0, skipna: bool = False, min_count: int = 2,
             level: Optional[float] = None, dist: str = "gumbel", seed: int = 0,
             profiles: bool = True, confidence: float = 0.95, covariates=None,
             vary: Sequence[str] = ("loc",), at=None, trend: bool = True, gof: bool = True,
             se: bool = True) -> FitManyResult:
    """Fit every 1-D slice of `a` along `axis`, on `threads` worker threads
    (0: all cores; the results do not depend on them).

    Returns NumPy arrays shaped like `a` without `axis`: "n" (values fitted),
    "ok", "min", "max", "width", "m", and for each method m every statistic
    of its record in fit(), named m_KEY (nested keys joined by "_", e.g.
    m_quantile_lower, m_chi2_p, m_ad_p), with `m_loc` and `m_scale` beside
    `m_a` and `m_b`; the return levels m_rl, m_rl_se, m_rl_lower, m_rl_upper
    (and with mle m_rl_profile_lower, _upper) have a trailing axis over
    "periods"; with `level`, m_level_period is the return period of that
    level. With mle, the Gumbel check gumbel_test_statistic, _p, _shape, ...;
    with "gev" in dist, the GEV's gev_m_loc, ..., gev_m_rl, ... (and
    without "gumbel", no m_..._profile_... of the Gumbel). With a further
    family f (FAMILIES), f_m_NAME and f_m_se_NAME for every NAME of
    PARAMETERS[f], f_m_quantile, f_m_rl, ..., f_m_ks, f_m_cvm, f_m_ad,
    f_m_ad_p (with `level`, f_m_level_period), f_lmom_distance, and the
    sample's lmoments_l1, ...,
    lmoments_t5. With `gof=False` every family's goodness of fit (EDF
    statistics, chi-square, p-values) is left out, with `se=False` every
    family's standard errors, covariances and delta intervals (NaN; chi2_df
    0): the lean record of parameters and levels, which equal the default
    record's. The other
    arguments are fit()'s. A slice that cannot be fitted has ok False and NaN
    numbers. Each slice's numbers equal fit() on it, bit for bit.

    `covariates` ({"gmst": g, ...}) also fits every slice's GEV on them, as
    fit() does (`vary`, `at` as there): each covariate is one series shared
    by every slice (1-D, as long as `axis`) or an array that broadcasts
    against `a` (one series per slice). Its arrays are prefixed "ns_":
    ns_coef, ns_se, ns_coef_profile_lower/_upper (trailing axis over
    ns_coef_names), ns_cov, ns_loglik, ns_aic, ns_bic, ns_lr_statistic,
    ns_lr_df, ns_lr_p (over ns_lr_against), ns_at and ns_extrapolated (over
    the points), ns_rl, ns_rl_se, ns_rl_lower, _upper, _profile_lower,
    _profile_upper (points, periods), with two points or more ns_change with
    its _percent, _se and bounds (periods) and the probability ratio ns_pr,
    ns_pr_lower, _upper, ns_ln_pr with ns_se_ln_pr and ns_ln_pr_profile_lower,
    _upper, ns_far, ns_pr_level; the
    residuals' ns_residual_ks, _cvm, _ad; ns_ok, ns_n and ns_n_dropped
    (observations with NaN). With `trend`, the trend tests trend_mann_kendall_s,
    _var_s, _z, _p, _tau and trend_sen_slope with _lower, _upper (their cost
    grows as the square of the length). With `methods=()` only these are
    computed. Each slice's numbers equal fit()'s record on it, bit for bit.
    """
    gumbel, gev, order = _families(dist)
    if covariates is not None and order:
        raise ValueError("covariates fit the GEV: dist must be gumbel, gev or gumbel,gev")
    if covariates is not None:
        result = _fit_many_covariates(a, axis, covariates, vary, at, periods, level, confidence,
                                      profiles, threads, trend)
        if methods is not None and not isinstance(methods, str) and len(list(methods)) == 0:
            return result
        result.update(fit_many(a, axis, bins, prob, methods, periods, threads, skipna, min_count,
                               level, dist, seed, profiles, confidence))
        return result
    result = _korvalinde.fit_many(
        a, _integer("axis", axis), _integer("bins", bins), _real("prob", prob),
        _sequence("methods", methods, _method, "method names"),
        _sequence("periods", periods, _real, "numbers"), _integer("threads", threads),
        _flag("skipna", skipna), _integer("min_count", min_count),
        None if level is None else _real("level", level), gev,
        _integer("seed", seed), _flag("profiles", profiles), _real("confidence", confidence),
        gumbel, order, _flag("gof", gof), _flag("se", se))
    for m in METHODS:
        if f"{m}_a" in result:
            result[f"{m}_loc"], result[f"{m}_scale"] = result[f"{m}_a"], result[f"{m}_b"]
    return result


def _covariate_args(covariates, vary, at):
    """The covariates' names and float arrays, the vary string and the points."""
    import numpy as np
    if not isinstance(covariates, dict) or not covariates:
        raise TypeError("covariates must be a dict of names to arrays")
    names = [str(k) for k in covariates]
    arrays = [np.asarray(v, dtype=float) for v in covariates.values()]
    if isinstance(vary, str):
        vary = (vary,)
    parts = list(vary)
    wanted = {"loc": 0, "scale": 1}
    if parts == ["dispersion"]:
        how = "dispersion"
    elif not parts or any(p not in wanted for p in parts) or len(set(parts)) != len(parts):
        raise ValueError(f"vary must be ('loc',), ('scale',), ('loc', 'scale') or 'dispersion', "
                         f"not {vary!r}")
    else:
        how = ",".join(sorted(parts, key=wanted.get))
    points = []
    for p in at or ():
        if isinstance(p, dict):
            if set(map(str, p)) != set(names):
                raise ValueError(f"each point of at needs a value of every covariate {names}")
            points.append([_real("at", p[n]) for n in names])
        else:
            points.append([_real("at", p)])
    return names, arrays, how, points


def _fit_covariates(x, covariates, vary, at, periods, level, confidence, profiles) -> dict:
    import numpy as np
    names, arrays, how, points = _covariate_args(covariates, vary, at)
    time = arrays[names.index("time")] if "time" in names else None
    return _korvalinde._fit_covariates(
        np.asarray(x, dtype=float), names, arrays, time, how, points,
        _sequence("periods", periods, _real, "numbers"), None if level is None else _real("level", level),
        _real("confidence", confidence), _flag("profiles", profiles))


def _fit_pot(x, name, threshold, quantile, run, per_year, dist, methods, periods, level, confidence,
             profiles, covariates, vary, at) -> dict:
    import numpy as np
    if dist != "gumbel":
        raise ValueError("peaks over a threshold fit the generalized Pareto distribution: leave dist out")
    if per_year is None:
        raise ValueError("peaks over a threshold need per_year, the observations a year")
    wanted = _sequence("methods", methods, _method, "method names")
    names, arrays, points = [], [], []
    if covariates is not None:
        if vary is not None and list((vary,) if isinstance(vary, str) else vary) != ["scale"]:
            raise ValueError(f"vary: with a threshold only ('scale',), not {vary!r}")
        names, arrays, _, points = _covariate_args(covariates, "scale", at)
    elif vary is not None or at is not None:
        raise ValueError("vary and at need covariates")
    return _korvalinde._fit_pot(
        np.asarray(x, dtype=float), name, None if threshold is None else _real("threshold", threshold),
        None if quantile is None else _real("threshold_quantile", quantile), _integer("run", run),
        _real("per_year", per_year), "mle" in wanted, "lmom" in wanted,
        _sequence("periods", periods, _real, "numbers"), None if level is None else _real("level", level),
        _real("confidence", confidence), _flag("profiles", profiles), names, arrays, points)


def _fit_many_covariates(a, axis, covariates, vary, at, periods, level, confidence, profiles,
                         threads, trend) -> dict:
    import numpy as np
    names, arrays, how, points = _covariate_args(covariates, vary, at)
    if np.ma.isMaskedArray(a):
        a = np.ma.filled(a.astype(float), np.nan)
    a = np.asarray(a)
    if a.dtype.kind not in "fiub":
        raise TypeError(f"a must be an array of real numbers, not of dtype {a.dtype}")
    if a.ndim == 0:
        raise ValueError("a must have at least one dimension")
    axis = _integer("axis", axis)
    block = np.ascontiguousarray(np.moveaxis(a.astype(float, copy=False), axis, -1))
    length = block.shape[-1]
    laid = []
    for name, c in zip(names, arrays):
        if c.ndim == 1:  # one series along the axis, shared by every slice
            if c.shape[0] != length:
                raise ValueError(f"covariate {name} has {c.shape[0]} values, not {length} (a's axis {axis})")
            laid.append(np.broadcast_to(c, block.shape))
            continue
        try:
            c = np.broadcast_to(c, a.shape)
        except ValueError:
            raise ValueError(f"covariate {name} of shape {c.shape} does not broadcast against a of "
                             f"shape {a.shape}") from None
        laid.append(np.moveaxis(c, axis, -1))
    time = laid[names.index("time")] if "time" in names else None
    return _korvalinde._fit_many_covariates(
        block, names, laid, time, how, points, _sequence("periods", periods, _real, "numbers"),
        None if level is None else _real("level", level), _real("confidence", confidence),
        _flag("profiles", profiles), _integer("threads", threads), _flag("trend", trend))


from ._idf import idf  # noqa: E402
from ._region import region  # noqa: E402
