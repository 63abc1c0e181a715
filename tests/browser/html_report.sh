#!/usr/bin/env bash
# The HTML report in a real browser: headless Chromium loads the page that
# `korvalinde fit --html` writes; its screenshot must not be blank, its
# console must stay silent, and its text must hold the JSON's numbers.
#   html_report.sh <korvalinde binary> <source dir> <chromium>
set -u
bin=$1 src=$2 chromium=$3
py=/usr/bin/python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fail() { echo "FAIL: $*"; exit 1; }
browse() {  # browse PAGE ARGS...: the page in a fresh profile, its log in log.txt
  local page=$1
  shift
  timeout 120 "$chromium" --headless --no-sandbox --disable-gpu --user-data-dir="$work/profile" \
    --enable-logging=stderr --v=0 --window-size=1280,900 "$@" "file://$work/$page" 2> log.txt
}

cp "$src/examples/sample.txt" s.txt
head -40 s.txt > short.txt
printf '1\n2\nx\n' > bad.txt
"$bin" fit --quiet --json r.jsonl --html r.html s.txt short.txt bad.txt 2> /dev/null
[ $? = 1 ] || fail "status with a bad file"
# Self-contained: nothing fetched, no scripts.
grep -Eiq '<script|<link|<img|<iframe|src=|url\([^#]|@import|href="(https?:|//)' r.html &&
  fail "the page refers outside itself"

# The console check sees a console message when there is one.
printf '<!DOCTYPE html><p>x</p><script>console.error("boom")</script>\n' > noisy.html
browse noisy.html --dump-dom > /dev/null
grep -q 'CONSOLE.*boom' log.txt || fail "console messages are not seen: $(cat log.txt)"

browse r.html --dump-dom > dom.html || fail "chromium status $?"
grep -q CONSOLE log.txt && fail "console: $(grep CONSOLE log.txt)"
browse r.html --screenshot="$work/shot.png" > /dev/null || fail "screenshot status $?"
grep -q CONSOLE log.txt && fail "console: $(grep CONSOLE log.txt)"

$py - r.jsonl dom.html shot.png <<'PY' || fail "page check"
import html, json, re, struct, sys, zlib
rows = [json.loads(l) for l in open(sys.argv[1])]
text = html.unescape(re.sub(r"<[^>]+>", " ", open(sys.argv[2]).read()))
def g(v, digits=6):
    return "%.*g" % (digits, v)
checked = 0
for r in rows:
    assert r["file"] in text, r["file"]
    if not r["ok"]:
        assert r["error"] in text, r["error"]
        continue
    # The report keeps its lines (no newline turned into "?").
    assert "\n  n %d   min " % r["n"] in text, r["file"]
    for m in ("mle", "lmom", "ls"):
        if m not in r:
            continue
        f = r[m]
        numbers = [f["a"], f["b"], f["quantile"]["value"], f["gof"]["ks"], f["gof"]["ad"]]
        numbers += [x["value"] for x in f["return_levels"]] + [x["lower"] for x in f["return_levels"]]
        for v in numbers:
            assert g(v) in text, (r["file"], m, v, g(v))
            checked += 1
        for k in ("ks_p", "cvm_p", "ad_p"):
            assert g(f["gof"][k], 3) in text, (m, k, f["gof"][k])
assert checked > 50, checked

# The screenshot: decode the PNG's rows and count the distinct pixels.
data = open(sys.argv[3], "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n"
pos, idat, header = 8, b"", None
while pos < len(data):
    length, kind = struct.unpack(">I4s", data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + length]
    if kind == b"IHDR":
        header = struct.unpack(">IIBBBBB", body)
    elif kind == b"IDAT":
        idat += body
    pos += 12 + length
width, height, depth, colour = header[:4]
assert depth == 8 and colour in (2, 6), header
bpp = 3 if colour == 2 else 4
raw, stride = zlib.decompress(idat), width * bpp
rows_, prev = [], bytearray(stride)
for y in range(height):
    kind = raw[y * (stride + 1)]
    line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
    for i in range(stride):
        left = line[i - bpp] if i >= bpp else 0
        up, ul = prev[i], prev[i - bpp] if i >= bpp else 0
        if kind == 1: line[i] = (line[i] + left) & 255
        elif kind == 2: line[i] = (line[i] + up) & 255
        elif kind == 3: line[i] = (line[i] + (left + up) // 2) & 255
        elif kind == 4:
            p = left + up - ul
            pa, pb, pc = abs(p - left), abs(p - up), abs(p - ul)
            line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else ul)) & 255
    rows_.append(bytes(line))
    prev = line
