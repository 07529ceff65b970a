"""quenbrook --launch starting a 32-bit stand-in game under the real Wine (wine32), each row
of launch_wine32 in one Wine prefix made for the run, in a folder whose name is not ASCII;
rows with a display run on an X server of our own, where Wine would show its failures in
dialogs. Usage: launch_test.py QUENBROOK STAND_IN_EXE NEEDS_GONE_EXE"""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import cases  # noqa: E402

quenbrook, built = sys.argv[1], pathlib.Path(sys.argv[2])
wine = {}  # what Wine's own tools need besides, and the loader Quenbrook is to use
# Some kernels run no 32-bit program at all (no IA-32 emulation), nor so wine32: there the
# 64-bit stand-in runs under wine64, which shows the same roads; without it, skipped (77).
try:
    subprocess.run(["/lib/ld-linux.so.2", "--version"], check=True, capture_output=True)
    bits = ""
except (OSError, subprocess.CalledProcessError) as e:
    if not (built / "stand_in_game64.exe").exists() or not os.access("/usr/lib/wine/wine64", os.X_OK):
        sys.exit(print(f"skipped: this machine cannot run 32-bit programs ({e}), and has no wine64") or 77)
    print(f"This machine cannot run 32-bit programs ({e}): the 64-bit stand-in under wine64 instead.")
    bits, wine = "64", dict(WINE="/usr/lib/wine/wine64", WINEARCH="win64")
stand_in, needs_gone = built / f"stand_in_game{bits}.exe", built / f"needs_gone{bits}.exe"
root = pathlib.Path(tempfile.mkdtemp(prefix="quenbrook-launch-"))
prefix = root / "Civ Zwei – Größe Ä" / "prefix"
drive_c = prefix / "drive_c"
# The stand-in game, twice: in an ASCII folder and in one that is not.
games = [drive_c / "Games" / folder for folder in ("Civ Two", "Civ Zwei Ä")]
env = dict(os.environ, WINEPREFIX=str(prefix), XDG_STATE_HOME=str(root / "state"), **wine)
env.pop("WINEDEBUG", None)  # as players have it: Wine's notes go to the log, and are left out
# -noreset: by default Xvfb resets when its last client leaves, and refuses connections
# meanwhile, so a program started just then could not open its window.
xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"],
                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
display = ":" + xvfb.stdout.readline().strip()  # written once the server is ready
wrong = []
try:
    prefix.parent.mkdir()  # Wine makes only the prefix's own folder
    subprocess.run([wine.get("WINE", "wine"), "wineboot", "-i"], env=dict(env, WINEDEBUG="-all"), check=True, capture_output=True)
    subprocess.run(["wineserver", "-w"], env=env, check=True)
    game = pathlib.Path(stand_in).read_bytes()
    # The PE header's machine, at the offset 0x3c gives plus 4, made one no processor has.
    at = int.from_bytes(game[0x3C:0x40], "little") + 4
    for name, data in [("Games/Civ Two/Civ2.exe", game), ("Games/Civ Zwei Ä/Civ2.exe", game), ("Bad/Text.exe", b"x\n"),
                       ("Bad/Stub.exe", b"MZ" + bytes(range(256)) * 8),
                       ("Bad/Machine.exe", game[:at] + b"\x34\x12" + game[at + 2:]),
                       ("Bad/NeedsGone.exe", pathlib.Path(needs_gone).read_bytes())]:
        (drive_c / name).parent.mkdir(parents=True, exist_ok=True)
        (drive_c / name).write_bytes(data)
    for name, (stored, with_display, locale, outcome, expected) in cases.load("launch_wine32"):
        # In the prefix's ANSI code page, as the game keeps civ.ini.
        (drive_c / "windows" / "civ.ini").write_text(f"[Civ2]\r\nPath={stored}\r\n", encoding="cp1252")
        subprocess.run([quenbrook, "--enable"], env=env, check=True)
        for folder in games:
            (folder / "started.txt").unlink(missing_ok=True)
        records = lambda: [r for r in (folder / "started.txt" for folder in games) if r.exists() and r.stat().st_size]
        run_env = {k: v for k, v in env.items() if not k.startswith(("LC_", "LANG")) or not locale}
        run_env.update({"LC_ALL": locale} if locale else {})
        run_env.update({"DISPLAY": display} if with_display == "yes" else {})
        started = time.monotonic()
        # Output captured, as a launcher does: the call returns only once nothing else holds
        # our pipe, and the game (which runs 5 s) must not.
        done = subprocess.run([quenbrook, "--launch"], env=run_env, capture_output=True, text=True, timeout=60)
        took = time.monotonic() - started
        if outcome == "failed":
            seen = done.stderr
            right = done.returncode == 1 and all(part in seen for part in expected.split("|"))
        else:
            deadline = time.monotonic() + 20
            while not records() and time.monotonic() < deadline:
                time.sleep(0.1)
            # The stand-in writes in the ANSI code page too.
            seen = records()[0].read_text(encoding="cp1252") if records() else "(no started.txt)"
            right = (done.returncode, done.stdout, done.stderr, seen) == (0, "", "", expected) and took < 3.0
        print(f"{name}: {'as expected' if right else 'WRONG'}, status {done.returncode} after {took:.2f} s:\n{seen}")
        wrong += [] if right else [name]
finally:
    subprocess.run(["wineserver", "-k"], env=env)
    xvfb.terminate()
    xvfb.wait(timeout=30)
    shutil.rmtree(root, ignore_errors=True)
sys.exit(f"wrong: {', '.join(wrong)}" if wrong else 0)
