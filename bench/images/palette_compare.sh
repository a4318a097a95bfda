#!/bin/bash
# Palette reduction on real photographs: our reducer (through images_bench) beside pngquant and
# ImageMagick at 256 and 16 colours, with and without dithering, each with its time and its PSNR
# against the original.
#
# The photographs are the test pictures that Debian's python3-skimage ships; the package is only
# downloaded and unpacked, never installed, so none of its dependencies come along.
#
#   bench/images/palette_compare.sh [images_bench binary] [work folder]
#
# PSNR is taken over the red, green and blue samples of every pixel, 10 log10(255^2 / MSE): the
# benchmark computes it from the palette colours it wrote, and ImageMagick's compare computes the
# same quantity for the PNG files of the other two. Times are processor time, the best of three:
# ours is the reducer alone (palette learning and every row) inside the process; the others are
# whole runs of the command, PNG decoding and encoding included.
set -euo pipefail

bench=${1:-build/images2-bench/bench/images/images_bench}
work=${2:-/tmp/zn-palette-compare}
photos=(astronaut coffee chelsea motorcycle_left)
convert=/usr/bin/convert

mkdir -p "$work/bmp" "$work/out"
if [ ! -d "$work/skimage" ]; then
  (cd "$work" && apt-get download python3-skimage >/dev/null &&
    dpkg-deb -x python3-skimage_*.deb skimage)
fi
data=$(find "$work/skimage" -type d -path '*skimage/data' | head -n 1)
for photo in "${photos[@]}"; do
  cp "$data/$photo.png" "$work/$photo.png"
  "$convert" "$work/$photo.png" -type TrueColor "BMP3:$work/bmp/$photo.bmp"
done

# Milliseconds of processor time (user and system, every thread) of the best of three runs of a
# command; wall time would measure the other work on a shared machine as well.
best_of_three() {
  local best=""
  for _ in 1 2 3; do
    local took
    took=$( { TIMEFORMAT='%3U %3S'; time "$@" >/dev/null 2>&1; } 2>&1 | awk '{print ($1 + $2) * 1000}')
    if [ -z "$best" ] || [ "$(echo "$took < $best" | bc -l)" = 1 ]; then best=$took; fi
  done
  printf '%.1f' "$best"
}

psnr() {
  compare -metric PSNR "$1" "$2" null: 2>&1 | awk '{printf "%.2f", $1}'
}

echo "== ours (images_bench: ms of processor time, the best of three; psnr against the original)"
ZN_BENCH_PICTURES="$work/bmp" "$bench" --benchmark_filter=PaletteReduce \
  --benchmark_repetitions=3 --benchmark_counters_tabular=true 2>/dev/null |
  awk '/iterations:1 / {
         split($1, a, "/");
         key = sprintf("%-18s %-24s", $NF, "ours " 2 ^ a[3] " dither=" (a[4] + 0 ? "yes" : "no"));
         if (!(key in best) || $4 + 0 < best[key]) best[key] = $4 + 0;
         psnr[key] = $8;
       }
       END { for (key in best) printf "%s %10.1f %8.2f\n", key, best[key], psnr[key] }' |
  sort

echo "== pngquant and ImageMagick (ms of processor time of a whole run, the best of three)"
printf '%-18s %-24s %10s %8s\n' picture tool ms psnr
for photo in "${photos[@]}"; do
  in="$work/$photo.png"
  for colours in 256 16; do
    for dither in yes no; do
      out="$work/out/$photo-pngquant-$colours-$dither.png"
      args=(--speed 1 --force --output "$out")
      [ "$dither" = no ] && args+=(--nofs)
      ms=$(best_of_three pngquant "${args[@]}" "$colours" "$in")
      printf '%-18s %-24s %10s %8s\n' "$photo" "pngquant $colours dither=$dither" "$ms" "$(psnr "$in" "$out")"

      out="$work/out/$photo-magick-$colours-$dither.png"
      # -dither is a setting, so it goes before the -colors that it governs.
      margs=()
      [ "$dither" = no ] && margs+=(-dither None)
      margs+=(-colors "$colours")
      ms=$(best_of_three "$convert" "$in" "${margs[@]}" "$out")
      printf '%-18s %-24s %10s %8s\n' "$photo" "magick $colours dither=$dither" "$ms" "$(psnr "$in" "$out")"
    done
  done
done
