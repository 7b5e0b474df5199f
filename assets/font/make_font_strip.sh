#!/usr/bin/env bash
# Makes font_strip.png (beside this script) again from DejaVu Sans Bold, the settings the
# committed strip was made with. The build checks and embeds the PNG; edit it by hand if you
# like (8-bit grey, levels 0..15 as 0, 17, ..., 255), and look at it with
#   fonttool sheet font_strip.png -o sheet.png
# Needs the fontrender tool (build target fontrender) and fonts-dejavu-core.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
fontrender="${FONTRENDER:-$here/../../build/ci/tools/font/fontrender}"
"$fontrender" /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf --size 26 --last-code 238 \
  -o "$here/font_strip.png"
