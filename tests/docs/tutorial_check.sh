#!/bin/bash
# Runs the commands of the tutorial's omb blocks, in order, as one batch job
# in a scratch folder holding the shipped data files, as a user would in
# build/bin. Fails on any error message (standard error carries levels 4 and
# 5; start-up warnings are allowed), on a non-zero exit status, and when a
# file the tutorial names was not made.
#   tutorial_check.sh OMBREL_PROGRAM TUTORIAL_MD
set -u
program=$1
tutorial=$2
bin=$(dirname "$program")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

for f in land110m.rgn cities.pts routes.lns; do cp "$bin/$f" "$work/" || fail "no $f beside the program"; done
awk '/^```omb$/ {on=1; next} /^```$/ {on=0; next} on' "$tutorial" > "$work/first.omb"
lines=$(grep -c . "$work/first.omb")
[ "$lines" -ge 20 ] || fail "only $lines command lines found in the tutorial"

cd "$work"
OMBREL_HOME="$bin" "$program" --batch first.omb > out.txt 2> err.txt
rc=$?
cat out.txt
[ $rc -eq 0 ] || fail "exit status $rc"
if grep -v '^Ombrel: Warning: ' err.txt | grep -q .; then
  fail "error messages:"; cat err.txt
fi
for f in land.qbo cities.qbo routes.qbo inland.qbo ashore.qbo onroutes.qbo europe.png world.png onroutes.pts ashore.dmp; do
  [ -s "$f" ] || fail "$f was not made"
done
# What the text says the commands print.
grep -qx 'objectName \[s|p|r\] \[m|k\]' out.txt || fail "Area ? does not print its usage as shown"
grep -q '^Area: .*\[km\*\*2\], Perimeter: .*\[km\]$' out.txt || fail "no area line"
grep -q '^Vertices: [0-9]*, Length: .*\[km\]$' out.txt || fail "no length line"
printf 'Verison\n' | OMBREL_HOME="$bin" "$program" --batch > slip.txt 2>/dev/null
grep -qx 'command?=>Verison<=' slip.txt && grep -qx 'did you mean Version?' slip.txt || fail "the slip example differs"
"$program" --help > /dev/null || fail "--help"
"$program" --version | grep -q '^Quorra Library:$' || fail "--version"
exit $status
