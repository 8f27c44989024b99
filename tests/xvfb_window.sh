# Sourced by the Xvfb tests: map_window prints the id of ombrel's map window
# once one is mapped and still answers a moment later. SDL may create and drop
# a window of the same name while it starts, and an id taken from that one makes
# every later "xdotool --window" fail, so callers ask again right before they
# point at the window.
map_window() {
  local i id
  for i in $(seq 200); do
    for id in $(xdotool search --onlyvisible --name '^Ombrel Map$' 2>/dev/null); do
      xdotool getwindowgeometry "$id" >/dev/null 2>&1 || continue
      sleep 0.2
      if xdotool getwindowgeometry "$id" >/dev/null 2>&1; then
        echo "$id"
        return 0
      fi
    done
    sleep 0.1
  done
  return 1
}
