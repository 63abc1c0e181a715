#!/usr/bin/env bash
# End-to-end runs of `korvalinde fit`, one behaviour per check.
#   fit_cli.sh <korvalinde binary> <source dir> <check>
set -u
bin=$1 src=$2 check=$3
py=/usr/bin/python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
cp "$src/examples/sample.txt" s.txt
fail() { echo "FAIL: $*"; exit 1; }
# Each output names its run: the time (fixed here), the command line and the
# options. Comparisons of outputs of different command lines leave out the
# JSON "meta" (the last key) and the report's header block.
export SOURCE_DATE_EPOCH=1700000000
nometa() { sed -e 's/,"meta":{.*}$/}/' -e '/^run: /,/^$/d' "$@"; }

case $check in
report)
  # By default maximum likelihood and L-moments; the histogram fit on request.
  "$bin" fit s.txt > out 2> err || fail "status $?"
  [ -s err ] && fail "stderr: $(cat err)"
  grep -Eq '^ +mle +lmom$' out || fail "default methods: $(cat out)"
  grep -Eq 'bins|SERROR' out && fail "ls pieces without ls: $(cat out)"
  "$bin" fit --methods ls,mle,lmom s.txt > out 2> err || fail "status $?"
  for want in "n 3000" "bins 50" "DPA_CUT (0.99 quantile)" "headline: Gumbel, maximum likelihood (mle)" "level T=1000 " "SERROR" "RERROR" "L2 norm" \
              "INFO 1 (sum of squares converged)" "residual evaluations" "ls" "mle" "lmom"; do
    grep -qF "$want" out || fail "report lacks '$want': $(cat out)"
  done
  # Probability 1: the quantile is infinite, written as the classic run writes it.
  "$bin" fit --prob 1 --methods mle s.txt | grep -q "^ *DPA_CUT (1 quantile) *Infinity$" ||
    fail "--prob 1: $("$bin" fit --prob 1 --methods mle s.txt)"
  # A failed file is named once, on standard error.
  "$bin" fit missing.txt s.txt > out 2> err; [ $? = 1 ] || fail "status with a missing file"
  nometa out | grep -q missing && fail "stdout names the failed file: $(cat out)"
  [ "$(grep -c missing err)" = 1 ] || fail "stderr: $(cat err)"
  nometa out | head -1 | grep -qx s.txt || fail "report of s.txt: $(head -1 out)"
  ;;
json)
  head -200 s.txt > a.txt
  printf '1\n2\nabc\n' > bad.txt
  "$bin" fit --json r.jsonl --quiet --level 20 --methods ls,mle,lmom a.txt missing.txt bad.txt s.txt > out 2> err
  [ $? = 1 ] || fail "status for failed files"
  [ -s out ] && fail "--quiet printed $(cat out)"
  grep -qx "missing.txt: No such file or directory" err || fail "stderr: $(cat err)"
  grep -qx "bad.txt:3: 'abc' is not a number" err || fail "stderr: $(cat err)"
  $py - r.jsonl <<'PY' || fail "JSON check"
import hashlib, json, sys
rows = [json.loads(l) for l in open(sys.argv[1])]
assert [r["file"] for r in rows] == ["a.txt", "missing.txt", "bad.txt", "s.txt"], rows
# Every line names its run and the bytes it read.
for r in rows:
    m = r.pop("meta")
    assert m["version"].startswith("korvalinde ") and m["time"] == "2023-11-14T22:13:20Z", m
    assert m["command"].endswith(" fit --json r.jsonl --quiet --level 20 --methods ls,mle,lmom "
                                 "a.txt missing.txt bad.txt s.txt"), m
    assert m["options"]["--level"] == "20" and m["options"]["--quiet"] == "", m
    assert m["options"]["--methods"] == "ls,mle,lmom" and m["options"]["--bins"] == "50", m
    assert m["options"]["--confidence"] == "0.95" and m["units"] is None, m
    i = m["input"]
    assert i["file"] == r["file"], i
    if r["file"] == "missing.txt":
        assert i["size"] is None and i["sha256"] is None and i["unknown"], i
    else:
        data = open(r["file"], "rb").read()
        assert i["size"] == len(data) and i["sha256"] == hashlib.sha256(data).hexdigest(), i
assert [r["ok"] for r in rows] == [True, False, False, True]
assert rows[2]["error"] == "bad.txt:3: 'abc' is not a number", rows[2]
keys = ["file", "ok", "n", "min", "max", "bins", "width", "m", "ls", "mle", "lmom", "gumbel_test",
        "headline"]
assert list(rows[3]) == keys, list(rows[3])
ls = rows[3]["ls"]
for k in ["a", "b", "se_a", "se_b", "corr_ab", "info", "nfev", "sum_sq", "l2", "serror",
          "rerror", "quantile", "return_levels", "level", "gof"]:
    assert k in ls, k
