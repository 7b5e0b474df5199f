#!/usr/bin/env bash
# picturetool from the outside: a round trip, --help, and failures that exit non-zero with
# a message and leave no output file.   picturetool_cli_test.sh PICTURETOOL SOURCE_DIR
set -uo pipefail
tool="$1"
assets="$2/assets/pictures"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # description, then the command; the command must succeed
  if ! "${@:2}" > "$work/out" 2>&1; then echo "FAILED: $1"; cat "$work/out"; failures=$((failures + 1)); fi
}
refuses() {  # description, expected exit code, message pattern, then the command
  "${@:4}" > "$work/out" 2>&1
  local rc=$?
  if [ "$rc" -ne "$2" ] || ! grep -q "$3" "$work/out"; then
    echo "FAILED: $1 (exit $rc)"; cat "$work/out"; failures=$((failures + 1))
  fi
}

check "help" "$tool" --help
grep -q "picturetool encode IN.png -o OUT.m1v" "$work/out" || { echo "FAILED: help text"; failures=$((failures + 1)); }
check "encode the sprite" "$tool" encode "$assets/sprite.png" -o "$work/sprite.m1v" --qscale 2
grep -q "32 x 32, [0-9]* bytes, quantiser scale 2, PSNR" "$work/out" || { echo "FAILED: encode report"; cat "$work/out"; failures=$((failures + 1)); }
check "decode it" "$tool" decode "$work/sprite.m1v" -o "$work/sprite.png"
check "size limit" "$tool" encode "$assets/sprite.png" -o "$work/small.m1v" --max-bytes 250 --flat-matrix
[ "$(stat -c %s "$work/small.m1v")" -le 250 ] || { echo "FAILED: --max-bytes"; failures=$((failures + 1)); }

refuses "missing input" 1 "nothing.png" "$tool" encode "$work/nothing.png" -o "$work/a.m1v"
refuses "not a stream" 1 "not a picture stream" "$tool" decode "$assets/sprite.png" -o "$work/b.png"
refuses "bad scale" 2 "qscale takes 1 to 31" "$tool" encode "$assets/sprite.png" -o "$work/c.m1v" --qscale 0
refuses "unknown option" 2 "unknown option" "$tool" encode "$assets/sprite.png" -o "$work/d.m1v" --fast
refuses "no output named" 2 "usage" "$tool" encode "$assets/sprite.png"
refuses "impossible size" 1 "needs" "$tool" encode "$assets/logo.png" -o "$work/e.m1v" --max-bytes 10
check "the logo in its role" "$tool" encode "$assets/logo.png" -o "$work/logo.m1v" --role logo --qscale 8
refuses "a sprite as the logo" 1 "sprite.png: the picture is 32 x 32, but the show's logo must be 640 x 128" \
  "$tool" encode "$assets/sprite.png" -o "$work/g.m1v" --role logo
refuses "the logo as the sprite" 1 "but the show's sprite must be 32 x 32" \
  "$tool" encode "$assets/logo.png" -o "$work/h.m1v" --role sprite
refuses "unknown role" 2 "role takes logo or sprite" "$tool" encode "$assets/logo.png" -o "$work/i.m1v" --role floor
refuses "unwritable output" 1 "cannot" "$tool" encode "$assets/sprite.png" -o "$work/no/such/dir/f.m1v"
for f in a.m1v b.png c.m1v d.m1v e.m1v g.m1v h.m1v i.m1v; do
  [ ! -e "$work/$f" ] || { echo "FAILED: $f was written"; failures=$((failures + 1)); }
done
ls "$work"/*.tmp > /dev/null 2>&1 && { echo "FAILED: temporary files left"; failures=$((failures + 1)); }
[ "$failures" -eq 0 ] && echo "all passed"
exit $((failures > 0))
