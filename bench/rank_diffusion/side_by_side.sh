#!/usr/bin/env bash
# side_by_side.sh BUILD_DIR [IMG_DIR] -- the rank filters' peers (OpenCV in-process, libvips whole
# process) and rank_diffusion_bench on the same 6000 x 4000 photo, one after the other, so that the
# figures come from one run. IMG_DIR is the peer harness's picture folder (make-images.sh; default
# $ORVEX_BENCH_IMAGES, else the harness's own default). The harness is found in PEER_BENCH_DIR,
# by default ../shared/bench beside the checkout; PYTHON is a python3 that imports cv2.
# Prints one line per cell: what, median seconds, runs.
set -euo pipefail
BUILD="${1:?build dir with bench/rank_diffusion/rank_diffusion_bench}"
IMG="${2:-${ORVEX_BENCH_IMAGES:-/tmp/orvex-bench}}"
RUNS="${RUNS:-3}"
PY="${PYTHON:-python3}"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
PEERS="${PEER_BENCH_DIR:-$ROOT/../shared/bench}/peers_py.py"
# A missing harness would otherwise surface as a Python traceback halfway through the table.
[[ -f $PEERS ]] || { echo "side_by_side.sh: no $PEERS; set PEER_BENCH_DIR" >&2; exit 1; }
BMP="$IMG/photo_6000x4000.bmp"
PPM="$IMG/photo_6000x4000.ppm"

cell() { printf '%-40s %s\n' "$1" "$(cut -f2,5 <<<"$2" | tr '\t' ' ')"; }

for r in 5 20 100; do
    cell "OpenCV medianBlur r=$r" "$("$PY" "$PEERS" inproc median OpenCV "$r" "$BMP" "$RUNS" 120)"
done
# dilate and erode with a (2r+1)-square, timed as the harness times its cells
"$PY" - "$BMP" "$RUNS" <<'PYEOF'
import statistics, sys, time
import cv2, numpy as np
img = cv2.imread(sys.argv[1], cv2.IMREAD_COLOR)
runs = int(sys.argv[2])
dst = np.empty_like(img)
for r in (5, 100):
    k = cv2.getStructuringElement(cv2.MORPH_RECT, (2 * r + 1, 2 * r + 1))
    for name, fn in (("dilate", cv2.dilate), ("erode", cv2.erode)):
        fn(img, k, dst=dst)
        t = []
        for _ in range(max(runs, 5)):
            t0 = time.perf_counter(); fn(img, k, dst=dst); t.append(time.perf_counter() - t0)
        print(f"{'OpenCV ' + name + ' ' + str(2*r+1) + 'x' + str(2*r+1):40s} {statistics.median(t):.6f} {len(t)}")
PYEOF
for r in 5 20 100; do
    w=$((2 * r + 1))
    cell "vips rank ${w}x$w median (whole process)" \
        "$("$PY" "$PEERS" cmd "$RUNS" 200 300 -- vips rank "$PPM" "$IMG/scratch-vips.ppm" "$w" "$w" $((w * w / 2)))"
done
cell "vips (load+save only)" "$("$PY" "$PEERS" cmd "$RUNS" 60 120 -- vips copy "$PPM" "$IMG/scratch-vips.ppm")"

ORVEX_BENCH_PPM="$PPM" "$BUILD/bench/rank_diffusion/rank_diffusion_bench" --benchmark_repetitions="$RUNS" \
    --benchmark_report_aggregates_only=true 2>/dev/null | grep -E '_median' |
    awk '{ printf "%-40s %.6f (cpu %s %s)\n", "Orvex " $1, $2 / 1000, $4, $5 }'
