#!/usr/bin/env bash
# End-to-end runs of `korvalinde fit --dist` with the further families.
#   families_cli.sh <korvalinde binary> <source dir> <check>
set -u
bin=$1 src=$2 check=$3
py=/usr/bin/python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fail() { echo "FAIL: $*"; exit 1; }
pp="$src/examples/stations/portpirie_sealevel.txt"

case $check in
json)
  # Every family's object, the sample's L-moments and the comparison; the
  # GLO's L-moment fit against references computed exactly (rational
  # L-moments, 40-digit decimals) on the Port Pirie series.
  "$bin" fit --dist glo,gev,pe3,gno,gpa,weibull,kappa,wakeby,exp,normal,lognormal,lp3 \
    --json out.json --quiet "$pp" 2> err || fail "status $?: $(cat err)"
  $py - <<'PY' || fail "JSON"
import json
r = json.loads(open("out.json").read())
fams = ["glo", "pe3", "gno", "gpa", "weibull", "kappa", "wakeby", "exp", "normal", "lognormal", "lp3"]
for k in fams + ["gev", "lmoments", "comparison", "best_aic", "best_lmom"]:
    assert k in r, k
def close(a, b, tol):
    assert abs(a - b) <= tol * abs(b), (a, b)
l = r["lmoments"]
for k, v in {"l1": 3.9806153846153846, "l2": 0.13464423076923078, "t": 0.033824978743139833,
             "t3": 0.13743313507649730, "t4": 0.13283120261809166, "t5": 0.037688512097202841}.items():
    close(l[k], v, 1e-12)
g = r["glo"]["lmom"]
close(g["loc"], 3.9504590303600156, 1e-12)
close(g["scale"], 0.13049974846143794, 1e-12)
close(g["shape"], 0.13743313507649730, 1e-12)
level = [x for x in g["return_levels"] if x["period"] == 100][0]
close(level["value"], 4.7865100228222951, 1e-12)
assert set(g["gof"]) >= {"ks", "cvm", "ad"} and 0 < g["gof"]["ks"] < 1
p = r["pe3"]["lmom"]
assert p["mean"] == p["loc"] and p["sd"] == p["scale"] and p["skew"] == p["shape"]
assert r["kappa"]["lmom"]["shape"] == -r["kappa"]["lmom"]["k"]
assert {"xi", "alpha", "beta", "gamma", "delta"} <= set(r["wakeby"]["lmom"])
assert {"meanlog", "sdlog"} <= set(r["lognormal"]["lmom"])
# The GLO's distance is |t4 - tau4(t3)| with tau4 = (1 + 5 t3^2) / 6.
rows = {(c["dist"], c["method"]): c for c in r["comparison"]}
close(rows[("glo", "lmom")]["lmom_distance"], abs(l["t4"] - (1 + 5 * l["t3"] ** 2) / 6), 1e-12)
assert rows[("kappa", "lmom")]["lmom_distance"] is None  # matches t4 by construction
d = [c["lmom_distance"] for c in r["comparison"] if c["lmom_distance"] is not None and c["dist"] != "lp3"]
assert rows[(r["best_lmom"], "lmom")]["lmom_distance"] == min(d)
assert r["headline"]["dist"] == "glo", r["headline"]
# Maximum likelihood where the likelihood is regular, never for the GPA, Kappa, Wakeby.
m = r["glo"]["mle"]
assert m["loglik"] is not None and len(m["cov"]) == 3 and m["se_shape"] > 0, m
assert rows[("glo", "mle")]["aic"] == 6 - 2 * m["loglik"]
assert all(c["aic"] is None for c in r["comparison"] if c["method"] == "lmom")
best = min((c for c in r["comparison"] if c["aic"] is not None), key=lambda c: c["aic"])
assert r["best_aic"] == best["dist"]
assert "mle" not in r["kappa"] and "mle" not in r["wakeby"] and "mle" not in r["gpa"]
assert r["glo"]["lmom"]["se_loc"] > 0  # influence-function errors
PY
  # Without a further family nothing of theirs appears.
  "$bin" fit --dist gumbel,gev --json plain.json --quiet "$pp" || fail "gumbel,gev"
  $py -c 'import json,sys; r=json.load(open("plain.json")); sys.exit(any(k in r for k in ("lmoments","comparison","glo")))' ||
    fail "the Gumbel and GEV record changed"
  ;;
