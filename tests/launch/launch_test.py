"""quenbrook --launch starting a 32-bit stand-in game under the real Wine (wine32).

Usage: launch_test.py QUENBROOK STAND_IN_EXE [unittest options]
One Wine prefix is made for the whole run; each row stores a path and launches it.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

QUENBROOK, STAND_IN = sys.argv[1], sys.argv[2]
del sys.argv[1:3]


class LaunchTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="quenbrook-launch-")
        cls.prefix = os.path.join(cls.root, "prefix")
        cls.env = dict(os.environ, WINEPREFIX=cls.prefix, WINEDEBUG="-all",
                       XDG_STATE_HOME=os.path.join(cls.root, "state"))
        subprocess.run(["wineboot", "-i"], env=cls.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=cls.env, check=True)
        drive_c = os.path.join(cls.prefix, "drive_c")
        cls.game_folder = os.path.join(drive_c, "Games", "Civ Two")
        os.makedirs(cls.game_folder)
        shutil.copy(STAND_IN, os.path.join(cls.game_folder, "Civ2.exe"))
        os.makedirs(os.path.join(drive_c, "Bad"))
        with open(os.path.join(drive_c, "Bad", "Civ2.exe"), "wb") as f:
            f.write(bytes(range(256)) * 8)
        with open(os.path.join(drive_c, "Bad", "Stub.exe"), "wb") as f:
            f.write(b"MZ" + bytes(range(256)) * 8)

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], env=cls.env)
        shutil.rmtree(cls.root, ignore_errors=True)

    def launch(self, stored):
        with open(os.path.join(self.prefix, "drive_c", "windows", "civ.ini"), "w") as f:
            f.write(f"[Civ2]\r\nPath={stored}\r\n")
        subprocess.run([QUENBROOK, "--enable"], env=self.env, check=True)
        started = time.monotonic()
        # As a launcher runs it: output captured, so the call returns only once nothing
        # else holds our pipe.
        done = subprocess.run([QUENBROOK, "--launch"], env=self.env, capture_output=True,
                              text=True, timeout=60)
        return done, time.monotonic() - started

    def test_started_games(self):
        record = os.path.join(self.game_folder, "started.txt")
        rows = [
            ("unquoted path with a blank and an argument",
             r"C:\Games\Civ Two\Civ2.exe -nosound", r'"C:\Games\Civ Two\Civ2.exe" -nosound'),
            ("quoted path", r'"C:\Games\Civ Two\Civ2.exe"', r'"C:\Games\Civ Two\Civ2.exe"'),
        ]
        for name, stored, line in rows:
            with self.subTest(name):
                if os.path.exists(record):
                    os.remove(record)
                done, took = self.launch(stored)
                self.assertEqual((done.returncode, done.stdout, done.stderr), (0, "", ""))
                self.assertLess(took, 3.0)
                deadline = time.monotonic() + 20
                while not os.path.exists(record) and time.monotonic() < deadline:
                    time.sleep(0.1)
                with open(record) as f:
                    seen = f.read().splitlines()
                # Still running after we returned: it has not written "ended" yet.
                self.assertEqual(seen, [f"line: {line}", r"folder: C:\Games\Civ Two",
                                        "option: 1"])
                print(f"{name}: --launch returned after {took:.2f} s")

    def test_failures(self):
        rows = [
            ("corrupt exe", r"C:\Bad\Civ2.exe",
             [r'cannot start "C:\Bad\Civ2.exe" through Wine',
              "Application could not be started, or no application associated with the "
              "specified file."]),
            ("DOS header only", r"C:\Bad\Stub.exe",
             ["status 52", r"winevdm: C:\Bad\Stub.exe is a DOS application, you need to install DOSBox."]),
            ("missing path with blanks", r"C:\Program Files\Civ 3\Civ2.exe -x",
             [r'cannot start "C:\Program Files\Civ 3\Civ2.exe"', "the file does not exist"]),
        ]
        for name, stored, parts in rows:
            with self.subTest(name):
                done, took = self.launch(stored)
                self.assertEqual(done.returncode, 1, done.stderr)
                for part in parts:
                    self.assertIn(part, done.stderr)
                print(f"{name}: failed after {took:.2f} s: {done.stderr.strip()}")


if __name__ == "__main__":
    unittest.main()
