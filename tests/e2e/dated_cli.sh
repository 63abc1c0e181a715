#!/usr/bin/env bash
# End-to-end runs of `korvalinde fit` on dated records, one behaviour per check.
#   dated_cli.sh <korvalinde binary> <source dir> <check>
set -u
bin=$1 src=$2 check=$3
py=/usr/bin/python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
cp "$src/tests/e2e/data/seattle_prcp.csv" p.csv
fail() { echo "FAIL: $*"; exit 1; }
# Each output names its run: the time (fixed here), the command line and the
# options. Comparisons of outputs of different command lines leave out the
# JSON "meta" (the last key) and the report's header block.
export SOURCE_DATE_EPOCH=1700000000
nometa() { sed -e 's/,"meta":{.*}$/}/' -e '/^run: /,/^$/d' "$@"; }

case $check in
group_pictures)
  # With --by every group has its picture and table, in files named after
  # it, and its picture in the HTML page; two groups whose file names come
  # out alike are not written over each other.
  awk 'BEGIN { srand(3); print "g,time,v"
    for (k = 0; k < 4; k++) for (y = 0; y < 30; y++)
      printf "%s,%d,%.3f\n", (k == 0 ? "Oslo Blindern" : k == 1 ? "Bergen" : k == 2 ? "a/b" : "a b"),
        1950 + y, 10 - 2 * log(-log(rand())) }' > g.csv
  "$bin" fit --quiet --time time --column v --by g --methods ls,mle --svg p.svg --pdf p.pdf \
    --result r.dat --html h.html g.csv 2> err
  [ $? = 1 ] || fail "status with two groups of one file name: $(cat err)"
  grep -qx "korvalinde: --svg: p-a_b.svg (group a b) is another group's file too" err || fail "clash: $(cat err)"
  for f in p-Oslo_Blindern.svg p-Bergen.svg p-a_b.svg p-Oslo_Blindern.pdf p-Bergen.pdf r-Oslo_Blindern.dat r-Bergen.dat; do
    [ -s $f ] || fail "no $f: $(ls)"
  done
  [ -e p.svg ] || [ -e r.dat ] && fail "the ungrouped names written: $(ls)"
  grep -q ">g.csv \[a/b\]" p-a_b.svg && grep -q ">g.csv \[Bergen\]" p-Bergen.svg || fail "titles"
  cmp -s r-Oslo_Blindern.dat r-Bergen.dat && fail "two groups, one table"
  [ "$(grep -c '<svg' h.html)" = 4 ] || fail "pictures in the page: $(grep -c '<svg' h.html)"
  for g in "Oslo Blindern" Bergen a/b "a b"; do
    grep -q "<td><a href=\"#file-[0-9]\">g.csv \[$g\]</a></td>" h.html || fail "summary row of $g"
  done
  "$bin" fit --quiet --time time --column v --by g --svg - g.csv > /dev/null 2> err
  [ $? = 2 ] && grep -q -- "--svg: with --by each group has a file of its own" err || fail "--svg -: $(cat err)"
  ;;
annual_maxima)
  # Header, NA / empty / -9999 values, shuffled rows, gaps and a partial last
  # year: the maxima and the dropped blocks equal a plain computation's.
  "$bin" fit --time date --column prcp --na -9999 --block year --maxima m.csv \
    --json r.json p.csv > out 2> err || fail "status $?: $(cat err)"
  grep -q "blocks year: 2 kept, 2 dropped" out || fail "report: $(cat out)"
  $py - p.csv m.csv r.json <<'PY' || fail "maxima differ"
import calendar, csv, json, sys
rows = list(csv.DictReader(open(sys.argv[1])))
missing = sum(r["prcp"] in ("", "NA", "-9999") for r in rows)
best, count = {}, {}
for r in rows:
    if r["prcp"] in ("", "NA", "-9999"):
        continue
    y, v = r["date"][:4], float(r["prcp"])
    count[y] = count.get(y, 0) + 1
    if y not in best or v > best[y][1] or (v == best[y][1] and r["date"] < best[y][0]):
        best[y] = (r["date"], v)
