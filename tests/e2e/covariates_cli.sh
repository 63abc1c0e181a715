#!/usr/bin/env bash
# End-to-end runs of `korvalinde fit` with covariates, one behaviour per check.
#   covariates_cli.sh <korvalinde binary> <source dir> <check>
set -u
bin=$1 src=$2 check=$3
py=/usr/bin/python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
venice="$src/examples/annual-maxima/venice_sealevel.csv"
fail() { echo "FAIL: $*"; exit 1; }

case $check in
venice)
  # The published location trend of Venice's annual maxima (t = year - 1930):
  # b0 = 96.99, b1 = 0.564, sigma = 14.58, xi = -0.027, log-likelihood
  # -216.06 against -222.71 stationary. The time of a block is its year.
  "$bin" fit --time year --column value --block year --covariate time --json v.jsonl --svg v.svg "$venice" \
    > rep 2> err || fail "status $?: $(cat err)"
  # The picture adds the effective levels over the years and the residuals.
  grep -q "Effective return levels, 95% bands" v.svg && grep -q "standard Gumbel quantile" v.svg ||
    fail "picture lacks the covariate panels"
  [ -s err ] && fail "stderr: $(cat err)"
  for want in "non-stationary GEV, maximum likelihood: loc linear in time (51 maxima)" \
              "LR test against stationary: 13.30" "effective levels at time=1931:" \
              "change from time=1931 to time=1981:" "probability ratio of exceeding" "trend: Mann-Kendall"; do
    grep -qF "$want" rep || fail "report lacks '$want': $(cat rep)"
  done
  $py - v.jsonl <<'PY' || fail "Venice JSON"
import json, sys
r = json.loads(open(sys.argv[1]).readline())
ns = r["gev"]["mle"]["nonstationary"]
c = ns["coef"]
assert ns["vary"] == "loc" and ns["covariates"]["names"] == ["time"], ns["covariates"]
assert ns["covariates"]["range"] == [[1931, 1981]], ns["covariates"]
assert abs(c["mu0"] + 1930 * c["mu_time"] - 96.99) < 0.01, c
assert abs(c["mu_time"] - 0.564) < 0.0005 and abs(c["sigma"] - 14.58) < 0.005 and abs(c["xi"] + 0.027) < 0.0005, c
assert abs(ns["loglik"] + 216.06) < 0.005, ns["loglik"]
stat = {t["against"]: t for t in ns["lr_tests"]}
assert abs(stat["stationary"]["statistic"] - 2 * (222.71 - 216.06)) < 0.02 and stat["stationary"]["df"] == 1
assert 2e-4 < stat["stationary"]["p"] < 4e-4, stat
k = len(c)
assert len(ns["cov"]) == k and all(len(row) == k for row in ns["cov"])
assert ns["aic"] == 2 * k - 2 * ns["loglik"], ns["aic"]
p = ns["coef_profile"]["mu_time"]
assert p["profile_lower"] < c["mu_time"] < p["profile_upper"], p
assert [a["covariates"]["time"] for a in ns["at"]] == [1931, 1981]
for a in ns["at"]:
    assert not a["extrapolated"]
    for l in a["return_levels"]:
        assert l["profile_lower"] < l["value"] < l["profile_upper"] and l["lower"] < l["value"] < l["upper"], l
# With the location alone following time, every level changes by 50 slopes.
for ch in ns["change"]:
    assert abs(ch["value"] - 50 * c["mu_time"]) < 1e-9 and ch["profile_lower"] < ch["value"] < ch["profile_upper"]
pr = ns["probability_ratio"]
assert pr["pr"] > 1 and pr["lower"] < pr["pr"] < pr["upper"] and abs(pr["far"] - (1 - 1 / pr["pr"])) < 1e-12, pr
t = r["trend"]
assert t["n"] == 51 and t["mann_kendall"]["p"] < 0.01 and t["sen_slope"]["lower"] < t["sen_slope"]["slope"] < t["sen_slope"]["upper"]
assert r["n"] == 51 and r["gev"]["mle"]["loc"] > 0  # the stationary fit is still there
PY
  ;;
