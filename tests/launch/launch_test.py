"""quenbrook --launch starting a 32-bit stand-in game under the real Wine (wine32), each row
of launch_wine32 in one Wine prefix made for the run. Usage: launch_test.py QUENBROOK STAND_IN_EXE"""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import cases  # noqa: E402

quenbrook, stand_in = sys.argv[1:3]
# Some kernels run no 32-bit program at all (no IA-32 emulation): wine32 cannot work there,
# so neither can the game. Skipped (77), with the reason, rather than failed.
try:
    subprocess.run(["/lib/ld-linux.so.2", "--version"], check=True, capture_output=True)
except (OSError, subprocess.CalledProcessError) as e:
    sys.exit(print(f"skipped: this machine cannot run 32-bit programs ({e})") or 77)
root = pathlib.Path(tempfile.mkdtemp(prefix="quenbrook-launch-"))
drive_c = root / "prefix" / "drive_c"
record = drive_c / "Games" / "Civ Two" / "started.txt"
env = dict(os.environ, WINEPREFIX=str(root / "prefix"), WINEDEBUG="-all", XDG_STATE_HOME=str(root / "state"))
wrong = []
try:
    subprocess.run(["wineboot", "-i"], env=env, check=True, capture_output=True)
    subprocess.run(["wineserver", "-w"], env=env, check=True)
    # The game, a file of no known kind, and a DOS header alone.
    for name, data in [("Games/Civ Two/Civ2.exe", pathlib.Path(stand_in).read_bytes()),
                       ("Bad/Civ2.exe", bytes(range(256)) * 8), ("Bad/Stub.exe", b"MZ" + bytes(range(256)) * 8)]:
        (drive_c / name).parent.mkdir(parents=True, exist_ok=True)
        (drive_c / name).write_bytes(data)
    for name, (stored, outcome, expected) in cases.load("launch_wine32"):
        (drive_c / "windows" / "civ.ini").write_text(f"[Civ2]\r\nPath={stored}\r\n")
        subprocess.run([quenbrook, "--enable"], env=env, check=True)
        record.unlink(missing_ok=True)
        started = time.monotonic()
        # Output captured, as a launcher does: the call returns only once nothing else holds
        # our pipe, and the game (which runs 5 s) must not.
        done = subprocess.run([quenbrook, "--launch"], env=env, capture_output=True, text=True, timeout=60)
        took = time.monotonic() - started
        if outcome == "failed":
            seen = done.stderr
            right = done.returncode == 1 and all(part in seen for part in expected.split("|"))
        else:
            deadline = time.monotonic() + 20
            while not (record.exists() and record.stat().st_size) and time.monotonic() < deadline:
                time.sleep(0.1)
            seen = record.read_text() if record.exists() else "(no started.txt)"
            right = (done.returncode, done.stdout, done.stderr, seen) == (0, "", "", expected) and took < 3.0
        print(f"{name}: {'as expected' if right else 'WRONG'}, status {done.returncode} after {took:.2f} s:\n{seen}")
        wrong += [] if right else [name]
finally:
    subprocess.run(["wineserver", "-k"], env=env)
    shutil.rmtree(root, ignore_errors=True)
sys.exit(f"wrong: {', '.join(wrong)}" if wrong else 0)
