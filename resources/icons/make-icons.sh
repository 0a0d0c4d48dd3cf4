#!/usr/bin/env bash
# Rebuilds the launcher's icons: draws the PNG masters from the pixel grids
# below, packs them into the two .ico files Narvelox.rc embeds, and renders
# 4x previews for docs/image.md. The .ico files are committed, so a build never
# needs this script; run it after changing a grid, then commit all outputs.
#   main.ico (group A_MAIN): 32x32 256 colours
#   app.ico  (group 1):      32x32 monochrome, 32x32 16 colours, 16x16 16 colours
# --keep-masters packs the existing PNGs instead of redrawing them (for masters
# touched up in an image editor).
# Needs ImageMagick's convert and icoutils' icotool.
set -euo pipefail
. "$(dirname "$0")/../../tools/common.sh"
cd "$(dirname "$0")"

# The classic 16-colour Windows palette (the subset used), as XPM colour lines.
# '.' is transparent; it becomes the icon's AND mask.
palette='. c None
k c #000000
K c #808080
s c #C0C0C0
w c #FFFFFF
t c #008080
y c #FFFF00
G c #00FF00'

# Fixed PNG metadata so redrawing unchanged grids gives byte-identical files.
png_opts=(-strip -define 'png:exclude-chunks=date,time')

# grid OUT.png < rows: one character per pixel, every row the same width.
grid() {
    awk -v pal="$palette" '
        { rows[NR] = $0
          if (length($0) != length(rows[1])) {
              print "grid row " NR " is " length($0) " wide, not " length(rows[1]) > "/dev/stderr"; bad = 1; exit 1 } }
        END { if (bad) exit 1
              n = split(pal, cols, "\n")
              print "/* XPM */\nstatic char *grid[] = {"
              printf "\"%d %d %d 1\",\n", length(rows[1]), NR, n
              for (i = 1; i <= n; i++) printf "\"%s\",\n", cols[i]
              for (i = 1; i <= NR; i++) printf "\"%s\",\n", rows[i]
              print "};" }' | convert xpm:- "${png_opts[@]}" "PNG32:$1"
}

