#!/usr/bin/env bash
# The audit and the parts on real trees, warm (the trees are read once
# before they are timed):
#  1. a copy of SOURCE (default /usr/include) with 1,000 files changed, 100
#     removed, 10 moved and 100 new: the audit must give each its status
#     and the counts, and `t`'s own output must stay a plain `t`'s;
#  2. wall time of `t --audit` against a plain `t` on TREE (default
#     SOURCE's copy), median of ROUNDS (default 5) runs each;
#  3. wall time of each of PARTS (default 4) parts of `c`, run one after
#     another, against the whole `c`, and of the walk alone
#     (`--part 1/1000000` lists next to nothing).
#   bench/audit_bench.sh [DORVANE_BINARY] [TREE]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dorvane=$(realpath "${1:-$here/../build/dorvane}")
source=${SOURCE:-/usr/include}
rounds=${ROUNDS:-5} parts=${PARTS:-4}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree=$(realpath "${2:-$work/copy}")
run() { setsid -w "$dorvane" "$@" </dev/null; }
fail() { echo "audit_bench: $*" >&2; exit 1; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
seconds() {  # median wall seconds of the command, run in $tree
  local r start
  for ((r = 0; r < rounds; r++)); do
    start=$(date +%s%N)
    (cd "$tree" && "$@" >/dev/null 2>&1) || true
    echo $((($(date +%s%N) - start) / 1000))
  done | median | awk '{ printf "%.3f", $1 / 1e6 }'
}

echo "== 1. audit of a changed copy of $source"
cp -a "$source" "$work/copy"
cd "$work/copy"
run c ../copy.lst . >/dev/null 2>&1
# Each listed file as "digest size path"; files of one content alone may
# be removed or moved, so that every move has one match.
awk '/^DIR:/ { d = substr($0, 8); sub(/"\r?$/, "", d) }
     /^FILE:/ { n = $0; sub(/^FILE: [0-9A-F]+  [0-9]+  "/, "", n); sub(/"\r?$/, "", n)
                print $2, $3, d n }' ../copy.lst | shuf --random-source=<(yes) >../files.txt
awk '{ c[$1 " " $2]++; l[NR] = $0; k[NR] = $1 " " $2 }
     END { for (i = 1; i <= NR; i++) if (c[k[i]] == 1) print l[i] }' ../files.txt >../unique.txt
[ "$(wc -l <../unique.txt)" -ge 1210 ] || fail "too few files in $source"
disk() { echo "${1#.\\}" | tr '\\' /; }
: >../expected.txt
while read -r digest size path; do
  printf 'x' >>"$(disk "$path")"; echo "* $path" >>../expected.txt
done < <(sed -n 1,1000p ../unique.txt)
while read -r digest size path; do
  rm "$(disk "$path")"; echo "- $path" >>../expected.txt
done < <(sed -n 1001,1100p ../unique.txt)
mkdir added-here moved-here
i=0
while read -r digest size path; do
  i=$((i + 1))
  mv "$(disk "$path")" "moved-here/$i"
  printf '> %s\tmoved\t.\\moved-here\\%s\n' "$path" "$i" >>../expected.txt
done < <(sed -n 1101,1110p ../unique.txt)
for i in $(seq 100); do
  echo "new $i" >"added-here/$i"; echo "+ .\\added-here\\$i" >>../expected.txt
done
awk '{ print $2 }' ../files.txt >/dev/null
run t ../copy.lst >../plain.out 2>/dev/null && fail "plain t passed" || true
status=0
run t --audit ../audit.txt ../copy.lst >../audit.out 2>/dev/null || status=$?
[ "$status" = 2 ] || fail "audit exit $status"
cmp -s ../plain.out ../audit.out || fail "t's own output changed with --audit"
grep -v '^[=#]' ../audit.txt | tr -d '\r' | sort >../got.txt
sort ../expected.txt | cmp -s - ../got.txt || { diff <(sort ../expected.txt) ../got.txt | head; fail "statuses differ"; }
counts=$(tail -1 ../audit.txt | tr -d '\r')
same=$(($(wc -l <../files.txt) - 1110))
[ "$counts" = "# $same same, 1000 changed, 100 missing, 100 new, 10 moved, 0 unreadable" ] ||
  fail "counts: $counts"
echo "every status right; t's output unchanged; $counts"

echo "== 2. audit against plain t, $tree"
cd "$tree"
run c "$work/tree.lst" . >/dev/null 2>&1
run t "$work/tree.lst" >/dev/null 2>&1 || true
plain=$(seconds "$dorvane" t "$work/tree.lst")
audit=$(seconds "$dorvane" t --audit "$work/tree-audit.txt" "$work/tree.lst")
echo "plain t $plain s, t --audit $audit s: $(awk -v a="$audit" -v p="$plain" 'BEGIN { printf "%.3f", a / p }')x"

echo "== 3. parts of c, $tree"
whole=$(seconds "$dorvane" c "$work/whole.lst" .)
walk=$(seconds "$dorvane" c --part 1/1000000 "$work/walk.lst" .)
echo "whole c $whole s; the walk alone $walk s"
for ((k = 1; k <= parts; k++)); do
  part=$(seconds "$dorvane" c --part $k/$parts "$work/part$k.lst" .)
  echo "part $k/$parts $part s: $(awk -v a="$part" -v w="$whole" -v n="$parts" -v k="$walk" \
    'BEGIN { printf "%.3f of the whole (1/%d plus the walk: %.3f)", a / w, n, 1 / n + k / w }')"
done
