#!/usr/bin/env bash
# Installs what the build and tests need beyond a fresh machine (Debian 12).
set -euo pipefail
need=()
# clang and its runtime libraries (libFuzzer, sanitizers) build the fuzz
# targets; setpriv and unshare (util-linux) run the permission and full-disk
# tests.
for pkg in cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev python3 \
           clang libclang-rt-14-dev util-linux; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if ((${#need[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
fi
