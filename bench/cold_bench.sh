#!/usr/bin/env bash
# Cold-cache wall times of dorvane and its peers on this machine's own disk:
# for every tree, round and tool the page cache is dropped and the tool run
# from inside the tree. Prints, per tree, each tool's median over the rounds
# and its ratio to md5sum's (find | xargs md5sum; `md5sum -c` for checks),
# with dorvane run as it decides and with DORVANE_STORAGE forced each way.
#
#   bench/cold_bench.sh [DORVANE_BINARY]   (default: build/dorvane)
#
# Needs root (dropping the page cache); without it the script says so and
# does nothing. Environment: BENCH_DIR keeps the trees (default: a new temp
# dir, removed at the end); TREES (default: large real small4k tiny);
# ROUNDS (default: 3); BEFORE, another dorvane binary to run beside it.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
dorvane=$(realpath "${1:-$here/../build/dorvane}")
trees=${TREES:-large real small4k tiny}
rounds=${ROUNDS:-3}
before=${BEFORE:+$(realpath "$BEFORE")}
[ -x "$dorvane" ] || { echo "no dorvane binary at $dorvane" >&2; exit 1; }
if [ "$(id -u)" -ne 0 ]; then
  echo "cold_bench: skipped: dropping the page cache needs root" >&2
  exit 0
fi

if [ -n "${BENCH_DIR:-}" ]; then
  work=$BENCH_DIR
  mkdir -p "$work"
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/dorvane-cold.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi
work=$(realpath "$work")
if [ ! -f "$work/corpora.done" ]; then
  echo "building trees in $work ..." >&2
  python3 "$here/make_corpora.py" "$work"
  touch "$work/corpora.done"
fi
lists=$work/cold-lists
mkdir -p "$lists"

have() { command -v "$1" >/dev/null 2>&1; }
tools=(md5sum dorvane-c dorvane-c-solid dorvane-c-rotational)
[ -n "$before" ] && tools+=(before-c)
have md5deep && tools+=(md5deep md5deep-j0)
have rhash && tools+=(rhash)
checks=(md5sum-c dorvane-t dorvane-t-solid dorvane-t-rotational)
[ -n "$before" ] && checks+=(before-t)
have md5deep || echo "note: md5deep not installed (Debian: hashdeep); left out" >&2
have rhash || echo "note: rhash not installed; left out" >&2

# The command for one tool on one tree, run in the tree, into cmd and out.
tool_command() {
  local tool=$1 tree=$2 list=$lists/$2.lst
  out=/dev/null
  case $tool in
    md5sum) cmd=(bash -c 'find . -type f -print0 | xargs -0 md5sum'); out=$lists/$tree.md5 ;;
    md5sum-c) cmd=(md5sum -c --quiet "$lists/$tree.md5") ;;
    dorvane-c) cmd=(setsid -w "$dorvane" c "$list" .) ;;
    dorvane-t) cmd=(setsid -w "$dorvane" t "$list") ;;
    dorvane-[ct]-*) cmd=(env "DORVANE_STORAGE=${tool#dorvane-?-}" setsid -w "$dorvane"
                         "${tool:8:1}" "$list"); [ "${tool:8:1}" = c ] && cmd+=(.) ;;
    before-c) cmd=(setsid -w "$before" c "$lists/$tree.before.lst" .) ;;
    before-t) cmd=(setsid -w "$before" t "$list") ;;
    md5deep) cmd=(md5deep -r .) ;;
    md5deep-j0) cmd=(md5deep -j0 -r .) ;;
    rhash) cmd=(rhash --md5 -r .) ;;
  esac
}

# One cold run: prints its wall time in ms.
cold_run() {
  local tool=$1 tree=$2 start end
  tool_command "$tool" "$tree"
  sync
  echo 3 >/proc/sys/vm/drop_caches
  start=$(date +%s%N)
  (cd "$work/$tree" && exec "${cmd[@]}" </dev/null >"$out" 2>/dev/null) || true
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), kernel $(uname -r)"
disk=$(df --output=source "$work" | tail -1)
echo "trees in $work on $disk; dorvane $dorvane; $rounds rounds, cold cache every run"
for tree in $trees; do
  files=$(find "$work/$tree/" -type f | wc -l)
  printf '\n%s: %d files\n%-22s %9s %7s\n' "$tree" "$files" tool median_ms ratio
  for group in tools checks; do
    declare -n names=$group
    declare -A times=()
    for ((round = 1; round <= rounds; round++)); do
      for tool in "${names[@]}"; do times[$tool]+="$(cold_run "$tool" "$tree") "; done
    done
    reference=
    for tool in "${names[@]}"; do
      ms=$(tr ' ' '\n' <<<"${times[$tool]}" | grep . | median)
      [ -z "$reference" ] && reference=$ms
      awk -v t="$tool" -v m="$ms" -v r="$reference" \
          'BEGIN { printf "%-22s %9d %7.2f\n", t, m, r ? m / r : 0 }'
    done
    unset -n names
    unset times
  done
done
