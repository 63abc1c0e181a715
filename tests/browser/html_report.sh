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
echo "ok html_report"
