#!/usr/bin/env bash
# End-to-end runs of `korvalinde region`, one behaviour per check.
#   region_cli.sh <korvalinde binary> <source dir> <check>
set -u
bin=$1 src=$2 check=$3
py=/usr/bin/python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fail() { echo "FAIL: $*"; exit 1; }

# Eight sites of GEV maxima, one value a line, and a site of 6 values.
$py - <<'PY'
import math, random
rng = random.Random(8)
for i in range(8):
    with open(f"site{i}.txt", "w") as f:
        for _ in range(rng.randint(25, 60)):
            x = 1 + 0.3 / -0.1 * (1 - (-math.log(rng.random())) ** -0.1)
            f.write(f"{100 * (i + 1) * x:.2f}\n")
with open("tiny.txt", "w") as f:
    f.write("1\n2\n3\n4\n5\n6\n")
PY

case $check in
files)
  # Sites from files, the short one named; the JSON has the region's keys and
  # does not depend on the threads.
  "$bin" region --nsim 100 --accuracy 50 --json r2.json --threads 2 site*.txt tiny.txt > out 2> err ||
    fail "status $?: $(cat err)"
  grep -q "tiny.*left out" err || fail "the short site is not named: $(cat err)"
  grep -q "^Heterogeneity (100 simulated regions)" out || fail "report: $(cat out)"
  grep -q "At-site quantiles" out || fail "report: $(cat out)"
  "$bin" region --nsim 100 --accuracy 50 --json r1.json --threads 1 site*.txt tiny.txt > /dev/null 2>&1 ||
    fail "one thread"
  $py -c "
import json
a, b = (json.load(open(f)) for f in ('r1.json', 'r2.json'))
del a['meta'], b['meta']
assert a == b" || fail "the JSON depends on the threads"
  $py - <<'PY' || fail "JSON"
import json
r = json.load(open("r2.json"))
for k in ["sites", "D_critical", "regional", "kappa", "kappa_fallback", "heterogeneity", "goodness", "chosen",
          "growth", "at_site"]:
    assert k in r, k
assert [s["site"] for s in r["sites"]] == [f"site{i}" for i in range(8)]
assert r["D_critical"] == 2.140 and len(r["heterogeneity"]["H"]) == 3 and r["heterogeneity"]["nsim"] == 100
assert set(r["goodness"]) >= {"glo", "gev", "gno", "pe3", "gpa"}
assert "wakeby" in r["growth"] and r["chosen"] in r["growth"]
q = r["at_site"][0]["quantiles"][2]
assert q["period"] == 10 and q["lower"] < q["value"] < q["upper"], q
PY
  ;;
summary)
  # The sites' summary gives the same region as their files: every
  # simulation depends on the record lengths and the ratios alone.
  "$bin" region --nsim 50 --json files.json site*.txt > /dev/null 2>&1 || fail "files"
  $py - <<'PY'
import json
r = json.load(open("files.json"))
with open("summary.csv", "w") as f:
    f.write("site,n,mean,t,t3,t4,t5\n")
    for s in r["sites"]:
        f.write(",".join([s["site"]] + [repr(s[k]) for k in ["n", "mean", "t", "t3", "t4", "t5"]]) + "\n")
PY
  "$bin" region --nsim 50 --json summary.json --summary summary.csv > /dev/null 2> err || fail "summary: $(cat err)"
  $py - <<'PY' || fail "the summary's region differs from the files'"
import json
a, b = json.load(open("files.json")), json.load(open("summary.json"))
for k in ["regional", "kappa", "heterogeneity", "goodness", "chosen"]:
    assert a[k] == b[k], (k, a[k], b[k])
for x, y in zip(a["sites"], b["sites"]):
    assert abs(x["D"] - y["D"]) < 1e-12, (x, y)
PY
  ;;
dated)
  # One dated CSV with --by: a site a group, annual maxima by year.
  "$bin" region --by site --time year --column value --nsim 50 --json - "$src/examples/region/annual_maxima.csv" > r.json 2> err ||
    fail "status $?: $(cat err)"
  $py -c "
