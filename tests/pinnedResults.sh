#!/usr/bin/env bash
# pinnedResults.sh [--write] THREADS RUNOFFSIM MAKERANDOMPROJECT MAKESAMPLEBASIN PREPARETOPOGRAPHY
#   Runs RUNOFFSIM --threads THREADS on a fixed set of projects and compares
#   what each run leaves (its exit status, the SHA-256 of its console and of
#   every file in temp/ and output/) with pinnedResults.txt next to this
#   script. Prints the lines that differ; exit status 1 if any does.
#
#   With --write the list is written instead. Do that only when the results
#   are meant to change: that is a new major version (CHANGELOG.md), and the
#   change of the list belongs in the same commit as its reason. From a build:
#     cmake --build build --target writePinnedResults
#
# The projects are random projects of fixed seeds (their generator draws with
# the standard library's distributions: another standard library gives other
# projects, and the list must then be written anew) and the sample basin at a
# reduced size, run twice so that the second run reads the caches of the first.
set -uo pipefail
export LC_ALL=C
write=false
if [ "${1-}" = --write ]; then
  write=true
  shift
fi
if [ $# -ne 5 ]; then
  echo "Usage: pinnedResults.sh [--write] THREADS RUNOFFSIM MAKERANDOMPROJECT MAKESAMPLEBASIN PREPARETOPOGRAPHY" >&2
  exit 2
fi
abs() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }  # the runs change directory
threads=$1 runoffSim=$(abs "$2") makeRandomProject=$(abs "$3") makeSampleBasin=$(abs "$4") prepareTopography=$(abs "$5")
list="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/pinnedResults.txt"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

# What each seed brings (dam kinds 0 to 2, and 3, an unknown kind that stops
# the run in the loop; a hand-made order cache, rebuilt when it repeats cells):
#   2    dams of kinds 2, 0, 2 and two reservoirs
#   16   dams of kinds 1 and 2, two reservoirs, two rivers, 90 s steps
#   23   no computed cell at all
#   27   a kind-3 dam stops the run; 400 s steps
#   73   accumulations that disagree with the network; Beta map; three dams, two reservoirs
#   80   a kind-3 dam stops a two-day run; repeated-cell cache; 180 s steps
#   87   dams of kinds 0, 2, 1; Da and Nr maps
#   89   binary rainfall; Dm, Ka and ROFinitial maps; two reservoirs
#   106  Da map; 72 s steps
#   126  a hand-made cache that is read; binary rainfall over two days; 36 s steps
#   140  two days in 48 s steps; a dam, two reservoirs; Da and Ka maps
#   145  binary rainfall, 900 s steps; dams of kinds 0 and 1, a reservoir; repeated-cell cache
#   146  two recorded-release dams, two reservoirs; Beta and Ns maps
#   153  Ka, Ns and ROFinitial maps on binary rainfall
#   222  dams of kinds 2, 0, 1 and a reservoir; repeated-cell cache
#   225  a kind-3 dam stops the run; Da, Nr and Ns maps
#   232  two recorded-release dams; Nr and Ns maps; 225 s steps; repeated-cell cache
#   308  dams of kinds 2, 2, 1 over two days; Dm map
#   330  a kind-1 dam, two reservoirs; Dm and Ns maps; 20 s steps; repeated-cell cache
#   342  disagreeing accumulations; dams of kinds 1, 0, 2, a reservoir; repeated-cell cache
seeds="2 16 23 27 73 80 87 89 106 126 140 145 146 153 222 225 232 308 330 342"

# record NAME DIR PASS: runs runoffSim in DIR and prints the record lines of the run.
record() {
  local name=$1 dir=$2 pass=$3 status
  (cd "$dir" && "$runoffSim" --threads "$threads" >"$root/console" 2>/dev/null)
  status=$?
  echo "$name status$pass $status"
  echo "$name console$pass $(sha256sum <"$root/console" | cut -d' ' -f1)"
}

# files NAME DIR: the hash of every file in DIR's temp/ and output/.
files() {
  (cd "$2" && find temp output -type f | sort | while read -r f; do
    echo "$1 $f $(sha256sum <"$f" | cut -d' ' -f1)"
  done)
}

{
  for seed in $seeds; do
    dir="$root/seed$seed"
    mkdir -p "$dir" && (cd "$dir" && "$makeRandomProject" "$seed") || exit 2
    record "seed$seed" "$dir" ""
    files "seed$seed" "$dir"
  done
  # The sample basin on 30 x 24 cells, two days in 60 s steps.
  dir="$root/sample"
  { "$makeSampleBasin" dem "$root/dem.asc" 30 24 && "$prepareTopography" -o "$dir" "$root/dem.asc" &&
    "$makeSampleBasin" inputs "$dir" 30 24; } >/dev/null || exit 2
  record sample "$dir" ""
  record sample "$dir" 2
  files sample "$dir"
} >"$root/record.txt"

if $write; then
  {
    echo "# The pinned results of runoffSim: see pinnedResults.sh. Written anew only when"
    echo "# results change on purpose, which makes a major version (CHANGELOG.md)."
    cat "$root/record.txt"
  } >"$list"
  echo "Wrote $(wc -l <"$root/record.txt") lines to $list"
  exit 0
fi
if ! diff <(grep -v '^#' "$list") "$root/record.txt" >"$root/diff"; then
  echo "runoffSim on $threads threads differs from the pinned results ($list):"
  head -40 "$root/diff"
  exit 1
fi
echo "$(wc -l <"$root/record.txt") pinned lines match on $threads threads"
