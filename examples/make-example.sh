#!/usr/bin/env bash
# Makes examples/voice-and-band.wav: a centred voice (espeak-ng, the same in both
# channels) over two tones panned hard left and right (sox synth). 16-bit stereo,
# 22050 Hz, about 5 seconds. Run once; the result is committed.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

espeak-ng -v en -s 140 -w "$tmp/voice.wav" \
  "This is the voice in the centre. After the conversion it is gone, and the band stays."
sox "$tmp/voice.wav" -r 22050 -c 1 -b 16 "$tmp/voice-mono.wav" pad 0.3 0.3 norm -3
len="$(soxi -D "$tmp/voice-mono.wav")"
# Left: a low chord of two tones with a slow pulse; right: a higher tone with a tremolo.
sox -n -r 22050 -c 1 -b 16 "$tmp/left.wav" synth "$len" sine 220 sine 277 tremolo 2 60 gain -14
sox -n -r 22050 -c 1 -b 16 "$tmp/right.wav" synth "$len" triangle 660 tremolo 5 40 gain -16
sox -M "$tmp/left.wav" "$tmp/right.wav" "$tmp/sides.wav"
sox "$tmp/voice-mono.wav" -c 2 "$tmp/centre.wav" remix 1 1
sox -m "$tmp/centre.wav" "$tmp/sides.wav" -b 16 "$here/voice-and-band.wav" gain -n -1
echo "made $here/voice-and-band.wav ($(stat -c %s "$here/voice-and-band.wav") bytes)"
