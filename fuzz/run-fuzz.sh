#!/usr/bin/env bash
# Open-ended fuzzing (not part of the tests): builds the libFuzzer target fuzz_TARGET (scan,
# the default, or convert) with clang, ASan and UBSan into build-fuzz/ and runs it for
# SECONDS (default 600) on a copy of its seed corpus (fuzz/corpus, fuzz/corpus-convert).
# Crashes land in fuzz/crashes/; turn each into a file in fuzz/regressions/.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-600}"
target="${2:-scan}" # scan or convert
corpus="$root/fuzz/corpus" work="$root/fuzz/corpus-work"
if [ "$target" != scan ]; then
  corpus="$root/fuzz/corpus-$target" work="$root/fuzz/corpus-work-$target"
fi
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORVELLE_FUZZ=ON -DORVELLE_SANITIZE=ON -DORVELLE_GUI=OFF >/dev/null
cmake --build "$root/build-fuzz" --target "fuzz_$target"
mkdir -p "$work" "$root/fuzz/crashes"
cp -n "$corpus"/* "$work"/ 2>/dev/null || true
"$root/build-fuzz/bin/fuzz_$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$root/fuzz/crashes/" "$work" 2>&1 | grep -v '^INFO\|^#[0-9]*\s*\(NEW\|REDUCE\|pulse\)' | tail -60
