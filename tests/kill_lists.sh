#!/usr/bin/env bash
# Kills create and append runs at random moments (SIGKILL after a random
# delay up to one and a half times what a whole run takes) on a tree of
# many tiny files, the list inside the tree, and checks what each leaves:
# the old list or the whole new one, nothing else that `t` passes, and no
# file but the hidden name of a new list, which the next run must remove.
# Too heavy for the suite; run by hand:
#   tests/kill_lists.sh build/dorvane [files] [kills]
set -euo pipefail
dorvane=$(realpath "$1") files=${2:-20000} kills=${3:-200}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
for ((f = 0; f < files; f++)); do
  ((f % 1000)) || mkdir -p tree/d$((f / 1000))
  echo $f >tree/d$((f / 1000))/$f
done
run() { setsid -w "$dorvane" "$@" </dev/null >/dev/null; }
run c whole.lst tree
whole_ns=0  # the longest of three whole appends
for i in 1 2 3; do
  start=$(date +%s%N)
  run a scratch.lst tree
  took=$(($(date +%s%N) - start))
  ((took < whole_ns)) || whole_ns=$took
done
# A list of the first half of the tree, which passes `t` as well.
awk -v half=$((files / 2)) '/^DIR:/ && n >= half { exit } /^FILE:/ { n++ } { print }' whole.lst >old.lst
cat old.lst whole.lst >appended.lst
cp old.lst tree/list.lst
entries=$(ls -A tree)
declare -A seen=()
bad=0
for ((i = 0; i < kills; i++)); do
  mode=c new=whole.lst
  ((i % 2 == 0)) || mode=a new=appended.lst
  cp old.lst tree/list.lst
  delay=$(awk -v max="$whole_ns" -v r="$RANDOM$RANDOM" 'BEGIN { srand(r); printf "%.4f", rand() * max * 1.5e-9 }')
  # The shell's word of the kill goes nowhere.
  status=$( (timeout -s KILL "$delay" setsid -w "$dorvane" $mode tree/list.lst tree \
    </dev/null >/dev/null; echo $?) 2>/dev/null)
  left=other
  cmp -s tree/list.lst old.lst && left=old
  cmp -s tree/list.lst $new && left=new
  tested=0
  (cd tree && run t list.lst) || tested=$?
  hidden=$([ -e tree/.list.lst.dorvane-new ] && echo hidden || echo -)
  others=$(ls -A tree | grep -vxF -e .list.lst.dorvane-new | grep -cvxF "$entries" || true)
  key="$mode exit=$status list=$left t=$tested $hidden"
  seen[$key]=$((${seen[$key]:-0} + 1))
  if [ $left = other ] || [ "$others" != 0 ] || { [ $status = 0 ] && [ $hidden = hidden ]; }; then
    echo "run $i: $mode killed after ${delay}s: list $left, t exit $tested, $others other files" >&2
    bad=$((bad + 1))
  fi
done
echo "tree of $files files, a whole append took up to $((whole_ns / 1000000)) ms; $kills runs:"
for key in "${!seen[@]}"; do echo "  ${seen[$key]}  $key"; done | sort -k2
echo "$((kills - bad)) passed, $bad failed"
[ $bad = 0 ]