days = {y: 366 if calendar.isleap(int(y)) else 365 for y in count}
kept = [(y, *best[y]) for y in sorted(best) if count[y] >= 0.9 * days[y]]
got = [(b, t, float(v)) for b, t, v in list(csv.reader(open(sys.argv[2])))[1:]]
assert got == kept, (got, kept)
j = json.loads(open(sys.argv[3]).read())
assert j["n"] == len(kept) and j["n_missing"] == missing, j
dropped = [(d["block"], d["present"], d["expected"]) for d in j["blocks_dropped"]]
assert dropped == [(y, count[y], days[y]) for y in sorted(count) if count[y] < 0.9 * days[y]], dropped
PY
  # The same maxima from the rows in time order.
  { head -1 p.csv; tail -n +2 p.csv | sort; } > sorted.csv
  "$bin" fit --quiet --time date --column 2 --na -9999 --block year --maxima m2.csv sorted.csv ||
    fail "sorted status"
  cmp -s m.csv m2.csv || fail "row order changes the maxima"
  # Return periods carry their unit: years of year blocks, months of month
  # blocks, years of a POT fit (without the count of observations).
  grep -Eq "^  level T=100 years " out || fail "no unit in years: $(cat out)"
  "$bin" fit --time date --column prcp --na -9999 --block month --min-coverage 0 --periods 12 p.csv > month ||
    fail "month status"
  grep -Eq "^  level T=12 months " month || fail "no unit in months: $(cat month)"
  "$bin" fit --time date --column prcp --na -9999 --pot --threshold 20 p.csv > pot || fail "pot status"
  grep -q "  level T=100 years " pot && ! grep -q "N=" pot || fail "POT periods: $(cat pot)"
  # Few clusters: a warning in the report and the JSON; none with more.
  grep -q "warning: only" pot && fail "warning with 35 clusters: $(cat pot)"
  "$bin" fit --time date --column prcp --na -9999 --pot --threshold 40 --json few.json p.csv > few ||
    fail "few clusters status"
  grep -Eq "^  warning: only [0-9] clusters over the threshold \(fewer than 10\): return levels" few &&
    grep -q '"warnings":\["only [0-9] clusters over the threshold' few.json || fail "few clusters: $(cat few)"
  ;;
reader_errors)
  { head -3 p.csv; echo "2020-01-01,1.5e,3"; tail -n +4 p.csv; } > bad.csv
  "$bin" fit --quiet --time date --column prcp bad.csv 2> err
  [ $? = 1 ] && grep -qx "bad.csv:4:2: '1.5e' is not a number" err || fail "bad number: $(cat err)"
  { head -3 p.csv; sed -n 2p p.csv; } > dup.csv
  "$bin" fit --quiet --time date --column prcp dup.csv 2> err
  grep -qx "dup.csv:4:1: time $(sed -n 2p p.csv | cut -d, -f1) on lines 2 and 4 (--duplicates max, first, last, sum or keep)" err ||
    fail "duplicate: $(cat err)"
  "$bin" fit --quiet --time date --column prcp --duplicates max dup.csv || fail "--duplicates max"
  printf 'date,prcp\n2013-02-30,1\n' > day.csv
  "$bin" fit --quiet --time date --column prcp day.csv 2> err
  grep -qx "day.csv:2:1: '2013-02-30' is not a time" err || fail "bad date: $(cat err)"
  "$bin" fit --quiet --time date --column nope p.csv 2> err
  grep -qx "p.csv:1: no column named 'nope'" err || fail "unknown column: $(cat err)"
  "$bin" fit --json - --quiet --time date --column prcp dup.csv | $py -c '
