"""quenbrook --launch starting a 32-bit stand-in game under the real Wine (wine32), in one
Wine prefix made for the run. Usage: launch_test.py QUENBROOK STAND_IN_EXE [unittest options]"""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import cases  # noqa: E402

QUENBROOK, STAND_IN = sys.argv[1], sys.argv[2]
del sys.argv[1:3]


class LaunchTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = pathlib.Path(tempfile.mkdtemp(prefix="quenbrook-launch-"))
        cls.drive_c = cls.root / "prefix" / "drive_c"
        cls.env = dict(os.environ, WINEPREFIX=str(cls.root / "prefix"), WINEDEBUG="-all",
                       XDG_STATE_HOME=str(cls.root / "state"))
        subprocess.run(["wineboot", "-i"], env=cls.env, check=True, capture_output=True)
        subprocess.run(["wineserver", "-w"], env=cls.env, check=True)
        # The game, a file of no known kind, and a DOS header alone.
        for name, data in [("Games/Civ Two/Civ2.exe", pathlib.Path(STAND_IN).read_bytes()),
                           ("Bad/Civ2.exe", bytes(range(256)) * 8), ("Bad/Stub.exe", b"MZ" + bytes(range(256)) * 8)]:
            (cls.drive_c / name).parent.mkdir(parents=True, exist_ok=True)
            (cls.drive_c / name).write_bytes(data)

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], env=cls.env)
        shutil.rmtree(cls.root, ignore_errors=True)

    def test_launch(self):
        record = self.drive_c / "Games" / "Civ Two" / "started.txt"
        for name, (stored, outcome, expected) in cases.load("launch_wine32"):
            with self.subTest(name):
                (self.drive_c / "windows" / "civ.ini").write_text(f"[Civ2]\r\nPath={stored}\r\n")
                subprocess.run([QUENBROOK, "--enable"], env=self.env, check=True)
                record.unlink(missing_ok=True)
                started = time.monotonic()
                # Output captured, as a launcher does: the call returns only once nothing else
                # holds our pipe, and the game (which runs 5 s) must not.
                done = subprocess.run([QUENBROOK, "--launch"], env=self.env, capture_output=True,
                                      text=True, timeout=60)
                took = time.monotonic() - started
                print(f"{name}: {outcome} after {took:.2f} s {done.stderr.strip()}")
                if outcome == "failed":
                    self.assertEqual(done.returncode, 1, done.stderr)
                    for part in expected.split("|"):
                        self.assertIn(part, done.stderr)
                    continue
                self.assertEqual((done.returncode, done.stdout, done.stderr), (0, "", ""))
                self.assertLess(took, 3.0)
                deadline = time.monotonic() + 20
                while not (record.exists() and record.stat().st_size) and time.monotonic() < deadline:
                    time.sleep(0.1)
                self.assertEqual(record.read_text(), expected)


if __name__ == "__main__":
    unittest.main()