assert rows[3]["n"] == 3000 and rows[3]["bins"] == 50 and ls["info"] == 1
assert [x["period"] for x in ls["return_levels"]] == [2, 5, 10, 20, 50, 100, 200, 500, 1000]
assert ls["quantile"]["p"] == 0.99 and ls["quantile"]["lower"] < ls["quantile"]["value"]
assert rows[3]["mle"]["loglik"] < 0 and rows[3]["mle"]["iterations"] > 0
lm = rows[3]["lmom"]  # asymptotic standard errors, no bootstrap needed
assert lm["se_a"] > 0 and lm["se_b"] > 0 and abs(lm["corr_ab"] - 0.2417) < 1e-3, lm
assert lm["quantile"]["lower"] < lm["quantile"]["value"] < lm["quantile"]["upper"]
for r in (rows[0], rows[3]):
    for m in ("ls", "mle", "lmom"):
        g = r[m]["gof"]
        assert all(0 < g[k] <= 1 for k in ("ks_p", "cvm_p", "ad_p")), (m, g)
        assert g["p_method"].startswith("parametric bootstrap"), g
assert "asymptotic" in rows[3]["mle"]["gof"]["p_method"]
assert "asymptotic" not in rows[0]["mle"]["gof"]["p_method"]
rl = rows[3]["mle"]["return_levels"][5]
assert rl["profile_lower"] < rl["value"] < rl["profile_upper"], rl
t = rows[3]["gumbel_test"]
assert t["df"] == 1 and t["statistic"] >= 0 and 0 <= t["p"] <= 1, t
PY
  # The GEV in full, at 90%: narrower intervals than at 95%, the same fit.
  "$bin" fit --json g.jsonl --quiet --dist gumbel,gev --confidence 0.9 s.txt || fail "status $?"
  # The GEV alone in full: the Gumbel without its profile bounds, the rest the same.
  "$bin" fit --dist gev --confidence 0.9 --json o.jsonl s.txt |
    grep -q "^  GEV check: shape .*likelihood ratio .*Gumbel is" || fail "no GEV check line"
  $py - r.jsonl g.jsonl o.jsonl <<'PY' || fail "GEV JSON check"
import json, sys
r95 = [json.loads(l) for l in open(sys.argv[1])][3]
r90 = json.loads(open(sys.argv[2]).readline())
alone = json.loads(open(sys.argv[3]).readline())
assert alone["gev"] == r90["gev"] and alone["gumbel_test"] == r90["gumbel_test"]
q = r90["mle"]["quantile"]
assert alone["mle"]["quantile"] == {k: v for k, v in q.items() if "profile" not in k}
g = r90["gev"]["mle"]
for k in ["loc", "scale", "shape", "se_loc", "se_scale", "se_shape", "cov", "loglik",
          "iterations", "quantile", "return_levels", "shape_interval", "gof"]:
    assert k in g, k
assert set(r90["gev"]) == {"mle", "lmom"} and "loglik" not in r90["gev"]["lmom"]
assert len(g["cov"]) == 3 and g["cov"][0][1] == g["cov"][1][0]
assert r90["gumbel_test"]["shape"]["value"] == g["shape"]
a, b = r95["mle"]["return_levels"][5], r90["mle"]["return_levels"][5]
assert a["value"] == b["value"] and a["lower"] < b["lower"] and b["profile_upper"] < a["profile_upper"]
s = g["shape_interval"]
assert s["profile_lower"] < g["shape"] < s["profile_upper"], s
PY
  # The families side by side in the report; every interval, the bootstrap's
  # too, at the confidence asked for.
  "$bin" fit --dist gumbel,gev --confidence 0.9 --bootstrap 49 --seed 3 --json b90.jsonl s.txt \
    > rep90 || fail "status $?"
  "$bin" fit --quiet --bootstrap 49 --seed 3 --json b95.jsonl s.txt || fail "status $?"
  grep -Eq '^ +mle +lmom +gev mle +gev lmom$' rep90 || fail "no GEV columns: $(head -5 rep90)"
  for want in "^  shape +0 .*[+]- " "^    delta  .*\[.*\[" "^  90% intervals" "^    a 90% "; do
    grep -Eq "$want" rep90 || fail "report lacks '$want'"
  done
  $py - b90.jsonl b95.jsonl <<'PY' || fail "bootstrap confidence"
import json, sys
b90, b95 = (json.loads(open(f).readline())["mle"]["boot"] for f in sys.argv[1:])
for k in ("a", "b", "quantile"):
    assert b95[k][0] < b90[k][0] < b90[k][1] < b95[k][1], (k, b90, b95)
PY
  ;;
