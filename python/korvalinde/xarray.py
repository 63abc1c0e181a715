"""Fitting along one dimension of an xarray DataArray or Dataset, keeping the others.

    import korvalinde.xarray
    annual = daily.resample(time="YS").max()     # block maxima: xarray's own
    ds = korvalinde.xarray.fit(annual, dim="time", methods=("mle", "lmom"))
    ds.return_level.sel(estimator="mle", period=100)

On a Dask-backed input the result stays lazy: each chunk of the other
dimensions is fitted by fit_many where Dask runs it (threads, processes or a
dask.distributed cluster: Client(address) before compute()). The numbers are
the same bit for bit as on the NumPy-backed array.
"""

from __future__ import annotations

from typing import Optional, Sequence, Union

import numpy as np
import xarray as xr

from . import DISTRIBUTIONS, FAMILIES, METHODS, PARAMETERS, PERIODS, __version__, fit_many

# Per method: the variables with no dimension of their own, and their keys in
# fit_many after the method's prefix ("mle_", or "gev_mle_" for the GEV).
_SCALARS = ("quantile", "quantile_lower", "quantile_upper", "quantile_profile_lower",
            "quantile_profile_upper", "loglik", "ks", "cvm", "ad", "chi2", "chi2_p",
            "ks_p", "cvm_p", "ad_p")
# The same per period: return_level, return_level_lower, ... from rl, rl_lower, ...
_LEVELS = ("", "_lower", "_upper", "_profile_lower", "_profile_upper")
# The Gumbel check (with mle), one value a series.
_CHECK = ("statistic", "p", "shape", "shape_se", "shape_lower", "shape_upper",
          "shape_profile_lower", "shape_profile_upper")
_PARAMS = PARAMETERS
_KEYS = dict(PARAMETERS, gumbel=("a", "b"))  # their keys in fit_many
# The output's dimensions; an input dimension of one of these names (or "method",
# which .sel() takes for its fill method) would clash with them.
_DIMS = ("dist", "estimator", "param", "period", "at", "coef", "coef_", "lr_test", "covariate")
_RESERVED = _DIMS + ("method",)
_STAT, _SAMPLE = "_korvalinde_stat", "_korvalinde_sample"

_BOUND = {"_lower": "lower bound ({}, normal approximation)",
          "_upper": "upper bound ({}, normal approximation)",
          "_profile_lower": "lower bound ({}, profile likelihood)",
          "_profile_upper": "upper bound ({}, profile likelihood)"}
_LONG_NAMES = {
    "params": "distribution parameters", "params_se": "standard errors of the parameters",
    "loglik": "maximum of the log-likelihood",
    "ks": "Kolmogorov-Smirnov statistic", "cvm": "Cramer-von Mises statistic",
    "ad": "Anderson-Darling statistic", "chi2": "chi-square statistic",
    "chi2_p": "p-value of the chi-square statistic",
    "ks_p": "p-value of the Kolmogorov-Smirnov statistic (parameters estimated)",
    "cvm_p": "p-value of the Cramer-von Mises statistic (parameters estimated)",
    "ad_p": "p-value of the Anderson-Darling statistic (parameters estimated)",
    "gumbel_test_statistic": "likelihood-ratio statistic of the Gumbel against the GEV",
    "gumbel_test_p": "p-value of the Gumbel against the GEV",
    "gumbel_test_shape": "GEV shape by maximum likelihood",
    "gumbel_test_shape_se": "standard error of the GEV shape",
    "n": "number of values fitted", "ok": "whether the series was fitted",
}
for _k, _v in _BOUND.items():
    _LONG_NAMES["gumbel_test_shape" + _k] = _v.format("GEV shape")
# Every variable the result may have.
_NAMES = frozenset(("params", "params_se", "n", "ok", *_SCALARS,
                    *("return_level" + k for k in _LEVELS),
                    *("gumbel_test_" + k for k in _CHECK)))


