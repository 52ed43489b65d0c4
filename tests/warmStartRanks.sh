#!/usr/bin/env bash
# warmStartRanks.sh RUNOFFSIM RUNOFFSIMMPI MAKERANDOMPROJECT SEEDS [MPIEXEC ARGS...]
#   For each seed of SEEDS (separated by commas) and H = 1 + seed % 24:
#   runoffSim and runoffSimMpi on 1, 2 and 3 processes save the state at the
#   end of hour H, and must write the same state file and the same console,
#   temp/ and output/; then the rest of the event after hour H
#   (makeRandomProject SEED --from-hour H), run by runoffSim and by
#   runoffSimMpi on 1, 2 and 3 processes from the state that 3 processes
#   saved, must give the same console and files. Prints one line per
#   difference; exit status 1 if there is any.
set -uo pipefail
single=$1; mpi=$2; make=$3; seeds=$4; shift 4
launcher=("$@")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
differ=0; runs=0

fresh() {  # fresh DIR SEED [--from-hour H]
  rm -rf "$1" && mkdir -p "$1" && (cd "$1" && "$make" "${@:2}")
}

same() {  # same WHAT DIR_A DIR_B
  if ! diff -rq -x 'stderr' "$2" "$3" >/dev/null; then
    differ=$((differ + 1))
    echo "$1 differs:"
    diff -rq -x 'stderr' "$2" "$3" | head -5
  fi
}

for seed in ${seeds//,/ }; do
  hour=$((1 + seed % 24))
  fresh "$root/save" "$seed"
  (cd "$root/save" && "$single" --threads 2 --save-state state.bin --save-at "$hour" >console 2>/dev/null; echo $? >status)
  fresh "$root/rest" "$seed" --from-hour "$hour"
  for n in 1 2 3; do
    fresh "$root/saveMpi" "$seed"
    (cd "$root/saveMpi" && timeout 300 "${launcher[@]}" -np "$n" "$mpi" --threads 2 --save-state state.bin \
      --save-at "$hour" >console 2>stderr; echo $? >status)
    runs=$((runs + 1))
    same "seed $seed saved at hour $hour by $n processes" "$root/save" "$root/saveMpi"
  done
  [ -f "$root/saveMpi/state.bin" ] || continue  # a run that stops saves nothing, as runoffSim's
  cp "$root/saveMpi/state.bin" "$root/state3.bin"
  fresh "$root/rest" "$seed" --from-hour "$hour"
  (cd "$root/rest" && "$single" --threads 2 --initial-state ../state3.bin >console 2>/dev/null; echo $? >status)
  for n in 1 2 3; do
    fresh "$root/restMpi" "$seed" --from-hour "$hour"
    (cd "$root/restMpi" && timeout 300 "${launcher[@]}" -np "$n" "$mpi" --threads 2 --initial-state ../state3.bin \
      >console 2>stderr; echo $? >status)
    runs=$((runs + 1))
    same "seed $seed from the state of 3 processes, read by $n" "$root/rest" "$root/restMpi"
  done
done
echo "$runs distributed warm-start runs, $differ differ"
[ "$differ" = 0 ]
