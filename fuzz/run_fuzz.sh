#!/usr/bin/env bash
# Configures, builds and runs the fuzz target for SECONDS seconds, in one process.
#   run_fuzz.sh SECONDS [BUILD_DIR]
# The corpus grows in BUILD_DIR/corpus (seeded from the conformance suite on first use);
# a crash is written to BUILD_DIR/artifacts and makes this script fail. Inputs kept under
# fuzz/regressions are replayed first: each one once crashed the core.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
seconds="${1:?usage: run_fuzz.sh SECONDS [BUILD_DIR]}"
build="${2:-$here/../build/fuzz}"
cmake -S "$here/.." -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTREELARK_FUZZ=ON -DTREELARK_BUILD_GUI=OFF -DTREELARK_BUILD_TESTS=OFF -DTREELARK_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_document -j 2
mkdir -p "$build/corpus" "$build/artifacts"
if [ -z "$(ls -A "$build/corpus")" ]; then
  bash "$here/seed_corpus.sh" "$build/corpus"
fi
# Leaks count here (unlike in the test runs, where Qt's own keep-alives would drown them);
# the one known leak of the system's libxml2 is suppressed by name.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$here/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
if [ -n "$(ls -A "$here/regressions" 2>/dev/null)" ]; then
  TREELARK_FUZZ_STRICT_ROUNDTRIP=1 "$build/fuzz/fuzz_document" -rss_limit_mb=2048 "$here"/regressions/*
fi
# A fixed seed keeps a short run repeatable, so a finding can be reproduced from the log.
"$build/fuzz/fuzz_document" -seed="${FUZZ_SEED:-1}" -max_len=65536 -rss_limit_mb=2048 -timeout=30 -max_total_time="$seconds" \
  -print_final_stats=1 -artifact_prefix="$build/artifacts/" "$build/corpus"
