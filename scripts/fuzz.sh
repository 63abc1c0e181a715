#!/usr/bin/env bash
# Builds the libFuzzer targets (CMake preset "fuzz": clang, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for a bounded time.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS per target (default 60); TARGETs among listread, reader, fields, run
# (default all four). Each target starts from its seed corpus fuzz/corpus/<target>/ and
# keeps what it finds in build/fuzz/corpus/<target>/ for the next run. Exits
# non-zero when a target finds a crash (a sanitizer report, a violated
# property, a hang); the reproducer is left in build/fuzz/artifacts/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(listread reader fields run)
case $seconds in '' | *[!0-9]*) echo "fuzz.sh: SECONDS must be a whole number" >&2; exit 2 ;; esac

# One run at a time: runs share the build, the corpora and the logs.
build=build/fuzz
mkdir -p "$build"
if command -v flock > /dev/null; then
  exec 9> "$build/.fuzz.lock"
  flock -n 9 || { echo "fuzz.sh: another fuzz.sh is running on $build" >&2; exit 2; }
fi

if ! command -v clang++ > /dev/null; then
  echo "fuzz.sh: clang++ not found; installing clang" >&2
  sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get install -y clang
fi

cmake --preset fuzz > /dev/null
cmake --build --preset fuzz

# A small allocator quarantine keeps the fuzzing process small, which makes
# the forks of the whole-run target several times cheaper.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

failed=()
summary=()
for t in "${targets[@]}"; do
  case $t in
    listread | reader | fields) max_len=4096 ;;
    run) max_len=65536 ;;
    *) echo "fuzz.sh: unknown target '$t' (listread, reader, fields, run)" >&2; exit 2 ;;
  esac
  work="$build/corpus/$t"
  artifacts="$PWD/$build/artifacts/$t"
  log="$build/logs/$t.log"
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  echo "== fuzz_$t: ${seconds} s, inputs up to $max_len bytes (log: $log)"
  status=0
  "$build/fuzz/fuzz_$t" "$work" "fuzz/corpus/$t" \
    -max_total_time="$seconds" -max_len="$max_len" -timeout=60 \
    -artifact_prefix="$artifacts/" -print_final_stats=1 > "$log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(grep -ao 'cov: [0-9]*' "$log" | tail -1 || true)
  if [ "$status" = 0 ]; then
    summary+=("fuzz_$t: ok, ${execs:-?} runs, ${rate:-?} exec/s, $cov")
  else
    failed+=("$t")
    reproducer=$(sed -n 's/.*Test unit written to //p' "$log" | tail -1)
    summary+=("fuzz_$t: FAILED (status $status), reproducer: ${reproducer:-see $log}")
    grep -a -m1 -E "ERROR:|property violated|did not end" "$log" || true
  fi
done

echo
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  cat <<EOF

Replay a reproducer with  $build/fuzz/fuzz_<target> <file>  (full report), or in the
normal build with  fuzz_<target>_replay <file>. Once the fault is mended, copy the
reproducer to fuzz/regressions/<target>/ so that the test suite keeps replaying it.
EOF
  exit 1
fi
