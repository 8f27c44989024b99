#!/bin/bash
# The query commands in a real map window under Xvfb, one command per run:
# ombrel runs a script that opens the object and starts the query, xdotool
# moves, clicks and presses Escape in the SDL window, and the report line
# must be in the transcript.
#   nearest_window_xvfb.sh COMMAND OMBREL_PROGRAM
set -u
command=$1
program=$2
for tool in xvfb-run xdotool stdbuf; do
  command -v $tool >/dev/null || { echo "skipped: $tool missing"; exit 77; }
done
work=$(mktemp -d)
helpers=$(cd "$(dirname "$0")/.." && pwd)
trap 'rm -rf "$work"' EXIT
printf '44 14\n45 15\n46 17\n' > "$work/p.pts"
printf '44 10\n46 20\n* 1\n' > "$work/l.lns"
printf '44 14\n44 16\n46 16\n46 14\n* 1\n' > "$work/r.rgn"
position='^ *[ns][0-9.]+ +[ew][0-9.]+ \([0-9]+\.[0-9]{3}\)'
case $command in
  NearestInPset|FarthestInPset) args=p; expect="$position\$" ;;
  NearestInLset|FarthestInLset) args=l; expect="$position \\(0\\)\$" ;;
  NearestInRset) args=r; expect="$position \\([123]\\)\$" ;;
  NearestOrderedInPset) args='p 3 2000000'; expect='^ *[0-9]+: *[0-9]+ [0-9]+\.[0-9]{3}$' ;;
  *) echo "unknown command $command"; exit 2 ;;
esac
cat > "$work/mode.omb" <<SCRIPT
ImportPset p p
ImportLset l l
ImportRset r r
Geometry N45 E15 5000000 stereo
$command $args
Echo done
SCRIPT
cat > "$work/inner.sh" <<INNER
#!/bin/bash
. "$helpers/xvfb_window.sh"
cd "$work"
unset SDL_VIDEODRIVER
mkfifo commands
ASAN_OPTIONS="\${ASAN_OPTIONS:+\$ASAN_OPTIONS:}verify_asan_link_order=0" \\
  stdbuf -oL "$program" mode.omb < commands > out.txt 2>&1 &
exec 3> commands
wid=\$(map_window)
[ -n "\$wid" ] || { echo "no map window"; echo Quit >&3; exit 1; }
for i in \$(seq 400); do grep -q "Move pointer in map" out.txt && break; sleep 0.1; done
sleep 0.5
# Ask for the window again: the first id may have been a window since dropped.
wid=\$(map_window) || { echo "no map window"; echo Quit >&3; exit 1; }
xdotool mousemove --window \$wid 300 250; sleep 0.3
xdotool mousemove --window \$wid 320 260; sleep 0.3
xdotool click 1; sleep 0.5
xdotool key Escape; sleep 0.4
for i in \$(seq 200); do grep -q '^done\$' out.txt && break; sleep 0.1; done
echo Quit >&3
exec 3>&-
wait
INNER
chmod +x "$work/inner.sh"
xvfb-run -a -s "-screen 0 2000x1200x24" "$work/inner.sh" || { echo "Xvfb run failed"; cat "$work/out.txt"; exit 1; }
cat "$work/out.txt"
status=0
grep -Eq "$expect" "$work/out.txt" || { echo "FAIL: no line matching $expect"; status=1; }
grep -q '^done$' "$work/out.txt" || { echo "FAIL: the mode did not end"; status=1; }
exit $status
