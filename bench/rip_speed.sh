#!/usr/bin/env bash
# trackloom rip on a full disc image: 40 minutes of video (an 80-minute disc of four
# 10-minute tracks after a first track), to the archival .mkv and to an .mp4 for
# watching; and, to show the memory does not grow with the disc, the same rips of a
# 20-second disc. Prints wall time, speed against the disc's time (its audio's length:
# twice the video's) and against the video's, and peak memory (largest resident set,
# /usr/bin/time -v) of each.
#
#   bench/rip_speed.sh [TRACKLOOM] [WORKDIR]
#
# Targets: the .mkv at least 180x disc time (about 27 s for the 80-minute disc), the
# .mp4 at least 100x disc time (about 48 s); peak memory at most 100 MB, about the same
# for both discs. The image is made once and kept in WORKDIR (about 900 MB).
set -euo pipefail
trackloom=$(realpath "${1:-build/native/cli/trackloom}")
work=${2:-build/bench-rip}
mkdir -p "$work"
cd "$work"

if [ ! -f long.cue ]; then
  echo "making a 40-minute disc image (once) ..."
  "$trackloom" demo -o demo --quiet
  ffmpeg -v error -y -f lavfi -i testsrc2=size=144x80:rate=18:duration=2400 \
    -f lavfi -i sine=frequency=440:duration=2400 -c:v ffv1 -c:a pcm_s16le long-input.mkv
  "$trackloom" encode long-input.mkv -o long-tracks --break-every 10:00 --quiet
  "$trackloom" disc -o long --first "demo/VDN Track 01.wav" long-tracks/*.wav --capacity 90 \
    --no-pad --quiet
  "$trackloom" disc -o short --first "demo/VDN Track 01.wav" demo/*.wav --no-pad --quiet
fi

measure() {  # measure NAME VIDEO_SECONDS BIN ARGS...: one line of figures
  local name=$1 seconds=$2 disc
  disc=$(( $(stat -c %s "$3") / 176400 ))
  shift 3
  /usr/bin/time -v -o time.txt "$trackloom" rip "$@" --overwrite --quiet
  local wall rss
  wall=$(awk -F': ' '/Elapsed/ {n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s}' time.txt)
  rss=$(awk -F': ' '/Maximum resident/ {print int($2 / 1024)}' time.txt)
  awk -v n="$name" -v w="$wall" -v s="$seconds" -v d="$disc" -v r="$rss" \
    'BEGIN {printf "%-28s %7.2f s  %6.0fx disc time  %6.0fx real time  peak %4d MB\n", n, w, d / w, s / w, r}'
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
measure "40 min disc -> .mkv" 2400 long.bin long.cue -o long.mkv
measure "40 min disc -> .mp4" 2400 long.bin long.cue -o long.mp4
measure "20 s disc -> .mkv" 20 short.bin short.cue -o short.mkv
measure "20 s disc -> .mp4" 20 short.bin short.cue -o short.mp4
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
