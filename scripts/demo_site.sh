# Sourced by demo.sh and screenshot.sh: fills a scratch folder with the demo site
# (tests/fixtures/demo_site.py), starts the local site on 127.0.0.1 and points ZENTAVO_SITE at it.
# The site stops when the sourcing script exits.

# start_demo_site FOLDER [PACE_SECONDS]: the site's files go to FOLDER/site (made anew), the videos
# are made once into FOLDER/videos. Sets DEMO_SITE_PID and exports ZENTAVO_SITE; prints the pages.
start_demo_site() {
  local folder=$1 pace=${2:-5}
  rm -rf "$folder/site"
  mkdir -p "$folder/site" "$folder/videos"
  DEMO_PAGES=$(python3 tests/fixtures/demo_site.py --dir "$folder/site" --cache "$folder/videos" --pace "$pace")
  coproc DEMO_SITE { exec python3 tests/fixtures/zentavo_site.py --dir "$folder/site"; }
  DEMO_SITE_PID=$DEMO_SITE_PID
  trap 'kill "$DEMO_SITE_PID" 2>/dev/null || true' EXIT
  local ports http
  read -r ports http _ <&"${DEMO_SITE[0]}"
  [ "$ports" = PORTS ] || { echo "the local site did not start" >&2; return 1; }
  export ZENTAVO_SITE=http://127.0.0.1:$http
}
