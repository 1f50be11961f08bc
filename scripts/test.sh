#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in the release build (then
# packages it and checks the packages) and once more under AddressSanitizer +
# UndefinedBehaviorSanitizer. Windows run headless.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cd "$here/.."
bash "$here/install-deps.sh"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

bash "$here/build.sh" release
ctest --test-dir build/release --output-on-failure -j 2 --timeout 900
# the Debian packages, made from the release build just tested
bash "$here/check-packages.sh"
# the benchmarks are run by hand; here they only have to work, on a small document
WIDE_CHILDREN=100000 bash bench/run_open_bench.sh 10 1
bash bench/run_message_bench.sh 10 1 build/release --smoke
build/release/bench/bench_merge --wide 20000

bash "$here/build.sh" asan
# the packaging check builds the library again from scratch; once is enough
ctest --test-dir build/asan --output-on-failure -j 2 --timeout 1800 -E consumer_links_installed_package
bash fuzz/run_fuzz.sh --gate
