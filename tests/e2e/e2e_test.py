#!/usr/bin/env python3
"""The real window on its own X server (Xvfb), used as a person uses it: the mouse on the
buttons where the design puts them, Return on the message boxes, a stand-in game started
through a stand-in Wine; and the menu entry's action as the desktop runs it. What counts
is civ.ini afterwards and what the game saw; screenshots are kept. Then the window on a
headless Wayland compositor (weston) with no X server at all: it opens under its app id at
the design's size and paints; without a compositor it says so in one line.
Usage: e2e_test.py BINARY ARTEFACT_DIR (needs Xvfb, xdotool, ImageMagick, weston, qt6-wayland)."""
import configparser
import glob
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import cases  # noqa: E402

PREFIX = "Civ Zwei – Größe Ä/prefix"  # a player's folder, in no particular locale
WAIT = 10.0  # seconds, for every wait; anything slower is a failure, not a slow machine
# Button centres in pixels, from the design's twips (15 to a pixel) and the frames' origins.
BUTTONS = {"Command1": (68, 170), "Command6": (263, 170), "Command7": (183, 202), "Command4": (184, 228)}
# Civ 2 drops Simultaneous when it quits, unless civ.ini has no write bits (the stand-in looks
# at the bits, as root could write anyway); at the end it notes the folder it ran in and
# whether civ.ini held the option when it started.
STAND_IN_GAME = """ini="$WINEPREFIX/drive_c/windows/civ.ini"
option=$(grep -q '^Simultaneous=1' "$ini" && echo ', option')
sleep 0.3
if [ $(( 0$(stat -c %a "$ini") & 0222 )) -ne 0 ]; then grep -v '^Simultaneous=' "$ini" > ~/new; cat ~/new > "$ini"; fi
echo "$(pwd)$option" > ~/game.log
"""
# The command of the menu entry's action, with this program for "quenbrook".
DESKTOP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../resources/linux/org.example.Quenbrook.desktop")


def wait_until(what, condition):
    deadline = time.monotonic() + WAIT
    while not (value := condition()):
        assert time.monotonic() < deadline, f"timed out waiting for {what}"
        time.sleep(0.05)
    return value


def x(*command):
    return subprocess.run(command, capture_output=True, timeout=WAIT, env=dict(os.environ, DISPLAY=display)).stdout


def action(name):
    entry = configparser.ConfigParser(interpolation=None)
    entry.read(DESKTOP)
    command = shlex.split(entry[f"Desktop Action {name}"]["Exec"])
    assert command[0] == "quenbrook", command
    return [BINARY, *command[1:]]


# Wine for the stand-in: runs, as a shell script, FILE.sh beside the file its last argument
# names in drive C (or /unix hands over); the file itself is a program's headers.
STAND_IN_WINE = r"""#!/bin/sh
for last; do :; done
case $last in [A-Za-z]:\\*) last="$WINEPREFIX/drive_c/$(printf '%s' "${last#??}" | tr '\\' /)" ;; esac
exec /bin/sh "$last.sh"
"""
# MZ, PE at 0x40, machine 0x14c, the GUI subsystem 68 bytes into the optional header.
GAME_HEADERS = "MZ" + "\0" * 58 + "\x40\0\0\0PE\0\0\x4c\x01" + "\0" * 86 + "\x02\0"


