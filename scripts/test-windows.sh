#!/usr/bin/env bash
# The Windows console program: cross-built with MinGW-w64 for x86-64 and
# i686, each program's tests run by CTest under wine, and archives crossed
# between the Linux and the Windows program. Every machine runs the x86-64
# stage (wine64). A machine whose kernel runs 32-bit programs (found out by
# running a tiny one) also gets Debian's wine32 from the i386 architecture
# and runs the same stage for the i686 program under the 32-bit wine
# loader, and a file just over 4 GiB through that program
# (scripts/large-file-test.py); elsewhere the i686 program is only built
# and linked. Expects the Linux build in build/ (scripts/test.sh makes it).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 \
  libgtest-dev libgmock-dev python3

# Whether this machine runs 32-bit x86 programs: a program of three
# instructions that only exits, assembled and linked here.
runs_32bit_programs() {
  local dir rc
  dir=$(mktemp -d /tmp/qex-i386.XXXXXX)
  printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' |
    as --32 -o "$dir/exit.o" - 2>/dev/null && ld -m elf_i386 -o "$dir/exit" "$dir/exit.o" 2>/dev/null &&
    "$dir/exit" 2>/dev/null
  rc=$?
  rm -rf "$dir"
  return "$rc"
}
tested=(x86_64)
if runs_32bit_programs; then
  tested+=(i686)
  # Before the prefix is made, so that it holds the 32-bit system DLLs too.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root=()
    ((EUID == 0)) || as_root=(sudo)
    "${as_root[@]}" dpkg --add-architecture i386
  fi
  bash scripts/install-deps.sh wine32:i386
else
  echo "32-bit programs do not run on this machine: the i686 qex.exe is built and linked, not tested."
fi

# wine in a prefix of its own, quiet, without a display; a UTF-8 locale for
# names outside ASCII. One server is kept running for every program started.
WINEPREFIX=$(mktemp -d /tmp/qex-wine.XXXXXX)
export WINEPREFIX WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8
unset DISPLAY
WINE=/usr/lib/wine/wine64
stop_wine() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap stop_wine EXIT
"$WINE" wineboot --init >/dev/null 2>&1
/usr/lib/wine/wineserver -w
/usr/lib/wine/wineserver -p

for arch in x86_64 i686; do
  cmake -S . -B "build-windows-$arch" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQEX_WERROR=ON -DQEX_BENCH=OFF
  cmake --build "build-windows-$arch" -j"$(nproc)"
done
# qex.exe imports nothing but the system's own DLLs.
for arch in x86_64 i686; do
  imports=$("$arch-w64-mingw32-objdump" -p "build-windows-$arch/qex.exe" | awk '/DLL Name:/ {print $3}' | sort -u)
  unexpected=$(grep -viE '^(kernel32|msvcrt|shell32)\.dll$' <<<"$imports" || true)
  if [[ -n "$unexpected" ]]; then
    echo "build-windows-$arch/qex.exe imports $unexpected" >&2
    exit 1
  fi
done

# The first program started brings the server up; its output goes nowhere
# so that the tests' piped output is not held up by it. A win64 prefix runs
# the 32-bit program through the 32-bit loader, on the same server.
"$WINE" build-windows-x86_64/qex.exe >/dev/null 2>&1 || true
declare -A loader=([x86_64]=/usr/lib/wine/wine64 [i686]=/usr/lib/wine/wine)
for arch in "${tested[@]}"; do
  ctest --test-dir "build-windows-$arch" --output-on-failure -j"$(nproc)"
  python3 scripts/cross-system-test.py build/qex "build-windows-$arch/qex.exe" "${loader[$arch]}"
done
# Sizes and offsets past 32 bits, where only the 32-bit program can break.
if [[ ${tested[-1]} == i686 ]]; then
  python3 scripts/large-file-test.py build-windows-i686/qex.exe "${loader[i686]}"
fi