pixels = {row[i:i + bpp] for row in rows_[::7] for i in range(0, stride, bpp * 7)}
assert len(pixels) > 20, "blank screenshot: %d colours" % len(pixels)
dark = sum(1 for row in rows_[::7] for i in range(0, stride, bpp * 7) if row[i] < 128)
assert dark > 100, "no text or lines drawn: %d dark pixels" % dark
print("checked", checked, "numbers,", len(pixels), "colours")
PY
# The page's width at a 1280 px window: a page of GEV fits at the default
# periods fits, its summary table with it; one of twenty periods still fits,
# its table scrolling inside its box. A script added to a copy measures the
# laid-out page into the dumped DOM.
measure='<script>const d=document.documentElement,t=document.querySelector("#summary table");document.body.dataset.widths=[innerWidth,d.scrollWidth,t.parentElement.clientWidth,t.scrollWidth].join(" ")</script></body>'
"$bin" fit --quiet --dist gumbel,gev --json g.jsonl --html g.html "$src"/examples/stations/sask_flood.txt \
  "$src"/examples/stations/venice_sealevel.txt s.txt || fail "gev page status"
"$bin" fit --quiet --gof-p none --periods 2,3,4,5,6,7,8,9,10,15,20,25,30,40,50,75,100,200,500,1000 \
  --dist gumbel,gev --html wide.html s.txt || fail "wide page status"
for page in g wide; do
  sed "s|</body>|$measure|" $page.html > m$page.html
  browse m$page.html --dump-dom > m$page.dom || fail "chromium status $?"
done
$py - g.jsonl g.html mg.dom mwide.dom <<'PY' || fail "page width or summary"
import html, json, re, sys
def widths(dom):
    w = re.search(r'data-widths="([0-9 ]+)"', open(dom).read())
    assert w, "no measure in " + dom
    return [int(x) for x in w.group(1).split()]
win, page, box, table = widths(sys.argv[3])
assert win == 1280 and page <= 1280 and table <= box <= 1280, ("default periods", win, page, box, table)
win, page, box, table = widths(sys.argv[4])
assert page <= 1280 and box <= 1280 and table > box, ("twenty periods", page, box, table)
# The summary shows each file's headline family and its levels with the
# headline interval: the profile one where it exists.
rows = [json.loads(l) for l in open(sys.argv[1])]
summary = open(sys.argv[2]).read().split('id="summary"')[1].split("</table>")[0]
cells = [html.unescape(re.sub(r"<[^>]+>", " ", row)).split() for row in summary.split("<tr>")[2:]]
for r, row in zip(rows, cells):
    h = r["headline"]
    fit = r["gev"][h["method"]] if h["dist"] == "gev" else r[h["method"]]
    assert ("GEV" if h["dist"] == "gev" else "Gumbel") in row and h["method"] in row, (r["file"], row)
    for l in fit["return_levels"]:
        lo, hi = (l["profile_lower"], l["profile_upper"]) if "profile_lower" in l else (l["lower"], l["upper"])
        want = ["%.6g" % l["value"], "[%s," % ("none" if lo is None else "%.6g" % lo),
                "%s]" % ("none" if hi is None else "%.6g" % hi)]
        assert " ".join(want) in " ".join(row), (r["file"], want, row)
assert rows[0]["headline"]["dist"] == "gev", "the Gumbel check's rejection leads with the GEV"
print("widths and summary ok")
PY
echo "ok html_report"
