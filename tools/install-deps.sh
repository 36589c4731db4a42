#!/usr/bin/env bash
# Installs every Debian package that building and testing need. Safe to run again: it does
# nothing when all packages are present.
set -euo pipefail
packages=(
    cmake ninja-build g++ clang libclang-rt-14-dev clang-format
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev
    wine wine32 xvfb xauth
    googletest libxxhash-dev libssl-dev unicode-data
    ntfs-3g sleuthkit fuse3 util-linux
    curl chromium wrk apt-file lz4 python3
)
missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    need_update=1
fi
for p in "${packages[@]}"; do
    name=$p
    [ "$p" = wine32 ] && name=wine32:i386
    if ! dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]/#wine32/wine32:i386}"
