#!/usr/bin/env bash
# Counts whole-process instructions with callgrind for pcx2kob on each
# benchmark image, beside a bare program that only reads the file and writes
# it back out (the floor of any tool that reads and writes a file) and, where
# it is installed, netpbm's pcxtoppm or pngtopam, which only decode. The PNG
# rows are the same images saved as indexed PNGs; the sheet rows compile a
# sheet of 16 cells with -grid against sixteen runs on its cells cut out, and
# the bank rows a sheet of 1,024 cells with -bank against -grid's loose cells.
# Prints one table with the ratios, the peak resident memory of each run and
# the targets.
#
#   bench/compare.sh [build-dir]      (default: build-bench)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}

command -v valgrind >/dev/null || { echo "compare.sh: needs valgrind" >&2; exit 1; }
# Only the build type is set: the tests and the other benchmarks that the
# README builds in the same directory stay as they were configured.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
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

# One row: name, pcx2kob's instructions, the bare program's, the peer's (or
# -), pixels, extra resident KiB, the limit and what it is a fraction of.
row() {
  awk -v n="$1" -v t="$2" -v b="$3" -v p="$4" -v px="$5" -v rss="$6" -v lim="$7" -v a="$8" 'BEGIN {
    ratio_ppm = (p == "-") ? "-" : sprintf("%.3f", t / p)
    verdict = "-"
    if (lim != "" && a != "-") verdict = (t <= lim * a ? "ok" : "MISSED") " <=" lim
    if (rss > 1024) verdict = verdict " RSS!"
    printf "%-18s %10d %10d %10s %8.3f %8s %8.2f %9d %9s\n", n, t, b, p, t / b, ratio_ppm, (t - b) / px, rss, verdict
  }'
}

have_pcx_peer=$(command -v pcxtoppm || true)
have_png_peer=$(command -v pngtopam || true)
printf '%-18s %10s %10s %10s %8s %8s %8s %9s %9s\n' image pcx2kob bare peer '/bare' '/peer' 'ins/px' 'rss+KiB' target
for format in pcx png; do
  for name in sprite-32x32 sheet-255x128 sheet-511x256 flat-511x256 noise-511x256; do
    image=$images/$name.$format
    size=${name#*-}
    pixels=$(( ${size%x*} * ${size#*x} ))
    tool=$(instructions "$build/pcx2kob" -i "$image" -o "$out/sprite.kob" -p "$out/palette.pal")
    bare=$(instructions "$build/readwrite" "$image" "$out/copy")
    peer=-
    [ "$format" = pcx ] && [ -n "$have_pcx_peer" ] && peer=$(instructions pcxtoppm "$image")
    [ "$format" = png ] && [ -n "$have_png_peer" ] && peer=$(instructions pngtopam "$image")
    rss=$(( $(peak_kib "$build/pcx2kob" -i "$image" -o "$out/sprite.kob") - $(peak_kib "$build/readwrite" "$image" "$out/copy") ))
    case $format-$name in
      pcx-sprite-*) limit=1.3; against=$bare ;;
      pcx-sheet-511*) limit=0.33; against=$peer ;;
      pcx-flat-*) limit=0.2; against=$peer ;;
      pcx-noise-*) limit=0.5; against=$peer ;;
      png-sprite-*) limit=0.5; against=$peer ;;
      png-*-511x256) limit=0.2; against=$peer ;;
      *) limit=; against= ;;
    esac
    row "$name.$format" "$tool" "$bare" "$peer" "$pixels" "$rss" "$limit" "$against"
  done
done

# The sheet of 16 cells in one run, against the sum of sixteen single runs;
# the peer column holds that sum.
for format in pcx png; do
  sheet=$images/cells16-256x256.$format
  tool=$(instructions "$build/pcx2kob" -i "$sheet" -o "$out/cell%02d.kob" -p "$out/palette.pal" -grid 64x64)
  bare=$(instructions "$build/readwrite" "$sheet" "$out/copy")
  singles=0
  for cell in $(seq -f %02g 0 15); do
    singles=$(( singles + $(instructions "$build/pcx2kob" -i "$images/cell16-$cell.$format" -o "$out/single.kob" -p "$out/palette.pal") ))
  done
  rss=$(( $(peak_kib "$build/pcx2kob" -i "$sheet" -o "$out/cell%02d.kob" -grid 64x64) - $(peak_kib "$build/readwrite" "$sheet" "$out/copy") ))
  row "cells16.$format" "$tool" "$bare" "$singles" $(( 256 * 256 )) "$rss" 0.5 "$singles"
done
# The sheet of 1,024 cells as one bank, against the same sheet cut into
# 1,024 loose sprites with -grid; the peer column holds the loose run.
for format in pcx png; do
  sheet=$images/cells1024-1024x1024.$format
  tool=$(instructions "$build/pcx2kob" -i "$sheet" -bank "$out/cells.bnk" -p "$out/palette.pal" -grid 32x32)
  bare=$(instructions "$build/readwrite" "$sheet" "$out/copy")
  loose=$(instructions "$build/pcx2kob" -i "$sheet" -o "$out/cell%04d.kob" -p "$out/palette.pal" -grid 32x32)
  rss=$(( $(peak_kib "$build/pcx2kob" -i "$sheet" -bank "$out/cells.bnk" -grid 32x32) - $(peak_kib "$build/readwrite" "$sheet" "$out/copy") ))
  # A PNG's decoding, the same in both runs, is most of either; the target
  # is the PCX row's.
  limit=; [ "$format" = pcx ] && limit=0.5
  row "bank1024.$format" "$tool" "$bare" "$loose" $(( 1024 * 1024 )) "$rss" "$limit" "$loose"
done
echo "peer: netpbm's pcxtoppm or pngtopam; for cells16, sixteen pcx2kob runs on the cells cut out;"
echo "for bank1024, the same sheet's 1,024 cells written as loose sprites with -grid."
echo "ins/px: pcx2kob's instructions beyond the bare program's, per pixel (linear if the two sheets agree)."
echo "rss+KiB: pcx2kob's peak resident memory above the bare program's."
