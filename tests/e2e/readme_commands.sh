#!/usr/bin/env bash
# Runs every command the README and the documents in doc/ show as
# "    $ COMMAND" in a copy of the bundled examples, with the built tool first on
# PATH, and checks its exit status, so that the documentation cannot drift from
# the tool. Indented lines right after a command are its output, which must
# come out exactly.
#   readme_commands.sh <korvalinde binary> <source dir>
set -u
bin=$1 src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -R "$src/examples" "$work/"
mkdir "$work/bin"
ln -s "$bin" "$work/bin/korvalinde"
cd "$work" || exit 1
# cmdN holds the N-th command, wantN the output shown under it, if any.
mkdir shown
awk 'FNR == 1 { out = 0 }
     /^    \$ / { n++; sub(/^    \$ /, ""); print > ("shown/cmd" n); out = 1; next }
     out && /^    / { sub(/^    /, ""); print > ("shown/want" n); next }
     { out = 0 }' "$src/README.md" "$src"/doc/*.md
count=0 fail=0
for ((i = 1; ; i++)); do
  [ -f "shown/cmd$i" ] || break
  cmd=$(cat "shown/cmd$i")
  count=$((count + 1))
  PATH="$work/bin:$PATH" bash -o pipefail -c "$cmd" > out 2> err; st=$?
  [ $st = 0 ] || { echo "FAIL (status $st): $cmd"; head -5 err; fail=1; }
  # A report's first line names the build and the time of its run, which
  # change: shown as they come, compared without them.
  if [ -f "shown/want$i" ] && ! diff <(sed 's/^run: .*/run: /' "shown/want$i") \
      <(sed 's/^run: .*/run: /' out) > diff.txt; then
    echo "FAIL: the output of '$cmd' differs from the README:"
    head -20 diff.txt
    fail=1
  fi
done
[ $count -ge 3 ] || { echo "FAIL: only $count commands found"; exit 1; }
echo "ran $count commands"
exit $fail
