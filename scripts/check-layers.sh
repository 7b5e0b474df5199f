#!/usr/bin/env bash
# Fails when a source file includes a header from a folder above its own in the layer order
#   platform < player, codecs < render < display, audio < driver < tools
# (folders on one floor may include each other; tests/ and bench/ stand outside the order).
# Lists every such include. Usage: scripts/check-layers.sh [TOP], TOP defaulting to the
# checkout this script lives in.
set -euo pipefail
top="${1:-$(dirname "$0")/..}"
cd "$top"

rank() {
  case "$1" in
    platform) echo 0 ;;
    player | codecs) echo 1 ;;
    render) echo 2 ;;
    display | audio) echo 3 ;;
    driver) echo 4 ;;
    tools) echo 5 ;;
    *) echo -1 ;;
  esac
}

bad=0
checked=0
while IFS= read -r -d '' file; do
  own=$(rank "${file%%/*}")
  checked=$((checked + 1))
  while IFS= read -r header; do
    theirs=$(rank "${header%%/*}")
    if [ "$theirs" -gt "$own" ]; then
      echo "$file includes $header, a layer above its own"
      bad=$((bad + 1))
    fi
  done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/p' "$file")
done < <(find platform player codecs render display audio driver tools \
              -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.inc' \) -print0)

if [ "$bad" -gt 0 ]; then
  echo "$bad include(s) reach up a layer"
  exit 1
fi
echo "layers: $checked files, no include reaches up"