def _block(values, methods, periods, confidence, skipna, min_count, threads, prob, bins, dists,
           profiles):
    """Fits the slices of one block (last axis): (..., dist, estimator, stat) and
    (..., sample); every family has the widest family's parameters (the Gumbel's
    shape beside the GEV's is 0, with no standard error)."""
    r = fit_many(values, axis=-1, bins=bins, prob=prob, methods=methods, periods=periods,
                 threads=threads, skipna=skipna, min_count=min_count, dist=",".join(dists),
                 profiles=profiles, confidence=confidence)
    shape = values.shape[:-1]
    missing = np.full(shape, np.nan)
    names = _param_names(dists)
    per_dist = []
    for d in dists:
        per_method = []
        for m in methods:
            p = f"{m}_" if d == "gumbel" else f"{d}_{m}_"
            key = dict(zip(_PARAMS[d], _KEYS[d]))
            columns, se = [], []
            for k in names:
                if k in key:
                    columns.append(r[p + key[k]])
                    se.append(r[f"{p}se_{key[k]}"])
                else:  # the Gumbel's shape beside the others' is 0
                    columns.append(np.where(r["ok"], 0.0, np.nan) if d == "gumbel" and k == "shape"
                                   else missing)
                    se.append(missing)
            columns += se + [r.get(p + k, missing) for k in _SCALARS]
            levels = [r.get(f"{p}rl{k}", np.full(shape + (len(periods),), np.nan))
                      for k in _LEVELS]
            per_method.append(np.concatenate([np.stack(columns, axis=-1), *levels], axis=-1))
        per_dist.append(np.stack(per_method, axis=-2))
    sample = [r["n"].astype(np.float64), r["ok"].astype(np.float64)]
    sample += [r.get(f"gumbel_test_{k}", missing) for k in _CHECK]
    return np.stack(per_dist, axis=-3), np.stack(sample, axis=-1)


# The fits on covariates: fit_many's ns_ arrays grouped by their trailing axes,
# each group one output of the block: (name in fit_many, trailing dims).
_NS_GROUPS = (
    ("scalar", ("loglik", "aic", "bic", "mu_ref", "mu_ref_se", "sigma_ref", "sigma_ref_se",
                "residual_ks", "residual_cvm", "residual_ad", "n", "n_dropped", "ok"), ()),
    ("coef", ("coef", "se", "coef_profile_lower", "coef_profile_upper"), ("coef",)),
    ("cov", ("cov",), ("coef", "coef_")),
    ("lr", ("lr_statistic", "lr_df", "lr_p"), ("lr_test",)),
    ("point", ("at",), ("at", "covariate")),
    ("extrapolated", ("extrapolated",), ("at",)),
    ("level", ("rl", "rl_se", "rl_lower", "rl_upper", "rl_profile_lower", "rl_profile_upper"),
     ("at", "period")),
    ("change", ("change", "change_percent", "change_se", "change_lower", "change_upper",
                "change_profile_lower", "change_profile_upper"), ("period",)),
    ("pr", ("pr_level", "pr", "pr_lower", "pr_upper", "far", "ln_pr", "se_ln_pr",
            "ln_pr_profile_lower", "ln_pr_profile_upper"), ()),
    ("trend", ("mann_kendall_s", "mann_kendall_var_s", "mann_kendall_z", "mann_kendall_p",
               "mann_kendall_tau", "sen_slope", "sen_slope_lower", "sen_slope_upper"), ()),
)
# Their names in the Dataset.
_NS_RENAME = {"rl": "return_level", "coef": "coef", "se": "coef_se"}
_NS_LONG = {
    "ns_coef": "coefficients of the fit on covariates (user units)",
    "ns_coef_se": "standard errors of the coefficients",
    "ns_cov": "covariance of the coefficients",
    "ns_loglik": "maximum of the log-likelihood on covariates",
    "ns_lr_statistic": "likelihood-ratio statistic against the nested model",
    "ns_lr_p": "p-value of the likelihood-ratio test",
    "ns_at": "covariate values of the points",
    "ns_return_level": "effective return level at the covariate point",
    "ns_change": "change of the return level from the first point to the second",
    "ns_pr": "probability ratio of the level at the second point to the first",
}


def _ns_block(values, *covs, names, vary, at, periods, confidence, profiles, threads, trend,
              widths):
    """The fits on covariates of one block (last axis): one array per group of _NS_GROUPS."""
    shape = values.shape[:-1]
    r = fit_many(values, axis=-1, methods=(), periods=periods, threads=threads,
                 profiles=profiles, confidence=confidence, covariates=dict(zip(names, covs)),
                 vary=vary, at=at, trend=trend)
    out = []
    for group, keys, dims in _NS_GROUPS:
        tail = tuple(widths[d] for d in dims)
        parts = []
        for k in keys:
            v = r.get(("trend_" if group == "trend" else "ns_") + k)
            parts.append(np.full(shape + tail, np.nan) if v is None
                         else np.asarray(v, dtype=np.float64).reshape(shape + tail))
        out.append(np.stack(parts, axis=-1))
    return tuple(out)


