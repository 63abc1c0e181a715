"""korvalinde.fit with covariates: the command line's record bit for bit,
missing values dropped and counted, and bad covariates refused."""
import json
import os
import pathlib
import subprocess

import numpy as np
import pytest

import korvalinde

VENICE = pathlib.Path(__file__).resolve().parents[2] / "examples/annual-maxima/venice_sealevel.csv"


def venice():
    years, x = np.loadtxt(VENICE, delimiter=",", skiprows=1, unpack=True)
    return years, x


def test_the_command_lines_record():
    years, x = venice()
    r = korvalinde.fit(x, methods=("mle",), periods=(10, 100), covariates={"time": years})
    out = subprocess.run([os.environ["KORVALINDE_BIN"], "fit", "--time", "year", "--column", "value",
                          "--block", "year", "--covariate", "time", "--periods", "10,100", "--json", "-",
                          str(VENICE)], check=True, capture_output=True, text=True).stdout
    cli = json.loads(out)
    ns = r["gev"]["mle"].pop("nonstationary")
    assert ns.pop("n_dropped") == 0
    assert ns == cli["gev"]["mle"]["nonstationary"]
    assert r["trend"] == cli["trend"]
    assert abs(ns["coef"]["mu_time"] - 0.564) < 5e-4
    assert [p["covariates"]["time"] for p in ns["at"]] == [1931, 1981]


def test_points_missing_values_and_bad_covariates():
    years, x = venice()
    gmst = 0.01 * (years - 1930) + 0.05 * np.sin(years)
    gmst[5] = np.nan
    r = korvalinde.fit(x, methods=("mle",), periods=(100,), covariates={"gmst": gmst},
                       vary=("loc", "scale"), at=[{"gmst": 0.0}, 1.0])
    ns = r["gev"]["mle"]["nonstationary"]
    assert ns["n_dropped"] == 1 and ns["n"] == 50 and ns["vary"] == "loc,scale"
    assert [p["covariates"]["gmst"] for p in ns["at"]] == [0.0, 1.0]
    assert ns["at"][1]["extrapolated"] and "log_sigma_gmst" in ns["coef"]
    flat = korvalinde.fit(x, methods=("mle",), covariates={"c": np.ones_like(x)})
    assert "constant" in flat["gev"]["mle"]["nonstationary"]["error"]
    with pytest.raises(ValueError, match="as long as x"):
        korvalinde.fit(x, covariates={"time": years[:-1]})
    with pytest.raises(ValueError, match="vary"):
        korvalinde.fit(x, covariates={"time": years}, vary=("shape",))
    with pytest.raises(ValueError, match="every covariate"):
        korvalinde.fit(x, covariates={"time": years, "g": gmst}, at=[{"time": 1950}])


def grid(shape, years, seed=3):
    """GEV maxima with a location trend over `years` on a grid of `shape`."""
    rng = np.random.default_rng(seed)
    u = rng.uniform(size=shape + (len(years),))
    xi = -0.1
    return 100 + 0.4 * (years - years[0]) + 15 * ((-np.log(u)) ** -xi - 1) / xi


def same(a, b):
    return np.array_equal(np.asarray(a, dtype=float), np.asarray(b, dtype=float), equal_nan=True)


def as_float(v):
    return np.nan if v is None else v


