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

case $check in
report)
  "$bin" fit s.txt > out 2> err || fail "status $?"
  [ -s err ] && fail "stderr: $(cat err)"
  for want in "n 3000" "bins 50" "DPA_CUT (0.99 quantile)" "headline: maximum likelihood (mle)" "level T=1000 " "SERROR" "RERROR" "L2 norm" \
              "INFO 1 (sum of squares converged)" "residual evaluations" "ls" "mle" "lmom"; do
    grep -qF "$want" out || fail "report lacks '$want': $(cat out)"
  done
  # A failed file is named once, on standard error.
  "$bin" fit missing.txt s.txt > out 2> err; [ $? = 1 ] || fail "status with a missing file"
  grep -q missing out && fail "stdout names the failed file: $(cat out)"
  [ "$(grep -c missing err)" = 1 ] || fail "stderr: $(cat err)"
  head -1 out | grep -qx s.txt || fail "report of s.txt: $(head -1 out)"
  ;;
json)
  head -200 s.txt > a.txt
  printf '1\n2\nabc\n' > bad.txt
  "$bin" fit --json r.jsonl --quiet --level 20 a.txt missing.txt bad.txt s.txt > out 2> err
  [ $? = 1 ] || fail "status for failed files"
  [ -s out ] && fail "--quiet printed $(cat out)"
  grep -qx "missing.txt: No such file or directory" err || fail "stderr: $(cat err)"
  grep -qx "bad.txt:3: 'abc' is not a number" err || fail "stderr: $(cat err)"
  $py - r.jsonl <<'PY' || fail "JSON check"
import json, sys
rows = [json.loads(l) for l in open(sys.argv[1])]
assert [r["file"] for r in rows] == ["a.txt", "missing.txt", "bad.txt", "s.txt"], rows
assert [r["ok"] for r in rows] == [True, False, False, True]
assert rows[2]["error"] == "bad.txt:3: 'abc' is not a number", rows[2]
keys = ["file", "ok", "n", "min", "max", "bins", "width", "m", "ls", "mle", "lmom", "headline"]
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
PY
  ;;
svg)
  "$bin" fit --quiet --svg p.svg s.txt || fail "status $?"
  xmllint --noout p.svg || fail "invalid SVG"
  [ "$(stat -c %s p.svg)" -lt 300000 ] || fail "SVG of $(stat -c %s p.svg) bytes"
  "$bin" fit --quiet --svg p.svg s.txt s.txt 2> err
  [ $? = 2 ] || fail "--svg with two inputs accepted"
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
  "$bin" fit --json - s.txt | sed 's/"file":"[^"]*"//' > want
  "$bin" fit --json - --column 3 --sep ';' c.txt | sed 's/"file":"[^"]*"//' > got
  cmp -s want got || fail "column 3 of ';' fields differs"
  cat s.txt | "$bin" fit --json - - | sed 's/"file":"[^"]*"//' > got
  cmp -s want got || fail "standard input differs"
  printf '1;x;2\n3;y\n' > short.txt
  "$bin" fit --quiet --column 3 --sep ';' short.txt 2> err
  grep -qx "short.txt:2: no value in column 3" err || fail "missing field: $(cat err)"
  ;;
threads)
  head -300 s.txt > a.txt
  for t in 1 2 5; do
    "$bin" fit --json - --threads $t --bootstrap 99 --seed 7 a.txt s.txt a.txt > j$t || fail "status"
  done
  cmp -s j1 j2 && cmp -s j1 j5 || fail "results depend on --threads"
  "$bin" fit --json - --bootstrap 99 --seed 8 a.txt > j8
  cmp -s <(head -1 j1) j8 && fail "the seed changes nothing"
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
*) fail "unknown check $check" ;;
esac
echo "ok $check"
