#!/usr/bin/env bash
# trackloom encode against the ffmpeg commands doing the same FFmpeg work, on the same
# inputs in the same run:
#
#   ffmpeg -i INPUT -vf <trackloom's own filter chain> -pix_fmt bgra -f rawvideo -y /dev/null
#   ffmpeg -i INPUT -vn -ac 2 -ar 17640 -c:a pcm_u8 -y sound.wav
#
# Clips (made here once, kept in the work directory): 60 s of 1280x720 H.264 + AAC at
# 30 fps, and 10 s of 1920x1080 H.264 + AAC at 30 fps. Each command runs RUNS times,
# alternating, and the fastest run of each counts, which keeps other load on the
# machine out of the ratio as far as possible; the ratio of CPU time (user + system,
# fastest runs too) is printed beside it, as it hardly depends on that load. Peak
# memory is the largest resident set /usr/bin/time -v reports for trackloom.
#
# Targets: trackloom's wall time at most 1.10 x the two ffmpeg commands' together;
# peak memory at most 100 MB.
#
#   bench/cli_vs_ffmpeg.sh [TRACKLOOM] [WORKDIR]
#   RUNS=5 bench/cli_vs_ffmpeg.sh
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
trackloom="${1:-$root/build/native/cli/trackloom}"
work="${2:-$root/build/bench-cli}"
runs="${RUNS:-5}"

if [ ! -x "$trackloom" ]; then
  echo "cli_vs_ffmpeg: no trackloom command at $trackloom; build it first:" >&2
  echo "  cmake --preset native && cmake --build build/native --target trackloom" >&2
  exit 2
fi
for tool in ffmpeg /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "cli_vs_ffmpeg: $tool is missing (scripts/install-deps)" >&2; exit 2; }
done
mkdir -p "$work"

make_clip() {  # name size seconds
  local clip="$work/$1"
  [ -s "$clip" ] && return
  echo "making $1 ($2, $3 s)..." >&2
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=$2:rate=30:duration=$3" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$3" \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -b:a 128k -shortest "$clip.part.mp4"
  mv "$clip.part.mp4" "$clip"
}
make_clip clip-720p-60s.mp4 1280x720 60
make_clip clip-1080p-10s.mp4 1920x1080 10

# Runs a command under /usr/bin/time -v; prints "wall_seconds peak_kb cpu_seconds".
measure() {
  local log="$work/time.log"
  /usr/bin/time -v -o "$log" "$@" >/dev/null 2>"$work/stderr.log" || {
    echo "cli_vs_ffmpeg: failed: $*" >&2
    cat "$work/stderr.log" >&2
    exit 1
  }
  local wall peak cpu
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$log" |
    awk -F: '{ if (NF == 3) print $1 * 3600 + $2 * 60 + $3; else print $1 * 60 + $2 }')
  peak=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")
  cpu=$(awk -F': ' '/(User|System) time \(seconds\)/ {t += $2} END {print t}' "$log")
  echo "$wall $peak $cpu"
}

min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }
max() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b > a) ? b : a }'; }

printf '%-22s %10s %10s %10s %7s %9s %10s %10s\n' clip trackloom ffmpeg-vid ffmpeg-aud ratio cpu-ratio peak-MB ffmpeg-MB
status=0
for name in clip-720p-60s.mp4 clip-1080p-10s.mp4; do
  clip="$work/$name"
  out="$work/tracks-${name%.mp4}"
  chain=$("$trackloom" encode "$clip" -o "$out" --overwrite --json --no-audio --quiet |
    sed -n 's/.*"filter_chain": *"\([^"]*\)".*/\1/p')
  [ -n "$chain" ] || { echo "cli_vs_ffmpeg: trackloom did not report its filter chain" >&2; exit 1; }
  best_ours="" best_vid="" best_aud="" peak="" ffpeak="" cpu_ours="" cpu_vid="" cpu_aud=""
  for ((i = 0; i < runs; i++)); do
    read -r t m c < <(measure "$trackloom" encode "$clip" -o "$out" --overwrite --quiet)
    best_ours=$(min "$best_ours" "$t"); peak=$(max "$peak" "$m"); cpu_ours=$(min "$cpu_ours" "$c")
    read -r t m c < <(measure ffmpeg -nostdin -v error -i "$clip" -vf "$chain" -pix_fmt bgra -f rawvideo -y /dev/null)
    best_vid=$(min "$best_vid" "$t"); ffpeak=$(max "$ffpeak" "$m"); cpu_vid=$(min "$cpu_vid" "$c")
    read -r t m c < <(measure ffmpeg -nostdin -v error -i "$clip" -vn -ac 2 -ar 17640 -c:a pcm_u8 -y "$work/sound.wav")
    best_aud=$(min "$best_aud" "$t"); cpu_aud=$(min "$cpu_aud" "$c")
  done
  ratio=$(awk -v a="$best_ours" -v v="$best_vid" -v s="$best_aud" 'BEGIN { printf "%.3f", a / (v + s) }')
  cpu_ratio=$(awk -v a="$cpu_ours" -v v="$cpu_vid" -v s="$cpu_aud" 'BEGIN { printf "%.3f", a / (v + s) }')
  printf '%-22s %9.2fs %9.2fs %9.2fs %7s %9s %10.1f %10.1f\n' "$name" "$best_ours" "$best_vid" "$best_aud" \
    "$ratio" "$cpu_ratio" "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')" "$(awk -v k="$ffpeak" 'BEGIN { print k / 1024 }')"
  awk -v r="$ratio" 'BEGIN { exit !(r > 1.10) }' && { echo "  over the 1.10 target" >&2; status=1; }
  awk -v k="$peak" 'BEGIN { exit !(k > 100 * 1024) }' && { echo "  over the 100 MB target" >&2; status=1; }
  rm -rf "$out" "$work/sound.wav"
done
exit $status
