#!/usr/bin/env bash
# Two builds of qex side by side: alternating rounds of add and extract on
# the parts of a corpus made by bench/make-corpus.sh, medians per build, and
# the speed of B against A. Alternation spreads slow minutes of a shared
# machine over both builds; the order flips every round, so neither build
# always runs second.
#
# usage: bench/ab.sh [-n ROUNDS] [-p PARTS] [-c CPU] A_QEX B_QEX CORPUS
#   -n ROUNDS  rounds (default 5); each runs A and B once on every part
#   -p PARTS   comma-separated parts of CORPUS (default text,source,binary)
#   -c CPU     pin both builds, all their threads, to processor CPU. On a
#              virtual machine whose processors do not run at the same
#              speed, this takes the processor out of the comparison;
#              without it the coder lands on either one
#
# The first round checks the result: both extractions must give back the
# part, and a note says when the two archives are not the same bytes.
# Reported per part and build: median wall and processor (user + system)
# seconds of add and extract, and B's speed-up over A (A's median wall
# time over B's: above 1, B is faster).
set -euo pipefail
export LC_ALL=C

die() { echo "ab: $*" >&2; exit 1; }

rounds=5
parts=text,source,binary
pin=()
while getopts "n:p:c:h" opt; do
  case $opt in
    n) rounds=$OPTARG ;;
    p) parts=$OPTARG ;;
    c) pin=(taskset -c "$OPTARG") ;;
    *) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[[ $# -eq 3 ]] || die "usage: ab.sh [-n ROUNDS] [-p PARTS] [-c CPU] A_QEX B_QEX CORPUS"
[[ $rounds =~ ^[1-9][0-9]*$ ]] || die "ROUNDS must be a positive number, not \"$rounds\""
qexA=$(realpath "$1") qexB=$(realpath "$2") corpus=$(realpath "$3")
for q in "$qexA" "$qexB"; do [[ -x $q ]] || die "not an executable: $q"; done
[[ -x /usr/bin/time ]] || die "needs GNU time (the Debian package \"time\")"
if ((${#pin[@]})); then "${pin[@]}" true 2>/dev/null || die "cannot pin to that processor (taskset failed)"; fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One timed command: appends "BUILD OP PART wall cpu" to the runs file.
timed() {
  local build=$1 op=$2 part=$3
  shift 3
  /usr/bin/time -f '%e %U %S' -o "$work/time" "${pin[@]}" "$@" >/dev/null 2>"$work/err" ||
    die "$build $op on $part failed: $(tail -n 3 "$work/err")"
  awk -v k="$build $op $part" '{ printf "%s %.2f %.2f\n", k, $1, $2 + $3 }' "$work/time" >>"$work/runs"
}

IFS=, read -r -a part_list <<<"$parts"
for part in "${part_list[@]}"; do [[ -d $corpus/$part ]] || die "no part \"$part\" in $corpus"; done
for ((r = 1; r <= rounds; r++)); do
  order=(A B)
  ((r % 2)) || order=(B A)
  for part in "${part_list[@]}"; do
    for build in "${order[@]}"; do
      exe=qex$build
      rm -rf "$work/$build.qex" "$work/out$build" && mkdir "$work/out$build" && sync
      timed "$build" add "$part" "${!exe}" a "$work/$build.qex" "$corpus/$part"
      timed "$build" extract "$part" "${!exe}" x "$work/$build.qex" "$work/out$build"
      if ((r == 1)); then
        diff -r --no-dereference "$corpus/$part" "$work/out$build/$part" >/dev/null ||
          die "$build's extraction of $part differs from the part"
      fi
    done
    if ((r == 1)); then
      cmp -s "$work/A.qex" "$work/B.qex" ||
        echo "ab: note: A and B write different archives of $part (sizes $(stat -c %s "$work/A.qex")," \
          "$(stat -c %s "$work/B.qex")); builds that store other item attributes do" >&2
    fi
  done
done

awk -v rounds="$rounds" '
  function median(list,   n, v, i, j, t) {
    n = split(list, v, " ")
    for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] + 0 > v[j] + 0; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
    return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
  }
  { key = $3 " " $2; wall[$1 " " key] = wall[$1 " " key] " " $4; cpu[$1 " " key] = cpu[$1 " " key] " " $5
    if (!(key in seen)) { seen[key] = 1; keys[++nk] = key } }
  END {
    printf "medians of %d alternating rounds (seconds)\n", rounds
    printf "%-8s %-8s %8s %8s %8s %8s %9s\n", "part", "op", "A wall", "A cpu", "B wall", "B cpu", "B speed"
    for (i = 1; i <= nk; i++) {
      split(keys[i], k, " ")
      aw = median(wall["A " keys[i]]); bw = median(wall["B " keys[i]])
      printf "%-8s %-8s %8.2f %8.2f %8.2f %8.2f %8.2fx\n", k[1], k[2], aw, median(cpu["A " keys[i]]), bw,
             median(cpu["B " keys[i]]), (bw > 0 ? aw / bw : 0)
    }
  }' "$work/runs"
