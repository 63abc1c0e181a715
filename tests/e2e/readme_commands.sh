#!/usr/bin/env bash
# Runs every command the README shows as "    $ COMMAND" in a copy of the
# bundled examples, with the built tool first on PATH, and checks its exit
# status, so that the README cannot drift from the tool.
#   readme_commands.sh <korvalinde binary> <source dir>
set -u
bin=$1 src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -R "$src/examples" "$work/"
mkdir "$work/bin"
ln -s "$bin" "$work/bin/korvalinde"
cd "$work" || exit 1
count=0 fail=0
while IFS= read -r cmd; do
  count=$((count + 1))
  PATH="$work/bin:$PATH" bash -o pipefail -c "$cmd" > out 2> err; st=$?
  [ $st = 0 ] || { echo "FAIL (status $st): $cmd"; head -5 err; fail=1; }
done < <(sed -n 's/^    \$ //p' "$src/README.md")
[ $count -ge 3 ] || { echo "FAIL: only $count commands found"; exit 1; }
echo "ran $count commands"
exit $fail
