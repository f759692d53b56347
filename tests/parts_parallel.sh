#!/usr/bin/env bash
# One tree split over four processes by GNU parallel, as over four
# machines: the parts' lists together hold exactly the files of one `c`
# and check clean from anywhere with --roots; a damaged file is found by
# exactly one part of the test; the parts' audits together are the whole
# run's audit. The tree is a copy of a real one (default /usr/include).
#   tests/parts_parallel.sh build/dorvane [tree] [parts]
set -euo pipefail
command -v parallel >/dev/null || { echo "GNU parallel is not installed (Debian: parallel)"; exit 77; }
dorvane=$(realpath "$1") source=${2:-/usr/include} parts=${3:-4}
work=$(mktemp -d)
trap 'chmod -R u+rwX "$work"; rm -rf "$work"' EXIT
cd "$work"
cp -a "$source" tree
fail() { echo "parts_parallel: $*" >&2; exit 1; }
run() { setsid -w "$dorvane" "$@" </dev/null; }
export dorvane
seq "$parts" | parallel --will-cite --halt now,fail=1 \
  'setsid -w "$dorvane" c --part {}/'"$parts"' part{}.lst tree </dev/null >/dev/null 2>&1'
files() { grep -a '^FILE:\|^DIR:' "$@" | sort; }
run c one.lst tree >/dev/null 2>&1
cat part*.lst >all.lst
[ "$(files all.lst | md5sum)" = "$(files one.lst | md5sum)" ] || fail "the parts' lines are not one run's"
[ "$(grep -c '^ROOT:' all.lst)" = "$parts" ] || fail "not one ROOT line a part"
mkdir away && (cd away && run t --roots ../all.lst >/dev/null) || fail "the joined list does not pass"

# Damage one file: one part alone finds it.
damaged=$(grep -a -m 40 '^FILE:' one.lst | tail -1 | sed 's/.*"\(.*\)"\r$/\1/')
damaged_dir=$(awk -v name="\"$damaged\"" '/^DIR:/ { dir = $2 } index($0, name) { print dir; exit }' one.lst |
  tr -d '"\r' | sed 's|^\.\\||; s|\\|/|g')
printf 'changed' >>"tree/$damaged_dir$damaged"
seq "$parts" | parallel --will-cite -j "$parts" \
  'cd tree && setsid -w "$dorvane" t --part {}/'"$parts"' --audit ../audit{}.txt ../all.lst \
     </dev/null >../out{}.txt; echo $? >../status{}.txt'
found=$(grep -l -aF ".\\$(echo "$damaged_dir" | tr / '\\')$damaged" out*.txt | wc -l)
[ "$found" = 1 ] || fail "$found parts report the damaged file"
[ "$(cat status*.txt | sort | uniq -c | tr -s ' ' | tr '\n' ,)" = " $((parts - 1)) 0, 1 2," ] ||
  fail "exit statuses $(cat status*.txt | tr '\n' ' ')"
(cd tree && run t --audit ../whole.txt ../all.lst >/dev/null) || true
lines() { grep -ahv '^# ' "$@" | tr -d '\r' | sort; }
[ "$(lines audit*.txt | md5sum)" = "$(lines whole.txt | md5sum)" ] || fail "the parts' audits are not the whole one"
echo "parts_parallel: $parts parts of $(grep -c '^FILE:' one.lst) files agree"