order)
  # The families lead in the order asked for; the report names them and the best.
  "$bin" fit --dist pe3,glo --json a.json "$pp" > out 2> err || fail "status $?: $(cat err)"
  $py -c 'import json; r=json.load(open("a.json")); assert r["headline"]["dist"] == "pe3", r["headline"]' ||
    fail "pe3 does not lead"
  grep -q "headline: Pearson III" out || fail "report headline: $(cat out)"
  grep -q "pe3 lmom" out && grep -q "glo lmom" out || fail "report columns: $(cat out)"
  grep -q "sample L-moments: l1 3.98062" out || fail "report L-moments: $(cat out)"
  # The families' levels carry their intervals: the pe3 mle 100-year level
  # its profile one, from the JSON, with the delta one under it.
  want=$($py -c 'import json; l=[x for x in json.load(open("a.json"))["pe3"]["mle"]["return_levels"] if x["period"] == 100][0]
print("%.6g [%.6g, %.6g]" % (l["value"], l["profile_lower"], l["profile_upper"]))')
  grep -A1 "level T=100 " out | tail -n +1 | grep -qF "$want" || fail "pe3 level interval $want: $(cat out)"
  grep -A1 "level T=100 " out | grep -q "^    delta  *\[" || fail "delta row: $(cat out)"
  grep -q "best by AIC: .*; best by L-moment distance: " out || fail "report best: $(cat out)"
  "$bin" fit --dist glo,pe3 --svg a.svg --quiet "$pp" || fail "svg"
  grep -q 'id="fit-lmrd' a.svg || fail "no L-moment ratio diagram"
  "$bin" fit --dist gumbel --svg b.svg --quiet "$pp" || fail "svg"
  grep -q 'fit-lmrd' b.svg && fail "a diagram without a further family"
  "$bin" fit --dist foo "$pp" > /dev/null 2> err && fail "foo accepted"
  grep -q "'foo' is not a distribution" err || fail "usage: $(cat err)"
  ;;
errors)
  # L-moment ratios beyond a family's region: an error naming it, no numbers,
  # a failed run; the other families still report.
  $py -c 'print("\n".join(["1"] * 30 + ["2", "1000"]))' > heavy.txt
  "$bin" fit --dist glo,kappa --json h.json --quiet heavy.txt 2> err && fail "kappa infeasible accepted"
  grep -q "heavy.txt: kappa lmom: the sample's L-moment ratios (t3 .*, t4 .*) lie outside the Kappa's feasible region" err ||
    fail "message: $(cat err)"
  $py - <<'PY' || fail "JSON"
import json
r = json.load(open("h.json"))
assert r["ok"] and set(r["kappa"]["lmom"]) == {"error"}, r["kappa"]
assert "Kappa" in r["kappa"]["lmom"]["error"]
assert r["glo"]["lmom"]["loc"] is not None
PY
  $py -c 'print("\n".join(str(x) for x in [-1, 2, 3, 4, 5, 6]))' > neg.txt
  "$bin" fit --dist lp3 --json n.json --quiet neg.txt 2> err && fail "lp3 on negative values accepted"
  grep -q "neg.txt: lp3 lmom: the log-Pearson III needs positive values" err || fail "lp3: $(cat err)"
  ;;
mle)
  # Maximum likelihood through the command line equals the maxima found at
  # 30 digits on the eight real series: parameters and loglik to 1e-8,
  # standard errors to 1e-6.
  data="$src/tests/stats/data"
  names="dover_sealevel lisbon_wind ocmulgee_flood oxford_maxtemp portpirie_sealevel sask_flood uccle_dayrain venice_sealevel"
  for f in $names; do
    "$bin" fit --dist glo,gno,pe3,lp3,weibull --methods mle --gof-p none --json "$f.json" --quiet \
      "$data/$f.txt" 2> /dev/null
  done
  $py - "$data/family_mle_reference.txt" $names <<'PY' || fail "mle"
import json, sys
checked = 0
for line in open(sys.argv[1]):
    w = line.split()
    if line.startswith("#") or w[0] not in sys.argv[2:]:
        continue
    m = json.load(open(w[0] + ".json"))[w[1]]["mle"]
    names = ["mean", "sd", "skew"] if w[1] in ("pe3", "lp3") else ["loc", "scale", "shape"]
    ref = [float(v) for v in w[2:]]
    got = [m[k] for k in names] + [m["se_" + k] for k in names] + [m["loglik"]]
    for i, (a, b) in enumerate(zip(got, ref)):
        assert abs(a - b) <= (1e-6 if 3 <= i < 6 else 1e-8) * max(abs(b), 1), (w[0], w[1], i, a, b)
    checked += 1
assert checked == 38, checked
PY
  ;;
