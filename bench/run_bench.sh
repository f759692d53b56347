#!/usr/bin/env bash
# Times dorvane against the installed MD5 tools on three trees: 1 GiB in 8
# large files, 20,000 files of 4 KiB and 50,000 files of 0-256 bytes (built
# once by make_corpora.py from fixed seeds). Every round runs each tool once,
# in turn, on a warm cache; the table shows medians and the ratio of each
# median to md5sum's (below 1 is faster), and the peak resident memory.
#
#   bench/run_bench.sh [BUILD_DIR]       (default: build, with build/dorvane)
#
# Environment: BENCH_DIR keeps the trees between runs (default: a new temp
# dir, removed at the end); RUNS rounds on the small-file trees (default 5),
# LARGE_RUNS on the large one (default 3).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
dorvane=$(cd "$build" && pwd)/dorvane
runs=${RUNS:-5}
large_runs=${LARGE_RUNS:-3}
[ -x "$dorvane" ] || { echo "no $dorvane: build first" >&2; exit 1; }

if [ -n "${BENCH_DIR:-}" ]; then
  work=$BENCH_DIR
  mkdir -p "$work"
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/dorvane-bench.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi
if [ ! -f "$work/corpora.done" ]; then
  echo "building trees in $work ..." >&2
  python3 "$here/make_corpora.py" "$work"
  touch "$work/corpora.done"
fi

have() { command -v "$1" >/dev/null 2>&1; }

# The command for one tool on one tree, run in that tree, into cmd and out
# (where its standard output goes). The program runs in its own session with
# no terminal, so its closing key wait returns at once.
tool_command() {
  local tool=$1 tree=$2
  out=/dev/null
  case $tool in
    dorvane) cmd=(setsid -w "$dorvane" c "$work/dorvane_$tree.txt" .) ;;
    md5sum) cmd=(bash -c 'find . -type f -print0 | xargs -0 md5sum')
            out=$work/md5sum_$tree.txt ;;
    openssl) cmd=(bash -c 'find . -type f -print0 | xargs -0 openssl dgst -md5') ;;
    md5deep) cmd=(md5deep -j0 -r .) ;;
    hashdeep) cmd=(hashdeep -j0 -c md5 -r .) ;;
    rhash) cmd=(rhash --md5 -r .) ;;
    dorvane-t) cmd=(setsid -w "$dorvane" t "$work/dorvane_$tree.txt")
               out=$work/t.out ;;
    md5sum-c) cmd=(md5sum -c --quiet "$work/md5sum_$tree.txt") ;;
  esac
}

run_tool() {
  local cmd out
  tool_command "$1" "$2"
  (cd "$work/$2" && "${cmd[@]}" </dev/null >"$out")
}

timed_tool() {
  local cmd out start end
  tool_command "$1" "$2"
  cd "$work/$2"
  start=$(date +%s%N)
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f '%M' -o "$work/rss" "${cmd[@]}" </dev/null >"$out"
  else
    "${cmd[@]}" </dev/null >"$out"
    echo 0 >"$work/rss"
  fi
  end=$(date +%s%N)
  cd - >/dev/null
  echo $(((end - start) / 1000000))
}

median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

# bench TREE ROUNDS TOOL...: the first tool is the reference for ratios.
bench() {
  local tree=$1 rounds=$2; shift 2
  local tools=() tool round
  for tool in "$@"; do
    case $tool in
      dorvane*|md5sum*) tools+=("$tool") ;;
      openssl) have openssl && tools+=("$tool") ;;
      *) have "$tool" && tools+=("$tool") ;;
    esac
  done
  for tool in "${tools[@]}"; do : >"$work/times.$tool"; echo 0 >"$work/peak.$tool"; done
  for tool in "${tools[@]}"; do run_tool "$tool" "$tree"; done  # warm up
  for round in $(seq "$rounds"); do
    for tool in "${tools[@]}"; do
      timed_tool "$tool" "$tree" >>"$work/times.$tool"
      if [ "$(cat "$work/rss")" -gt "$(cat "$work/peak.$tool")" ]; then
        cp "$work/rss" "$work/peak.$tool"
      fi
    done
  done
  local files bytes reference
  files=$(find "$work/$tree/" -type f | wc -l)
  bytes=$(du -sb --apparent-size "$work/$tree/" | cut -f1)
  reference=$(median <"$work/times.${tools[0]}")
  printf '\n%s: %d files, %d MiB, %d rounds\n' "$tree" "$files" $((bytes >> 20)) "$rounds"
  printf '%-10s %10s %8s %12s %10s %12s\n' tool median_ms ratio files/s MB/s peak_KiB
  for tool in "${tools[@]}"; do
    local ms
    ms=$(median <"$work/times.$tool")
    awk -v t="$tool" -v ms="$ms" -v ref="$reference" -v f="$files" -v b="$bytes" \
        -v peak="$(cat "$work/peak.$tool")" 'BEGIN {
      printf "%-10s %10d %8.3f %12.0f %10.1f %12d\n", t, ms, ms / ref,
             f / (ms / 1000), b / 1e6 / (ms / 1000), peak }'
  done
}

for tree in large small4k tiny; do
  rounds=$runs
  [ "$tree" = large ] && rounds=$large_runs
  bench "$tree" "$rounds" md5sum dorvane openssl md5deep hashdeep rhash
  # The lists just made, checked again: dorvane's t against md5sum -c.
  bench "$tree" "$rounds" md5sum-c dorvane-t
  if grep -q 'errors:' "$work/t.out"; then
    echo "dorvane t reported errors on $tree:" >&2
    cat "$work/t.out" >&2
    exit 1
  fi
done
