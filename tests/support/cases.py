"""Case tables kept as data, for the Python harnesses: the format tests/support/cases.h
reads (tests/data/cases/README.md). Yields (name, fields); an absent field is None."""
import os
import re

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "cases")
ESCAPES = {"t": "\t", "r": "\r", "n": "\n", "v": "\v", "\\": "\\", "0": "\0"}


def unescape(field):
    if field == "\\-":
        return None
    return re.sub(r"\\(x[0-9a-fA-F]{2}|.)",
                  lambda m: chr(int(m.group(1)[1:], 16)) if len(m.group(1)) == 3 else ESCAPES[m.group(1)],
                  field)


def load(table):
    with open(os.path.join(DATA, table + ".txt"), encoding="utf-8") as f:
        for line in f.read().splitlines():
            if line and not line.startswith("#"):
                name, *fields = line.split("\t")
                yield name, [unescape(x) for x in fields]