headline)
  # The fit the evidence favours leads every summary: the families in the
  # order asked for, the GEV when the Gumbel check rejects the Gumbel.
  v="$src/examples/stations/sask_flood.txt"
  "$bin" fit --dist gev --methods mle --periods 100 --level 200 --json g.jsonl --html g.html \
    --svg g.svg "$v" > rep || fail "status $?"
  grep -qx "  headline: GEV, maximum likelihood (gev mle)" rep || fail "report: $(cat rep)"
  grep -Eq "^  level T=100 +243.86 \[133.99, 786.039\] +125.453 " rep || fail "level row: $(cat rep)"
  sed -n '/id="summary"/,/<\/section>/p' g.html > summary
  grep -q "<td>GEV mle</td>" summary && grep -q "243.86<br><span class=\"ci\">\[133.99, 786.039\]" summary ||
    fail "HTML summary: $(cat summary)"
  grep -q "125.453" summary && fail "the rejected Gumbel in the summary: $(cat summary)"
  grep -q ">gev mle (headline): " g.svg || fail "picture's legend"
  "$bin" fit --dist gumbel,gev --json gg.jsonl "$v" | grep -q "^  GEV check: .*rejected at the 5% level: the GEV leads$" ||
    fail "no word of the GEV leading"
  "$bin" fit "$v" | grep -q "rejected at the 5% level (--dist gev fits the GEV)$" || fail "no hint at --dist gev"
  "$bin" fit --quiet --dist gev,gumbel --json o1.jsonl s.txt && "$bin" fit --quiet --dist gumbel,gev --json o2.jsonl s.txt ||
    fail "status $?"
  printf '1\n1.2\n1.5\n2\n3\n5\n10\n30\n100\n1.1\n1.3\n' > heavy.txt
  "$bin" fit --dist gev --periods 1000 heavy.txt > hrep || fail "status $?"
  grep -q "^  level T=1000 .*\[-[0-9.e+]*\*, " hrep && grep -q "^  \* below zero: .*normal approximation" hrep ||
    fail "a negative delta bound of a positive level unmarked: $(cat hrep)"
  # Few maxima: the long periods are extrapolations, in the report and the JSON.
  grep -qx "  warning: only 11 maxima (fewer than 20): return levels of periods much longer than the record are extrapolations" hrep ||
    fail "no small-sample warning: $(cat hrep)"
  "$bin" fit --quiet --json - heavy.txt | grep -q '"warnings":\["only 11 maxima (fewer than 20): ' || fail "no JSON warnings"
  "$bin" fit --quiet --json - s.txt | grep -q '"warnings"' && fail "warnings for 3000 values"
  $py - g.jsonl gg.jsonl o1.jsonl o2.jsonl <<'PY' || fail "JSON headline"
import json, math, sys
g, gg, o1, o2 = (json.loads(open(f).readline()) for f in sys.argv[1:])
assert g["headline"] == {"dist": "gev", "method": "mle"}, g["headline"]
assert gg["headline"] == {"dist": "gev", "method": "mle", "reason": "the Gumbel check rejects the Gumbel"}
assert o1["headline"] == {"dist": "gev", "method": "mle"} and o2["headline"] == {"dist": "gumbel", "method": "mle"}
# The --level answer of the GEV: T = 1/(1 - G(x)).
m = g["gev"]["mle"]
z = 1 + m["shape"] * (200 - m["loc"]) / m["scale"]
t = 1 / -math.expm1(-z ** (-1 / m["shape"]))
assert m["level"]["x"] == 200 and abs(m["level"]["period"] / t - 1) < 1e-12, (m["level"], t)
PY
  ;;
gev_uncertainty)
  # A real series: the GEV L-moment errors, bootstrap and p-values are there,
  # finite and sensible, and the bootstrap does not depend on the threads.
  v="$src/examples/stations/portpirie_sealevel.txt"
  for t in 1 2; do
    "$bin" fit --quiet --dist gumbel,gev --bootstrap 99 --seed 4 --threads $t --json g$t.jsonl "$v" ||
      fail "status $?"
  done
  cmp -s <(nometa g1.jsonl) <(nometa g2.jsonl) || fail "the bootstrap depends on the threads"
  "$bin" fit --dist gumbel,gev --bootstrap 99 "$v" > rep || fail "status $?"
  grep -q "(p -)" rep && fail "GEV p-values missing: $(cat rep)"
  # --gof-p none spares the simulation: no p-values, and the report says so.
  "$bin" fit --gof-p none --dist gumbel,gev --json n.jsonl "$v" | grep -q "; p-values: none$" || fail "--gof-p none"
  grep -q ks_p n.jsonl && fail "--gof-p none gave p-values"
  # --gof-p asymptotic: every method's p-values from the limit laws, which
  # the report and the JSON call approximate; the statistics are unchanged.
  "$bin" fit --gof-p asymptotic --dist gumbel,gev --json a.jsonl "$v" |
    grep -q "; p-values: asymptotic laws of known parameters, approximate (high) for fitted ones$" ||
    fail "--gof-p asymptotic report"
  $py - a.jsonl n.jsonl <<'PY' || fail "--gof-p asymptotic JSON"
import json, sys
a, n = (json.loads(open(p).readline()) for p in sys.argv[1:])
for fit, none in ((a["mle"], n["mle"]), (a["lmom"], n["lmom"]), (a["gev"]["mle"], n["gev"]["mle"])):
    g = fit["gof"]
    assert "approximate" in g["p_method"] and 0 < g["ks_p"] <= 1 and 0 < g["ad_p"] <= 1, g
    assert g["ad"] == none["gof"]["ad"], (g, none["gof"])
PY
  grep -Eq "^    shape 95% +- +- +\[.*\] +\[" rep || fail "no bootstrap shape row: $(cat rep)"
  $py - g1.jsonl <<'PY' || fail "GEV uncertainty JSON"
