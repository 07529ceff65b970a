#!/usr/bin/env python3
"""The command line as launchers and scripts run it: the real program, no display, with
tests/data/cases/cli.txt as its rows. The Linux program gets a Wine prefix of its own in a
temporary folder ({R}); quenbrook.exe runs under Wine in $WINEPREFIX (made ready by the
caller), where each row's civ.ini is put in turn. Rows for both builds must read the same.
Usage: cli_test.py BINARY [unittest arguments]   (WINE: the Wine to run an .exe with)"""
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import cases  # noqa: E402

BINARY = ""


class CommandLineTest(unittest.TestCase):
    def test_rows(self):
        windows = BINARY.endswith(".exe")
        for name, (hosts, ini, mode, args, env, files, code, out, err, after, after_mode) in cases.load("cli"):
            if hosts != "both" and hosts != ("windows" if windows else "linux"):
                continue
            with self.subTest(name), tempfile.TemporaryDirectory(prefix="quenbrook-cli-") as root:
                prefix = os.environ["WINEPREFIX"] if windows else f"{root}/prefix"
                path = f"{prefix}/drive_c/windows/civ.ini"
                named = "C:\\Windows\\civ.ini" if windows else path
                line = "" if windows else f"Wine prefix: {prefix} (set in WINEPREFIX)\n"
                at = lambda text: text.replace("{W}", line).replace("{INI}", named).replace("{R}", root)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                for made in filter(None, files.split(";")):
                    made, _, target = made.partition("->")
                    os.makedirs(os.path.dirname(f"{root}/{made}"), exist_ok=True)
                    if target:
                        os.symlink(target, f"{root}/{made}")
                    else:
                        open(f"{root}/{made}", "w").close()
                if os.path.exists(path):
                    os.chmod(path, 0o644)
                    os.remove(path)
                if ini is not None:
                    pathlib.Path(path).write_bytes(ini.encode("cp1252"))
                    os.chmod(path, int(mode, 8))
                environment = {k: v for k, v in os.environ.items()
                               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
                environment.update(WINEPREFIX=prefix)
                environment.update(at(pair).split("=", 1) for pair in env.split())
                command = [os.environ.get("WINE", "wine"), BINARY] if windows else [BINARY]
                result = subprocess.run([*command, *map(at, args.split())], env=environment, cwd=root,
                                        capture_output=True, stdin=subprocess.DEVNULL, timeout=120 if windows else 30)
                # quenbrook.exe ends its lines as Windows does.
                stdout, stderr = (result.stdout.decode(errors="replace").replace("\r\n", "\n"),
                                  result.stderr.decode(errors="replace").replace("\r\n", "\n"))
                self.assertEqual((result.returncode, stdout if out is not None else None),
                                 (int(code), at(out) if out is not None else None), stderr)
                self.assertIn(at(err), stderr)
                if ini is not None or after is not None:
                    self.assertEqual(pathlib.Path(path).read_bytes(), (ini if after is None else after).encode("cp1252"))
                    self.assertEqual(os.stat(path).st_mode & 0o777, int(after_mode or mode, 8))


if __name__ == "__main__":
    BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main()
