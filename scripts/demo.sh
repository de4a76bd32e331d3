#!/usr/bin/env bash
# An offline demo: starts the window against a local stand-in of the site that serves a few demo
# videos made with ffmpeg (a one-part video, a three-part video in segments, an episode page with a
# part whose play address fails) and their comment lists. Closing the window stops the site.
# Everything lands in build/demo: the program's copy and its downloads in build/demo/window (emptied
# at every start), the videos in build/demo/videos (made at the first run).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=Release -- ZentavoDownloader
source scripts/demo_site.sh
start_demo_site build/demo
# A copy of the program in a folder of its own: its save folder starts there, so the downloads stay
# out of build/bin.
rm -rf build/demo/window
mkdir -p build/demo/window
cp build/bin/ZentavoDownloader build/demo/window/
cat <<TEXT
The local site runs at $ZENTAVO_SITE. Paste one of these addresses into 视频地址 and press 解析:
$(awk '{ $1 = ""; $2 = ""; print "  " substr($0, 3) }' <<<"$DEMO_PAGES")
Then right-click the list: 下载全部视频 (segments, progress, merge on the 视频下载管理 tab) and
下载全部视频的弹幕（XML） (comment lists on the XML弹幕下载管理 tab). Files go to $PWD/build/demo/window/.
TEXT
build/demo/window/ZentavoDownloader
