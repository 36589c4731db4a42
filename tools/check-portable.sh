#!/usr/bin/env bash
# Fails when a portable source file (one not named *_win.*) includes a Win32 header.
set -euo pipefail
cd "$(dirname "$0")/.."
hits=$(git ls-files -co --exclude-standard -- '*.h' '*.cpp' | grep -v -E '_win\.(h|cpp)$' |
       grep -v -E '^(out|tests/e2e)/' |
       xargs grep -l -i -E '^\s*#\s*include\s*[<"](windows|winsock2?|ws2tcpip|shlobj|shellapi|commctrl|winioctl|tlhelp32|psapi|dbghelp|wincrypt|objbase|ole2|wbemidl)\.h[>"]' 2>/dev/null |
       grep -v -E '^tests/support/test_support\.cpp$' || true)
if [ -n "$hits" ]; then
    echo "portable files that include Win32 headers:"
    echo "$hits"
    exit 1
fi
echo "portable core: no Win32 headers"
