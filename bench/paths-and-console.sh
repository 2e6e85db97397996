#!/usr/bin/env bash
# What a deep folder path and a console that is not a terminal cost qex.
#
# usage: bench/paths-and-console.sh [-n RUNS] [-f FILES] [-q QEX]
#   -n RUNS   alternating runs of every case; medians are reported (default 5)
#   -f FILES  small files in the tree (default 5000)
#   -q QEX    the qex executable (default: build/qex of this repository)
#
# Two trees of FILES files of a few bytes each: one in a short folder, one
# under a folder path of about 3,600 bytes (18 levels of 200-byte names).
# Each is added and then extracted into an empty folder, with qex's
# standard output on a terminal (through script(1)), into a file and into
# /dev/null. Every line must be printed when the output is no terminal, so
# those cases show whether printing holds the pipeline up; the long path
# shows what resolving names costs per file. Reported: wall, user and
# system seconds, medians over the runs, the cases alternating within each
# run so that other load on the machine falls on all of them alike.
set -euo pipefail
export LC_ALL=C

repo=$(cd "$(dirname "$0")/.." && pwd)
runs=5 files=5000 qex=$repo/build/qex
while getopts "n:f:q:h" opt; do
  case $opt in
    n) runs=$OPTARG ;;
    f) files=$OPTARG ;;
    q) qex=$OPTARG ;;
    *) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done
[[ -x $qex ]] || { echo "paths-and-console: no qex at \"$qex\" (build it first)" >&2; exit 1; }
command -v script >/dev/null || { echo "paths-and-console: script(1) is needed (util-linux)" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "paths-and-console: /usr/bin/time is needed (the Debian package time)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qex-paths.XXXXXX")
trap 'rm -rf "$work"' EXIT

make_tree() {  # folder
  mkdir -p "$1"
  for ((i = 0; i < files; i++)); do printf '%d\n' "$i" >"$1/f$i.txt"; done
}
long=$work/long
for ((level = 0; level < 18; level++)); do long+=/$(printf 'd%.0s' {1..200}); done
make_tree "$work/short/d"
make_tree "$long"

# one CASE: appends "case wall user sys" to the results.
results=$work/results.tsv
measure() {  # tree console command
  local tree=$1 console=$2 command=$3 out=$work/out timing=$work/time
  rm -rf "$out"; mkdir "$out"
  if [[ $command == extract ]]; then
    set -- "$qex" x "$work/$tree.qex" "$out"
  else
    rm -f "$work/$tree.qex"
    set -- "$qex" a "$work/$tree.qex" "$work/$tree"
  fi
  case $console in
    terminal) script -qec "/usr/bin/time -f '%e %U %S' -o $timing $*" /dev/null >/dev/null ;;
    file) /usr/bin/time -f '%e %U %S' -o "$timing" "$@" >"$work/log" ;;
    null) /usr/bin/time -f '%e %U %S' -o "$timing" "$@" >/dev/null ;;
  esac
  printf '%s %s %s\t%s\n' "$command" "$tree" "$console" "$(tail -n 1 "$timing")" >>"$results"
}

for ((run = 1; run <= runs; run++)); do
  for command in add extract; do
    for tree in short long; do
      for console in terminal file null; do measure "$tree" "$console" "$command"; done
    done
  done
done

echo "qex $qex, $files files, median of $runs runs; seconds"
awk -F'\t' '
  function median(list,   n, v, i, j, t) {
    n = split(list, v, " ")
    for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] + 0 > v[j] + 0; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
    return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
  }
  { split($2, t, " "); if (!($1 in wall)) order[++n] = $1
    wall[$1] = wall[$1] " " t[1]; user[$1] = user[$1] " " t[2]; sys[$1] = sys[$1] " " t[3] }
  END {
    printf "%-26s %7s %7s %7s\n", "case", "wall", "user", "sys"
    for (i = 1; i <= n; i++) { k = order[i]; printf "%-26s %7.2f %7.2f %7.2f\n", k, median(wall[k]), median(user[k]), median(sys[k]) }
  }' "$results"
