#!/usr/bin/env bash
# Renders the window under Xvfb: one PNG per tab, and one with the donation panel, in DIR
# (default build/screenshots).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/screenshots}
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target ZentavoScreenshots -j 2
mkdir -p "$out"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" build/bin/ZentavoScreenshots "$out"
