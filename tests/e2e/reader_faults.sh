#!/usr/bin/env bash
# End-to-end runs of `korvalinde fit` on what the readers make of lines and
# fields: headers, byte-order marks, quotes, separators, line ends.
#   reader_faults.sh <korvalinde binary> <check>
set -u
bin=$1 check=$2
py=/usr/bin/python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fail() { echo "FAIL: $*"; exit 1; }
# n FILE ARGS...: the "n" of the first JSON line of a fit, or the exit status.
n() { local f=$1; shift; "$bin" fit --methods lmom --quiet --json - "$@" "$f" 2> err | head -1 |
  grep -o '"n":[0-9]*' || echo "status ${PIPESTATUS[0]}: $(cat err)"; }
# refused WANT FILE ARGS...: the fit fails with exactly the message WANT.
refused() { local want=$1 f=$2; shift 2; "$bin" fit --quiet --json /dev/null "$@" "$f" 2> err &&
  fail "$f $*: exit 0"; [ "$(cat err)" = "$want" ] || fail "$f $*: '$(cat err)', not '$want'"; }
dates() { for d in 01 02 03 04; do echo "2000-01-$d$1$((10#$d * 3 % 7))"; done; }

case $check in
header_numbers)
  # A first line that looks like a number is data, refused or not; a name
  # is a header, also with digits in it.
  for first in 1e400 -1e400 inf Infinity 0x10 1_000 12.5.3 1e '$5' 5% -; do
    printf '%s\n5\n3\n8\n' "$first" > f.txt
    refused "f.txt:1: '$first' is not a number" f.txt
  done
  printf 'Q2_m3s\n5\n3\n8\n' > h.txt
  [ "$(n h.txt)" = '"n":3' ] || fail "header name: $(n h.txt)"
  { echo "2000-01-01,1e400"; dates ,; } > d.csv
  refused "d.csv:1:2: '1e400' is not a number" d.csv --time 1 --column 2
  # A time in the time column is no header, whatever the value field holds.
  { echo "2000-01-01,abc"; dates ,; } > d.csv
  refused "d.csv:1:2: 'abc' is not a number" d.csv --time 1 --column 2
  ;;
bom)
  printf '\xef\xbb\xbf1\n2\n5\n' > b.txt
  [ "$(n b.txt)" = '"n":3' ] || fail "plain file: $(n b.txt)"
  [ "$(cat b.txt | n -)" = '"n":3' ] || fail "plain pipe: $(cat b.txt | n -)"
  { printf '\xef\xbb\xbftime,value\n'; dates ,; } > b.csv
  [ "$(n b.csv --time time --column value)" = '"n":4' ] || fail "dated: $(n b.csv --time time --column value)"
  ;;
quotes)
  # Names with quotes, separators and blanks, quoted by Python's csv module
  # (RFC 4180): each station is its own series under its own name.
  $py - <<'PY'
import csv, random
random.seed(5)
names = ['Foo "x", north', 'Foo "x", south', '"', '""', ' a , b ', 'plain', 'q"']
with open("q.csv", "w", newline="") as f:
    w = csv.writer(f, lineterminator="\n")
    w.writerow(["time", "value", "station"])
    for day in range(1, 29):
        for s in names:
            w.writerow(["2000-02-%02d" % day, "%.2f" % random.uniform(1, 9), s])
with open("want", "w") as f:
    f.write("".join(s + "\n" for s in names))
PY
  "$bin" fit --time time --column value --by station --methods lmom --quiet --json - q.csv > out 2> err ||
    fail "status $?: $(cat err)"
  $py - <<'PY' || fail "groups: $(cat out)"
import json
got = [json.loads(l)["group"] for l in open("out")]
want = open("want").read().splitlines()
assert got == want and all(json.loads(l)["n"] == 28 for l in open("out")), got
PY
  printf 'time,value,station\n2000-01-01,1,"a\n' > open.csv
  refused "open.csv:2:3: a quoted field without its closing quote" open.csv --time time --column value --by station
  printf 'time,value\n2000-01-01,"1" 2\n' > after.csv
  refused "after.csv:2:2: text after a quoted field's closing quote" after.csv --time time --column value
  ;;
