#!/usr/bin/env bash
# Configures and builds one flavour of the project into build/<flavour>.
#   build.sh release   optimised with debug info (what run.sh starts)
#   build.sh asan      AddressSanitizer + UndefinedBehaviorSanitizer, for the tests
set -euo pipefail
cd "$(dirname "$0")/.."
flavour=${1:-release}
case "$flavour" in
  release) opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan)    opts=(-DCMAKE_BUILD_TYPE=Debug -DTREELARK_SANITIZE=ON -DTREELARK_BUILD_BENCH=OFF) ;;
  *) echo "unknown flavour: $flavour" >&2; exit 2 ;;
esac
cmake -S . -B "build/$flavour" -G Ninja "${opts[@]}" >/dev/null
cmake --build "build/$flavour" -j "$(nproc)"
