#!/usr/bin/env python3
"""The command line, run as launchers and scripts run it: the real binary, no display
(DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM unset: a program that made a window
application here would abort), and a Wine prefix of its own in a temporary folder.

Usage: cli_test.py BINARY [unittest arguments]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

BINARY = ""
INI = "prefix/drive_c/windows/civ.ini"
GOLD = "[Civilization Gold]\r\nSound=1\r\n"
SET = "[Civilization Gold]\r\nSound=1\r\nSimultaneous=1\r\n"
GAME = "[Civ2]\r\nPath=C:\\GAMES\\CIV2\\CIV2.EXE\r\n"  # letter case unlike the disk's
STATUS = "Wine prefix: {R}/prefix (set in WINEPREFIX)\nciv.ini: {R}/" + INI + "\n"
HOME = {"HOME": "{R}/home", "WINEPREFIX": "", "XDG_CONFIG_HOME": ""}
LUTRIS, BOTTLE = "home/Games/civ2/drive_c/windows/civ.ini", "home/.local/share/bottles/bottles/Civ/drive_c/windows/civ.ini"

# name, civ.ini before (None: none) and its mode, arguments, environment, other files;
# then the exit code, stdout (None: not looked at), a part of stderr, civ.ini after (None:
# unchanged) and its mode after (None: unchanged). "{R}" is the scratch folder.
ROWS = [
    ("enable keeps the rest", GOLD + "[Other]\r\nA=b\r\n", 0o644, ["--enable"], {}, {},
     0, "", "", SET + "[Other]\r\nA=b\r\n", 0o644),
    ("enable creates a missing file", None, 0, ["--enable"], {}, {},
     0, "", "", "[Civilization Gold]\r\nSimultaneous=1\r\n", None),
    ("lock leaves no write bit", GOLD, 0o664, ["--enable", "--lock"], {}, {}, 0, "", "", SET, 0o444),
    ("unlock gives the owner write back", SET, 0o444, ["--unlock"], {}, {}, 0, "", "", SET, 0o644),
    ("enable on a locked file that has it is done", SET, 0o444, ["--enable"], {}, {}, 0, "", "", None, None),
    ("relative prefix option beats the environment", GOLD, 0o644, ["--prefix", "prefix", "--enable"],
     {"WINEPREFIX": "{R}/other"}, {"other/drive_c/windows/x": ""}, 0, "", "", SET, None),
    ("status before", GAME, 0o644, ["--status"], {}, {}, 0,
     STATUS + "Simultaneous=1: no\nread-only: no\ngame path: C:\\GAMES\\CIV2\\CIV2.EXE\n", "", None, None),
    ("status of a locked file with another value", "[Civilization Gold]\r\nSimultaneous=0\r\n", 0o444,
     ["--status"], {}, {}, 0, STATUS + "Simultaneous=1: no\nread-only: yes\ngame path: \n", "", None, None),
    ("status in a C locale, code page 1252", "[Civ2]\r\nPath=C:\\Spiele\\Zivilisation \xc4\\CIV2.EXE\r\n",
     0o644, ["--enable", "--status"], {"LC_ALL": "C", "LANG": "C"}, {}, 0,
     STATUS + "Simultaneous=1: yes\nread-only: no\ngame path: C:\\Spiele\\Zivilisation \u00c4\\CIV2.EXE\n", "",
     "[Civ2]\r\nPath=C:\\Spiele\\Zivilisation \xc4\\CIV2.EXE\r\n[Civilization Gold]\r\nSimultaneous=1\r\n", None),
    ("status without civ.ini", None, 0, ["--status"], {}, {}, 1, "Wine prefix: {R}/prefix (set in WINEPREFIX)\n",
     "there is no civ.ini in C:\\Windows of the prefix", None, None),
    ("status without a prefix", None, 0, ["--status"], {"WINEPREFIX": "{R}/nowhere"}, {}, 1,
     "Wine prefix: {R}/nowhere (set in WINEPREFIX)\n", "there is no Wine prefix at", None, None),
    ("two launcher prefixes are named", None, 0, ["--enable"], HOME, {LUTRIS: "", BOTTLE: ""}, 1, "",
     "quenbrook: several Wine prefixes hold civ.ini:\n  {R}/home/.local/share/bottles/bottles/Civ (Bottles)\n"
     "  {R}/home/Games/civ2 (Lutris)\nChoose one with --prefix DIR, for example: quenbrook --prefix "
     "{R}/home/.local/share/bottles/bottles/Civ --status\n", None, None),
    ("unknown option", GOLD, 0o644, ["--enable", "--frobnicate"], {}, {}, 2, "", "frobnicate", None, None),
    ("lock without enable", GOLD, 0o644, ["--lock"], {}, {}, 2, "", "--lock goes with --enable", None, None),
    ("lock with unlock", GOLD, 0o644, ["--enable", "--lock", "--unlock"], {}, {}, 2, "", "contradict", None, None),
    ("stray argument", GOLD, 0o644, ["--enable", "civ.ini"], {}, {}, 2, "", "civ.ini", None, None),
    ("prefix without folder", GOLD, 0o644, ["--enable", "--prefix"], {}, {}, 2, "", "--prefix", None, None),
    ("version", None, 0, ["--version"], {}, {}, 0, "quenbrook 1.00\n", "", None, None),
    ("read-only file without the key; nothing runs after", GOLD, 0o444, ["--enable", "--lock", "--status"], {}, {},
     1, "", "quenbrook: civ.ini could not be changed: civ.ini is read-only ({R}/" + INI + ")\n", None, None),
    ("launch without a stored game", GOLD, 0o644, ["--launch"], {}, {}, 1, "", "no game path is stored", None, None),
]


class CommandLineTest(unittest.TestCase):
    def test_rows(self):
        for name, ini, mode, args, env, files, code, out, err, after, after_mode in ROWS:
            with self.subTest(name):
                root = tempfile.mkdtemp(prefix="quenbrook-cli-")
                self.addCleanup(shutil.rmtree, root, ignore_errors=True)
                at = lambda text: text.replace("{R}", root)
                os.makedirs(f"{root}/prefix/drive_c/windows")
                for path, text in files.items():
                    os.makedirs(os.path.dirname(f"{root}/{path}"), exist_ok=True)
                    with open(f"{root}/{path}", "w") as f:
                        f.write(text)
                if ini is not None:
                    with open(f"{root}/{INI}", "wb") as f:
                        f.write(ini.encode("cp1252"))
                    os.chmod(f"{root}/{INI}", mode)
                environment = {k: v for k, v in os.environ.items()
                               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
                environment.update(WINEPREFIX=f"{root}/prefix")
                environment.update({k: at(v) for k, v in env.items()})
                result = subprocess.run([BINARY, *map(at, args)], env=environment, cwd=root,
                                        capture_output=True, timeout=30)
                self.assertEqual((result.returncode, result.stdout.decode() if out is not None else None),
                                 (code, at(out) if out is not None else None), result.stderr)
                self.assertIn(at(err), result.stderr.decode())
                if ini is not None or after is not None:
                    with open(f"{root}/{INI}", "rb") as f:
                        self.assertEqual(f.read(), (ini if after is None else after).encode("cp1252"))
                    self.assertEqual(os.stat(f"{root}/{INI}").st_mode & 0o777,
                                     after_mode if after_mode is not None else mode or 0o644)


if __name__ == "__main__":
    BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main()
