#!/usr/bin/env bash
# Measures the korvalinde executable on a reproducible sample of 10000 Gumbel
# values (location 10, scale 2, six decimals; 50 bins, probability 0.99, a
# result file): the median wall time of many runs, the peak resident memory,
# the instruction count of one run under callgrind (where valgrind is
# installed), the peak memory while reading a 2 GiB sample file, and the
# micro-benchmarks of the stages and of the GEV check.
#
#   scripts/bench.sh [--runs N] [--no-build] [--no-micro] [--no-big] [--big-only]
#                    [--no-fit] [--fit-only] [--no-groups] [--groups-only]
#                    [--covariates-only] [--families-only]
#
# --covariates-only builds the Python module in build/bench and measures
# fit_many on a shared covariate (20,000 series of 60 values, GEV location
# trend, likelihood-ratio tests and profile bounds of the 100-year level at
# two points and of its change; target 10,000 series/s on 2 cores) and on
# one series of 10^6 values (target 1 s). --families-only measures there the
# L-moment fits of GLO, GEV, GNO and PE3 together on 10^5 series of 50 values
# (target 200,000 series/s on 2 cores).
#
# The fit command is measured on 10^7 values (a 96 MB file; least squares
# alone, mle and lmom, then all three methods), on 1000 files of 200 values (also
# with the GEV, its p-values by each --gof-p), with a
# bootstrap of 999 replicates of 1000 values, and on a dated record of 10^7
# hourly rows (annual maxima; peaks over a threshold), and the idf command on
# 10^7 rows of 5-minute depths, and the region command on 19 sites of about
# 70 years (nsim 500 and 10^4, accuracy 10^4). Grouped records: 10^6
# groups of one row each (every group fails; budget 10 s and 1 GB) and 2000
# groups of 50 values (all fitted; then with a location trend in time), and
# one series of 10^6 values with a location trend.
#
# Builds with the "bench" preset into build/bench (optimised, benchmarks on,
# tests off). Everything else happens in a temporary directory that is removed.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/bench
runs=200
do_build=1 micro=1 small=1 big=1 fit=1 groups=1 covariates_only=0 families_only=0
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift ;;
    --no-build) do_build=0 ;;
    --no-micro) micro=0 ;;
    --no-big) big=0 ;;
    --big-only) small=0 micro=0 fit=0 groups=0 ;;
    --no-fit) fit=0 ;;
    --fit-only) small=0 micro=0 big=0 groups=0 ;;
    --no-groups) groups=0 ;;
    --groups-only) small=0 micro=0 big=0 fit=0 ;;
    --covariates-only) covariates_only=1 ;;
    --families-only) families_only=1 ;;
    -h|--help) sed -n '2,30p' "$0"; exit 0 ;;
    *) echo "bench.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

# Budgets of a whole 10000-value, 50-bin run.
max_instructions=3000000
max_rss_kb=4096

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ $covariates_only = 1 ] || [ $families_only = 1 ]; then
  (cd "$root" && cmake --preset bench -D KORVALINDE_PYTHON=ON > "$work/build.log" 2>&1 &&
     cmake --build build/bench -j2 --target korvalinde_python >> "$work/build.log" 2>&1) ||
    { cat "$work/build.log" >&2; exit 1; }
  if [ $covariates_only = 1 ]; then
    echo "== fit_many on covariates"
    PYTHONPATH=$build/python /usr/bin/python3 "$root/python/bench_fit_many.py" --covariates-only
  fi
  if [ $families_only = 1 ]; then
    echo "== fit_many, L-moment fits of glo, gev, gno and pe3"
    PYTHONPATH=$build/python /usr/bin/python3 "$root/python/bench_fit_many.py" --families-only
  fi
  exit 0
fi

if [ $do_build = 1 ]; then
  if ! (cd "$root" && cmake --workflow --preset bench) > "$work/build.log" 2>&1; then
    cat "$work/build.log" >&2
    exit 1
  fi
