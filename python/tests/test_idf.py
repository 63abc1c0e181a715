"""korvalinde.idf and korvalinde.xarray.idf: the command line's record, and
the grid's intensities lazily on Dask equal to the eager ones bit for bit."""
import json
import os
import subprocess

import numpy as np
import pytest

import korvalinde
import korvalinde.xarray

DURATIONS = ("1h", "3h", "6h", "24h")


def record(seed, years=15):
    rng = np.random.default_rng(seed)
    t = np.datetime64("2000-01-01T00:00") + np.arange(24 * 365 * years) * np.timedelta64(1, "h")
    wet = rng.random(t.size) < 0.05
    depth = np.where(wet, np.round(rng.exponential(2, t.size), 1), 0.0)
    depth[rng.random(t.size) < 1e-4] = np.nan
    return t, depth


def test_idf_is_the_command_lines_record(tmp_path):
    t, depth = record(1)
    r = korvalinde.idf(t, depth, durations=DURATIONS, periods=(2, 10, 100))
    path = tmp_path / "rain.csv"
    with open(path, "w") as f:
        f.write("time,value\n")
        for a, b in zip(np.datetime_as_string(t, unit="m"), depth):
            f.write(f"{a},{'NA' if np.isnan(b) else repr(float(b))}\n")
    out = subprocess.run([os.environ["KORVALINDE_BIN"], "idf", "--time", "time", "--durations",
                          ",".join(DURATIONS), "--periods", "2,10,100", "--json", "-", str(path)],
                         check=True, capture_output=True, text=True).stdout
    cli = json.loads(out)
    del cli["file"]
    assert cli.pop("meta")["input"]["file"] == str(path)  # the run's record: CLI only
    for d in cli["durations"]:
        d["fits"]["file"] = ""
    for d in r["durations"]:
        d["fits"]["file"] = ""
    assert r == cli


def test_idf_refuses_bad_input():
    t, depth = record(2, years=3)
    with pytest.raises(ValueError, match="not a multiple of the record's step"):
        korvalinde.idf(t, depth, durations=("90min",))
    bad = depth.copy()
    bad[10] = -1
    with pytest.raises(ValueError, match="negative depth"):
        korvalinde.idf(t, bad, durations=DURATIONS)
    with pytest.raises(ValueError, match="strictly ascending"):
        korvalinde.idf(t[::-1], depth, durations=DURATIONS)


def test_xarray_idf_keeps_dimensions_and_is_lazy_on_dask():
    xr = pytest.importorskip("xarray")
    pytest.importorskip("dask")
    t, _ = record(3)
    rng = np.random.default_rng(4)
    a = np.where(rng.random((2, 3, t.size)) < 0.05, rng.exponential(2, (2, 3, t.size)), 0.0)
    da = xr.DataArray(a, dims=("y", "x", "time"), coords={"time": t}, attrs={"units": "mm"})
    eager = korvalinde.xarray.idf(da, durations=DURATIONS, periods=(2, 10))
    lazy = korvalinde.xarray.idf(da.chunk({"y": 1}), durations=DURATIONS, periods=(2, 10))
    assert lazy.intensity.chunks is not None
    lazy = lazy.compute()
    assert eager.intensity.dims == ("y", "x", "duration", "period")
    assert list(eager.duration.values) == [1, 3, 6, 24]
    for name in eager.data_vars:
        assert np.array_equal(eager[name].values, lazy[name].values, equal_nan=True), name
    one = korvalinde.idf(t, a[1, 2], durations=DURATIONS, periods=(2, 10))
    assert eager.intensity.values[1, 2, 0, 1] == one["intensities"][1]["value"]
    assert eager.intensity.attrs["units"] == "(mm)/h"
    with pytest.raises(ValueError, match="duration"):
        korvalinde.xarray.idf(da.rename(x="duration"))