properties)
  # On two series, every family by each method: levels increase with the
  # period and are the family's quantile at 1 - 1/T (closed forms here, a
  # gamma series for PE3 and LP3), the DPA_CUT quantile is the 100-year level,
  # the profile interval of a maximum-likelihood level encloses it, and the
  # comparison's AIC, bests and goodness of fit are those of the fits.
  all=glo,gno,pe3,lp3,gpa,weibull,kappa,wakeby,exp,normal,lognormal
  for f in portpirie_sealevel uccle_dayrain; do
    # Uccle's ratios lie outside the Wakeby's region: that fit fails alone.
    "$bin" fit --dist "$all" --gof-p none --json "$f.json" --quiet "$src/tests/stats/data/$f.txt" 2> /dev/null
  done
  $py - <<'PY' || fail "properties"
import json, math
from statistics import NormalDist

def gamma_p(a, x):
    # Regularized lower incomplete gamma by its series (x is moderate here).
    if x <= 0:
        return 0.0
    term = total = 1.0 / a
    n = 1
    while term > 1e-18 * total:
        term *= x / (a + n)
        total += term
        n += 1
    return total * math.exp(a * math.log(x) - x - math.lgamma(a))

def pe3_cdf(mean, sd, skew, x):
    # Gamma of shape 4 / skew^2 in (x - mean) 2 / (sd skew) + 4 / skew^2.
    a = 4 / skew ** 2
    p = gamma_p(a, 2 * (x - mean) / (sd * skew) + a)
    return p if skew > 0 else 1 - p

def cdf_error(d, p, T, x):
    # |F(x) - (1 - 1/T)| on the scale of 1/T, or the quantile's relative error.
    u = 1 - 1 / T
    if d in ("pe3", "lp3"):
        v = math.log10(x) if d == "lp3" else x
        return abs(pe3_cdf(p["mean"], p["sd"], p["skew"], v) - u) * T
    zn = NormalDist().inv_cdf(u)
    loc, scale, k = p.get("loc"), p.get("scale"), p.get("shape")
    bc = lambda y, k: (math.exp(k * y) - 1) / k if k != 0 else y
    q = {
        "glo": lambda: loc + scale * bc(math.log(T - 1), k),
        "gno": lambda: loc + scale * bc(zn, k),
        "gpa": lambda: loc + scale * bc(math.log(T), k),
        "weibull": lambda: loc + scale * math.log(T) ** (1 / k),
        "exp": lambda: loc + scale * math.log(T),
        "normal": lambda: p["mean"] + p["sd"] * zn,
        "lognormal": lambda: math.exp(p["meanlog"] + p["sdlog"] * zn),
        "kappa": lambda: loc + scale / p["k"] * (1 - ((1 - u ** p["h"]) / p["h"]) ** p["k"]),
        "wakeby": lambda: p["xi"] + p["alpha"] / p["beta"] * (1 - (1 - u) ** p["beta"])
                          - p["gamma"] / p["delta"] * (1 - (1 - u) ** -p["delta"]),
    }[d]()
    return abs(x - q) / abs(q)

K = {"glo": 3, "gno": 3, "pe3": 3, "lp3": 3, "weibull": 3, "exp": 2, "normal": 2, "lognormal": 2}
for f in ("portpirie_sealevel", "uccle_dayrain"):
    r = json.load(open(f + ".json"))
    rows = {(c["dist"], c["method"]): c for c in r["comparison"]}
    fitted = 0
    for d in ("glo", "gno", "pe3", "lp3", "gpa", "weibull", "kappa", "wakeby", "exp", "normal", "lognormal"):
        for m in ("mle", "lmom"):
            p = r[d].get(m)
            if p is None or "error" in p:
                continue
            fitted += 1
            what = (f, d, m)
            levels = p["return_levels"]
            assert [x["period"] for x in levels] == [2, 5, 10, 20, 50, 100, 200, 500, 1000], what
            v = [x["value"] for x in levels]
            assert all(a < b for a, b in zip(v, v[1:])), (what, v)
            for x in levels:
                assert cdf_error(d, p, x["period"], x["value"]) < 1e-10, (what, x)
            assert p["quantile"]["p"] == 0.99 and abs(p["quantile"]["value"] - v[5]) <= 1e-14 * abs(v[5]), what
            row = rows[(d, m)]
            assert row["ad"] == p["gof"]["ad"], what
            if m == "mle":
                assert abs(row["aic"] - (2 * K[d] - 2 * p["loglik"])) <= 1e-12 * max(1, abs(row["aic"])), what
                assert len(p["cov"]) == K[d], what
                if K[d] == 3:
                    for x in levels:
                        # An end is missing only with its reason.
                        for end, side in ((x["profile_lower"], "lower"), (x["profile_upper"], "upper")):
                            assert end is not None or x["profile_%s_reason" % side], (what, x)
                        lo, hi = x["profile_lower"], x["profile_upper"]
                        assert (lo is None or lo < x["value"]) and (hi is None or x["value"] < hi), (what, x)
            else:
                assert row["aic"] is None, what
    assert fitted >= 16, (f, fitted)
    aics = [c for c in r["comparison"] if c["aic"] is not None]
    assert r["best_aic"] == min(aics, key=lambda c: c["aic"])["dist"], f
    # LP3's distance is of the log10 sample, so it does not take part in best_lmom.
    d = [c for c in r["comparison"] if c["lmom_distance"] is not None and c["dist"] != "lp3"]
    assert r["best_lmom"] == min(d, key=lambda c: c["lmom_distance"])["dist"], f
