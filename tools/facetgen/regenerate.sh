#!/usr/bin/env bash
# Feature tables of the labelled real frames, made by vireo-detect itself,
# then the facet-table learner on them.
#
#   regenerate.sh BIN_DIR DATA_DIR --write TABLES.cpp      learn and write
#   regenerate.sh BIN_DIR DATA_DIR --check TABLES.cpp      learn and compare
#   regenerate.sh BIN_DIR DATA_DIR --cross-validate        held-out figures
#   regenerate.sh BIN_DIR DATA_DIR --evaluate TABLES.cpp   figures of TABLES
#
# BIN_DIR holds vireo-detect; DATA_DIR holds wcebleedgen/ and
# kvasir-capsule-polyp/ (their READMEs say what they are); without them the
# script exits with 77, which the test suite reports as skipped.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$1 data=$2
shift 2
bleed=$data/wcebleedgen
polyp=$data/kvasir-capsule-polyp
for f in "$bleed/train-bleeding.avi" "$bleed/train-nonbleeding.avi" "$bleed/train-labels.csv"; do
  [ -r "$f" ] || { echo "regenerate.sh: $f is missing" >&2; exit 77; }
done
python=
for p in "${PYTHON:-}" /usr/bin/python3 python3; do
  if [ -n "$p" ] && "$p" -c 'import numpy, scipy' 2>/dev/null; then python=$p; break; fi
done
[ -n "$python" ] || { echo "regenerate.sh: no python3 with NumPy and SciPy" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The polyp run as the detector meets video: an MJPEG clip at the grid's 256 x 256.
first=$(ls "$polyp" | grep -m1 '\.jpg$')
stem=${first%_*}
numbers=$(ls "$polyp" | sed -n "s/^${stem}_\([0-9]*\)\.jpg$/\1/p" | sort -n)
gst-launch-1.0 -q multifilesrc location="$polyp/${stem}_%05d.jpg" \
  start-index="$(echo "$numbers" | head -1)" stop-index="$(echo "$numbers" | tail -1)" \
  caps="image/jpeg,framerate=2/1" ! jpegdec ! videoscale ! video/x-raw,width=256,height=256 ! \
  videoconvert ! jpegenc quality=95 ! avimux ! filesink location="$work/polyp.avi"

features=()
for clip in "$bleed/train-bleeding.avi" "$bleed/train-nonbleeding.avi" "$work/polyp.avi"; do
  name=$(basename "$clip" .avi)
  "$bin/vireo-detect" "$clip" -o "$work/$name.marked.avi" -f "$work/$name.txt" \
    --features "$work/$name.csv" >/dev/null
  features+=("$work/$name.csv")
done
"$python" "$here/facetgen.py" --features "${features[@]}" --labels "$bleed/train-labels.csv" \
  --normal polyp.avi "$@"