import json; r = json.load(open('r.json'))
assert len(r['sites']) == 12 and r['sites'][10]['site'] == 'Kelso Bridge', r['sites']
assert r['D_critical'] == 2.757" || fail "JSON: $(head -c 300 r.json)"
  ;;
errors)
  "$bin" region --nsim 10 tiny.txt > out 2> err; st=$?
  [ $st = 2 ] || fail "an empty region: status $st"
  grep -q "no site in the region" err || fail "empty: $(cat err)"
  for i in $(seq 12); do echo 5; done > flat.txt
  "$bin" region --nsim 10 site0.txt site1.txt flat.txt > out 2> err; st=$?
  [ $st = 1 ] || fail "a flat site: status $st"
  grep -q "site flat: its L-CV is not positive" err || fail "flat: $(cat err)"
  printf 'site,n,mean,t,t3,t4,t5\na,30,10,0.2,0.1,0.1,0.0\nb,30,10,x,0.1,0.1,0.0\n' > bad.csv
  "$bin" region --summary bad.csv > out 2> err; st=$?
  [ $st = 1 ] || fail "a bad summary: status $st"
  grep -q "^bad.csv:3:4: 'x' is not a finite number" err || fail "bad summary: $(cat err)"
  "$bin" region --summary bad.csv site0.txt > out 2> err; st=$?
  [ $st = 2 ] || fail "--summary with files: status $st"
  "$bin" region --correlation 1 site0.txt > out 2> err; st=$?
  [ $st = 2 ] || fail "--correlation 1: status $st"
  # Peaks-over-threshold options are not listed, and refused when given.
  refused='--(maxima|pot|threshold|threshold-quantile|run|per-year|max-gap|threshold-range)\b'
  "$bin" region --help > help && ! grep -Eq -- "$refused" help || fail "--help lists: $(grep -E -- "$refused" help)"
  "$bin" region --man | sed 's/\\-/-/g' | grep -Eq -- "$refused" && fail "the manual page lists a refused option"
  "$bin" fit --help | grep -q -- "--threshold-quantile" || fail "fit lost --threshold-quantile"
  "$bin" region --pot --threshold 3 site0.txt > out 2> err; st=$?
  [ $st = 2 ] && grep -q "not for regions" err || fail "--pot: status $st: $(cat err)"
  ;;
meta)
  # The run record: fixed time, the command, the options in force and each
  # input's size and SHA-256, in the report, the JSON and the page.
  SOURCE_DATE_EPOCH=86400 "$bin" region --nsim 20 --seed 4 --json r.json --html r.html site0.txt site1.txt \
    site2.txt site3.txt > out 2> err || fail "status $?: $(cat err)"
  head -1 out | grep -q "^run: korvalinde .*, 1970-01-02T00:00:00Z$" || fail "run line: $(head -1 out)"
  grep -q "^command: .* region --nsim 20 --seed 4 --json r.json --html r.html site0.txt" out || fail "command: $(cat out)"
  grep -q "^options: .*--nsim 20 --seed 4 .*--min-years 10" out || fail "options: $(grep options out)"
  sum=$(sha256sum site2.txt | cut -d' ' -f1) size=$(wc -c < site2.txt)
  grep -q "^input site2.txt: $size bytes, SHA-256 $sum$" out || fail "input: $(grep input out)"
  grep -q "input site2.txt: $size bytes, SHA-256 $sum" r.html || fail "the page has no run record"
  SUM=$sum SIZE=$size $py -c "
import json, os
m = json.load(open('r.json'))['meta']
assert m['time'] == '1970-01-02T00:00:00Z' and m['options']['--nsim'] == '20', m
assert [i['file'] for i in m['inputs']] == ['site0.txt', 'site1.txt', 'site2.txt', 'site3.txt'], m
assert m['inputs'][2]['sha256'] == os.environ['SUM'] and m['inputs'][2]['size'] == int(os.environ['SIZE'])
assert '--threshold' not in m['options'], m" || fail "JSON meta: $(head -c 600 r.json)"
  ;;
*) fail "unknown check $check" ;;
esac
echo ok
