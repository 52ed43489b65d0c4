#!/usr/bin/env bash
# Calibration on the sample, from a fresh clone (about half a minute on two
# cores after the build):
#   1. build the programs (cmake, as examples/runSample.sh does);
#   2. make the sample landscape at 40 x 34 cells with its storm, dam and lake
#      (build/calibrationSample/project), and run runoffSim on it;
#   3. make the synthetic gauge of runSample.sh at the mouth of the main river:
#      the simulated hourly means an hour later and 10 % lower;
#   4. calibrate Ns, Nr and Ka against it with calibrateModel (DDS, 40
#      evaluations in batches of 8), with the configuration
#      build/calibrationSample/calibration.toml; the results go to
#      build/calibrationSample/calibration/.
#
# With the installed programs instead of a build (they must be on the PATH):
#   bash calibrateSample.sh --installed [DIR]
# works in DIR (default ./calibrationSample), which must be new or empty.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
fail() {
    printf 'Error: %s\n' "$*" >&2
    exit 1
}
step() { printf '\n== %s\n' "$*"; }

installed=false
[ -f "$root/CMakeLists.txt" ] || installed=true
if [ "${1-}" = --installed ]; then
    installed=true
    shift
fi
programs=(makeSampleBasin prepareTopography runoffSim dischargeSeriesHourly calibrateModel)
declare -A path
if $installed; then
    [ $# -le 1 ] || fail "one directory at most. Usage: bash calibrateSample.sh --installed [DIR]"
    for name in "${programs[@]}"; do
        path[$name]="$(command -v "$name")" || fail "$name is not on the PATH (calibrateModel needs a build with toml++)."
    done
    sample="${1-calibrationSample}"
    mkdir -p "$sample" || fail "cannot create $sample."
    [ -z "$(ls -A "$sample")" ] || fail "$sample is not empty; give a new directory."
    sample="$(cd "$sample" && pwd)"
else
    [ $# -eq 0 ] || fail "unknown argument $1. Usage: bash examples/calibrateSample.sh"
    build="$root/build"
    step "Build (log: build/calibrationBuild.log)"
    mkdir -p "$build"
    if ! { cmake -S "$root" -B "$build" && cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" --target "${programs[@]}"; } \
        >"$build/calibrationBuild.log" 2>&1; then
        tail -n 20 "$build/calibrationBuild.log"
        grep -q "calibrateModel is not built" "$build/calibrationBuild.log" &&
            fail "calibrateModel needs toml++: apt-get install libtomlplusplus-dev, then run this script again."
        fail "the build failed; see $build/calibrationBuild.log."
    fi
    path[makeSampleBasin]="$build/prepare/makeSampleBasin"
    path[prepareTopography]="$build/prepare/prepareTopography"
    path[runoffSim]="$build/simulation/runoffSim"
    path[dischargeSeriesHourly]="$build/tools/dischargeSeriesHourly"
    path[calibrateModel]="$build/calibration/calibrateModel"
    sample="$build/calibrationSample"
    rm -rf "$sample"
    mkdir -p "$sample"
fi

step "The sample landscape at 40 x 34 cells in $sample/project"
project="$sample/project"
mkdir -p "$project"
(cd "$sample" && "${path[makeSampleBasin]}" dem sample.asc 40 34 >makeSampleBasin.log) || fail "makeSampleBasin failed."
"${path[prepareTopography]}" -o "$project" "$sample/sample.asc" >"$sample/prepareTopography.log" || fail "prepareTopography failed."
(cd "$sample" && "${path[makeSampleBasin]}" inputs project 40 34 >>makeSampleBasin.log) || fail "makeSampleBasin failed."
read -r _ column row cells _ <"$project/topoData/riverNumList.dat" || fail "prepareTopography selected no basin."
(cd "$project" && "${path[runoffSim]}" >runoffSim.log) || fail "runoffSim failed; see $project/runoffSim.log."

step "Synthetic gauge at the mouth (column $column, row $row, $cells cells): an hour later, 10 % lower"
printf '%s\n%s\n' "$column" "$row" | (cd "$project/output" && "${path[dischargeSeriesHourly]}" >dischargeSeriesHourly.log) ||
    fail "dischargeSeriesHourly failed."
awk 'BEGIN { print "minutes,discharge" } { printf "%d,%.3f\n", $1 + 60, $2 * 0.9 }' \
    "$project/output/${column}-${row}_hourlyMeanDischarge.dat" >"$sample/gauge-mouth.csv"

cat >"$sample/calibration.toml" <<EOF
# The sample's mouth against its synthetic gauge (calibrateSample.sh).
[calibration]
algorithm = "dds"
evaluations = 40
batch = 8
seed = 1
objective = "kge"
initial = "file"     # start from the project's own values

[[event]]
project = "project"

[[event.gauge]]
cell = [$column, $row]
observed = "gauge-mouth.csv"

[[parameter]]
name = "Ns"          # slope roughness
min = 0.1
max = 2.0
transform = "log"

[[parameter]]
name = "Nr"          # channel roughness
min = 0.01
max = 0.2
transform = "log"

[[parameter]]
name = "Ka"          # hydraulic conductivity, m/s
min = 0.001
max = 0.1
transform = "log"
EOF

step "calibrateModel calibration.toml -o calibration"
(cd "$sample" && "${path[calibrateModel]}" calibration.toml -o calibration) || fail "calibrateModel failed."

step "Results"
cat <<EOF
Configuration       $sample/calibration.toml
Trace               $sample/calibration/trace.csv (one line per evaluation)
Best values         $sample/calibration/best.toml
Parameter file      $sample/calibration/best/project/param-hsx-event-ver400.dat
Best hydrograph     $sample/calibration/best/project/hydrograph-$column-$row.svg (open it in a browser) and its -skill.csv
Convergence         $sample/calibration/convergence.svg
EOF
