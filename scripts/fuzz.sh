#!/usr/bin/env bash
# Builds the libFuzzer harnesses and runs each for SECONDS (default 600) on a scratch corpus in
# build-fuzz/corpus/NAME, seeded from the tracked fuzz/corpus/NAME, which is only read. Prints
# per harness its executions, exec/s, corpus size and findings (crash, leak, timeout and
# out-of-memory inputs, kept in build-fuzz/findings/NAME); exits 1 on any finding.
# --merge then replaces fuzz/corpus/NAME with the fewest of its seeds and the scratch inputs that
# still cover all that both cover (libFuzzer's -merge=1), for committing as seeds.
# --runs N ends each harness after N executions, or after SECONDS if that comes first.
# Usage: fuzz.sh [SECONDS] [--runs N] [--merge] [HARNESS...]   (HARNESS: e.g. clInflate; default every one)
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=600
merge=0
runs=-1
only=()
while [ $# -gt 0 ]; do
  arg=$1
  shift
  case $arg in
    --merge) merge=1 ;;
    --runs)
      runs=${1:-}
      shift
      case $runs in ''|*[!0-9]*) echo "--runs needs a number"; exit 2 ;; esac ;;
    ''|*[!0-9]*) only+=("$arg") ;;
    *) seconds=$arg ;;
  esac
done

bash scripts/build.sh build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZV_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ || exit 1

# The NTLM mechanism behind clSspiAuth leaks on every handshake (about 10 MB a second of fuzzing),
# so that harness runs in slices of a fresh process each, well below the rss limit; the scratch
# corpus carries over from slice to slice. Every other harness runs in one piece.
declare -A slice_seconds=([clSspiAuth]=120)

# Runs one harness and prints its line; fails when it found anything or did not run to its end.
run_harness() {
  local binary=$1 name=${1##*/fuzz_}
  local scratch=build-fuzz/corpus/$name findings=build-fuzz/findings/$name log=build-fuzz/logs/$name.log
  # Findings of an earlier run are stale once the run is repeated.
  rm -rf "$findings"
  mkdir -p "$scratch" "$findings" build-fuzz/logs
  : >"$log"
  local inputs=("$scratch")
  [ -d "fuzz/corpus/$name" ] && inputs+=("fuzz/corpus/$name")
  local slice=${slice_seconds[$name]:-$seconds} started=$SECONDS status=0 executed=0 left todo last
  while :; do
    left=$((seconds - (SECONDS - started)))
    todo=-1
    [ "$runs" -ge 0 ] && todo=$((runs - executed))
    # libFuzzer reads a time of 0 as no limit, and a slice that ran nothing would loop for ever.
    [ "$left" -gt 0 ] && [ "$todo" -ne 0 ] || break
    "$binary" -max_total_time="$((slice < left ? slice : left))" -runs="$todo" -rss_limit_mb=2048 -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$findings/" "${inputs[@]}" >"$log.slice" 2>&1
    status=$?
    cat "$log.slice" >>"$log"
    last=$(grep -Eo 'number_of_executed_units: *[0-9]+' "$log.slice" | awk '{print $2}' | tail -1)
    rm -f "$log.slice"
    executed=$((executed + ${last:-0}))
    [ "$status" -eq 0 ] && [ "${last:-0}" -gt 0 ] || break
  done
  local rate corpus found
  rate=$((executed / (SECONDS - started > 0 ? SECONDS - started : 1)))
  corpus=$(find "$scratch" -type f | wc -l)
  found=$(find "$findings" -type f | wc -l)
  printf '%-20s %12s %8s %8s %8s\n' "$name" "$executed" "$rate" "$corpus" "$found"
  if [ "$found" -gt 0 ] || [ $status -ne 0 ]; then
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -20 | sed 's/^/    /'
    echo "    log: $log"
    return 1
  fi
  if [ $merge = 1 ]; then
    local seeds=fuzz/corpus/$name fewest=build-fuzz/merged/$name before after
    mkdir -p "$seeds"
    rm -rf "$fewest"
    mkdir -p "$fewest"
    before=$(find "$seeds" -type f | wc -l)
    "$binary" -merge=1 -rss_limit_mb=2048 -timeout=10 -artifact_prefix="$findings/" \
      "$fewest" "$seeds" "$scratch" >"build-fuzz/logs/$name.merge.log" 2>&1 || return 1
    rm -rf "$seeds"
    mv "$fewest" "$seeds"
    after=$(find "$seeds" -type f | wc -l)
    echo "    $seeds: $before seeds before, $after now"
  fi
}

for name in "${only[@]}"; do
  if [ ! -x "build-fuzz/bin/fuzz_$name" ]; then
    echo "no harness $name; there are: $(ls build-fuzz/bin | sed -n 's/^fuzz_//p' | tr '\n' ' ')"
    exit 1
  fi
done
printf '%-20s %12s %8s %8s %8s\n' harness executions exec/s corpus findings
failed=0
for binary in build-fuzz/bin/fuzz_*; do
  name=${binary##*/fuzz_}
  if [ ${#only[@]} -gt 0 ] && [[ ! " ${only[*]} " == *" $name "* ]]; then continue; fi
  run_harness "$binary" || failed=1
done
exit $failed
