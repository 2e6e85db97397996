#!/usr/bin/env bash
# Compares qex with the tools users would otherwise pick, on a corpus made by
# bench/make-corpus.sh.
#
# usage: bench/compare.sh [-n RUNS] [-o OUTDIR] [-p PARTS] [-t TOOLS] [-q QEX] [-b CPU] [-R] CORPUS
#   -n RUNS    runs of every measurement; medians are reported (default 3)
#   -o OUTDIR  where results.md, results.tsv and the logs go
#              (default: CORPUS/results/<date-time>)
#   -p PARTS   comma-separated parts (default: every part CORPUS has, of
#              text,source,binary,big,tiny)
#   -t TOOLS   comma-separated tools (default: all that are installed):
#              qex,gzip,bzip2,bzip3j1,bzip3,xz,zstd19,zstd22,brotli,zpaq3
#              (a tool that is not installed is left out, with a note)
#   -q QEX     the qex executable (default: build/qex of this repository)
#   -b CPU     a loaded machine: a busy loop pinned to processor CPU runs
#              beside every measured add and extract, started just before it
#              and ended just after (repeatable: one loop per -b)
#   -R         measure nothing: remake results.md and results.tsv from the
#              runs.tsv of an earlier run in OUTDIR
#
# For every part and tool: add (qex a, or tar piped through the compressor),
# then extract into an empty folder and compare the tree with the part
# (diff -r, first run). Measured: archive size, bits per input byte, wall
# time of add and extract and MB/s of input (MB = 10^6 bytes), and peak
# resident memory of the largest process (GNU time). A qex that cannot add
# (or cannot extract, or extracts something else) shows "n/a" and the reason
# is in OUTDIR/logs. Other tools are verified the same way; one that fails
# stops the script.
set -euo pipefail
export LC_ALL=C

die() { echo "compare: $*" >&2; exit 1; }
note() { echo "compare: $*" >&2; }

repo=$(cd "$(dirname "$0")/.." && pwd)
runs=3
outdir=
parts_arg=
tools_arg=
qex=$repo/build/qex
report_only=
busy_cpus=()
while getopts "n:o:p:t:q:b:Rh" opt; do
  case $opt in
    n) runs=$OPTARG ;;
    o) outdir=$OPTARG ;;
    p) parts_arg=$OPTARG ;;
    t) tools_arg=$OPTARG ;;
    q) qex=$OPTARG ;;
    b) busy_cpus+=("$OPTARG") ;;
    R) report_only=1 ;;
    *) sed -n '2,27p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[[ $# -eq 1 ]] || die "usage: compare.sh [-n RUNS] [-o OUTDIR] [-p PARTS] [-t TOOLS] [-q QEX] [-b CPU] [-R] CORPUS"
[[ -z $report_only || -f $outdir/runs.tsv ]] || die "-R needs -o OUTDIR holding the runs.tsv of an earlier run"
[[ $runs =~ ^[1-9][0-9]*$ ]] || die "RUNS must be a positive number, not \"$runs\""
for cpu in "${busy_cpus[@]}"; do
  [[ $cpu =~ ^[0-9]+$ ]] || die "CPU must be a processor number, not \"$cpu\""
