#!/usr/bin/env bash
# Draws every picture of the program with ImageMagick (no outside images) into
# resources/images/. The pictures are committed; run this only to change them.
# The motif throughout: a few partner nodes joined by links around a hub.
set -euo pipefail
cd "$(dirname "$0")/images"

# Keep the output byte-stable between runs: no time stamps, no comments.
png_opts=(-strip -define png:exclude-chunks=date,time)
jpeg_opts=(-strip -sampling-factor 4:2:0 -interlace none)

sans_bold=DejaVu-Sans-Bold
sans=DejaVu-Sans

dark='#1d4e89'
light='#3aa0d8'
accent='#f2a900'

# Draw primitives for six partner nodes linked to a hub and to each other,
# centred on (cx, cy) with radius r; nodes use $node_colour.
network() {
  local cx=$1 cy=$2 r=$3 node=$4 stroke=$5 width=$6
  local draw="stroke $stroke stroke-width $width fill none"
  local points=() angle x y
  for angle in 0 60 120 180 240 300; do
    x=$(awk -v c="$cx" -v r="$r" -v a="$angle" 'BEGIN { printf "%.1f", c + r * cos((a + 30) * 3.14159265 / 180) }')
    y=$(awk -v c="$cy" -v r="$r" -v a="$angle" 'BEGIN { printf "%.1f", c + r * sin((a + 30) * 3.14159265 / 180) }')
    points+=("$x,$y")
    draw+=" line $cx,$cy $x,$y"
  done
  local i
  for i in 0 1 2 3 4 5; do
    draw+=" line ${points[$i]} ${points[$(((i + 1) % 6))]}"
  done
  draw+=" stroke none fill $accent circle $cx,$cy $(awk -v c="$cx" -v n="$node" 'BEGIN { printf "%.1f", c + n * 1.4 }'),$cy"
  for x in "${points[@]}"; do
    local px=${x%,*} py=${x#*,}
    draw+=" fill $node_colour circle $px,$py $(awk -v c="$px" -v n="$node" 'BEGIN { printf "%.1f", c + n }'),$py"
  done
  printf '%s' "$draw"
}

# Main window banner, 500 x 65.
node_colour=white
convert -size 500x65 gradient:"$dark"-"$light" -rotate 90 -resize 500x65\! \
  -draw "$(network 34 32 22 4 'rgba(255,255,255,0.8)' 1.5)" \
  -font "$sans_bold" -pointsize 30 -fill white -annotate +72+38 'Kelvora' \
  -font "$sans" -pointsize 13 -fill 'rgba(255,255,255,0.9)' -annotate +74+56 'Joint-venture partner finder' \
  -font "$sans" -pointsize 12 -fill 'rgba(255,255,255,0.75)' -gravity east -annotate +14+0 'Find the sites that fit your business' \
  "${jpeg_opts[@]}" -quality 85 banner.jpg

# About box title, 246 x 32, on the white panel.
node_colour="$dark"
convert -size 246x32 xc:white \
  -draw "$(network 17 16 11 2.5 "$light" 1)" \
  -font "$sans_bold" -pointsize 20 -fill "$dark" -annotate +38+23 'Kelvora' \
  -font "$sans" -pointsize 10 -fill "$light" -annotate +138+22 'JV partner finder' \
  "${jpeg_opts[@]}" -quality 88 about_title.jpg

# About box picture, 115 x 157.
node_colour=white
convert -size 157x115 gradient:"$light"-"$dark" -rotate 90 \
  -draw "$(network 57 62 38 6 'rgba(255,255,255,0.85)' 2)" \
  -font "$sans_bold" -pointsize 14 -fill white -gravity south -annotate +0+12 'Partners' \
  "${jpeg_opts[@]}" -quality 85 about_picture.jpg

# Button glyphs, 20 x 20 on a transparent background.
convert -size 20x20 xc:none -fill '#2e9b3a' -stroke '#1c6b25' -draw 'polygon 5,3 17,10 5,17' \
  "${png_opts[@]}" PNG32:start.png
convert -size 20x20 xc:none -fill '#d33a2c' -stroke '#8e2118' -draw 'roundrectangle 4,4 15,15 2,2' \
  "${png_opts[@]}" PNG32:stop.png
convert -size 20x20 xc:none -fill white -stroke "$dark" -draw 'rectangle 4,2 15,17' \
  -stroke "$light" -draw 'line 6,6 13,6 line 6,9 13,9 line 6,12 11,12' \
  -fill "$accent" -stroke '#9c6d00' -draw 'polygon 11,12 18,12 14.5,18' \
  "${png_opts[@]}" PNG32:getdata.png
convert -size 20x20 xc:none -fill 'rgba(58,160,216,0.35)' -stroke "$dark" -strokewidth 2 -draw 'circle 8,8 8,2' \
  -strokewidth 3 -draw 'line 12,12 18,18' \
  "${png_opts[@]}" PNG32:research.png
convert -size 20x20 xc:none -stroke '#d33a2c' -strokewidth 3 -draw 'line 4,4 15,15 line 15,4 4,15' \
  "${png_opts[@]}" PNG32:cancel.png

# Menu pictures, 16 x 16: 0 spare (a partner node), 1 Exit, 2 Save, 3 Open,
# 4 Help contents, 5 Visit website, 6 About.
convert -size 16x16 xc:none -fill "$accent" -stroke '#9c6d00' -draw 'circle 7.5,7.5 7.5,2.5' \
  "${png_opts[@]}" PNG32:menu0.png
convert -size 16x16 xc:none -fill '#c9a46b' -stroke '#6b4f24' -draw 'rectangle 2,1 9,14' \
  -stroke '#d33a2c' -strokewidth 2 -draw 'line 7,8 14,8 line 11,5 14,8 line 11,11 14,8' \
  "${png_opts[@]}" PNG32:menu1.png
convert -size 16x16 xc:none -fill "$dark" -stroke '#0f2c50' -draw 'rectangle 1,1 14,14' \
  -stroke none -fill white -draw 'rectangle 4,2 11,6' -fill '#9fb8d6' -draw 'rectangle 4,9 11,14' \
  "${png_opts[@]}" PNG32:menu2.png
convert -size 16x16 xc:none -fill '#e8b84a' -stroke '#9c6d00' -draw 'polygon 1,3 6,3 7,5 14,5 14,13 1,13' \
  -fill '#f6d88a' -draw 'polygon 3,7 15,7 13,13 1,13' \
  "${png_opts[@]}" PNG32:menu3.png
convert -size 16x16 xc:none -fill "$light" -stroke "$dark" -draw 'circle 7.5,7.5 7.5,0.5' \
  -font "$sans_bold" -pointsize 11 -stroke none -fill white -gravity center -annotate +0+0 '?' \
  "${png_opts[@]}" PNG32:menu4.png
convert -size 16x16 xc:none -fill '#bfe3f6' -stroke "$dark" -draw 'circle 7.5,7.5 7.5,1' \
  -fill none -draw 'ellipse 7.5,7.5 3,6.5 0,360 line 1,7.5 14,7.5 line 2.5,4.5 12.5,4.5 line 2.5,10.5 12.5,10.5' \
  "${png_opts[@]}" PNG32:menu5.png
convert -size 16x16 xc:none -fill "$dark" -stroke none -draw 'circle 7.5,7.5 7.5,0.5' \
  -fill white -draw 'circle 7.5,4 7.5,2.8 rectangle 6.5,6.5 8.5,12' \
  "${png_opts[@]}" PNG32:menu6.png

# Application icon, 128 x 128.
node_colour=white
convert -size 128x128 gradient:"$light"-"$dark" \
  \( -size 128x128 xc:black -fill white -draw 'roundrectangle 4,4 123,123 22,22' \) \
  -alpha off -compose CopyOpacity -composite -compose Over \
  -draw "$(network 64 64 40 8 'rgba(255,255,255,0.85)' 4)" \
  "${png_opts[@]}" PNG32:kelvora.png
