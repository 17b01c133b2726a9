#!/bin/sh
# Speed of the headless pathology run against decoding alone, on one
# synthetic clip: prints both times, frames per second and their ratio.
#
#   bench/ostrel/detect_speed.sh BUILD_DIR [FRAMES]
#
# BUILD_DIR holds bin/vireo-synthclip, bin/vireo-detect and plugins/. Needs
# /usr/bin/time (Debian package time).
set -eu

build=${1:?usage: detect_speed.sh BUILD_DIR [FRAMES]}
frames=${2:-10000}
bin=$build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
export GST_PLUGIN_PATH="$build/plugins"
export GST_REGISTRY_1_0="$work/registry.bin"

clip=$work/clip.avi
"$bin/vireo-synthclip" "$clip" --frames "$frames" --size 256 --lesions bleeding,ulcer >/dev/null

# Wall and CPU seconds of a command, as "WALL CPU"; CPU time is the fairer
# figure on a loaded machine.
measure() {
  /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null
  awk '{ print $1, $2 + $3 }' "$work/time"
}

# Decoding only: the detector's input path, down to 24-bit frames.
decode=$(measure gst-launch-1.0 -q filesrc location="$clip" ! avidemux ! decodebin ! videoconvert ! \
  video/x-raw,format=BGR ! fakesink sync=false)
detect=$(measure "$bin/vireo-detect" "$clip" -o "$work/marked.avi" -f "$work/findings.txt")

echo "$decode $detect" | awk -v n="$frames" '{
  printf "frames            %d (256 x 256)\n", n
  printf "decode only       %.2f s wall  %.2f s CPU  %.0f frames/s\n", $1, $2, n / $1
  printf "vireo-detect      %.2f s wall  %.2f s CPU  %.0f frames/s\n", $3, $4, n / $3
  printf "ratio             %.2f wall  %.2f CPU\n", $3 / $1, $4 / $2
}'
