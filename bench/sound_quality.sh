#!/usr/bin/env bash
# What trackloom encode makes of a few test signals in 8 bits: for loudness off/on and
# dither off/on, the output's level (RMS, dBFS), its sample peak, and the
# signal-to-noise ratio of the 8-bit result against the same chain in floating point
# (ffmpeg running trackloom's filter chain with 64-bit float output).
#
#   bench/sound_quality.sh [TRACKLOOM] [WORKDIR]
#
# TRACKLOOM_SOUND_DITHER=none turns the dither off; --loudness off the levelling.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
trackloom="${1:-$root/build/native/cli/trackloom}"
work="${2:-$root/build/bench-sound}"
if [ ! -x "$trackloom" ]; then
  echo "sound_quality: no trackloom command at $trackloom; build it first" >&2
  exit 2
fi
mkdir -p "$work"
cd "$work"

seconds=6
ff() { ffmpeg -v error -y "$@"; }
ff -f lavfi -i "testsrc=size=144x80:rate=18:duration=$seconds" -c:v ffv1 video.mkv
# Signals, 44.1 kHz stereo float:
#   sine    1 kHz at -30 dBFS peak, a quiet tone
#   speech  pink noise bursts (0.3 s on, 0.2 s off) at about -28 dBFS RMS
#   music   wide-band pink noise at about -20 LUFS
#   peaks   quiet noise with short full-scale clicks, which a gain would clip
ff -f lavfi -i "sine=f=1000:r=44100:d=$seconds" -af "volume=-12dB,aformat=sample_fmts=flt:channel_layouts=stereo" sine.wav
ff -f lavfi -i "anoisesrc=c=pink:r=44100:a=0.12:d=$seconds" \
  -af "volume='lt(mod(t,0.5),0.3)':eval=frame,aformat=sample_fmts=flt:channel_layouts=stereo" speech.wav
ff -f lavfi -i "anoisesrc=c=pink:r=44100:a=0.3:d=$seconds" -af "aformat=sample_fmts=flt:channel_layouts=stereo" music.wav
ff -f lavfi -i "anoisesrc=c=pink:r=44100:a=0.03:d=$seconds" \
  -af "volume='1+30*lt(mod(t,1),0.01)':eval=frame,aformat=sample_fmts=flt:channel_layouts=stereo" peaks.wav

printf '%-7s %-9s %-7s %9s %9s %7s %8s  %s\n' signal loudness dither "RMS dBFS" "peak" "SNR dB" "gain dB" "summary"
for signal in sine speech music peaks; do
  for loudness in off -16; do
    for dither in none triangular; do
      rm -rf out dec
      summary=$(TRACKLOOM_SOUND_DITHER=$([ $dither = none ] && echo none || echo on) \
        "$trackloom" encode video.mkv --audio "$signal.wav" --loudness "$loudness" -o out 2>&1 | grep -o "sound: .*)" || true)
      "$trackloom" decode "out/VDN Track 01.wav" -o dec > /dev/null
      # The float reference: the same chain as the command, before the 8-bit step.
      gain=$(echo "$summary" | sed -nE 's/.*(raised|lowered) ([0-9.]+) dB.*/\1 \2/p' |
        awk '{print ($1 == "lowered" ? -$2 : $2)}')
      chain="aresample=17640,aformat=sample_fmts=dbl:channel_layouts=stereo"
      [ -n "$gain" ] && chain="$chain,volume=${gain}dB:precision=double"
      case "$summary" in *"peaks limited"*)
        chain="$chain,alimiter=limit=0.8913:attack=5:release=50:level=0:latency=1" ;; esac
      ff -i "$signal.wav" -af "$chain" -f f64le ideal.f64
      python3 - dec/sound.wav ideal.f64 "$signal" "$loudness" "$dither" "${gain:-0}" "$summary" <<'EOF'
import math, struct, sys
wav, ideal_path, signal, loudness, dither, gain, summary = sys.argv[1:]
got = open(wav, "rb").read()[44:]
raw = open(ideal_path, "rb").read()
ideal = struct.unpack("<%dd" % (len(raw) // 8), raw)
n = min(len(got), len(ideal))
# Leave out the edges: the start record and the last partial record.
lo, hi = 2 * 1960, n - 2 * 1960
sig = noise = energy = 0.0
peak = 0
for i in range(lo, hi):
    x = (got[i] - 128) / 128.0
    energy += x * x
    peak = max(peak, abs(got[i] - 128))
    sig += ideal[i] * ideal[i]
    noise += (x - ideal[i]) ** 2
count = hi - lo
rms = 10 * math.log10(energy / count + 1e-20)
snr = 10 * math.log10(sig / (noise + 1e-20) + 1e-20)
print("%-7s %-9s %-7s %9.1f %5d/127 %7.1f %8s  %s" % (signal, loudness, dither, rms, peak, snr, gain, summary))
EOF
    done
  done
done
