"""The Python module against the command line, on bad input, with other
threads running, and fit_many against fit."""

import ast
import json
import math
import os
import pathlib
import re
import signal
import subprocess
import sys
import threading
import time
import tracemalloc

import numpy as np
import pytest

import korvalinde

METHODS = ("ls", "mle", "lmom")


def gumbel(n, loc=10.0, scale=2.0, seed=1):
    return np.random.default_rng(seed).gumbel(loc, scale, n)


STATIONS = pathlib.Path(__file__).resolve().parents[2] / "examples" / "stations"


@pytest.mark.parametrize("station, options, argv", [
    (None, {}, []),
    (None, {"bins": 30, "prob": 0.95, "methods": ("mle", "lmom"), "periods": (10, 100),
            "level": 25.0, "bootstrap": 40, "seed": 7},
     ["--bins", "30", "--prob", "0.95", "--methods", "mle,lmom", "--periods", "10,100",
      "--level", "25", "--bootstrap", "40", "--seed", "7"]),
    ("sask_flood", {"confidence": 0.9}, ["--confidence", "0.9"]),
    ("uccle_dayrain", {"dist": "gev", "level": 60.0}, ["--dist", "gev", "--level", "60"]),
    ("venice_sealevel", {"dist": "gev", "methods": ("lmom", "ls"), "seed": 3},
     ["--dist", "gev", "--methods", "lmom,ls", "--seed", "3"]),
    ("portpirie_sealevel", {"methods": ("mle",), "prob": 1.0}, ["--methods", "mle", "--prob", "1"]),
    ("sask_flood", {"dist": "gev", "methods": ("mle",), "periods": (100,)},
     ["--dist", "gev", "--methods", "mle", "--periods", "100"]),
])
def test_fit_equals_command_line_json(tmp_path, station, options, argv):
    if station is None:
        x = gumbel(500)
        sample = tmp_path / "sample.txt"
        sample.write_text("".join(f"{v!r}\n" for v in x.tolist()))
    else:
        sample = STATIONS / f"{station}.txt"
        x = np.loadtxt(sample)
    # Without methods both run mle and lmom, the histogram fit (ls) on request.
    run = subprocess.run([os.environ["KORVALINDE_BIN"], "fit", "--quiet", "--json", "-", *argv,
                          str(sample)], capture_output=True, text=True, check=True)
    expected = json.loads(run.stdout)
    assert expected.pop("meta")["input"]["file"] == str(sample)  # the run's record: CLI only
    got = korvalinde.fit(x, name=str(sample), **options)
    methods = [m for m in METHODS if m in options.get("methods", ("mle", "lmom"))]
    for m in methods:  # the aliases come right after a and b
        assert list(got[m])[:4] == ["a", "b", "loc", "scale"]
        assert got[m].pop("loc") == got[m]["a"] and got[m].pop("scale") == got[m]["b"]
    gev = ["gev"] if options.get("dist") == "gev" else []
    assert list(got) == ["file", "ok", "n", "min", "max", "bins", "width", "m", *methods, *gev,
                         *(["gumbel_test"] if "mle" in methods else []), "headline"]
    assert got == expected  # numbers bit for bit, null as None
    assert json.dumps(got) == json.dumps(expected)  # in the same order, floats as floats
    if station == "sask_flood" and gev:  # the Gumbel check rejects the Gumbel: the GEV leads
        assert got["headline"] == {"dist": "gev", "method": "mle"}


@pytest.mark.parametrize("x, options, message", [
    ([1.0], {}, "too few values"),
    ([], {}, "too few values"),
    ([1.0, 2.0, float("nan"), 4.0, 5.0], {}, "value 3 is not finite"),
    ([1.0, 2.0, 3.0, float("inf"), 5.0], {}, "value 4 is not finite"),
    (gumbel(50), {"bins": 0}, "bins must be 1 to 1000000"),
    (gumbel(50), {"bins": 1000001}, "bins must be 1 to 1000000"),
    (gumbel(50), {"bins": 2**40}, "bins must be 1 to 1000000"),
    (gumbel(50), {"prob": 0.0}, r"probability must be in \(0, 1\]"),
    (gumbel(50), {"periods": (10, 1)}, "return periods must be finite and greater than 1"),
    (gumbel(50), {"bootstrap": -1}, "bootstrap replicates must not be negative"),
    (gumbel(50), {"methods": ("ls", "moments")}, "unknown method 'moments'"),
    (gumbel(50), {"methods": ()}, "no method chosen"),
    (np.ones((5, 10)), {}, "one-dimensional"),
])
def test_fit_rejects_bad_input(x, options, message):
    with pytest.raises(ValueError, match=message):
        korvalinde.fit(x, **options)


