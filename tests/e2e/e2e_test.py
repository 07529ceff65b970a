#!/usr/bin/env python3
"""Quenbrook's window used as a person uses it: a real X server (Xvfb), the real binary,
the mouse on the buttons where the design puts them, Return on the message boxes, and a
stand-in game that Launch starts through a stand-in Wine. What counts is what lands in
civ.ini. A screenshot of the window is kept as a build artefact.

Usage: e2e_test.py BINARY ARTEFACT_DIR [unittest arguments]
Needs Xvfb, xdotool and ImageMagick's import; every wait is bounded.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

BINARY = ARTEFACTS = ""
WAIT = 10.0  # seconds; anything slower is a failure, not a slow machine
OLIVE = (192, 192, 0)
GAME_PATH = "C:\\GAME\\CIV2.EXE"
# Button centres in pixels, from the design's twips (15 to a pixel): container origin
# plus left + width / 2, top + height / 2.
BUTTONS = {"Command1": (6 + 12 + 50, 142 + 18 + 10), "Command6": (192 + 12 + 59, 142 + 18 + 10),
           "Command7": (146 + 37, 192 + 10)}
FAKE_WINE = '#!/bin/sh\nprintf "%s\\n" "$*" >> "$QUENBROOK_E2E_LOG"\nexec /bin/sh "$1"\n'
# Civ 2 drops Simultaneous from civ.ini when it quits; under Wine it cannot write a file
# without write bits (root could, so the stand-in looks at the bits itself).
STAND_IN_GAME = """ini="$WINEPREFIX/drive_c/windows/civ.ini"
printf 'started in %s\\n' "$(pwd)" >> "$QUENBROOK_E2E_LOG"
sleep 0.3
if [ $(( 0$(stat -c %a "$ini") & 0222 )) -ne 0 ]; then
  grep -v '^Simultaneous=' "$ini" > "$ini.new"; cat "$ini.new" > "$ini"; rm -f "$ini.new"
  echo 'quit: rewrote civ.ini' >> "$QUENBROOK_E2E_LOG"
else
  echo 'quit: civ.ini is read-only' >> "$QUENBROOK_E2E_LOG"
