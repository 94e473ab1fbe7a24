#!/usr/bin/env bash
# Renders the PNG icons and the macOS .icns from mirvo.svg; run after changing the drawing and commit the
# results, so that building needs no SVG renderer. Needs rsvg-convert (Debian: librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"

for size in 32 48 64 128 256; do
    mkdir -p "hicolor/${size}x${size}"
    rsvg-convert -w "$size" -h "$size" mirvo.svg -o "hicolor/${size}x${size}/mirvo.png"
done

# An .icns is a list of (type, length, PNG) entries; iconutil exists only on macOS.
python3 - <<'PYTHON'
import struct
import subprocess

entries = b""
for kind, size in [(b"ic11", 32), (b"ic12", 64), (b"ic07", 128), (b"ic08", 256), (b"ic09", 512)]:
    png = subprocess.run(["rsvg-convert", "-w", str(size), "-h", str(size), "mirvo.svg"],
                         capture_output=True, check=True).stdout
    entries += kind + struct.pack(">I", len(png) + 8) + png
with open("mirvo.icns", "wb") as icns:
    icns.write(b"icns" + struct.pack(">I", len(entries) + 8) + entries)
PYTHON
