#!/usr/bin/env bash
# End-to-end runs of `korvalinde idf`, one behaviour per check.
#   idf_cli.sh <korvalinde binary> <source dir> <check>
set -u
bin=$1 check=$3
py=/usr/bin/python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fail() { echo "FAIL: $*"; exit 1; }

# rain.csv: 12 years of 10-minute depths from 2000 (random storms, a few NA,
# two hours of rows left out).
$py - <<'PY'
import random, datetime
random.seed(5)
t, step = datetime.datetime(2000, 1, 1), datetime.timedelta(minutes=10)
storm = 0
with open("rain.csv", "w") as f:
    f.write("time,value\n")
    while t.year < 2012:
        if storm <= 0 and random.random() < 0.004:
            storm, level = random.randint(1, 60), random.expovariate(1 / 0.8)
        v = round(random.expovariate(1 / level), 1) if storm > 0 else 0.0
        storm -= 1
        if not (t.year == 2005 and t.month == 3 and t.day == 2 and t.hour < 2):
            f.write(f"{t:%Y-%m-%dT%H:%M},{'NA' if random.random() < 1e-4 else v}\n")
        t += step
PY

case $check in
windows)
  # The annual maxima of every duration equal a plain computation's, and the
  # report, the JSON and the CSV table agree.
  "$bin" idf --time time --durations 10min,1h,6h,24h --periods 2,10 --maxima m.csv --csv t.csv \
    --json r.json rain.csv > out 2> err || fail "status $?: $(cat err)"
  grep -q "step 10min" out || fail "report: $(cat out)"
  "$bin" idf --time time --durations 10min,1h,6h,24h --periods 2,10 --threads 1 --json r1.json rain.csv \
    > /dev/null 2>&1 || fail "one thread"
  # The same but for the run's record, which names its command line.
  cmp -s <(sed 's/,"meta":{.*}$/}/' r.json) <(sed 's/,"meta":{.*}$/}/' r1.json) ||
    fail "the JSON depends on the threads"
  $py - rain.csv m.csv r.json t.csv <<'PY' || fail "maxima differ"
import csv, json, sys
import numpy as np
rows = list(csv.DictReader(open(sys.argv[1])))
t = np.array([np.datetime64(r["time"]) for r in rows]).astype("datetime64[s]").astype(np.int64)
v = np.array([np.nan if r["value"] == "NA" else float(r["value"]) for r in rows])
years = np.array([r["time"][:4] for r in rows])
got = {}
for r in list(csv.DictReader(open(sys.argv[2]))):
    got[(float(r["duration_h"]), r["block"])] = float(r["depth"])
for k, h in ((1, 1 / 6), (6, 1.0), (36, 6.0), (144, 24.0)):
    m = len(v) - k + 1
    s = v[:m].copy()          # plain sums in time order, one addition after another
    for j in range(1, k):
        s += v[j:m + j]
    s[t[k - 1:] - t[:m] != (k - 1) * 600] = np.nan
    for y in np.unique(years[:m]):
        w = s[:m][years[:m] == y]
        assert got[(h, str(y))] == np.nanmax(w), (h, y, got[(h, str(y))], np.nanmax(w))
j = json.loads(open(sys.argv[3]).read())
assert j["ok"] and j["step_s"] == 600 and j["model"].endswith(" scaling"), j["model"]
assert [d["n_years"] for d in j["durations"]] == [12] * 4
table = list(csv.DictReader(open(sys.argv[4])))
assert len(table) == 8 and len(j["intensities"]) == 8
for row, i in zip(table, j["intensities"]):
    assert float(row["value"]) == i["value"] and float(row["duration_h"]) == i["duration_h"]
    assert i["lower"] < i["value"] < i["upper"]
    assert i["profile_lower"] < i["value"] < i["profile_upper"], i
# One curve per period: the longer the duration, the lower the intensity.
for p in (2, 10):
    vals = [i["value"] for i in j["intensities"] if i["period"] == p]
    assert vals == sorted(vals, reverse=True), vals
