#!/bin/sh
# Writes a short MP3 whose ID3v2 tag is laid out as version 2.3 (plain
# 32-bit frame sizes) but stamped as version 2.4: the file id3v23fix is for.
# Usage: make-mislabelled-sample.sh [OUTPUT]   (default: mislabelled.mp3 here)
set -eu
out=${1:-$(dirname "$0")/mislabelled.mp3}

byte() { printf "\\$(printf %03o "$1")"; }
u32be() { byte $(($1 >> 24 & 255)); byte $(($1 >> 16 & 255)); byte $(($1 >> 8 & 255)); byte $(($1 & 255)); }
synchsafe() { byte $(($1 >> 21 & 127)); byte $(($1 >> 14 & 127)); byte $(($1 >> 7 & 127)); byte $(($1 & 127)); }

# A v2.3 text frame: ID, 32-bit size, two flag bytes, ISO-8859-1 marker, text.
text_frame() { u32size=$((${#2} + 1)); printf %s "$1"; u32be $u32size; byte 0; byte 0; byte 0; printf %s "$2"; }

comment="A tag laid out as ID3v2.3 and stamped 2.4. Its frames have plain 32-bit sizes, so a strict \
reader of 2.4, which expects synchsafe sizes, misreads this comment frame: it is longer than 127 bytes."

frames() {
  text_frame TIT2 "id3v23fix sample"
  text_frame TPE1 "id3v23fix"
  # COMM: encoding, language, empty description, the text.
  printf COMM; u32be $((${#comment} + 5)); byte 0; byte 0; byte 0; printf eng; byte 0; printf %s "$comment"
}

frames_size=$(frames | wc -c)
padding=64
{
  printf ID3; byte 4; byte 0; byte 0; synchsafe $((frames_size + padding))
  frames
  head -c $padding /dev/zero
  # Four silent MPEG-1 Layer III frames: 128 kbit/s, 44.1 kHz, 417 bytes each.
  for _ in 1 2 3 4; do byte 255; byte 251; byte 144; byte 100; head -c 413 /dev/zero; done
} > "$out"
