#!/usr/bin/env bash
# Times dorvane against the installed MD5 tools on five trees: 1 GiB in 8
# large files, one file of 1 GiB, 20,000 files of 4 KiB, 50,000 files of
# 0-256 bytes (built once by make_corpora.py from fixed seeds), and a copy
# of /usr/include and /usr/share/doc. Every round runs each tool once, in
# turn, on a warm cache; the tables show medians, the ratio of each median
# to md5sum's (below 1 is faster) and the peak resident memory. dorvane
# runs with the best MD5 kernel of the machine on the default thread count
# (the processors it may use) and on one thread (DORVANE_THREADS=1); with
# KERNELS=all also with each lower kernel but scalar forced
# (DORVANE_MD5_KERNEL); every row names its kernel and threads. BEFORE=path
# adds another dorvane binary (an earlier build) as a row of its own.
#
#   bench/run_bench.sh [BUILD_DIR]       (default: build, with build/dorvane
#                                         and build/md5_kernels)
#
# Environment: BENCH_DIR keeps the trees between runs (default: a new temp
# dir, removed at the end); RUNS rounds on the small-file trees and the
# real one (default 5), LARGE_RUNS on the large ones (default 3); TREES the
# trees to run (default: all five); KERNELS and BEFORE as above.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
dorvane=$build/dorvane
runs=${RUNS:-5}
large_runs=${LARGE_RUNS:-3}
trees=${TREES:-large single small4k tiny real}
[ -x "$dorvane" ] && [ -x "$build/md5_kernels" ] ||
  { echo "no $dorvane or $build/md5_kernels: build with -DDORVANE_BENCH=ON first" >&2; exit 1; }

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

# The kernels: the best one, then the lower ones but scalar.
mapfile -t usable < <("$build/md5_kernels")
best=${usable[${#usable[@]} - 1]}
lower=()
if [ "${KERNELS:-}" = all ]; then
  for ((i = ${#usable[@]} - 2; i >= 1; i--)); do lower+=("${usable[i]}"); done
fi
before=${BEFORE:-}
threads=$(DORVANE_THREADS= "$dorvane" --version 2>/dev/null | sed -n 's/.* \([0-9][0-9]*\) thread.*/\1/p' | head -n 1)
threads=${threads:-$(nproc)}

# The command for one tool on one tree, run in that tree, into cmd and out
# (where its standard output goes). dorvane runs in its own session with no
# terminal, so its closing key wait returns at once; "dorvane@K" and
# "dorvane-t@K" force kernel K.
tool_command() {
  local tool=$1 tree=$2 kernel=$best count=
  case $tool in *@*) kernel=${tool#*@}; tool=${tool%@*} ;; esac
  case $tool in *:1) count=1; tool=${tool%:1} ;; esac
  out=/dev/null
  case $tool in
    dorvane) cmd=(env "DORVANE_MD5_KERNEL=$kernel" "DORVANE_THREADS=$count" setsid -w "$dorvane" c "$work/dorvane_$tree.txt" .) ;;
    dorvane-t) cmd=(env "DORVANE_MD5_KERNEL=$kernel" "DORVANE_THREADS=$count" setsid -w "$dorvane" t "$work/dorvane_$tree.txt")
               out=$work/t.out ;;
    before) cmd=(setsid -w "$before" c "$work/before_$tree.txt" .) ;;
    before-t) cmd=(setsid -w "$before" t "$work/before_$tree.txt") ;;
    md5sum) cmd=(bash -c 'find . -type f -print0 | xargs -0 md5sum')
            out=$work/md5sum_$tree.txt ;;
    md5sum-c) cmd=(md5sum -c --quiet "$work/md5sum_$tree.txt") ;;
    openssl) cmd=(bash -c 'find . -type f -print0 | xargs -0 openssl dgst -md5') ;;
    rhash) cmd=(rhash --md5 -r .) ;;
    md5deep-j0) cmd=(md5deep -j0 -r .) ;;
    md5deep) cmd=(md5deep -r .) ;;
    hashdeep) cmd=(hashdeep -c md5 -r .) ;;
  esac
}