import json, sys
j = json.load(sys.stdin)
assert j["input_error"] == {"line": 4, "column": 1, "code": "duplicate_time"}, j' || fail "JSON error"
  "$bin" fit --block year p.csv 2> err; [ $? = 2 ] || fail "--block without --time"
  ;;
time_formats)
  # One series written as date-times, bare years and year,month,day columns.
  printf 't,v\n2001-03-04T10:00Z,1\n2001-03-04 11:00:30,5\n2002-01-01T00:00,2\n' > a.csv
  "$bin" fit --quiet --time t --column v --block year --min-coverage 0 --maxima m.csv a.csv ||
    fail "date-times"
  printf 'block,time,value\n2001,2001-03-04T11:00:30Z,5\n2002,2002-01-01,2\n' > want
  cmp -s want m.csv || fail "date-times: $(cat m.csv)"
  # A bad clock on a day that the row before it has: still refused.
  printf 't,v\n2001-03-04T10:00Z,1\n2001-03-04T24:00Z,5\n' > c.csv
  "$bin" fit --quiet --time t --column v c.csv 2> err
  grep -qx "c.csv:3:1: '2001-03-04T24:00Z' is not a time" err || fail "bad clock: $(cat err)"
  printf '1990 4\n1991 7\n1993 2\n' > y.txt
  "$bin" fit --quiet --sep ' ' --time 1 --column 2 --block year --maxima m.csv y.txt || fail "years"
  [ "$(cut -d, -f1 m.csv | tr '\n' ' ')" = "block 1990 1991 1993 " ] || fail "years: $(cat m.csv)"
  printf 'y;m;d;x\n2000;10;1;3\n2000;9;30;4\n2001;9;30;1\n' > w.csv
  "$bin" fit --quiet --sep ';' --time y,m,d --column x --block water-year --min-coverage 0 \
    --maxima m.csv w.csv || fail "water year"
  printf 'block,time,value\n2000,2000-09-30,4\n2001,2000-10-01,3\n' > want
  cmp -s want m.csv || fail "water year: $(cat m.csv)"
  ;;
groups_and_pot)
  # Two stations in one file: one JSON line each, in order of first appearance.
  { echo "station,date,prcp"; tail -n +2 p.csv | sed 's/^/B,/'; tail -n +2 p.csv | sed 's/^/A,/'; } > g.csv
  "$bin" fit --json - --quiet --time date --column prcp --by station --na -9999 --block year g.csv > g.json ||
    fail "groups status"
  $py - g.json <<'PY' || fail "groups"
import json, sys
rows = [json.loads(l) for l in open(sys.argv[1])]
assert [r["group"] for r in rows] == ["B", "A"], rows
a, b = rows
del a["group"], b["group"]
assert a == b
PY
  "$bin" fit --json - --quiet --time date --column prcp --na -9999 --pot --threshold 20 --run 2 \
    --threshold-range 10:25:4 p.csv > pot.json || fail "pot status"
  $py - p.csv pot.json <<'PY' || fail "pot"
import csv, datetime, json, sys
rows = sorted((r["date"], float(r["prcp"])) for r in csv.DictReader(open(sys.argv[1]))
              if r["prcp"] not in ("", "NA", "-9999"))
day = lambda d: datetime.date.fromisoformat(d).toordinal()
ex = [(day(d), v) for d, v in rows if v > 20]
clusters = [[ex[0][1]]]
for (d0, _), (d1, v) in zip(ex, ex[1:]):
    if d1 - d0 - 1 >= 2: clusters.append([v])
    else: clusters[-1].append(v)