import json, math, sys
r = json.loads(open(sys.argv[1]).readline())
mle, lm = r["gev"]["mle"], r["gev"]["lmom"]
for k in ("se_loc", "se_scale", "se_shape"):
    assert 0.5 < lm[k] / mle[k] < 2, (k, lm[k], mle[k])
assert all(math.isfinite(x) for row in lm["cov"] for x in row) and lm["cov"][0][2] == lm["cov"][2][0]
for q in [lm["quantile"]] + lm["return_levels"]:
    assert q["lower"] < q["value"] < q["upper"] and "profile_lower" not in q, q
for g in (mle, lm):
    b = g["boot"]
    assert b["replicates"] == 99 and 0 <= b["failed"] < 10, b
    for k in ("loc", "scale", "shape", "quantile"):
        assert b[k][0] < b[k][1], (k, b)
    assert b["loc"][0] < g["loc"] < b["loc"][1] and b["shape"][0] < g["shape"] < b["shape"][1], b
    for k in ("se_loc", "se_scale", "se_shape"):
        assert 0.5 < b[k] / g[k] < 2, (k, b[k], g[k])
    assert len(b["return_levels"]) == len(g["return_levels"])
    gof = g["gof"]
    for k in ("ks_p", "cvm_p", "ad_p"):
        assert 0 < gof[k] <= 1 and 0 <= b[k] <= 1, (k, gof, b)
    assert gof["p_method"].startswith("parametric bootstrap at the fitted GEV shape"), gof
PY
  ;;
svg)
  "$bin" fit --quiet --svg p.svg s.txt || fail "status $?"
  xmllint --noout p.svg || fail "invalid SVG"
  [ "$(stat -c %s p.svg)" -lt 300000 ] || fail "SVG of $(stat -c %s p.svg) bytes"
  "$bin" fit --quiet --svg p.svg s.txt s.txt 2> err
  [ $? = 2 ] || fail "--svg with two inputs accepted"
  # The GEV curves and profile bands at the confidence asked for.
  "$bin" fit --quiet --dist gumbel,gev --confidence 0.8 --svg g.svg s.txt || fail "status $?"
  xmllint --noout g.svg || fail "invalid SVG with the GEV"
  for want in "gev mle: loc " "gev lmom: loc " "80% envelope" "mle 80%: envelope (Q-Q), profile" \
    "gev mle 80%: profile"; do
    grep -q "$want" g.svg || fail "SVG lacks '$want'"
  done
  # The title names the bins and cells only when the histogram fit runs.
  grep -q "bins = " p.svg && fail "bins in the title without ls"
  "$bin" fit --quiet --methods ls,mle --svg l.svg s.txt && grep -q ", bins = 50, cells = 51)" l.svg ||
    fail "no bins in the title with ls"
  ;;
images)
  "$bin" fit --quiet --png p.png --pdf p.pdf --title "Station X" --units mm s.txt || fail "status $?"
  [ "$(head -c 8 p.png | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] || fail "not a PNG"
  head -c 5 p.pdf | grep -q '%PDF-' || fail "not a PDF"
  "$bin" fit --quiet --svg p.svg --title "Station X" --units mm s.txt
  grep -q "Station X" p.svg && grep -q "level (mm)" p.svg || fail "title or units missing"
  # A picture that can not be written leaves no temporary file behind.
  mkdir dir.png
  "$bin" fit --quiet --png dir.png s.txt 2> err; [ $? = 1 ] || fail "status for a failed write"
  grep -q "can not write dir.png" err || fail "stderr: $(cat err)"
  ls | grep -q tmp && fail "temporary file left: $(ls)"
  "$bin" fit --quiet --pdf p.pdf s.txt s.txt 2> err; [ $? = 2 ] || fail "--pdf with two inputs"
  ;;
meta)
  # Every output names the run (program, time, command, options, units) and
  # the size and SHA-256 of what it read; a large file is hashed on a thread
  # of its own, standard input not at all.
  sum=$(sha256sum s.txt | cut -c1-64)
  "$bin" fit --units 'm3/s' --html p.html --svg p.svg --json p.jsonl s.txt > out || fail "status $?"
  head -4 out > head
  printf '%s
