#!/usr/bin/env python3
"""Quenbrook's window used as a person uses it: a real X server (Xvfb), the real binary,
the mouse on the buttons where the design puts them, Return on the message boxes, and a
stand-in game that Launch starts through a stand-in Wine. What counts is what lands in
civ.ini. A screenshot of the window is kept as a build artefact.

Usage: e2e_test.py BINARY ARTEFACT_DIR [unittest arguments]
Needs Xvfb, xdotool and ImageMagick's import; every wait is bounded.
"""
import ctypes
import os
import select
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

BINARY = ""
ARTEFACTS = ""
WAIT = 10.0  # seconds; anything slower is a failure, not a slow machine
WRITE_BITS = stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH

# The design, in twips (15 to a pixel): the window and the controls the test touches,
# each as (left, top, width, height) within its container, and the container's origin.
WINDOW_SIZE = (5655, 3615)
FRAME1 = (90, 2130)
FRAME2 = (2880, 2130)
CONTROLS = {
    "Command1": (FRAME1, (180, 270, 1515, 315)),   # Do It: set the option
    "Command6": (FRAME2, (180, 270, 1785, 315)),   # Do It: set it and lock the file
    "Command4": ((0, 0), (2070, 3270, 1395, 315)),  # Exit
    "Command5": ((0, 0), (3360, 2880, 2115, 315)),  # Return To Normal Atributes
    "Command7": ((0, 0), (2190, 2880, 1125, 315)),  # Launch Civ 2
}
OLIVE = (192, 192, 0)

GAME_PATH = "C:\\GAME\\CIV2.EXE"
ELSEWHERE = "C:\\ELSEWHERE\\OTHER.EXE"

FAKE_WINE = """#!/bin/sh
# Stands in for Wine: notes what it was asked to run, then runs it.
printf '%s\\n' "$*" >> "$QUENBROOK_E2E_LOG"
exec /bin/sh "$1"
"""

# Civ 2 drops Simultaneous from civ.ini when it quits; under Wine it cannot write a
# file without write bits. Root could, so the stand-in looks at the bits itself.
STAND_IN_GAME = """# Stands in for CIV2.EXE.
ini="$WINEPREFIX/drive_c/windows/civ.ini"
printf 'started in %s\\n' "$(pwd)" >> "$QUENBROOK_E2E_LOG"
sleep 0.3
if [ $(( 0$(stat -c %a "$ini") & 0222 )) -ne 0 ]; then
  grep -v '^Simultaneous=' "$ini" > "$ini.new"
  cat "$ini.new" > "$ini"
  rm -f "$ini.new"
  printf 'quit: rewrote civ.ini\\n' >> "$QUENBROOK_E2E_LOG"
else
  printf 'quit: civ.ini is read-only\\n' >> "$QUENBROOK_E2E_LOG"
fi
"""


def px(twips):
    return twips // 15


def wait_until(what, condition, timeout=WAIT):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.05)


class XServer:
    """Xvfb on the first free display, found by the server itself."""

    def __init__(self, log):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=log, stderr=log)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + WAIT
        while not number.endswith(b"\n"):
            ready, _, _ = select.select([read_end], [], [], max(0, deadline - time.monotonic()))
            chunk = os.read(read_end, 16) if ready else b""
            if not chunk:
                self.stop()
                raise RuntimeError("Xvfb did not start; see xvfb.log")
            number += chunk
        os.close(read_end)
        self.display = ":" + number.decode().strip()

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("xclient", XClientMessageEvent), ("pad", ctypes.c_long * 24)]


class Xlib:
    """The one request xdotool lacks: the close box's WM_DELETE_WINDOW, sent as a window
    manager sends it, so that the program hears a close request rather than losing its
    window."""

    @classmethod
    def request_close(cls, display, window):
        x11 = ctypes.CDLL("libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XInternAtom.restype = ctypes.c_ulong
        x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                                   ctypes.c_long, ctypes.c_void_p]
        x11.XFlush.argtypes = [ctypes.c_void_p]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        connection = x11.XOpenDisplay(display.encode())
        if not connection:
            raise RuntimeError(f"cannot open display {display}")
        try:
            event = XEvent()
            message = event.xclient
            message.type = 33  # ClientMessage
            message.window = window
            message.message_type = x11.XInternAtom(connection, b"WM_PROTOCOLS", 0)
            message.format = 32
            message.data[0] = x11.XInternAtom(connection, b"WM_DELETE_WINDOW", 0)
            message.data[1] = 0  # CurrentTime
            if not x11.XSendEvent(connection, window, 0, 0, ctypes.byref(event)):
                raise RuntimeError("XSendEvent failed")
            x11.XFlush(connection)
        finally:
            x11.XCloseDisplay(connection)


