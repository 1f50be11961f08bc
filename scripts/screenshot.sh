#!/usr/bin/env bash
# Starts the program under a virtual X display on a file and saves a PNG of the screen.
#   screenshot.sh [FILE] [OUT.png]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
file=${1:-$here/../tests/data/sample_config.xml}
out=${2:-/tmp/treelark-screenshot.png}
bin="$here/../build/release/mainwindow/quenmoor"
[ -x "$bin" ] || bash "$here/build.sh" release
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1024x900x24 -nolisten tcp &
xvfb=$!
trap 'kill $app $xvfb 2>/dev/null || true' EXIT
sleep 1
DISPLAY=$display "$bin" "$file" &
app=$!
sleep 3
DISPLAY=$display import -window root "$out"
echo "saved $out"