fi
bin=$build/korvalinde/korvalinde
runner=$build/bench/korvalinde_runner
for f in "$bin" "$runner"; do
  [ -x "$f" ] || { echo "bench.sh: $f is missing (build with the bench preset)" >&2; exit 1; }
done

# gumbel COUNT: the sample, from the minimal standard generator
# x <- 16807 x mod (2^31 - 1) with seed 12345 (exact in awk's doubles);
# bench/sample.hpp writes the same numbers.
gumbel() {
  awk -v n="$1" 'BEGIN {
    x = 12345
    for (i = 0; i < n; i++) {
      x = (16807 * x) % 2147483647
      printf "%.6f\n", 10 - 2 * log(-log(x / 2147483647))
    }
  }'
}

value() { awk -v k="$1" '$1 == k { print $2 }' "$2"; }
verdict() { if [ "$1" -le "$2" ]; then echo "within budget $2"; else echo "OVER budget $2"; fi; }

cd "$work"
gumbel 10000 > sample.txt
printf 'sample.txt 50 0.99 y\nresult.dat\n' > control.txt
"$bin" < control.txt > report.txt
grep -q 'FITTING RESULTS' report.txt || { echo "bench.sh: no report" >&2; cat report.txt >&2; exit 1; }

echo "machine: $(nproc) cores, $(lscpu 2>/dev/null | sed -n 's/^Model name: *//p' | head -1)"
echo "binary:  $bin ($(file -b "$bin" 2>/dev/null | grep -o 'statically linked\|dynamically linked' || echo '?'))"

if [ $small = 1 ]; then
  echo
  echo "== whole run: 10000 values, 50 bins, result file; $runs runs"
  "$runner" "$runs" control.txt "$bin" > timing.txt
  "$runner" "$runs" control.txt "$runner" --exit > floor.txt
  rss=$(value max_rss_kb timing.txt)
  echo "wall time     median $(value wall_median_us timing.txt) us" \
       "(min $(value wall_min_us timing.txt), max $(value wall_max_us timing.txt))"
  echo "peak memory   $rss KB resident; $(verdict "$rss" $max_rss_kb)"
  echo "floor         a static program that does nothing: median" \
       "$(value wall_median_us floor.txt) us, $(value max_rss_kb floor.txt) KB"
  if command -v valgrind > /dev/null; then
    valgrind --tool=callgrind --callgrind-out-file=callgrind.out "$bin" < control.txt \
      > /dev/null 2> callgrind.log
    instructions=$(sed -n 's/.*Collected : *\([0-9]*\).*/\1/p' callgrind.log)
    echo "instructions  $instructions (callgrind, process start included);" \
         "$(verdict "$instructions" $max_instructions)"
    if command -v callgrind_annotate > /dev/null; then
      # Inclusive counts of the stages; start-up is everything outside main.
      callgrind_annotate --inclusive=yes callgrind.out 2> /dev/null |
        sed -nE 's/^ *([0-9,]+) +\([^)]*\) +[^:]*:([^ (]+).*/\1 \2/p' > stages.txt
      main=$(awk '$2 == "main" { gsub(",", "", $1); print $1; exit }' stages.txt)
      [ -n "$main" ] || main=$instructions
      echo "  start-up and exit (outside main): $((instructions - main))"
      grep -E ' (korvalinde::(ini_data|parse_sample|check_binning|preproccdata|printresults|write_report)|dnls::DNLS1E|__memset.*|__memchr.*)$' \
        stages.txt | awk '!seen[$2]++ { printf "  %-34s %s\n", $2 ":", $1 }'
    fi
  else
    echo "instructions  (valgrind is not installed)"
  fi
fi

if [ $big = 1 ]; then
  # 10000 lines of 214748 bytes (2 GiB): the sample value, a blank, then NUL
  # bytes up to the line end. The file is sparse (the NULs are holes; about
  # 40 MB of blocks on disk), and the reader must pass over 2 GiB of line
  # tails through its fixed buffer: memory has to stay what it is for the
  # small file, and the report must be the same.
  echo
  echo "== 2 GiB sample file: the same 10000 values, each line padded to 214748 bytes"
  command -v python3 > /dev/null || { echo "(python3 is not installed)"; big=0; }