class Screenshot:
    """One capture of a window, as RGB rows."""

    def __init__(self, display, window):
        result = subprocess.run(["import", "-window", str(window), "-depth", "8", "ppm:-"],
                                env=dict(os.environ, DISPLAY=display), capture_output=True,
                                timeout=WAIT)
        if result.returncode != 0:
            raise AssertionError(f"import failed: {result.stderr.decode()}")
        data = result.stdout
        fields, at = [], 0
        while len(fields) < 4:  # P6, width, height, maximum, with comments allowed
            while data[at:at + 1].isspace():
                at += 1
            if data[at:at + 1] == b"#":
                at = data.index(b"\n", at)
                continue
            end = at
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[at:end])
            at = end
        if fields[0] != b"P6" or fields[3] != b"255":
            raise AssertionError(f"unexpected capture format {fields}")
        self.width, self.height = int(fields[1]), int(fields[2])
        self.pixels = data[at + 1:at + 1 + self.width * self.height * 3]

    def pixel(self, x, y):
        at = (y * self.width + x) * 3
        return tuple(self.pixels[at:at + 3])

    def save_png(self, path):
        rows = b"".join(b"\0" + self.pixels[y * self.width * 3:(y + 1) * self.width * 3]
                        for y in range(self.height))

        def chunk(kind, body):
            return (len(body).to_bytes(4, "big") + kind + body +
                    zlib.crc32(kind + body).to_bytes(4, "big"))

        header = (self.width.to_bytes(4, "big") + self.height.to_bytes(4, "big") +
                  bytes([8, 2, 0, 0, 0]))
        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                    chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


class Quenbrook:
    """One run of the program's window."""

    def __init__(self, case, *arguments, prefix_env):
        self.case = case
        self.display = case.x.display
        env = {k: v for k, v in os.environ.items() if not k.startswith("QT_")}
        env.update(DISPLAY=self.display, QT_QPA_PLATFORM="xcb", WINEPREFIX=prefix_env,
                   HOME=case.home, LC_ALL="C.UTF-8", QUENBROOK_E2E_LOG=case.log,
                   PATH=case.bin + os.pathsep + env.get("PATH", "/usr/bin:/bin"))
        env.pop("WINE", None)
        self.output = open(os.path.join(case.tmp, "quenbrook.log"), "ab")
        self.process = subprocess.Popen([BINARY, *arguments], env=env, stdout=self.output,
                                        stderr=self.output, cwd=case.tmp)
        case.addCleanup(self.kill)
        self.window = wait_until("the Quenbrook window", lambda: self.windows() and self.windows()[0])
        geometry = self.xdotool("getwindowgeometry", "--shell", str(self.window)).split()
        values = dict(item.split("=") for item in geometry)
        self.x, self.y = int(values["X"]), int(values["Y"])
        self.size = (int(values["WIDTH"]), int(values["HEIGHT"]))
        # Clicks before the first paint may land before the buttons are ready.
        wait_until("the window to be painted",
                   lambda: Screenshot(self.display, self.window).pixel(2, 2) == OLIVE)

    def xdotool(self, *arguments):
        result = subprocess.run(["xdotool", *arguments], capture_output=True, text=True,
                                env=dict(os.environ, DISPLAY=self.display), timeout=WAIT)
        return result.stdout.strip() if result.returncode == 0 else ""

    def windows(self):
        """This run's visible top-level windows titled Quenbrook: ours and its boxes."""
        found = self.xdotool("search", "--all", "--onlyvisible", "--pid", str(self.process.pid),
                             "--name", "^Quenbrook$")
        return [int(w) for w in found.split()]

    def click(self, name):
        (origin_left, origin_top), (left, top, width, height) = CONTROLS[name]
        x = self.x + px(origin_left) + px(left) + px(width) // 2
        y = self.y + px(origin_top) + px(top) + px(height) // 2
        self.xdotool("mousemove", "--sync", str(x), str(y))
        self.xdotool("click", "1")

    def message_box(self):
        return wait_until("a message box",
                          lambda: [w for w in self.windows() if w != self.window])[0]

    def dismiss(self, box):
        self.xdotool("windowfocus", "--sync", str(box))
        self.xdotool("key", "Return")
        wait_until("the message box to close", lambda: box not in self.windows())

    def request_close(self):
        Xlib.request_close(self.display, self.window)

    def wait_for_exit(self):
        try:
            return self.process.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            raise AssertionError("Quenbrook did not exit") from None

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.output.close()


class WindowTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.x_log = open(os.path.join(ARTEFACTS, "xvfb.log"), "wb")
        cls.x = XServer(cls.x_log)

    @classmethod
    def tearDownClass(cls):
        cls.x.stop()
        cls.x_log.close()

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="quenbrook-e2e-")
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)
        self.home = os.path.join(self.tmp, "home")
        self.prefix = os.path.join(self.tmp, "prefix")
        self.ini = os.path.join(self.prefix, "drive_c", "windows", "civ.ini")
        self.log = os.path.join(self.tmp, "game.log")
        self.bin = os.path.join(self.tmp, "bin")
        self.game_folder = os.path.join(self.prefix, "drive_c", "GAME")
        for folder in (self.home, os.path.dirname(self.ini), self.bin, self.game_folder):
            os.makedirs(folder)
        self.write_file(os.path.join(self.bin, "wine"), FAKE_WINE, 0o755)
        self.write_file(os.path.join(self.game_folder, "CIV2.EXE"), STAND_IN_GAME, 0o644)
        self.write_file(self.ini, f"[Civilization Gold]\r\nSound=1\r\n[Civ2]\r\nPath={GAME_PATH}\r\n",
                        0o644)

    @staticmethod
    def write_file(path, text, mode):
        with open(path, "w", newline="") as f:
            f.write(text)
        os.chmod(path, mode)

    def start(self, *arguments):
        return Quenbrook(self, *arguments, prefix_env=self.prefix)

    def ini_text(self):
        with open(self.ini, newline="") as f:
            return f.read()

    def has_option(self):
        return "\r\nSimultaneous=1\r\n" in self.ini_text()

    def writable(self):
        return bool(os.stat(self.ini).st_mode & WRITE_BITS)

    def stored_path(self):
        for line in self.ini_text().split("\r\n"):
            if line.startswith("Path="):
                return line[len("Path="):]
        return None

    def store_path(self, path):
        self.write_file(self.ini, self.ini_text().replace(f"Path={self.stored_path()}",
                                                          f"Path={path}"), 0o644)

    def game_log(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            return f.read().splitlines()

    def launch_and_let_the_game_quit(self, app):
        app.click("Command7")
        self.assertEqual(app.wait_for_exit(), 0)
        wait_until("the game to quit", lambda: any(l.startswith("quit") for l in self.game_log()))
        log = self.game_log()
        self.assertEqual(log[0], os.path.join(self.game_folder, "CIV2.EXE"), "what Wine ran")
        self.assertEqual(log[1], f"started in {self.game_folder}")
        return log[2]

    def test_window_as_designed(self):
        app = self.start()
        self.assertEqual(app.size, (px(WINDOW_SIZE[0]), px(WINDOW_SIZE[1])))
        shot = Screenshot(app.display, app.window)
        shot.save_png(os.path.join(ARTEFACTS, "quenbrook.png"))
        self.assertEqual(shot.pixel(2, 2), OLIVE, "the window's background")
        self.assertEqual(shot.pixel(shot.width - 3, shot.height - 3), OLIVE)
        # Exit's face: grey inside its designed rectangle, olive just left of it.
        _, (left, top, width, height) = CONTROLS["Command4"]
        middle = px(top) + px(height) // 2
        for x in (px(left) + 6, px(left) + px(width) - 7):
            r, g, b = shot.pixel(x, middle)
            self.assertTrue(max(r, g, b) - min(r, g, b) < 16 and r > 150,
                            f"Exit's face at ({x}, {middle}) is {(r, g, b)}")
        self.assertEqual(shot.pixel(px(left) - 3, middle), OLIVE, "left of Exit")
        app.request_close()
        self.assertEqual(app.wait_for_exit(), 0)

    def test_plain_do_it_then_launch_the_game_drops_the_option(self):
        app = self.start()
        app.click("Command1")
        box = app.message_box()
        self.assertTrue(self.has_option())
        app.dismiss(box)
        self.assertTrue(self.writable(), "the plain Do It leaves the file alone")
        self.assertEqual(self.launch_and_let_the_game_quit(app), "quit: rewrote civ.ini")
        self.assertFalse(self.has_option())
        self.assertEqual(self.stored_path(), GAME_PATH)

    def test_read_only_do_it_locks_after_the_message_and_the_option_survives_the_game(self):
        app = self.start()
        app.click("Command6")
        box = app.message_box()
        self.assertTrue(self.has_option())
        time.sleep(0.3)  # a lock that came early would have come by now
        self.assertTrue(self.writable(), "locked before the message was read")
        app.dismiss(box)
        wait_until("civ.ini to turn read-only", lambda: not self.writable())
        self.assertEqual(self.launch_and_let_the_game_quit(app), "quit: civ.ini is read-only")
        self.assertTrue(self.has_option())
        self.assertFalse(self.writable())

    def test_return_to_normal_then_exit_saves_the_path_read_at_start_up(self):
        os.chmod(self.ini, 0o444)
        decoy = os.path.join(self.tmp, "decoy")
        os.makedirs(os.path.join(decoy, "drive_c", "windows"))
        # --prefix chooses the prefix; the environment's is a decoy.
        app = Quenbrook(self, "--prefix", self.prefix, prefix_env=decoy)
        app.click("Command5")
        wait_until("civ.ini to be writable again", self.writable)
        self.store_path(ELSEWHERE)
        app.click("Command4")
        self.assertEqual(app.wait_for_exit(), 0)
        self.assertEqual(self.stored_path(), GAME_PATH, "Exit saves what the path box showed")
        self.assertEqual(os.listdir(os.path.join(decoy, "drive_c", "windows")), [])

    def test_close_box_saves_nothing(self):
        app = self.start()
        self.store_path(ELSEWHERE)
        app.request_close()
        self.assertEqual(app.wait_for_exit(), 0)
        self.assertEqual(self.stored_path(), ELSEWHERE)
        self.assertEqual(self.game_log(), [], "nothing was launched")


if __name__ == "__main__":
    BINARY = os.path.abspath(sys.argv.pop(1))
    ARTEFACTS = os.path.abspath(sys.argv.pop(1))
    os.makedirs(ARTEFACTS, exist_ok=True)
    unittest.main()