@pytest.mark.parametrize("options, error, message", [
    ({"methods": "mle"}, TypeError, "^methods must be a sequence of method names, not str$"),
    ({"methods": ("mle", 3)}, TypeError, "^methods must hold method names, not int$"),
    ({"bins": 2.5}, TypeError, "^bins must be an integer, not float$"),
    ({"prob": "high"}, TypeError, "^prob must be a number, not str$"),
    ({"periods": 100}, TypeError, "^periods must be a sequence of numbers, not int$"),
    ({"bnis": 20}, TypeError, "unexpected keyword argument 'bnis'$"),
    ({"dist": "frechet"}, ValueError, "^dist must be a comma-separated list of gumbel, gev, glo, .*, "
                                      "lognormal, not 'frechet'$"),
])
def test_bad_arguments_are_named_without_the_data(options, error, message):
    x = gumbel(1000)
    for call in (korvalinde.fit, korvalinde.fit_many):
        with pytest.raises(error, match=message):
            call(x, **options)


def test_input_errors_say_where():
    with pytest.raises(korvalinde.InputError, match="value 2 is not finite") as e:
        korvalinde.fit([1.0, np.inf, 3.0], name="station.txt")
    assert (e.value.file, e.value.line, e.value.column) == ("station.txt", None, None)


def test_fit_accepts_any_array_like():
    x = gumbel(200)
    expected = korvalinde.fit(x)
    assert korvalinde.fit(x.tolist()) == expected
    assert korvalinde.fit(np.repeat(x, 2)[::2]) == expected  # strided
    assert korvalinde.fit(x.astype(np.float32))["n"] == 200
    with pytest.raises(TypeError):
        korvalinde.fit(["a", object()])


def test_float64_contiguous_input_is_read_in_place():
    def peak(f, arg):  # NumPy reports its buffers to tracemalloc
        tracemalloc.start()
        try:
            f(arg)
            return tracemalloc.get_traced_memory()[1]
        finally:
            tracemalloc.stop()

    x = gumbel(1_000_000)  # 8 MB
    assert peak(korvalinde.fit, x) < 1_000_000
    assert peak(korvalinde.fit, x[::-1]) > 8_000_000  # converted
    a = x.reshape(1000, 1000)
    assert peak(lambda v: korvalinde.fit_many(v, methods=("mle",)), a) < 1_000_000


def test_fit_releases_the_gil():
    x = gumbel(10_000_000)
    started = threading.Event()
    span = []

    def run():
        started.set()
        t = time.perf_counter()
        korvalinde.fit(x, methods=("lmom",))
        span.extend((t, time.perf_counter()))

    worker = threading.Thread(target=run)
    worker.start()
    started.wait()
    # This thread keeps running Python while the fit runs: with the GIL held it
    # would stall from start to end of the fit.
    ticks = [time.perf_counter()]
    while worker.is_alive():
        now = time.perf_counter()
        if now > ticks[-1] + 0.001:
            ticks.append(now)
    worker.join()
    t0, t1 = span
    assert t1 - t0 > 0.05, "fit too quick to tell"
    inside = [t for t in ticks if t0 + 0.25 * (t1 - t0) < t < t0 + 0.75 * (t1 - t0)]
    assert len(inside) > 10


def _same(a, b):
    """Equal bit for bit, None standing for NaN or an infinity (which a record can not hold)."""
    return (not math.isfinite(a) and b is None) if b is None or math.isnan(a) else a == b


