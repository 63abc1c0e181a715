#!/usr/bin/env bash
# End-to-end runs of `korvalinde fit` on inputs that could make it read,
# hold or walk far more than they need, or that change under it.
#   limits.sh <korvalinde binary> <check> [sanitized]
# With "sanitized" the memory figures are not checked (the sanitizers
# reserve and keep memory of their own).
set -u
bin=$1 check=$2 sanitized=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fail() { echo "FAIL: $*"; exit 1; }
values() { awk -v n="$1" 'BEGIN { x = 7; for (i = 0; i < n; i++) { x = (16807 * x) % 2147483647; printf "%.4f\n", 10 - 2 * log(-log(x / 2147483647)) } }'; }
# within LIMIT_KB FILE CMD...: runs CMD with its standard error in FILE,
# within 5 s and (unsanitized) LIMIT_KB of resident memory; the status.
within() {
  local limit=$1 file=$2; shift 2
  /usr/bin/time -f '%e %M' -o usage timeout 60 "$@" 2> "$file"
  local rc=$? s kb
  read -r s kb < <(tail -1 usage)
  awk -v s="$s" 'BEGIN { exit !(s <= 5) }' || fail "$* took $s s"
  [ -n "$sanitized" ] || [ "$kb" -le "$limit" ] || fail "$* took $kb KB"
  return $rc
}

case $check in
endless_line)
  # 3000 values, then 1 GiB of NULs (sparse): the reading stops at the
  # first line that can not be read, in bounded time and memory.
  values 3000 > sp.txt
  truncate -s 1G sp.txt
  within 200000 err "$bin" fit --threads 2 --quiet --json /dev/null sp.txt
  [ $? = 1 ] && grep -q "^sp.txt:3001: '????" err || fail "plain: $(cat err)"
  { echo time,value; values 3000 | awk '{ printf "2000-01-01T00:%02d:%02d,%s\n", NR / 60 % 60, NR % 60, $1 }'; } > sp.csv
  truncate -s 1G sp.csv
  within 200000 err "$bin" fit --threads 2 --time time --column value --quiet --json /dev/null sp.csv
  [ $? = 1 ] && grep -qx "sp.csv:3002: line longer than 16777216 bytes" err || fail "dated: $(cat err)"
  # Through a pipe alike.
  within 200000 err sh -c "cat sp.csv | '$bin' fit --time time --column value --quiet --json /dev/null -"
  grep -qx -- "-:3002: line longer than 16777216 bytes" err || fail "dated pipe: $(cat err)"
  ;;
far_years)
  # YEAR,MONTH,DAY columns hold years as a time column does, 0 to 9999;
  # the blocks between the farthest of them stay few.
  printf 'y,m,d,v\n1,1,1,1\n1,1,2,2\n1,1,3,5\n999999999,4,1,3\n' > far.csv
  within 100000 err "$bin" fit --time y,m,d --column v --block month --quiet --json /dev/null far.csv
  [ $? = 1 ] && grep -qx "far.csv:5:1: year 999999999 not in 0 to 9999" err || fail "far year: $(cat err)"
  { echo y,m,d,v; for y in 0 1 9998 9999; do for k in 1 2 3; do echo "$y,4,$k,$((y % 7 + k))"; done; done; } > span.csv
  within 300000 err "$bin" fit --time y,m,d --column v --block month --min-coverage 0 --quiet --json j.json span.csv
  # Months 0000-04 to 9999-04, four of them kept.
  grep -q '"n_blocks":4,' j.json && [ "$(grep -o '"block":' j.json | wc -l)" = $((9999 * 12 + 1 - 4)) ] ||
    fail "span: $(head -c 300 j.json) $(cat err)"
  ;;
stdin_offset)
  # The dated reader reads standard input from where it stands.
  printf 'junk\ntime,value\n2000-01-01,1\n2000-01-02,2\n2000-01-03,5\n' > off.csv
  { read -r _; "$bin" fit --time time --column value --methods lmom --quiet --json - -; } < off.csv > j.json ||
    fail "after a line: $(cat j.json)"
  grep -q '"n":3,' j.json || fail "after a line: $(cat j.json)"
  { cat > /dev/null; "$bin" fit --time time --column value --quiet --json /dev/null -; } < off.csv 2> err
  [ $? = 1 ] && grep -qx -- "-: no data" err || fail "at the end: $(cat err)"
  ;;
truncated)
  # A file cut short while it is read: a result of one of its states or
  # "changed while it was read", never a crash, and no temporary left.
  values 3000000 > big.txt
  { echo time,value; awk '{ printf "2000-01-01T00:00:%02d,%s\n", NR % 60, $1 }' big.txt; } > big.csv
  for args in "big.txt" "--time time --column 2 --duplicates max big.csv"; do
    for attempt in 1 2 3; do
      cp "${args##* }" t.in
      opts=${args% *}; [ "$opts" = "$args" ] && opts=
      # shellcheck disable=SC2086
      "$bin" fit --threads 2 --methods ls --quiet --json j.json $opts t.in 2> err &
      pid=$!
      sleep 0.0$attempt
      truncate -s 100000 t.in
      wait $pid
      rc=$?
      [ $rc -le 1 ] || fail "$args: status $rc: $(cat err)"
      [ $rc = 0 ] || grep -qE "^t.in(: changed while it was read|:[0-9]+:)" err || fail "$args: $(cat err)"
      [ -z "$(ls -A | grep '^\.korvalinde-')" ] || fail "$args: temporaries left"
    done
  done
  ;;
*)
  fail "unknown check $check"
  ;;
esac