' "command: $bin fit --units m3/s --html p.html --svg p.svg --json p.jsonl s.txt" \
    "units: m3/s" | cmp -s - <(sed -n 2p head; sed -n 4p head) || fail "header: $(cat head)"
  grep -q "^run: korvalinde [0-9].*, 2023-11-14T22:13:20Z$" head && grep -q "^options: .*--units m3/s" head ||
    fail "header: $(cat head)"
  grep -qx "  input: $(stat -c %s s.txt) bytes, SHA-256 $sum" out || fail "input line: $(cat out)"
  grep -q "2023-11-14T22:13:20Z; $(stat -c %s s.txt) bytes, SHA-256 ${sum:0:16}...; units m3/s</text>" p.svg ||
    fail "picture footer: $(grep 2023 p.svg)"
  grep -q "<th>command</th><td><code>$bin fit --units m3/s" p.html && grep -q "SHA-256 $sum" p.html ||
    fail "HTML page: $(grep -c 2023 p.html)"
  cmp -s <(grep -o '"meta":.*' p.jsonl | grep -o '"sha256":"[0-9a-f]*"') <(echo "\"sha256\":\"$sum\"") ||
    fail "JSON: $(cat p.jsonl)"
  for i in $(seq 100); do cat s.txt; done > big.txt  # 2.9 MB
  "$bin" fit --quiet --methods lmom --json - big.txt |
    grep -q "\"size\":$(stat -c %s big.txt),\"sha256\":\"$(sha256sum big.txt | cut -c1-64)\"" ||
    fail "large file digest"
  "$bin" fit --quiet --json - - < s.txt | grep -q '"input":{"file":"-","size":null,"sha256":null,"unknown":"standard input"}' ||
    fail "standard input"
  # Without SOURCE_DATE_EPOCH, the clock's time.
  SOURCE_DATE_EPOCH= "$bin" fit s.txt | head -1 | grep -q ", $(date -u +%Y-%m-%d)T" || fail "the clock"
  ;;
glossary)
  # Every family, method, parameter and statistic the HTML summary can show
  # has an entry in the page's own glossary: Gumbel and GEV fits by every
  # method, a failed file, and a peaks-over-threshold fit.
  cp "$src/examples/stations/sask_flood.txt" sask.txt
  printf '1\n2\nx\n' > bad.txt
  "$bin" fit --quiet --methods ls,mle,lmom --dist gumbel,gev --level 100 --html a.html s.txt sask.txt bad.txt
  "$bin" fit --quiet --time date --column loss --pot --threshold 10 --duplicates keep --html b.html \
    "$src/examples/daily/danish_fire_losses.csv" || fail "pot page status"
  $py - a.html b.html <<'PY' || fail "glossary"
import html, re, sys
number = r"[-+]?(\d+\.?\d*|\.\d+)(e[-+]?\d+)?\*?"
seen = {}
for page in sys.argv[1:]:
    doc = open(page).read()
    gloss = doc.split('id="quantities"')[1]
    defined = {t.strip() for dt in re.findall(r"<dt>(.*?)</dt>", gloss) for t in dt.split(",")}
    summary = doc.split('id="summary"')[1].split("</table>")[0]
    terms = [re.sub(r"=.*", "", html.unescape(h)).strip() for h in re.findall(r"<th>(.*?)</th>", summary)]
    for row in summary.split("<tr>")[2:]:
        cells = re.findall(r"<td( class=\"[a-z]+\")?( colspan=\"\d+\")?>(.*?)</td>", row)
        for cls, _, text in cells[1:]:  # the file's name and error cells are free text
            if "error" in cls:
                continue
            text = re.sub(number, " ", html.unescape(re.sub(r"<[^>]+>", " ", text)))
            terms += [w for w in re.findall(r"[A-Za-z][A-Za-z0-9_]*", text) if w not in ("none", "Infinity", "NaN")]
    missing = sorted(set(terms) - defined)
    assert not missing, (page, missing)
    seen.update(dict.fromkeys(terms))
for want in ("Gumbel", "GEV", "POT", "GPD", "u", "a", "loc", "shape", "mle", "KS p", "level T"):
    assert want in seen, want
PY
  ;;
usage)
  "$bin" fit --bins 0 s.txt > out 2> err
  [ $? = 2 ] || fail "status for --bins 0"
  [ "$(wc -l < err)" = 2 ] && grep -q -- "--bins" err && grep -q "^Usage: korvalinde fit" err ||
    fail "usage error: $(cat err)"
  "$bin" fit --frobnicate s.txt 2> err; [ $? = 2 ] || fail "unknown option"
  grep -q -- "--frobnicate" err || fail "unknown option not named: $(cat err)"
  cp s.txt keep.txt
  "$bin" fit --json keep.txt s.txt keep.txt 2> err; [ $? = 2 ] || fail "output onto an input"
  cmp -s s.txt keep.txt || fail "an input was overwritten"
  "$bin" --version | grep -q "^korvalinde [0-9]" || fail "--version"
  "$bin" fit --help | grep -q -- "--bootstrap" || fail "fit --help"
  printf '5\n' > one.txt
  "$bin" fit --quiet one.txt 2> err; [ $? = 1 ] || fail "status for one value"
  grep -q "one.txt: too few values" err || fail "$(cat err)"
  ;;
columns)
  awk '{printf "%d;x;%s\n", NR, $1}' s.txt > c.txt
  "$bin" fit --json - s.txt | nometa | sed 's/"file":"[^"]*"//' > want
  "$bin" fit --json - --column 3 --sep ';' c.txt | nometa | sed 's/"file":"[^"]*"//' > got
  cmp -s want got || fail "column 3 of ';' fields differs"
  cat s.txt | "$bin" fit --json - - | nometa | sed 's/"file":"[^"]*"//' > got
  cmp -s want got || fail "standard input differs"
  printf '1;x;2\n3;y\n' > short.txt
  "$bin" fit --quiet --column 3 --sep ';' short.txt 2> err
  grep -qx "short.txt:2: no value in column 3" err || fail "missing field: $(cat err)"
  # Text after a value within its field blames the whole field.
  printf '1 2,3\n' > junk.txt
  "$bin" fit --quiet --sep , junk.txt 2> err
  grep -qx "junk.txt:1: '1 2' is not a number" err || fail "junk after a value: $(cat err)"
  ;;
