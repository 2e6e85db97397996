#!/usr/bin/env bash
# The installed tree and the Debian package: installs qex into a temporary
# prefix and checks the files there (and nothing else, so no test or
# benchmark), runs the installed program on a small folder, checks the
# manual page with groff's warnings on, exercises the bash completion, then
# builds the .deb with CPack and checks that it holds the same files, names
# its library dependencies and a maintainer "Name <address>", and that the
# program is stripped in both. The manual page and the completion must
# know every command the program's usage text shows.
# Reuses build/ (scripts/test.sh makes it) when it is there; otherwise
# configures build-package without tests and benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh cmake g++ make groff-base dpkg-dev file

if [[ -f build/CMakeCache.txt ]]; then
  build=build
  cmake -S . -B "$build" >/dev/null
else
  build=build-package
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQEX_TESTS=OFF -DQEX_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target qex >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "test-package.sh: $*" >&2
  exit 1
}
# Regular files below a folder, one relative path a line, sorted.
files_below() { (cd "$1" && find . -type f -printf '%P\n' | LC_ALL=C sort); }

expected=$(LC_ALL=C sort <<'LIST'
bin/qex
share/man/man1/qex.1.gz
share/bash-completion/completions/qex
share/doc/qex/README.md
share/doc/qex/LICENSE
share/doc/qex/copyright
LIST
)

# The install tree.
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" --strip >/dev/null
installed=$(files_below "$prefix")
[[ $installed == "$expected" ]] || fail "installed files differ from the expected ones:
$(diff <(echo "$expected") <(echo "$installed") || true)"
qex=$prefix/bin/qex
[[ -x $qex ]] || fail "$qex is not executable"
[[ $(file -b "$qex") == *", stripped"* ]] || fail "$qex is not stripped: $(file -b "$qex")"

# The installed program archives a folder and extracts it elsewhere.
mkdir -p "$work/data/tree/sub" "$work/out"
printf 'hello\n' >"$work/data/tree/one.txt"
seq 1 2000 >"$work/data/tree/sub/numbers.txt"
"$qex" a "$work/tree.qex" "$work/data/tree" >/dev/null
"$qex" x "$work/tree.qex" "$work/out" >/dev/null
diff -r "$work/data/tree" "$work/out/tree" || fail "the installed qex did not restore the tree"

# The commands the usage text shows (lines "  qex C ..."), which the manual
# page and the completion must both describe.
# Whichever stream and exit code the usage comes with.
usage=$("$qex" 2>&1 || true)
commands=$(sed -n 's/^ *qex \([a-z]\) .*/\1/p' <<<"$usage" | LC_ALL=C sort -u)
[[ -n $commands ]] || fail "no command found in the usage text"

# The manual page: no groff warning, and an entry under COMMANDS for each
# command (a .TP paragraph whose tag begins with the letter).
zcat "$prefix/share/man/man1/qex.1.gz" >"$work/qex.1" || fail "the manual page is not gzipped"
page=$work/qex.1
warnings=$(groff -ww -man -z "$page" 2>&1) || fail "groff failed on $page: $warnings"
[[ -z $warnings ]] || fail "groff warns about $page:
$warnings"
documented=$(awk '/^\.SH /{section=$0} section ~ /COMMANDS/ && previous == ".TP" && $1 ~ /^\.BI?$/ {print $2}
                  {previous=$0}' "$page" | LC_ALL=C sort -u)
[[ $documented == "$commands" ]] || fail "the manual page documents commands '$(echo $documented)', the usage shows '$(echo $commands)'"

# The completion, sourced into a plain bash and called as bash calls it.
mkdir -p "$work/complete/sub"
touch "$work/complete/one.qex" "$work/complete/two.txt"
completion=$prefix/share/bash-completion/completions/qex
complete_words() {  # the words of a command line, the last being the one completed
  (cd "$work/complete" && bash --norc --noprofile -c '
    set -u
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _qex
    ((${#COMPREPLY[@]} == 0)) || printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort' bash "$completion" "$@")
}
check_completion() {  # expected replies (one string, lines), then the words
  local want=$1 got
  shift
  got=$(complete_words "$@")
  [[ $got == "$want" ]] || fail "completing '$*' gave '$(echo $got)', expected '$(echo $want)'"
}
check_completion "$commands" qex ""
check_completion "$(printf '%s\n' -- --exclude --exclude-from --exclude-vcs --files-from --force --help --null \
  --quiet --version -T -V -f -h -q -x | LC_ALL=C sort)" qex -
check_completion $'one.qex\nsub' qex -m9 x ""
check_completion "sub" qex x one.qex ""
check_completion "two.txt" qex a new.qex t
check_completion "" qex -- -m ""
check_completion $'one.qex\nsub' qex -x '*.o' -T list a ""
check_completion "two.txt" qex a new.qex --files-from = t
check_completion "" qex a new.qex -x ""

# The package: the same files under /usr, and its library dependencies.
(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null)
debs=("$work"/package/qex_*.deb)
[[ ${#debs[@]} == 1 && -f ${debs[0]} ]] || fail "cpack made no single qex .deb in $work/package"
deb=${debs[0]}
packaged=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./usr/||' | LC_ALL=C sort)
[[ $packaged == "$expected" ]] || fail "the package's files differ from the expected ones:
$(diff <(echo "$expected") <(echo "$packaged") || true)"
maintainer=$(dpkg-deb -f "$deb" Maintainer)
name_address='^[^<>]+ <[^<> ]+@[^<> ]+>$'
[[ $maintainer =~ $name_address ]] || fail "the package's maintainer is not 'Name <address>': $maintainer"
mkdir "$work/unpacked" && dpkg-deb -x "$deb" "$work/unpacked"
[[ $(file -b "$work/unpacked/usr/bin/qex") == *", stripped"* ]] || fail "the packaged program is not stripped"
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libc6* ]] || fail "the package's dependencies were not computed (Depends: $depends)"
echo "install tree and $(basename "$deb") checked (Depends: $depends)"