p = json.load(open(sys.argv[2]))["pot"]
assert p["n_exceed"] == len(ex) and p["n_clusters"] == len(clusters), (p, len(ex), len(clusters))
# Observed days: first to last date and a day, less what lies beyond a day
# in the gaps over 10 days, less the missing values.
days = sorted({day(r["date"]) for r in csv.DictReader(open(sys.argv[1]))})
beyond = [b - a - 1 for a, b in zip(days, days[1:]) if b - a - 1 > 10]
observed = days[-1] - days[0] + 1 - sum(beyond) - (len(days) - len(rows))
assert len(p["gaps"]) == len(beyond) == 1 and p["gaps"][0]["days"] == beyond[0], p["gaps"]
assert abs(p["years"] - observed / 365.25) < 1e-12, (p["years"], observed)
assert abs(p["rate_per_year"] - len(clusters) / p["years"]) < 1e-12
mle = p["gpd"]["mle"]
assert mle["ok"] and mle["se_scale"] > 0 and len(p["diagnostics"]) == 4
for l in mle["return_levels"]:
    if l["value"] is not None and l["profile_lower"] is not None:
        assert l["profile_lower"] < l["value"] < l["profile_upper"], l
PY
  ;;
irregular_record)
  # Danish fire losses 1980-1990: only days with a large loss, several on some.
  d=$src/examples/daily/danish_fire_losses.csv
  pot="--time date --column loss --pot --threshold 10 --quiet --json -"
  "$bin" fit $pot --duplicates keep "$d" > keep.json || fail "keep status"
  "$bin" fit $pot --duplicates max "$d" > max.json || fail "max status"
  "$bin" fit $pot --duplicates keep --max-gap 5 "$d" > gap5.json || fail "gap status"
  "$bin" fit $pot --duplicates keep --per-year 200 "$d" > per.json || fail "per-year status"
  "$bin" fit --time date --column loss --duplicates sum --block year --min-coverage 0 \
    --maxima sum.csv --quiet "$d" || fail "sum status"
  $py - "$d" keep.json max.json gap5.json per.json sum.csv <<'PY' || fail "irregular record"
import csv, datetime, json, sys
rows = [(r["date"], float(r["loss"])) for r in csv.DictReader(open(sys.argv[1]))]
keep, top, gap5, per = (json.load(open(f)) for f in sys.argv[2:6])
day = lambda d: datetime.date.fromisoformat(d).toordinal()
days = sorted({day(d) for d, _ in rows})
# The span of the record (a 2-day median step past the last day): 11.0 years;
# no 20 days without a loss, whose gaps would not count.
p = keep["pot"]
assert p["span"] == {"first": "1980-01-03", "last": "1990-12-31", "years": 4017 / 365.25}, p
assert p["gaps"] == [] and p["max_gap_days"] == 20 and p["years"] == 4017 / 365.25
assert round(p["years"], 1) == 11.0
# Every loss an event, each its own cluster with --run 0.
ex = [v for _, v in rows if v > 10]
assert keep["n"] == len(rows) and p["n_exceed"] == p["n_clusters"] == len(ex) == 109, p
assert round(p["gpd"]["mle"]["return_levels"][5]["value"], 1) == 428.7
m = top["pot"]
assert m["n_exceed"] == m["n_clusters"] == len({d for d, v in rows if v > 10}) == 106, m
# Gaps over 5 days beyond the step: all left out.
beyond = [b - a - 2 for a, b in zip(days, days[1:]) if b - a - 2 > 5]
g = gap5["pot"]
assert [x["days"] for x in g["gaps"]] == beyond and len(beyond) > 10, g["gaps"]
assert abs(g["years"] - (4017 - sum(beyond)) / 365.25) < 1e-12
assert per["pot"]["per_year"] == 200 and per["pot"]["years"] == len(rows) / 200
# --duplicates sum: each year's largest day total.
total = {}
for d, v in rows:
    total[d] = total.get(d, 0) + v
best = {}
for d, v in sorted(total.items()):
    if d[:4] not in best or v > best[d[:4]][1]:
        best[d[:4]] = (d, v)