PY
  ;;
scale)
  # Data times 1e6: locations, scales and levels times 1e6 (LP3's and the
  # lognormal's log-location shifted), shapes unchanged, to 1e-9, by each method.
  all=glo,gno,pe3,lp3,gpa,weibull,kappa,wakeby,exp,normal,lognormal
  $py -c 'import sys; [print(repr(float(v) * 1e6)) for v in open(sys.argv[1]).read().split()]' "$pp" > big.txt
  "$bin" fit --dist "$all" --gof-p none --json a.json --quiet "$pp" || fail "status $?"
  "$bin" fit --dist "$all" --gof-p none --json b.json --quiet big.txt || fail "status $?"
  $py - <<'PY' || fail "scale"
import json, math
a, b = json.load(open("a.json")), json.load(open("b.json"))
scaled = {"loc", "scale", "mean", "sd", "xi", "alpha", "gamma", "se_loc", "se_scale", "se_mean", "se_sd",
          "se_xi", "se_alpha", "se_gamma"}
shift = {"lp3": 6.0, "lognormal": math.log(1e6)}
compared = 0
for d in ("glo", "gno", "pe3", "lp3", "gpa", "weibull", "kappa", "wakeby", "exp", "normal", "lognormal"):
    for m in ("mle", "lmom"):
        p, q = a[d].get(m), b[d].get(m)
        assert (p is None) == (q is None), (d, m)
        if p is None:
            continue
        assert "error" not in p and "error" not in q, (d, m, p, q)
        for k, v in p.items():
            if not isinstance(v, float) or k in ("loglik",):
                continue
            if d in shift:
                want = v + shift[d] if k in ("loc", "mean", "meanlog") else v
            else:
                want = v * 1e6 if k in scaled else v
            floor = 1e-3 if d in shift else (0 if k in scaled else 1)
            tol = 1e-7 if k.startswith("se_") else 1e-9  # errors by differences
            assert abs(q[k] - want) <= tol * max(abs(want), floor), (d, m, k, v, q[k])
            compared += 1
        for x, y in zip(p["return_levels"], q["return_levels"]):
            assert abs(y["value"] - 1e6 * x["value"]) <= 1e-9 * 1e6 * abs(x["value"]), (d, m, x, y)
        if m == "mle":
            # Each density value is divided by 1e6.
            assert abs(q["loglik"] - (p["loglik"] - a["n"] * math.log(1e6))) < 1e-8 * a["n"] * 14, (d, m)
assert compared > 80, compared
for k, v in a["lmoments"].items():
    want = v * 1e6 if k in ("l1", "l2") else v
    assert abs(b["lmoments"][k] - want) <= 1e-12 * abs(want), (k, v, b["lmoments"][k])
assert [c["dist"] for c in a["comparison"]] == [c["dist"] for c in b["comparison"]]
assert (a["best_aic"], a["best_lmom"]) == (b["best_aic"], b["best_lmom"])
PY
  ;;
support)
  # The GPA's L-moment fit bounds this sample on both sides inside its range
  # (upper bound 7.34): its goodness of fit is null with the reason, not a
  # huge A^2; the GLO, whose support holds every value, keeps its own.
  printf '%s\n' 1.0 5.0 5.1 5.2 5.3 5.5 5.8 6.2 6.9 8.0 > s.txt
  "$bin" fit --dist gpa,glo --json s.json s.txt > out 2> err || fail "status $?: $(cat err)"
  grep -q "gpa lmom: 2 observations outside the fitted support" out || fail "report: $(cat out)"
  grep -q "glo lmom: .*outside" out && fail "glo flagged: $(cat out)"
  $py - <<'PY' || fail "JSON"
