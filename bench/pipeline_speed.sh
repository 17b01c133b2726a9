#!/bin/sh
# Speed of the headless analysis runs against decoding alone, measured in one
# run on the same synthetic 256 x 256 Motion JPEG clip with lesions:
# vireo-preprocess (MDR map), vireo-detect with its marked clip, and
# vireo-detect --findings-only. Each is timed for every thread count given
# (VIREO_THREADS), next to a decode-only run of the same moment, and printed
# with its ratio to that decode run, its CPU time and its peak resident size.
#
#   bench/pipeline_speed.sh [-t THREADS]... BUILD_DIR [FRAMES]
#
# Without -t: 1, 2 and all processors. FRAMES defaults to 10000. Needs
# /usr/bin/time (Debian package time).
set -eu

threads=""
while getopts t: option; do
  case $option in
    t) threads="$threads $OPTARG" ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
build=${1:?usage: pipeline_speed.sh [-t THREADS]... BUILD_DIR [FRAMES]}
frames=${2:-10000}
[ -n "$threads" ] || threads=$(printf '%s\n' 1 2 "$(nproc)" | sort -nu)

bin=$build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
export GST_PLUGIN_PATH="$build/plugins"
export GST_REGISTRY_1_0="$work/registry.bin"
clip=$work/clip.avi
"$bin/vireo-synthclip" "$clip" --frames "$frames" --size 256 --lesions bleeding,ulcer >/dev/null 2>&1

# Prints "WALL CPU RSS_MB" of a command; CPU time is the fairer figure on a
# loaded machine.
measure() {
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>&1
  awk '{ print $1, $2 + $3, $4 / 1024 }' "$work/time"
}
decode() {
  measure gst-launch-1.0 -q filesrc location="$clip" ! avidemux ! decodebin ! videoconvert ! \
    video/x-raw,format=BGR ! fakesink sync=false
}

echo "clip: $frames frames, 256 x 256 Motion JPEG; $(nproc) processors; load $(cut -d' ' -f1 /proc/loadavg)"
printf '%-7s %-24s %7s %7s %8s %11s %10s %7s\n' threads run "wall s" "CPU s" frames/s "wall ratio" "CPU ratio" "RSS MB"
for t in $threads; do
  export VIREO_THREADS="$t"
  base=$(decode)
  row() {
    echo "$base $2" | awk -v t="$t" -v name="$1" -v n="$frames" '{
      printf "%-7s %-24s %7.2f %7.2f %8.0f %11.2f %10.2f %7.0f\n", t, name, $4, $5, n / $4, $4 / $1, $5 / $2, $6 }'
  }
  row "decode only" "$base"
  row vireo-preprocess "$(measure "$bin/vireo-preprocess" "$clip" -o "$work/map.bmp")"
  row "vireo-detect" "$(measure "$bin/vireo-detect" "$clip" -o "$work/marked.avi" -f "$work/findings.txt")"
  row "vireo-detect findings" "$(measure "$bin/vireo-detect" "$clip" --findings-only -f "$work/findings.txt")"
done
