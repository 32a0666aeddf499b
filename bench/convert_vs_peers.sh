#!/usr/bin/env bash
# Whole-process comparison on a one-hour 16-bit stereo 44.1 kHz file (635 MB), made in a
# scratch folder and removed afterwards: `orvelle-cli convert -s 30` (which ends with its
# file on the disk) against `cp` + `sync` of a copy and against sox doing the same
# arithmetic + `sync` of its output. Runs alternate; medians are shown, then the system
# calls of one conversion (`strace -c`, when strace is installed) and its peak memory.
# Environment: ORVELLE_CLI (default build/bin/orvelle-cli), RUNS (5), SECONDS_OF_AUDIO (3600),
# SCRATCH (a folder on the disk to measure; default $TMPDIR or /tmp), ORVELLE_CLI_BEFORE (an
# earlier build of orvelle-cli, timed in the same rounds for a before/after comparison).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cli="${ORVELLE_CLI:-$root/build/bin/orvelle-cli}"
runs="${RUNS:-5}"
secs="${SECONDS_OF_AUDIO:-3600}"
if [ ! -x "$cli" ]; then
  echo "convert_vs_peers: $cli is not built yet (run scripts/setup)" >&2
  exit 1
fi
command -v sox >/dev/null || { echo "convert_vs_peers: sox is not installed" >&2; exit 1; }
# Checked first, so that a long run does not end without its memory figure.
[ -x /usr/bin/time ] || { echo "convert_vs_peers: /usr/bin/time is not installed (Debian package time)" >&2; exit 1; }

work="$(mktemp -d "${SCRATCH:-${TMPDIR:-/tmp}}/orvelle-bench-XXXXXX")"
trap 'rm -rf "$work"' EXIT
sox -n -r 44100 -c 2 -b 16 "$work/src.wav" synth "$secs" sine 440 sine 554 gain -6
echo "source: $(stat -c %s "$work/src.wav") bytes"
cat "$work/src.wav" >/dev/null # in the page cache: the runs measure the tools, not the first read

seconds() { # runs "$@", prints its wall time in seconds
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f\n", b - a }'
}
copy_and_sync() { cp "$work/src.wav" "$work/copy.wav" && sync "$work/copy.wav"; }
run_orvelle() { "$cli" convert -s 30 "$work/in.wav"; }
before="${ORVELLE_CLI_BEFORE:-}"
run_before() { "$before" convert -s 30 "$work/in.wav"; }
run_sox() { sox -D "$work/src.wav" "$work/sox.wav" remix -m 1v1,2v-0.3 2v1,1v-0.3 && sync "$work/sox.wav"; }

: >"$work/cp.t"; : >"$work/orvelle.t"; : >"$work/sox.t"; : >"$work/before.t"
for ((i = 1; i <= runs; i++)); do
  rm -f "$work/copy.wav"; sync
  seconds copy_and_sync >>"$work/cp.t"
  rm -f "$work/in.wav" "$work/in.org" "$work/copy.wav"
  cp "$work/src.wav" "$work/in.wav"; sync; cat "$work/in.wav" >/dev/null
  seconds run_orvelle >>"$work/orvelle.t"
  rm -f "$work/sox.wav" "$work/in.org"; sync
  seconds run_sox >>"$work/sox.t"
  rm -f "$work/sox.wav"
  if [ -n "$before" ]; then
    rm -f "$work/in.wav" "$work/in.org"
    cp "$work/src.wav" "$work/in.wav"; sync; cat "$work/in.wav" >/dev/null
    seconds run_before >>"$work/before.t"
    rm -f "$work/in.org"; sync
  fi
  echo "run $i: cp+sync $(tail -1 "$work/cp.t") s, orvelle $(tail -1 "$work/orvelle.t") s, sox+sync $(tail -1 "$work/sox.t") s${before:+, before $(tail -1 "$work/before.t") s}"
done

median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
cp_m=$(median "$work/cp.t"); or_m=$(median "$work/orvelle.t"); sox_m=$(median "$work/sox.t")

fresh_input() { rm -f "$work/in.wav" "$work/in.org"; cp "$work/src.wav" "$work/in.wav"; sync; cat "$work/in.wav" >/dev/null; }
if command -v strace >/dev/null; then
  fresh_input
  echo "system calls of one conversion:"
  strace -c -o "$work/strace.txt" "$cli" convert -s 30 "$work/in.wav" >/dev/null
  cat "$work/strace.txt"
fi
fresh_input
peak_kb=$(/usr/bin/time -v "$cli" convert -s 30 "$work/in.wav" 2>&1 >/dev/null | awk -F: '/Maximum resident/ { gsub(/ /, "", $2); print $2 }')

printf 'medians of %d runs: cp+sync %.2f s, orvelle-cli %.2f s, sox+sync %.2f s\n' "$runs" "$cp_m" "$or_m" "$sox_m"
printf 'orvelle / (cp+sync) = %.2f (target <= 1.2)\n' "$(awk -v a="$or_m" -v b="$cp_m" 'BEGIN { print a / b }')"
printf '(sox+sync) / orvelle = %.2f (target >= 4)\n' "$(awk -v a="$sox_m" -v b="$or_m" 'BEGIN { print a / b }')"
if [ -n "$before" ]; then
  be_m=$(median "$work/before.t")
  printf 'before: %.2f s, %.2f x (cp+sync)\n' "$be_m" "$(awk -v a="$be_m" -v b="$cp_m" 'BEGIN { print a / b }')"
fi
printf 'orvelle-cli peak memory: %d KiB (target < 16384)\n' "$peak_kb"
