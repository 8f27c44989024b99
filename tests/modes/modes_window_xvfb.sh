#!/bin/bash
# A real map window under Xvfb, one pointer mode family per run: ombrel runs
# a script that starts the mode, xdotool clicks and types in the SDL window,
# and the report or object that results is checked.
#   modes_window_xvfb.sh entry|reframe|traverse|surface OMBREL_PROGRAM
set -u
family=$1
program=$2
for tool in xvfb-run xdotool stdbuf; do
  command -v $tool >/dev/null || { echo "skipped: $tool missing"; exit 77; }
done
work=$(mktemp -d)
helpers=$(cd "$(dirname "$0")/.." && pwd)
trap 'rm -rf "$work"' EXIT
case $family in
  entry)
    script='Geometry N45 E15 5000000 stereo
EnterRset ring
Area ring r
Echo done'
    prompt='Click your first ring vertex'
    # Three vertices counterclockwise, Space ends the ring, Enter the set.
    actions='click 200 150; click 200 350; click 450 350; key space; key Return'
    expect='^Area: [0-9]{4,6}\.[0-9]+\[km\*\*2\], Perimeter: [0-9.]+\[km\]$'  # a small region: the inside is on the left
    ;;
  reframe)
    script='Geometry N45 E15 5000000 stereo
ReFrame
Echo done'
    prompt='Click on new center'
    # The new centre, a move that outlines the frame, the edge point.
    actions='click 300 250; move 420 300; move 440 310; click 440 310'
    expect='^ *n[0-9.]+ +e[0-9.]+ [0-9]+ stereo$'
    ;;
  traverse)
    script='Geometry N45 E15 5000000 stereo
TraverseCells
Echo done'
    prompt='^TraverseCells'
    # The first cell, a walk to a second point, then the corner box ends it.
    actions='click 200 200; click 500 350; click 5 5'
    expect='^Traversed cells: [0-9]+ \(40962\)$'
    ;;
  surface)
    # Heights 10 x latitude on a half-degree grid round the map centre, as
    # 32-bit floats in the attribute word.
    command -v perl >/dev/null || { echo "skipped: perl missing"; exit 77; }
    perl -e 'for ($a = 35; $a <= 55; $a += 0.5) { for ($o = 0; $o <= 30; $o += 0.5) {
               printf "%.1f %.1f %u\n", $a, $o, unpack("L", pack("f", 10 * $a)) } }' > "$work/h.pts"
    script='ImportPset h h.pts fd
DerivePsetTin t h n
Geometry N45 E15 5000000 stereo
Echo surface
OverheadSurface t
Echo done'
    prompt='^surface$'
    # Moves post the value, a click the value and pixel, a click in the
    # top-left box and another key beep, Escape ends the mode.
    actions='move 300 250; move 320 260; click 330 270; click 10 10; key a; key Escape'
    expect='^ +4[3-6][0-9]\.[0-9]{3}$'
    expect_click='^ +4[3-6][0-9]\.[0-9]{3} \(330 270\)$'
    ;;
  *) echo "unknown family $family"; exit 2 ;;
esac
printf '%s\n' "$script" > "$work/mode.omb"
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
# The mode runs once its command has run (one script line a tick); a
# loaded machine may take many seconds over the import before it.
for i in \$(seq 400); do grep -q "$prompt" out.txt && break; sleep 0.1; done
sleep 0.5
# Ask for the window again: the first id may have been a window since dropped.
wid=\$(map_window) || { echo "no map window"; echo Quit >&3; exit 1; }
xdotool mousemove --window \$wid 100 100; sleep 0.3
IFS=';' read -ra steps <<< "$actions"
for step in "\${steps[@]}"; do
  set -- \$step
  case \$1 in
    click) xdotool mousemove --window \$wid \$2 \$3; sleep 0.3; xdotool click 1 ;;
    move) xdotool mousemove --window \$wid \$2 \$3 ;;
    key) xdotool key \$2 ;;
  esac
  sleep 0.4
done
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
if [ "$family" = surface ]; then
  grep -Eq "$expect_click" "$work/out.txt" || { echo "FAIL: no line matching $expect_click"; status=1; }
  [ "$(grep -Ec '^ +[0-9.]+ \(' "$work/out.txt")" = 1 ] || { echo "FAIL: the click in the box posted a value"; status=1; }
fi
if [ "$family" = entry ]; then
  [ -f "$work/ring.qbo" ] || { echo "FAIL: no object written"; status=1; }
fi
exit $status
