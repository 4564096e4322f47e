#!/usr/bin/env bash
# batch_bench.sh -- pictures per second of orvex-cli's batch mode beside the other ways of running
# the same three steps over a folder of photos, all in one run.
#
#   ORVEX_CLI=build-release/orvex-cli bash bench/batch/batch_bench.sh
#
# Makes COUNT (200) JPEG pictures of 1920 x 1080 in WORK (/tmp/orvex-batch-bench) from
# /tmp/orvex-bench/photo_1920x1080.ppm, or from photo_6000x4000.ppm cut down to it, or from
# the output of ../shared/bench/make-images.sh (the peer harness beside the project) when neither is there; each picture is the base
# rolled by a different offset, so no two are alike. Then times, one run each:
#   batch         orvex-cli --jobs CORES --recipe steps  (one process, a picture per core)
#   one job       orvex-cli --jobs 1 on one core (taskset): the single-file throughput
#   load+save     orvex-cli --jobs CORES without steps: what decoding and encoding alone cost
#   loop          one orvex-cli call per picture, one after another (the engine on every core)
#   parallel      GNU parallel -j CORES over one orvex-cli call per picture
#   mogrify       ImageMagick's mogrify with the equivalent steps (-sharpen -modulate -resize 50%)
#   dask          examples/dask_batch.py on a LocalCluster of CORES worker processes (when the
#                 Python module is built beside ORVEX_CLI and Dask is installed); its wall time
#                 includes starting the cluster, the line after it the tasks' own rate
# The steps: Sharpen, HueSaturation=15,1.2,0, ResizeImage to half (bilinear, area average).
#
# On a shared machine that schedules by session (autogroups), a session gets its share of the
# processor whatever the number of its threads, and the wall times of one job and of many come out
# alike: compare the processor columns, or raise the session's weight for the run
# (echo -15 > /proc/self/autogroup, as root).
#
# Needs ImageMagick (convert, mogrify), GNU parallel (apt-get install -y parallel), taskset and
# GNU time (/usr/bin/time).
set -euo pipefail

CLI="${ORVEX_CLI:-build-release/orvex-cli}"
COUNT="${COUNT:-200}"
WORK="${WORK:-/tmp/orvex-batch-bench}"
CORES="$(nproc)"

for tool in convert mogrify parallel taskset /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "batch_bench.sh: needs $tool (parallel: apt-get install -y parallel)" >&2; exit 1; }
done
[[ -x "$CLI" ]] || { echo "batch_bench.sh: no orvex-cli at $CLI (set ORVEX_CLI)" >&2; exit 1; }
CLI="$(realpath "$CLI")"
SOURCE="$(cd "$(dirname "$0")/../.." && pwd)"

mkdir -p "$WORK/in"
BASE="$WORK/base_1920x1080.ppm"
if [[ ! -f "$BASE" ]]; then
    if [[ -f /tmp/orvex-bench/photo_1920x1080.ppm ]]; then
        cp /tmp/orvex-bench/photo_1920x1080.ppm "$BASE"
    else
        [[ -f /tmp/orvex-bench/photo_6000x4000.ppm ]] || bash "$SOURCE/../shared/bench/make-images.sh" /tmp/orvex-bench
        convert /tmp/orvex-bench/photo_6000x4000.ppm -resize 1920x1080^ -gravity center -extent 1920x1080 "$BASE"
    fi
fi
if [[ "$(find "$WORK/in" -name '*.jpg' | wc -l)" -ne "$COUNT" ]]; then
    rm -f "$WORK"/in/*.jpg
    seq 1 "$COUNT" | parallel -j "$CORES" \
        convert "$BASE" -roll "+\$(({}*37))+\$(({}*23))" -quality 92 "$WORK/in/photo_{}.jpg"
fi

printf 'Sharpen\nHueSaturation=15,1.2,0\nResizeImage=960,540,b\n' > "$WORK/steps.txt"
STEPS=(Sharpen HueSaturation=15,1.2,0 ResizeImage=960,540,b)

# Runs "$@" with a fresh output folder $WORK/out and prints the wall time, the pictures per second,
# the processor time (user + system, every thread and child) and the pictures per processor
# second. The machine may be shared: the processor time tells what a run cost whatever else ran.
measure() {
    local label="$1"; shift
    rm -rf "$WORK/out"; mkdir -p "$WORK/out"
    sync
    /usr/bin/time -f '%e %U %S' -o "$WORK/time.txt" "$@"
    local made
    made=$(find "$WORK/out" -name '*.jpg' | wc -l)
    [[ "$made" -eq "$COUNT" ]] || echo "batch_bench.sh: $label wrote $made of $COUNT pictures" >&2
    read -r wall user sys < "$WORK/time.txt"
    awk -v l="$label" -v w="$wall" -v u="$user" -v s="$sys" -v n="$COUNT" \
        'BEGIN { printf "%-10s %8.2f s %8.1f pictures/s %9.2f s processor %7.1f pictures/processor s\n", l, w, n / w, u + s, n / (u + s) }'
}

cd "$WORK"
echo "$COUNT JPEG pictures of 1920 x 1080, $CORES cores, steps: ${STEPS[*]}; load average $(cut -d' ' -f1-3 /proc/loadavg)"
measure batch     "$CLI" --quiet --jobs "$CORES" --recipe steps.txt in -o 'out/{stem}.jpg'
measure "one job" taskset -c 0 "$CLI" --quiet --jobs 1 --recipe steps.txt in -o 'out/{stem}.jpg'
measure load+save "$CLI" --quiet --jobs "$CORES" in -o 'out/{stem}.jpg'
measure loop      bash -c 'for f in in/*.jpg; do "$0" --quiet "$f" "out/${f#in/}" "${@}"; done' "$CLI" "${STEPS[@]}"
measure parallel  parallel -j "$CORES" "$CLI" --quiet {} out/{/} "${STEPS[@]}" ::: in/*.jpg
if [[ -f "$(dirname "$CLI")/python/orvex.py" ]] && /usr/bin/python3 -c 'import distributed' 2>/dev/null; then
    measure dask env PYTHONPATH="$(dirname "$CLI")/python" /usr/bin/python3 "$SOURCE/examples/dask_batch.py" \
        in out "${STEPS[@]}" --workers "$CORES" > "$WORK/dask.txt"
    echo "           tasks alone: $(head -1 "$WORK/dask.txt")"
fi
measure mogrify   mogrify -path out -quality 92 -sharpen 0x1 -modulate 100,120,108 -resize 50% in/*.jpg
echo "load average $(cut -d' ' -f1-3 /proc/loadavg)"