def road(tmp, mode, buttons, game_folder, locale, game):
    prefix = tmp + "/" + PREFIX
    ini, log = prefix + "/drive_c/windows/civ.ini", tmp + "/game.log"
    for path, text, bits in [(tmp + "/bin/wine", STAND_IN_WINE, 0o755),
                             (prefix + "/drive_c/" + game + "/CIV2.EXE", GAME_HEADERS, 0o644),
                             (prefix + "/drive_c/" + game + "/CIV2.EXE.sh", STAND_IN_GAME, 0o644),
                             (ini, "[Civilization Gold]\r\nSound=1\r\n[Civ2]\r\nPath=C:\\" + game + "\\CIV2.EXE\r\n", mode)]:
        os.makedirs(os.path.dirname(path), exist_ok=True)
        # civ.ini in the prefix's ANSI code page, 1252 here, as the game writes it.
        with open(path, "w", newline="", encoding="cp1252" if path == ini else "latin-1") as f:
            f.write(text)
        os.chmod(path, bits)
    env = dict(DISPLAY=display, QT_QPA_PLATFORM="xcb", WINEPREFIX=prefix, HOME=tmp, LC_ALL=locale or "C.UTF-8",
               PATH=tmp + "/bin:/usr/bin:/bin", **{k: v for k, v in os.environ.items() if k.endswith("SAN_OPTIONS")})
    if buttons[0].startswith("action:"):
        return play(tmp, env, buttons[0].removeprefix("action:"), prefix, ini, log)
    # Its stderr stays ours: a sanitizer report or a Qt warning shows in the failure output.
    app = subprocess.Popen([BINARY], env=env, cwd=tmp, stdout=subprocess.DEVNULL)
    ours = lambda: x("xdotool", "search", "--all", "--onlyvisible", "--pid", str(app.pid), "--name", "^Quenbrook$").split()
    try:
        window = wait_until("the window", ours)[0]  # then its message boxes
        shape = dict(v.split(b"=") for v in x("xdotool", "getwindowgeometry", "--shell", window).split())
        assert (shape[b"WIDTH"], shape[b"HEIGHT"]) == (b"377", b"241"), shape
        wait_until("the olive first paint", lambda: x("import", "-window", window, "-crop", "1x1+2+2", "-depth", "8",
                                                     "ppm:-").endswith(bytes([192, 192, 0])))
        x("import", "-window", window, ARTEFACTS + "/quenbrook.png")
        for button in buttons:
            if button.rstrip("!") in BUTTONS:
                left, top = BUTTONS[button.rstrip("!")]
                x("xdotool", "mousemove", "--sync", str(int(shape[b"X"]) + left), str(int(shape[b"Y"]) + top), "click", "1")
            else:  # a key, pressed in the window
                x("xdotool", "windowfocus", "--sync", window, "key", button.rstrip("!"))
            if button.endswith("!"):
                box = wait_until("a message box", lambda: [w for w in ours() if w != window])[0]
                x("xdotool", "windowfocus", "--sync", box, "key", "Return")
                wait_until("the message box to close", lambda: box not in ours())
        assert app.wait(timeout=WAIT) == 0, "exit status"
        if game_folder:
            wait_until("the game to quit", lambda: os.path.exists(log) and os.path.getsize(log))
    finally:
        app.kill()
    return outcome(prefix, ini, log)


def outcome(prefix, ini, log):
    option = "\r\nSimultaneous=1\r\n" in open(ini, newline="", encoding="cp1252").read()
    return (("writable" if os.stat(ini).st_mode & 0o222 else "read-only") + (", option" if option else ", no option"),
            open(log, encoding="utf-8").read().strip().replace(prefix, "P") if os.path.exists(log) else "")


