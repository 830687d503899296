#!/usr/bin/env bash
# Counts whole-process instructions with callgrind for pcx2kob on each
# benchmark image, beside a bare program that only reads the file and writes
# it back out (the floor of any tool that reads and writes a file) and, where
# it is installed, netpbm's pcxtoppm, which only decodes. Prints one table
# with the ratios, the peak resident memory of each run and the targets.
#
#   bench/compare.sh [build-dir]      (default: build-bench)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}

command -v valgrind >/dev/null || { echo "compare.sh: needs valgrind" >&2; exit 1; }
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DPCX2KOB_TESTS=OFF >/dev/null
cmake --build "$build" --target pcx2kob >/dev/null
images=$build/bench-images
python3 "$root/bench/make_images.py" "$images"
cc -O2 -o "$build/readwrite" "$root/bench/readwrite.c"
cc -O2 -o "$build/peak_rss" "$root/bench/peak_rss.c"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# Instructions of one whole process (callgrind's total, start-up included).
instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
    sed -n 's/.*Collected : *\([0-9]*\).*/\1/p'
}
# Peak resident memory of one process, in KiB.
peak_kib() {
  "$build/peak_rss" "$@"
}

have_ppm=$(command -v pcxtoppm || true)
printf '%-14s %10s %10s %10s %8s %8s %8s %9s %9s\n' image pcx2kob bare pcxtoppm '/bare' '/ppm' 'ins/px' 'rss+KiB' target
for name in sprite-32x32 sheet-255x128 sheet-511x256 flat-511x256 noise-511x256; do
  pcx=$images/$name.pcx
  size=${name#*-}
  pixels=$(( ${size%x*} * ${size#*x} ))
  tool=$(instructions "$build/pcx2kob" -i "$pcx" -o "$out/sprite.kob" -p "$out/palette.pal")
  bare=$(instructions "$build/readwrite" "$pcx" "$out/copy.pcx")
  ppm=-
  [ -n "$have_ppm" ] && ppm=$(instructions pcxtoppm "$pcx")
  rss=$(( $(peak_kib "$build/pcx2kob" -i "$pcx" -o "$out/sprite.kob") - $(peak_kib "$build/readwrite" "$pcx" "$out/copy.pcx") ))
  case $name in
    sprite-*) limit=1.3; against=$bare ;;
    sheet-511*) limit=0.33; against=$ppm ;;
    flat-*) limit=0.2; against=$ppm ;;
    noise-*) limit=0.5; against=$ppm ;;
    *) limit=; against= ;;
  esac
  awk -v n="$name" -v t="$tool" -v b="$bare" -v p="$ppm" -v px="$pixels" -v rss="$rss" -v lim="$limit" -v a="$against" 'BEGIN {
    ratio_ppm = (p == "-") ? "-" : sprintf("%.3f", t / p)
    verdict = "-"
    if (lim != "" && a != "-") verdict = (t <= lim * a ? "ok" : "MISSED") " <=" lim
    if (rss > 1024) verdict = verdict " RSS!"
    printf "%-14s %10d %10d %10s %8.3f %8s %8.2f %9d %9s\n", n, t, b, p, t / b, ratio_ppm, (t - b) / px, rss, verdict
  }'
done
echo "ins/px: pcx2kob's instructions beyond the bare program's, per pixel (linear if the two sheets agree)."
echo "rss+KiB: pcx2kob's peak resident memory above the bare program's."
