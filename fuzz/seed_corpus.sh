#!/usr/bin/env bash
# Builds a seed corpus for the fuzz target from the W3C conformance suite.
#   seed_corpus.sh OUTPUT_DIR
# The suite's zip is only read: it is unpacked into a scratch folder that is removed
# afterwards. Each seed is one test document, and a copy of the smaller ones follows
# with a NUL byte and a few operation bytes, so that edits are tried from the start.
# The operation bytes are derived from the seed's number: the same corpus every time. With
# VARIANTS=n each small document gets n more copies with other operations.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="${1:?usage: seed_corpus.sh OUTPUT_DIR}"
zip="${TREELARK_XMLCONF_ZIP:-$here/../tests/data/xmlconf/xmlts20130923.zip}"
mkdir -p "$out"
cat > "$out/config.xml" <<'XML'
<FrameworkConfig TagName="FrameworkConfig"><ApLayers><ApLayer TagName="A" Name="Roads"/></ApLayers></FrameworkConfig>
XML
printf '<!DOCTYPE r [<!ENTITY e "<a>x</a>">]><r>&e;&e;</r>' > "$out/entity.xml"
printf '<r xmlns:p="urn:p" xmlns="urn:d"><p:a p:b="1" xmlns:q="urn:q">t<![CDATA[c]]><!--c--><?pi x?><q:c/></p:a><e xmlns=""/></r>' > "$out/kinds.xml"
if [ ! -f "$zip" ]; then
  echo "no conformance suite at $zip: the corpus would not be the whole one" >&2
  exit 1
fi
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
(cd "$scratch" && cmake -E tar xf "$zip")
python3 - "$scratch" "$out" <<'PY'
import hashlib, os, sys
src, out = sys.argv[1], sys.argv[2]
files = []
for root, _, names in os.walk(src):
    for name in names:
        if name.endswith(('.xml', '.dtd', '.ent')):
            files.append(os.path.join(root, name))
n = 0
for path in sorted(os.path.relpath(f, src) for f in files):
    data = open(os.path.join(src, path), 'rb').read()
    if len(data) > 65536:
        continue
    n += 1
    open(os.path.join(out, 'doc%d.xml' % n), 'wb').write(data)
    if len(data) <= 4096:
        for v in range(1 + int(os.environ.get('VARIANTS', '0'))):
            ops = hashlib.sha512(b'ops%d' % n).digest()[:48] if v == 0 else \
                hashlib.sha512(b'ops%d/%d' % (n, v)).digest() + hashlib.sha512(b'more%d/%d' % (n, v)).digest()
            name = 'ops%d.bin' % n if v == 0 else 'ops%d-%d.bin' % (n, v)
            open(os.path.join(out, name), 'wb').write(data + b'\0' + ops)
PY
echo "seed corpus: $(ls "$out" | wc -l) files in $out"
