#!/usr/bin/env bash
# The whole chain on the synthetic sample basin, from a fresh clone:
#   1. build everything (installing cmake, make, g++ and GoogleTest with
#      apt-get when run as root and they are missing);
#   2. make the sample DEM, prepare it with prepareTopography, and write the
#      storm, the dam, the reservoir and the parameter file (build/sample);
#   3. run runoffSim, then dischargeImageHourly (automatic colour range) and
#      dischargeSeriesHourly at the basin mouth, answering their prompts;
#   4. export the results (NetCDF, GeoTIFF, an SVG hydrograph) and run ten
#      members of the storm through runEnsemble, with a viewer page of the
#      ensemble's copy that shows its flood probabilities;
#   5. make an animated GIF of the hourly images when ImageMagick is there.
# Every program's console goes to a .log file next to its results.
#
# With the installed programs instead of a build (they must be on the PATH):
#   bash runSample.sh --installed [DIR]
# skips step 1 and makes the sample in DIR (default ./floodSample), which must
# be new or empty. The installed copy of this script, outside a source tree,
# always works this way.
set -euo pipefail
export LC_ALL=C  # image names start with blanks: sort them bytewise

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build"
sample="$build/sample"

step() { printf '\n== %s\n' "$*"; }
fail() {
    printf 'Error: %s\n' "$*" >&2
    exit 1
}

installed=false
[ -f "$root/CMakeLists.txt" ] || installed=true
if [ "${1-}" = --installed ]; then
    installed=true
    shift
