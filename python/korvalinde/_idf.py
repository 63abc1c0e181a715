"""Intensity-duration-frequency curves of rain records: korvalinde.idf for one
record, korvalinde.xarray.idf for every series of a grid (lazily on Dask)."""

from __future__ import annotations

from typing import Any, Optional, Sequence

import numpy as np

from . import _korvalinde

DURATIONS = ("5min", "10min", "15min", "30min", "1h", "2h", "3h", "6h", "12h", "24h", "48h", "72h")
IDF_PERIODS = (2, 5, 10, 20, 50, 100)


def _seconds(times) -> np.ndarray:
    t = np.asarray(times)
    if np.issubdtype(t.dtype, np.datetime64):
        return t.astype("datetime64[s]").astype(np.int64)
    if np.issubdtype(t.dtype, np.integer):
        return t.astype(np.int64)
    raise TypeError("times must be datetime64 values or whole seconds since 1970")


def _names(name: str, value: Any) -> list:
    if isinstance(value, str):
        return value.split(",")
    return [str(v) for v in value]


def idf(times, depths, durations: Sequence[str] = DURATIONS, periods: Sequence[float] = IDF_PERIODS,
        block: str = "year", min_coverage: float = 0.9, step: Optional[str] = None,
        fixed_interval_factor: float = 1.0, reference_duration: str = "1h", dist: str = "gev",
        methods: Sequence[str] = ("mle", "lmom"), confidence: float = 0.95, threads: int = 0,
        profiles: bool = True) -> dict:
    """The intensity-duration-frequency analysis of one record of rain depths.

    times: datetime64 values (or whole seconds since 1970), ascending, at a
    regular step; depths: the depth of each step (NaN is missing). Returns the
    record of `korvalinde idf --json` as a dict (without "file"): the annual
    maxima's fits per duration, the general and simple scaling models with
    their test, the table of intensities of the chosen model with delta and
    profile bounds, and the formula i = a / (d + b)^c of each period.
    """
    return _korvalinde.idf(_seconds(times), np.asarray(depths, dtype=np.float64),
                           _names("durations", durations), [float(p) for p in periods], block,
                           float(min_coverage), step or "", float(fixed_interval_factor),
                           reference_duration, _names("dist", dist), _names("methods", methods),
                           float(confidence), int(threads), bool(profiles))


_FIELDS = ("value", "lower", "upper", "profile_lower", "profile_upper")
_SCALING = ("mu0", "sigma0", "shape", "alpha", "delta")


def _cells(depths, seconds, durations, periods, kw):
    """IDF of every row of depths (cells x time): the intensity table's five
    fields (cells x durations x periods) and the chosen model's parameters."""
    nd, np_ = len(durations), len(periods)
    out = [np.full(depths.shape[:-1] + (nd, np_), np.nan) for _ in _FIELDS]
    params = np.full(depths.shape[:-1] + (len(_SCALING),), np.nan)
    ok = np.zeros(depths.shape[:-1], dtype=bool)
    for index in np.ndindex(depths.shape[:-1]):
        try:
            r = idf(seconds, depths[index], durations=durations, periods=periods, threads=1, **kw)
        except ValueError:
            continue
        ok[index] = True
        for k, row in enumerate(r["intensities"]):
            for f, name in enumerate(_FIELDS):
                v = row[name]
                out[f][index + (k // np_, k % np_)] = np.nan if v is None else v
        model = r["scaling"]["general" if r["model"] == "general scaling" else "simple"]
        for p, name in enumerate(_SCALING):
            v = model.get(name)
            params[index + (p,)] = np.nan if v is None else v
    return (*out, params, ok)


def xarray_idf(da, dim: str = "time", durations: Sequence[str] = DURATIONS,
               periods: Sequence[float] = IDF_PERIODS, **kw):
    """IDF curves of every series along `dim` of a DataArray of rain depths
    (model or radar rainfall on a grid): a Dataset with the dimensions
    `duration` (hours) and `period` (years) in place of `dim`: `intensity`
    with `intensity_lower`, `_upper`, `_profile_lower`, `_profile_upper`, the
    chosen scaling model's `scaling_params` (dimension `scaling_param`) and
    `ok`. Lazy on Dask (apply_ufunc, dask="parallelized"), and equal to the
    eager result bit for bit. Keyword arguments go to korvalinde.idf."""
    import xarray as xr

    for reserved in ("duration", "period", "scaling_param"):
        if reserved in da.dims:
            raise ValueError(f"the input has a dimension named {reserved!r}, which the result uses")
    durations = _names("durations", durations)
    periods = [float(p) for p in periods]
    hours = []
    for d in durations:
        seconds = {"min": 60, "h": 3600, "d": 86400, "s": 1}
        unit = next(u for u in ("min", "h", "d", "s") if d.endswith(u))
        hours.append(float(d[: -len(unit)]) * seconds[unit] / 3600)
    seconds = _seconds(da[dim].values)
    if da.chunks is not None:
        da = da.chunk({dim: -1})
    names = ["intensity", "intensity_lower", "intensity_upper", "intensity_profile_lower",
             "intensity_profile_upper", "scaling_params", "ok"]
    core = [["duration", "period"]] * 5 + [["scaling_param"], []]
    results = xr.apply_ufunc(
        _cells, da.astype(np.float64), kwargs=dict(seconds=seconds, durations=durations,
                                                   periods=periods, kw=kw),
        input_core_dims=[[dim]], output_core_dims=core, dask="parallelized",
        output_dtypes=[np.float64] * 6 + [bool],
        dask_gufunc_kwargs={"output_sizes": {"duration": len(durations), "period": len(periods),
                                             "scaling_param": len(_SCALING)}})
    ds = xr.Dataset(dict(zip(names, results)))
    ds = ds.assign_coords(duration=("duration", hours), period=("period", periods),
                          scaling_param=("scaling_param", list(_SCALING)))
    ds["duration"].attrs.update(units="h", long_name="duration")
    ds["period"].attrs.update(units="years", long_name="return period")
    units = da.attrs.get("units")
    for n in names[:5]:
        ds[n].attrs["long_name"] = n.replace("_", " ").replace("intensity", "rain intensity", 1)
        if units:
            ds[n].attrs["units"] = f"({units})/h"
    ds.attrs["method"] = f"korvalinde.xarray.idf along {dim!r}: duration-dependent GEV (scaling model)"
    return ds
