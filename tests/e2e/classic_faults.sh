#!/usr/bin/env bash
# Checks of the classic run on inputs that once went wrong: read errors,
# huge names, FIFOs and pipes as sample files, the sample on standard input,
# and the result file under concurrent runs, failed writes and signals.
#   classic_faults.sh <korvalinde binary> <sample file> <check>
set -u
bin=$1 sample=$2 check=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
cp "$sample" s.txt
fail() { echo "FAIL: $*"; exit 1; }
pad() { printf '%-100s\n' "$1"; }
cut_value() { head -1 "$1" | awk '{print $1}'; }

case $check in
read_error)
  printf "'/proc/self/mem' 50 0.99 n\n" | "$bin" > out 2> err; st=$?
  [ $st = 0 ] || fail "status $st"
  [ "$(cat out)" = "$(pad '-9500 READING ERROR in FITTING DATA')" ] || fail "stdout: $(cat out)"
  grep -q '^korvalinde: can not read sample file /proc/self/mem: ' err || fail "stderr: $(cat err)"
  ;;
long_names)
  # A 200 MB name in 100 MB of address space, for the sample and the result file.
  { printf "'"; head -c 200000000 /dev/zero | tr '\0' a; printf "' 50 0.99 n\n"; } |
    (ulimit -v 100000; "$bin") > out 2> err
  [ "$(cat out)" = "$(pad '-9900 CAN NOT OPEN FITTING DATA')" ] || fail "sample: $(head -c 300 out err)"
  { printf "s.txt 50 0.99 y\n'"; head -c 200000000 /dev/zero | tr '\0' b; printf "'\n"; } |
    (ulimit -v 100000; "$bin") > out 2> err
  [ "$(tail -1 out)" = "  Can not open file for WRITE" ] || fail "result: $(tail -c 300 out) $(cat err)"
  ;;
fifo)
  "$bin" < <(printf "s.txt 50 0.99 n\n") > want
  mkfifo f
  for i in 1 2 3 4 5 6 7 8 9 10; do
    (cat s.txt > f &)
    printf "f 50 0.99 n\n" | timeout 20 "$bin" > out || fail "FIFO run $i: status $?"
    cmp -s want out || fail "FIFO run $i differs"
  done
  printf "'/dev/fd/3' 50 0.99 n\n" | timeout 20 "$bin" 3< <(cat s.txt) > out || fail "pipe status"
  cmp -s want out || fail "/dev/fd/3 differs"
  ;;
stdin_sample)
  printf "s.txt 50 0.99 n\n" | "$bin" > want
  printf "'/dev/stdin' 50 0.99 n\n" > ctl
  cat ctl s.txt | "$bin" > out
  cmp -s want out || fail "pipe: $(head -2 out)"
  printf "'/dev/stdin' 50 0.99 y\nr.dat\n" > ctl
  cat ctl s.txt > both
  "$bin" < both > out
  [ "$(cut_value out)" = "$(cut_value want)" ] || fail "regular file: $(head -2 out)"
  [ -s r.dat ] || fail "no result file"
  ;;
result_atomic)
  printf "s.txt 50 0.99 y\nr.dat\n" | "$bin" > /dev/null
  cp r.dat want50
  head -1000 s.txt > t.txt
  printf "t.txt 20 0.99 y\nr.dat\n" | "$bin" > /dev/null
  cp r.dat want20
  for i in $(seq 20); do
    printf "s.txt 50 0.99 y\nr.dat\n" | "$bin" > o1 & printf "t.txt 20 0.99 y\nr.dat\n" | "$bin" > o2
    wait
    cmp -s r.dat want50 || cmp -s r.dat want20 || fail "spliced result file in try $i"
  done
  [ -z "$(ls -A | grep korvalinde-)" ] || fail "temporary files left: $(ls -A)"
  # Permission bits are kept; a symbolic link keeps pointing at the new file.
  chmod 640 r.dat
  ln -s r.dat link.dat
  printf "t.txt 20 0.99 y\nlink.dat\n" | "$bin" > /dev/null
  [ -L link.dat ] || fail "link replaced"
  cmp -s r.dat want20 || fail "link target not written"
  [ "$(stat -c %a r.dat)" = 640 ] || fail "mode $(stat -c %a r.dat)"
  ;;
