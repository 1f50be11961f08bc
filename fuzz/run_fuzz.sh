#!/usr/bin/env bash
# Builds the fuzz target and runs it in one process.
#   run_fuzz.sh --gate [BUILD_DIR]     the check the test command runs: the regressions, then
#                                      every input of a generated corpus (the conformance
#                                      documents, each small one with three sets of edits)
#                                      exactly once: the same inputs, the same verdict, on
#                                      any machine
#   run_fuzz.sh --runs N [BUILD_DIR]   the same corpus, then mutations up to N inputs with a
#                                      fixed seed (which inputs the mutations reach can vary
#                                      between runs: coverage depends on addresses)
#   run_fuzz.sh SECONDS [BUILD_DIR]    a search for new faults: the corpus grows in
#                                      BUILD_DIR/corpus between runs
# A finding is written to BUILD_DIR/artifacts and makes this script fail. Inputs kept
# under fuzz/regressions are replayed first: each one once broke the core.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
usage="usage: run_fuzz.sh --gate | --runs N | SECONDS [BUILD_DIR]"
if [ "${1:-}" = "--gate" ]; then
  shift
  runs=1 # the corpus is always run whole first; one run more is none
  limit=(-runs=1)
  export VARIANTS=3
elif [ "${1:-}" = "--runs" ]; then
  runs="${2:?$usage}"; shift 2
  limit=(-runs="$runs")
else
  seconds="${1:?$usage}"; shift
  limit=(-max_total_time="$seconds")
fi
build="${1:-$here/../build/fuzz}"
cmake -S "$here/.." -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTREELARK_FUZZ=ON -DTREELARK_BUILD_GUI=OFF -DTREELARK_BUILD_TESTS=OFF -DTREELARK_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_document -j 2
mkdir -p "$build/artifacts"
if [ -n "${runs:-}" ]; then
  corpus="$build/gate-corpus"
  rm -rf "$corpus"
  bash "$here/seed_corpus.sh" "$corpus"
else
  corpus="$build/corpus"
  mkdir -p "$corpus"
  [ -n "$(ls -A "$corpus")" ] || bash "$here/seed_corpus.sh" "$corpus"
fi
# Leaks count here (unlike in the test runs, where Qt's own keep-alives would drown them);
# the one known leak of the system's libxml2 is suppressed by name.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$here/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
if [ -n "$(ls -A "$here/regressions" 2>/dev/null)" ]; then
  TREELARK_FUZZ_STRICT_ROUNDTRIP=1 "$build/fuzz/fuzz_document" -rss_limit_mb=2048 "$here"/regressions/*
fi
"$build/fuzz/fuzz_document" -seed=1 -max_len=65536 -rss_limit_mb=2048 -timeout=30 "${limit[@]}" \
  -print_final_stats=1 -artifact_prefix="$build/artifacts/" "$corpus"