def _estimate(name, value, p=None):
    """An estimate's fields under fit_many's names (name, name_se, name_lower, ...)."""
    return ((name + ("" if k == "value" else f"_{k}"), p, v) for k, v in value.items()
            if k not in ("p", "period") and not k.endswith("_reason"))


def _method(prefix, record):
    for key, value in record.items():
        if key == "quantile":
            yield from _estimate(f"{prefix}quantile", value)
        elif key == "return_levels":
            for p, level in enumerate(value):
                yield from _estimate(f"{prefix}rl", level, p)
        elif key == "shape_interval":
            yield from _estimate(f"{prefix}shape", value)
        elif key == "cov":
            yield from ((f"{prefix}cov", (i, j), v) for i, row in enumerate(value)
                        for j, v in enumerate(row))
        elif key == "level":
            yield f"{prefix}level_period", None, value["period"]
        elif key == "gof":
            # fit_many leaves out the GEV's p-values (simulated at each slice's shape).
            skip = ("p_method", "ks_p", "cvm_p", "ad_p") if prefix.startswith("gev_") else ("p_method",)
            yield from ((f"{prefix}{k}", None, v) for k, v in value.items() if k not in skip)
        elif key not in ("loc", "scale") or prefix.startswith("gev_"):
            yield f"{prefix}{key}", None, value


def _flat(record):
    """fit()'s statistics under fit_many's names: (name, index along its axis, value)."""
    for key in ("min", "max", "width", "m"):
        yield key, None, record[key]
    for key, value in record.get("gumbel_test", {}).items():
        if key == "shape":
            yield from _estimate("gumbel_test_shape", value)
        elif key != "error":
            yield f"gumbel_test_{key}", None, value
    for m in (m for m in METHODS if m in record):
        yield from _method(f"{m}_", record[m])
        yield from _method(f"gev_{m}_", record.get("gev", {}).get(m, {}))


@pytest.mark.parametrize("dist", ["gumbel", "gev"])
def test_fit_many_equals_fit_slice_by_slice(dist):
    rng = np.random.default_rng(5)
    a = rng.gumbel(20.0, 3.0, size=(3, 40, 4))  # samples along axis 1
    a[0, 7, 1] = np.nan  # slices that fail
    a[2, :, 3] = 1.0
    a[1, 2:, 0] = np.nan
    periods = (2, 100, 1000)
    options = dict(bins=20, periods=periods, level=30.0, dist=dist)
    many = korvalinde.fit_many(a, axis=1, threads=2, **options)
    assert many["periods"].tolist() == list(periods)
    assert many["ok"].shape == (3, 4) and many["mle_rl"].shape == (3, 4, 3)
    assert many["n"].tolist() == [[40] * 4] * 3
    keys = set()
    for i in range(3):
        for j in range(4):
            try:
                one = korvalinde.fit(a[i, :, j], **options)
            except korvalinde.InputError:
                assert not many["ok"][i, j]
                assert all(np.isnan(v[i, j]).all() for k, v in many.items()
                           if k not in ("ok", "periods", "n"))
                continue
            assert many["ok"][i, j]
            for key, p, value in _flat(one):
                keys.add(key)
                got = many[key][i, j] if p is None else many[key][i, j][p]
                assert _same(got, value), (key, p, i, j)
    aliases = {f"{m}_{k}" for m in METHODS if f"{m}_a" in many for k in ("loc", "scale")}
    assert keys | aliases | {"periods", "ok", "n"} == set(many)  # every statistic, nothing else
    assert not many["ok"].all() and many["ok"].any()
    # The thread count and the memory layout change nothing.
    one_thread = korvalinde.fit_many(np.moveaxis(a, 1, -1).copy(), threads=1, **options)
    for key, value in many.items():
        np.testing.assert_array_equal(one_thread[key], value)


