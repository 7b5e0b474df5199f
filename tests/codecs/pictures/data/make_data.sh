#!/usr/bin/env bash
# Makes the conformance data of the picture decoder once; the results are committed and
# neither ffmpeg nor this script runs in the build or the tests.
#
#   tests/codecs/pictures/data/make_data.sh path/to/picturetool
#
# Needs Debian's ffmpeg (apt-get install ffmpeg) and python3. For every case it writes
# streams/NAME.m1v and planes/NAME.yuv (ffmpeg's own decoding of the stream: Y, then Cb,
# then Cr, 8 bits each) and a line "NAME WIDTH HEIGHT" in cases.txt.
#   ff-*   streams from ffmpeg's MPEG-1 encoder: one slice (one thread) or several slices
#          over several macroblock rows (two threads), quantiser scales 2 and 8, and one
#          rate-controlled stream with luminance masking (intra-with-quantiser macroblocks)
#   our-*  streams from picturetool; ffmpeg must decode them without a single message
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
picturetool="$(realpath "${1:?usage: make_data.sh path/to/picturetool}")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$here"
rm -rf streams planes
mkdir -p streams planes
: > cases.txt

source_png() {  # name w h -> name-wxh.png in the work folder
  python3 make_sources.py "$1" "$2" "$3" "$work/$1.rgb"
  ffmpeg -v error -y -f rawvideo -pix_fmt rgb24 -s "$2x$3" -i "$work/$1.rgb" "$work/$1-$2x$3.png"
}

reference() {  # name w h: ffmpeg's decoding of streams/name.m1v, refusing any message
  local log="$work/$1.log"
  ffmpeg -nostdin -hide_banner -loglevel warning -flags +bitexact -threads 1 -f mpegvideo -i "streams/$1.m1v" \
    -f rawvideo -pix_fmt yuv420p -y "planes/$1.yuv" 2> "$log"
  # The demuxer's guess at a duration is about the container, not the picture.
  if grep -v "Estimating duration from bitrate" "$log" | grep -q .; then
    echo "ffmpeg complained about streams/$1.m1v:" >&2; cat "$log" >&2; exit 1
  fi
  local expected=$(( $2 * $3 * 3 / 2 ))
  [ "$(stat -c %s "planes/$1.yuv")" -eq "$expected" ] || { echo "planes/$1.yuv has the wrong size" >&2; exit 1; }
  echo "$1 $2 $3" >> cases.txt
}

ff_case() {  # name source w h threads options...
  local name="$1" src="$2" w="$3" h="$4" threads="$5"; shift 5
  ffmpeg -v error -y -i "$work/$src-${w}x$h.png" -frames:v 1 -r 25 -c:v mpeg1video -g 1 -bf 0 \
    -flags +bitexact -threads "$threads" "$@" -f mpeg1video "streams/$name.m1v"
  reference "$name" "$w" "$h"
}

source_png gradient 160 128
source_png noise 64 48
source_png stripes 96 64
source_png dark 32 32
source_png dark 640 128

for q in 2 8; do
  ff_case "ff-gradient-q$q-1slice" gradient 160 128 1 -q:v "$q"
  ff_case "ff-gradient-q$q-slices" gradient 160 128 2 -q:v "$q"
  ff_case "ff-noise-q$q-1slice" noise 64 48 1 -q:v "$q"
  ff_case "ff-stripes-q$q-slices" stripes 96 64 2 -q:v "$q"
  ff_case "ff-dark-q$q-1slice" dark 32 32 1 -q:v "$q"
done
ff_case ff-gradient-masked gradient 160 128 1 -b:v 300k -qmin 2 -qmax 20 -lumi_mask 0.5 -dark_mask 0.5

our_case() {  # name source w h picturetool options...
  local name="$1" src="$2" w="$3" h="$4"; shift 4
  "$picturetool" encode "$work/$src-${w}x$h.png" -o "streams/$name.m1v" "$@" > /dev/null
  reference "$name" "$w" "$h"
}
our_case our-gradient-q2 gradient 160 128 --qscale 2 --no-adaptive
our_case our-gradient-q8-adaptive gradient 160 128 --qscale 8
our_case our-noise-q2-flat noise 64 48 --qscale 2 --flat-matrix
our_case our-stripes-q8-adaptive stripes 96 64 --qscale 8
our_case our-dark-640x128 dark 640 128 --qscale 4
echo "wrote $(wc -l < cases.txt) cases"