draw_masters() {
    # A monitor whose screen has corner marks, with the mouse arrow kept inside.
    grid app-32x32-4bit.png <<'GRID'
................................
kkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkk
kwwwwwwwwwwwwwwwwwwwwwwwwwwwwwsk
kwssssssssssssssssssssssssssssKk
kwsKKKKKKKKKKKKKKKKKKKKKKKKKwsKk
kwsKtttttttttkttttttttttttttwsKk
kwsKtyyytttttkktttttttttyyytwsKk
kwsKtytttttttkwkttttttttttytwsKk
kwsKtytttttttkwwktttttttttytwsKk
kwsKtttttttttkwwwkttttttttttwsKk
kwsKtttttttttkwwwwktttttttttwsKk
kwsKtttttttttkwwwwwkttttttttwsKk
kwsKtttttttttkwwwkkkktttttttwsKk
kwsKtttttttttkwkwwktttttttttwsKk
kwsKtttttttttkktkwwkttttttttwsKk
kwsKtytttttttkttkwwkttttttytwsKk
kwsKtytttttttttttkwwktttttytwsKk
kwsKtyyyttttttttttkkttttyyytwsKk
kwsKttttttttttttttttttttttttwsKk
kwsKwwwwwwwwwwwwwwwwwwwwwwwwwsKk
kwssssssssssssssssssssssssssssKk
kwssssssssssssssssssssssssGGssKk
ksKKKKKKKKKKKKKKKKKKKKKKKKKKKKKk
kkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkk
............ksssssKk............
............ksssssKk............
............ksssssKk............
......kkkkkkkkkkkkkkkkkkkk......
......kwwwwwwwwwwwwwwwwwwk......
......kKKKKKKKKKKKKKKKKKKk......
......kkkkkkkkkkkkkkkkkkkk......
................................
GRID

    # Same picture in black and white: shading would only turn into noise.
    grid app-32x32-1bit.png <<'GRID'
................................
kkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkk
kwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwk
kwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwk
kwwkkkkkkkkkkkkkkkkkkkkkkkkkkwwk
kwwkkkkkkkkkkkkkkkkkkkkkkkkkkwwk
kwwkkwwwkkkkkkkkkkkkkkkkwwwkkwwk
kwwkkwkkkkkkkkwkkkkkkkkkkkwkkwwk
kwwkkwkkkkkkkkwwkkkkkkkkkkwkkwwk
kwwkkkkkkkkkkkwwwkkkkkkkkkkkkwwk
kwwkkkkkkkkkkkwwwwkkkkkkkkkkkwwk
kwwkkkkkkkkkkkwwwwwkkkkkkkkkkwwk
kwwkkkkkkkkkkkwwwkkkkkkkkkkkkwwk
kwwkkkkkkkkkkkwkwwkkkkkkkkkkkwwk
kwwkkkkkkkkkkkkkkwwkkkkkkkkkkwwk
kwwkkwkkkkkkkkkkkwwkkkkkkkwkkwwk
kwwkkwkkkkkkkkkkkkwwkkkkkkwkkwwk
kwwkkwwwkkkkkkkkkkkkkkkkwwwkkwwk
kwwkkkkkkkkkkkkkkkkkkkkkkkkkkwwk
kwwkkkkkkkkkkkkkkkkkkkkkkkkkkwwk
kwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwk
kwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwk
kwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwk
kkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkk
............kwwwwwwk............
............kwwwwwwk............
............kwwwwwwk............
......kkkkkkkkkkkkkkkkkkkk......
......kwwwwwwwwwwwwwwwwwwk......
......kwwwwwwwwwwwwwwwwwwk......
......kkkkkkkkkkkkkkkkkkkk......
................................
GRID

    # At 16x16 the corner marks shrink to one L each and the bezel to a pixel.
    grid app-16x16-4bit.png <<'GRID'
kkkkkkkkkkkkkkkk
kwwwwwwwwwwwwwsk
kwyyttktttttyyKk
kwytttkktttttyKk
kwttttkwktttttKk
kwttttkwwkttttKk
kwttttkwwwktttKk
kwttttkwwkktttKk
kwttttkkkwktttKk
kwytttktkktttyKk
kwyyttttttttyyKk
ksKKKKKKKKKKKKKk
kkkkkkkkkkkkkkkk
......ksKk......
...kssssssssk...
...kkkkkkkkkk...
GRID

    # The 256-colour image is the 16-colour one with the flat teal screen and
    # silver plastic replaced by vertical gradients (about 40 colours in all).
    # Each gradient goes in through a mask: white where the flat colour was.
    local flat=app-32x32-4bit.png
    convert "$flat" \
        \( -size 32x14 gradient:'#4CC0C8'-'#0A4A58' -background none -gravity north -extent 32x32-0-5 \) \
        \( "$flat" -alpha off -fill black +opaque '#008080' -fill white -opaque '#008080' \) -composite \
        \( -size 32x32 gradient:'#F8F8F8'-'#9C9C9C' \) \
        \( "$flat" -alpha off -fill black +opaque '#C0C0C0' -fill white -opaque '#C0C0C0' \) -composite \
        "${png_opts[@]}" PNG32:main-32x32-8bit.png
}

[[ ${1:-} == --keep-masters ]] || draw_masters

# -b is a minimum depth: icotool picks more bits if a master has too many
# colours, which the image check in tests/image then reports.
icotool -c -o main.ico -b 8 main-32x32-8bit.png
icotool -c -o app.ico -b 1 app-32x32-1bit.png -b 4 app-32x32-4bit.png -b 4 app-16x16-4bit.png

mkdir -p preview
for master in main-32x32-8bit app-32x32-1bit app-32x32-4bit app-16x16-4bit; do
    convert "$master.png" -filter point -resize 400% "${png_opts[@]}" "PNG32:preview/$master.png"
done
icotool -l main.ico app.ico
