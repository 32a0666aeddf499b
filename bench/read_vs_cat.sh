#!/usr/bin/env bash
# Reading speed of the engine next to `cat FILE >/dev/null` on the same cached 100 MiB file.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bin="$root/build/bin/bench_read"
[ -x "$bin" ] || { echo "build first: scripts/setup" >&2; exit 1; }
export ORVELLE_BENCH_FILE="${TMPDIR:-/tmp}/orvelle-bench-100mib.wav"
"$bin" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
python3 - "$ORVELLE_BENCH_FILE" <<'PY'
import os, subprocess, sys, time
path = sys.argv[1]
mib = os.path.getsize(path) / 1048576
times = []
for _ in range(5):
    t = time.perf_counter()
    subprocess.run(["cat", path], stdout=subprocess.DEVNULL, check=True)
    times.append(time.perf_counter() - t)
times.sort()
print(f"cat FILE >/dev/null: median {times[2]*1000:.1f} ms, {mib/times[2]:.0f} MiB/s")
PY
