#!/usr/bin/env python3
"""Write speed: `quenbrook --enable` as a whole process on civ.ini files of 10 KB to
100 MB, against `cp` of the same file and a copy that is flushed (`dd conv=fsync`); and
the same write by the engine in a bare process (`profile_bench enable`), which shows how
much of the time is the program's start-up.
Runs of the three are interleaved, each round in another order, so that the load of a
shared machine falls on all alike; the figures are medians and the ratio is the median
of each round's ratio.

Usage: write_speed.py QUENBROOK PROFILE_BENCH WORK_FOLDER [SIZE...]
Prints one line per size: "size ours_ms cp_ms dd_ms ratio_cp ratio_dd runs engine_ms
ratio_engine_cp".
"""
import os
import statistics
import subprocess
import sys
import time

quenbrook, profile_bench, work = sys.argv[1:4]
sizes = [int(s) for s in sys.argv[4:]] or [10240, 1048576, 10485760, 104857600]
prefix = os.path.join(work, "speed-prefix")
windows = os.path.join(prefix, "drive_c", "windows")
os.makedirs(windows, exist_ok=True)
ini = os.path.join(windows, "civ.ini")
copy = os.path.join(work, "speed-copy")
env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}


def timed(args):
    start = time.perf_counter()
    subprocess.run(args, env=env, check=True, stdout=subprocess.DEVNULL)
    return (time.perf_counter() - start) * 1000


for size in sizes:
    subprocess.run([profile_bench, "make", ini, str(size)], check=True)
    with open(ini, "rb") as f:
        at = f.read().index(b"Simultaneous=0") + len("Simultaneous=")
    runs = 8 if size >= 104857600 else 15 if size >= 10485760 else 30
    commands = {
        "ours": [quenbrook, "--prefix", prefix, "--enable"],
        "cp": ["cp", ini, copy],
        "dd": ["dd", f"if={ini}", f"of={copy}", "bs=1M", "conv=fsync", "status=none"],
        "engine": [profile_bench, "enable", ini],
    }
    times = {name: [] for name in commands}
    for round_ in range(runs + 1):  # the first round warms the caches, not counted
        order = list(commands) if round_ % 2 else list(reversed(commands))
        for name in order:
            # Every --enable writes: the key goes back to 0 first, one byte in place.
            with open(ini, "r+b") as f:
                f.seek(at)
                f.write(b"0")
            elapsed = timed(commands[name])
            if round_:
                times[name].append(elapsed)
    med = {name: statistics.median(t) for name, t in times.items()}
    ratio_cp = statistics.median(o / c for o, c in zip(times["ours"], times["cp"]))
    ratio_dd = statistics.median(o / d for o, d in zip(times["ours"], times["dd"]))
    ratio_engine = statistics.median(e / c for e, c in zip(times["engine"], times["cp"]))
    print(f"{size} {med['ours']:.2f} {med['cp']:.2f} {med['dd']:.2f} {ratio_cp:.2f} {ratio_dd:.2f} "
          f"{runs} {med['engine']:.2f} {ratio_engine:.2f}", flush=True)
    for leftover in (ini, copy):
        os.remove(leftover)