def _fit_covariates(da: xr.DataArray, dim: str, covariates: dict, vary, at, periods: list,
                    confidence: float, profiles: bool, threads, trend: bool) -> dict:
    """The ns_ and trend_ variables of the fits of `da` along `dim` on the covariates."""
    names = [str(k) for k in covariates]
    covs = []
    for n, c in covariates.items():
        if not isinstance(c, xr.DataArray):
            c = np.asarray(c, dtype=float)
            if c.ndim != 1 or c.shape[0] != da.sizes[dim]:
                raise ValueError(f"covariate {n!r}: a DataArray, or a 1-D array as long as {dim!r}")
            c = xr.DataArray(c, dims=(dim,))
        if dim not in c.dims:
            raise ValueError(f"covariate {n!r} has no dimension {dim!r}")
        if dim in c.coords and dim in da.coords:
            c = c.reindex({dim: da[dim]})  # joined on dim's labels; missing: NaN, dropped
        elif c.sizes[dim] != da.sizes[dim]:
            raise ValueError(f"covariate {n!r} has {c.sizes[dim]} values along {dim!r}, "
                             f"not {da.sizes[dim]}")
        _check_names(c, dim, f"covariate {n!r}")
        covs.append(c.astype(np.float64).drop_vars([v for v in c.coords if v not in c.dims]))
    if isinstance(vary, str):
        vary = (vary,)
    points = list(at) if at is not None else []
    npoints = len(points) if points else 2
    lazy = da.chunks is not None or any(c.chunks is not None for c in covs)
    if lazy:
        da = da.chunk({dim: -1})
        covs = [c.chunk({dim: -1}) for c in covs]
    # The arguments checked on no series (errors raise here, not in a block);
    # the names of the coefficients and tests.
    probe = fit_many(np.zeros((0, 3)), methods=(), periods=periods, confidence=confidence,
                     covariates={n: np.arange(3.0) for n in names}, vary=vary, at=points or None,
                     profiles=profiles, trend=trend)
    coef_names, tests = list(probe["ns_coef_names"]), list(probe["ns_lr_against"])
    widths = {"coef": len(coef_names), "coef_": len(coef_names), "lr_test": len(tests),
              "at": npoints, "covariate": len(names), "period": len(periods)}
    stat = "_korvalinde_ns_stat"
    cores = [[*dims, f"{stat}{g}"] for g, _, dims in _NS_GROUPS]
    sizes = dict(widths, **{f"{stat}{g}": len(keys) for g, keys, _ in _NS_GROUPS})
    if threads is None:
        threads = 1 if lazy else 0
    outs = xr.apply_ufunc(
        _ns_block, da, *covs, input_core_dims=[[dim]] * (1 + len(covs)), output_core_dims=cores,
        kwargs=dict(names=names, vary=vary, at=points or None, periods=periods,
                    confidence=confidence, profiles=profiles, threads=threads, trend=trend,
                    widths=widths),
        dask="parallelized", output_dtypes=[np.float64] * len(cores),
        dask_gufunc_kwargs={"output_sizes": sizes})
    data = {}
    for (group, keys, _), out in zip(_NS_GROUPS, outs):
        for j, k in enumerate(keys):
            prefix = "trend_" if group == "trend" else "ns_"
            v = out.isel({f"{stat}{group}": j}, drop=True)
            name = prefix + _NS_RENAME.get(k, k).replace("rl_", "return_level_")
            if k == "ok" or k == "extrapolated":
                v = v.astype(bool)
            elif k in ("n", "n_dropped"):
                v = v.astype(np.int64)
            data[name] = v.assign_attrs(long_name=_NS_LONG.get(name, name.replace("_", " ")))
    coords = {"coef": coef_names, "coef_": coef_names, "lr_test": tests, "covariate": names,
              "at": np.arange(npoints), "period": periods}
    ds = xr.Dataset(data)
    return ds.assign_coords({k: v for k, v in coords.items() if k in ds.dims})


def _dists(dist) -> list:
    """The families of `dist` ("gumbel", "gev" or a comma-separated list), in its order."""
    names = dist.split(",") if isinstance(dist, str) else [dist]
    if not names or any(n not in DISTRIBUTIONS + FAMILIES for n in names):
        raise ValueError(f"dist must be a comma-separated list of "
                         f"{', '.join(DISTRIBUTIONS + FAMILIES)}, not {dist!r}")
    return list(dict.fromkeys(names))