assert len(j["formula"]) == 2 and all(f["c"] > 0 for f in j["formula"])
sc = j["scaling"]
assert sc["reference_duration_h"] == 1 and sc["lr_test"]["p_mixture"] <= sc["lr_test"]["p"]
assert all(sc[m]["se_robust"]["alpha"] > 0 for m in ("general", "simple"))
PY
  ;;
meta)
  # The report, the JSON and the page name the run (program, time, command,
  # options in force, units) and the input's size and SHA-256.
  export SOURCE_DATE_EPOCH=1700000000
  sum=$(sha256sum rain.csv | cut -c1-64) size=$(stat -c %s rain.csv)
  "$bin" idf --time time --durations 1h,6h --periods 10 --json r.json --html r.html rain.csv > out 2> err ||
    fail "status $?: $(cat err)"
  printf '%s\n' "command: $bin idf --time time --durations 1h,6h --periods 10 --json r.json --html r.html rain.csv" \
    "options: --time time --column value --durations 1h,6h --periods 10 --block year --min-coverage 0.9 --fixed-interval-factor 1 --reference-duration 1h --dist gev --methods mle,lmom --confidence 0.95 --json r.json --html r.html --units depth/h" \
    "units: depth/h" | cmp -s - <(sed -n 2,4p out) || fail "header: $(head -5 out)"
  grep -q "^run: korvalinde [0-9].*, 2023-11-14T22:13:20Z$" out || fail "run line: $(head -1 out)"
  grep -qx "  input: $size bytes, SHA-256 $sum" out || fail "input line: $(cat out)"
  $py - r.json "$sum" "$size" <<'PY' || fail "JSON meta"
import json, sys
m = json.loads(open(sys.argv[1]).read())["meta"]
assert m["time"] == "2023-11-14T22:13:20Z" and m["units"] == "depth/h", m
assert m["options"]["--durations"] == "1h,6h" and m["options"]["--dist"] == "gev", m["options"]
assert m["input"] == {"file": "rain.csv", "size": int(sys.argv[3]), "sha256": sys.argv[2]}, m["input"]
PY
  grep -q "<th>command</th><td><code>$bin idf --time time" r.html && grep -q "$size bytes, SHA-256 $sum" r.html ||
    fail "HTML page"
  # The pictures carry the run's footer line, as the fit's do.
  footer="korvalinde [0-9].*, 2023-11-14T22:13:20Z; $size bytes, SHA-256 ${sum:0:16}...; units depth/h</text>"
  "$bin" idf --time time --durations 1h,6h --periods 10 --svg r.svg --quiet rain.csv || fail "svg status $?"
  grep -q "$footer" r.svg && grep -q '<svg [^>]* height="620"' r.svg || fail "picture footer: $(grep -c 2023 r.svg)"
  [ "$(grep -c "$footer" r.html)" = 1 ] || fail "page picture footer"
  # A table of maxima: the record's options are not in force.
  printf 'year,1h,6h\n2001,10,3\n2002,12,4\n2003,9,2.5\n2004,15,5\n2005,11,3.5\n2006,13,3.9\n' > t.csv
  "$bin" idf --maxima-table t.csv --json - --quiet | grep -o '"options":{[^}]*}' > opts
  grep -q '"--periods":"2,5,10,20,50,100","--maxima-table":"t.csv","--reference-duration":"1h"' opts &&
    ! grep -Eq 'durations|block|coverage|column' opts || fail "table options: $(cat opts)"
  ;;
table)
  # A table of annual maximum intensities gives the fits of its columns; the
  # same intensities from the record give the same numbers.
  "$bin" idf --time time --durations 1h,6h,24h --quiet --json r.json --maxima m.csv rain.csv || fail "record"
  $py - m.csv > table.csv <<'PY'
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1])))
labels = {1.0: "1h", 6.0: "6h", 24.0: "24h"}
years = sorted({r["block"] for r in rows})
cell = {(r["block"], float(r["duration_h"])): r["intensity"] for r in rows}
print("year," + ",".join(labels.values()))
for y in years:
    print(y + "," + ",".join(cell.get((y, h), "NA") for h in labels))
PY
  "$bin" idf --maxima-table table.csv --quiet --json t.json || fail "table: $(cat t.json)"
  $py - r.json t.json <<'PY' || fail "table and record differ"
