#!/usr/bin/env bash
# Builds the API reference of the document core from its public headers into
# build/docs/html (open build/docs/html/index.html).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cd "$here/.."
bash "$here/install-deps.sh" docs
export TREELARK_SOURCE="$PWD" TREELARK_DOCS_OUT="$PWD/build/docs"
mkdir -p "$TREELARK_DOCS_OUT"
doxygen docs/Doxyfile
echo "API reference: $TREELARK_DOCS_OUT/html/index.html"
