#!/usr/bin/env bash
# Remakes the seed corpora in fuzz/corpus/ from lists made by the program.
# Usage: fuzz/make_seeds.sh path/to/dorvane
# list_reader and field_reader seeds start with their parameter bytes (see
# the targets' comments); md5 seeds with their piece lengths; md5_lanes
# seeds with their block count.
set -euo pipefail
dorvane=$(realpath "$1")
out=$(realpath "$(dirname "$0")")/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out/list_reader" "$out/field_reader" "$out/md5" "$out/hash_lanes"

# The list reader target's tree.
mkdir -p "$work/tree/sub/deeper"
printf abc >"$work/tree/abc.txt"; : >"$work/tree/empty.bin"
printf abc >"$work/tree/data01"; printf abc >"$work/tree/b c.txt"
printf abc >"$work/tree/sub/abc.txt"; printf x >"$work/tree/sub/deeper/x"
(cd "$work" && setsid "$dorvane" c crlf.lst tree </dev/null >/dev/null)
(cd "$work" && setsid "$dorvane" a crlf.lst tree/sub </dev/null >/dev/null)
crlf="$work/crlf.lst"
tr -d '\r' <"$crlf" >"$work/lf.lst"
# Damaged copies: a changed digest, a cut last line, lower case, a TAB, a
# line past the 1024-byte field limit, a byte-order mark, NULs, no quotes.
sed 's/900150983CD24FB0D6963F7D28E17F72/900150983CD24FB0D6963F7D28E17F73/' "$crlf" >"$work/changed.lst"
head -c -9 "$crlf" >"$work/cut.lst"
tr 'A-Z' 'a-z' <"$crlf" >"$work/lower.lst"
sed 's/  3  /\t3\t/' "$crlf" >"$work/tab.lst"
{ printf 'DIR:  ".\\%s\\"\r\n' "$(head -c 1100 /dev/zero | tr '\0' d)"; cat "$crlf"; } >"$work/long.lst"
{ printf '\xef\xbb\xbf'; cat "$crlf"; } >"$work/bom.lst"
tr '\n' '\0' <"$crlf" >"$work/nul.lst"
tr -d '"' <"$crlf" >"$work/unquoted.lst"
printf 'FILE: 900150983CD24FB0D6963F7D28E17F72  3  "abc.txt"\r\nDIR: ".\\sub\\"\nFILE: x\r\nROOT: \r\nFILE: ' >"$work/odd.lst"

for list in "$work"/*.lst; do
  name=$(basename "$list" .lst)
  { printf '\x05\x80'; cat "$list"; } >"$out/list_reader/$name"
  { printf '\x00\x03'; cat "$list"; } >"$out/list_reader/$name-bytewise-small"
  # The verifier's capacities: tag 7, digest 33, rest 1024.
  { printf '\x06\x02\x08\x22\xf0'; cat "$list"; } >"$out/field_reader/$name"
  { printf '\x02\x03\x01\x05\x00\x27'; cat "$list"; } >"$out/field_reader/$name-small"
done
for length in 0 1 3 55 56 63 64 65 119 120 128 1000; do
  { printf '\x03\x01\x3f\x00'; head -c "$length" /dev/urandom; } >"$out/md5/random-$length"
done
cp "$crlf" "$out/md5/list"
# md5_lanes: the block count, 256 bytes of states, then every lane's blocks.
mkdir -p "$out/md5_lanes"
for blocks in 0 1 2 7; do
  { printf "\\x0$blocks"; head -c $((256 + 1024 * blocks)) /dev/urandom; } >"$out/md5_lanes/random-$blocks"
done
{ printf '\x03'; head -c 100 /dev/urandom; } >"$out/md5_lanes/short"
# hash_lanes: files at the block and chunk edges (length low, high, then
# bits 0-2 above them and an action), with each of the first three kernels
# the machine can run and with the scalar transform in 5 and in 16 lanes.
edges='\x00\x00\x00\x01\x00\x08\x37\x00\x60\x40\x00\xa0\x41\x00\x00\xff\x1f\x00\x00\x20\x00\x01\x20\xb0\x78\x00\x00\xff\xff\x01\x00\x00\x02\x01\x00\xc2'
for kernel in 0 1 2; do printf "\x0$((2 * kernel))$edges" >"$out/hash_lanes/edges-kernel-$kernel"; done
printf "\x09$edges" >"$out/hash_lanes/edges-five-lanes"
printf "\x1f$edges" >"$out/hash_lanes/edges-sixteen-lanes"
