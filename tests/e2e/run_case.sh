#!/usr/bin/env bash
# Runs the tool on one recorded case and compares its outputs byte for byte.
#   run_case.sh <korvalinde binary> <case directory>
# A case directory holds stdin, the files the control input names, a "kind"
# file and expected/ (stdout, stderr, exit and every result file).
set -u
bin=$1
case_dir=$2
kind=$(cat "$case_dir/kind")
exp="$case_dir/expected"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/run"
# Copy the case without expected/ into an empty directory and run there.
for f in "$case_dir"/* "$case_dir"/.[!.]*; do
  [ -e "$f" ] || continue
  [ "$(basename "$f")" = expected ] && continue
  cp -R "$f" "$work/run/"
done
chmod -R u+w "$work/run"
(cd "$work/run" && find . -mindepth 1 | sort) > "$work/before"

out="$work/stdout"
[ "$kind" = stdout-full ] && out=/dev/full
(cd "$work/run" && "$bin" < stdin > "$out" 2> "$work/stderr")
status=$?

fail=0
complain() { echo "FAIL: $*"; fail=1; }
same() {  # same <expected file> <actual file> <label>
  if ! cmp -s "$1" "$2"; then
    complain "$3 differs"
    diff <(cat -A "$1") <(cat -A "$2") | head -20
  fi
}

case "$kind" in
  exact)
    same "$exp/stdout" "$work/stdout" stdout
    same "$exp/stderr" "$work/stderr" stderr
    [ "$status" = "$(cat "$exp/exit")" ] || complain "exit status $status, expected $(cat "$exp/exit")"
    allowed=$(cat "$work/before")
    for f in "$exp"/*; do
      name=$(basename "$f")
      case "$name" in stdout|stderr|exit) continue ;; esac
      same "$f" "$work/run/$name" "result file $name"
      allowed=$(printf '%s\n./%s' "$allowed" "$name")
    done
    extra=$(comm -13 <(printf '%s\n' "$allowed" | sort -u) <(cd "$work/run" && find . -mindepth 1 | sort))
    [ -z "$extra" ] || complain "unexpected files: $extra"
    ;;
  control-error)
    [ "$status" != 0 ] || complain "exit status 0 for unreadable control input"
    [ ! -s "$work/stdout" ] || complain "standard output not empty"
    ;;
  write-error)
    same "$exp/stdout" "$work/stdout" stdout
    [ "$status" = "$(cat "$exp/exit")" ] || complain "exit status $status, expected $(cat "$exp/exit")"
    grep -qF -- "$(cat "$exp/stderr_contains")" "$work/stderr" ||
      complain "stderr lacks '$(cat "$exp/stderr_contains")': $(cat "$work/stderr")"
    ;;
  stdout-full)
    [ "$status" = "$(cat "$exp/exit")" ] || complain "exit status $status, expected $(cat "$exp/exit")"
    grep -qF -- "$(cat "$exp/stderr_contains")" "$work/stderr" ||
      complain "stderr lacks '$(cat "$exp/stderr_contains")': $(cat "$work/stderr")"
    ;;
  *) complain "unknown kind $kind" ;;
esac
exit $fail
