#!/usr/bin/env bash
# The Windows console program: cross-built with MinGW-w64 for x86-64 and
# i686 (the i686 one only has to build and link: this machine's kernel runs
# no 32-bit programs), the x86-64 one's tests run by CTest under wine, and
# archives crossed between the Linux and the Windows program. Expects the
# Linux build in build/ (scripts/test.sh makes it).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 \
  libgtest-dev libgmock-dev python3

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
# so that the tests' piped output is not held up by it.
"$WINE" build-windows-x86_64/qex.exe >/dev/null 2>&1 || true
ctest --test-dir build-windows-x86_64 --output-on-failure -j"$(nproc)"
python3 scripts/cross-system-test.py build/qex build-windows-x86_64/qex.exe "$WINE"
