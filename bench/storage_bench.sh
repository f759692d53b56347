#!/usr/bin/env bash
# Cold-cache runs of dorvane and its peers, with the block requests each run
# makes replayed on a model of a 7200-rpm disk. For every tree and tool the
# page cache is dropped, the run's reads are traced (tracefs, the
# block:block_rq_issue tracepoint), and the table gives the requests, their
# mean size, the jumps (requests that do not start where the previous one
# ended), the modelled time and the wall time, with ratios to md5sum's.
#
# The model: every request costs its transfer at 160 MB/s; a jump also costs
# 0.8 ms + 7.5 ms x sqrt(distance / disk size) + 4.17 ms (settle, seek,
# half a turn).
#
#   bench/storage_bench.sh [DORVANE_BINARY]   (default: build/dorvane)
#
# Needs root (dropping the page cache, read_ahead_kb, tracefs); without it
# the script says so and does nothing. It runs each tree with read_ahead_kb
# at 128 and at the device's own value, which it puts back at the end.
# Environment: BENCH_DIR keeps the trees (default: a new temp dir, removed
# at the end); TREES the trees (default: large-sync large real small4k
# tiny); READ_AHEAD the read_ahead_kb values (default: "128 <device's>");
# DORVANE_STORAGE is passed to dorvane (default: rotational, the disk the
# model stands for).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
dorvane=$(realpath "${1:-$here/../build/dorvane}")
trees=${TREES:-large-sync large real small4k tiny}
storage=${DORVANE_STORAGE:-rotational}
[ -x "$dorvane" ] || { echo "no dorvane binary at $dorvane" >&2; exit 1; }

if [ "$(id -u)" -ne 0 ]; then
  echo "storage_bench: skipped: dropping the page cache, setting read_ahead_kb" \
       "and tracing block requests need root" >&2
  exit 0
fi

tracing=/sys/kernel/tracing
if [ ! -d "$tracing/events/block" ]; then
  mount -t tracefs nodev "$tracing" 2>/dev/null || true
fi
[ -d "$tracing/events/block/block_rq_issue" ] ||
  { echo "storage_bench: skipped: no tracefs with block events at $tracing" >&2; exit 0; }

if [ -n "${BENCH_DIR:-}" ]; then
  work=$BENCH_DIR
  mkdir -p "$work"
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/dorvane-storage.XXXXXX")
fi
work=$(realpath "$work")
instance=$tracing/instances/dorvane-storage-$$
read_ahead_file=
read_ahead_default=

cleanup() {
  [ -n "$read_ahead_default" ] && echo "$read_ahead_default" >"$read_ahead_file"
  [ -d "$instance" ] && { echo 0 >"$instance/tracing_on"; rmdir "$instance"; }
  [ -z "${BENCH_DIR:-}" ] && rm -rf "$work"
  return 0
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ ! -f "$work/corpora.done" ]; then
  echo "building trees in $work ..." >&2
  python3 "$here/make_corpora.py" "$work"
  touch "$work/corpora.done"
fi
# 8 x 128 MiB written one after the other, each on disk before the next is
# begun, so that every file lies in one piece.
if [ ! -f "$work/large-sync.done" ]; then
  echo "writing $work/large-sync ..." >&2
  rm -rf "$work/large-sync"
  mkdir -p "$work/large-sync"
  for i in 0 1 2 3 4 5 6 7; do
    head -c 128M /dev/urandom >"$work/large-sync/big$i.bin"
    sync
  done
  touch "$work/large-sync.done"
fi
mkdir -p "$work/lists"

# The block device of the trees' file system, the disk it is part of, and
# the queue whose read-ahead the file system uses.
dev=$(stat -c %d "$work")
major=$(((dev >> 8) & 0xfff | ((dev >> 32) & ~0xfff)))
minor=$(((dev & 0xff) | ((dev >> 12) & ~0xff)))
device=$(realpath "/sys/dev/block/$major:$minor" 2>/dev/null) ||
  { echo "storage_bench: $work is on no block device ($major:$minor)" >&2; exit 1; }
disk=$device
[ -f "$device/partition" ] && disk=$(dirname "$device")
read_ahead_file=$disk/queue/read_ahead_kb
[ -f "$device/queue/read_ahead_kb" ] && read_ahead_file=$device/queue/read_ahead_kb
disk_bytes=$(($(cat "$disk/size") * 512))
read -r disk_major disk_minor < <(tr ':' ' ' <"$disk/dev")
read_ahead_default=$(cat "$read_ahead_file")
read_aheads=${READ_AHEAD:-128 $read_ahead_default}
if [ -n "$(ls -A "$disk/slaves" 2>/dev/null)" ]; then
  echo "note: $(basename "$disk") is built on other devices; every device's reads are traced" >&2
  trace_filter=0
else
  trace_filter="dev == $(((disk_major << 20) | disk_minor))"
fi

mkdir "$instance"
echo 16384 >"$instance/buffer_size_kb"
echo "$trace_filter" >"$instance/events/block/block_rq_issue/filter"
echo 1 >"$instance/options/event-fork"
echo 1 >"$instance/events/block/block_rq_issue/enable"

have() { command -v "$1" >/dev/null 2>&1; }

