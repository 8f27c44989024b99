#!/bin/sh
# Draws the shipped land (land110m.rgn) on a 4096 x 2050 plate carree map,
# saves it, and turns it into world.tgxm beside the programs: 32 bands
# spaced like Mercator between 85S and 85N, 256-pixel raw tiles.
set -e
bin=$1
work=$(mktemp -d "$bin/.world_tileset.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$bin/ombrel" "$bin/land110m.rgn" "$work/"
for f in "$bin"/*.vix "$bin"/*.oin "$bin"/*.html "$bin"/*.mrk "$bin"/*.sat "$bin"/*.rcv "$bin"/*.bmp "$bin"/coast.*; do [ -e "$f" ] && cp "$f" "$work/"; done
cat > "$work/land.omb" <<'OMB'
ImportRset land land110m.rgn
MapFieldSize 4096 2050
Geometry N0 E0 -1 wwpltcrr
Clear LightSteelBlue
DisplayArea land DarkKhaki
SaveBitmap land.png
OMB
(cd "$work" && SDL_VIDEODRIVER=dummy ./ombrel --batch land.omb >land.log 2>&1) || { cat "$work/land.log"; exit 1; }
"$bin/maketileset" "$work/land.png" "$work/world.tgxm" --bands mercator --count 32 --south -85 --north 85 --height 1024 --map-centre 0
mv "$work/world.tgxm" "$bin/world.tgxm"
