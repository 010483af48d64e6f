#!/usr/bin/env python3
"""scripts/check_includes.py passes on the real src/ and names every wrong-way include planted in a copy."""
import os
import runpy
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPT = os.path.join(ROOT, "scripts", "check_includes.py")


def run_check(src):
    done = subprocess.run([sys.executable, SCRIPT, src], capture_output=True, text=True)
    return done.returncode, done.stdout.splitlines()


class Includes(unittest.TestCase):
    def test_real_tree_passes(self):
        self.assertEqual(run_check(os.path.join(ROOT, "src")), (0, []))

    def test_planted_offences_are_named_and_allowed_includes_pass(self):
        with tempfile.TemporaryDirectory(prefix="tavrin-layers-") as scratch:
            src = os.path.join(scratch, "src")
            shutil.copytree(os.path.join(ROOT, "src"), src)

            def plant(rel, line):
                path = os.path.join(src, rel)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "a+", encoding="utf-8") as text:
                    text.seek(0)
                    count = len(text.read().splitlines())
                    text.write(line + "\n")
                return f"{src}/{rel}:{count + 1}"

            # Allowed: none of these may be reported.
            plant("cli/main.cpp", '#include "textfile/TextFile.h"')
            plant("cache/wininet/Planted.cpp", '#include "cache/UrlCacheSource.h"\n#include <string>')
            plant("widgets/FieldText.cpp", "#include <QWidget>")
            offences = [
                ("base/PathText.h", '#include "main/frmMain.h"', "base -> main"),
                ("base/PathText.cpp", "#include <QString>", "base -> Qt <QString>: base is Qt-free"),
                ("harvest/CacheWalk.cpp", "  #  include <QtCore/QDir>",
                 "harvest -> Qt <QtCore/QDir>: harvest is Qt-free"),
                # cache/ and its format folders are layers of their own: the deepest folder decides.
                ("cache/CacheEntryRecord.cpp", '#include "cache/chromium/simple/SimpleCacheFormat.h"',
                 "cache -> cache/chromium/simple"),
                ("cache/firefox/Cache2Format.cpp", '#include "cache/chromium/simple/SimpleCacheFormat.h"',
                 "cache/firefox -> cache/chromium/simple"),
                # The Chromium formats share their common folder, never each other's code.
                ("cache/chromium/blockfile/BlockfileReader.cpp",
                 '#include "cache/chromium/simple/SimpleEntryReader.h"',
                 "cache/chromium/blockfile -> cache/chromium/simple"),
                ("cache/chromium/common/ChromiumFolderFormat.cpp",
                 '#include "cache/chromium/blockfile/BlockfileFormat.h"',
                 "cache/chromium/common -> cache/chromium/blockfile"),
                ("textfile/TextFile.cpp", '#include "../widgets/FieldText.h"', "textfile -> widgets"),
                ("base/Planted.cpp", '#include "nowhere/Missing.h"',
                 'base -> ?: "nowhere/Missing.h" is in no folder of the table'),
            ]
            expected = [f"{plant(rel, line)}: {message}" for rel, line, message in offences]
            status, lines = run_check(src)
            self.assertEqual((status, sorted(lines)), (1, sorted(expected)))

    def test_table_cycles_and_unknown_folders_are_named(self):
        checker = runpy.run_path(SCRIPT, run_name="check_includes")
        self.assertEqual(checker["table_cycles"](), [])
        layers = checker["LAYERS"]
        layers["base"] = ["textfile"]
        layers["memory"] = ["memory", "cache/nowhere", "main"]
        cycles = checker["table_cycles"]()
        for line in ("table: cycle base -> textfile -> base",
                     "table: memory -> cache/nowhere: cache/nowhere is not a folder of the table",
                     "table: memory -> memory: a folder lists itself",
                     "table: cycle memory -> main -> harvest -> memory"):
            self.assertIn(line, cycles)


if __name__ == "__main__":
    unittest.main()
