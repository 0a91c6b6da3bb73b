#!/usr/bin/env bash
# trackloom.exe under wine against the Linux command, on the benchmark clip (60 s of
# 1280x720 H.264 + AAC at 30 fps, the one bench/cli_vs_ffmpeg.sh makes), in the same
# run: each encodes it RUNS times, alternating, and the fastest run of each counts.
# Peak memory is the largest resident set /usr/bin/time -v reports (under wine, the
# process the program runs in). The wine prefix is made before the first run, so its
# setup is not timed; each run includes wine's start (about half a second).
#
# Targets: trackloom.exe's wall time at most 1.3 x the Linux command's; its peak memory
# at most 120 MB.
#
#   bench/windows_vs_linux.sh [TRACKLOOM.EXE] [WORKDIR]
#   RUNS=5 bench/windows_vs_linux.sh
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
exe="${1:-$root/build/win64/cli/trackloom.exe}"
work="${2:-$root/build/bench-cli}"
runs="${RUNS:-3}"
linux=$root/build/native/cli/trackloom

for program in "$exe" "$linux"; do
  if [ ! -f "$program" ]; then
    echo "windows_vs_linux: no $program; build it first (the win64 and native presets)" >&2
    exit 2
  fi
done
mkdir -p "$work"
clip=$work/clip-720p-60s.mp4
if [ ! -s "$clip" ]; then
  echo "making $(basename "$clip")..." >&2
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=1280x720:rate=30:duration=60" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=60" \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -b:a 128k -shortest "$clip.part.mp4"
  mv "$clip.part.mp4" "$clip"
fi
"$root/scripts/wine-run" "$exe" --version >/dev/null

# Run NAME COMMAND...: one timed encode into a fresh folder; prints "wall peak_kb".
Run() {
  local out=$work/tracks-$1 log=$work/time-$1.log
  shift
  rm -rf "$out"
  /usr/bin/time -v "$@" encode "$clip" -o "$out" --quiet 2>"$log" >/dev/null
  awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0
                 for (i = 1; i <= n; i++) s = s * 60 + t[i]; wall = s }
               /Maximum resident set size/ { kb = $2 }
               END { printf "%.2f %d\n", wall, kb }' "$log"
}

best_linux="" best_exe="" peak_linux=0 peak_exe=0
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((i = 1; i <= runs; i++)); do
  read -r wall kb < <(Run linux "$linux")
  echo "run $i: Linux command      ${wall} s, ${kb} KB"
  if [ -z "$best_linux" ] || awk "BEGIN { exit !($wall < $best_linux) }"; then best_linux=$wall; fi
  ((kb > peak_linux)) && peak_linux=$kb
  read -r wall kb < <(Run exe "$root/scripts/wine-run" "$exe")
  echo "run $i: trackloom.exe/wine ${wall} s, ${kb} KB"
  if [ -z "$best_exe" ] || awk "BEGIN { exit !($wall < $best_exe) }"; then best_exe=$wall; fi
  ((kb > peak_exe)) && peak_exe=$kb
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
if cmp -s "$work/tracks-linux/VDN Track 01.wav" "$work/tracks-exe/VDN Track 01.wav"; then
  same="the same bytes"
else
  same="different bytes"
fi
awk -v l="$best_linux" -v e="$best_exe" -v pl="$peak_linux" -v pe="$peak_exe" -v same="$same" 'BEGIN {
  printf "\n| program | fastest wall time | peak memory |\n|---|---|---|\n"
  printf "| Linux command | %.2f s | %.0f MB |\n", l, pl / 1024
  printf "| trackloom.exe under wine | %.2f s | %.0f MB |\n", e, pe / 1024
  printf "\nratio %.2f x (target at most 1.30 x); peak memory %.0f MB (target at most 120 MB); tracks: %s\n",
    e / l, pe / 1024, same }'
