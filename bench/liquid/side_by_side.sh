#!/usr/bin/env bash
# side_by_side.sh LIQUID_BENCH [IMG_DIR] [ROUNDS]
# Liquid resizing beside liblqr on the same pictures, the two programs taking turns so that both
# see the same machine load. LIQUID_BENCH is the built bench/liquid/liquid_bench; IMG_DIR holds the
# peer harness's pictures (make-images.sh); ROUNDS turns per case (default 3). The liblqr driver is
# lqr_bench.c of the peer harness (PEER_BENCH_DIR, default ../shared/bench beside the checkout),
# built here with pkg-config lqr-1 (Debian: liblqr-1-0-dev). IMG_DIR defaults to
# $ORVEX_BENCH_IMAGES, else the harness's own default.
# Prints one row per case: medians and ranges of wall-clock seconds, and their ratio.
set -euo pipefail

ORVEX="${1:?usage: side_by_side.sh LIQUID_BENCH [IMG_DIR] [ROUNDS]}"
IMG="${2:-${ORVEX_BENCH_IMAGES:-/tmp/orvex-bench}}"
ROUNDS="${3:-3}"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
PEER="${PEER_BENCH_DIR:-$ROOT/../shared/bench}"
[[ -f $PEER/lqr_bench.c ]] || { echo "side_by_side.sh: no $PEER/lqr_bench.c; set PEER_BENCH_DIR" >&2; exit 1; }
SCRATCH="$IMG/scratch"
mkdir -p "$SCRATCH/bin"
LQR="$SCRATCH/bin/lqr_bench"
[[ -x $LQR ]] || gcc -O2 -o "$LQR" "$PEER/lqr_bench.c" $(pkg-config --cflags --libs lqr-1)

if [[ ! -f $IMG/photo_4000x6000.ppm ]]; then
    python3 - "$IMG/photo_6000x4000.ppm" "$IMG/photo_4000x6000.ppm" <<'PY'
import sys, numpy as np
data = open(sys.argv[1], 'rb').read()
fields, pos = [], 2
while len(fields) < 3:
    while data[pos:pos + 1].isspace(): pos += 1
    end = pos
    while not data[end:end + 1].isspace(): end += 1
    fields.append(int(data[pos:end])); pos = end
w, h, _ = fields
pixels = np.frombuffer(data, np.uint8, w * h * 3, pos + 1).reshape(h, w, 3)
with open(sys.argv[2], 'wb') as f:
    f.write(b'P6\n%d %d\n255\n' % (h, w))
    f.write(np.ascontiguousarray(pixels.transpose(1, 0, 2)).tobytes())
PY
fi

median() { sort -g | awk '{v[NR]=$1} END {m = NR % 2 ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2; printf "%.2f (%.2f-%.2f)", m, v[1], v[NR]}'; }
orvex_once() { # case-name -> seconds
    ORVEX_BENCH_IMAGES="$IMG" "$ORVEX" --benchmark_filter="$1\$" --benchmark_format=csv 2>/dev/null |
        awk -F, '/^"Liquid/ {t = $3; u = $5; gsub(/"/, "", u); if (u == "ms") t /= 1000; print t}'
}
lqr_once() { "$LQR" "$1" "$2" 1 600 "$3" | sed -n 's/^median_s=\([0-9.]*\).*/\1/p'; }

echo "| case | orvex s, median (range) | liblqr s, median (range) | ratio |"
echo "|---|---|---|---|"
while read -r name input width height; do
    : >"$SCRATCH/orvex.t"; : >"$SCRATCH/lqr.t"
    for ((r = 0; r < ROUNDS; r++)); do
        orvex_once "$name" >>"$SCRATCH/orvex.t"
        lqr_once "$IMG/$input" "$width" "$height" >>"$SCRATCH/lqr.t"
    done
    o=$(median <"$SCRATCH/orvex.t"); l=$(median <"$SCRATCH/lqr.t")
    ratio=$(awk -v a="${o%% *}" -v b="${l%% *}" 'BEGIN {printf "%.2f", a / b}')
    echo "| $name | $o | $l | $ratio |"
done <<'CASES'
Liquid/narrow_6000x4000_to_5400x4000/iterations:1/real_time photo_6000x4000.ppm 5400 4000
Liquid/widen_6000x4000_to_6600x4000/iterations:1/real_time photo_6000x4000.ppm 6600 4000
Liquid/lower_4000x6000_to_4000x5400/iterations:1/real_time photo_4000x6000.ppm 4000 5400
CASES
