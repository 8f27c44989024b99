#!/bin/bash
# A real map window under Xvfb: a paced trace (ten seconds at time.scale 600)
# is stopped by hiding the window (xdotool windowunmap, what SDL reports when
# the window is minimised or hidden), and in a second run by Escape typed in
# the window. The trace must end at once, quietly, and the script go on; a
# third run, with the window left alone, must take its full time, so the
# stops were the window's doing.
#   trace_window_xvfb.sh OMBREL_PROGRAM
set -u
program=$1
for tool in xvfb-run xdotool stdbuf; do
  command -v $tool >/dev/null || { echo "skipped: $tool missing"; exit 77; }
done
work=$(mktemp -d)
helpers=$(cd "$(dirname "$0")/.." && pwd)
trap 'rm -rf "$work"' EXIT
cat > "$work/trace.omb" <<'OMB'
Set data.directory ~
Set time.scale 600
TraceOrbit landsat8 2025-08-14 0:00 2025-08-14 1:40 10
Duration
Echo done
OMB
# run NAME ACTION: one program run, its output in NAME.txt.
cat > "$work/inner.sh" <<INNER
#!/bin/bash
. "$helpers/xvfb_window.sh"
cd "$work"
unset SDL_VIDEODRIVER
run() {
  rm -f commands; mkfifo commands
  ASAN_OPTIONS="\${ASAN_OPTIONS:+\$ASAN_OPTIONS:}verify_asan_link_order=0" \\
    stdbuf -oL "$program" trace.omb < commands > \$1.txt 2>&1 &
  exec 3> commands
  wid=\$(map_window)
  [ -n "\$wid" ] || { echo "no map window"; echo Quit >&3; exit 1; }
  for i in \$(seq 100); do grep -q 'press <ESC> to quit' \$1.txt && break; sleep 0.1; done
  sleep 1
  wid=\$(map_window) || { echo "no map window"; echo Quit >&3; exit 1; }
  case \$2 in
    unmap) xdotool windowunmap \$wid ;;
    escape) xdotool mousemove --window \$wid 100 100; sleep 0.3; xdotool key Escape ;;
  esac
  for i in \$(seq 200); do grep -q '^done\$' \$1.txt && break; sleep 0.1; done
  echo Quit >&3
  exec 3>&-
  wait
}
run hidden unmap
run escaped escape
run kept none
INNER
chmod +x "$work/inner.sh"
xvfb-run -a -s "-screen 0 2000x1200x24" "$work/inner.sh" || { echo "Xvfb run failed"; cat "$work"/*.txt; exit 1; }
status=0
seconds() {  # the time printed after Duration, in seconds
  awk 'found { split($1, t, ":"); print t[1] * 3600 + t[2] * 60 + t[3]; exit } /^Duration$/ { found = 1 }' "$1"
}
for name in hidden escaped kept; do
  echo "---- $name"
  cat "$work/$name.txt"
  grep -q '^done$' "$work/$name.txt" || { echo "FAIL: $name: the script did not go on"; status=1; }
done
hidden=$(seconds "$work/hidden.txt")
escaped=$(seconds "$work/escaped.txt")
kept=$(seconds "$work/kept.txt")
echo "hidden: ${hidden:-none} s, escaped: ${escaped:-none} s, kept: ${kept:-none} s"
awk -v h="${hidden:-99}" 'BEGIN { exit !(h < 5) }' || { echo "FAIL: hiding the window did not stop the trace"; status=1; }
awk -v h="${escaped:-99}" 'BEGIN { exit !(h < 5) }' || { echo "FAIL: Escape in the window did not stop the trace"; status=1; }
awk -v k="${kept:-0}" 'BEGIN { exit !(k > 9) }' || { echo "FAIL: the trace left alone did not run its ten seconds"; status=1; }
# Quietly: the prompt is followed by the script's next line.
for name in hidden escaped; do
  grep -A1 'press <ESC> to quit' "$work/$name.txt" | tail -1 | grep -q '^Duration$' ||
    { echo "FAIL: $name: the stop posted something"; status=1; }
done
exit $status
