#!/usr/bin/env bash
# Draws the program's images (toolbar 48x48, tree and log 16x16, frame icon, About banner)
# into src/gui/res/images. The PNGs are committed; run this only to change them.
set -euo pipefail
out="$(cd "$(dirname "$0")/.." && pwd)/src/gui/res/images"
mkdir -p "$out"
c() { convert -size "$1" -define png:exclude-chunks=date,time xc:none "${@:2}"; }

c 48x48 -fill '#f6d57a' -stroke '#8a6a1a' -strokewidth 2 -draw "rectangle 8,6 36,42" \
  -stroke '#3b4a5a' -strokewidth 2 -draw "line 13,14 31,14" -draw "line 13,20 31,20" \
  -draw "line 13,26 25,26" -fill '#2e8b57' -stroke none -draw "polygon 30,28 44,28 37,40" \
  -draw "rectangle 34,18 40,29" "$out/tb_load.png"
c 48x48 -fill '#4a6fa5' -stroke '#22344f' -strokewidth 2 -draw "roundrectangle 6,6 42,42 3,3" \
  -fill '#e8eef6' -stroke none -draw "rectangle 12,8 36,22" -fill '#22344f' \
  -draw "rectangle 14,28 34,40" -fill '#c9d3df' -draw "rectangle 27,30 31,38" "$out/tb_save.png"
c 48x48 -fill '#5fa8e8' -stroke '#23527c' -strokewidth 2 -draw "circle 20,20 20,4" \
  -stroke '#23527c' -strokewidth 1 -fill none -draw "ellipse 20,20 7,16 0,360" \
  -draw "line 4,20 36,20" -strokewidth 5 -stroke '#3b4a5a' -draw "line 31,31 43,43" "$out/tb_discover.png"
c 48x48 -fill '#dfe6ee' -stroke '#3b4a5a' -strokewidth 2 -draw "roundrectangle 4,10 44,38 4,4" \
  -fill '#2e8b57' -stroke none -font DejaVu-Sans-Bold -pointsize 13 -draw "text 8,29 '1.2.3'" "$out/tb_scan.png"
c 48x48 -fill '#dfe6ee' -stroke '#3b4a5a' -strokewidth 2 -draw "roundrectangle 3,14 21,34 2,2" \
  -draw "roundrectangle 27,14 45,34 2,2" -draw "line 12,34 12,40" -draw "line 36,34 36,40" \
  -draw "line 12,40 36,40" -fill '#2e8b57' -stroke none -draw "rectangle 21,3 27,21" \
  -draw "rectangle 15,9 33,15" "$out/tb_domain.png"
c 48x48 -fill '#e9b949' -stroke '#8a6a1a' -strokewidth 2 \
  -draw "path 'M 5,14 L 18,14 L 22,18 L 43,18 L 43,40 L 5,40 Z'" -fill '#f6d57a' -stroke none \
  -draw "rectangle 7,22 41,38" -fill '#3b4a5a' -draw "polygon 20,24 30,30 20,36" "$out/tb_folder.png"
c 48x48 -fill '#ffffff' -stroke '#3b4a5a' -strokewidth 2 -draw "rectangle 6,4 28,32" \
  -fill '#e8eef6' -draw "rectangle 18,16 40,44" -stroke '#5fa8e8' -draw "line 22,24 36,24" \
  -draw "line 22,30 36,30" -draw "line 22,36 32,36" "$out/tb_copy.png"
c 48x48 -fill '#4a6fa5' -stroke '#22344f' -strokewidth 2 -draw "circle 24,24 24,4" \
  -fill white -stroke none -font DejaVu-Sans-Bold -pointsize 28 -gravity center -draw "text 0,1 '?'" "$out/tb_help.png"

# Tree icons, 16x16: network, domain, server, share.
c 16x16 -fill '#5fa8e8' -stroke '#23527c' -draw "circle 8,8 8,1" -fill none -draw "ellipse 8,8 3,7 0,360" \
  -draw "line 1,8 15,8" "$out/tree_network.png"
c 16x16 -fill '#dfe6ee' -stroke '#3b4a5a' -draw "rectangle 0,3 6,9" -draw "rectangle 9,3 15,9" \
  -draw "line 3,10 3,13" -draw "line 12,10 12,13" -draw "line 3,13 12,13" "$out/tree_domain.png"
c 16x16 -fill '#dfe6ee' -stroke '#3b4a5a' -draw "rectangle 1,1 14,10" -fill '#5fa8e8' -stroke none \
  -draw "rectangle 3,3 12,8" -fill '#3b4a5a' -draw "rectangle 6,11 9,12" -draw "rectangle 3,13 12,14" "$out/tree_server.png"
c 16x16 -fill '#e9b949' -stroke '#8a6a1a' -draw "path 'M 1,3 L 6,3 L 8,5 L 15,5 L 15,13 L 1,13 Z'" \
  -fill '#3b4a5a' -stroke none -draw "rectangle 6,13 9,15" "$out/tree_share.png"
# Results rows without a theme icon: a file and a folder, 16x16.
c 16x16 -fill '#ffffff' -stroke '#3b4a5a' -draw "path 'M 3,1 L 10,1 L 13,4 L 13,15 L 3,15 Z'" \
  -draw "line 10,1 10,4" -draw "line 10,4 13,4" "$out/file.png"
c 16x16 -fill '#e9b949' -stroke '#8a6a1a' -draw "path 'M 1,3 L 6,3 L 8,5 L 15,5 L 15,13 L 1,13 Z'" "$out/folder.png"
# Log icon, 16x16.
c 16x16 -fill '#ffffff' -stroke '#3b4a5a' -draw "rectangle 2,1 13,14" -stroke '#5fa8e8' \
  -draw "line 4,4 11,4" -draw "line 4,7 11,7" -draw "line 4,10 9,10" "$out/log.png"
# Frame icon, 64x64, and the About banner.
c 64x64 -fill '#4a6fa5' -stroke '#22344f' -strokewidth 2 -draw "roundrectangle 2,2 61,61 10,10" \
  -fill '#f6d57a' -stroke '#8a6a1a' -draw "path 'M 10,20 L 24,20 L 28,25 L 52,25 L 52,50 L 10,50 Z'" \
  -fill none -stroke white -strokewidth 4 -draw "circle 38,36 38,28" -draw "line 44,42 54,52" "$out/brindlecove.png"
convert -size 240x56 gradient:'#22344f-#4a6fa5' -fill white -font DejaVu-Sans-Bold -pointsize 26 \
  -draw "text 14,38 'Brindlecove'" "$out/banner.png"
# Busy animation frames (discovery), 40x40.
for i in 0 1 2 3 4 5 6 7; do
  a=$((i * 45))
  c 40x40 -fill none -stroke '#c9d3df' -strokewidth 5 -draw "circle 20,20 20,6" \
    -stroke '#4a6fa5' -draw "arc 6,6 34,34 $a,$((a + 100))" "$out/busy$i.png"
done
echo "images written to $out"
