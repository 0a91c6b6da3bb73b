#!/usr/bin/env bash
# Writes a small track file to standard output, a seed the track reader's fuzzer
# starts from. Generated rather than committed, as test data is.
#   make-track-seed.sh [RECORDS [LEAD_IN]]     (default: 1 record, 2048-byte lead-in)
#   44-byte WAV header | LEAD_IN bytes of 0x00 | RECORDS 19600-byte records
# A lead-in of another length is what the reader's lenient mode is for.
set -euo pipefail
records=${1:-1}
lead_in=${2:-2048}

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
  printf '\x00\x00\x02\x01\x04\x02\x06\x03\xFF\x80\x08\x04\x0A\x05\x0C\x06\x0E\x07\xFF\x80'
  printf '\x11\x08\x13\x09\x15\x0A\x17\x0B\xFF\x80\x19\x0C\x1B\x0D\x1D\x0E\x1F\x0F\xFF\x80'
  printf '\x00\x28\x02\x29\x04\x2A\x06\x2B\xFF\x80\x08\x2C\x0A\x2D\x0C\x2E\x0E\x2F\xFF\x80'
  printf '\x11\x30\x13\x31\x15\x32\x17\x33\xFF\x80\x19\x34\x1B\x35\x1D\x36\x1F\x37\xFF\x80'
  printf '\x00\x38\x02\x39\x04\x3A\x06\x3B\xFF\x80\x08\x3C\x0A\x3D\x0C\x3E\x0E\x3F\xFF\x80'
  printf '\x11\x40\x13\x41\x15\x42\x17\x43\xFF\x80\x19\x44\x1B\x45\x1D\x46\x1F\x47\xFF\x80'
  for _ in 1 2 3 4; do printf '\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x80'; done
  # The frame block: a grey picture (every nibble 8) with silent slots.
  for _ in $(seq 1920); do printf '\x88\x88\x88\x88\x88\x88\x88\x88\x88\x80'; done
done
