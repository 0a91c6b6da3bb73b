#!/usr/bin/env bash
# Writes a small track file to standard output, a seed the track reader's fuzzer
# starts from. Generated rather than committed, as test data is.
#   make-track-seed.sh [RECORDS [LEAD_IN [LEVELS]]]   (default: 1 record, 2048-byte
#        lead-in, the standard level tables; LEVELS "own" gives tables as a retail
#        track carries them)
#   44-byte WAV header | LEAD_IN bytes of 0x00 | RECORDS 19600-byte records
# A lead-in of another length is what the reader's lenient mode is for.
set -euo pipefail
records=${1:-1}
lead_in=${2:-2048}
# The 16 levels of the red, green and blue tables.
if [ "${3:-standard}" = own ]; then
  tables=(0 1 5 7 9 11 13 14 18 20 21 24 25 27 29 31  0 1 2 5 6 9 12 14 16 19 21 23 25 27 30 31
          0 1 4 6 9 11 13 15 17 19 21 23 25 26 29 31)
else
  ramp=(0 2 4 6 8 10 12 14 17 19 21 23 25 27 29 31)
  tables=("${ramp[@]}" "${ramp[@]}" "${ramp[@]}")
fi
addresses=(0 40 56)  # 0x00, 0x28, 0x38

le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 24 & 255)))"; }
length=$((44 + lead_in + records * 19600))

printf 'RIFF'; le32 $((length - 8)); printf 'WAVEfmt '
le32 16; printf '\x01\x00\x02\x00'      # PCM, 2 channels
le32 44100; le32 176400
printf '\x04\x00\x10\x00data'           # block alignment 4, 16 bits
le32 $((length - 44))
head -c "$lead_in" /dev/zero
for _ in $(seq "$records"); do
  # The record header: 40 groups of 9 data bytes and a silent audio slot.
  for _ in $(seq 24); do printf '\x81\xE3\xE3\xC7\xC7\x81\x81\xE3\xC7\x80'; done
  # The level tables: 48 (level, address) pairs, four a group, then 0xFF.
  for p in $(seq 0 47); do
    printf "\\x$(printf %02x "${tables[p]}")\\x$(printf %02x $((addresses[p / 16] + p % 16)))"
    if [ $((p % 4)) -eq 3 ]; then printf '\xFF\x80'; fi
  done
  for _ in 1 2 3 4; do printf '\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x80'; done
  # The frame block: a grey picture (every nibble 8) with silent slots.
  for _ in $(seq 1920); do printf '\x88\x88\x88\x88\x88\x88\x88\x88\x88\x80'; done
done