fi
if $installed; then
    [ $# -le 1 ] || fail "one sample directory at most. Usage: bash runSample.sh --installed [DIR]"
else
    [ $# -eq 0 ] || fail "unknown argument $1. Usage: bash examples/runSample.sh, or bash runSample.sh --installed [DIR]"
fi

# --- 1. Tools and build ------------------------------------------------------
# Builds the programs (installing the tools a fresh Debian machine lacks) and
# sets their paths; the sample goes to build/sample (build-notests/sample).
have_gtest() { [ -f /usr/include/gtest/gtest.h ] || [ -f /usr/local/include/gtest/gtest.h ]; }

build_programs() {
    missing=()
    command -v cmake >/dev/null 2>&1 || missing+=(cmake)
    command -v make >/dev/null 2>&1 || missing+=(make)
    command -v g++ >/dev/null 2>&1 || missing+=(g++)
    have_gtest || missing+=(libgtest-dev)
    # Optional: netCDF-C and GDAL for exportResults (NetCDF and GeoTIFF results).
    optional=()
    [ -f /usr/include/netcdf.h ] || optional+=(libnetcdf-dev)
    [ -f /usr/include/gdal/gdal_priv.h ] || optional+=(libgdal-dev)
    # Optional: toml++ for calibrateModel (examples/calibrateSample.sh).
    [ -f /usr/include/toml++/toml.h ] || optional+=(libtomlplusplus-dev)
    if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
        missing+=("${optional[@]}")
    elif [ ${#optional[@]} -gt 0 ]; then
        printf 'Note: without %s the NetCDF/GeoTIFF export or the calibration is not built (apt-get install %s).\n' \
            "${optional[*]}" "${optional[*]}"
    fi
    if [ ${#missing[@]} -gt 0 ]; then
        if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
            step "Install ${missing[*]}"
            apt-get update -qq || fail "apt-get update failed."
            DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null ||
                fail "apt-get could not install ${missing[*]}."
        elif [ "${missing[*]}" != "libgtest-dev" ]; then
            fail "missing ${missing[*]}. Install them (as root) with:
    apt-get update && apt-get install -y cmake make g++ libgtest-dev
then run this command again."
        fi
    fi

    configure=()
    if ! have_gtest; then
        # Without GoogleTest the programs still build; the tests need: apt-get install libgtest-dev
        printf 'Note: GoogleTest is missing (apt-get install libgtest-dev); building the programs without the tests.\n'
        build="$root/build-notests"
        sample="$build/sample"
        configure=(-DFLOOD_BUILD_TESTS=OFF)
    fi

    step "Build (log: ${build#"$root"/}/build.log)"
    mkdir -p "$build"
    jobs="$(nproc 2>/dev/null || echo 2)"
    if ! { cmake -S "$root" -B "$build" "${configure[@]}" && cmake --build "$build" -j"$jobs"; } >"$build/build.log" 2>&1; then
        tail -n 30 "$build/build.log"
        fail "the build failed; see $build/build.log."
    fi

    makeSample="$build/prepare/makeSampleBasin"
    prepareTopography="$build/prepare/prepareTopography"
    runoffSim="$build/simulation/runoffSim"
    imageHourly="$build/tools/dischargeImageHourly"
    seriesHourly="$build/tools/dischargeSeriesHourly"
    for program in "$makeSample" "$prepareTopography" "$runoffSim" "$imageHourly" "$seriesHourly"; do
        [ -x "$program" ] || fail "the build did not make $program."
    done
    rm -rf "$sample"
}

# The installed programs on the PATH; the sample goes to $1 (default
# ./floodSample), which must be new or empty.
find_installed_programs() {
    local name
    for name in makeSampleBasin prepareTopography runoffSim dischargeImageHourly dischargeSeriesHourly; do
        command -v "$name" >/dev/null 2>&1 ||
            fail "$name is not on the PATH. Install the toolkit (README.md, Install) or run this script in the source tree."
    done
    makeSample="$(command -v makeSampleBasin)"
    prepareTopography="$(command -v prepareTopography)"
    runoffSim="$(command -v runoffSim)"
    imageHourly="$(command -v dischargeImageHourly)"
    seriesHourly="$(command -v dischargeSeriesHourly)"
    step "Installed programs in $(dirname "$runoffSim")"
    "$imageHourly" --version
    sample="${1-floodSample}"
    mkdir -p "$sample" || fail "cannot create $sample."
    [ -z "$(ls -A "$sample")" ] || fail "$sample is not empty; give a new directory for the sample."
    sample="$(cd "$sample" && pwd)"
}

if $installed; then
    find_installed_programs "$@"
else
    build_programs
fi

# Runs a program in a directory with its console in a log; on failure shows the log's end.
run_logged() {
    local dir="$1" log="$2"
    shift 2
    if ! (cd "$dir" && "$@" >"$log" 2>&1); then
        tail -n 20 "$dir/$log"
        fail "$(basename "$1") failed; its console is in $dir/$log."
    fi
}

# --- 2. The sample project ---------------------------------------------------
step "Prepare the sample basin in ${sample#"$root"/}"
mkdir -p "$sample"
run_logged "$sample" makeSampleBasin.log "$makeSample" dem sample.asc
"$prepareTopography" -o "$sample" "$sample/sample.asc" | tee "$sample/prepareTopography.log" ||
    fail "prepareTopography failed."
run_logged "$sample" makeSampleBasin.log "$makeSample" inputs .
read -r _ mouthColumn mouthRow mouthCells _ <"$sample/topoData/riverNumList.dat" ||
    fail "prepareTopography selected no basin."

# --- 3. Simulation and tools -------------------------------------------------
step "Run runoffSim (two days of 60 s steps on the sample; about a minute at most)"
run_logged "$sample" runoffSim.log "$runoffSim"
tail -n 7 "$sample/runoffSim.log"

step "Hourly discharge images (automatic colour range)"
# The image maker asks whether to set the range by hand: any answer but "y" is automatic.
echo n | run_logged "$sample/output" dischargeImageHourly.log "$imageHourly"
images=("$sample"/output/image/*_discharge.ppm)
[ -e "${images[0]}" ] || fail "dischargeImageHourly wrote no image."
grep -a "Maximun discharge" "$sample/output/dischargeImageHourly.log" || true

step "Hydrograph at the basin mouth (column $mouthColumn, row $mouthRow, $mouthCells cells)"
printf '%s\n%s\n' "$mouthColumn" "$mouthRow" | run_logged "$sample/output" dischargeSeriesHourly.log "$seriesHourly"
hydrograph="$sample/output/${mouthColumn}-${mouthRow}_hourlyMeanDischarge.dat"
[ -s "$hydrograph" ] || fail "dischargeSeriesHourly wrote no hydrograph."
awk '$2 > peak { peak = $2; at = $1 } END { printf "Peak hourly mean discharge: %s m3/s in the hour ending at minute %s\n", peak, at }' \
    "$hydrograph"

# --- 4. Results for GIS, xarray, a gauge and the browser -----------------------
if $installed; then
    plotHydrograph="$(command -v plotHydrograph || true)"
    exportResults="$(command -v exportResults || true)"
else
    plotHydrograph="$build/export/plotHydrograph"
    exportResults="$build/export/exportResults"
fi
# The sample has no gauge: make a synthetic record from the simulation itself,
# an hour later and 10 % lower, to show the comparison.
gauge="$sample/input/gauge-mouth.csv"
awk 'BEGIN { print "minutes,discharge" } { printf "%d,%.3f\n", $1 + 60, $2 * 0.9 }' "$hydrograph" >"$gauge"
if [ -n "$plotHydrograph" ]; then
    step "Hydrograph of the mouth against a synthetic gauge (SVG)"
    run_logged "$sample" plotHydrograph.log "$plotHydrograph" --cell "$mouthColumn" "$mouthRow" --observed "$gauge"
    cat "$sample/plotHydrograph.log"
fi
netcdf=""
if [ -n "$exportResults" ] && [ -x "$exportResults" ]; then
    step "CF NetCDF, GeoTIFF maps and the viewer page"
    # --geotiff only where the build found GDAL; the page shows the synthetic gauge with its scores.
    exportOptions=(--html --observed "$mouthColumn" "$mouthRow" "$gauge")
    if ! "$exportResults" --help | grep -q "built without GDAL"; then
        exportOptions+=(--geotiff)
    fi
    run_logged "$sample" exportResults.log "$exportResults" "${exportOptions[@]}"
    cat "$sample/exportResults.log"
    netcdf="$sample/output/discharge.nc"
fi

# --- 5. Ensemble ----------------------------------------------------------------
# Ten members of the storm (moved, shifted in time, scaled) through runEnsemble,
# in a copy of the project with 300 s steps: a fifth of the work of 60 s steps,
# so the ten members cost about two runs of runoffSim. The storm itself runs
# there too, so that the copy's viewer page shows the probabilities and the
# members' spread next to its own results.
if $installed; then
    runEnsemble="$(command -v runEnsemble || true)"
else
    runEnsemble="$build/ensemble/runEnsemble"
fi
ensemble=""
if [ -n "$runEnsemble" ] && [ -x "$runEnsemble" ]; then
    step "Ensemble: ten members of the storm through runEnsemble (a copy with 300 s steps)"
    ensemble="$sample/ensemble"
    mkdir -p "$ensemble/output/damData" "$ensemble/output/resData"
    cp -r "$sample/topoData" "$sample/temp" "$sample/input" "$ensemble/"
    awk '{ for (i = 1; i <= NF; i++) if (++n == 15) $i = 300; print }' "$sample/param-hsx-event-ver400.dat" \
        >"$ensemble/param-hsx-event-ver400.dat"
    run_logged "$ensemble" makeSampleBasin.log "$makeSample" ensemble .
    run_logged "$ensemble" runEnsemble.log "$runEnsemble" --threshold flood=input/floodLevel.asc \
        --point "$mouthColumn" "$mouthRow"
    cat "$ensemble/runEnsemble.log"
    if [ -n "$netcdf" ]; then
        step "The storm in the ensemble's copy, and its viewer page with the ensemble"
        run_logged "$ensemble" runoffSim.log "$runoffSim"
        run_logged "$ensemble" exportResults.log "$exportResults" --html --observed "$mouthColumn" "$mouthRow" "$gauge"
        cat "$ensemble/exportResults.log"
    fi
fi

# --- 6. Animation --------------------------------------------------------------
gif=""
imagemagick=()
if command -v magick >/dev/null 2>&1; then
    imagemagick=(magick)
elif command -v convert >/dev/null 2>&1 && convert -version 2>/dev/null | grep -q '^Version: ImageMagick'; then
    imagemagick=(convert)
fi
if [ ${#imagemagick[@]} -gt 0 ]; then
    step "Animated GIF of the hourly images"
    if "${imagemagick[@]}" -delay 25 -loop 0 "${images[@]}" "$sample/output/dischargeHourly.gif" 2>"$sample/output/gif.log"; then
        gif="$sample/output/dischargeHourly.gif"
    else
        printf 'ImageMagick could not make the GIF (see %s); the images are there all the same.\n' "$sample/output/gif.log"
    fi
fi

step "Results"
cat <<EOF
Sample project      $sample
Hourly images       $sample/output/image/ (${#images[@]} PPM images, 5 x 5 pixels per cell, north up)
EOF
if [ -n "$gif" ]; then
    echo "Animation           $gif"
else
    echo "Animation           none (install ImageMagick for an animated GIF: apt-get install imagemagick)"
fi
cat <<EOF
Hydrograph (mouth)  $hydrograph (minutes, m3/s)
                    $sample/output/hydrograph-$mouthColumn-$mouthRow.svg (open it in a browser) and its -skill.csv
Dam and lake        $sample/output/damData/SampleDamIQS.dat, $sample/output/resData/SampleLakeIQ.dat
Discharge grids     $sample/output/*.bin (float32 frames, south row first; see README.md)
Rainfall total      $sample/output/totalRainDistribution.asc
EOF
if [ -n "$netcdf" ]; then
    echo "Viewer page         $sample/output/viewer.html (open it in a browser; works offline)"
    echo "NetCDF (CF-1.8)     $netcdf (xarray, QGIS, Panoply, ncview)"
    if [ -e "$sample/output/peakDischarge.tif" ]; then
        echo "GeoTIFF maps        $sample/output/peakDischarge.tif, peakTime.tif, totalRain.tif"
    fi
else
    echo "NetCDF              not built (install libnetcdf-dev, and libgdal-dev for the GeoTIFF maps)"
fi
if [ -n "$ensemble" ]; then
    echo "Ensemble (CF-1.8)   $ensemble/output/ensemble.nc (flood probabilities, peak quantiles, members at the mouth)"
    if [ -e "$ensemble/output/viewer.html" ]; then
        echo "Ensemble page       $ensemble/output/viewer.html (probability maps; the members' spread at the mouth)"
    fi
else
    echo "Ensemble            not built (runEnsemble needs libnetcdf-dev)"
fi
echo "Console logs        $sample/*.log, $sample/output/*.log"