import json
r = json.load(open("s.json"))
g = r["gpa"]["lmom"]
assert g["outside_support"] == 2 and g["gof_note"] == "2 observations outside the fitted support", g
assert all(g["gof"][k] is None for k in ("ks", "cvm", "ad", "ks_p", "cvm_p", "ad_p")), g["gof"]
assert abs(g["shape"] + 1.84043) < 1e-5 and g["return_levels"][0]["value"] is not None
rows = {(c["dist"], c["method"]): c for c in r["comparison"]}
assert rows[("gpa", "lmom")]["ad"] is None and rows[("gpa", "lmom")]["ad_p"] is None
assert "outside_support" not in r["glo"]["lmom"] and r["glo"]["lmom"]["gof"]["ad"] > 0
assert rows[("glo", "lmom")]["ad"] > 0
# A fit that excludes observations neither leads nor is the best match.
assert r["headline"] == {"dist": "glo", "method": "mle",
                         "reason": "the GPA's fit leaves observations outside its support"}, r["headline"]
assert r["best_lmom"] != "gpa", r["best_lmom"]
PY
  # The same for the GEV's L-moment fit, whose lower bound lies above 1.
  printf '%s\n' 1 5 5.1 5.2 5.3 5.4 5.45 5.5 5.6 5.7 5.8 5.9 6 30 > g.txt
  "$bin" fit --dist gev,glo --methods lmom --gof-p none --json g.json g.txt > out || fail "status $?"
  grep -q "gev lmom: 1 observation outside the fitted support: it neither leads nor ranks" out || fail "gev: $(cat out)"
  $py - <<'PY' || fail "JSON of the GEV outside its support"
import json
r = json.load(open("g.json"))
assert r["gev"]["lmom"]["outside_support"] == 1, r["gev"]["lmom"]
assert r["headline"] == {"dist": "gumbel", "method": "lmom",
                         "reason": "the GEV's fit leaves observations outside its support"}, r["headline"]
assert r["best_lmom"] is None, r["best_lmom"]
PY
  ;;
boot)
  # --level and --bootstrap for the further families: the period of the
  # fit's own 50-year level is 50; the bootstrap gives intervals of every
  # free parameter and level, the same on any thread count and for the same
  # seed, others for another seed.
  "$bin" fit --dist glo,pe3,kappa,exp --gof-p none --json plain.json --quiet "$pp" || fail "status $?"
  x=$($py -c 'import json; print(repr([l["value"] for l in json.load(open("plain.json"))["pe3"]["mle"]["return_levels"] if l["period"] == 50][0]))')
  "$bin" fit --dist glo,pe3,kappa,exp --bootstrap 40 --level "$x" --seed 3 --threads 1 --gof-p none \
    --json one.json "$pp" > out || fail "status $?"
  "$bin" fit --dist glo,pe3,kappa,exp --bootstrap 40 --level "$x" --seed 3 --threads 2 --gof-p none \
    --json two.json --quiet "$pp" || fail "status $?"
  "$bin" fit --dist glo,pe3,kappa,exp --bootstrap 40 --level "$x" --seed 4 --threads 2 --gof-p none \
    --json other.json --quiet "$pp" || fail "status $?"
  grep -q "^  period of x=.* 50 " out && grep -q "^    skew 95% " out && grep -q "^    h 95% " out ||
    fail "report: $(cat out)"
  $py - <<'PY' || fail "boot"
import json
one, two, other = (json.load(open(f)) for f in ("one.json", "two.json", "other.json"))
for r in (one, two, other):
    del r["meta"]
assert one == two, "the thread count changes the results"
assert one["pe3"]["mle"]["boot"] != other["pe3"]["mle"]["boot"], "the seed changes nothing"
assert abs(one["pe3"]["mle"]["level"]["period"] - 50) < 1e-9, one["pe3"]["mle"]["level"]
for d in ("glo", "pe3", "kappa", "exp"):
    for m, f in one[d].items():
        b = f["boot"]
        assert b["replicates"] == 40 and 0 <= b["failed"] < 10, (d, m, b)
        for k in f["cov_params"] or []:
            lo, hi = b[k]
            # (The exponential's location, the least value, lies below every replicate's.)
            assert (lo <= f[k] <= hi or (d, k) == ("exp", "loc")) and b["se_" + k] > 0, (d, m, k, f[k], b[k])
        assert len(b["return_levels"]) == 9 and all(lo < hi for lo, hi in b["return_levels"]), (d, m)
        assert f["level"]["x"] == one["pe3"]["mle"]["level"]["x"] and f["level"]["period"] > 1, (d, m)
PY
  ;;
*)
  fail "unknown check $check"
  ;;
esac
echo ok