def test_fit_many_shapes_and_options():
    a = gumbel(2 * 3 * 30).reshape(2, 3, 30)
    r = korvalinde.fit_many(a.tolist(), axis=-1, methods=("lmom",), periods=(10,))
    assert not any(k.startswith(("ls_", "mle_")) for k in r)
    assert r["lmom_a"].shape == (2, 3) and r["lmom_rl"].shape == (2, 3, 1) and r["ok"].all()
    # By default mle and lmom, as on the command line; ls on request.
    default = korvalinde.fit_many(gumbel(30))
    assert default["mle_a"].shape == () and "lmom_a" in default and "ls_a" not in default
    assert "ls" not in korvalinde.fit(gumbel(30)) and "ls" in korvalinde.fit(gumbel(30), methods=("ls",))
    assert korvalinde.fit_many(np.empty((0, 30)))["ok"].shape == (0,)
    with pytest.raises(ValueError):
        korvalinde.fit_many(a, axis=3)
    with pytest.raises(ValueError, match="bins must be 1 to 1000000"):
        korvalinde.fit_many(a, bins=0)
    with pytest.raises(ValueError, match="threads"):
        korvalinde.fit_many(a, threads=-1)


def test_fit_many_stops_on_ctrl_c():
    # Half a minute of work or more: stopping well inside it shows the
    # interruption, with room for a loaded machine.
    a = gumbel(400_000 * 50).reshape(400_000, 50)
    timer = threading.Timer(0.3, signal.raise_signal, (signal.SIGINT,))
    t = time.perf_counter()
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        korvalinde.fit_many(a, threads=2, dist="gev")
    assert time.perf_counter() - t < 10.0


def test_stubs_match_the_module():
    """The .pyi beside the module names the same parameters with the same defaults."""
    def signature(tree):
        return {f.name: ([a.arg for a in f.args.args],
                         [list(v) if isinstance(v, tuple) else v
                          for v in map(ast.literal_eval, f.args.defaults)])
                for f in tree.body if isinstance(f, ast.FunctionDef)}

    stub = pathlib.Path(korvalinde.__file__).with_name("_korvalinde.pyi")
    shown = "\n".join(f"def {getattr(korvalinde._korvalinde, name).__doc__.splitlines()[0]}: pass"
                      for name in ("fit", "lmoments", "fit_many", "idf", "region"))
    assert signature(ast.parse(stub.read_text())) == signature(ast.parse(shown))


def test_complex_input_is_refused_and_masks_are_missing_values():
    x = gumbel(60)
    for bad in (x + 1j, (x + 0j).tolist(), np.ma.masked_array(x + 1j)):
        with pytest.raises(TypeError, match="complex"):
            korvalinde.fit(bad)
        with pytest.raises(TypeError, match="complex"):
            korvalinde.fit_many(bad)
    with pytest.raises(TypeError, match="x must be an array of numbers"):
        korvalinde.fit(np.array(["1.5", "2.5", "3"]))

    mask = np.zeros(60, bool)
    mask[[3, 17, 40]] = True
    masked = np.ma.masked_array(x, mask)
    masked.data[mask] = 1e300  # a fill value that must not be fitted
    expected = korvalinde.fit(x[~mask])
    assert korvalinde.fit(masked, skipna=True) == expected
    with pytest.raises(ValueError, match="masked values"):
        korvalinde.fit(masked)
    with_nan = x.copy()
    with_nan[mask] = np.nan
    assert korvalinde.fit(with_nan, skipna=True) == expected
    with pytest.raises(ValueError, match="min_count is 58"):
        korvalinde.fit(with_nan, skipna=True, min_count=58)

    grid = np.ma.masked_array(np.stack([x, x[::-1]]), np.stack([mask, np.zeros(60, bool)]))
    many = korvalinde.fit_many(grid, skipna=True, methods=("mle",))
    assert many["mle_a"][0] == expected["mle"]["a"]
    assert many["mle_a"][1] == korvalinde.fit(x[::-1], methods=("mle",))["mle"]["a"]
    strict = korvalinde.fit_many(grid, methods=("mle",))
    assert strict["ok"].tolist() == [False, True]


def test_fit_stops_on_ctrl_c():
    x = gumbel(2000)
    timer = threading.Timer(0.3, signal.raise_signal, (signal.SIGINT,))
    t = time.perf_counter()
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        korvalinde.fit(x, methods=("mle",), bootstrap=2_000_000, threads=2)  # minutes of work
    assert time.perf_counter() - t < 10.0