threads)
  head -300 s.txt > a.txt
  for t in 1 2 5; do
    "$bin" fit --json - --threads $t --bootstrap 99 --seed 7 a.txt s.txt a.txt > r$t || fail "status"
    nometa r$t > j$t
  done
  cmp -s j1 j2 && cmp -s j1 j5 || fail "results depend on --threads"
  # A file's numbers (p-values included) are the same alone as among others.
  "$bin" fit --json - --bootstrap 99 --seed 7 a.txt | nometa > alone
  cmp -s <(head -1 j1) alone && cmp -s <(sed -n 3p j1) alone || fail "a file's result depends on the others"
  "$bin" fit --json - --bootstrap 99 --seed 8 a.txt | nometa > j8
  cmp -s <(head -1 j1) j8 && fail "the seed changes nothing"
  # A file read in runs of lines on the threads (4 MB): the same numbers,
  # and the first bad line in file order named, whatever the thread count.
  awk 'BEGIN { for (i = 1; i <= 400000; i++) printf "%.6f\n", 10 - 2 * log(-log((i * 7919 % 400000 + 0.5) / 400000)) }' > long.txt
  sed -e '150000s/.*/abc/' -e '350000s/.*/x/' long.txt > bad.txt
  for t in 1 2 5; do
    "$bin" fit --json - --methods lmom --threads $t long.txt > r$t || fail "long file, $t threads"
    nometa r$t > l$t
    "$bin" fit --quiet --methods lmom --threads $t bad.txt 2> e$t && fail "bad file, $t threads"
  done
  cmp -s l1 l2 && cmp -s l1 l5 || fail "a long file's results depend on --threads"
  grep -q '"n":400000,' l1 || fail "long file: $(head -c 100 l1)"
  cmp -s e1 e2 && cmp -s e1 e5 || fail "faults depend on --threads: $(cat e1 e2 e5)"
  grep -qx "bad.txt:150000: 'abc' is not a number" e2 || fail "first fault: $(cat e2)"
  ;;
classic_equal)
  # The least-squares numbers equal the classic run's on every recorded
  # sample the classic run fits: compared through the classic report's fields.
  $py - "$bin" "$src/tests/e2e/cases" <<'PY' || fail "differs from the classic run"
import json, os, re, subprocess, sys
binary, cases = sys.argv[1], sys.argv[2]
def control(line):  # the first read of the control input: name, bins, probability
    items, i = [], 0
    while i < len(line) and len(items) < 3:
        c = line[i]
        if c in " ,\t":
            i += 1
        elif c in "'\"":
            j, text = i + 1, ""
            while True:
                if line[j] == c and line[j + 1:j + 2] == c:
                    text, j = text + c, j + 2
                elif line[j] == c:
                    break
                else:
                    text, j = text + line[j], j + 1
            items.append(text)
            i = j + 1
        else:
            m = re.match(r"[^ ,\t/]+", line[i:])
            items.append(m.group(0))
            i += len(m.group(0))
    return items[0], items[1], items[2].replace("D", "e").replace("d", "e")
checked = 0
for case in sorted(os.listdir(cases)):
    d = os.path.join(cases, case)
    if open(os.path.join(d, "kind")).read().strip() != "exact":
        continue
    head = open(os.path.join(d, "expected", "stdout")).read().split("\n")
    if "DPA_CUT" not in head[0]:
        continue
    name, bins, prob = control(open(os.path.join(d, "stdin")).readline())
    out = subprocess.run([binary, "fit", "--json", "-", "--methods", "ls", "--bins", bins,
                          "--prob", prob, "--", name], cwd=d, capture_output=True, text=True)
    assert out.returncode == 0, (case, out.stderr)
    r = json.loads(out.stdout)["ls"]
    first, second = head[0].split(), head[1].split()
    def same(value, digits, printed):  # non-finite values are null in JSON
        if value is None:
            return printed in ("NaN", "Infinity", "-Infinity")
        return "*" in printed or "%.*f" % (digits, value) == printed
    pairs = [(r["quantile"]["value"], 5, first[0]), (r["serror"], 7, first[1]),
             (r["rerror"], 7, first[2]), (r["a"], 5, second[0]), (r["b"], 5, second[1])]
    assert all(same(*p) for p in pairs), (case, pairs)
    checked += 1
assert checked >= 10, checked
print("compared", checked, "cases")
PY
  ;;
