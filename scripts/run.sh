#!/usr/bin/env bash
# Installs what Vireo needs, builds it and runs the main job on a bundled
# sample: a synthetic capsule clip generated into out/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${VIREO_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIREO_COMPONENTS= -DVIREO_SUITES=
cmake --build "$build" -j"$(nproc)"
mkdir -p out
"$build/bin/vireo-synthclip" out/sample.avi --frames 300 --lesions bleeding,ulcer --truth out/sample-truth.csv
echo "Sample clip: $(pwd)/out/sample.avi (ground truth: $(pwd)/out/sample-truth.csv)"