fi
if [ $big = 1 ]; then
  python3 - sample.txt big.txt <<'PY'
import sys
line = 214748
with open(sys.argv[1]) as src, open(sys.argv[2], "wb") as out:
    for k, text in enumerate(src):
        out.seek(k * line)
        out.write(text.strip().encode() + b" ")
        out.seek((k + 1) * line - 1)
        out.write(b"\n")
PY
  sed 's/^sample.txt/big.txt/' control.txt > big-control.txt
  echo "file          $(stat -c %s big.txt) bytes, $(du -k big.txt | cut -f1) KB on disk"
  "$runner" 1 big-control.txt "$bin" > big-timing.txt
  rss=$(value max_rss_kb big-timing.txt)
  echo "wall time     $(value wall_median_us big-timing.txt) us"
  echo "peak memory   $rss KB resident; $(verdict "$rss" $max_rss_kb)"
  "$bin" < big-control.txt > big-report.txt
  if cmp -s report.txt big-report.txt; then
    echo "report        the same as for the small file"
  else
    echo "report        DIFFERS from the small file's"; diff report.txt big-report.txt | head
  fi
  rm -f big.txt
fi

if [ $fit = 1 ]; then
  echo
  echo "== korvalinde fit (2 threads)"
  gumbel 10000000 > big7.txt
  echo "file          10^7 values, $(stat -c %s big7.txt) bytes"
  # Five runs: the first after a pause pays for fresh memory (see doc/reference.md).
  "$runner" 5 /dev/null "$bin" fit --quiet --json /dev/null --methods ls big7.txt > t1.txt
  echo "ls only       median $(value wall_median_us t1.txt) us, peak $(value max_rss_kb t1.txt) KB"
  "$runner" 3 /dev/null "$bin" fit --quiet --json /dev/null --methods mle,lmom big7.txt > t1m.txt
  echo "mle, lmom     median $(value wall_median_us t1m.txt) us, peak $(value max_rss_kb t1m.txt) KB"
  "$runner" 3 /dev/null "$bin" fit --quiet --json /dev/null big7.txt > t2.txt
  echo "all methods   median $(value wall_median_us t2.txt) us, peak $(value max_rss_kb t2.txt) KB"
  rm -f big7.txt
  mkdir files
  gumbel 200000 | split -l 200 -a 4 - files/s
  "$runner" 5 /dev/null "$bin" fit --quiet --json /dev/null --threads 2 files/* > t3.txt
  us=$(value wall_median_us t3.txt)
  echo "1000 files    of 200 values: median $us us, $((1000000000 / us)) files/s"
  # The GEV's goodness-of-fit p-values: simulated, from the limit laws, none.
  for how in bootstrap asymptotic none; do
    "$runner" 3 /dev/null "$bin" fit --quiet --json /dev/null --threads 2 --dist gev --gof-p $how \
      files/* > t3g.txt
    echo "1000 files    --dist gev --gof-p $how: median $(value wall_median_us t3g.txt) us"
  done
  gumbel 1000 > boot.txt
  "$runner" 3 /dev/null "$bin" fit --quiet --json /dev/null --threads 2 --bootstrap 999 \
    boot.txt > t4.txt
  echo "bootstrap     999 x 1000 values, all methods: median $(value wall_median_us t4.txt) us"
  # A dated record: 10^7 hourly rows over 1141 years, 5% missing.
  awk 'BEGIN { srand(7); print "time,value"; n = 0
    split("31 28 31 30 31 30 31 31 30 31 30 31", md, " ")
    for (y = 1001; n < 10000000; y++) {
      leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0
      for (m = 1; m <= 12 && n < 10000000; m++)
        for (d = 1; d <= md[m] + (m == 2 && leap) && n < 10000000; d++)
          for (h = 0; h < 24 && n < 10000000; h++) {
            n++
            v = rand() < 0.05 ? "NA" : sprintf("%.3f", 10 - 3 * log(-log(rand())))
            printf "%04d-%02d-%02dT%02d:00Z,%s\n", y, m, d, h, v } } }' > hourly.csv
  echo "dated file    10^7 rows, $(stat -c %s hourly.csv) bytes"
  "$runner" 3 /dev/null "$bin" fit --quiet --json /dev/null --threads 2 --time time \
    --column value --block year hourly.csv > t5.txt
  echo "annual maxima median $(value wall_median_us t5.txt) us, peak $(value max_rss_kb t5.txt) KB"
  "$runner" 3 /dev/null "$bin" fit --quiet --json /dev/null --threads 2 --dist gev --time time \
    --column value --block year hourly.csv > t5g.txt
  echo "  with the GEV median $(value wall_median_us t5g.txt) us, peak $(value max_rss_kb t5g.txt) KB"
  "$runner" 3 /dev/null "$bin" fit --quiet --json /dev/null --threads 2 --methods mle \
    --time time --column value --pot --threshold-quantile 0.999 --run 24 hourly.csv > t6.txt
  echo "pot, run 24   median $(value wall_median_us t6.txt) us, peak $(value max_rss_kb t6.txt) KB"
  rm -f hourly.csv
  # A rain record: 10^7 rows of 5-minute depths (95 years), 8% of them wet.
  awk 'BEGIN { srand(11); print "time,value"; n = 0
    split("31 28 31 30 31 30 31 31 30 31 30 31", md, " ")
    for (y = 2000; n < 10000000; y++) {
      leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0
      for (m = 1; m <= 12 && n < 10000000; m++)
        for (d = 1; d <= md[m] + (m == 2 && leap) && n < 10000000; d++)
          for (k = 0; k < 288 && n < 10000000; k++) {
            n++
            v = rand() < 0.08 ? int(-12 * log(rand())) / 10 : 0
            printf "%04d-%02d-%02dT%02d:%02d,%.1f\n", y, m, d, int(k / 12), 5 * (k % 12), v } } }' > rain5.csv
  echo "rain record   10^7 rows of 5-minute depths, $(stat -c %s rain5.csv) bytes"
  "$runner" 3 /dev/null "$bin" idf --quiet --json /dev/null --threads 2 --time time rain5.csv > t8.txt
  echo "idf, 12 durations median $(value wall_median_us t8.txt) us, peak $(value max_rss_kb t8.txt) KB"
  rm -f rain5.csv
  # A region: 19 sites of 60 to 80 annual maxima (GEV, heavy upper tail).
  awk 'BEGIN { srand(19); print "site,year,value"
    for (s = 1; s <= 19; s++) { n = 60 + int(21 * rand())
      for (y = 1; y <= n; y++) printf "s%02d,%d,%.3f\n", s, 1900 + y, 100 * (4 - 3 * (1 - (-log(rand())) ^ -0.1)) } }' > region.csv
  "$runner" 3 /dev/null "$bin" region --quiet --threads 2 --by site --time year --column value region.csv > t9.txt
  echo "region, nsim 500      median $(value wall_median_us t9.txt) us (target 0.1 s)"
  "$runner" 3 /dev/null "$bin" region --quiet --threads 2 --nsim 10000 --by site --time year --column value region.csv > t9.txt
  echo "region, nsim 10^4     median $(value wall_median_us t9.txt) us (target 1 s)"
  "$runner" 3 /dev/null "$bin" region --quiet --threads 2 --accuracy 10000 --correlation 0.3 \
    --by site --time year --column value region.csv > t9.txt
  echo "region, accuracy 10^4 median $(value wall_median_us t9.txt) us (target 2 s)"
  rm -f region.csv
fi

if [ $groups = 1 ]; then
  echo
  echo "== korvalinde fit --by (2 threads)"
  # 10^6 groups of one row each (25 MB): every group fails alone, so the run
  # exits 1 and is timed by time(1) rather than the runner.
  awk 'BEGIN { print "time,value,g"
    for (i = 0; i < 1000000; i++) printf "2000-01-01,%d.5,g%d\n", i % 7, i }' > groups.csv
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f "%e %U %S %M" -o t7.txt "$bin" fit --quiet --json /dev/null --threads 2 \
      --time time --column value --by g groups.csv 2> /dev/null || true
    read -r wall user sys rss < <(tail -1 t7.txt)
    echo "10^6 groups   one row each: $wall s wall, $user s user + $sys s system CPU," \
         "peak $rss KB; budget 10 s, 1048576 KB"
  else
    echo "10^6 groups   (/usr/bin/time is not installed)"
  fi
  rm -f groups.csv
  # 2000 stations of 50 annual maxima each, all fitted.
  awk 'BEGIN { srand(11); print "station,year,value"
    for (k = 0; k < 2000; k++) for (y = 1970; y < 2020; y++)
      printf "s%d,%d,%.3f\n", k, y, 10 - 2 * log(-log(rand())) }' > stations.csv
  "$runner" 3 /dev/null "$bin" fit --quiet --json /dev/null --threads 2 --time year \
    --column value --by station stations.csv > t8.txt
  us=$(value wall_median_us t8.txt)
  echo "2000 groups   of 50 values: median $us us, $((2000000000 / us)) groups/s," \
       "peak $(value max_rss_kb t8.txt) KB"
  # The same stations with a location trend in time (GEV mle, likelihood-ratio
  # tests, profile bounds of the 100-year level at the first and last years
  # and of its change; target 10,000 series/s), then one series of 10^6
  # daily values with a trend (target 1 s).
  "$runner" 3 /dev/null "$bin" fit --quiet --json /dev/null --threads 2 --time year \
    --column value --by station --covariate time --periods 100 --gof-p none stations.csv > t8.txt
  us=$(value wall_median_us t8.txt)
  echo "2000 groups   of 50 values, location trend: median $us us, $((2000000000 / us)) groups/s," \
       "peak $(value max_rss_kb t8.txt) KB"
  rm -f stations.csv
  python3 - <<'PY' > trend.csv
import datetime, math, random
random.seed(12)
day = datetime.date(1000, 1, 1).toordinal()
print("date,value")
for i in range(1000000):
    d = datetime.date.fromordinal(day + i).isoformat()
    print("%s,%.4f" % (d, 10 + 0.00001 * i - 2 * math.log(-math.log(random.random()))))
PY
  "$runner" 3 /dev/null "$bin" fit --quiet --json /dev/null --threads 2 --time date \
    --column value --covariate time --periods 100 --gof-p none --methods mle trend.csv > t8.txt
  echo "10^6 values, location trend: median $(value wall_median_us t8.txt) us," \
       "peak $(value max_rss_kb t8.txt) KB"
  rm -f trend.csv
fi

if [ $micro = 1 ]; then
  echo
  echo "== micro-benchmarks"
  "$build/bench/korvalinde_bench" --benchmark_min_time=0.2 2>&1 | grep -v '^\*\*\*WARNING'
  # The GEV check of one series (GEV and Gumbel mle, likelihood ratio, profile
  # intervals of 9 return levels and the shape): series/s at n = 100 on one
  # and two threads, and the time at n = 10^6.
  echo
  echo "== GEV check"
  "$build/bench/korvalinde_stats_bench" --benchmark_filter=GevCheck 2>&1 | grep -v '^\*\*\*WARNING'
  # What the default goodness-of-fit p-values add to a run (budget: 50 ms for
  # n <= 1000).
  echo
  echo "== goodness-of-fit p-values"
  "$build/bench/korvalinde_stats_bench" --benchmark_filter=GofPValues 2>&1 | grep -v '^\*\*\*WARNING'
  # Maximum likelihood of GLO, GNO, PE3 and Weibull on 10^6 values (budget:
  # 1 s each); the CPU column is the whole process's.
  echo
  echo "== further families, maximum likelihood on 10^6 values"
  "$build/bench/korvalinde_stats_bench" --benchmark_filter=FamilyMle 2>&1 | grep -v '^\*\*\*WARNING'
fi
