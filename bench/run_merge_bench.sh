#!/usr/bin/env bash
# Generates two 50 MB configuration documents with unique names per level and times
# merging one into the other against xmllint parsing both; then merging one level of
# 200,000 children against a level of 100,000.
#   run_merge_bench.sh [BUILD_DIR] [SIZE_MB]     (defaults: build/release, 50)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build/release}"
size="${2:-50}"
bench="$build/bench/bench_merge"
if [[ ! -x "$bench" ]]; then
  echo "no $bench: build the project first (scripts/build.sh release)" >&2
  exit 1
fi
command -v xmllint >/dev/null || { echo "xmllint is missing (package libxml2-utils)" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python3 "$here/gen_config.py" --size-mb "$size" --seed 1 --unique-names -o "$work/target.xml"
python3 "$here/gen_config.py" --size-mb "$size" --seed 2 --unique-names -o "$work/source.xml"
"$bench" "$work/target.xml" "$work/source.xml"
# one wide level, against half of it: linear work keeps the ratio near 2
"$bench" --wide 200000
