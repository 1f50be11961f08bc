#!/usr/bin/env bash
# How faithfully documents are saved, measured on the XML files installed packages ship
# under a folder (default /usr/share): each is loaded (validation off), saved unchanged,
# and saved again after one attribute was added to its document element. Reports how many
# come back byte for byte, how many keep their canonical form (xmllint --c14n), and how
# many lines each save changed; files whose edit changed more than two lines are listed.
#   run_faithful.sh [FOLDER] [BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
folder="${1:-/usr/share}"
build="${2:-$here/../build/release}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
find "$folder" -type f \( -name '*.xml' -o -name '*.svg' -o -name '*.ui' -o -name '*.xsl' -o -name '*.xsd' \
  -o -name '*.rng' -o -name '*.xhtml' -o -name '*.glade' -o -name '*.page' -o -name '*.docbook' \) -size -20M \
  | sort | "$build/bench/roundtrip" --write "$work" | tail -n 1
python3 - "$work" <<'PY'
import difflib, os, statistics, subprocess, sys
work = sys.argv[1]
def c14n(path, home=None):
    # DTDs and entities named relative to the original are looked up beside it
    extra = ['--path', home] if home else []
    r = subprocess.run(['xmllint', '--nonet', '--c14n'] + extra + [path], capture_output=True)
    return r.stdout if r.returncode == 0 else None
def changed_lines(a, b):
    sm = difflib.SequenceMatcher(None, a.splitlines(), b.splitlines(), autojunk=False)
    return sum(max(i2 - i1, j2 - j1) for op, i1, i2, j1, j2 in sm.get_opcodes() if op != 'equal')
def tag_end(t, i):
    quote = None
    while i < len(t):
        c = t[i:i + 1]
        if quote:
            if c == quote:
                quote = None
        elif c in (b'"', b"'"):
            quote = c
        elif c == b'>':
            return i
        i += 1
    return -1
def root_start(t):
    i = 0
    while True:
        i = t.find(b'<', i)
        if i < 0 or t[i:i + 2] not in (b'<?', b'<!'):
            return i
        if t[i:i + 4] == b'<!--':
            i = t.find(b'-->', i) + 3
        elif t[i:i + 9] == b'<!DOCTYPE':
            depth, j = 0, i
            while j < len(t):
                if t[j:j + 1] == b'[': depth += 1
                elif t[j:j + 1] == b']': depth -= 1
                elif t[j:j + 1] == b'>' and depth == 0: break
                j += 1
            i = j + 1
        else:
            i = t.find(b'>', i) + 1
def outside_root_tag(a, b):
    # equal except inside the document element's start tag
    start = root_start(a)
    if start < 0 or a[:start] != b[:start]:
        return False
    return a[tag_end(a, start):] == b[tag_end(b, start):]
n = same_bytes = same_c14n = c14n_checked = 0
plain_changes, edit_changes, edit_small, edit_tag_only, many = [], [], 0, 0, []
for line in open(os.path.join(work, 'index')):
    num, path = line.rstrip('\n').split('\t', 1)
    n += 1
    orig = open(path, 'rb').read()
    saved = open(os.path.join(work, num + '.saved'), 'rb').read()
    edited = open(os.path.join(work, num + '.edited'), 'rb').read()
    same_bytes += orig == saved
    co = c14n(path)
    if co is not None:
        c14n_checked += 1
        same_c14n += co == c14n(os.path.join(work, num + '.saved'), os.path.dirname(path))
    plain_changes.append(changed_lines(orig, saved))
    e = changed_lines(orig, edited)
    edit_changes.append(e)
    edit_small += e <= 2
    if e > 2:
        many.append((path, e))
    edit_tag_only += outside_root_tag(orig, edited)
print(f'unedited: {same_bytes} of {n} byte for byte; canonical form kept for {same_c14n} of {c14n_checked} '
      f'(xmllint --c14n); lines changed median {statistics.median(plain_changes)}, worst {max(plain_changes)}')
print(f'one attribute added to the document element: lines changed median {statistics.median(edit_changes)}, '
      f'worst {max(edit_changes)}; at most 2 lines for {edit_small} of {n} ({100.0 * edit_small / n:.1f}%); '
      f'the rest of the file byte for byte for {edit_tag_only} of {n} ({100.0 * edit_tag_only / n:.1f}%)')
# Each file listed is named with its encoding (files in encodings other than UTF-8 keep
# their start tags through the parser's converted text: the first place to look).
import re
for path, e in many:
    head = open(path, 'rb').read(200)
    m = re.match(rb'(?:\xef\xbb\xbf)?<\?xml[^>]*encoding\s*=\s*["\']([^"\']+)', head)
    enc = m.group(1).decode('ascii', 'replace') if m else 'UTF-8'
    print(f'  {e} lines changed by the edit ({enc}): {path}')
PY
