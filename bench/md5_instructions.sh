#!/usr/bin/env bash
# Instructions per byte of the MD5 core (Md5Update and Md5Transform), counted
# by callgrind over 16 MiB fed in 8 KiB pieces.
#
#   bench/md5_instructions.sh [BUILD_DIR]    (a build with -DDORVANE_BENCH=ON)
set -euo pipefail
build=${1:-$(dirname "$0")/../build}
bytes=$((16 << 20))
out=$(mktemp)
trap 'rm -f "$out"' EXIT
valgrind --tool=callgrind --callgrind-out-file="$out" "$build/md5_count" "$bytes" >/dev/null 2>&1
callgrind_annotate "$out" | awk -v bytes="$bytes" '
  /Md5Transform|Md5Update/ { gsub(",", "", $1); count += $1; print }
  END { printf "MD5 core: %d instructions for %d bytes = %.2f per byte\n", count, bytes, count / bytes }'
