#!/usr/bin/env bash
# Generates a configuration document of SIZE_MB and measures the large document form on
# it: index build, its peak memory and name search next to xmllint --stream --noout; then
# opening it twice, the index built and kept, then read back from the cache folder, and
# the cache file's size.
#   run_large_bench.sh [SIZE_MB] [RUNS] [BUILD_DIR]     (defaults: 1024, 3, build/release)
# The document goes to a scratch folder on the disk of the build folder (TMPDIR is often
# in memory), removed at the end; it needs SIZE_MB of free space.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
size="${1:-1024}"
runs="${2:-3}"
build="${3:-$here/../build/release}"
bench="$build/bench/bench_large"
[[ -x "$bench" ]] || { echo "no $bench: build the project first (scripts/build.sh release)" >&2; exit 1; }
command -v xmllint >/dev/null || { echo "xmllint is missing (package libxml2-utils)" >&2; exit 1; }
work="$(mktemp -d "$build/large-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
python3 "$here/gen_config.py" --size-mb "$size" --seed 7 -o "$work/config.xml"
"$bench" "$work/config.xml" --runs "$runs" --name "${NAME:-Description}"
echo
"$build/bench/bench_index_cache" "$work/config.xml" --runs "$runs"
