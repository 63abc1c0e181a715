#!/usr/bin/env bash
# The pictures in a real browser window of 1280 x 900: headless Chromium
# loads HTML reports of the eight station series and of a sample of 10^6
# values, with a script that measures every label as laid out. No two labels
# may overlap, every label must lie inside its picture, and every picture
# must fit the window's width.
#   picture_layout.sh <korvalinde binary> <source dir> <chromium>
set -u
bin=$1 src=$2 chromium=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fail() { echo "FAIL: $*"; exit 1; }

# Two labels overlap when their boxes, less a pixel on each side, meet. A
# label and its white halo (the same text at the same place) count as one.
cat > check.js <<'JS'
(() => {
  const problems = [];
  const width = window.innerWidth;
  const svgs = [...document.querySelectorAll("svg")];
  svgs.forEach((svg, k) => {
    const frame = svg.getBoundingClientRect();
    const name = `picture ${k + 1}`;
    if (frame.width < 100) problems.push(`${name}: not drawn`);
    if (frame.left < 0 || frame.right > width) problems.push(`${name}: ${frame.left}..${frame.right} outside ${width} px`);
    const seen = new Set();
    const labels = [];
    for (const t of svg.querySelectorAll("text")) {
      const r = t.getBoundingClientRect();
      const key = `${Math.round(r.left)},${Math.round(r.top)},${t.textContent}`;
      if (seen.has(key) || r.width === 0) continue;
      seen.add(key);
      labels.push({ text: t.textContent, r });
      if (r.left < frame.left - 0.5 || r.right > frame.right + 0.5 ||
          r.top < frame.top - 0.5 || r.bottom > frame.bottom + 0.5)
        problems.push(`${name}: "${t.textContent}" leaves the picture`);
    }
    for (let i = 0; i < labels.length; ++i)
      for (let j = i + 1; j < labels.length; ++j) {
        const a = labels[i].r, b = labels[j].r;
        if (a.left + 1 < b.right - 1 && b.left + 1 < a.right - 1 &&
            a.top + 1 < b.bottom - 1 && b.top + 1 < a.bottom - 1)
          problems.push(`${name}: "${labels[i].text}" overlaps "${labels[j].text}"`);
      }
    if (labels.length < 30) problems.push(`${name}: only ${labels.length} labels`);
  });
  const out = document.createElement("pre");
  out.id = "layout";
  out.textContent = `pictures ${svgs.length}\n` + problems.join("\n");
  document.body.appendChild(out);
})();
JS

# check NAME EXPECTED-PICTURES KORVALINDE-ARGS...: the HTML report with the
# script appended, as Chromium lays it out.
check() {
  local name=$1 pictures=$2
  shift 2
  "$bin" fit --quiet --html "$name.html" "$@" 2> "$name.err" || fail "$name: $(cat "$name.err")"
  { cat "$name.html"; printf '<script>\n'; cat check.js; printf '</script>\n'; } > "$name.page.html"
  timeout 180 "$chromium" --headless --no-sandbox --disable-gpu --user-data-dir="$work/profile" \
    --window-size=1280,900 --dump-dom "file://$work/$name.page.html" > "$name.dom" 2> /dev/null ||
    fail "$name: chromium status $?"
  local report
  report=$(sed -n '/<pre id="layout">/,/<\/pre>/p' "$name.dom" | sed 's/<[^>]*>//g; s/&quot;/"/g; s/&amp;/\&/g')
  [ -n "$report" ] || fail "$name: the layout script did not run"
  [ "$(printf '%s\n' "$report" | head -1)" = "pictures $pictures" ] ||
    fail "$name: $(printf '%s\n' "$report" | head -1), expected $pictures"
  problems=$(printf '%s\n' "$report" | sed 1d | sed '/^$/d')
  [ -z "$problems" ] || fail "$name:"$'\n'"$problems"
  echo "ok $name"
}

stations=("$src"/examples/stations/*.txt)
[ ${#stations[@]} = 8 ] || fail "expected the eight station series, found ${#stations[@]}"
check stations 8 "${stations[@]}"
check stations-gev 8 --dist gumbel,gev --level 100 --periods 2,5,10,20,50,100,200,500,1000 \
  --units "thousands of cubic feet per second" --confidence 0.9 "${stations[@]}"

# A Gumbel sample of 10^6 values with a long title.
awk 'BEGIN { srand(7); for (i = 0; i < 1000000; ++i) printf "%.6f\n", 1e4 - 2500 * log(-log(rand() * 0.999998 + 1e-6)) }' \
  > million.txt
check million 1 --dist gumbel,gev --title "A Gumbel sample of one million values drawn with location 10000 and scale 2500, with a title long enough to be shortened in the picture" \
  --units mm million.txt