got = [(b, t, float(v)) for b, t, v in list(csv.reader(open(sys.argv[6])))[1:]]
assert [(b, t) for b, t, _ in got] == [(y, best[y][0]) for y in sorted(best)], got
assert all(abs(v - best[b][1]) < 1e-9 for b, _, v in got)
PY
  # Without --time every row is a value of one sample: said on standard error,
  # in the report and in the JSON's warnings.
  "$bin" fit --column loss --json j.json "$d" > out 2> err || fail "every row status"
  grep -q "\"warnings\":\[\"'date' holds times, but without --time every row is a value of one sample\"\]" j.json ||
    fail "JSON warnings: $(grep -o '"warnings":[^]]*' j.json)"
  grep -qx "$d: warning: 'date' holds times, but without --time every row is a value of one sample" err ||
    fail "no warning: $(cat err)"
  grep -q "  warning: 'date' holds times" out && grep -q "  n 2167 " out || fail "report: $(cat out)"
  "$bin" fit --quiet --column loss --time date --duplicates max "$d" 2> err && [ ! -s err ] ||
    fail "warning with --time: $(cat err)"
  ;;
threads)
  # A record large enough to be parsed in runs on several threads: the same
  # bytes out, and the same first fault, whatever the thread count.
  awk 'BEGIN { srand(3); print "station,time,v"
    for (i = 0; i < 120000; i++) {
      d = int(i / 24); h = i % 24; u = rand()
      printf "%s,%04d-%02d-%02dT%02d:00,%s\n", (i % 3 ? "a" : "b"), 1900 + int(d / 336),
        1 + int(d % 336 / 28), 1 + d % 28, h, (u < 0.05 ? "NA" : sprintf("%.2f", 10 * rand())) } }' > big.csv
  # Blank lines here and there leave gaps between the runs' rows.
  grep -v '^b,' big.csv > one.csv
  sed -e '30000s/$/\n/' -e '70001s/^/\n\n/' one.csv > gaps.csv
  "$bin" fit --json - --quiet --time time --column v --block year --min-coverage 0 one.csv |
    nometa | sed 's/"file":"[^"]*"//' > o0 || fail "status (one series)"
  for t in 1 2 5; do
    "$bin" fit --json - --quiet --threads $t --time time --column v --block year --min-coverage 0 \
      gaps.csv | nometa | sed 's/"file":"[^"]*"//' > o$t || fail "status $t (one series)"
    cmp -s o0 o$t || fail "blank lines change the rows with $t threads"
  done
  for t in 1 2 5; do
    "$bin" fit --json - --quiet --threads $t --time time --column v --by station --block year \
      --min-coverage 0 --pot --threshold-quantile 0.99 --run 3 --threshold-range 8:9.5:4 big.csv > r$t ||
      fail "status $t"
    nometa r$t > j$t
  done
  cmp -s j1 j2 && cmp -s j1 j5 || fail "results depend on --threads"
  sed -e '100000s/,[^,]*$/,x/' -e '90000s/T/ /' big.csv > bad.csv
  sed -n 60000p big.csv >> bad.csv
  for t in 1 2 5; do
    "$bin" fit --quiet --threads $t --time time --column v --by station bad.csv 2> e$t
    [ $? = 1 ] || fail "status of a bad file with $t threads"
  done
  cmp -s e1 e2 && cmp -s e1 e5 || fail "errors depend on --threads: $(cat e1 e2)"
  grep -qx "bad.csv:100000:3: 'x' is not a number" e1 || fail "first fault: $(cat e1)"
  ;;
plain_files)
  # A plain value file with a header line and missing values: read, the
  # missing ones counted and left out; a later bad line is named.
  { echo "level"; tail -n +2 p.csv | cut -d, -f2 | sed 's/^-9999$/NA/'; } > v.txt
  "$bin" fit --json - --quiet v.txt > v.json || fail "header and NA: status $?"
  $py - v.txt v.json <<'PY' || fail "header and NA"
