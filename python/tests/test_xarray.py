"""korvalinde.xarray.fit: dimensions kept, numbers equal to fit() per series,
lazy on Dask and equal to the eager result bit for bit, also on a cluster."""

import numpy as np
import pytest

xr = pytest.importorskip("xarray")
pytest.importorskip("dask.distributed")

import korvalinde  # noqa: E402
import korvalinde.xarray as kx  # noqa: E402

pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning:tornado")
PERIODS = (10, 100)


def maxima():
    rng = np.random.default_rng(3)
    a = rng.gumbel(30.0, 5.0, size=(4, 3, 40))
    a[0, 0, [3, 17]] = np.nan  # gaps
    a[1, 1, :33] = np.nan      # too few values left
    return xr.DataArray(a, dims=("lat", "lon", "time"),
                        coords={"lat": [10.0, 20.0, 30.0, 40.0], "lon": [1, 2, 3],
                                "time": np.arange(1981, 2021),
                                "station": ("lon", ["a", "b", "c"])},
                        attrs={"units": "mm"})


def test_fit_keeps_dimensions_and_equals_fit_per_series():
    da = maxima()
    ds = kx.fit(da, periods=PERIODS)
    assert ds.params.dims == ("lat", "lon", "estimator", "param")
    assert ds.return_level.dims == ("lat", "lon", "estimator", "period")
    assert ds.loglik.dims == ("lat", "lon", "estimator") and ds.n.dims == ("lat", "lon")
    assert ds.estimator.values.tolist() == ["mle", "lmom"] and ds.period.values.tolist() == [10, 100]
    assert ds.station.values.tolist() == ["a", "b", "c"]
    assert ds.lat.values.tolist() == [10, 20, 30, 40]
    assert ds.return_level.attrs["units"] == "mm"
    assert set(ds.attrs) >= {"method", "convention", "version"}
    assert ds.n.values[0, 0] == 38 and not ds.ok.values[1, 1]
    assert np.isnan(ds.params.values[1, 1]).all() and ds.ok.values.sum() == 11
    for i, j in ((0, 0), (2, 1)):
        one = korvalinde.fit(da.values[i, j], methods=("mle", "lmom"), periods=PERIODS,
                             skipna=True)
        for k, m in enumerate(("mle", "lmom")):
            cell = ds.isel(lat=i, lon=j, estimator=k)
            assert cell.params.values.tolist() == [one[m]["loc"], one[m]["scale"]]
            np.testing.assert_array_equal(cell.return_level_upper.values, np.array(
                [rl["upper"] for rl in one[m]["return_levels"]], dtype=float))
            assert cell.chi2_p.item() == one[m]["gof"]["chi2_p"]
            assert cell.ad_p.item() == one[m]["gof"]["ad_p"]
        assert ds.loglik.values[i, j, 0] == one["mle"]["loglik"]
        assert ds.gumbel_test_p.values[i, j] == one["gumbel_test"]["p"]
        np.testing.assert_array_equal(ds.return_level_profile_upper.values[i, j, 0], np.array(
            [rl["profile_upper"] for rl in one["mle"]["return_levels"]], dtype=float))
        assert np.isnan(ds.return_level_profile_upper.values[i, j, 1]).all()  # lmom has none
    # Other confidences: normal bounds around the same values.
    wide = kx.fit(da, periods=PERIODS, confidence=0.99)
    mle = {"estimator": "mle"}
    ok = ds.ok.values
    assert (wide.return_level_lower.sel(mle).values[ok]
            < ds.return_level_lower.sel(mle).values[ok]).all()
    np.testing.assert_array_equal(wide.return_level.values, ds.return_level.values)


