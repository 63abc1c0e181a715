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
