#!/bin/bash
# The map window on a 1280 x 1024 screen (Xvfb): placed by map.position as
# fractions of that screen, so that the whole window is on it, and its
# drawing area is the size ReportMapField reports.
#   window_placement_xvfb.sh OMBREL_PROGRAM
set -u
program=$1
for tool in xvfb-run xdotool stdbuf; do
  command -v $tool >/dev/null || { echo "skipped: $tool missing"; exit 77; }
done
work=$(mktemp -d)
helpers=$(cd "$(dirname "$0")/.." && pwd)
trap 'rm -rf "$work"' EXIT
cat > "$work/inner.sh" <<INNER
#!/bin/bash
. "$helpers/xvfb_window.sh"
cd "$work"
unset SDL_VIDEODRIVER
mkfifo commands
ASAN_OPTIONS="\${ASAN_OPTIONS:+\$ASAN_OPTIONS:}verify_asan_link_order=0" \\
  stdbuf -oL "$program" < commands > out.txt 2>&1 &
exec 3> commands
echo DrawGrid >&3
echo ReportMapField >&3
echo Echo drawn >&3
for i in \$(seq 200); do grep -q '^drawn\$' out.txt && break; sleep 0.1; done
wid=\$(map_window)
if [ -n "\$wid" ]; then
  sleep 0.3
  xdotool getwindowgeometry \$wid > geometry.txt
else
  echo "no map window" > geometry.txt
fi
echo Quit >&3
exec 3>&-
wait
INNER
chmod +x "$work/inner.sh"
xvfb-run -a -s "-screen 0 1280x1024x24" "$work/inner.sh" || { echo "Xvfb run failed"; cat "$work/out.txt"; exit 1; }
cat "$work/out.txt" "$work/geometry.txt"
status=0
# map.position 34,8,44,38 of 1280 x 1024: left 544, top 136, 703 x 647 pixels.
grep -q '^Map field: 703 647$' "$work/out.txt" || { echo "FAIL: map field not sized for the screen"; status=1; }
grep -q 'Position: 544,136 ' "$work/geometry.txt" || { echo "FAIL: window not placed for the screen"; status=1; }
grep -q 'Geometry: 703x647' "$work/geometry.txt" || { echo "FAIL: window size"; status=1; }
exit $status
