#!/usr/bin/env bash
# Writes the fuzz targets' seeds, a few tiny inputs each, into ROOT/<target>/:
#   fuzz/make-seeds.sh ROOT
# Generated rather than committed, as test data is.
set -euo pipefail
root=$1
here=$(dirname "$0")
seed() {  # seed TARGET NAME: standard input becomes ROOT/TARGET/NAME
  mkdir -p "$root/$1"
  cat > "$root/$1/$2"
}
le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 24 & 255)))"; }

# Track files of one and two records, one with no lead-in (for the lenient reading),
# one with a retail lead-in and level tables of its own,
# and a bare header.
"$here/make-track-seed.sh" 1 | seed track_reader one-record
"$here/make-track-seed.sh" 2 | seed track_reader two-records
"$here/make-track-seed.sh" 1 0 | seed track_reader no-lead-in
"$here/make-track-seed.sh" 2 392 own | seed track_reader own-levels
head -c 44 "$root/track_reader/one-record" | seed track_reader header-only

# Discs for the record finder: one track holding two records; two tracks with the
# records 92 samples (368 bytes) on, the second record across the tracks' boundary.
{ printf '\x00\x40\x00\x00'; "$here/make-track-seed.sh" 2; } | seed record_stream one-track
{ printf '\x01\x10\x40\x01\x00\x00'; head -c 368 /dev/zero; "$here/make-track-seed.sh" 2; } |
  seed record_stream two-tracks-moved
{ printf '\x00\x40\x00\x00'; "$here/make-track-seed.sh" 2 392 own; } | seed record_stream own-levels

# A sound file the filter takes (8-bit stereo 17640 Hz, 8 bytes of samples), one whose
# data size was never filled in, and one in CD format, which it refuses.
wav() {  # wav RATE CHANNELS BITS DATA_SIZE SAMPLE_BYTES
  printf 'RIFF'; le32 $((36 + $5)); printf 'WAVEfmt '; le32 16
  printf '\x01\x00'; printf "\\x0$2\\x00"; le32 "$1"; le32 $(($1 * $2 * $3 / 8))
  printf "\\x0$(($2 * $3 / 8))\\x00"; printf "\\x$(printf %02x "$3")\\x00"; printf 'data'; le32 "$4"
  head -c "$5" /dev/zero | tr '\0' '\200'
}
wav 17640 2 8 8 8 | seed wave_header track-sound
wav 17640 2 8 0 8 | seed wave_header unfinished
wav 44100 2 16 8 8 | seed wave_header cd-format

# Break-frame lists as the dialog, the script string and the command write them, and
# times for --break-at.
printf '100;250' | seed break_list script-string
printf '250\r\n100\r\n-7\r\n' | seed break_list dialog
printf '100,250 300;+4,0' | seed break_list command
printf '4294967295;2147483648;-2147483648' | seed break_list limits
printf '1:02:03.5' | seed break_list time

# Script lines: the filter's own, one behind the editor's object path with every
# escape, and a call with other kinds of argument.
printf '%s' 'Config(1,"C:\\Sound\\clip.wav","D:\\Tracks","100;250")' | seed script_line own
printf '%s' 'VirtualDub.video.filters.instance[0].Config(1,"a\"b\n\r\t","",""); ' | seed script_line path
printf '%s' 'Config(0x1, -2.5e3, "", "1")' | seed script_line kinds

# Settings files: a saved one, and one written by hand on Windows with comments.
printf '%s\n' 'Config(1,"/home/ann/clip.wav","/home/ann/tracks","100;250")' | seed settings_file saved
printf '// the film\r\n\r\n  // breaks\r\nVirtualDub.video.filters.instance[0].Config(1,"","D:\\\\Tracks","5");\r\n' |
  seed settings_file by-hand

# Disc images: a cue sheet of two tracks with an index 0, and a TOC with SWAP, a byte
# offset, a WAV file and silence.
printf 'REM made by hand\nFILE "a.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 00 00:00:10\n    INDEX 01 00:00:12\n' |
  seed disc_sheet cue
printf 'CD_DA\n// one\nTRACK AUDIO\nFILE "a.bin" SWAP #2352 0 00:00:05\nTRACK AUDIO\nSILENCE 588\nSTART\nFILE "a.wav" 0\n' |
  seed disc_sheet toc

# Packets: the codec byte (0 H.264, 1 HEVC, 2 MPEG-2, 4 Motion JPEG), the setup's
# length and the setup, then each packet after its 16-bit length: an avcC setup with a
# non-reference slice; an hvcC setup whose SPS has two sub-layers, with a TSA_N picture;
# an MPEG-2 B-picture with a slice; two baseline JPEG pictures with the same tables.
printf '\x00\x07\x01\x64\x00\x1f\xff\xe1\x00\x00\x06\x00\x00\x00\x02\x01\x9e' |
  seed picture_packet h264-avcc
{
  printf '\x01\x1f\x01'; head -c 20 /dev/zero; printf '\x03\x01\x21\x00\x01\x00\x03\x42\x01\x02'
  printf '\x00\x06\x00\x00\x00\x02\x04\x02'
} | seed picture_packet hevc-hvcc
printf '\x02\x00\x00\x0e\x00\x00\x01\x00\x00\x18\x00\x00\x00\x00\x01\x01\x12\x34' |
  seed picture_packet mpeg2-b
jpeg() {
  printf '\xff\xd8\xff\xdb\x00\x04\x00\x01\xff\xc0\x00\x08\x08\x04\x38\x00\x10\x01'
  printf '\xff\xda\x00\x03\x01\x12\xff\x00\x34\xff\xd9'
}
{ printf '\x04\x00'; printf '\x00\x1d'; jpeg; printf '\x00\x1d'; jpeg; } | seed picture_packet mjpeg-same-tables
