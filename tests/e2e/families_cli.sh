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
d = [c["lmom_distance"] for c in r["comparison"] if c["lmom_distance"] is not None]
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
*)
  fail "unknown check $check"
  ;;
esac
echo ok