def _param_names(dists: list) -> list:
    """The `param` coordinate: every family's parameter names, in order of appearance."""
    return list(dict.fromkeys(k for d in dists for k in _PARAMS[d]))


def _period_units(da: xr.DataArray, dim: str) -> Optional[str]:
    """The unit of the return periods: a step of `dim`. Years, unless a datetime
    coordinate of `dim` steps by months or days; None when its steps are irregular."""
    coord = da.coords.get(dim)
    if coord is None or coord.ndim != 1 or coord.size < 2:
        return "years"
    t = coord.values
    if not np.issubdtype(t.dtype, np.datetime64):
        if t.dtype != object or not hasattr(t[0], "toordinal"):  # cftime dates have it
            return "years"
        t = np.array([v.toordinal() for v in t], dtype="datetime64[D]")
    days = np.median(np.diff(t.astype("datetime64[s]").astype(np.float64))) / 86400.0
    for unit, low, high in (("years", 360, 370), ("months", 28, 31), ("days", 1, 1)):
        if low <= days <= high:
            return unit
    return None


def _check_names(da: xr.DataArray, dim: str, name: str) -> None:
    for d in da.dims:
        if d in _RESERVED:
            why = ("that DataArray.sel takes for its fill method" if d == "method"
                   else "that the result has")
            raise ValueError(f"{name} has a dimension {d!r}, a name {why}; rename it first, "
                             f"e.g. {name}.rename({d}=...)")
    for c, v in da.coords.items():  # those along dim are dropped
        if dim not in v.dims and (c in _RESERVED or c in _NAMES):
            raise ValueError(f"{name} has a coordinate {c!r} that clashes with a variable or "
                             f"dimension of the result; drop or rename it first")


def _fit_array(da: xr.DataArray, dim: str, dists: list, methods: list, periods: list,
               options: dict, name: str) -> xr.Dataset:
    _check_names(da, dim, name)
    lazy = da.chunks is not None
    if lazy and len(da.chunks[da.get_axis_num(dim)]) > 1:
        da = da.chunk({dim: -1})
    if options["threads"] is None:
        options = dict(options, threads=1 if lazy else 0)

    params, nper = _param_names(dists), len(periods)
    nparam = len(params)
    width = 2 * nparam + len(_SCALARS) + len(_LEVELS) * nper
    per_method, sample = xr.apply_ufunc(
        _block, da, input_core_dims=[[dim]],
        output_core_dims=[["dist", "estimator", _STAT], [_SAMPLE]],
        kwargs=dict(options, methods=methods, periods=periods, dists=dists),
        dask="parallelized", output_dtypes=[np.float64, np.float64],
        dask_gufunc_kwargs={"output_sizes": {"dist": len(dists), "estimator": len(methods),
                                             _STAT: width, _SAMPLE: 2 + len(_CHECK)}})
    per_method = per_method.assign_coords(dist=dists, estimator=methods)
    if len(dists) == 1:
        per_method = per_method.isel(dist=0, drop=True)

    def part(start, stop, name, coords):
        return (per_method.isel({_STAT: slice(start, stop)}).rename({_STAT: name})
                .assign_coords({name: coords}))

    data = {"params": part(0, nparam, "param", params),
            "params_se": part(nparam, 2 * nparam, "param", params)}
    start = 2 * nparam
    for k, key in enumerate(_SCALARS):
        data[key] = per_method.isel({_STAT: start + k}, drop=True)
    start += len(_SCALARS)
    for k, suffix in enumerate(_LEVELS):
        data["return_level" + suffix] = part(start + k * nper, start + (k + 1) * nper,
                                             "period", periods)
    data["n"] = sample.isel({_SAMPLE: 0}, drop=True).astype(np.int64)
    data["ok"] = sample.isel({_SAMPLE: 1}, drop=True).astype(bool)
    if "mle" in methods:
        for k, key in enumerate(_CHECK):
            data[f"gumbel_test_{key}"] = sample.isel({_SAMPLE: 2 + k}, drop=True)
    if not options["profiles"]:
        data = {k: v for k, v in data.items() if "profile" not in k}
    if dists == ["gev"]:  # the GEV has no p-values of its EDF statistics
        data = {k: v for k, v in data.items() if k not in ("ks_p", "cvm_p", "ad_p")}

    # The values' units and kind hold for the levels and quantiles, their units
    # for the parameters when all are locations or scales; these keep a float32
    # input's type.
    what = da.attrs.get("long_name", da.name if isinstance(da.name, str) else "the values")
    units = {k: da.attrs[k] for k in ("units",) if k in da.attrs}
    kind = dict(units, **{k: da.attrs[k] for k in ("standard_name",) if k in da.attrs})
    narrow = da.dtype if da.dtype.kind == "f" and da.dtype.itemsize < 8 else None
    levels = {"return_level": f"return level of {what}",
              "quantile": f"quantile of probability {options['prob']} of {what}"}
    for key, v in data.items():
        stem = next((s for s in levels if key.startswith(s)), None)
        if stem is not None:
            suffix = key[len(stem):]
            attrs = dict(kind, long_name=_BOUND[suffix].format(levels[stem]) if suffix
                         else levels[stem])
        elif key.startswith("params"):
            attrs = dict(units if nparam == 2 else {
                "comment": f"loc and scale in the units of {what}; shape dimensionless"},
                long_name=_LONG_NAMES[key])
        else:
            attrs = {"long_name": _LONG_NAMES[key]}
        if key == "n":
            attrs["standard_name"] = "number_of_observations"
        if narrow is not None and (stem is not None or key.startswith("params") and nparam == 2):
            v = v.astype(narrow)
        data[key] = v.assign_attrs(attrs)
    ds = xr.Dataset(data)
    step = _period_units(da, dim)
    ds["period"].attrs.update(long_name="return period", **({"units": step} if step else {}))
    ds["estimator"].attrs["long_name"] = "estimation method"
    ds["param"].attrs["long_name"] = "distribution parameter"
    if "dist" in ds.coords:
        ds["dist"].attrs["long_name"] = "distribution family"
    return ds


