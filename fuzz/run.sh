#!/usr/bin/env bash
# Runs the fuzz targets one after the other, one process at a time, niced.
#
#   fuzz/run.sh SECONDS [TARGET...]
#
# SECONDS is the time per target (default 300); without TARGET names every
# target runs. Environment: BUILD (default build-fuzz, configured with
# -DFLOOD_FUZZ=ON), CORPUS (default fuzz-corpus; created and seeded from
# fuzz/makeSeeds.py on first use), ARTIFACTS (default fuzz-artifacts: crash,
# timeout and out-of-memory inputs). Each target runs in fork mode with one
# worker, so it goes on after a finding and collects every one it meets.
# Prints one summary line per target.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
shift || true
build=${BUILD:-build-fuzz}
corpus=${CORPUS:-fuzz-corpus}
artifacts=${ARTIFACTS:-fuzz-artifacts}
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(paramFile riverList rainfall topography paramMap structures cache dischargeImage dischargeSeries wholeRun
           stateFile)
  [ -x "$build/fuzz/calibrationConfigFuzz" ] && targets+=(calibrationConfig)
fi
if [ ! -d "$corpus" ]; then
  [ -x build/simulation/runoffSim ] || { echo "build/simulation/runoffSim is needed for the seeds"; exit 1; }
  python3 fuzz/makeSeeds.py build/simulation/runoffSim "$corpus"
fi
mkdir -p "$artifacts"
# Absolute paths: the targets change into their scratch project directory.
corpus=$(realpath "$corpus")
artifacts=$(realpath "$artifacts")
dict=$(realpath fuzz/flood.dict)
for t in "${targets[@]}"; do
  mkdir -p "$corpus/$t" "$artifacts/$t"
  log="$artifacts/$t/last.log"
  set +e
  nice -n 10 "$build/fuzz/${t}Fuzz" "$corpus/$t" -dict="$dict" -max_total_time="$seconds" \
    -timeout=10 -rss_limit_mb=2048 -max_len=32768 -print_final_stats=1 \
    -fork=1 -ignore_timeouts=1 -ignore_crashes=1 -ignore_ooms=1 \
    -artifact_prefix="$artifacts/$t/" >"$log" 2>&1
  status=$?
  set -e
  echo "$t: exit $status, $(grep -E '^#[0-9]+' "$log" | tail -1 | cut -c1-100)"
done
