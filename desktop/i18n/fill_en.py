#!/usr/bin/env python3
"""Fills desktop/i18n/varnelo_en.ts from a table of English texts.

The .ts file is the one a translator edits (Qt Linguist); this script is a
convenience for us developers: `lupdate` adds new source texts, this fills
those that have an entry in the table and lists the ones that do not.

    lupdate desktop/core desktop/ui -ts desktop/i18n/varnelo_en.ts -no-obsolete -locations none
    desktop/i18n/fill_en.py TABLE.py
"""
import runpy
import sys
import xml.etree.ElementTree as ET

ts = __file__.rsplit("/", 1)[0] + "/varnelo_en.ts"
table = runpy.run_path(sys.argv[1])["EN"]
tree = ET.parse(ts)
missing = []
for msg in tree.iter("message"):
    src = msg.find("source").text
    tr = msg.find("translation")
    if src in table:
        tr.text = table[src]
        tr.attrib.pop("type", None)
    elif not tr.text:
        missing.append(src)
ET.indent(tree)
with open(ts, "wb") as f:
    f.write(b'<?xml version="1.0" encoding="utf-8"?>\n<!DOCTYPE TS>\n')
    tree.write(f, encoding="utf-8")
    f.write(b"\n")
for m in missing:
    print("untranslated:", m)