done
if ((${#busy_cpus[@]})) && [[ -z $report_only ]]; then
  command -v taskset >/dev/null || die "-b needs taskset (the Debian package util-linux)"
  for cpu in "${busy_cpus[@]}"; do
    taskset -c "$cpu" true 2>/dev/null || die "processor $cpu cannot be used here (taskset -c $cpu failed)"
  done
fi
corpus=$(cd "$1" 2>/dev/null && pwd) || die "cannot open the corpus folder \"$1\""

# --- tools -----------------------------------------------------------------
# Each tool: a label, the add and extract commands (run by bash with SRC,
# ARC, OUT and QEX set), the folder that extraction yields, and the program
# that must be installed.
all_tools=(qex gzip bzip2 bzip3j1 bzip3 xz zstd19 zstd22 brotli zpaq3)
declare -A label add extract result_dir needs
label[qex]="qex"
add[qex]='"$QEX" a "$ARC" "$SRC"'
extract[qex]='"$QEX" x "$ARC" "$OUT"'
result_dir[qex]='$OUT/$(basename "$SRC")'
needs[qex]=
tar_add='tar -C "$SRC" --sort=name -cf - .'
tar_extract='tar -C "$OUT" -xf -'
define_tar_tool() {  # name label program compress-command decompress-command
  label[$1]=$2
  needs[$1]=$3
  add[$1]="$tar_add | $4 >\"\$ARC\""
  extract[$1]="$5 <\"\$ARC\" | $tar_extract"
  result_dir[$1]='$OUT'
}
define_tar_tool gzip "tar + gzip -9" gzip "gzip -9" "gzip -dc"
define_tar_tool bzip2 "tar + bzip2 -9" bzip2 "bzip2 -9" "bzip2 -dc"
define_tar_tool xz "tar + xz -9 -T1" xz "xz -9 -T1" "xz -dc -T1"
define_tar_tool zstd19 "tar + zstd -19 -T1" zstd "zstd -q -19 -T1" "zstd -q -dc"
define_tar_tool zstd22 "tar + zstd --ultra -22 --long=27 -T1" zstd "zstd -q --ultra -22 --long=27 -T1" \
  "zstd -q -dc --long=27"
define_tar_tool brotli "tar + brotli -q 11" brotli "brotli -q 11 -c" "brotli -dc"
# bzip3 once on one thread, as qex's coder runs, and once as users type it
# (its own choice of threads).
define_tar_tool bzip3j1 "tar + bzip3 -j1" bzip3 "bzip3 -j1 -c" "bzip3 -j1 -dc"
define_tar_tool bzip3 "tar + bzip3" bzip3 "bzip3 -c" "bzip3 -dc"
# zpaq is an archiver of its own: it adds the folder's contents as ".", and
# wants its archive's name to end in .zpaq (a link to ARC serves extraction).
label[zpaq3]="zpaq -m3"
needs[zpaq3]=zpaq
add[zpaq3]='rm -f "$ARC.zpaq" && (cd "$SRC" && zpaq a "$ARC.zpaq" . -m3) && mv "$ARC.zpaq" "$ARC"'
extract[zpaq3]='ln -sf "$ARC" "$ARC.zpaq" && zpaq x "$ARC.zpaq" -to "$OUT"'
result_dir[zpaq3]='$OUT'

tools=()
IFS=, read -r -a wanted <<<"${tools_arg:-$(IFS=,; echo "${all_tools[*]}")}"
for t in "${wanted[@]}"; do
  [[ -n ${label[$t]:-} ]] || die "unknown tool \"$t\" (known: ${all_tools[*]})"
  if [[ -n ${needs[$t]} ]] && ! command -v "${needs[$t]}" >/dev/null; then
    note "${needs[$t]} is not installed; ${label[$t]} is left out"
    continue
  fi
  tools+=("$t")
done
((${#tools[@]})) || die "no tool to measure"
command -v tar >/dev/null || die "tar is needed"

# GNU time gives the peak memory; installed here only when missing.
if [[ -z $report_only && ! -x /usr/bin/time ]]; then
  note "/usr/bin/time is missing; installing the Debian package \"time\""
  { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time; } >&2 ||
    die "cannot install the package \"time\" (run as root, or install it)"
fi

parts=()
IFS=, read -r -a wanted <<<"${parts_arg:-text,source,binary,big,tiny}"
for p in "${wanted[@]}"; do
  case $p in text|source|binary|big|tiny) ;; *) die "unknown part \"$p\"" ;; esac
  if [[ -d $corpus/$p ]]; then parts+=("$p"); elif [[ -n $parts_arg ]]; then die "\"$corpus/$p\" does not exist"; fi
done
((${#parts[@]})) || die "\"$corpus\" holds no corpus part; make one with bench/make-corpus.sh"

outdir=${outdir:-$corpus/results/$(date -u +%Y%m%d-%H%M%S)}
mkdir -p "$outdir/logs" || die "cannot create \"$outdir\""
outdir=$(cd "$outdir" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/qex-compare.XXXXXX") || die "cannot create a temporary folder"
busy_pids=()
trap 'stop_busy; rm -rf "$work"' EXIT
export QEX=$qex

# --- measuring -------------------------------------------------------------
# The busy loops of -b: one shell spinning on each named processor, started
# before a measured command and ended after it, so that the load is the
# same for every tool and run and nothing spins between measurements.
start_busy() {
  local cpu
  for cpu in "${busy_cpus[@]}"; do
    taskset -c "$cpu" bash -c 'while :; do :; done' &
    busy_pids+=($!)
  done
}
stop_busy() {
  local pid
  for pid in "${busy_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  busy_pids=()
}

# timed LOG COMMAND: runs COMMAND with bash; sets wall (seconds), cpu (user
# and system seconds of all its processes) and peak (KiB of the largest
# process). Returns the command's status.
timed() {
  local log=$1 cmd=$2 start end rc=0
  start_busy
  start=$(date +%s%N)
  /usr/bin/time -f '%U %S %M' -o "$work/time" bash -c "set -o pipefail; $cmd" >>"$log" 2>&1 || rc=$?
  end=$(date +%s%N)
  stop_busy
  wall=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
  read -r cpu peak < <(tail -n 1 "$work/time" | awk '{ printf "%.2f %s\n", $1 + $2, $3 }')
  return $rc
}

# One line per run of a tool on a part, in runs.tsv; what was measured with
# what, in about.txt.
raw=$outdir/runs.tsv
if [[ -z $report_only ]]; then
  printf 'part\ttool\trun\tinput_bytes\tarchive_bytes\tadd_s\textract_s\tadd_peak_kib\textract_peak_kib\tadd_cpu_s\textract_cpu_s\n' >"$raw"
  {
    echo "started $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "qex $QEX, repository at $(git -C "$repo" rev-parse --short HEAD 2>/dev/null || echo '?') when the run started"
    echo "busy processors: ${busy_cpus[*]:-none}"
    echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
  } >"$outdir/about.txt"
fi

# A failure of another tool stops the script; one of qex is shown as n/a,
# since the comparison is still worth having.
failed() {  # part tool run log what
  [[ $2 == qex ]] || die "${label[$2]} failed to $5 $1; see $4"
  note "qex failed to $5 $1 (shown as n/a); see $4"
  printf '%s\t%s\t%s\t%s\tn/a\tn/a\tn/a\tn/a\tn/a\tn/a\tn/a\n' "$1" "$2" "$3" "${bytes[$1]}" >>"$raw"
}

measure() {  # part tool run
  local part=$1 tool=$2 run=$3 log="$outdir/logs/$1.$2.log" add_s add_kib add_cpu ex_s ex_kib ex_cpu size got
  export SRC=$corpus/$part ARC=$work/archive OUT=$work/out
  rm -rf "$ARC" "$OUT"
  mkdir "$OUT"
  echo "== run $run: add" >>"$log"
  if ! timed "$log" "${add[$tool]}" || [[ ! -s $ARC ]]; then
    failed "$part" "$tool" "$run" "$log" add
    return
  fi
  add_s=$wall add_kib=$peak add_cpu=$cpu
  size=$(stat -c %s "$ARC")
  echo "== run $run: extract" >>"$log"
  if ! timed "$log" "${extract[$tool]}"; then
    failed "$part" "$tool" "$run" "$log" extract
    return
  fi
  ex_s=$wall ex_kib=$peak ex_cpu=$cpu
  got=$(eval echo "\"${result_dir[$tool]}\"")
  if ((run == 1)) && ! diff -r --no-dereference "$SRC" "$got" >>"$log" 2>&1; then
    failed "$part" "$tool" "$run" "$log" "extract unchanged"
    return
  fi
  rm -rf "$ARC" "$OUT"
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$part" "$tool" "$run" "${bytes[$part]}" "$size" \
    "$add_s" "$ex_s" "$add_kib" "$ex_kib" "$add_cpu" "$ex_cpu" >>"$raw"
}

declare -A bytes files
for part in "${parts[@]}"; do
  bytes[$part]=$(find "$corpus/$part" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
  files[$part]=$(find "$corpus/$part" -type f | wc -l)
done

for part in "${parts[@]}"; do
  [[ -z $report_only ]] || break
  note "$part: ${files[$part]} files, ${bytes[$part]} bytes"
  find "$corpus/$part" -type f -print0 | xargs -0 cat -- >/dev/null  # the same warm cache for every tool
  for ((run = 1; run <= runs; run++)); do
    for tool in "${tools[@]}"; do
      note "$part: run $run of $runs: ${label[$tool]}"
      measure "$part" "$tool" "$run"
    done
  done
done

# --- results ---------------------------------------------------------------
# Medians over the runs, one row per part and tool.
tsv=$outdir/results.tsv
awk -F'\t' -v OFS='\t' '
  function median(list,   n, v, i, j, t) {
    n = split(list, v, " ")
    for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] + 0 > v[j] + 0; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
    return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
  }
  NR == 1 { next }
  {
    key = $1 SUBSEP $2
    if (!(key in input)) { order[++rows] = key }
    input[key] = $4
    if ($5 == "n/a") { failed[key] = 1; next }
    size[key] = $5; add[key] = add[key] " " $6; ext[key] = ext[key] " " $7
    addk[key] = addk[key] " " $8; extk[key] = extk[key] " " $9
    addc[key] = addc[key] " " $10; extc[key] = extc[key] " " $11
  }
  END {
    print "part", "tool", "input_bytes", "archive_bytes", "bits_per_byte", "add_s", "add_mb_s", "extract_s", "extract_mb_s", "add_peak_mib", "extract_peak_mib", "add_cpu_s", "extract_cpu_s"
    for (r = 1; r <= rows; r++) {
      key = order[r]; split(key, pt, SUBSEP)
      if (failed[key] || !(key in size)) { print pt[1], pt[2], input[key], "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a"; continue }
      a = median(add[key]); e = median(ext[key])
      print pt[1], pt[2], input[key], size[key], sprintf("%.3f", 8 * size[key] / input[key]),
            sprintf("%.3f", a), sprintf("%.2f", a > 0 ? input[key] / 1e6 / a : 0),
            sprintf("%.3f", e), sprintf("%.2f", e > 0 ? input[key] / 1e6 / e : 0),
            sprintf("%.1f", median(addk[key]) / 1024), sprintf("%.1f", median(extk[key]) / 1024),
            sprintf("%.2f", median(addc[key])), sprintf("%.2f", median(extc[key]))
    }
  }' "$raw" >"$tsv"

md=$outdir/results.md
# The targets the report checks: qex add speed over tar + xz -9 -T1 per part,
# extraction speed over add speed, tiny's seconds each way, peak memory.
declare -A add_target=([text]=5 [source]=6 [binary]=3.6 [big]=4.5)
extract_target=1.0
tiny_seconds=1
peak_mib=200
{
  echo "# qex compared with tar and other compressors"
  echo
  runs=$(awk -F'\t' 'NR > 1 && $3 > n { n = $3 } END { print n + 0 }' "$raw")
  echo "Made by \`bench/compare.sh -n $runs\`, $(sed -n 's/^started //p' "$outdir/about.txt"), $(nproc) cores" \
    "($(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo 2>/dev/null || echo "unknown processor"))," \
    "median of $runs runs. MB = 10^6 bytes; speeds are of input bytes and wall-clock time; peak memory is the" \
    "largest process; processor time (cpu s) is user + system of all the command's processes, which other" \
    "load on a shared machine disturbs less than the wall clock."
  echo
  busy=$(sed -n 's/^busy processors: //p' "$outdir/about.txt")
  if [[ -n $busy && $busy != none ]]; then
    echo "Loaded machine: a busy loop pinned to processor $busy ran beside every measured add and extract" \
      "(-b); load average at the start $(sed -n 's/^load average at the start: //p' "$outdir/about.txt")."
    echo
  fi
  echo "| part | files | input MB | tool | archive bytes | bits/byte | add s | add cpu s | add MB/s | extract s | extract cpu s | extract MB/s | add peak MiB | extract peak MiB |"
  echo "|---|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
  tail -n +2 "$tsv" | while IFS=$'\t' read -r part tool input size bpb as amb es emb ak ek ac ec; do
    printf '| %s | %s | %.1f | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$part" "${files[$part]}" \
      "$(awk -v b="$input" 'BEGIN { print b / 1e6 }')" "${label[$tool]}" "$size" "$bpb" "$as" "$ac" "$amb" "$es" "$ec" "$emb" "$ak" "$ek"
  done
  echo
  echo "Targets: qex adds at least ${add_target[text]} times as fast as tar + xz -9 -T1 on text," \
    "${add_target[source]} on source, ${add_target[binary]} on binary and ${add_target[big]} on big, and extracts" \
    "at least $extract_target times as fast as it adds, all by wall clock and by processor time" \
    "(user + system of all processes, which other load on a shared machine disturbs less); tiny" \
    "takes under ${tiny_seconds} s each way; peak memory stays at most $peak_mib MiB."
  echo
  echo "| part | qex add / xz add speed | same by cpu | target | qex extract / add speed | same by cpu | qex add s | qex extract s | qex peak MiB | targets |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---|"
  awk -F'\t' -v targets="text=${add_target[text]} source=${add_target[source]} binary=${add_target[binary]} big=${add_target[big]}" \
      -v extract_target="$extract_target" -v tiny_seconds="$tiny_seconds" -v peak_mib="$peak_mib" '
    BEGIN { n = split(targets, t, " "); for (i = 1; i <= n; i++) { split(t[i], kv, "="); target[kv[1]] = kv[2] } n = 0 }
    NR > 1 { k = $1 SUBSEP $2; as[k] = $6; es[k] = $8; ac[k] = $12; ec[k] = $13
             peak[k] = ($10 > $11 ? $10 : $11); if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 } }
    function ratio(a, b) { return (a + 0 > 0 && b + 0 > 0) ? sprintf("%.2f", a / b) : "n/a" }
    function atLeast(r, want) { return r != "n/a" && r + 0 >= want + 0 }
    END {
      for (i = 1; i <= n; i++) {
        p = order[i]; q = p SUBSEP "qex"; x = p SUBSEP "xz"
        if (!(q in as) || as[q] == "n/a") { printf "| %s | n/a | n/a | | n/a | n/a | n/a | n/a | n/a | not met |\n", p; continue }
        aw = ratio(as[x], as[q]); ac_ = ratio(ac[x], ac[q]); ew = ratio(as[q], es[q]); ecpu = ratio(ac[q], ec[q])
        # The verdict: every ratio the part has a target for, both ways, and the memory.
        missed = ""
        if (p in target) {
          if (!atLeast(aw, target[p]) || !atLeast(ac_, target[p])) missed = missed ", add"
          if (!atLeast(ew, extract_target) || !atLeast(ecpu, extract_target)) missed = missed ", extract"
        } else if (p == "tiny" && (as[q] + 0 >= tiny_seconds || es[q] + 0 >= tiny_seconds)) missed = missed ", time"
        if (peak[q] + 0 > peak_mib) missed = missed ", memory"
        printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", p, aw, ac_, (p in target) ? target[p] : "",
               ew, ecpu, as[q], es[q], peak[q], missed == "" ? "met" : "not met: " substr(missed, 3)
      }
    }' "$tsv"
  echo
  if [[ -f $corpus/MANIFEST.tsv ]]; then
    echo "Corpus (bench/make-corpus.sh; cksum over all contents in path order):"
    echo
    echo "| part | files | bytes | cksum |"
    echo "|---|---:|---:|---:|"
    tail -n +2 "$corpus/MANIFEST.tsv" | while IFS=$'\t' read -r p f b c; do echo "| $p | $f | $b | $c |"; done
    echo
  fi
  echo "Tool versions:"
  echo
  for tool in "${tools[@]}"; do
    case $tool in
      qex) v=$(sed -n 's/^qex //p' "$outdir/about.txt") ;;
      *) v=$("${needs[$tool]}" --version 2>&1 | head -n 1 | sed 's/[*]//g; s/,\{0,1\} by .*//; s/^ *//') ;;
    esac
    echo "- ${label[$tool]}: $v"
  done
} >"$md"

cat "$md"
note "results in $md and $tsv (every run in $raw)"
