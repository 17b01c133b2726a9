#!/usr/bin/env bash
# Pictures a review session as a user sees it: the player on Xvfb (1280 x 1024)
# with Debian's openbox, a synthetic clip with its MDR map and findings.
# Usage: bash scripts/desk-screenshot.sh BUILD_DIR OUT.png
set -euo pipefail
build=$(realpath "$1")
out=$(realpath "$2")
work=$(mktemp -d)
cleanup() {
  [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null || true
  [ -n "${server:-}" ] && kill "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export GST_PLUGIN_PATH="$build/plugins" GST_REGISTRY_1_0="$work/registry.bin"
"$build/bin/vireo-synthclip" "$work/study.avi" --frames 600 --size 256 --lesions bleeding,ulcer >/dev/null
"$build/bin/vireo-preprocess" "$work/study.avi" >/dev/null
printf 'Interpretation time [min]: 3\r\n120\t1\tfold, check\r\n310\t2\tred spot\r\n' >"$work/study.txt"

# Xvfb picks a free display and writes its number once it accepts clients.
Xvfb -displayfd 4 -screen 0 1280x1024x24 -nolisten tcp 4>"$work/display" 2>/dev/null &
server=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")" QT_QPA_PLATFORM=xcb
openbox >/dev/null 2>&1 &
wm=$!
sleep 1
"$build/bin/vireo-desk-screenshot" "$work/study.avi" "$out"
