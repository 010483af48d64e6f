#!/usr/bin/env python3
"""scripts/check_includes.py passes on the real src/ and names every wrong-way include planted in a copy."""
import importlib.util
import os
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


def load_checker():
    spec = importlib.util.spec_from_file_location("check_includes", SCRIPT)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


class RealTree(unittest.TestCase):
    def test_passes(self):
        status, lines = run_check(os.path.join(ROOT, "src"))
        self.assertEqual((status, lines), (0, []))


class PlantedIncludes(unittest.TestCase):
    """A copy of src/ with offences appended to files whose line count is known."""

    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="tavrin-layers-")
        self.src = os.path.join(self.scratch, "src")
        shutil.copytree(os.path.join(ROOT, "src"), self.src)

    def tearDown(self):
        shutil.rmtree(self.scratch)

    def plant(self, rel, line):
        """Appends `line` to src/rel (created when missing) and returns the 'src/rel:N' it is at."""
        path = os.path.join(self.src, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "a+", encoding="utf-8") as text:
            text.seek(0)
            count = len(text.read().splitlines())
            text.write(line + "\n")
        return f"{self.src}/{rel}:{count + 1}"

    def offences(self):
        status, lines = run_check(self.src)
        self.assertEqual(status, 1, lines)
        return lines

    def test_wrong_way_and_qt_in_the_core(self):
        up = self.plant("base/PathText.h", '#include "main/frmMain.h"')
        qt = self.plant("base/PathText.cpp", "#include <QString>")
        qt_module = self.plant("harvest/CacheWalk.cpp", "  #  include <QtCore/QDir>")
        self.assertEqual(sorted(self.offences()), sorted([
            f"{up}: base -> main",
            f"{qt}: base -> Qt <QString>: base is Qt-free",
            f"{qt_module}: harvest -> Qt <QtCore/QDir>: harvest is Qt-free",
        ]))

    def test_deepest_folder_decides(self):
        # cache/ and its format folders are layers of their own: neither is "the same folder".
        down = self.plant("cache/CacheEntryRecord.cpp", '#include "cache/chromium/SimpleCacheFormat.h"')
        sideways = self.plant("cache/firefox/Cache2Format.cpp", '#include "cache/chromium/SimpleCacheFormat.h"')
        up = self.plant("cache/browser/Planted.h", '#include "cache/discovery/Discovery.h"')
        self.assertEqual(sorted(self.offences()), sorted([
            f"{down}: cache -> cache/chromium",
            f"{sideways}: cache/firefox -> cache/chromium",
            f"{up}: cache/browser -> cache/discovery",
        ]))

    def test_relative_and_unknown_names(self):
        relative = self.plant("textfile/TextFile.cpp", '#include "../widgets/FieldText.h"')
        unknown = self.plant("base/PathText.cpp", '#include "nowhere/Missing.h"')
        self.assertEqual(sorted(self.offences()), sorted([
            f"{unknown}: base -> ?: \"nowhere/Missing.h\" is in no folder of the table",
            f"{relative}: textfile -> widgets",
        ]))

    def test_allowed_includes_pass(self):
        self.plant("cli/main.cpp", '#include "textfile/TextFile.h"')
        self.plant("cache/wininet/Planted.cpp", '#include "cache/UrlCacheSource.h"\n#include <string>')
        self.plant("widgets/FieldText.cpp", "#include <QWidget>")
        self.assertEqual(run_check(self.src), (0, []))


class Table(unittest.TestCase):
    def setUp(self):
        self.checker = load_checker()

    def test_real_table_is_acyclic(self):
        self.assertEqual(self.checker.table_cycles(), [])

    def test_cycles_and_unknown_folders_are_named(self):
        layers = self.checker.LAYERS
        layers["base"] = ["textfile"]
        layers["memory"] = ["memory", "cache/nowhere"]
        self.assertEqual(sorted(self.checker.table_cycles()), sorted([
            "table: cycle base -> textfile -> base",
            "table: memory -> cache/nowhere: cache/nowhere is not a folder of the table",
            "table: memory -> memory: a folder lists itself",
        ]))

    def test_longer_cycle(self):
        self.checker.LAYERS["memory"] = ["main"]
        cycles = self.checker.table_cycles()
        self.assertIn("table: cycle memory -> main -> memory", cycles)
        self.assertIn("table: cycle memory -> main -> harvest -> memory", cycles)


if __name__ == "__main__":
    unittest.main()
