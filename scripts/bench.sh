#!/usr/bin/env bash
# Builds the benchmarks (the Release build in build/) and runs each against its peer in the same
# run, then prints one markdown table of every figure's ratio to its peer, gathered from the
# benchmarks' RESULT lines. Each benchmark's full output goes to build/bench/NAME.log.
# Usage: bench.sh [--quick]   (--quick: smaller sizes and fewer rounds, for a first look)
set -uo pipefail
cd "$(dirname "$0")/.."
quick=0
[ "${1:-}" = --quick ] && quick=1

# Each benchmark with its arguments for a full and for a quick run.
benches=(
  "multi_download|1024 3 4096|128 1 1024"
  "http_get|1024 3|256 1"
  "wininet_get|1024 3|256 1"
  "clInflate|100|20"
  "flv_join|30|12"
  "message_pump|7|3"
  "video_download_ui|64 3|16 1"
  "net_transfer|1024 256|256 64"
)
targets=()
for entry in "${benches[@]}"; do targets+=("bench_${entry%%|*}"); done
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=Release -- "${targets[@]}" FlvBind || exit 1

mkdir -p build/bench
results=build/bench/results.txt
: >"$results"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for entry in "${benches[@]}"; do
  IFS='|' read -r name full short <<<"$entry"
  args=$full
  [ $quick = 1 ] && args=$short
  echo "== bench_$name $args" >&2
  # A benchmark whose target is missed still reports its figures; one that fails reports none.
  # shellcheck disable=SC2086
  QT_QPA_PLATFORM=offscreen build/bin/bench_$name $args >"build/bench/$name.log" 2>&1
  if grep -q '^RESULT ' "build/bench/$name.log"; then
    grep '^RESULT ' "build/bench/$name.log" >>"$results"
  else
    echo "RESULT name=$name ours=- peer=- unit=- ratio=- target=- met=failed what=no figures, see build/bench/$name.log" >>"$results"
  fi
done

echo
echo "| figure | what (ours vs peer) | ours | peer | unit | ratio ours/peer | target | met |"
echo "|---|---|---:|---:|---|---:|---|---|"
sed -E 's/^RESULT name=(\S+) ours=(\S+) peer=(\S+) unit=(\S+) ratio=(\S+) target=(\S+) met=(\S+) what=(.*)$/| \1 | \8 | \2 | \3 | \4 | \5 | \6 | \7 |/' "$results"
echo
echo "load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) cores)"
! grep -Eq 'met=(no|failed)' "$results"
