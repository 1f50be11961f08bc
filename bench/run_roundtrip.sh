#!/usr/bin/env bash
# Every XML file the installed packages ship under a folder (default /usr/share) is loaded,
# saved unchanged and read again; the tree read back must mean what the first one did.
#   run_roundtrip.sh [FOLDER] [BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
folder="${1:-/usr/share}"
build="${2:-$here/../build/release}"
find "$folder" -type f \( -name '*.xml' -o -name '*.svg' -o -name '*.ui' -o -name '*.xsl' -o -name '*.xsd' \
  -o -name '*.rng' -o -name '*.xhtml' -o -name '*.glade' -o -name '*.page' -o -name '*.docbook' \) -size -20M \
  | sort | "$build/bench/roundtrip"
