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

from statistics import NormalDist
from typing import Optional, Sequence

import numpy as np
import xarray as xr

from . import METHODS, PERIODS, __version__, _dist, fit_many

# Per method, in this order: the statistics with no dimension of their own.
_SCALARS = ("quantile", "quantile_lower", "quantile_upper", "loglik",
            "ks", "cvm", "ad", "chi2", "chi2_p")
_CORE_CONFIDENCE = 0.95  # the confidence of the bounds fit_many gives


def _block(values, methods, periods, z, skipna, min_count, threads, prob, bins, dist):
    """Fits the slices of one block (last axis): (..., method, stat) and (..., 2)."""
    r = fit_many(values, axis=-1, bins=bins, prob=prob, methods=methods, periods=periods,
                 threads=threads, skipna=skipna, min_count=min_count, dist=dist)
    shape = values.shape[:-1]
    per_method = []
    for m in methods:
        if z is None:
            q = (r[f"{m}_quantile_lower"], r[f"{m}_quantile_upper"])
            rl = (r[f"{m}_rl_lower"], r[f"{m}_rl_upper"])
        else:  # normal bounds at the confidence asked for
            value, se = r[f"{m}_quantile"], r[f"{m}_quantile_se"]
            q = (value - z * se, value + z * se)
            value, se = r[f"{m}_rl"], r[f"{m}_rl_se"]
            rl = (value - z * se, value + z * se)
        loglik = r.get(f"{m}_loglik", np.full(shape, np.nan))
        columns = [r[f"{m}_a"], r[f"{m}_b"], r[f"{m}_se_a"], r[f"{m}_se_b"],
                   r[f"{m}_quantile"], *q, loglik,
                   *(r[f"{m}_{k}"] for k in ("ks", "cvm", "ad", "chi2", "chi2_p"))]
        per_method.append(np.concatenate(
            [np.stack(columns, axis=-1), r[f"{m}_rl"], *rl], axis=-1))
    sample = np.stack([r["n"].astype(np.float64), r["ok"].astype(np.float64)], axis=-1)
    return np.stack(per_method, axis=-2), sample


def fit(da: xr.DataArray, dim: str = "time", dist: str = "gumbel",
        methods: Sequence[str] = ("mle", "lmom"), periods: Sequence[float] = PERIODS,
        confidence: float = 0.95, skipna: bool = True, min_count: int = 10,
        prob: float = 0.99, bins: int = 50, threads: Optional[int] = None) -> xr.Dataset:
    """Fit `dist` along `dim` of every series of `da`.

    Returns a Dataset with `da`'s other dimensions and coordinates and the
    dimensions `method`, `param` (loc, scale) and `period`:
    params, params_se (method, param); return_level and its _lower, _upper
    bounds (method, period); quantile (of probability `prob`) with its bounds,
    loglik (maximum likelihood only), the goodness-of-fit statistics ks, cvm,
    ad, chi2 and chi2_p (method); n, the values fitted, and ok (no method).
    Bounds are normal intervals at `confidence`. With `skipna` missing
    values are left out; a series with fewer than `min_count` values has ok
    False and NaN statistics.

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
    _dist(dist)
    for m in methods:
        if m not in METHODS:
            raise ValueError(f"unknown method {m!r} (choose from {', '.join(METHODS)})")
    periods = [float(t) for t in periods]
    if not 0 < confidence < 1:
        raise ValueError("confidence must be between 0 and 1")
    z = None if confidence == _CORE_CONFIDENCE else NormalDist().inv_cdf(0.5 + confidence / 2)
    lazy = da.chunks is not None
    if lazy and len(da.chunks[da.get_axis_num(dim)]) > 1:
        da = da.chunk({dim: -1})
    if threads is None:
        threads = 1 if lazy else 0

    nper = len(periods)
    width = 4 + len(_SCALARS) + 3 * nper
    per_method, sample = xr.apply_ufunc(
        _block, da, input_core_dims=[[dim]],
        output_core_dims=[["method", "_stat"], ["_sample"]],
        kwargs=dict(methods=methods, periods=periods, z=z, skipna=skipna,
                    min_count=min_count, threads=threads, prob=prob, bins=bins, dist=dist),
        dask="parallelized", output_dtypes=[np.float64, np.float64],
        dask_gufunc_kwargs={"output_sizes": {"method": len(methods), "_stat": width,
                                             "_sample": 2}})
    per_method = per_method.assign_coords(method=methods)

    def part(start, stop, name, coords):
        return (per_method.isel(_stat=slice(start, stop)).rename(_stat=name)
                .assign_coords({name: coords}))

    units = {"units": da.attrs["units"]} if "units" in da.attrs else {}
    data = {"params": part(0, 2, "param", ["loc", "scale"]),
            "params_se": part(2, 4, "param", ["loc", "scale"])}
    for k, name in enumerate(_SCALARS):
        data[name] = per_method.isel(_stat=4 + k, drop=True)
    start = 4 + len(_SCALARS)
    for k, name in enumerate(("return_level", "return_level_lower", "return_level_upper")):
        data[name] = part(start + k * nper, start + (k + 1) * nper, "period", periods)
    data["n"] = sample.isel(_sample=0, drop=True).astype(np.int64)
    data["ok"] = sample.isel(_sample=1, drop=True).astype(bool)
    for name in ("params", "params_se", "quantile", "quantile_lower", "quantile_upper",
                 "return_level", "return_level_lower", "return_level_upper"):
        data[name].attrs.update(units)
    ds = xr.Dataset(data)
    ds["period"].attrs.update(long_name="return period", units="blocks of dim")
    ds.attrs.update(
        method=f"korvalinde.xarray.fit of {dist} along {dim!r} by {', '.join(methods)}",
        convention=(f"F(x) = exp(-exp(-(x - loc) / scale)); return_level(T) = the quantile "
                    f"of probability 1 - 1/T; bounds: normal intervals from the delta-method "
                    f"standard errors at confidence {confidence}; quantile: probability {prob}"),
        version=__version__)
    return ds