def fit(data: Union[xr.DataArray, xr.Dataset], dim: str = "time", dist: str = "gumbel",
        methods: Sequence[str] = ("mle", "lmom"), periods: Sequence[float] = PERIODS,
        confidence: float = 0.95, skipna: bool = True, min_count: int = 10,
        prob: float = 0.99, bins: int = 50, threads: Optional[int] = None,
        profiles: bool = True, covariates: Optional[dict] = None, vary=("loc",), at=None,
        trend: bool = True) -> xr.Dataset:
    """Fit `dist` ("gumbel", "gev" or "gumbel,gev") along `dim` of every series of `data`.

    Returns a Dataset with `data`'s other dimensions and coordinates and the
    dimensions `estimator` (the methods), `param` (loc, scale, and shape for
    the GEV), `period`, and with several families `dist`: params, params_se
    (estimator, param); return_level with its normal bounds
    return_level_lower, _upper and (maximum likelihood, with `profiles`) its
    profile-likelihood bounds return_level_profile_lower, _upper (estimator,
    period); quantile (of probability `prob`) with the same bounds, loglik
    (maximum likelihood), the goodness-of-fit statistics ks, cvm, ad, chi2,
    chi2_p and the p-values ks_p, cvm_p, ad_p (the Gumbel's; estimator); the
    Gumbel check with mle: gumbel_test_statistic, _p and the GEV shape
    gumbel_test_shape with _se and bounds; n, the values fitted, and ok.
    Statistics a method does not have are NaN; beside the GEV, the Gumbel's
    shape is 0 with a NaN standard error. Bounds are at `confidence`. With
    `skipna` missing values are left out; a series with fewer than
    `min_count` values has ok False and NaN statistics. `profiles=False`
    leaves out the profile bounds, the costly part of maximum likelihood.

    `covariates` ({"gmst": gmst}: DataArrays along `dim`, with or without the
    other dimensions, or 1-D arrays as long as `dim`) also fits the GEV of a
    DataArray on them, as korvalinde.fit does (`vary`, `at` as there): the
    variables ns_coef, ns_coef_se, ns_coef_profile_lower/_upper (coef),
    ns_cov (coef, coef_), ns_loglik, ns_aic, ns_bic, ns_lr_statistic, ns_lr_df,
    ns_lr_p (lr_test), ns_at (at, covariate), ns_extrapolated (at),
    ns_return_level with _se, _lower, _upper, _profile_lower, _profile_upper
    (at, period), ns_change with _percent, _se and bounds (period), ns_pr,
    ns_pr_lower, _upper, ns_ln_pr, ns_far, ns_pr_level, the residuals'
    ns_residual_ks, _cvm, _ad, ns_ok, ns_n, ns_n_dropped and, with `trend`,
    trend_mann_kendall_... and trend_sen_slope...: the covariate points are the
    dimension `at`. Covariates with a coordinate on `dim` are joined on it.

    Every variable has a long_name; the levels, quantiles and (Gumbel)
    parameters have the input's units and, the levels and quantiles, its
    standard_name, and a float32 input's type. The periods are in years, or
    in months or days when a datetime coordinate of `dim` steps by those.
    A Dataset input fits each data variable that has `dim` and numbers: the
    result's variables are prefixed by its name ("pr_return_level"); the
    attribute not_fitted names the others. Input dimensions named like the
    result's (or "method", which .sel() takes for itself) are refused.

    A Dask-backed input stays lazy. `dim` is rechunked into one chunk when it
    is split (each series is fitted whole); the other dimensions keep their
    chunks. `threads` are fit_many's threads per block: by default all cores
    for a NumPy-backed array and 1 for a Dask-backed one (Dask's workers run
    the blocks in parallel).
    """
    if not isinstance(data, (xr.DataArray, xr.Dataset)):
        raise TypeError(f"data must be an xarray.DataArray or Dataset, "
                        f"not {type(data).__name__}")
    if dim not in data.dims:
        raise ValueError(f"dim {dim!r} is not a dimension of the data {tuple(data.dims)}")
    if isinstance(methods, str):
        raise TypeError("methods must be a sequence of method names, not str")
    methods = list(dict.fromkeys(methods))
    for m in methods:
        if m not in METHODS:
            raise ValueError(f"unknown method {m!r} (choose from {', '.join(METHODS)})")
    dists = _dists(dist)
    if "gev" in dists and "ls" in methods:
        raise ValueError("the GEV is fitted by mle and lmom only, not ls")
    if any(d in FAMILIES for d in dists) and "ls" in methods:
        raise ValueError("the further families are fitted by mle and lmom only, not ls")
    periods = [float(t) for t in periods]
    # Bad arguments raise here, not later inside a block.
    options = dict(confidence=confidence, skipna=skipna, min_count=min_count,
                   threads=threads, prob=prob, bins=bins, profiles=profiles)
    _block(np.empty((0, 2)), **dict(options, threads=threads or 0), methods=methods,
           periods=periods, dists=dists)

    if covariates is not None and not isinstance(data, xr.DataArray):
        raise TypeError("covariates are fitted on a DataArray, not a Dataset")
    if isinstance(data, xr.DataArray):
        ds = _fit_array(data, dim, dists, methods, periods, options, "da")
        if covariates is not None:
            if not isinstance(covariates, dict) or not covariates:
                raise TypeError("covariates must be a dict of names to arrays")
            ds = ds.merge(_fit_covariates(data, dim, covariates, vary, at, periods, confidence,
                                          profiles, threads, trend))
        fitted = None
    else:
        parts, fitted, passed = [], [], []
        for name, v in data.data_vars.items():
            if dim not in v.dims or v.dtype.kind not in "iuf":
                why = f"no dimension {dim!r}" if dim not in v.dims else "not numbers"
                passed.append(f"{name} ({why})")
                continue
            part = _fit_array(v, dim, dists, methods, periods, options, f"data[{name!r}]")
            parts += [(f"{name}_{k}", v) for k, v in part.data_vars.items()]
            fitted.append(str(name))
        if not parts:
            raise ValueError(f"no data variable has the dimension {dim!r} and numbers")
        ds = xr.Dataset(dict(parts))
        if passed:
            ds.attrs["not_fitted"] = "; ".join(passed)

    cdf = {"gumbel": "exp(-exp(-(x - loc) / scale))",
           "gev": "exp(-(1 + shape (x - loc) / scale)^(-1/shape))",
           **{f: f"the {f} law (see doc/distributions.md)" for f in FAMILIES}}
    of = f" of {', '.join(fitted)}" if fitted else ""
    ds.attrs.update(
        method=(f"korvalinde.xarray.fit{of}: {' and '.join(dists)} along {dim!r} "
                f"by {', '.join(methods)}"),
        convention=("; ".join(("" if len(dists) == 1 else f"{d}: ") + f"F(x) = {cdf[d]}"
                              for d in dists) + "; "
                    f"return_level(T) = the quantile of probability 1 - 1/T; "
                    f"bounds at confidence {confidence}: normal intervals from the "
                    f"delta-method standard errors, and profile-likelihood ones; "
                    f"quantile: probability {prob}"),
        shape_convention=("shape > 0: a heavy upper tail (unbounded, Frechet type); "
                          "shape < 0: an upper bound at loc - scale / shape (Weibull type); "
                          "shape = 0: the Gumbel"),
        version=__version__)
    return ds


from ._idf import xarray_idf as idf  # noqa: E402,F401