def test_threads_the_system_refuses_are_done_without():
    """Thread stacks beyond an address-space limit cannot be made: the call
    goes on with the threads it has and gives the same numbers."""
    script = """if True:
        import resource, numpy as np, korvalinde
        a = np.random.default_rng(1).gumbel(10, 2, (2000, 30))
        ref = korvalinde.fit_many(a, threads=1)
        size = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (size + (300 << 20), resource.RLIM_INFINITY))
        many = korvalinde.fit_many(a, threads=100000)
        assert all(np.array_equal(ref[k], many[k], equal_nan=True) for k in ref)
        """
    subprocess.run([sys.executable, "-c", script], check=True, timeout=120)


def test_gev_in_fit_and_fit_many():
    rng = np.random.default_rng(8)
    u = rng.random((3, 60))
    a = 10.0 + 2.0 * ((-np.log(u)) ** -0.2 - 1.0) / 0.2  # GEV with shape 0.2
    many = korvalinde.fit_many(a, methods=("mle", "lmom"), periods=(10, 100), dist="gev")
    for i in range(3):
        one = korvalinde.fit(a[i], methods=("mle", "lmom"), periods=(10, 100), dist="gev")
        for m in ("mle", "lmom"):
            g = one["gev"][m]
            for key in ("loc", "scale", "shape", "se_loc"):
                assert _same(many[f"gev_{m}_{key}"][i], g[key])
            for p, level in enumerate(g["return_levels"]):
                assert _same(many[f"gev_{m}_rl"][i, p], level["value"])
                if m == "mle":
                    assert _same(many["gev_mle_rl_profile_upper"][i, p], level["profile_upper"])
        assert abs(one["gev"]["mle"]["shape"] - 0.2) < 0.4
    assert "gev_ls_loc" not in many and "gev" not in korvalinde.fit(a[0])


def test_fit_many_p_values_equal_fit_for_every_size_and_seed():
    """The simulated null laws are shared between slices of the same size
    only: slices of other sizes and other seeds get their own. fit keeps them
    between calls, apart for each bin count."""
    a = np.random.default_rng(9).gumbel(5.0, 1.5, size=(6, 30))
    a[1, :12] = a[4, :12] = np.nan  # sizes 18, 30, 25
    a[2, :5] = np.nan
    korvalinde.fit(a[0], bins=50, seed=3)
    many = korvalinde.fit_many(a, bins=10, skipna=True, seed=3, threads=2)
    for i in range(6):
        one = korvalinde.fit(a[i], bins=10, skipna=True, seed=3)
        for m in ("mle", "lmom"):
            for key in ("ks_p", "cvm_p", "ad_p"):
                assert many[f"{m}_{key}"][i] == one[m]["gof"][key], (m, key, i)
    other = korvalinde.fit_many(a, bins=10, skipna=True, seed=4, methods=("lmom",))
    assert (other["lmom_ad_p"] != many["lmom_ad_p"]).any()


def test_without_profiles_the_same_numbers_but_no_profile_bounds():
    x = gumbel(60, seed=4)
    full = korvalinde.fit(x, methods=("mle",), dist="gumbel,gev")
    fast = korvalinde.fit(x, methods=("mle",), dist="gumbel,gev", profiles=False)

    def strip(record):
        if isinstance(record, dict):
            return {k: strip(v) for k, v in record.items() if "profile" not in k}
        return [strip(v) for v in record] if isinstance(record, list) else record

    assert fast == strip(full) and "profile_upper" in full["mle"]["quantile"]
    many = korvalinde.fit_many(x, methods=("mle",), dist="gev", profiles=False)
    assert not any("profile" in k for k in many)
    assert many["gev_mle_rl"].tolist() == [r["value"] for r in fast["gev"]["mle"]["return_levels"]]
    # Without "gumbel" in dist, only the Gumbel's own profile bounds are left out.
    gev = korvalinde.fit(x, methods=("mle",), dist="gev")
    assert gev["mle"] == strip(full["mle"]) and gev["gev"] == full["gev"]
    assert gev["gumbel_test"] == full["gumbel_test"]
    many = korvalinde.fit_many(x, methods=("mle",), dist="gev")
    assert "gev_mle_rl_profile_upper" in many and "mle_rl_profile_upper" not in many


