#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program (optionally on a file).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bash "$here/install-deps.sh"
bash "$here/build.sh" release
exec "$here/../build/release/mainwindow/quenmoor" "$@"
