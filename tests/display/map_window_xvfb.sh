#!/bin/bash
# A real map window under Xvfb: ombrel runs a drawing script, two right
# clicks in the window report positions and the distance between them, and a
# screenshot of the screen shows the map (not a blank screen).
#   map_window_xvfb.sh OMBREL_PROGRAM
set -u
program=$1
for tool in xvfb-run xdotool import convert stdbuf; do
  command -v $tool >/dev/null || { echo "skipped: $tool missing"; exit 77; }
done
work=$(mktemp -d)
helpers=$(cd "$(dirname "$0")/.." && pwd)
trap 'rm -rf "$work"' EXIT
cat > "$work/map.omb" <<'OMB'
MapFieldSize 720 360
DrawGrid
MapFieldSize 640 400
DrawCoast
Echo drawn
OMB
cat > "$work/inner.sh" <<INNER
#!/bin/bash
. "$helpers/xvfb_window.sh"
cd "$work"
unset SDL_VIDEODRIVER
mkfifo commands
# Line-buffered output, so that the lines can be watched as they come.
# stdbuf preloads a library of its own, which a sanitizer build must be told
# to accept after its runtime.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
  stdbuf -oL "$program" map.omb < commands > out.txt 2>&1 &
exec 3> commands
# The script has drawn the map once "drawn" is printed.
for i in \$(seq 200); do grep -q '^drawn\$' out.txt && break; sleep 0.1; done
wid=\$(map_window)
[ -n "\$wid" ] || { echo "no map window"; echo Quit >&3; exit 1; }
sleep 0.5
xdotool mousemove --window \$wid 100 100; sleep 0.3; xdotool click 3; sleep 0.3
xdotool mousemove --window \$wid 300 250; sleep 0.3; xdotool click 3
for i in \$(seq 100); do grep -Eq ' [0-9]+\\.[0-9]{3}\$' out.txt && break; sleep 0.1; done
import -window root shot.png
echo Quit >&3
exec 3>&-
wait
INNER
chmod +x "$work/inner.sh"
xvfb-run -a -s "-screen 0 2000x1200x24" "$work/inner.sh" || { echo "Xvfb run failed"; cat "$work/out.txt"; exit 1; }
cat "$work/out.txt"
status=0
grep -Eq '^[0-9.]+[NS] [0-9.]+[EW]( \([0-9]+\))?$' "$work/out.txt" || { echo "FAIL: no position report"; status=1; }
grep -Eq '^[0-9.]+[NS] [0-9.]+[EW]( \([0-9]+\))? [0-9]+\.[0-9]{3}$' "$work/out.txt" || { echo "FAIL: no distance"; status=1; }
grep -q '^drawn$' "$work/out.txt" || { echo "FAIL: script did not run"; status=1; }
colours=$(convert "$work/shot.png" -format "%k" info:)
echo "screenshot colours: $colours"
[ "$colours" -gt 8 ] || { echo "FAIL: blank screenshot"; status=1; }
exit $status