import json, sys
a, b = (json.loads(open(p).read()) for p in sys.argv[1:])
assert a["intensities"] == b["intensities"], "intensities"
assert a["formula"] == b["formula"]
PY
  ;;
errors)
  # Bad input is a clear error, never numbers.
  "$bin" idf --time time --durations 15min rain.csv > out 2> err
  [ $? = 1 ] && grep -q "duration 15min is not a multiple of the record's step of 10min" err ||
    fail "multiple: $(cat err)"
  sed '5s/,0.0$/,-1/' rain.csv > neg.csv
  "$bin" idf --time time neg.csv > out 2> err
  [ $? = 1 ] && grep -q "negative depth -1 at 2000-01-01T00:30:00Z" err || fail "negative: $(cat err)"
  sed '5s/T00:30/T00:31/' rain.csv > odd.csv
  "$bin" idf --time time odd.csv > out 2> err
  [ $? = 1 ] && grep -q "time 2000-01-01T00:31:00Z is not on the record's step" err || fail "step: $(cat err)"
  head -100 rain.csv > short.csv
  "$bin" idf --time time short.csv > out 2> err
  [ $? = 1 ] && grep -q "shorter than the longest duration, 72h" err || fail "short: $(cat err)"
  printf 'year,1h,6x\n2000,1,2\n' > bad.csv
  "$bin" idf --maxima-table bad.csv > out 2> err
  [ $? = 1 ] && grep -q "bad.csv:1:3: '6x' is not a duration" err || fail "table header: $(cat err)"
  printf 'year,1h,6h\n2000,1,2\n2001,3\n' > bad.csv
  "$bin" idf --maxima-table bad.csv > out 2> err
  [ $? = 1 ] && grep -q "bad.csv:3:1: 2 fields where the header has 3" err || fail "table row: $(cat err)"
  "$bin" idf --durations 1h rain.csv > out 2> err
  [ $? = 2 ] && grep -q "needs --time" err || fail "usage: $(cat err)"
  ;;
picture)
  # The picture draws one curve per period with its band, and the profile
  # bounds behind the bands exist at every duration of the bundled table.
  table=$2/examples/rain/intensity_maxima.csv
  "$bin" idf --maxima-table "$table" --svg p.svg --png p.png --html p.html --json p.json --units mm/h \
    --quiet 2> err || fail "status $?: $(cat err)"
  $py - p.svg p.png p.json <<'PY' || fail "picture"
import json, sys, xml.etree.ElementTree as ET
svg = ET.parse(sys.argv[1]).getroot()
ns = "{http://www.w3.org/2000/svg}"
paths = svg.findall(f"{ns}path")
assert sum(p.get("stroke-width") == "2" for p in paths) == 6, "curves"
assert sum(p.get("fill-opacity") == "0.12" for p in paths) == 6, "bands"
assert any("mm/h" in (t.text or "") for t in svg.iter(f"{ns}text"))
assert open(sys.argv[2], "rb").read(8) == b"\x89PNG\r\n\x1a\n"
j = json.loads(open(sys.argv[3]).read())
missing = [(i["duration_h"], i["period"]) for i in j["intensities"]
           if i["profile_lower"] is None or i["profile_upper"] is None]
assert not missing, missing
PY
  grep -c "<svg" p.html | grep -qx 1 || fail "html"
  # Several series: one picture each in the page; a picture file would hold one.
  { echo "time,value,site"; tail -n +2 rain.csv | sed 's/$/,a/'; tail -n +2 rain.csv | sed 's/$/,b/'; } > two.csv
  "$bin" idf --time time --by site --durations 1h,6h --html two.html --quiet two.csv 2> err ||
    fail "by: $(cat err)"
  [ "$(grep -c '<svg' two.html)" = 2 ] && grep -q "two.csv \[b\]" two.html || fail "two groups"
  "$bin" idf --time time --by site --durations 1h --svg two.svg two.csv > out 2> err
  [ $? = 2 ] && grep -q "with --by use --html" err && [ ! -e two.svg ] || fail "svg with --by: $(cat err)"
  ;;
*)
  echo "unknown check $check"
  exit 2
  ;;
esac
echo "ok $check"
