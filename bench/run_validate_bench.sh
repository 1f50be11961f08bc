#!/usr/bin/env bash
# Generates a configuration document of SIZE_MB and times validating it against the
# shipped FrameworkConfig schema, in memory and streamed, against xmllint.
#   run_validate_bench.sh [SIZE_MB] [RUNS] [BUILD_DIR]    (defaults: 100, 3, build/release)
# STREAM_ONLY=1 skips the in-memory check (for documents larger than memory, e.g. 1024).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
size="${1:-100}"
runs="${2:-3}"
build="${3:-$here/../build/release}"
bench="$build/bench/bench_validate"
[[ -x "$bench" ]] || { echo "no $bench: build the project first (scripts/build.sh release)" >&2; exit 1; }
command -v xmllint >/dev/null || { echo "xmllint is missing (package libxml2-utils)" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python3 "$here/gen_config.py" --size-mb "$size" --seed 7 -o "$work/config.xml"
extra=()
[[ "${STREAM_ONLY:-0}" == 1 ]] && extra=(--no-dom)
"$bench" "$work/config.xml" "$here/../data/FrameworkConfig.xsd" --runs "$runs" "${extra[@]}"