# The menu entry's action, named after "action:"; "!" after the name: it fails, and says
# why in a message window as well as on standard error (which must name civ.ini's trouble).
def play(tmp, env, name, prefix, ini, log):
    fails = name.endswith("!")
    app = subprocess.Popen(action(name.rstrip("!")), env=env, cwd=tmp, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        if fails:
            box = wait_until("the failure's window", lambda: x("xdotool", "search", "--all", "--onlyvisible", "--pid",
                                                               str(app.pid), "--name", "^Quenbrook$").split())[0]
            x("import", "-window", box, ARTEFACTS + "/action-failed.png")
            x("xdotool", "windowfocus", "--sync", box, "key", "Return")
        _, err = app.communicate(timeout=WAIT)
        assert app.returncode == (1 if fails else 0), (app.returncode, err)
        assert (b"civ.ini could not be changed: civ.ini is read-only" in err) == fails, err
        if not fails:
            wait_until("the game to quit", lambda: os.path.exists(log) and os.path.getsize(log))
    finally:
        app.kill()
    return outcome(prefix, ini, log)


def wayland(tmp):
    runtime, socket = tmp + "/run", "quenbrook-e2e"
    os.makedirs(runtime, mode=0o700)
    env = dict(XDG_RUNTIME_DIR=runtime, HOME=tmp, LC_ALL="C.UTF-8", PATH="/usr/bin:/bin", WINEPREFIX=tmp + "/prefix",
               **{k: v for k, v in os.environ.items() if k.endswith("SAN_OPTIONS")})
    # No compositor behind the name: one line, status 1, no abort.
    alone = subprocess.run([BINARY], env=dict(env, WAYLAND_DISPLAY="nowhere"), capture_output=True, text=True, timeout=WAIT)
    said = [f"status {alone.returncode}: {alone.stderr.strip()}"]
    weston = subprocess.Popen(["weston", "--backend=headless-backend.so", "--use-pixman", "--socket=" + socket,
                               "--width=1024", "--height=768", "--idle-time=0", "--debug"],
                              env=env, cwd=tmp, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    app = None
    try:
        wait_until("the compositor", lambda: os.path.exists(f"{runtime}/{socket}.lock") and os.path.exists(f"{runtime}/{socket}"))
        log = open(tmp + "/wayland.log", "w+")
        app = subprocess.Popen([BINARY], env=dict(env, WAYLAND_DISPLAY=socket, WAYLAND_DEBUG="client"),
                               cwd=tmp, stdout=subprocess.DEVNULL, stderr=log)
        protocol = lambda: open(tmp + "/wayland.log").read()
        wait_until("the app id", lambda: "set_app_id(\"org.example.Quenbrook\")" in protocol())
        # Its fixed size, without the frame that Qt draws itself where the compositor draws none.
        size = wait_until("the window's size", lambda: re.search(r"set_min_size\((\d+, \d+)\).*set_max_size\(\1\)", protocol(), re.S))
        said.append("size " + size.group(1).replace(", ", "x"))
        # The compositor's own picture of its screen, once the window has painted there.
        olive = lambda: screenshot(tmp, env, socket).count(bytes([192, 192, 0]))
        said.append("olive" if wait_until("the olive paint", lambda: olive() > 30000) else "")
        said.append("running" if app.poll() is None else f"ended {app.returncode}")
    finally:
        for process in (app, weston):
            if process:
                process.terminate()
                process.wait(timeout=WAIT)
    return said


def screenshot(tmp, env, socket):
    for old in glob.glob(tmp + "/wayland-screenshot*.png"):
        os.remove(old)
    subprocess.run(["weston-screenshooter"], env=dict(env, WAYLAND_DISPLAY=socket), cwd=tmp, capture_output=True, timeout=WAIT)
    shots = glob.glob(tmp + "/wayland-screenshot*.png")
    if not shots:
        return b""
    shutil.copy(shots[0], ARTEFACTS + "/quenbrook-wayland.png")
    pixels = subprocess.run(["convert", shots[0], "-depth", "8", "rgb:-"], capture_output=True, timeout=WAIT).stdout
    return b"".join(pixels[i:i + 3] + b"|" for i in range(0, len(pixels), 3))


BINARY, ARTEFACTS = map(os.path.abspath, sys.argv[1:3])
os.makedirs(ARTEFACTS, exist_ok=True)
# -noreset: by default Xvfb resets when its last client leaves, and refuses connections
# meanwhile, so a program started just then could not open its window.
xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"],
                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
display = ":" + xvfb.stdout.readline().strip()  # written once the server is ready
failed = 0
for name, (mode, buttons, state, game_folder, locale, game) in cases.load("e2e_roads"):
    expected = [state, game_folder or ""]
    with tempfile.TemporaryDirectory(prefix="quenbrook-e2e-") as tmp:
        try:
            seen = list(road(tmp, int(mode, 8), buttons.split(), game_folder, locale, game or "GAME"))
        except (AssertionError, subprocess.TimeoutExpired) as e:
            seen = [f"failed: {e!r}"]
    failed += seen != expected
    print(("ok" if seen == expected else f"FAIL: {seen}, expected {expected}:") + " " + name)
xvfb.terminate()
xvfb.wait(timeout=WAIT)

expected = ['status 1: quenbrook: cannot open the window: Qt\'s platform plugin "wayland" could not start: Failed to create '
            'wl_display (No such file or directory) (WAYLAND_DISPLAY=nowhere, DISPLAY is not set)', "size 377x241", "olive", "running"]
with tempfile.TemporaryDirectory(prefix="quenbrook-e2e-") as tmp:
    try:
        seen = wayland(tmp)
    except (AssertionError, subprocess.TimeoutExpired) as e:
        seen = [f"failed: {e!r}"]
failed += seen != expected
print(("ok" if seen == expected else f"FAIL: {seen}, expected {expected}:") + " WaylandWithoutX")
sys.exit(1 if failed else 0)
