"""Fitting along one dimension of an xarray DataArray, keeping the others.

    import korvalinde.xarray
    annual = daily.resample(time="YS").max()     # block maxima: xarray's own
    ds = korvalinde.xarray.fit(annual, dim="time", methods=("mle", "lmom"))

On a Dask-backed DataArray the result stays lazy: each chunk of the other
dimensions is fitted by fit_many where Dask runs it (threads, processes or a
dask.distributed cluster: Client(address) before compute()). The numbers are
the same bit for bit as on the NumPy-backed array.
"""

from __future__ import annotations

from typing import Optional, Sequence

import numpy as np
import xarray as xr

from . import METHODS, PERIODS, __version__, _dist, fit_many

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
_PARAMS = {"gumbel": ("loc", "scale"), "gev": ("loc", "scale", "shape")}
_KEYS = {"gumbel": ("a", "b"), "gev": _PARAMS["gev"]}  # their keys in fit_many


def _block(values, methods, periods, confidence, skipna, min_count, threads, prob, bins, dist,
           profiles):
    """Fits the slices of one block (last axis): (..., method, stat) and (..., sample)."""
    r = fit_many(values, axis=-1, bins=bins, prob=prob, methods=methods, periods=periods,
                 threads=threads, skipna=skipna, min_count=min_count, dist=dist,
                 profiles=profiles, confidence=confidence)
    shape = values.shape[:-1]
    missing = np.full(shape, np.nan)
    params = _KEYS[dist]
    per_method = []
    for m in methods:
        p = f"gev_{m}_" if dist == "gev" else f"{m}_"
        columns = [r[p + k] for k in params] + [r[f"{p}se_{k}"] for k in params]
        columns += [r.get(p + k, missing) for k in _SCALARS]
        levels = [r.get(f"{p}rl{k}", np.full(shape + (len(periods),), np.nan)) for k in _LEVELS]
        per_method.append(np.concatenate([np.stack(columns, axis=-1), *levels], axis=-1))
    sample = [r["n"].astype(np.float64), r["ok"].astype(np.float64)]
    sample += [r.get(f"gumbel_test_{k}", missing) for k in _CHECK]
    return np.stack(per_method, axis=-2), np.stack(sample, axis=-1)


