#!/usr/bin/env bash
# compareRanks.sh RUNOFFSIM RUNOFFSIMMPI PROJECT RANKS [MPIEXEC ARGS...]
#   Runs RUNOFFSIM once and, for each count in RANKS (for example "1 2 3"),
#   MPIEXEC ARGS -np N RUNOFFSIMMPI, each in a fresh copy of a project, and
#   compares the console, the exit status and every file of temp/ and output/
#   byte for byte. PROJECT is "seed:LIST:MAKERANDOMPROJECT" (the random
#   projects of LIST, seeds separated by commas), "sample:MAKESAMPLEBASIN:
#   PREPARETOPOGRAPHY" (the sample basin, its event cut to one day) or a
#   directory to copy. runoffSim and the largest count also get a second pass
#   on the caches the first left in temp/. Prints one line per difference;
#   exit status 1 if there is any.
set -uo pipefail
single=$1; mpi=$2; project=$3; ranks=$4; shift 4
launcher=("$@")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
differ=0; stopped=0; runs=0

make_project() {  # make_project DIR KEY
  mkdir -p "$1"
  case $project in
    seed:*) (cd "$1" && "${project##*:}" "$2") ;;
    sample:*)
      IFS=: read -r _ sample prepare <<<"$project"
      (cd "$root" && [ -d sample ] || { "$sample" dem "$root/dem.asc" >/dev/null &&
        "$prepare" -o "$root/sample" "$root/dem.asc" >/dev/null && "$sample" inputs "$root/sample" >/dev/null; })
      cp -r "$root/sample/." "$1"
      # One day instead of two: the duration is the 14th number of the parameter file.
      awk '{ for (i = 1; i <= NF; ++i) { if (++n == 14) $i = 1 } print }' "$1/param-hsx-event-ver400.dat" >"$1/p.tmp" &&
        mv "$1/p.tmp" "$1/param-hsx-event-ver400.dat" ;;
    *) cp -r "$project/." "$1" ;;
  esac
}

compare() {  # compare KEY
  local key=$1 a=$root/single b=$root/ranks
  rm -rf "$a" && make_project "$a" "$key"
  for pass in 1 2; do
    (cd "$a" && "$single" --threads 2 >console.$pass 2>/dev/null; echo $? >status.$pass)
  done
  [ "$(cat "$a/status.1")" != 0 ] && stopped=$((stopped + 1))
  local largest=${ranks##* }
  for n in $ranks; do
    rm -rf "$b" && make_project "$b" "$key"
    local passes=1
    [ "$n" = "$largest" ] && passes="1 2"
    for pass in $passes; do
      (cd "$b" && timeout 300 "${launcher[@]}" -np "$n" "$mpi" --threads 2 >console.$pass 2>stderr.$pass; echo $? >status.$pass)
    done
    runs=$((runs + 1))
    local skip=(-x 'stderr.*')
    [ "$n" != "$largest" ] && skip+=(-x console.2 -x status.2)
    if ! diff -rq "${skip[@]}" "$a" "$b" >/dev/null; then
      differ=$((differ + 1))
      echo "$key with $n ranks differs from runoffSim:"
      diff -rq "${skip[@]}" "$a" "$b" | head -5
      diff "$a/console.1" "$b/console.1" | head -5
    fi
  done
}

case $project in
  seed:*)
    list=${project#seed:}; list=${list%%:*}
    for seed in ${list//,/ }; do compare "$seed"; done ;;
  *) compare project ;;
esac
echo "$runs distributed runs, $differ differ; $stopped of the projects stop with an error"
[ "$differ" = 0 ]