unchanged)
  # Without covariates nothing in the output changes: no new keys, no new lines.
  "$bin" fit --time year --column value --block year --dist gumbel,gev --json a.jsonl "$venice" > a.rep || fail "status $?"
  grep -Eq "nonstationary|trend|non-stationary" a.jsonl a.rep && fail "covariate output without covariates"
  # --trend alone adds the trend tests and leaves the rest as it was.
  "$bin" fit --time year --column value --block year --dist gumbel,gev --trend --json b.jsonl "$venice" > b.rep ||
    fail "status $?"
  $py - a.jsonl b.jsonl <<'PY' || fail "--trend changed the fit"
import json, sys
a, b = (json.loads(open(f).readline()) for f in sys.argv[1:])
assert "trend" in b and "nonstationary" not in b["gev"]["mle"]
for k in ("trend", "meta"):  # the run's command line differs
    b.pop(k)
    a.pop(k, None)
assert a == b
PY
  diff <(grep -Ev "^(run|command|options): " a.rep) <(grep -Ev "^(run|command|options): |^  trend: " b.rep) > /dev/null ||
    fail "--trend changed the report"
  ;;
table)
  # Covariates from a table by year; a year without a value drops its block,
  # counted with the reason. Shifting and scaling the covariate changes the
  # intercept alone.
  $py - <<'PY'
import math
with open("cov.csv", "w") as f, open("shifted.csv", "w") as g:
    f.write("year,gmst\n"); g.write("year,gmst\n")
    for y in range(1920, 1990):
        v = 0.012 * (y - 1930) + 0.1 * math.sin(y)
        f.write("%d,%s\n" % (y, "NA" if y == 1940 else repr(v)))
        g.write("%d,%s\n" % (y, "NA" if y == 1940 else repr(1e6 + 1000 * v)))
PY
  common=(--time year --column value --block year --covariate gmst --quiet --periods 10,100)
  "$bin" fit "${common[@]}" --covariates cov.csv --json a.jsonl --effective-levels eff.csv "$venice" ||
    fail "status $?"
  "$bin" fit "${common[@]}" --covariates shifted.csv --json b.jsonl "$venice" || fail "status $?"
  $py - a.jsonl b.jsonl eff.csv <<'PY' || fail "covariate table"
import csv, json, sys
a, b = (json.loads(open(f).readline()) for f in sys.argv[1:3])
assert a["n"] == 50 and a["n_blocks"] == 50, a["n"]
d = a["blocks_dropped"]
assert len(d) == 1 and d[0]["block"] == "1940" and "gmst" in d[0]["reason"], d
assert "peaks_dropped" not in a and "rows_dropped" not in a, a.keys()
na, nb = a["gev"]["mle"]["nonstationary"], b["gev"]["mle"]["nonstationary"]
rel = lambda x, y: abs(x - y) / abs(y)
assert rel(1000 * nb["coef"]["mu_gmst"], na["coef"]["mu_gmst"]) < 1e-7, (na["coef"], nb["coef"])
for k in ("sigma", "xi"):
    assert rel(nb["coef"][k], na["coef"][k]) < 1e-7, k
assert abs(nb["loglik"] - na["loglik"]) < 1e-9 * abs(na["loglik"])
for x, y in zip(na["at"][1]["return_levels"], nb["at"][1]["return_levels"]):
    assert rel(x["value"], y["value"]) < 1e-7 and rel(x["profile_upper"], y["profile_upper"]) < 1e-6, (x, y)
rows = list(csv.DictReader(open(sys.argv[3])))
assert len(rows) == 50 and rows[0]["observation"] == "1931" and "1940" not in [r["observation"] for r in rows]
last = na["at"][1]["return_levels"]
gmst_last = na["at"][1]["covariates"]["gmst"]
r = [r for r in rows if float(r["gmst"]) == gmst_last][0]
assert rel(float(r["level_100"]), last[1]["value"]) < 1e-12 and float(r["lower_100"]) < float(r["level_100"]) < float(r["upper_100"])
PY
  ;;
dispersion)
  # The fixed-dispersion fit of a rain series: sigma / mu the same every
  # year, the likelihood-ratio test against the stationary GEV (df 1).
  "$bin" fit --time year --column value --block year --covariate time --vary dispersion --periods 100 \
    --json d.jsonl "$src/examples/annual-maxima/uccle_dayrain.csv" > rep 2> err || fail "status $?: $(cat err)"
  grep -qF "fixed dispersion, mu and sigma times exp(a time / mu0) (35 maxima)" rep || fail "report: $(cat rep)"
  $py - d.jsonl <<'PY' || fail "dispersion JSON"
