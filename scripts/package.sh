#!/usr/bin/env bash
# Builds the Debian packages from the release build (built first when it is missing or
# out of date) into build/package:
#   quenmoor               the program
#   libtreelark-core<so>   the document core library
#   libtreelark-core-dev   what building against it takes
# Install them with: apt install ./build/package/*.deb
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cd "$here/.."
bash "$here/install-deps.sh"
bash "$here/build.sh" release
rm -rf build/package
cpack --config build/release/CPackConfig.cmake -B "$PWD/build/package" >build/package.log 2>&1 || {
  cat build/package.log >&2
  exit 1
}
rm -rf build/package/_CPack_Packages
ls -1 build/package/*.deb
