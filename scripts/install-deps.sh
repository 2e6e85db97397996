#!/usr/bin/env bash
# Installs the Debian packages the build and tests need (Debian 12), or the
# packages named as arguments, when they are missing; nothing when all are
# present. apt-get needs root: run as another user, it goes through sudo.
# usage: scripts/install-deps.sh [PACKAGE...]
set -euo pipefail
if (($#)); then
  wanted=("$@")
else
  # clang and its runtime libraries (libFuzzer, sanitizers) build the fuzz
  # targets; setpriv and unshare (util-linux) run the permission and
  # full-disk tests; groff-base checks the manual page and dpkg-dev
  # (dpkg-shlibdeps) with file computes the Debian package's dependencies.
  wanted=(cmake g++ make libgtest-dev libgmock-dev python3
          clang libclang-rt-14-dev util-linux groff-base dpkg-dev file)
fi
need=()
for pkg in "${wanted[@]}"; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
((${#need[@]})) || exit 0
as_root=()
if ((EUID != 0)); then
  if ! command -v sudo >/dev/null; then
    echo "install-deps.sh: missing ${need[*]}; run as root or install sudo" >&2
    exit 1
  fi
  echo "install-deps.sh: installing ${need[*]} with sudo (not running as root)" >&2
  as_root=(sudo)
fi
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