def test_gev_with_the_gumbel_check():
    da = maxima()
    ds = kx.fit(da, dist="gev", periods=PERIODS)
    assert ds.param.values.tolist() == ["loc", "scale", "shape"] and "ks_p" not in ds
    one = korvalinde.fit(da.values[2, 1], methods=("mle", "lmom"), periods=PERIODS, skipna=True,
                         dist="gev")
    for k, m in enumerate(("mle", "lmom")):
        g, cell = one["gev"][m], ds.isel(lat=2, lon=1, estimator=k)
        assert cell.params.values.tolist() == [g["loc"], g["scale"], g["shape"]]
        assert cell["quantile"].item() == g["quantile"]["value"]
        np.testing.assert_array_equal(cell.return_level.values,
                                      [rl["value"] for rl in g["return_levels"]])
    assert ds.gumbel_test_shape.values[2, 1] == one["gumbel_test"]["shape"]["value"]
    assert "return_level_profile_lower" not in kx.fit(da, dist="gev", profiles=False)
    with pytest.raises(ValueError, match="not ls"):
        kx.fit(da, dist="gev", methods=("ls", "mle"))


def test_dask_is_lazy_and_equal_to_eager_bit_for_bit():
    da = maxima()
    eager = kx.fit(da, periods=PERIODS)
    lazy = kx.fit(da.chunk({"lat": 2, "time": 15}), periods=PERIODS)  # time split: rechunked
    assert lazy.params.chunks is not None
    assert lazy.compute().identical(eager)


def test_on_a_cluster_of_two_worker_processes():
    from dask.distributed import Client, LocalCluster
    da = maxima()
    eager = kx.fit(da, periods=PERIODS, methods=("mle",))
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None) as cluster, Client(cluster):
        got = kx.fit(da.chunk({"lat": 1}), periods=PERIODS, methods=("mle",)).compute()
    assert got.identical(eager)


def test_block_maxima_by_resample_and_argument_errors():
    time = np.arange("1991-01-01", "2021-01-01", dtype="datetime64[D]")
    daily = xr.DataArray(np.random.default_rng(1).gamma(0.5, 8.0, (2, time.size)),
                         dims=("site", "time"), coords={"time": time})
    annual = daily.resample(time="YS").max()
    ds = kx.fit(annual, dim="time")
    assert ds.ok.values.all() and ds.n.values.tolist() == [30, 30]
    with pytest.raises(ValueError, match="dim 'year' is not a dimension"):
        kx.fit(annual, dim="year")
    with pytest.raises(TypeError, match="data must be an xarray.DataArray or Dataset"):
        kx.fit(annual.values)
    with pytest.raises(ValueError, match="unknown method 'moments'"):
        kx.fit(annual.chunk(), methods=("mle", "moments"))


def test_selection_by_estimator_and_names_that_would_clash():
    da = maxima()
    ds = kx.fit(da, periods=PERIODS)
    mle = ds.sel(estimator="mle")
    assert "estimator" not in mle.dims and mle.params.dims == ("lat", "lon", "param")
    np.testing.assert_array_equal(ds.return_level.sel(estimator="mle", period=100).values,
                                  ds.return_level.values[:, :, 0, 1])
    for bad, name in ((da.rename(lat="method"), "method"), (da.rename(lon="period"), "period"),
                      (da.rename(lat="estimator"), "estimator"),
                      (da.rename(time="param"), "param")):
        with pytest.raises(ValueError, match=f"dimension '{name}'.*rename it first"):
            kx.fit(bad, dim="param" if name == "param" else "time")
    with pytest.raises(ValueError, match="coordinate 'n' that clashes"):
        kx.fit(da.assign_coords(n=1))


def test_both_families_along_a_dimension_dist():
    da = maxima()
    both = kx.fit(da, dist="gev,gumbel", periods=PERIODS)
    assert both.params.dims == ("lat", "lon", "dist", "estimator", "param")
    assert both.dist.values.tolist() == ["gev", "gumbel"]
    assert both.param.values.tolist() == ["loc", "scale", "shape"]
    for d in ("gumbel", "gev"):
        one = kx.fit(da, dist=d, periods=PERIODS).return_level
        np.testing.assert_array_equal(both.return_level.sel(dist=d).values, one.values)
    shape = both.params.sel(dist="gumbel", param="shape").values
    assert (shape[both.ok.values] == 0).all() and np.isnan(shape[~both.ok.values]).all()
    assert np.isnan(both.params_se.sel(dist="gumbel", param="shape")).all()
    assert np.isnan(both.ks_p.sel(dist="gev")).all() and "units" not in both.params.attrs
    with pytest.raises(ValueError, match="comma-separated list"):
        kx.fit(da, dist="gumbel,frechet")


