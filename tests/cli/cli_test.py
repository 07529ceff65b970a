#!/usr/bin/env python3
"""The command line as launchers and scripts run it: the real binary, no display, a Wine
prefix of its own in a temporary folder ("{R}" in tests/data/cases/cli.txt, the rows).
Usage: cli_test.py BINARY [unittest arguments]"""
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import cases  # noqa: E402

BINARY = ""
INI = "prefix/drive_c/windows/civ.ini"


class CommandLineTest(unittest.TestCase):
    def test_rows(self):
        for name, (ini, mode, args, env, files, code, out, err, after, after_mode) in cases.load("cli"):
            with self.subTest(name), tempfile.TemporaryDirectory(prefix="quenbrook-cli-") as root:
                at = lambda text: text.replace("{R}", root)
                os.makedirs(f"{root}/prefix/drive_c/windows")
                for path in files.split():
                    os.makedirs(os.path.dirname(f"{root}/{path}"), exist_ok=True)
                    open(f"{root}/{path}", "w").close()
                if ini is not None:
                    pathlib.Path(f"{root}/{INI}").write_bytes(ini.encode("cp1252"))
                    os.chmod(f"{root}/{INI}", int(mode, 8))
                environment = {k: v for k, v in os.environ.items()
                               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
                environment.update(WINEPREFIX=f"{root}/prefix")
                environment.update(at(pair).split("=", 1) for pair in env.split())
                result = subprocess.run([BINARY, *map(at, args.split())], env=environment, cwd=root,
                                        capture_output=True, timeout=30)
                self.assertEqual((result.returncode, result.stdout.decode() if out is not None else None),
                                 (int(code), at(out) if out is not None else None), result.stderr)
                self.assertIn(at(err), result.stderr.decode())
                if ini is not None or after is not None:
                    self.assertEqual(pathlib.Path(f"{root}/{INI}").read_bytes(), (ini if after is None else after).encode("cp1252"))
                    self.assertEqual(os.stat(f"{root}/{INI}").st_mode & 0o777, int(after_mode or mode, 8))


if __name__ == "__main__":
    BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main()
