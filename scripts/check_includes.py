#!/usr/bin/env python3
"""Checks the layering of src/: which folder may include which, and where Qt may be used.

Every file belongs to the deepest folder of LAYERS that holds it; every `#include "x/y.h"` is read
from src/. An include of another folder must be listed for the including folder, a Qt header
(`#include <Q...>`) may appear only in a folder of QT_FOLDERS, and no chain of allowed includes may
lead back to where it started. Prints one line per offence and exits 1 when there is any.

    scripts/check_includes.py [SRC_DIR]     (default: the src/ beside this script)
"""
import os
import re
import sys

# Each folder with the folders its files may include, lowest layer first.
LAYERS = {
    "memory": [],
    "base": [],
    "textfile": ["base"],
    "cache": ["base"],
    "cache/browser": ["cache", "base"],
    # The Chromium family: each format may use what the family shares, never another format.
    "cache/chromium/common": ["cache/browser", "cache", "base"],
    "cache/chromium/simple": ["cache/chromium/common", "cache/browser", "cache", "base"],
    "cache/chromium/blockfile": ["cache/chromium/common", "cache/browser", "cache", "base"],
    "cache/chromium/sql": ["cache/chromium/common", "cache/browser", "cache", "base"],
    "cache/firefox": ["cache/browser", "cache", "base"],
    "cache/wininet": ["cache", "base"],
    "cache/discovery": ["cache/chromium/simple", "cache/chromium/blockfile", "cache/chromium/sql", "cache/chromium/common",
                        "cache/firefox", "cache/wininet", "cache/browser", "cache", "base"],
    "harvest": ["cache", "base", "memory"],
    "cli": ["harvest", "cache/discovery", "cache", "base", "memory", "textfile"],
    "widgets": ["base", "textfile"],
    "dialogs": ["widgets", "base"],
    "main": ["dialogs", "widgets", "textfile", "harvest", "cache/discovery", "cache", "base", "memory"],
    "app": ["main"],
}
QT_FOLDERS = {"widgets", "dialogs", "main", "app"}

SOURCE_SUFFIXES = (".h", ".hpp", ".hh", ".inc", ".c", ".cc", ".cpp", ".cxx", ".mm")
PROJECT_INCLUDE = re.compile(r'\s*#\s*include\s*"([^"]+)"')
QT_INCLUDE = re.compile(r"\s*#\s*include\s*<(Q[A-Za-z0-9_]*)(/[^>]*)?>")


def folder_of(path):
    """The deepest folder of LAYERS that holds `path` (relative to src/), or None."""
    best = None
    for folder in LAYERS:
        if path.startswith(folder + "/") and (best is None or len(folder) > len(best)):
            best = folder
    return best


def table_cycles():
    """Offences in the table itself: unknown folders and cycles among folders."""
    offences = [f"table: {a} -> {b}: {b} is not a folder of the table"
                for a, deps in LAYERS.items() for b in deps if b not in LAYERS]
    offences += [f"table: {a} -> {a}: a folder lists itself" for a, deps in LAYERS.items() if a in deps]
    state = {}  # folder -> 1 while on the current path, 2 when done

    def visit(folder, path):
        state[folder] = 1
        for dep in LAYERS[folder]:
            if dep == folder or dep not in LAYERS:
                continue
            if state.get(dep) == 1:
                cycle = path[path.index(dep):] + [dep]
                offences.append("table: cycle " + " -> ".join(cycle))
            elif dep not in state:
                visit(dep, path + [dep])
        state[folder] = 2

    for folder in LAYERS:
        if folder not in state:
            visit(folder, [folder])
    return offences


def check_tree(src):
    shown = os.path.relpath(src)
    if shown.startswith(".."):
        shown = os.path.abspath(src)
    offences = []
    for root, dirs, files in os.walk(src):
        dirs.sort()
        for name in sorted(files):
            if not name.endswith(SOURCE_SUFFIXES):
                continue
            path = os.path.join(root, name)
            rel = os.path.relpath(path, src).replace(os.sep, "/")
            here = folder_of(rel)
            if here is None:
                offences.append(f"{shown}/{rel}:1: the folder of this file is not in the table")
                continue
            with open(path, encoding="utf-8", errors="replace") as text:
                for number, line in enumerate(text, 1):
                    qt = QT_INCLUDE.match(line)
                    if qt and here not in QT_FOLDERS:
                        offences.append(f"{shown}/{rel}:{number}: {here} -> Qt <{qt.group(1)}{qt.group(2) or ''}>: "
                                        f"{here} is Qt-free")
                    project = PROJECT_INCLUDE.match(line)
                    if not project:
                        continue
                    target = project.group(1)
                    there = folder_of(target)
                    if there is None and os.path.exists(os.path.join(root, target)):
                        # Named from the including file's folder ("Foo.h", "../x/Foo.h").
                        target = os.path.relpath(os.path.normpath(os.path.join(root, target)), src).replace(os.sep, "/")
                        there = folder_of(target)
                    if there is None:
                        offences.append(f"{shown}/{rel}:{number}: {here} -> ?: \"{project.group(1)}\" "
                                        "is in no folder of the table")
                    elif there != here and there not in LAYERS[here]:
                        offences.append(f"{shown}/{rel}:{number}: {here} -> {there}")
    return offences


def main(argv):
    src = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
    if not os.path.isdir(src):
        print(f"check_includes: no folder {src}", file=sys.stderr)
        return 2
    offences = table_cycles() + check_tree(src)
    for offence in offences:
        print(offence)
    if offences:
        print(f"check_includes: {len(offences)} include(s) break the layering of {os.path.normpath(src)}",
              file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