outputs)
  # No output may be an input (standard input included), nor two outputs one
  # file; nothing is opened for writing before the check.
  cp s.txt keep.txt
  for args in "--result s.txt -" "--svg s.txt -" "--json s.txt -" "--json /dev/stdin -" \
              "--json o --svg o s.txt" "--json o --result ./o s.txt" "--json ln s.txt"; do
    ln -sf s.txt ln
    "$bin" fit --quiet $args < s.txt > /dev/null 2> err
    [ $? = 2 ] || fail "accepted: $args"
    cmp -s s.txt keep.txt || fail "input changed by: $args"
    [ -e o ] && fail "an output was written: $args"
    [ "$(wc -l < err)" = 2 ] || fail "$args: $(cat err)"
  done
  "$bin" fit - < s.txt >> s.txt 2> err; [ $? = 2 ] || fail "report onto standard input"
  cmp -s s.txt keep.txt || fail "input changed by the report"
  # A stream is read once: standard input or one FIFO named twice.
  cat s.txt | "$bin" fit --json - --threads 2 - - 2> err; [ $? = 2 ] || fail "- given twice"
  mkfifo f
  "$bin" fit --quiet f f 2> err; [ $? = 2 ] || fail "FIFO given twice"
  # An output asked for is written, or the run is a usage error.
  for args in "--json ''" "--svg ''" "--result ''" "--methods mle --result r.dat"; do
    eval "\"\$bin\" fit --quiet $args s.txt" 2> err; [ $? = 2 ] || fail "accepted: $args"
  done
  # A list option takes one argument: the file names after it stay inputs.
  head -100 s.txt > a.txt
  "$bin" fit --quiet --json - --methods mle,lmom --periods 10,100 a.txt s.txt > j ||
    fail "list option before files: status $?"
  $py - j <<'PY' || fail "list options: $(cat j)"
import json, sys
rows = [json.loads(l) for l in open(sys.argv[1])]
assert [r["file"] for r in rows] == ["a.txt", "s.txt"]
assert all("ls" not in r and [x["period"] for x in r["mle"]["return_levels"]] == [10, 100]
           for r in rows)
PY
  ;;
options)
  # Each refusal names the option and says what is wanted.
  check() {  # check <expected message> <options...>
    local want=$1; shift
    "$bin" fit "$@" s.txt > /dev/null 2> err; [ $? = 2 ] || fail "accepted: $*"
    [ "$(head -1 err)" = "korvalinde: $want" ] || fail "$*: $(head -1 err)"
  }
  check "--threads: must be at least 1" --threads 0
  check "--column: must be at least 1" --column 0
  check "--bins: must be at most 1000000" --bins 1000001
  check "--bootstrap: must be at least 0" --bootstrap -1
  for seed in -1 18446744073709551616 123456789012345678901 1.5; do
    check "--seed: must be a whole number from 0 to 18446744073709551615" --seed $seed
  done
  "$bin" fit --quiet --seed 18446744073709551615 --bootstrap 3 s.txt || fail "largest seed"
  for c in 0 5 . + - e E d D; do check "--sep: '$c' can occur in a number" --sep "$c"; done
  check "--sep: one character expected" --sep ';;'
  check "--methods: 'foo' is not ls, mle or lmom" --methods mle,foo
  check "--periods: return periods must be finite and greater than 1" --periods 10,1
  check "--prob: must be in (0, 1]" --prob 0
  ;;
write_errors)
  # A write that fails is told once, naming the file, and the status is 1.
  "$bin" fit --quiet --json /dev/full s.txt 2> err; [ $? = 1 ] || fail "--json /dev/full"
  grep -qx "korvalinde: can not write /dev/full: No space left on device" err || fail "$(cat err)"
  "$bin" fit --svg /dev/full s.txt > /dev/null 2> err; [ $? = 1 ] || fail "--svg /dev/full"
  "$bin" fit s.txt > /dev/full 2> err; [ $? = 1 ] || fail "report to /dev/full"
  [ "$(cat err)" = "korvalinde: can not write standard output: No space left on device" ] ||
    fail "$(cat err)"
  # A file size limit: the old JSON file stays whole, no temporary is left.
  for i in $(seq 40); do cp s.txt in$i.txt; done
  echo old > o.jsonl
  (trap '' XFSZ; ulimit -f 8; "$bin" fit --quiet --json o.jsonl in*.txt 2> err); st=$?
  [ $st = 1 ] || fail "status $st on a full file"
  [ "$(cat o.jsonl)" = old ] || fail "old JSON file changed"
  [ -z "$(ls -A | grep korvalinde-)" ] || fail "temporary files left: $(ls -A)"
  # A closed standard output does not send the report into an output file.
  "$bin" fit --json o.jsonl s.txt >&- 2> err
  $py -c 'import json, sys; [json.loads(l) for l in open(sys.argv[1])]' o.jsonl ||
    fail "report inside the JSON file"
  ;;
atomic)
  # Outputs are replaced whole: a signal or a concurrent run never leaves a
  # spliced, emptied or partial file.
  head -500 s.txt > a.txt
  "$bin" fit --quiet --json old.jsonl a.txt
  cp old.jsonl o.jsonl
  for sig in INT TERM; do
    # A background job starts with SIGINT ignored: give it its default back.
    timeout 60 $py -c 'import os, signal, sys
