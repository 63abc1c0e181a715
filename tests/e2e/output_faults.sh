#!/usr/bin/env bash
# Outputs, signals, option values and the picture helper under hostile use.
#   output_faults.sh <korvalinde binary> <source dir> <check>
# Exit 77: the check can not run here (ctest shows it as skipped).
set -u
bin=$1 src=$2 check=$3
py=/usr/bin/python3
work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
chmod 755 "$work"
cd "$work" || exit 1
cp "$src/examples/sample.txt" s.txt
fail() { echo "FAIL: $*"; exit 1; }
no_temporaries() { [ -z "$(ls -A "${1:-.}" | grep korvalinde-)" ] || fail "$2: temporaries left: $(ls -A "${1:-.}")"; }

case $check in
files)
  # A directory that takes no new file: outputs are refused before the fit,
  # never truncated in place, and the old files stay.
  mkdir ro && cp s.txt ro/ && printf '1\n1\n1\n' > ro/flat.txt && cp "$bin" ro/k
  echo "OLD SVG" > ro/out.svg; echo "OLD JSON" > ro/out.json
  as=()
  if [ "$(id -u)" = 0 ]; then
    chown -R nobody ro && as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  fi
  chmod 555 ro
  if (cd ro && "${as[@]}" sh -c ': > probe' 2>/dev/null) || ! (cd ro && "${as[@]}" ./k --version) > /dev/null 2>&1; then
    echo "skipped: no user here is stopped by a read-only directory"; exit 77
  fi
  for input in s.txt flat.txt; do
    (cd ro && "${as[@]}" ./k fit --quiet --json out.json --svg out.svg $input 2> ../err); st=$?
    [ $st = 1 ] || fail "read-only directory, $input: status $st"
    grep -qx "korvalinde: can not create a file beside out.json: Permission denied" err ||
      fail "read-only directory: $(cat err)"
    [ "$(cat ro/out.svg)$(cat ro/out.json)" = "OLD SVGOLD JSON" ] || fail "old outputs changed ($input)"
  done
  (cd ro && "${as[@]}" ./k fit --quiet --json new.json s.txt 2> ../err)
  grep -qx "korvalinde: can not write new.json: Permission denied" err || fail "new file: $(cat err)"
  chmod 755 ro
  # --maxima keeps its old file when there is no block maximum to write.
  printf 'time,value\n2000-01-01,1\n2000-01-02,3\n2001-01-01,5\n' > r.csv
  "$bin" fit --quiet --time time --column value --block year --min-coverage 0 --maxima m.csv r.csv
  cp m.csv m.old
  for args in "--column valu r.csv" "--column value missing.csv"; do
    "$bin" fit --quiet --time time --block year --maxima m.csv $args 2> /dev/null
    cmp -s m.csv m.old || fail "--maxima replaced by: $args"
  done
  # A dangling link is its target: onto another output it is refused, alone
  # it writes the target and stays a link.
  ln -s tgt.json dl.json
  "$bin" fit --quiet --json dl.json --svg tgt.json s.txt 2> err; [ $? = 2 ] || fail "dangling link onto --svg"
  grep -q "tgt.json is also the --json file" err || fail "dangling link: $(cat err)"
  mkdir sub && ln -s ../tgt.json sub/up.json
  "$bin" fit --quiet --json sub/up.json s.txt || fail "write through a dangling link"
  [ -L sub/up.json ] && grep -q '"file":"s.txt"' tgt.json || fail "dangling link: $(ls -l . sub)"
  no_temporaries . links; no_temporaries sub links
  ;;
signals)
  # Every signal that ends the run removes the temporaries, leaves the old
  # output and ends the run by that signal.
  ulimit -c 0
  "$bin" fit --quiet --json o.json s.txt; cp o.json old.json
  for sig in QUIT ALRM USR1 USR2 XCPU VTALRM PROF; do
    # A background job starts with SIGINT and SIGQUIT ignored: give the defaults back.
    $py -c 'import os, signal, sys
for s in (signal.SIGINT, signal.SIGQUIT): signal.signal(s, signal.SIG_DFL)
os.execv(sys.argv[1], sys.argv[1:])' "$bin" fit --quiet --bootstrap 20000 --json o.json --svg o.svg s.txt & pid=$!
    sleep 0.5; kill -$sig $pid; wait $pid; st=$?
    [ $st = $((128 + $(kill -l $sig))) ] || fail "SIG$sig: status $st"
    cmp -s o.json old.json || fail "SIG$sig changed the old JSON file"
    [ -e o.svg ] && fail "SIG$sig left a picture"
    no_temporaries . "SIG$sig"
  done
  ;;