result_write_fails)
  # A write that fails (file size limit) leaves the old file whole, the
  # report printed, and no closing line.
  printf "t 1\n" > r.dat
  (trap '' XFSZ; ulimit -f 1; printf "s.txt 50 0.99 y\nr.dat\n" | "$bin" | cat > out 2> err)
  [ "$(cat r.dat)" = "t 1" ] || fail "old file changed"
  grep -q DPA_CUT out || fail "report lost"
  grep -q "Fitting results data see" out && fail "closing line printed"
  [ -z "$(ls -A | grep korvalinde-)" ] || fail "temporary files left"
  # Killed by the signal while writing: the report is out already.
  (ulimit -f 1; printf "s.txt 50 0.99 y\nr.dat\n" | "$bin" | cat > out)
  grep -q DPA_CUT out || fail "report lost when killed"
  [ "$(cat r.dat)" = "t 1" ] || fail "old file changed when killed"
  [ -z "$(ls -A | grep korvalinde-)" ] || fail "temporary file left when killed"
  ;;
broken_pipe)
  { sleep 0.3; printf "s.txt 50 0.99 n\n" | "$bin"; echo $? > status; } | true
  sleep 0.5
  [ "$(cat status)" = 141 ] || fail "status $(cat status) for a closed pipe"
  ;;
tiny_scale)
  awk '{printf "%.6fE-100\n", $1}' s.txt > tiny.txt
  printf "tiny.txt 50 0.99 n\n" | "$bin" > out
  head -1 out | grep -q Infinity && fail "RERROR overflows: $(head -1 out)"
  [ "$(head -1 out | awk '{print $3}')" = "$(printf "s.txt 50 0.99 n\n" | "$bin" | head -1 | awk '{print $3}')" ] ||
    fail "RERROR differs: $(head -1 out)"
  ;;
restored)
  # The result file is the file standard output writes to: report, rows,
  # closing line, in that order.
  printf "s.txt 50 0.99 y\n'/dev/stdout'\n" | "$bin" > out
  printf "s.txt 50 0.99 y\nr.dat\n" | "$bin" > want
  { head -n -3 want; cat r.dat; tail -3 want; } | cmp -s - out || fail "/dev/stdout: $(head -3 out)"
  # An empty name, and a descriptor limit that leaves one for the result.
  printf "s.txt 50 0.99 y\n''\n" | "$bin" > out
  [ "$(tail -1 out)" = "  Can not open file for WRITE" ] || fail "empty name: $(tail -1 out)"
  rm r.dat
  printf "s.txt 50 0.99 y\nr.dat\n" | (
    for fd in $(ls /proc/$BASHPID/fd); do [ "$fd" -gt 2 ] && eval "exec $fd>&-"; done
    ulimit -n 4; exec "$bin") > out
  cmp -s out want && [ -s r.dat ] || fail "ulimit -n 4: $(tail -2 out)"
  # An endless first line is a reading error at once.
  printf "'/dev/zero' 50 0.99 n\n" | timeout 10 "$bin" > out; st=$?
  [ $st = 0 ] && [ "$(cat out)" = "$(pad '-9500 READING ERROR in FITTING DATA')" ] ||
    fail "/dev/zero: status $st, $(head -c 200 out)"
  # A read-only result file is refused, not replaced (checked as a user
  # without root's rights to write any file).
  if command -v setpriv > /dev/null && [ "$(id -u)" = 0 ]; then
    as_user() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
  elif [ "$(id -u)" != 0 ]; then
    as_user() { "$@"; }
  else
    echo "ok $check (read-only file not checked)"; exit 0
  fi
  chmod 777 .
  echo old > ro.dat
  chmod 444 ro.dat
  printf "s.txt 50 0.99 y\nro.dat\n" | as_user "$bin" > out
  [ "$(tail -1 out)" = "  Can not open file for WRITE" ] || fail "read-only: $(tail -1 out)"
  [ "$(cat ro.dat)" = old ] || fail "read-only file replaced"
  ;;
*) fail "unknown check $check" ;;
esac
echo "ok $check"
