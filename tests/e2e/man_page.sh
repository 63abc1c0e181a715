#!/usr/bin/env bash
# The manual page lists every option of `fit`, `idf` and `region` as --help
# does: the lines between its marks must be what `korvalinde COMMAND --man`
# writes from the option tables. With --update the page is rewritten so.
#   man_page.sh <korvalinde binary> <source dir> [--update]
set -u
bin=$1 page=$2/doc/korvalinde.1 update=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
for c in fit idf region; do
  "$bin" $c --man > "$work/$c" || fail "$c --man"
done
for c in fit idf region; do
  [ "$(grep -c "^\.\\\\\" $c options \(begin\|end\)$" "$page")" = 2 ] || fail "no marks for $c"
done
awk -v dir="$work" '
  /^\.\\" (fit|idf|region) options begin$/ { print; f = dir "/" $2
    while ((getline line < f) > 0) print line; close(f); skip = 1; next }
  /^\.\\" (fit|idf|region) options end$/ { skip = 0 }
  !skip { print }' "$page" > "$work/page"
if [ "$update" = --update ]; then
  cp "$work/page" "$page"
  exit 0
fi
diff "$page" "$work/page" > "$work/diff" ||
  fail "doc/korvalinde.1 differs from the option tables (run tests/e2e/man_page.sh BIN SRC --update): $(head -20 "$work/diff")"
# Every option --help names is in the page.
for c in fit idf region; do
  for o in $("$bin" $c --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -qF -- "\\fB$(printf '%s' "$o" | sed 's/-/\\-/g')\\fR" "$page" || fail "$c $o missing from the page"
  done
done
