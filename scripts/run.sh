#!/usr/bin/env bash
# Installs what Vireo needs, builds it, generates a sample capsule clip and
# opens it in the player. Without a display it runs the headless tools on the
# sample instead and says where their output lies.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${VIREO_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIREO_COMPONENTS= -DVIREO_SUITES=
cmake --build "$build" -j"$(nproc)"
mkdir -p out
"$build/bin/vireo-synthclip" out/sample.avi --frames 300 --lesions bleeding,ulcer --truth out/sample-truth.csv
echo "Sample clip: $(pwd)/out/sample.avi (ground truth: $(pwd)/out/sample-truth.csv)"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "Opening the sample in the player."
  exec "$build/bin/vireo-player" "$(pwd)/out/sample.avi"
fi
echo "No display: running the headless tools on the sample instead of the player."
"$build/bin/vireo-preprocess" out/sample.avi -o out/sample.bmp
"$build/bin/vireo-detect" out/sample.avi -o out/sample_.avi -f out/sample_.txt
echo "MDR map: $(pwd)/out/sample.bmp"
echo "Findings: $(pwd)/out/sample_.txt"
echo "Video with pathology markers: $(pwd)/out/sample_.avi"