# The name a table shows for a tool.
label() {
  case $1 in
    dorvane) echo "dorvane c [$best, $threads thr]" ;;
    dorvane:1) echo "dorvane c [$best, 1 thr]" ;;
    dorvane@*) echo "dorvane c [${1#*@}, $threads thr]" ;;
    dorvane-t) echo "dorvane t [$best, $threads thr]" ;;
    dorvane-t:1) echo "dorvane t [$best, 1 thr]" ;;
    dorvane-t@*) echo "dorvane t [${1#*@}, $threads thr]" ;;
    before) echo "before c" ;;
    before-t) echo "before t" ;;
    md5deep) echo "md5deep (threads)" ;;
    hashdeep) echo "hashdeep (threads)" ;;
    *) echo "$1" ;;
  esac
}

# A peer that meets a broken link in the real tree says so and exits
# nonzero; that is no reason to stop the benchmark.
run_tool() {
  local cmd out
  tool_command "$1" "$2"
  (cd "$work/$2" && "${cmd[@]}" </dev/null >"$out" 2>/dev/null) || true
}

timed_tool() {
  local cmd out start end
  tool_command "$1" "$2"
  cd "$work/$2"
  start=$(date +%s%N)
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f '%M' -o "$work/rss" "${cmd[@]}" </dev/null >"$out" 2>/dev/null || true
  else
    "${cmd[@]}" </dev/null >"$out" 2>/dev/null || true
    echo 0 >"$work/rss"
  fi
  end=$(date +%s%N)
  cd - >/dev/null
  echo $(((end - start) / 1000000))
}

median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

# bench TITLE TREE ROUNDS TOOL...: the first tool is the reference for ratios.
bench() {
  local title=$1 tree=$2 rounds=$3; shift 3
  local tools=() tool round
  for tool in "$@"; do
    case $tool in
      dorvane*|md5sum*|openssl) tools+=("$tool") ;;
      before*) [ -n "$before" ] && tools+=("$tool") ;;
      md5deep-j0) have md5deep && tools+=("$tool") ;;
      *) have "$tool" && tools+=("$tool") ;;
    esac
  done
  for tool in "${tools[@]}"; do : >"$work/times.$tool"; echo 0 >"$work/peak.$tool"; done
  for tool in "${tools[@]}"; do run_tool "$tool" "$tree"; done  # warm up
  for round in $(seq "$rounds"); do
    for tool in "${tools[@]}"; do
      timed_tool "$tool" "$tree" >>"$work/times.$tool"
      if [ "$(tail -n 1 "$work/rss")" -gt "$(cat "$work/peak.$tool")" ]; then
        tail -n 1 "$work/rss" >"$work/peak.$tool"
      fi
    done
  done
  local files bytes reference
  files=$(find "$work/$tree/" -type f | wc -l)
  bytes=$(du -sb --apparent-size "$work/$tree/" | cut -f1)
  reference=$(median <"$work/times.${tools[0]}")
  printf '\n%s, %s: %d files, %d MiB, %d rounds\n' "$title" "$tree" "$files" $((bytes >> 20)) "$rounds"
  printf '%-22s %10s %8s %12s %10s %12s\n' tool median_ms ratio files/s MB/s peak_KiB
  for tool in "${tools[@]}"; do
    local ms
    ms=$(median <"$work/times.$tool")
    awk -v t="$(label "$tool")" -v ms="$ms" -v ref="$reference" -v f="$files" -v b="$bytes" \
        -v peak="$(cat "$work/peak.$tool")" 'BEGIN {
      printf "%-22s %10d %8.3f %12.0f %10.1f %12d\n", t, ms, ms / ref,
             f / (ms / 1000), b / 1e6 / (ms / 1000), peak }'
  done
}

echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), kernel $(uname -r);" \
     "MD5 kernels: ${usable[*]}; default threads: $threads"
for tree in $trees; do
  rounds=$runs
  case $tree in large|single) rounds=$large_runs ;; esac
  create=(md5sum dorvane dorvane:1 before)
  check=(md5sum-c dorvane-t dorvane-t:1 before-t)
  for kernel in "${lower[@]}"; do create+=("dorvane@$kernel"); check+=("dorvane-t@$kernel"); done
  bench "create" "$tree" "$rounds" "${create[@]}" openssl rhash md5deep-j0 md5deep hashdeep
  # The lists just made, checked again: dorvane's t against md5sum -c.
  bench "test" "$tree" "$rounds" "${check[@]}"
  if grep -q 'errors:' "$work/t.out"; then
    echo "dorvane t reported errors on $tree:" >&2
    cat "$work/t.out" >&2
    exit 1
  fi
done