# The command for one tool on one tree, run in the tree, into cmd and out.
tool_command() {
  local tool=$1 tree=$2
  out=/dev/null
  case $tool in
    md5sum) cmd=(bash -c 'find . -type f -print0 | xargs -0 md5sum')
            out=$work/lists/md5sum_$tree.txt ;;
    md5sum-c) cmd=(md5sum -c --quiet "$work/lists/md5sum_$tree.txt") ;;
    dorvane-c) cmd=(env "DORVANE_STORAGE=$storage" setsid -w "$dorvane" c "$work/lists/dorvane_$tree.txt" .) ;;
    dorvane-t) cmd=(env "DORVANE_STORAGE=$storage" setsid -w "$dorvane" t "$work/lists/dorvane_$tree.txt")
               out=$work/lists/t.out ;;
    md5deep) cmd=(md5deep -r .) ;;
    md5deep-j0) cmd=(md5deep -j0 -r .) ;;
    rhash) cmd=(rhash --md5 -r .) ;;
  esac
}

label() {
  case $1 in
    md5sum) echo "md5sum (find|xargs)" ;;
    dorvane-c) echo "dorvane c" ;;
    dorvane-t) echo "dorvane t" ;;
    md5deep) echo "md5deep (threads)" ;;
    md5deep-j0) echo "md5deep -j0" ;;
    *) echo "$1" ;;
  esac
}

# One cold run, traced: prints "wall_ms requests bytes jumps model_ms".
cold_run() {
  local tool=$1 tree=$2 cmd out start end lost
  tool_command "$tool" "$tree"
  sync
  echo 3 >/proc/sys/vm/drop_caches
  echo >"$instance/trace"
  start=$(date +%s%N)
  # Only this run's processes are traced, their children and threads with
  # them: others share the disk. The few requests the kernel issues from
  # its own workers (after a full device queue) are missed.
  (echo "$BASHPID" >"$instance/set_event_pid" && echo 1 >"$instance/tracing_on" &&
   cd "$work/$tree" && exec "${cmd[@]}" </dev/null >"$out" 2>/dev/null) || true
  end=$(date +%s%N)
  echo 0 >"$instance/tracing_on"
  : >"$instance/set_event_pid"
  lost=$(awk '/^overrun:/ {n += $2} END {print n + 0}' "$instance"/per_cpu/cpu*/stats)
  [ "$lost" -eq 0 ] || echo "warning: $lost trace events lost ($tool, $tree)" >&2
  # Reads only: the lists written and the file system's journal are no
  # part of what the model is about.
  awk -v wall=$(((end - start) / 1000000)) -v disk="$disk_bytes" '
    /block_rq_issue:/ {
      for (i = 1; i <= NF; i++) if ($i == "block_rq_issue:") break
      if ($(i + 2) !~ /R/) next
      for (j = i; j <= NF; j++) if ($j == "+") break
      sector = $(j - 1); count = $(j + 1)
      if (count == 0) next
      requests++; bytes += count * 512
      model += count * 512 / 160e6
      if (requests > 1 && sector != end_sector) {
        jumps++
        distance = (sector > end_sector ? sector - end_sector : end_sector - sector) * 512
        model += 0.0008 + 0.0075 * sqrt(distance / disk) + 0.00417
      }
      end_sector = sector + count
    }
    END { printf "%d %d %d %d %d\n", wall, requests, bytes, jumps, model * 1000 }
  ' "$instance/trace"
}

echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), kernel $(uname -r)"
echo "trees in $work on $(basename "$device") ($major:$minor), disk $(basename "$disk"):" \
     "$((disk_bytes >> 30)) GiB, rotational=$(cat "$disk/queue/rotational")," \
     "read_ahead_kb $read_ahead_default; dorvane $dorvane, DORVANE_STORAGE=$storage"
echo "model: 160 MB/s; a jump costs 0.8 ms + 7.5 ms x sqrt(distance/disk) + 4.17 ms;" \
     "ratios to md5sum (find|xargs) in the same table"

tools=(md5sum md5sum-c dorvane-c dorvane-t)
have md5deep && tools+=(md5deep md5deep-j0)
have rhash && tools+=(rhash)
have md5deep || echo "note: md5deep not installed (Debian: hashdeep); left out" >&2
have rhash || echo "note: rhash not installed; left out" >&2

for read_ahead in $read_aheads; do
  echo "$read_ahead" >"$read_ahead_file"
  for tree in $trees; do
    files=$(find "$work/$tree/" -type f | wc -l)
    bytes=$(du -sb --apparent-size "$work/$tree/" | cut -f1)
    printf '\n%s, read_ahead_kb %s: %d files, %d MiB\n' "$tree" "$read_ahead" "$files" $((bytes >> 20))
    printf '%-20s %9s %9s %8s %10s %8s %9s %8s\n' tool requests mean_KiB jumps model_ms ratio wall_ms ratio
    reference_model=
    for tool in "${tools[@]}"; do
      read -r wall requests read_bytes jumps model < <(cold_run "$tool" "$tree")
      if [ -z "$reference_model" ]; then reference_model=$model reference_wall=$wall; fi
      awk -v t="$(label "$tool")" -v r="$requests" -v b="$read_bytes" -v j="$jumps" \
          -v m="$model" -v w="$wall" -v rm="$reference_model" -v rw="$reference_wall" 'BEGIN {
        printf "%-20s %9d %9.1f %8d %10d %8.2f %9d %8.2f\n", t, r,
               r ? b / r / 1024 : 0, j, m, rm ? m / rm : 0, w, rw ? w / rw : 0 }'
    done
    if grep -q 'errors:' "$work/lists/t.out" 2>/dev/null; then
      echo "dorvane t reported errors on $tree:" >&2
      cat "$work/lists/t.out" >&2
    fi
  done
done
