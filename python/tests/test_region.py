"""korvalinde.region: the command line's record from samples and from site
summaries, and clear errors for regions it cannot analyse."""
import json
import os
import subprocess

import numpy as np
import pytest

import korvalinde

OPTIONS = ["--nsim", "200", "--seed", "5", "--periods", "10,100", "--accuracy", "50",
           "--correlation", "0.3", "--threads", "2"]
KW = dict(nsim=200, seed=5, periods=(10, 100), accuracy=50, correlation=0.3, threads=2)


def samples(seed=1, k=6):
    rng = np.random.default_rng(seed)
    return {f"s{i}": 50 * (1 + 0.2 * (rng.gumbel(size=20 + 5 * i))) for i in range(k)}


def cli(args):
    out = subprocess.run([os.environ["KORVALINDE_BIN"], "region", "--json", "-", *OPTIONS, *args],
                         check=True, capture_output=True, text=True).stdout
    record = json.loads(out)
    record.pop("meta", None)
    return record


def test_region_from_samples_is_the_command_lines_record(tmp_path):
    sites = samples()
    files = []
    for name, x in sites.items():
        files.append(tmp_path / f"{name}.txt")
        files[-1].write_text("".join(f"{float(v)!r}\n" for v in x))
    want = cli([str(f) for f in files])
    assert korvalinde.region(sites, **KW) == want
    # A list names its sites by position; NaN is a missing value.
    listed = korvalinde.region([np.append(x, np.nan) for x in sites.values()], **KW)
    assert [s["site"] for s in listed["sites"]] == ["1", "2", "3", "4", "5", "6"]
    assert listed["heterogeneity"] == want["heterogeneity"]


def test_region_from_summaries_is_the_command_lines_record(tmp_path):
    rows = [(name, x.size, *(float(v) for v in ratios(x))) for name, x in samples(2, 8).items()]
    path = tmp_path / "summary.csv"
    path.write_text("site,n,mean,t,t3,t4,t5\n" + "".join(",".join(map(repr, r)).replace("'", "") + "\n"
                                                         for r in rows))
    want = cli(["--summary", str(path)])
    table = {c: [r[i] for r in rows] for i, c in enumerate(("site", "n", "mean", "t", "t3", "t4", "t5"))}
    assert korvalinde.region(table, **KW) == want
    structured = np.array(rows, dtype=[("site", "U8"), ("n", int)] + [(c, float) for c in
                                                                      ("mean", "t", "t3", "t4", "t5")])
    assert korvalinde.region(structured, **KW) == want
    pd = pytest.importorskip("pandas")
    assert korvalinde.region(pd.DataFrame(table), **KW) == want


def ratios(x):
    """Sample mean and L-moment ratios t, t3, t4, t5 by probability-weighted moments."""
    x = np.sort(x)
    n = x.size
    j = np.arange(n)
    b = [x.mean()]
    w = np.ones(n)
    for r in range(1, 5):
        w = w * (j - r + 1) / (n - r)
        b.append((w * x).mean())
    l1 = b[0]
    l2 = 2 * b[1] - b[0]
    l3 = 6 * b[2] - 6 * b[1] + b[0]
    l4 = 20 * b[3] - 30 * b[2] + 12 * b[1] - b[0]
    l5 = 70 * b[4] - 140 * b[3] + 90 * b[2] - 20 * b[1] + b[0]
    return l1, l2 / l1, l3 / l2, l4 / l2, l5 / l2


def test_region_refuses_bad_input():
    sites = samples(3, 5)
    with pytest.raises(ValueError, match="no site in the region"):
        korvalinde.region(sites, min_years=1000)
    with pytest.raises(ValueError, match="site flat: its L-CV is not positive"):
        korvalinde.region({**sites, "flat": np.full(20, 3.0)})
    with pytest.raises(ValueError, match="site b: a 1-D sample expected"):
        korvalinde.region({"a": np.ones(20), "b": np.ones((4, 5))})
    with pytest.raises(ValueError, match="missing t5"):
        korvalinde.region({"site": ["a"], "n": [20], "mean": [1.0], "t": [0.2], "t3": [0.1], "t4": [0.1]})
    with pytest.raises(ValueError, match="site a: n must be a positive whole number"):
        korvalinde.region({"site": ["a"], "n": [2.5], "mean": [1], "t": [.2], "t3": [.1], "t4": [.1], "t5": [0]})
    with pytest.raises(ValueError, match="correlation"):
        korvalinde.region(sites, correlation=1.0)
    with pytest.raises(ValueError, match="nsim"):
        korvalinde.region(sites, nsim=-1)