import json, sys
ns = json.loads(open(sys.argv[1]).readline())["gev"]["mle"]["nonstationary"]
c = ns["coef"]
assert ns["vary"] == "dispersion" and list(c) == ["mu0", "a_time", "sigma0", "xi"], c
assert abs(c["a_time"] / c["mu0"] - 4.3304219e-4) < 1e-10, c
ref = ns["reference"]
assert abs(ref["sigma"]["value"] / ref["mu"]["value"] - c["sigma0"] / c["mu0"]) < 1e-12, ref
t = ns["lr_tests"][0]
assert t["against"] == "stationary" and t["df"] == 1 and abs(t["statistic"] - 0.0058990) < 1e-6, t
lo, hi = (a["return_levels"][0] for a in ns["at"])
assert lo["lower"] < lo["value"] < lo["upper"], lo
# Its levels and their change have profile bounds, the extremes on the contour.
for l in (lo, hi, ns["change"][0]):
    assert l["profile_lower"] < l["value"] < l["profile_upper"], l
# So has ln PR, the lower bound far in the likelihood's skewed tail.
pr = ns["probability_ratio"]
assert pr["profile_lower"] < pr["ln_pr"] < pr["profile_upper"] and abs(pr["profile_lower"] + 8.89918) < 1e-4, pr
PY
  ;;
pot)
  # Peaks over a threshold: the GPD's log-scale linear in the peak's decimal
  # year, the cluster rate constant. Its likelihood-ratio statistic is twice
  # the gain over the stationary GPD of the same peaks; its effective levels
  # are the POT levels of the scale at the point. A table by date joins the
  # peaks by day, a day without a value drops its peak.
  danish="$src/examples/daily/danish_fire_losses.csv"
  common=(--time date --column loss --duplicates max --pot --threshold 10 --per-year 365.25 --periods 10,100)
  "$bin" fit "${common[@]}" --covariate time --json p.jsonl "$danish" > rep 2> err || fail "status $?: $(cat err)"
  grep -qF "non-stationary GPD, maximum likelihood: log-scale linear in time (106 peaks over 10, the rate 23.5359 a year held constant)" rep ||
    fail "report: $(cat rep)"
  grep -qF "residuals on the standard exponential" rep || fail "report: $(cat rep)"
  $py - p.jsonl <<'PY' || fail "POT JSON"
import json, sys
from datetime import date
d = json.loads(open(sys.argv[1]).readline())
ns, st = d["gpd"]["mle"]["nonstationary"], d["pot"]["gpd"]["mle"]
assert "gev" not in d and ns["vary"] == "scale" and ns["rate_constant"] is True, ns["vary"]
assert list(ns["coef"]) == ["log_sigma0", "log_sigma_time", "xi"], ns["coef"]
assert ns["threshold"] == 10 and abs(ns["rate_per_year"] - d["pot"]["rate_per_year"]) < 1e-12
t = ns["lr_tests"][0]
assert t["against"] == "stationary" and t["df"] == 1, t
assert abs(t["statistic"] - 2 * (ns["loglik"] - st["loglik"])) < 1e-9, (t, ns["loglik"], st["loglik"])
# The first peak over 10 is on 1980-01-26 (day 26 of a leap year).
lo, hi = ns["covariates"]["range"][0]
assert abs(lo - (1980 + 25 / 366)) < 1e-12 and abs(hi - (1990 + 343 / 365)) < 1e-12, (lo, hi)
sigma, xi, rate = ns["reference"]["sigma"]["value"], ns["coef"]["xi"], ns["rate_per_year"]
assert ns["reference"]["at"]["time"] == hi
for l in ns["at"][1]["return_levels"]:
    want = 10 + sigma / xi * ((rate * l["period"]) ** xi - 1)
    assert abs(l["value"] - want) < 1e-9 * want and l["lower"] < l["value"] < l["upper"], (l, want)
assert ns["residual_gof"]["residuals"] == "exponential"
PY
  # Every day of the record, the covariate 2 time + 5, one peak's day missing.
  $py - <<'PY'
from datetime import date, timedelta
with open("days.csv", "w") as f:
    f.write("date,g\n")
    d = date(1980, 1, 1)
    while d.year < 1991:
        n = 366 if d.year % 4 == 0 else 365
        t = d.year + (d.timetuple().tm_yday - 1) / n
        f.write("%s,%s\n" % (d.isoformat(), "NA" if d == date(1980, 1, 26) else repr(2 * t + 5)))
        d += timedelta(days=1)