def test_fit_many_equals_fit_on_each_slice():
    years = np.arange(1950.0, 1990.0)
    a = grid((3, 2), years)
    a[0, 1, 4] = np.nan  # dropped and counted
    a[2, 0] = 100.0       # constant: that slice alone fails
    r = korvalinde.fit_many(a, methods=(), periods=(10, 100), covariates={"time": years})
    assert r["ns_rl"].shape == (3, 2, 2, 2) and r["ns_coef"].shape == (3, 2, 4)
    assert list(r["ns_coef_names"]) == ["mu0", "mu_time", "sigma", "xi"]
    assert r["ns_n_dropped"][0, 1] == 1 and not r["ns_ok"][2, 0] and np.isnan(r["ns_coef"][2, 0]).all()
    for i, j in np.ndindex(3, 2):
        if (i, j) == (2, 0):
            continue
        one = korvalinde.fit(a[i, j], methods=("mle",), periods=(10, 100), covariates={"time": years},
                             skipna=True)
        ns, trend = one["gev"]["mle"]["nonstationary"], one["trend"]
        assert trend["mann_kendall"]["s"] == r["trend_mann_kendall_s"][i, j]
        assert trend["sen_slope"]["slope"] == r["trend_sen_slope"][i, j]
        assert r["ns_ok"][i, j] == ("error" not in ns)
        if "error" in ns:
            continue
        assert same([ns["coef"][k] for k in r["ns_coef_names"]], r["ns_coef"][i, j])
        assert same([ns["se"][k] for k in r["ns_coef_names"]], r["ns_se"][i, j])
        assert same([[as_float(v) for v in row] for row in ns["cov"]], r["ns_cov"][i, j])
        assert ns["loglik"] == r["ns_loglik"][i, j] and ns["bic"] == r["ns_bic"][i, j]
        assert same([t["statistic"] for t in ns["lr_tests"]], r["ns_lr_statistic"][i, j])
        assert same([t["p"] for t in ns["lr_tests"]], r["ns_lr_p"][i, j])
        for key in ("value", "se", "lower", "profile_lower", "profile_upper"):
            assert same([[as_float(l[key]) for l in p["return_levels"]] for p in ns["at"]],
                        r["ns_rl" + ("" if key == "value" else "_" + key)][i, j])
            assert same([as_float(l[key]) for l in ns["change"]],
                        r["ns_change" + ("" if key == "value" else "_" + key)][i, j])
        assert same([p["covariates"]["time"] for p in ns["at"]], r["ns_at"][i, j, :, 0])
        pr = ns["probability_ratio"]
        assert pr["pr"] == r["ns_pr"][i, j] and same([as_float(pr["upper"])], [r["ns_pr_upper"][i, j]])
        assert same([as_float(pr["profile_lower"])], [r["ns_ln_pr_profile_lower"][i, j]])
        assert ns["residual_gof"]["ad"] == r["ns_residual_ad"][i, j]
    # The threads change nothing.
    two = korvalinde.fit_many(a, methods=(), periods=(10, 100), covariates={"time": years}, threads=2)
    one = korvalinde.fit_many(a, methods=(), periods=(10, 100), covariates={"time": years}, threads=1)
    assert all(same(one[k], two[k]) for k in one if k.startswith(("ns_", "trend_")) and "names" not in k
               and k != "ns_lr_against")


def test_fit_many_covariates_per_cell_and_shared():
    years = np.arange(1960.0, 2000.0)
    a = np.moveaxis(grid((2, 3), years, seed=5), -1, 0)  # the series along axis 0
    g = 0.02 * (years - 1960)[:, None, None] + 0.1 * np.arange(3)[None, None, :]  # per column
    r = korvalinde.fit_many(a, axis=0, methods=(), periods=(100,), covariates={"g": g},
                            at=[0.0, 1.0], trend=False)
    assert "trend_sen_slope" not in r and r["ns_rl"].shape == (2, 3, 2, 1)
    for i, j in np.ndindex(2, 3):
        ns = korvalinde.fit(a[:, i, j], methods=("mle",), periods=(100,), covariates={"g": g[:, 0, j]},
                            at=[0.0, 1.0])["gev"]["mle"]["nonstationary"]
        assert same([p["return_levels"][0]["profile_upper"] for p in ns["at"]], r["ns_rl_profile_upper"][i, j, :, 0])
    with_methods = korvalinde.fit_many(a, axis=0, methods=("lmom",), periods=(100,), covariates={"g": g},
                                       at=[0.0, 1.0], trend=False)
    assert same(with_methods["ns_rl"], r["ns_rl"]) and "lmom_rl" in with_methods
    disp = korvalinde.fit_many(a[:, 0, :2], axis=0, methods=(), periods=(100,), covariates={"time": years},
                               vary="dispersion")
    assert list(disp["ns_coef_names"]) == ["mu0", "a_time", "sigma0", "xi"]
    one = korvalinde.fit(a[:, 0, 1], methods=("mle",), periods=(100,), covariates={"time": years},
                         vary="dispersion")["gev"]["mle"]["nonstationary"]
    assert one["vary"] == "dispersion" and same(list(one["coef"].values()), disp["ns_coef"][1])
    with pytest.raises(ValueError, match="broadcast"):
        korvalinde.fit_many(a, axis=0, methods=(), covariates={"g": g[:, :, :2]}, at=[0.0])
    with pytest.raises(ValueError, match="threads"):
        korvalinde.fit_many(a, axis=0, methods=(), covariates={"g": g}, at=[0.0], threads=-1)
    with pytest.raises(ValueError, match="not 40"):
        korvalinde.fit_many(a, axis=0, methods=(), covariates={"g": years[1:]})


