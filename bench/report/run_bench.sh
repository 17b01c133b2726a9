#!/usr/bin/env bash
# Report speed: a 55,000-frame clip (256 x 256, 25 fps, 36 min 40 s) with 200
# findings spread over it, a pathology run's findings and an MDR map; prints
# the seconds vireo-report takes for the PDF and for the HTML file, their
# sizes, and the budget (10 s each).
# Usage: bench/report/run_bench.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
frames=55000
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bin/vireo-synthclip" "$work/study.avi" --frames $frames > /dev/null 2>&1
python3 - "$work" $frames <<'PY'
import struct, sys
work, frames = sys.argv[1], int(sys.argv[2])
with open(f"{work}/study.txt", "w", newline="") as f:
    f.write("Interpretation time [min]: 42\r\n")
    for i in range(200):
        f.write(f"{i * (frames - 1) // 199}\t{i // 5}\tfinding {i}\r\n")
with open(f"{work}/study_.txt", "w", newline="") as f:
    f.write("Interpretation auto ostrelection: 0\r\n")
    for frame in range(100, frames, 97):
        f.write(f"{frame}\t0\t {'Blood1' if frame % 3 else 'Ulcer1'}\r\n")
# An MDR map: one row per frame, 16 picture pixels and the measures record.
width, rows = 24, frames
stride = (3 * width + 3) // 4 * 4
with open(f"{work}/study.bmp", "wb") as f:
    f.write(b"BM" + struct.pack("<IHHI", 54 + stride * rows, 0, 0, 54))
    f.write(struct.pack("<IiiHHIIiiII", 40, width, rows, 1, 24, 0, stride * rows, 0, 0, 0, 0))
    for r in range(rows):
        record = struct.pack("<i5f", r + 1, (r % 500) / 100.0, 0, 0, 0, 0)
        f.write(bytes(48) + record + bytes(stride - 48 - len(record)))
PY
export GST_PLUGIN_PATH="$build/plugins${GST_PLUGIN_PATH:+:$GST_PLUGIN_PATH}"
for ext in pdf html; do
  start=$(date +%s.%N)
  "$build/bin/vireo-report" "$work/study.avi" -o "$work/report.$ext" > /dev/null 2>&1
  end=$(date +%s.%N)
  python3 -c "import os,sys; t=$end-$start; print(f'report.$ext: {t:.2f} s for 200 findings of $frames frames '
    f'({t/10:.2f} of the 10 s budget), {os.path.getsize(sys.argv[1])/1e6:.2f} MB')" "$work/report.$ext"
done
