#!/usr/bin/env bash
# Regenerates the four banner slides of the progress window (slide1.jpg ..
# slide4.jpg, resources "JPG" 129..132). The committed JPEGs are what the
# build uses; run this only to change the artwork, then commit the results.
#
# Each slide is drawn losslessly (PNG) by ImageMagick, then encode_slide.py
# tries many JPEG encodings of it (ImageMagick, libjpeg-turbo's cjpeg with
# Huffman optimisation, chroma subsampling and separate colour quality,
# guetzli, jpegtran) and keeps the smallest baseline one whose SSIM against
# the PNG is at least 0.97 (0.8 Y + 0.1 Cb + 0.1 Cr; see encode_slide.py).
#
# Needs ImageMagick 6 (`convert`, Debian package imagemagick), DejaVu Sans
# (fonts-dejavu-core), a CJK font (fonts-wqy-microhei or
# fonts-droid-fallback) for the Chinese slogans, libjpeg-turbo-progs, guetzli
# and python3-numpy (all installed by tools/setup).
#
# Every slide is a baseline JPEG, 392 x 209, 3 components (YCbCr), no
# metadata. SLIDE_SOURCES=DIR keeps the PNG sources there; SLIDE_TABLE=FILE
# writes every candidate's bytes and SSIM there.
set -euo pipefail

cd "$(dirname "$0")"

CONVERT=${CONVERT:-/usr/bin/convert}
W=392
H=209

pick_font() {
  local f
  for f in "$@"; do
    if [ -f "$f" ]; then printf '%s\n' "$f"; return 0; fi
  done
  echo "make_slides.sh: none of these fonts is installed: $*" >&2
  return 1
}

LATIN_BOLD=$(pick_font /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf)
LATIN=$(pick_font /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf)
CJK=$(pick_font /usr/share/fonts/truetype/wqy/wqy-microhei.ttc \
                /usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf)

PYTHON=${PYTHON:-/usr/bin/python3}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
sources=${SLIDE_SOURCES:-$tmp}
mkdir -p "$sources"
table=${SLIDE_TABLE:-}
if [ -n "$table" ]; then : >"$table"; fi

# make_slide OUT COLOR_A COLOR_B ACCENT SLOGAN TAGLINE
make_slide() {
  local out=$1 ca=$2 cb=$3 accent=$4 slogan=$5 tagline=$6
  local png="$sources/${out%.jpg}.png"
  "$CONVERT" -size "${W}x${H}" -define gradient:angle=120 "gradient:${ca}-${cb}" \
    -fill 'rgba(255,255,255,0.10)' -stroke none \
      -draw "circle 340,30 340,140" \
      -draw "circle 372,190 372,250" \
      -draw "circle 20,200 20,240" \
    -fill 'rgba(255,255,255,0.06)' \
      -draw "polygon 180,209 392,60 392,209" \
    -fill 'rgba(0,0,0,0.18)' -draw "circle 82,108 82,158" \
    -fill 'rgba(255,255,255,0.95)' -draw "circle 80,104 80,152" \
    -fill "$accent" -draw "polygon 66,78 66,130 108,104" \
    -fill 'rgba(255,255,255,0.55)' -draw "rectangle 150,128 190,131" \
    -fill white -font "$LATIN_BOLD" -pointsize 56 -annotate +148+104 'Vexo' \
    -fill white -font "$CJK" -pointsize 20 -annotate +150+160 "$slogan" \
    -fill 'rgba(255,255,255,0.80)' -font "$LATIN" -pointsize 12 -annotate +150+184 "$tagline" \
    -alpha off -depth 8 "PNG24:$png"

  "$PYTHON" encode_slide.py "$png" "$out" --min-ssim 0.97 ${table:+--table "$table"}
}

make_slide slide1.jpg '#1e3c9a' '#7b2ff7' '#3b4fd8' '高清流畅  随心播放' 'The video player for every format'
make_slide slide2.jpg '#ff7a18' '#d7263d' '#e8452c' '极速启动  轻巧不卡顿' 'Starts fast, stays light'
make_slide slide3.jpg '#0f9b8e' '#1c5fa8' '#138a9a' '全格式解码  一个就够' 'Plays the formats you have'
make_slide slide4.jpg '#232526' '#c2185b' '#b0175a' '免费下载  安心使用' 'Free, clean, no ads in your way'
