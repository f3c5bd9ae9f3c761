#!/usr/bin/python3
"""The floors of the source tree: a file includes only its own floor and those
below it, and nothing outside the host includes Qt.

  floor_includes_test.py SOURCE_FOLDER
"""

import os
import re
import sys
import unittest

FLOORS = ["formats", "data", "service", "inventory", "tools", "replica", "panel", "host"]
# The desktop client is a program of its own beside the server: it reads and
# writes the wire formats and calls the events, so it stands on the lower floors.
BESIDE = {"client": "service"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]', re.MULTILINE)
SOURCE = None


def includes(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return INCLUDE.findall(f.read())


def files_of(folder):
    for root, _, names in os.walk(folder):
        for name in sorted(names):
            if name.endswith((".h", ".cpp", ".cpp.in")):
                yield os.path.join(root, name)


def highest_floor(folder):
    if folder in FLOORS:
        return FLOORS.index(folder)
    return FLOORS.index(BESIDE[folder])


def upward_includes(source):
    """Every include of a floor above the including file's, as (file, included)."""
    found = []
    for folder in FLOORS + list(BESIDE):
        top = highest_floor(folder)
        for path in files_of(os.path.join(source, folder)):
            for bracket, included in includes(path):
                first = included.split("/")[0]
                if bracket == '"' and first in FLOORS and FLOORS.index(first) > top:
                    found.append((os.path.relpath(path, source), included))
                if bracket == "<" and re.match(r"Q[A-Za-z]", first) and folder != "host":
                    found.append((os.path.relpath(path, source), included))
    return found


class Floors(unittest.TestCase):
    def test_every_include_points_down(self):
        self.assertEqual(upward_includes(SOURCE), [])

    def test_the_check_sees_an_upward_include(self):
        """The check itself: a lower floor naming a higher one is found."""
        import tempfile
        with tempfile.TemporaryDirectory() as root:
            for floor in ("inventory", "tools"):
                os.makedirs(os.path.join(root, floor))
            with open(os.path.join(root, "inventory", "a.cpp"), "w") as f:
                f.write('#include "inventory/a.h"\n#include "tools/b.h"\n#include <QString>\n')
            with open(os.path.join(root, "tools", "b.cpp"), "w") as f:
                f.write('#include "inventory/a.h"\n')
            self.assertEqual(upward_includes(root), [("inventory/a.cpp", "tools/b.h"), ("inventory/a.cpp", "QString")])


if __name__ == "__main__":
    SOURCE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