separators)
  # --sep ' ': a run of blanks is one separator, from a file and a pipe.
  printf '7  1\n7 2\n\t7 \t  5 \n7 3\n' > sp.txt
  [ "$(n sp.txt --column 2 --sep ' ')" = '"n":4' ] || fail "file: $(n sp.txt --column 2 --sep ' ')"
  [ "$(n - --column 2 --sep ' ' < sp.txt)" = '"n":4' ] || fail "pipe: $(n - --column 2 --sep ' ' < sp.txt)"
  { echo "time value"; dates '   '; } > sp.csv
  [ "$(n sp.csv --time 1 --column 2 --sep ' ')" = '"n":4' ] || fail "dated --sep ' '"
  # Without --sep the dated reader takes the header's separator.
  { printf 'time\tvalue\n'; dates '\t' | sed 's/\\t/\t/'; } > t.tsv
  [ "$(n t.tsv --time time --column value)" = '"n":4' ] || fail "tabs: $(n t.tsv --time time --column value)"
  [ "$(n sp.csv --time time --column value)" = '"n":4' ] || fail "blanks: $(n sp.csv --time time --column value)"
  ;;
duplicates)
  # An allowed duplicate is no fault: the bad line after it is reported.
  printf 'time,value\n2000-01-01,1\n2000-01-01,2\n2000-01-02,3\n2000-01-03,4\n2000-01-04,abc\n' > db.csv
  for rule in max first last sum keep; do
    refused "db.csv:6:2: 'abc' is not a number" db.csv --time time --column value --duplicates $rule
  done
  ;;
columns)
  printf 'time,value,x,value\n2000-01-01,1,0,10\n2000-01-02,2,0,20\n' > tw.csv
  refused "tw.csv:1: the column name 'value' is ambiguous: columns 2 and 4" tw.csv --time time --column value
  [ "$(n tw.csv --time time --column 4)" = '"n":2' ] || fail "by number: $(n tw.csv --time time --column 4)"
  printf 'time;value\n2000-01-01;1\n' > semi.csv
  refused "semi.csv:1: no column named 'value' (the line is one field: --sep names the separator)" semi.csv --time time --column value
  # A date that does not exist blames the field at fault.
  printf 'y,m,d,v\n2000,2,28,1\n2000,2,30,2\n' > ymd.csv
  refused "ymd.csv:3:3: no such date: day 30 of month 2" ymd.csv --time y,m,d --column v
  printf 'y,m,d,v\n2000,13,1,1\n' > ymd.csv
  refused "ymd.csv:2:2: no such date: month 13" ymd.csv --time y,m,d --column v
  ;;
line_ends)
  # Carriage returns alone end lines too.
  { echo "time,value"; dates ,; } | tr '\n' '\r' > cr.csv
  [ "$(n cr.csv --time time --column value)" = '"n":4' ] || fail "dated CR: $(n cr.csv --time time --column value)"
  printf '1\r2\r5\r4\r' > cr.txt
  [ "$(n cr.txt)" = '"n":4' ] || fail "plain CR: $(n cr.txt)"
  refused "-:1: '1?2?5?4' is not a number (a carriage return within a line: lines end with a line feed)" - < cr.txt
  ;;
spread)
  # Values whose spread overflows say so, not that they are all equal.
  printf '1\n1e308\n5\n3\n' > big.txt
  for dist in gumbel gev; do
    "$bin" fit --methods lmom --dist $dist --quiet --json /dev/null big.txt 2> err
    grep -q "L-moments overflow: the values spread too widely (1 to 1e+308)" err || fail "$dist: $(cat err)"
  done
  ;;
*) fail "unknown check $check" ;;
esac
