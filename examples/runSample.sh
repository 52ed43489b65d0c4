#!/usr/bin/env bash
# Builds the programs and runs runoffSim on the bundled sample project in a
# scratch copy (build/sample-run), so the repository stays clean.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cmake -S "$root" -B "$root/build" >/dev/null
cmake --build "$root/build" -j2 >/dev/null
run="$root/build/sample-run"
rm -rf "$run"
cp -r "$root/examples/smallBasin" "$run"
mkdir -p "$run/temp" "$run/output/damData" "$run/output/resData" "$run/output/image"
cd "$run"
"$root/build/simulation/runoffSim"
echo "Results are in $run/output"
