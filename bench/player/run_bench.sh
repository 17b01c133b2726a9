#!/usr/bin/env bash
# Player speed: makes a 10,000-frame clip (256 x 256, 25 fps) and prints the
# medians of "open to first frame painted" and "seek to frame painted".
# Usage: bench/player/run_bench.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bin/vireo-synthclip" "$work/long.avi" --frames 10000 > /dev/null 2>&1
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export GST_PLUGIN_PATH="$build/plugins${GST_PLUGIN_PATH:+:$GST_PLUGIN_PATH}"
VIREO_BENCH_CLIP="$work/long.avi" "$build/bin/vireo-bench-player" --benchmark_format=console 2>&1 \
  | grep -E "Benchmark|----|_median|_mean|_stddev|Failed|Error"