def test_a_dataset_fits_each_variable_and_float32_stays_float32():
    da = maxima()
    data = xr.Dataset({"pr": da, "tx": (da * 0.5).astype(np.float32), "crs": 0,
                       "label": ("time", np.array(["x"] * 40))})
    ds = kx.fit(data, periods=PERIODS)
    assert ds.attrs["not_fitted"] == "crs (no dimension 'time'); label (not numbers)"
    assert ds.attrs["method"].startswith("korvalinde.xarray.fit of pr, tx:")
    for name, v in kx.fit(data["pr"], periods=PERIODS).data_vars.items():
        assert ds["pr_" + name].identical(v.rename("pr_" + name)), name
    tx = kx.fit(data["tx"].astype(np.float64), periods=PERIODS)
    for name in ("params", "params_se", "return_level", "quantile_profile_upper"):
        assert ds["tx_" + name].dtype == np.float32
        np.testing.assert_array_equal(ds["tx_" + name].values, tx[name].values.astype(np.float32))
    for name in ("loglik", "gumbel_test_shape", "ad_p"):
        assert ds["tx_" + name].dtype == np.float64
        np.testing.assert_array_equal(ds["tx_" + name].values, tx[name].values)
    assert ds.pr_return_level.dtype == np.float64
    assert kx.fit(data.chunk({"lat": 2}), periods=PERIODS).compute().identical(ds)
    with pytest.raises(ValueError, match="no data variable has the dimension 'time'"):
        kx.fit(data[["label"]])


def test_cf_attributes():
    da = maxima().assign_attrs(standard_name="precipitation_amount", long_name="annual maximum")
    for ds in (kx.fit(da, periods=PERIODS), kx.fit(da, dist="gumbel,gev", periods=PERIODS)):
        for name, v in ds.variables.items():
            if name not in da.coords:
                assert v.attrs.get("long_name"), name
    ds = kx.fit(da, dist="gev", periods=PERIODS)
    assert ds.return_level_profile_upper.attrs == {
        "units": "mm", "standard_name": "precipitation_amount",
        "long_name": "upper bound (return level of annual maximum, profile likelihood)"}
    assert "units" not in ds.params.attrs and "shape dimensionless" in ds.params.attrs["comment"]
    assert "units" not in ds.gumbel_test_shape.attrs and "units" not in ds.ad.attrs
    assert ds.n.attrs["standard_name"] == "number_of_observations"
    assert "heavy upper tail" in ds.attrs["shape_convention"]
    assert ds.period.attrs["units"] == "years"
    assert kx.fit(da, periods=PERIODS).params.attrs["units"] == "mm"
    month = xr.DataArray(np.random.default_rng(2).gumbel(5, 1, 36), dims="time", coords={
        "time": np.arange("2000-01", "2003-01", dtype="datetime64[M]").astype("datetime64[ns]")})
    assert kx.fit(month, periods=PERIODS).period.attrs["units"] == "months"


def test_further_families_share_the_param_coordinate():
    da = maxima()
    ds = kx.fit(da, dist="glo,pe3,gumbel", methods=("lmom",), periods=PERIODS)
    assert ds.dist.values.tolist() == ["glo", "pe3", "gumbel"]
    assert ds.param.values.tolist() == ["loc", "scale", "shape", "mean", "sd", "skew"]
    one = korvalinde.fit(da.values[2, 1], dist="glo,pe3,gumbel", methods=("lmom",), periods=PERIODS)
    got = ds.params.isel(lat=2, lon=1).sel(estimator="lmom")
    assert got.sel(dist="glo", param="shape").item() == one["glo"]["lmom"]["shape"]
    assert got.sel(dist="pe3", param="skew").item() == one["pe3"]["lmom"]["skew"]
    assert np.isnan(got.sel(dist="glo", param="skew").item())
    assert got.sel(dist="gumbel", param="shape").item() == 0
    level = ds.return_level.isel(lat=2, lon=1).sel(estimator="lmom", dist="pe3", period=100).item()
    assert level == one["pe3"]["lmom"]["return_levels"][1]["value"]
