#!/bin/sh
# Speed of vireo-preprocess against decoding alone, measured in one run on the
# same 10,000-frame 256 x 256 Motion JPEG clip. Prints both times, frames per
# second and their ratio.
#   usage: preprocess_speed.sh [BIN_DIR]   (the build's bin folder, default build/bin)
set -eu
bin=${1:-build/bin}
frames=10000
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clip="$work/clip.avi"

"$bin/vireo-synthclip" "$clip" --frames "$frames" --size 256 > /dev/null 2>&1

now() { date +%s.%N; }

start=$(now)
gst-launch-1.0 -q filesrc location="$clip" ! avidemux ! jpegdec ! videoconvert ! \
  video/x-raw,format=BGR ! fakesink sync=false
decode=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')

start=$(now)
"$bin/vireo-preprocess" "$clip" -o "$work/clip.bmp" > /dev/null
preprocess=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')

awk -v f="$frames" -v d="$decode" -v p="$preprocess" 'BEGIN {
  printf "decode only    %7.2f s  %6.0f fps\n", d, f / d
  printf "vireo-preprocess %5.2f s  %6.0f fps\n", p, f / p
  printf "ratio          %7.2f (target at most 2.5)\n", p / d
}'
