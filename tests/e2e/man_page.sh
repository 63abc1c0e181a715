#!/usr/bin/env bash
# The manual page lists every option of `fit` and `idf` as --help does: the
# lines between its marks must be what `korvalinde fit --man` and
# `korvalinde idf --man` write from the option tables. With --update the
# page is rewritten so.
#   man_page.sh <korvalinde binary> <source dir> [--update]
set -u
bin=$1 page=$2/doc/korvalinde.1 update=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
"$bin" fit --man > "$work/fit" && "$bin" idf --man > "$work/idf" || fail "--man"
for c in fit idf; do
  [ "$(grep -c "^\.\\\\\" $c options \(begin\|end\)$" "$page")" = 2 ] || fail "no marks for $c"
done
awk -v fit="$work/fit" -v idf="$work/idf" '
  /^\.\\" (fit|idf) options begin$/ { print; f = ($2 == "fit") ? fit : idf
    while ((getline line < f) > 0) print line; close(f); skip = 1; next }
  /^\.\\" (fit|idf) options end$/ { skip = 0 }
  !skip { print }' "$page" > "$work/page"
if [ "$update" = --update ]; then
  cp "$work/page" "$page"
  exit 0
fi
diff "$page" "$work/page" > "$work/diff" ||
  fail "doc/korvalinde.1 differs from the option tables (run tests/e2e/man_page.sh BIN SRC --update): $(head -20 "$work/diff")"
# Every option --help names is in the page.
for c in fit idf; do
  for o in $("$bin" $c --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -qF -- "\\fB$(printf '%s' "$o" | sed 's/-/\\-/g')\\fR" "$page" || fail "$c $o missing from the page"
  done
done
