#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes languages/english.lng from the built-in message table. Run after changing the
table; the core tests check that every language file translates every key."""
import re, sys, pathlib

root = pathlib.Path(__file__).resolve().parent.parent
src = (root / "src/core/messages.cpp").read_text()
rows = re.findall(r'\{"(strMsg\w+)",\s*((?:"(?:[^"\\]|\\.)*"\s*)+)\}', src)
table = []
for key, parts in rows:
    text = "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', parts))
    table.append((key, text.encode().decode("unicode_escape")))

def value(text):
    # Blanks at either end survive only inside quotes.
    if text != text.strip(" \t") or (len(text) >= 2 and text[0] == text[-1] and text[0] in "\"'"):
        return '"' + text + '"'
    return text

# The window sections (captions by window and control) are kept as they are in the file.
lng = root / "languages/english.lng"
windows = []
if lng.exists():
    lines = lng.read_bytes().decode("utf-8").replace("\r\n", "\n").split("\n")
    start = next((i for i, l in enumerate(lines) if l.startswith("[") and l != "[msgStrings]"), None)
    if start is not None:
        windows = [l for l in lines[start:]]
        while windows and windows[-1] == "":
            windows.pop()

out = ["; Kestrel language file: English", "; Values with blanks at either end are quoted.", "[msgStrings]"]
out += [f"{k}={value(t)}" for k, t in table]
if windows:
    out += [""] + windows
(root / "languages/english.lng").write_bytes(("\r\n".join(out) + "\r\n").encode("utf-8"))
print(f"english.lng: {len(table)} messages")