options)
  # Real-valued options take numbers, not NaN; refusals say plainly what is
  # wanted; a value option does not take the next option's name.
  usage() {  # usage <expected message> <options...>
    local want=$1; shift
    "$bin" fit "$@" s.txt > /dev/null 2> err; [ $? = 2 ] || fail "accepted: $*"
    [ "$(head -1 err)" = "korvalinde: $want" ] || fail "$*: $(head -1 err)"
  }
  pot=(--pot --threshold-quantile 0.99)
  for opt in --per-year --min-coverage --threshold-quantile --threshold --level --prob --confidence; do
    usage "$opt: 'nan' is not a number" $opt nan
  done
  usage "--per-year: must be positive and finite" "${pot[@]}" --per-year 0
  usage "--per-year: must be positive and finite" "${pot[@]}" --per-year inf
  usage "--run: must be at least 0" "${pot[@]}" --per-year 10 --run -1
  usage "--min-coverage: must be in [0, 1]" --min-coverage 1.5
  usage "--threshold-quantile: must be in [0, 1]" --pot --per-year 10 --threshold-quantile -0.1
  usage "--threshold-range: LO:HI:K expected, LO < HI, 2 <= K <= 1000" "${pot[@]}" --per-year 10 \
    --threshold-range nan:1:3
  mkdir opt
  (cd opt && "$bin" fit --json --quiet ../s.txt > /dev/null 2> ../err); [ $? = 2 ] || fail "--json --quiet"
  grep -qx "korvalinde: --json: a value expected, not the option --quiet" err || fail "$(cat err)"
  usage "--title: a value expected, not the option --units" --title --units x
  [ -z "$(ls -A opt)" ] || fail "--json --quiet wrote $(ls -A opt)"
  "$bin" fit --quiet --json=--quiet s.txt && [ -s ./--quiet ] || fail "--json=--quiet names a file"
  # The smallest normal --per-year is a positive number; a threshold range
  # wider than the largest double has its ends and middle.
  "$bin" fit "${pot[@]}" --per-year 1e-308 --quiet s.txt 2> err; [ $? = 2 ] && fail "--per-year 1e-308: $(cat err)"
  "$bin" fit "${pot[@]}" --per-year 100 --threshold-range=-1e308:1e308:3 --json - --quiet s.txt > j ||
    fail "wide threshold range: $(cat j)"
  $py -c 'import json, sys; t = [d["threshold"] for d in json.load(open(sys.argv[1]))["pot"]["diagnostics"]]
assert t == [-1e308, 0.0, 1e308], t' j || fail "wide threshold range"
  ;;
helper)
  # The picture helper failing in any way is named, and never hangs the run;
  # the old picture stays.
  mkdir hb && cp "$bin" hb/korvalinde
  echo "OLD PNG" > p.png
  try() {  # try <helper's shell body> <expected message's end>
    printf '#!/bin/sh\n%s\n' "$1" > hb/korvalinde-image; chmod +x hb/korvalinde-image
    KORVALINDE_IMAGE_TIMEOUT=1 timeout 30 hb/korvalinde fit --quiet --png p.png s.txt 2> err; st=$?
    [ $st = 1 ] || fail "helper '$1': status $st"
    [ "$(cat err)" = "korvalinde: can not draw the png picture: $PWD/hb/korvalinde-image $2" ] ||
      fail "helper '$1': $(cat err)"
    [ "$(cat p.png)" = "OLD PNG" ] || fail "helper '$1' changed the old picture"
  }
  try 'kill -SEGV $$' "was killed by signal 11 (Segmentation fault)"
  try 'exit 0' "ended without reading the picture"  # the picture (120 KB) outgrows a pipe
  try 'cat > /dev/null' "wrote no picture"
  try 'exit 3' "ended with status 3"
  try 'sleep 20' "took longer than 1 s and was stopped"
  try 'exec > /dev/null 2>&1; sleep 20' "took longer than 1 s and was stopped"
  # What the helper says is passed on as it is.
  printf '#!/bin/sh\necho "korvalinde: can not draw the png picture: no fonts" >&2; exit 1\n' > hb/korvalinde-image
  hb/korvalinde fit --quiet --png p.png s.txt 2> err
  [ "$(cat err)" = "korvalinde: can not draw the png picture: no fonts" ] || fail "helper's message: $(cat err)"
  ;;
*) fail "unknown check $check" ;;
esac
echo "ok $check"