def fit(da: xr.DataArray, dim: str = "time", dist: str = "gumbel",
        methods: Sequence[str] = ("mle", "lmom"), periods: Sequence[float] = PERIODS,
        confidence: float = 0.95, skipna: bool = True, min_count: int = 10,
        prob: float = 0.99, bins: int = 50, threads: Optional[int] = None,
        profiles: bool = True) -> xr.Dataset:
    """Fit `dist` ("gumbel" or "gev") along `dim` of every series of `da`.

    Returns a Dataset with `da`'s other dimensions and coordinates and the
    dimensions `method`, `param` (loc, scale, and shape for the GEV) and
    `period`: params, params_se (method, param); return_level with its normal
    bounds return_level_lower, _upper and (maximum likelihood, with
    `profiles`) its profile-likelihood bounds return_level_profile_lower,
    _upper (method, period); quantile (of probability `prob`) with the same
    bounds, loglik (maximum likelihood), the goodness-of-fit statistics ks,
    cvm, ad, chi2, chi2_p and the p-values ks_p, cvm_p, ad_p (the Gumbel's;
    method); the Gumbel check with mle: gumbel_test_statistic, _p and the GEV
    shape gumbel_test_shape with _se and bounds; n, the values fitted, and ok.
    Statistics a method does not have are NaN. Bounds are at `confidence`.
    With `skipna` missing values are left out; a series with fewer than
    `min_count` values has ok False and NaN statistics. `profiles=False`
    leaves out the profile bounds, the costly part of maximum likelihood.

    A Dask-backed `da` stays lazy. `dim` is rechunked into one chunk when it
    is split (each series is fitted whole); the other dimensions keep their
    chunks. `threads` are fit_many's threads per block: by default all cores
    for a NumPy-backed array and 1 for a Dask-backed one (Dask's workers run
    the blocks in parallel).
    """
    if not isinstance(da, xr.DataArray):
        raise TypeError(f"da must be an xarray.DataArray, not {type(da).__name__}")
    if dim not in da.dims:
        raise ValueError(f"dim {dim!r} is not a dimension of da {tuple(da.dims)}")
    if isinstance(methods, str):
        raise TypeError("methods must be a sequence of method names, not str")
    methods = list(dict.fromkeys(methods))
    for m in methods:
        if m not in METHODS:
            raise ValueError(f"unknown method {m!r} (choose from {', '.join(METHODS)})")
    if _dist(dist) == "gev" and "ls" in methods:
        raise ValueError("the GEV is fitted by mle and lmom only, not ls")
    periods = [float(t) for t in periods]
    lazy = da.chunks is not None
    if lazy and len(da.chunks[da.get_axis_num(dim)]) > 1:
        da = da.chunk({dim: -1})
    if threads is None:
        threads = 1 if lazy else 0
    # Bad arguments raise here, not later inside a block.
    options = dict(methods=methods, periods=periods, confidence=confidence, skipna=skipna,
                   min_count=min_count, threads=threads, prob=prob, bins=bins, dist=dist,
                   profiles=profiles)
    _block(np.empty((0, 2)), **options)

    nparam, nper = len(_PARAMS[dist]), len(periods)
    width = 2 * nparam + len(_SCALARS) + len(_LEVELS) * nper
    per_method, sample = xr.apply_ufunc(
        _block, da, input_core_dims=[[dim]],
        output_core_dims=[["method", "_stat"], ["_sample"]],
        kwargs=options,
        dask="parallelized", output_dtypes=[np.float64, np.float64],
        dask_gufunc_kwargs={"output_sizes": {"method": len(methods), "_stat": width,
                                             "_sample": 2 + len(_CHECK)}})
    per_method = per_method.assign_coords(method=methods)

    def part(start, stop, name, coords):
        return (per_method.isel(_stat=slice(start, stop)).rename(_stat=name)
                .assign_coords({name: coords}))

    units = {"units": da.attrs["units"]} if "units" in da.attrs else {}
    params = list(_PARAMS[dist])
    data = {"params": part(0, nparam, "param", params),
            "params_se": part(nparam, 2 * nparam, "param", params)}
    start = 2 * nparam
    for k, name in enumerate(_SCALARS):
        data[name] = per_method.isel(_stat=start + k, drop=True)
    start += len(_SCALARS)
    for k, suffix in enumerate(_LEVELS):
        data["return_level" + suffix] = part(start + k * nper, start + (k + 1) * nper,
                                             "period", periods)
    data["n"] = sample.isel(_sample=0, drop=True).astype(np.int64)
    data["ok"] = sample.isel(_sample=1, drop=True).astype(bool)
    if "mle" in methods:
        for k, name in enumerate(_CHECK):
            data[f"gumbel_test_{name}"] = sample.isel(_sample=2 + k, drop=True)
    if not profiles:
        data = {k: v for k, v in data.items() if "profile" not in k}
    if dist == "gev":  # the GEV has no p-values of its EDF statistics
        data = {k: v for k, v in data.items() if k not in ("ks_p", "cvm_p", "ad_p")}
    for name, v in data.items():
        if name.startswith(("params", "quantile", "return_level")):
            v.attrs.update(units)
    ds = xr.Dataset(data)
    ds["period"].attrs.update(long_name="return period", units="blocks of dim")
    cdf = ("exp(-exp(-(x - loc) / scale))" if dist == "gumbel" else
           "exp(-(1 + shape (x - loc) / scale)^(-1/shape))")
    ds.attrs.update(
        method=f"korvalinde.xarray.fit of {dist} along {dim!r} by {', '.join(methods)}",
        convention=(f"F(x) = {cdf}; return_level(T) = the quantile of probability 1 - 1/T; "
                    f"bounds at confidence {confidence}: normal intervals from the "
                    f"delta-method standard errors, and profile-likelihood ones; "
                    f"quantile: probability {prob}"),
        version=__version__)
    return ds