PY
  "$bin" fit "${common[@]}" --covariate g --covariates days.csv --quiet --json q.jsonl "$danish" || fail "status $?"
  # Without --pot, the day's row is dropped.
  "$bin" fit --time date --column loss --duplicates max --covariate g --covariates days.csv --quiet \
    --json r.jsonl "$danish" || fail "status $?"
  $py - p.jsonl q.jsonl r.jsonl <<'PY' || fail "POT table by date"
import json, sys
p, q, r = (json.loads(open(f).readline()) for f in sys.argv[1:4])
nq = q["gpd"]["mle"]["nonstationary"]
assert nq["n"] == 105 and len(q["blocks_dropped"]) == 1, (nq["n"], q.get("blocks_dropped"))
assert q["blocks_dropped"][0]["block"].startswith("1980-01-26") and "g" in q["blocks_dropped"][0]["reason"]
# The same peak under its own name, by its time.
b = q["blocks_dropped"][0]
assert q["peaks_dropped"] == [{"time": b["block"], "reason": b["reason"]}], q["peaks_dropped"]
assert "rows_dropped" not in q
assert r["rows_dropped"] == q["peaks_dropped"] and "peaks_dropped" not in r, r.get("rows_dropped")
PY
  expect_status() { "$bin" fit "$@" > out 2> err; [ $? = 2 ] && grep -qF -- "--vary: with --pot only scale" err; }
  expect_status "${common[@]}" --covariate time --vary loc "$danish" || fail "--vary loc with --pot: $(cat err)"
  ;;
errors)
  # Bad input: a clear message, never numbers.
  common=(--time year --column value --block year)
  expect() {  # status, message, arguments...
    local want=$1 msg=$2; shift 2
    "$bin" fit "$@" > out 2> err; local got=$?
    [ "$got" = "$want" ] || fail "status $got for $*: $(cat err)"
    grep -qF -- "$msg" err || fail "message for $*: $(cat err)"
  }
  expect 2 "--covariate and --trend need --time" --column value --covariate time "$venice"
  expect 2 "not time, and no --covariates file" "${common[@]}" --covariate gmst "$venice"
  expect 2 "--vary: loc, scale, loc,scale or dispersion expected" "${common[@]}" --covariate time --vary shape "$venice"
  expect 2 "--at time: NAME=VALUE" "${common[@]}" --covariate time --at time "$venice"
  expect 2 "need --covariate" "${common[@]}" --vary loc "$venice"
  printf 'year,a,b\n1931,1,2\n1932,x,2\n' > bad.csv
  expect 1 "bad.csv:3:2: 'x' is not a number" "${common[@]}" --covariate a --covariates bad.csv "$venice"
  printf 'year,a\n1931,1\n1931,2\n' > twice.csv
  expect 1 "twice.csv:3:1: year also on line 2" "${common[@]}" --covariate a --covariates twice.csv "$venice"
  printf "year,a\n1931,1\n" > one.csv
  expect 1 "one.csv: no column c (--covariate)" "${common[@]}" --covariate c --covariates one.csv "$venice"
  # A constant covariate, collinear covariates: the series' error, and its
  # stationary fits still report.
  $py - <<'PY'
with open("flat.csv", "w") as f:
    f.write("year,one,a,twice_a\n")
    for y in range(1931, 1982):
        f.write("%d,2,%d,%d\n" % (y, (y * 7) % 11, 2 * ((y * 7) % 11)))
PY
  expect 1 "nonstationary: covariate one is constant" "${common[@]}" --covariate one --covariates flat.csv "$venice"
  grep -q "non-stationary GEV" out && grep -q "error: covariate one is constant" out || fail "report: $(cat out)"
  expect 1 "collinear" "${common[@]}" --covariate a,twice_a --covariates flat.csv --at a=1,twice_a=2 "$venice"
  "$bin" fit "${common[@]}" --covariate one --covariates flat.csv --json - --quiet "$venice" 2> /dev/null | grep -q '"nonstationary":{"vary":"loc",.*"error":"covariate one is constant' ||
    fail "JSON of a failed fit"
  ;;
*)
  fail "unknown check $check"
  ;;
esac
echo PASS
