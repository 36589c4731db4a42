#!/usr/bin/env bash
# Builds the Windows programs and runs kavo under Wine in the project's private prefix.
# With arguments, they go to kavo as they are; without, it shows what kavo can do.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$(nproc)"
export KAVO_WINEPREFIX="$PWD/out/win32/wineprefix"
if [ $# -gt 0 ]; then
    exec ./tools/wine-run.sh out/win32/bin/kavo.exe "$@"
fi
./tools/wine-run.sh out/win32/bin/kavo.exe --version
./tools/wine-run.sh out/win32/bin/kavo.exe
