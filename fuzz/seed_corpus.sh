#!/usr/bin/env bash
# Builds a seed corpus for the fuzz target from the W3C conformance suite.
#   seed_corpus.sh OUTPUT_DIR
# The suite's zip is only read: it is unpacked into a scratch folder that is removed
# afterwards. Each seed is one test document, and a copy of the smaller ones follows
# with a NUL byte and a few operation bytes, so that edits are tried from the start.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="${1:?usage: seed_corpus.sh OUTPUT_DIR}"
zip="${TREELARK_XMLCONF_ZIP:-$here/../../shared/xmlconf/xmlts20130923.zip}"
mkdir -p "$out"
if [ ! -f "$zip" ]; then
  echo "no conformance suite at $zip; seeding with a few documents of our own" >&2
  printf '<FrameworkConfig TagName="FrameworkConfig"><ApLayers><ApLayer TagName="A" Name="Roads"/></ApLayers></FrameworkConfig>\n' > "$out/config.xml"
  printf '<!DOCTYPE r [<!ENTITY e "<a>x</a>">]><r>&e;&e;</r>' > "$out/entity.xml"
  printf '<r xmlns:p="urn:p"><p:a p:b="1">t<![CDATA[c]]><!--c--><?pi x?></p:a></r>' > "$out/kinds.xml"
  exit 0
fi
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
(cd "$scratch" && cmake -E tar xf "$zip")
n=0
while IFS= read -r -d '' f; do
  size=$(stat -c %s "$f")
  [ "$size" -le 65536 ] || continue
  n=$((n + 1))
  cp "$f" "$out/doc$n.xml"
  if [ "$size" -le 4096 ]; then
    { cat "$f"; printf '\0'; head -c 48 /dev/urandom; } > "$out/ops$n.bin"
  fi
done < <(find "$scratch" -type f \( -name '*.xml' -o -name '*.dtd' -o -name '*.ent' \) -print0 | sort -z)
echo "seed corpus: $(ls "$out" | wc -l) files in $out"
