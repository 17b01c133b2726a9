#!/usr/bin/env bash
# Playback rate: makes a 30,000-frame 25 fps clip (256 x 256) and plays it in
# the player for 10 s at the rates 0.5, 2 and 8 and under Automatic Rate
# Control, printing frames advanced per wall second against the rate shown.
# Usage: bench/player/rate_bench.sh [BUILD_DIR] [CLIP]
# A CLIP given is used as it is (its map, same name ".bmp", is written when
# missing); otherwise the clip is made in a temporary folder (about a minute).
set -euo pipefail
build=${1:-build}
clip=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [[ -z $clip ]]; then
  clip=$work/long.avi
  "$build/bin/vireo-synthclip" "$clip" --frames 30000 --fps 25 > /dev/null
fi
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export GST_PLUGIN_PATH="$build/plugins${GST_PLUGIN_PATH:+:$GST_PLUGIN_PATH}"
"$build/bin/vireo-bench-rate" "$clip" 10 2> >(grep -v "does not support raise" >&2)
