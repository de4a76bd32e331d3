#!/usr/bin/env bash
# Renders the window under Xvfb in real states reached through the local demo site: one PNG per
# tab while videos download and merge and comment lists arrive, and one with the donation panel,
# in DIR (default build/screenshots).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/screenshots}
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=Release -- ZentavoScreenshots
source scripts/demo_site.sh
start_demo_site build/demo
page() { awk -v key="$1" '$2 == key { print $3 }' <<<"$DEMO_PAGES"; }
work=build/demo/screenshots
rm -rf "$work"
mkdir -p "$out" "$work"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" \
  build/bin/ZentavoScreenshots "$out" "$work" "$(page one_part)" "$(page three_parts)" "$(page episodes)"
