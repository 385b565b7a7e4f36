#!/usr/bin/env bash
# Draws the Windows program's pictures in docs/ under Wine on a virtual X
# display, in a throw-away Wine prefix (run by hand, output kept):
#   shell/win32/screenshots_wine.sh [WINDOWS_BUILD_DIR]   (default build-win)
# The program runs with a stored proxy (it listens on 127.0.0.1:8080 while
# the pictures are taken) and is ended with its Exit command.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=$(cd "${1:-build-win}" && pwd)
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build"
fi

wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
work=$(mktemp -d /tmp/quillon-shots-XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all
cleanup() {
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

"$wine" wineboot -i >"$work/wineboot.log" 2>&1
reg() { "$wine" reg add "$@" /f >/dev/null; }
reg 'HKCU\Software\Wine\Explorer' /v Desktop /d Default
reg 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600
mkdir -p "$work/app"
printf '127.0.0.1:3128\r\r\n127.0.0.2:8000\r\r\n' >"$work/app/proxylist.txt"
reg 'HKLM\Software\Quillon' /v AppPath /d "Z:${work//\//\\}\\app\\"
reg 'HKLM\Software\Quillon' /v RunFirst /t REG_DWORD /d 1
reg 'HKLM\Software\Quillon' /v Minimize /t REG_DWORD /d 0
reg 'HKLM\Software\Quillon' /v ProxyName /d 127.0.0.1:3128
reg 'HKLM\Software\Quillon' /v UseProxy /t REG_DWORD /d 1
"$wineserver" -w

probe() { "$wine" "$build/quillon_window_probe.exe" "$@"; }
# The probe writes BMP; docs/ keeps PNG.
to_png() {
    python3 - "$1" "$2" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
offset = struct.unpack_from("<I", data, 10)[0]
width, height = struct.unpack_from("<ii", data, 18)
stride = (width * 3 + 3) & ~3
rows = []
for y in range(abs(height)):
    source = height - 1 - y if height > 0 else y
    line = data[offset + source * stride:offset + source * stride + width * 3]
    rgb = bytearray(width * 3)
    rgb[0::3], rgb[1::3], rgb[2::3] = line[2::3], line[1::3], line[0::3]
    rows.append(b"\0" + bytes(rgb))
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
head = struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0)
open(sys.argv[2], "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) +
                              chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))
PY
}
shot() {
    probe shot Quillon "Z:${work//\//\\}\\$1.bmp" && to_png "$work/$1.bmp" "$root/docs/$1.png"
}

(cd "$build" && exec "$wine" ./quillon.exe) >"$work/quillon.log" 2>&1 &
program=$!
probe wait Quillon visible 60 >/dev/null
sleep 2
shot wine-settings-page
probe page Quillon 1
sleep 1
shot wine-privacy-page
probe tray Quillon "Z:${work//\//\\}\\wine-tray-menu.bmp" >/dev/null
to_png "$work/wine-tray-menu.bmp" "$root/docs/wine-tray-menu.png"
probe command Quillon 32775
probe wait Quillon gone 30 >/dev/null || kill "$program"
wait "$program" || true
echo "docs/wine-settings-page.png docs/wine-privacy-page.png docs/wine-tray-menu.png"
