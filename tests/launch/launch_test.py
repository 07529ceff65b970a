"""--launch starts a 32-bit stand-in game under the real Wine, or says why it cannot.

Usage: launch_test.py QUENBROOK STAND_IN_GAME_EXE
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

QUENBROOK, GAME = sys.argv.pop(1), sys.argv.pop(1)
GAME_FOLDER = ("drive_c", "Games", "Civ Two")
# A Wine of the split Debian install with its 32-bit half missing.
FAKE_WINE64 = "#!/bin/sh\necho 'it looks like wine32 is missing, you should install it.' >&2\nexit 1\n"

# name, stored path, extra environment, exit status, text stderr holds, lines the game records
ROWS = [
    ("UnquotedBlankAndArgumentStartsInOwnFolder", r"C:\Games\Civ Two\Civ2.exe -stay", {}, 0, "",
     [r'"C:\Games\Civ Two\Civ2.exe" -stay', r"C:\Games\Civ Two", "1"]),
    ("CorruptExeGivesWinesWords", r"C:\Games\Civ Two\corrupt.exe", {}, 1,
     "Application could not be started", None),
    ("MissingPathWithBlanksNamedWhole", r"C:\Program Files\Civ 3\Civ2.exe", {}, 1,
     r'"C:\Program Files\Civ 3\Civ2.exe"', None),
    ("Wine64AloneNamesTheFix", r"C:\Games\Civ Two\Civ2.exe", {"WINE": "{root}/bin/wine"}, 1,
     "apt-get install wine32:i386", None),
]


class Launch(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="quenbrook-launch-")
        cls.prefix = os.path.join(cls.root, "prefix")
        cls.env = dict(os.environ, WINEPREFIX=cls.prefix, WINEDEBUG="-all",
                       WINEDLLOVERRIDES="mscoree,mshtml=")
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            cls.env.pop(name, None)
        subprocess.run(["wineboot", "--init"], env=cls.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=cls.env, check=True)
        cls.folder = os.path.join(cls.prefix, *GAME_FOLDER)
        os.makedirs(cls.folder)
        shutil.copy(GAME, os.path.join(cls.folder, "Civ2.exe"))
        # The game cut short, as a broken download or copy leaves it.
        with open(GAME, "rb") as f, open(os.path.join(cls.folder, "corrupt.exe"), "wb") as g:
            g.write(f.read(1024))
        os.makedirs(os.path.join(cls.root, "bin"))
        os.makedirs(os.path.join(cls.root, "lib", "wine"))
        for path, text in (("bin/wine", FAKE_WINE64), ("lib/wine/wine64", FAKE_WINE64)):
            with open(os.path.join(cls.root, path), "w") as f:
                f.write(text)
            os.chmod(os.path.join(cls.root, path), 0o755)

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], env=cls.env)
        shutil.rmtree(cls.root, ignore_errors=True)

    def test_launch(self):
        record = os.path.join(self.folder, "launch.txt")
        for name, path, extra, status, said, recorded in ROWS:
            with self.subTest(name):
                if os.path.exists(record):
                    os.remove(record)
                with open(os.path.join(self.prefix, "drive_c", "windows", "civ.ini"), "wb") as f:
                    f.write(b"[Civ2]\r\nPath=" + path.encode() + b"\r\n")
                env = dict(self.env, **{k: v.format(root=self.root) for k, v in extra.items()})
                started = time.monotonic()
                # Captured as $(quenbrook --launch) captures it: returns when both pipes close.
                result = subprocess.run([QUENBROOK, "--enable", "--launch"], env=env,
                                        capture_output=True, timeout=60)
                elapsed = time.monotonic() - started
                print(f"{name}: exit {result.returncode} after {elapsed:.2f} s:"
                      f" {result.stderr.decode(errors='replace').strip()}")
                self.assertEqual(result.returncode, status)
                self.assertIn(said, result.stderr.decode())
                self.assertLess(elapsed, 3)
                if recorded is None:
                    self.assertFalse(os.path.exists(record))
                    continue
                with open(record) as f:
                    self.assertEqual(f.read().splitlines(), recorded)
                # The game runs on past our return (it stays 10 s).
                self.assertIn("Civ2.exe", subprocess.run(
                    ["ps", "-eo", "args"], capture_output=True, text=True).stdout)


if __name__ == "__main__":
    unittest.main()