def test_typed_dicts_name_every_key():
    import typing

    def covered(value, hint):
        if isinstance(value, dict):
            hints = typing.get_type_hints(hint)
            return all(k in hints and covered(v, hints[k]) for k, v in value.items())
        if isinstance(value, list):
            return all(covered(v, typing.get_args(hint)[0]) for v in value)
        return True

    x = gumbel(40)
    record = korvalinde.fit(x, level=20.0, dist="gev", bootstrap=5)
    assert covered(record, korvalinde.FitRecord)
    many = korvalinde.fit_many(x, level=20.0, dist="gumbel,gev", methods=("ls", "mle", "lmom"))
    assert set(many) == set(typing.get_type_hints(korvalinde.FitManyResult))


def test_reference_example_runs(monkeypatch):
    root = pathlib.Path(__file__).resolve().parents[2]
    lines = (root / "doc" / "reference.md").read_text().splitlines()
    start = lines.index("    import numpy as np, korvalinde")
    end = next(i for i in range(start, len(lines)) if lines[i] and not lines[i].startswith("    "))
    monkeypatch.chdir(root)
    exec("\n".join(line[4:] for line in lines[start:end]), {})


def test_further_families_equal_the_command_line_and_fit_many():
    sample = STATIONS / "portpirie_sealevel.txt"
    x = np.loadtxt(sample)
    run = subprocess.run([os.environ["KORVALINDE_BIN"], "fit", "--quiet", "--json", "-", "--dist",
                          "pe3,glo,kappa", str(sample)], capture_output=True, text=True, check=True)
    expected = json.loads(run.stdout)
    got = korvalinde.fit(x, name=str(sample), dist="pe3,glo,kappa")
    for k in ("pe3", "glo", "kappa", "lmoments", "comparison", "best_aic", "best_lmom", "headline"):
        assert got[k] == expected[k], k
    assert got["headline"]["dist"] == "pe3"
    assert korvalinde.lmoments(x) == got["lmoments"]
    assert list(korvalinde.lmoments(x, nmom=3)) == ["l1", "l2", "t", "t3"]
    with pytest.raises(ValueError, match="nmom"):
        korvalinde.lmoments(x, nmom=6)
    with pytest.raises(ValueError, match="dist must be"):
        korvalinde.fit(x, dist="glo,pareto")

    a = np.stack([x[:20], 2 * x[20:40], x[40:60]])
    many = korvalinde.fit_many(a, dist="glo,pe3", periods=(10, 100))
    for i in range(a.shape[0]):
        one = korvalinde.fit(a[i], dist="glo,pe3", periods=(10, 100))
        for name in korvalinde.PARAMETERS["pe3"]:
            assert many[f"pe3_lmom_{name}"][i] == one["pe3"]["lmom"][name]
        assert many["glo_lmom_rl"][i].tolist() == [r["value"] for r in one["glo"]["lmom"]["return_levels"]]
        assert many["glo_lmom_ad"][i] == one["glo"]["lmom"]["gof"]["ad"]
        assert many["lmoments_t3"][i] == one["lmoments"]["t3"]
        assert many["glo_lmom_distance"][i] == [c["lmom_distance"] for c in one["comparison"]
                                                if c["dist"] == "glo"][0]
    # The lean record: the same parameters and levels, bit for bit, without
    # errors or goodness of fit.
    lean = korvalinde.fit_many(a, dist="glo,pe3", periods=(10, 100), gof=False, se=False)
    for f in ("glo", "pe3"):
        for k in [f"{f}_lmom_{n}" for n in korvalinde.PARAMETERS[f]] + [f"{f}_lmom_rl", f"{f}_lmom_quantile"]:
            assert np.array_equal(lean[k], many[k]), k
        for k in (f"{f}_lmom_rl_se", f"{f}_lmom_se_shape", f"{f}_lmom_ad"):
            assert np.isnan(lean[k]).all() and np.isfinite(many[k]).any(), k
    assert np.isnan(lean["lmom_ad_p"]).all() and np.array_equal(lean["lmom_a"], many["lmom_a"])