import json, sys
vals = [v for v in open(sys.argv[1]).read().split("\n")[1:] if v]  # blank lines are passed over
j = json.load(open(sys.argv[2]))
missing = vals.count("NA")
assert missing > 0 and j["n_missing"] == missing and j["n"] == len(vals) - missing, (j, missing)
assert j["max"] == max(float(v) for v in vals if v != "NA"), j["max"]
PY
  { head -5 v.txt; echo "1.5x"; tail -n +6 v.txt; } > bad.txt
  "$bin" fit --quiet bad.txt 2> err
  [ $? = 1 ] && grep -qx "bad.txt:6:1: '1.5x' is not a number" err || fail "later bad line: $(cat err)"
  # Blank-separated columns under a header, as the plain reader splits them.
  printf 'year   peak\n1990   4.5\n1991\t NA\n1992 , 6.25\n1993 5\n' > c.txt
  "$bin" fit --json - --quiet --methods lmom --column 2 c.txt | $py -c '
import json, sys
j = json.load(sys.stdin)
assert (j["n"], j["n_missing"], j["min"], j["max"]) == (3, 1, 4.5, 6.25), j' || fail "columns"
  # A file the plain reader takes is read by it, as before.
  tail -n +2 v.txt | grep -v '^NA$' | grep -v '^$' > clean.txt
  "$bin" fit --json - --quiet clean.txt | $py -c '
import json, sys
assert "n_missing" not in json.load(sys.stdin)' || fail "plain file"
  ;;
pot_picture)
  # Peaks over a threshold alone: no fit of the raw values in the JSON, and
  # the threshold aids drawn as panels.
  "$bin" fit --json r.json --svg r.svg --quiet --time date --column prcp --na -9999 --pot \
    --threshold 20 --threshold-range 10:25:4 --units mm p.csv || fail "status $?"
  $py - r.json r.svg <<'PY' || fail "pot only"
import json, sys, xml.dom.minidom
j = json.load(open(sys.argv[1]))
assert not {"bins", "width", "m", "ls", "mle", "lmom", "gumbel_test", "headline"} & j.keys(), j.keys()
assert j["pot"]["gpd"]["mle"]["ok"]
svg = open(sys.argv[2]).read()
xml.dom.minidom.parseString(svg)
for title in ("Mean residual life (all exceedances)", "Modified scale (clusters)", "Shape (clusters)",
              "GPD Q-Q plot", "GPD return levels", "peaks over 20 (mm): "):
    assert title in svg, title
p = j["pot"]
assert list(p)[2:5] == ["n_exceed", "n_clusters", "gpd_of"] and p["gpd_of"] == "cluster maxima", list(p)
assert f'{p["n_exceed"]} exceedances, {p["n_clusters"]} clusters' in svg
assert p["diagnostics_of"]["mean_excess"] == "all exceedances", p["diagnostics_of"]
d = p["diagnostics"]
assert all(t["n_clusters"] <= t["n_exceed"] for t in d) and d[0]["n_clusters"] >= d[-1]["n_clusters"], d
# The threshold marked on each of the three threshold panels, and every
# cluster maximum a point of the Q-Q and the return-level plots.
assert svg.count('stroke-dasharray="2 3"') == 3
assert svg.count("<circle") == 2 * p["n_clusters"], (svg.count("<circle"), p["n_clusters"])
PY
  ;;
limits)
  # 10^5 one-row groups: each fails alone, named, in order, in bounded memory
  # (a small record a group, written as it is done; 10 KB a group once).
  awk 'BEGIN { print "time,value,g"
    for (i = 0; i < 100000; i++) printf "2000-01-01,%d.5,g%d\n", i % 7, i }' > one.csv
  (ulimit -v 250000; "$bin" fit --time time --column value --by g --quiet --json j one.csv 2> err)
  [ $? = 1 ] || fail "one-row groups: status $?: $(tail -1 err)"
  $py - j err <<'PY' || fail "one-row groups"
import json, sys
rows = [json.loads(l) for l in open(sys.argv[1])]
assert [r["group"] for r in rows] == ["g%d" % i for i in range(100000)], rows[:3]
assert not any(r["ok"] for r in rows)
errors = open(sys.argv[2]).read().splitlines()
assert errors == ["one.csv (g%d): too few values: 1 (at least 2 are needed)" % i for i in range(100000)], errors[:3]
PY
  ;;
