#!/usr/bin/env bash
# Builds the Windows programs and shows Kavo's main job under Wine, in the project's private
# prefix: it indexes two drives, searches them and serves the web search over the index.
#   U: a real folder tree of this machine (/usr/share/doc), walked folder by folder
#   N: an NTFS volume written by Windows (from ../shared/ntfs), read raw from its MFT
# With arguments, they go to kavo.exe as they are (for example ./run.sh find readme).
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$(nproc)" --target kavo
export KAVO_WINEPREFIX="$PWD/out/win32/wineprefix"
run=out/run
mkdir -p "$run/db" "$run/ntfs-root"
db="Z:$(realpath "$run/db" | tr / '\\')"
kavo() { ./tools/wine-run.sh out/win32/bin/kavo.exe --dbdir "$db" "$@"; }
./tools/wine-run.sh --setup

if [ $# -gt 0 ]; then
    kavo "$@"
    exit $?
fi

devices="$KAVO_WINEPREFIX/dosdevices"
# The walked drive's raw device is a small FAT volume, so Wine can read a serial number
# and kavo sees that the drive is not NTFS.
python3 - "$run/fat.img" <<'PY'
import sys
sector = bytearray(512)
sector[0:24] = bytes([0xEB, 0x3C, 0x90]) + b"MSDOS5.0" + bytes([0, 2, 1, 1, 0, 2, 0, 2, 0, 8, 0xF8, 8, 0])
sector[0x26] = 0x29
sector[0x27:0x2B] = bytes([0xCD, 0xAB, 0x34, 0x12])
sector[0x36:0x3E] = b"FAT16   "
sector[510:512] = b"\x55\xAA"
open(sys.argv[1], "wb").write(bytes(sector) + bytes(1 << 20))
PY
ln -sfn /usr/share/doc "$devices/u:"
ln -sfn "$(realpath "$run/fat.img")" "$devices/u::"
[ -f "$run/charlie.dd" ] || bzip2 -dc ../shared/ntfs/gontfs-charlie/charlie.dd.bz2 > "$run/charlie.dd"
ln -sfn "$(realpath "$run/ntfs-root")" "$devices/n:"
ln -sfn "$(realpath "$run/charlie.dd")" "$devices/n::"

kavo build U
kavo build N
echo "== kavo find copyright (first lines)"
kavo find copyright | head -n 5 || true
echo "== kavo find N:\\ (the NTFS volume)"
kavo find 'N:\' | head -n 20 || true
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
echo "== web search: open http://127.0.0.1:$port/ (press a key here to stop)"
kavo web --ip 127.0.0.1 --port "$port"