fi
"""


def wait_until(what, condition, timeout=WAIT):
    deadline = time.monotonic() + timeout
    while not (value := condition()):
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.05)
    return value


class Quenbrook:
    """One run of the program's window."""

    def __init__(self, case, *arguments, prefix_env):
        self.display = case.display
        env = {k: v for k, v in os.environ.items() if not k.startswith("QT_") and k != "WINE"}
        env.update(DISPLAY=self.display, QT_QPA_PLATFORM="xcb", WINEPREFIX=prefix_env, HOME=case.tmp,
                   LC_ALL="C.UTF-8", QUENBROOK_E2E_LOG=case.log, PATH=case.tmp + "/bin:/usr/bin:/bin")
        self.process = subprocess.Popen([BINARY, *arguments], env=env, cwd=case.tmp,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        case.addCleanup(lambda: self.process.poll() is None and (self.process.kill(), self.process.wait()))
        self.window = wait_until("the window", lambda: self.windows() and self.windows()[0])
        shape = dict(v.split("=") for v in self.xdotool("getwindowgeometry", "--shell", str(self.window)).split())
        self.x, self.y, self.size = int(shape["X"]), int(shape["Y"]), (int(shape["WIDTH"]), int(shape["HEIGHT"]))
        wait_until("the first paint", lambda: self.pixel(2, 2) == OLIVE)

    def xdotool(self, *arguments):
        result = subprocess.run(["xdotool", *arguments], capture_output=True, text=True, timeout=WAIT,
                                env=dict(os.environ, DISPLAY=self.display))
        return result.stdout.strip() if result.returncode == 0 else ""

    def windows(self):
        """This run's visible windows titled Quenbrook: ours, then its message boxes."""
        return [int(w) for w in self.xdotool("search", "--all", "--onlyvisible", "--pid",
                                             str(self.process.pid), "--name", "^Quenbrook$").split()]

    def pixel(self, x, y, keep=None):
        if keep:
            subprocess.run(["import", "-window", str(self.window), keep], check=True, timeout=WAIT,
                           env=dict(os.environ, DISPLAY=self.display))
        ppm = subprocess.run(["import", "-window", str(self.window), "-crop", f"1x1+{x}+{y}", "-depth", "8",
                              "ppm:-"], capture_output=True, timeout=WAIT,
                             env=dict(os.environ, DISPLAY=self.display)).stdout
        return tuple(ppm[-3:]) if ppm.startswith(b"P6") else None

    def click(self, name):
        x, y = BUTTONS[name]
        self.xdotool("mousemove", "--sync", str(self.x + x), str(self.y + y))
        self.xdotool("click", "1")

    def dismiss_message(self):
        box = wait_until("a message box", lambda: [w for w in self.windows() if w != self.window])[0]
        self.xdotool("windowfocus", "--sync", str(box))
        self.xdotool("key", "Return")
        wait_until("the message box to close", lambda: box not in self.windows())

    def exit_code(self):
        return self.process.wait(timeout=WAIT)


class WindowTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        read_end, write_end = os.pipe()
        cls.x_log = open(os.path.join(ARTEFACTS, "xvfb.log"), "wb")
        cls.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                                     "-nolisten", "tcp", "-noreset"], pass_fds=(write_end,), stdout=cls.x_log, stderr=cls.x_log)
        os.close(write_end)
        with os.fdopen(read_end) as numbers:  # Xvfb writes its display number when ready
            cls.display = ":" + numbers.readline().strip()

    @classmethod
    def tearDownClass(cls):
        cls.xvfb.terminate()
        cls.xvfb.wait(timeout=WAIT)
        cls.x_log.close()

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="quenbrook-e2e-")
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)
        self.prefix, self.log = self.tmp + "/prefix", self.tmp + "/game.log"
        self.ini = self.prefix + "/drive_c/windows/civ.ini"
        self.write(self.tmp + "/bin/wine", FAKE_WINE, 0o755)
        self.write(self.prefix + "/drive_c/GAME/CIV2.EXE", STAND_IN_GAME, 0o644)
        self.write(self.ini, f"[Civilization Gold]\r\nSound=1\r\n[Civ2]\r\nPath={GAME_PATH}\r\n", 0o644)

    @staticmethod
    def write(path, text, mode):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", newline="") as f:
            f.write(text)
        os.chmod(path, mode)

    def ini_text(self):
        with open(self.ini, newline="") as f:
            return f.read()

    def state(self):
        """Option set or not, writable or not, and the stored path, as one line."""
        text = self.ini_text()
        return (("option" if "\r\nSimultaneous=1\r\n" in text else "no option") +
                (" writable " if os.stat(self.ini).st_mode & 0o222 else " read-only ") +
                text.split("Path=")[1].split("\r\n")[0])

    def game_log(self):
        return open(self.log).read().splitlines() if os.path.exists(self.log) else []

    # Each row: the buttons ("!": a message box follows, answered with Return), and what
    # civ.ini and the game show afterwards.
    ROADS = [
        ("plain Do It, the game drops the option", ["Command1!", "Command7"],
         "no option writable " + GAME_PATH, "quit: rewrote civ.ini"),
        ("locking Do It, the option survives the game", ["Command6!", "Command7"],
         "option read-only " + GAME_PATH, "quit: civ.ini is read-only"),
    ]

    def test_roads(self):
        for name, buttons, state, game in self.ROADS:
            with self.subTest(name):
                self.setUp()
                app = Quenbrook(self, prefix_env=self.prefix)
                self.assertEqual(app.size, (377, 241))
                app.pixel(2, 2, keep=os.path.join(ARTEFACTS, "quenbrook.png"))
                for button in buttons:
                    app.click(button.rstrip("!"))
                    if button.endswith("!"):
                        app.dismiss_message()
                self.assertEqual(app.exit_code(), 0)
                wait_until("the game to quit", lambda: self.game_log()[-1:] == [game])
                self.assertEqual(self.game_log()[:2], [self.prefix + "/drive_c/GAME/CIV2.EXE",
                                                       "started in " + self.prefix + "/drive_c/GAME"])
                self.assertEqual(self.state(), state)


if __name__ == "__main__":
    BINARY = os.path.abspath(sys.argv.pop(1))
    ARTEFACTS = os.path.abspath(sys.argv.pop(1))
    os.makedirs(ARTEFACTS, exist_ok=True)
    unittest.main()