groups_in_order)
  # Groups fitted and failing, on any number of threads and over two files:
  # the same reports, JSON lines and messages, in the order of the groups.
  for f in a b; do
    awk -v seed=$f 'BEGIN { srand(seed == "a" ? 5 : 6); print "g,time,v"
      for (k = 0; k < 60; k++) for (y = 0; y < (k % 5 ? 25 : 1); y++)
        printf "%s%d,%d,%.3f\n", seed, k, 1950 + y, 10 - 2 * log(-log(rand())) }' > $f.csv
  done
  for t in 1 2 5; do
    "$bin" fit --threads $t --json j$t --time time --column v --by g a.csv b.csv > o$t 2> e$t
    [ $? = 1 ] || fail "status with $t threads"
  done
  for t in 1 2 5; do nometa j$t > jm$t; nometa o$t > om$t; done
  cmp -s jm1 jm2 && cmp -s jm1 jm5 && cmp -s om1 om2 && cmp -s om1 om5 && cmp -s e1 e2 && cmp -s e1 e5 ||
    fail "output depends on --threads"
  "$bin" fit --json ja --time time --column v --by g a.csv > oa 2> ea
  "$bin" fit --json jb --time time --column v --by g b.csv > ob 2> eb
  cat ja jb | nometa | cmp -s - jm2 && cat ea eb | cmp -s - e2 && { nometa oa; echo; nometa ob; } | cmp -s - om2 ||
    fail "two files are not the runs of each"
  [ "$(grep -c '"ok":true' j1)" = 96 ] && [ "$(wc -l < e1)" = 24 ] || fail "groups: $(head -3 e1)"
  ;;
outputs)
  # A dated series' JSON says how many rows were read, missing and dropped,
  # also when its fit fails; names that are not text stay distinct.
  "$bin" fit --json - --quiet --time date --column prcp --na -9999 --block year p.csv > y.json ||
    fail "block status"
  "$bin" fit --json - --quiet --time date --column prcp --na -9999 --block year --min-coverage 1 \
    p.csv > f.json 2> err && fail "full coverage fitted"
  $py - p.csv y.json f.json <<'PY' || fail "counts"
import csv, json, sys
rows = list(csv.DictReader(open(sys.argv[1])))
missing = sum(r["prcp"] in ("", "NA", "-9999") for r in rows)
y, f = (json.load(open(n)) for n in sys.argv[2:])
assert (y["n_rows"], y["n_missing"]) == (len(rows), missing), y
assert not f["ok"] and (f["n_rows"], f["n_missing"]) == (len(rows), missing), f
assert len(f["blocks_dropped"]) == 4 and f["n_blocks"] == 0, f
PY
  printf 'g,t,v\n' > names.csv
  for g in 'a\377' 'a\376' 'a\\xFF' 'a\001'; do
    for y in 1 2 3; do printf "$g,200$y,$y.5\n" >> names.csv; done
  done
  "$bin" fit --json j --time t --column v --by g names.csv > out 2> err || fail "names: $(cat err)"
  $py - j out <<'PY' || fail "names"
import json, re, sys
want = [b"a\xff", b"a\xfe", b"a\\xFF", b"a\x01"]
undo = lambda s: re.sub(rb"\\\\|\\x([0-9A-F]{2})",
                        lambda m: bytes([int(m[1], 16)]) if m[1] else b"\\", s.encode())
got = [json.loads(l)["group"] for l in open(sys.argv[1])]
assert [undo(g) for g in got] == want, got
heads = re.findall(r"^names\.csv \[(.*)\]$", open(sys.argv[2], encoding="utf-8").read(), re.M)
assert [undo(h) for h in heads] == want, heads
PY
  ;;
*)
  fail "unknown check $check"
  ;;
esac
