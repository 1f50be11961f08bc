#!/usr/bin/env python3
"""Writes a configuration-like XML document of a given size for the benchmarks.

The document looks like the layer configurations the program edits: a FrameworkConfig
root, sections such as ApLayers and Services, and below them branches 3 to 6 levels
deep. Every element has 2 to 6 attributes, always TagName and Name; some leaves hold
text and some element lists carry a comment. Output is indented with two blanks.

Two documents written with different seeds share their upper structure, so merging
one into the other pairs most elements and moves the rest across.

  gen_config.py --size-mb 50 --seed 1 --unique-names -o a.xml
  gen_config.py --wide 1000000 --seed 2 -o wide.xml
"""

import argparse
import random
import sys

SECTIONS = ["ApLayers", "Services", "Symbology", "Security", "Printing", "Editing", "Tools", "Locators"]
# What an element of each kind holds, level by level.
CHILD_KIND = {
    "ApLayers": "ApLayer", "Services": "Service", "Symbology": "Symbol", "Security": "Role",
    "Printing": "Template", "Editing": "Rule", "Tools": "Tool", "Locators": "Locator",
    "ApLayer": "ApFields", "Service": "Endpoint", "Symbol": "Renderer", "Role": "Grant",
    "Template": "Frame", "Rule": "Condition", "Tool": "Parameter", "Locator": "Field",
    "ApFields": "ApField", "Endpoint": "Operation", "Renderer": "Class", "Grant": "Permission",
    "Frame": "Element", "Condition": "Clause", "Parameter": "Value", "Field": "Alias",
    "ApField": "ApDomain", "Operation": "Argument", "Class": "Break", "Permission": "Scope",
    "Element": "Property", "Clause": "Operand", "Value": "Option", "Alias": "Token",
    "ApDomain": "ApCode",
}
WORDS = ["roads", "rivers", "parcels", "buildings", "zoning", "survey", "utility", "water",
         "sewer", "power", "transit", "address", "boundary", "elevation", "landuse", "census",
         "permit", "inspection", "asset", "network", "station", "segment", "valve", "meter"]
EXTRA_ATTRS = ["Visible", "Type", "Order", "Alias", "Editable", "Length", "Precision",
               "Scale", "Default", "MinScale", "MaxScale", "Url", "Format", "Width"]
DESCRIPTIONS = ["Maintained by the operations group.", "Refreshed nightly from the field units.",
                "Read only outside business hours.", "Values checked against the code list.",
                "Kept for the yearly report.", "Shown at large scales only."]


class Writer:
    def __init__(self, out, rng, unique):
        self.out = out
        self.rng = rng
        self.unique = unique
        self.written = 0

    def put(self, text):
        self.out.write(text)
        self.written += len(text)

    def attributes(self, tag, name, kind=""):
        rng = self.rng
        attrs = [("TagName", tag), ("Name", name)]
        for extra in rng.sample(EXTRA_ATTRS, rng.randint(0, 4)):
            if extra in ("Visible", "Editable"):
                value = rng.choice(["0", "1"])
            elif extra == "Type" and kind.startswith("Ap"):
                # the layer builder's field type codes, so the shipped schema holds
                value = str(rng.randint(0, 8))
            elif extra in ("Type", "Order", "Length", "Precision", "Scale", "Width"):
                value = str(rng.randint(0, 255))
            elif extra == "Url":
                value = "https://gis.example.org/%s/%d" % (rng.choice(WORDS), rng.randint(1, 999))
            else:
                value = "%s %s" % (rng.choice(WORDS).title(), rng.choice(WORDS))
            attrs.append((extra, value))
        return "".join(' %s="%s"' % a for a in attrs)

    def element(self, kind, index, depth, levels_left, indent):
        rng = self.rng
        # Unique names: siblings differ by their index; otherwise they share the kind and
        # only TagName tells them apart.
        name = "%s_%d" % (kind, index) if self.unique else kind
        tag = "%s%d" % (kind, index)
        attrs = self.attributes(tag, "%s %d" % (rng.choice(WORDS), index), kind)
        pad = "  " * indent
        child_kind = CHILD_KIND.get(kind)
        if levels_left <= 0 or child_kind is None:
            if rng.random() < 0.25:
                self.put('%s<%s%s>%s</%s>\n' % (pad, name, attrs, rng.choice(DESCRIPTIONS), name))
            else:
                self.put('%s<%s%s/>\n' % (pad, name, attrs))
            return
        self.put("%s<%s%s>\n" % (pad, name, attrs))
        if rng.random() < 0.15:
            self.put("%s  <!-- %s -->\n" % (pad, rng.choice(DESCRIPTIONS)))
        if rng.random() < 0.2:
            desc = "Description_0" if self.unique else "Description"
            self.put('%s  <%s TagName="Description" Name="%s">%s</%s>\n'
                     % (pad, desc, kind, rng.choice(DESCRIPTIONS), desc))
        for i in range(rng.randint(1, 6 if depth < 2 else 4)):
            self.element(child_kind, i, depth + 1, levels_left - 1, indent + 1)
        self.put("%s</%s>\n" % (pad, name))


def write_nested(w, size_bytes):
    rng = w.rng
    w.put('<?xml version="1.0" encoding="UTF-8"?>\n')
    w.put('<FrameworkConfig TagName="FrameworkConfig" Name="Generated" Version="%d">\n' % rng.randint(1, 9))
    sections = {s: 0 for s in SECTIONS}
    opened = []
    # Sections fill up in turns, each a run of branches, until the size is reached.
    while w.written < size_bytes:
        section = SECTIONS[len(opened) % len(SECTIONS)]
        number = len(opened) // len(SECTIONS)
        opened.append(section)
        name = "%s_%d" % (section, number) if w.unique else section
        w.put('  <%s TagName="%s%d" Name="%s">\n' % (name, section, number, section))
        kind = CHILD_KIND[section]
        start = sections[section]
        # a layer container holds at most 25 layers, as the layer builder allows
        run = 25 if section == "ApLayers" else 200
        for i in range(start, start + run):
            # 3 to 6 levels below the root, the section counted
            w.element(kind, i, 1, rng.randint(1, 4), 2)
            if w.written >= size_bytes:
                break
        sections[section] = start + run
        w.put("  </%s>\n" % name)
    w.put("</FrameworkConfig>\n")


def write_wide(w, count):
    w.put('<?xml version="1.0" encoding="UTF-8"?>\n')
    w.put('<FrameworkConfig TagName="FrameworkConfig" Name="Wide">\n')
    for i in range(count):
        name = "Item_%d" % i if w.unique else "Item"
        w.put("  <%s%s/>\n" % (name, w.attributes("Item%d" % i, "%s %d" % (w.rng.choice(WORDS), i))))
    w.put("</FrameworkConfig>\n")


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--size-mb", type=float, default=1.0, help="approximate size of the nested document")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--unique-names", action="store_true",
                   help="give siblings distinct element names (Item_0, Item_1, ...)")
    p.add_argument("--wide", type=int, metavar="N", help="one root with N children instead of nesting")
    p.add_argument("-o", "--output", help="file to write (default: standard output)")
    args = p.parse_args()

    out = open(args.output, "w", encoding="utf-8", newline="\n") if args.output else sys.stdout
    try:
        w = Writer(out, random.Random(args.seed), args.unique_names)
        if args.wide is not None:
            write_wide(w, args.wide)
        else:
            write_nested(w, int(args.size_mb * 1024 * 1024))
    finally:
        if out is not sys.stdout:
            out.close()


if __name__ == "__main__":
    main()