def test_xarray_fit_on_covariates_lazy_equals_eager():
    xr = pytest.importorskip("xarray")
    pytest.importorskip("dask")
    import korvalinde.xarray
    years = np.arange(1950, 1990)
    a = grid((4, 3), years.astype(float), seed=7)
    da = xr.DataArray(a, dims=("y", "x", "time"), coords={"time": years})
    gmst = xr.DataArray(0.015 * (years - 1950.0), dims=("time",), coords={"time": years})
    kw = dict(dim="time", methods=("mle",), periods=(10, 100), covariates={"gmst": gmst})
    eager = korvalinde.xarray.fit(da, **kw)
    lazy = korvalinde.xarray.fit(da.chunk({"y": 2, "x": 2}), **kw)
    assert lazy["ns_return_level"].chunks is not None
    xr.testing.assert_identical(eager, lazy.compute())
    rl = eager["ns_return_level"]
    assert rl.dims == ("y", "x", "at", "period") and eager["return_level"].dims[-1] == "period"
    many = korvalinde.fit_many(a, methods=(), periods=(10, 100), covariates={"gmst": gmst.values})
    assert same(rl, many["ns_rl"]) and same(eager["ns_coef"].sel(coef="mu_gmst"), many["ns_coef"][..., 1])
    assert same(eager["ns_lr_p"].sel(lr_test="stationary"), many["ns_lr_p"][..., 0])


DANISH = VENICE.parents[1] / "daily/danish_fire_losses.csv"


def test_peaks_over_a_threshold_on_covariates_are_the_command_lines():
    """The daily Danish losses (the largest of a day's), their excesses over
    10 with the GPD's log-scale linear in the decimal year: the record of
    `korvalinde fit --pot --covariate time`, every exceedance a cluster."""
    import datetime
    days = {}
    for line in DANISH.read_text().splitlines()[1:]:
        d, v = line.split(",")
        days[d] = max(days.get(d, -np.inf), float(v))
    dates = [datetime.date.fromisoformat(d) for d in sorted(days)]
    x = np.array([days[d.isoformat()] for d in dates])
    year = np.array([d.year + (d.timetuple().tm_yday - 1) / (366 if d.year % 4 == 0 else 365) for d in dates])
    r = korvalinde.fit(x, threshold=10, per_year=365.25, periods=(10, 100), covariates={"time": year},
                       vary=("scale",))
    out = subprocess.run([os.environ["KORVALINDE_BIN"], "fit", "--time", "date", "--column", "loss",
                          "--duplicates", "max", "--pot", "--threshold", "10", "--per-year", "365.25",
                          "--periods", "10,100", "--covariate", "time", "--json", "-", str(DANISH)],
                         check=True, capture_output=True, text=True).stdout
    cli = json.loads(out)
    ns = r["gpd"]["mle"]["nonstationary"]
    assert ns.pop("n_dropped") == 0 and ns["n"] == 106
    assert r["gpd"] == cli["gpd"] and r["trend"] == cli["trend"]
    for k in ("threshold", "n_exceed", "n_clusters", "years", "rate_per_year", "gpd"):
        assert r["pot"][k] == cli["pot"][k], k
    assert r["n"] == cli["n"] and r["max"] == cli["max"]
    # A cluster maximum without its covariate is left out and counted.
    gap = year.copy()
    gap[np.flatnonzero(x > 10)[:3]] = np.nan
    ns = korvalinde.fit(x, threshold=10, per_year=365.25, covariates={"time": gap})["gpd"]["mle"]["nonstationary"]
    assert (ns["n_dropped"], ns["n"]) == (3, 103)
    # Without covariates the stationary peaks alone; bad options are refused.
    plain = korvalinde.fit(x, threshold=10, per_year=365.25, periods=(10, 100))
    assert "gpd" not in plain and plain["pot"]["gpd"] == cli["pot"]["gpd"]
    with pytest.raises(ValueError, match="per_year"):
        korvalinde.fit(x, threshold=10)
    with pytest.raises(ValueError, match="vary"):
        korvalinde.fit(x, threshold=10, per_year=365.25, covariates={"time": year}, vary=("loc",))
    with pytest.raises(korvalinde.InputError, match="^fewer than 2 clusters"):
        korvalinde.fit(x, threshold=1e6, per_year=365.25)
    with pytest.raises(ValueError, match="one of threshold"):
        korvalinde.fit(x, threshold=10, threshold_quantile=0.9, per_year=365.25)
    with pytest.raises(ValueError, match="bootstrap, skipna: not used with a threshold"):
        korvalinde.fit(x, threshold=10, per_year=365.25, bootstrap=99, skipna=True)