signal.signal(signal.SIGINT, signal.SIG_DFL)
os.execv(sys.argv[1], sys.argv[1:])' "$bin" fit --quiet --bootstrap 20000 --json o.jsonl \
      --svg o.svg s.txt & pid=$!
    sleep 0.5; kill -$sig $pid; wait $pid
    cmp -s old.jsonl o.jsonl || fail "SIG$sig changed the old JSON file"
    [ -e o.svg ] && fail "SIG$sig left a picture"
    [ -z "$(ls -A | grep korvalinde-)" ] || fail "temporary files left: $(ls -A)"
  done
  # A sender may signal the process twice (timeout signals the child and its
  # group): the second signal, in another thread, must not end the run
  # before the first has removed the temporary files.
  for i in 1 2 3 4 5 6 7 8 9 10; do
    "$bin" fit --quiet --bootstrap 20000 --threads 2 --json o.jsonl --svg o.svg s.txt & pid=$!
    sleep 0.3; kill -TERM $pid; kill -TERM $pid; wait $pid
    [ -z "$(ls -A | grep korvalinde-)" ] || fail "two signals left temporary files: $(ls -A)"
  done
  for f in a s; do "$bin" fit --quiet --json $f.jsonl --svg $f.svg --result $f.dat $f.txt; done
  chmod 640 a.jsonl
  for i in 1 2 3 4 5 6 7 8 9 10; do
    "$bin" fit --quiet --json o.jsonl --svg o.svg --result o.dat a.txt &
    "$bin" fit --quiet --json o.jsonl --svg o.svg --result o.dat s.txt; wait
    for e in jsonl svg dat; do
      cmp -s <(nometa o.$e) <(nometa a.$e) || cmp -s <(nometa o.$e) <(nometa s.$e) ||
        fail "spliced o.$e in try $i"
    done
  done
  cp a.jsonl p.jsonl
  "$bin" fit --quiet --json p.jsonl s.txt
  [ "$(stat -c %a p.jsonl)" = 640 ] || fail "mode $(stat -c %a p.jsonl)"
  ;;
endless)
  # A value longer than the reader's limit is told at once, in both faces.
  timeout 10 "$bin" fit --quiet /dev/zero 2> err; [ $? = 1 ] || fail "fit /dev/zero: status $?"
  grep -q "^/dev/zero:1: '?*\.\.\.' is not a number" err || fail "$(cat err)"
  ;;
memory)
  # Memory follows what was read: a sparse file of 750 MB holding 3001 values
  # (each line a value, a blank and 256 KiB of ignored NUL bytes).
  $py - <<'PY'
with open("sparse.txt", "wb") as f:
    for i in range(3001):
        f.seek(i << 18)
        f.write(b"%.3f " % (10 + (i * 7919 % 1000) / 100))
        f.seek(((i + 1) << 18) - 1)
        f.write(b"\n")
PY
  (ulimit -v 100000; "$bin" fit --quiet --json - sparse.txt > j 2> err) || fail "sparse file: $(cat err)"
  grep -q '"n":3001' j || fail "sparse file: $(head -c 200 j)"
  # Memory running out in a bootstrap thread fails the file, not the process.
  awk 'BEGIN { for (i = 1; i <= 1000000; i++) print 10 - 2 * log(-log((i - 0.5) / 1000000)) }' > m.txt
  for v in 40000 50000; do
    (ulimit -v $v; "$bin" fit --json - --methods mle --bootstrap 64 --threads 2 m.txt > j 2> err)
    st=$?
    [ $st = 0 ] || { [ $st = 1 ] && grep -qx "m.txt: not enough memory" err; } ||
      fail "ulimit -v $v: status $st, $(cat err)"
  done
  ;;
scales)
  # At any scale of the data a failing method fails alone, and the others'
  # scale-free numbers (correlations, standard errors over the scale) stay.
  "$bin" fit --quiet --methods ls,mle,lmom --json - s.txt > base
  for e in -100 -200 -310 300; do
    awk -v e=$e '{ printf "%se%d\n", $1, e }' s.txt > t.txt
    "$bin" fit --quiet --methods ls,mle,lmom --json - t.txt > j 2> err; st=$?
    $py - base j $e "$st" err <<'PY' || fail "scale 1e$e: $(cat err)"
import json, sys
base, got = json.load(open(sys.argv[1])), json.load(open(sys.argv[2]))
scale, status, err = 10.0 ** int(sys.argv[3]), int(sys.argv[4]), open(sys.argv[5]).read()
assert got["ok"], got
failed = [m for m in ("ls", "mle", "lmom") if "error" in got[m]]
assert failed in ([], ["ls"]), failed
assert status == (1 if failed else 0), status
assert err == "".join(f"t.txt: {m}: {got[m]['error']}\n" for m in failed), err
for m in ("ls", "mle"):
    if m in failed:
        continue
    for k in ("corr_ab",):
        assert abs(got[m][k] - base[m][k]) < 1e-9, (m, k, got[m][k], base[m][k])
    for k in ("se_a", "se_b"):
        assert abs(got[m][k] / scale / base[m][k] - 1) < 1e-9, (m, k, got[m][k], base[m][k])
PY
  done
  ;;
*) fail "unknown check $check" ;;
esac
echo "ok $check"