def test_lean_record_keeps_the_default_records_parameters_and_levels():
    # The benchmark's families on short series, some too short for a fit:
    # every output of the lean record equals the default record's bit for
    # bit, or is one of its errors and goodness of fit, left NaN.
    rng = np.random.default_rng(5)
    a = rng.gumbel(rng.uniform(10, 30, (40, 1)), rng.uniform(1, 5, (40, 1)), (40, 30))
    a[::7, 1:] = np.nan
    kw = dict(methods=("lmom",), dist="glo,gev,gno,pe3", skipna=True, min_count=3, level=25.0)
    full = korvalinde.fit_many(a, gof=True, se=True, **kw)
    lean = korvalinde.fit_many(a, gof=False, se=False, threads=1, **kw)
    assert sorted(lean) == sorted(full) and lean["ok"].sum() == 34
    left_out = re.compile(r"_(se|se_\w+|lower|upper|cov|corr_ab|ks|cvm|ad|ad_p|ks_p|cvm_p|chi2|chi2_p)$")
    dropped = set()
    for k, v in lean.items():
        base = k.replace("_quantile", "").replace("_rl", "").replace("_shape", "")
        if left_out.search(k) or left_out.search(base):
            assert np.isnan(v).all(), k
            dropped.add(k)
        elif not k.endswith("chi2_df"):
            assert np.array_equal(v, full[k], equal_nan=True), k
    assert {"lmom_se_a", "lmom_rl_se", "lmom_ks", "lmom_chi2", "gev_lmom_se_shape", "gev_lmom_rl_upper",
            "gev_lmom_ad", "glo_lmom_se_loc", "pe3_lmom_rl_lower", "gno_lmom_cvm"} <= dropped
    for k in ("lmom_rl", "gev_lmom_rl", "pe3_lmom_rl", "gno_lmom_level_period", "glo_lmom_distance"):
        assert k not in dropped and np.isfinite(lean[k][lean["ok"]]).all(), k


def test_further_families_level_and_bootstrap_equal_the_command_line():
    sample = STATIONS / "portpirie_sealevel.txt"
    x = np.loadtxt(sample)
    run = subprocess.run([os.environ["KORVALINDE_BIN"], "fit", "--quiet", "--json", "-", "--dist", "glo,gno",
                          "--bootstrap", "20", "--seed", "2", "--level", "4.5", "--threads", "1", str(sample)],
                         capture_output=True, text=True, check=True)
    expected = json.loads(run.stdout)
    got = korvalinde.fit(x, name=str(sample), dist="glo,gno", bootstrap=20, seed=2, level=4.5, threads=2)
    for k in ("glo", "gno"):
        assert got[k] == expected[k], k
    assert got["gno"]["mle"]["boot"]["replicates"] == 20 and got["glo"]["lmom"]["level"]["x"] == 4.5
    many = korvalinde.fit_many(x[None, :], dist="glo", level=4.5)
    assert many["glo_mle_level_period"][0] == got["glo"]["mle"]["level"]["period"]


def test_further_families_by_maximum_likelihood_equal_the_command_line():
    sample = STATIONS / "portpirie_sealevel.txt"
    dist = "gno,lp3,weibull,exp,normal,lognormal,gpa"
    run = subprocess.run([os.environ["KORVALINDE_BIN"], "fit", "--quiet", "--json", "-",
                          "--dist", dist, str(sample)], capture_output=True, text=True, check=True)
    expected = json.loads(run.stdout)
    got = korvalinde.fit(np.loadtxt(sample), name=str(sample), dist=dist)
    for k in dist.split(",") + ["comparison", "best_aic", "best_lmom"]:
        assert got[k] == expected[k], k
    assert got["gno"]["mle"]["loglik"] is not None and "mle" not in got["gpa"]
