#!/usr/bin/env bash
# Builds everything and runs every test: the native tests (sanitizers), the same tests
# cross-compiled and run under Wine, and the end-to-end tests of the real .exe files.
# Installs what it needs on a fresh Debian machine first.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
jobs=$(nproc)
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
status=0
ctest --test-dir out/win32 --output-on-failure -j 1 || status=1
ctest --test-dir out/native --output-on-failure -j "$jobs" || status=1
exit $status
