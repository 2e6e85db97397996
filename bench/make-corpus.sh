#!/usr/bin/env bash
# Builds the benchmark corpus from files present on this machine.
#
# usage: bench/make-corpus.sh DIR [PART...]
#   PART: text source binary big tiny (default: all five)
#
#   text    20-40 MB of English documentation and prose from /usr/share
#           (gzip'd manual pages and info manuals are stored decompressed)
#   source  a tree of a few thousand source files, 30-60 MB (/usr/include,
#           then Python and Perl library sources if that is not enough)
#   binary  20-40 MB of executables and shared libraries (ELF files)
#   big     one file of 150-160 MB, the concatenation of real files
#   tiny    2,000 generated files of 20 to 900 bytes in nested folders
#
# The same machine always gives the same corpus: fixed, sorted source lists,
# missing folders skipped without changing the order of the rest (the rules
# are in corpus_parts.py). DIR/MANIFEST.tsv records, per part, the file
# count, the byte count and a checksum of all contents in path order, so two
# corpora can be compared. Rebuilding a part replaces it.
set -euo pipefail
export LC_ALL=C

die() { echo "make-corpus: $*" >&2; exit 1; }

[[ $# -ge 1 ]] || die "usage: make-corpus.sh DIR [text|source|binary|big|tiny]..."
root=$1; shift
parts=("$@")
((${#parts[@]})) || parts=(text source binary big tiny)
for p in "${parts[@]}"; do
  case $p in text|source|binary|big|tiny) ;; *) die "unknown part \"$p\"";; esac
done
command -v python3 >/dev/null || die "python3 is needed (scripts/install-deps.sh installs it)"

# Only a folder that this script made (or an empty one) is written into,
# since rebuilding a part deletes it first.
marker=.qex-corpus
if [[ -e $root && ! -e $root/$marker && -n $(ls -A "$root" 2>/dev/null) ]]; then
  die "\"$root\" exists, is not empty and is not a corpus folder; choose another"
fi
mkdir -p "$root" || die "cannot create \"$root\""
root=$(cd "$root" && pwd)
touch "$root/$marker"

for p in "${parts[@]}"; do
  rm -rf -- "${root:?}/$p"
done
python3 "$(dirname "$0")/corpus_parts.py" "$root" "${parts[@]}"

# Files, bytes and a checksum of all contents in path order.
describe() {
  local dir=$1 files bytes sum
  files=$(find "$dir" -type f | wc -l)
  bytes=$(find "$dir" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
  sum=$(find "$dir" -type f -print0 | sort -z | xargs -0 cat -- | cksum | cut -d' ' -f1)
  printf '%s\t%s\t%s\t%s\n' "${dir##*/}" "$files" "$bytes" "$sum"
}

{
  printf 'part\tfiles\tbytes\tcksum\n'
  for p in text source binary big tiny; do
    if [[ -d $root/$p ]]; then describe "$root/$p"; fi
  done
} >"$root/MANIFEST.tsv"
cat "$root/MANIFEST.tsv"
