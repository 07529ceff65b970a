#!/usr/bin/env python3
"""The command line, run as launchers and scripts run it: the real binary, no display
(DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM unset: a program that made a window
application here would abort), and a Wine prefix of its own in a temporary folder.

Usage: cli_test.py BINARY [unittest arguments, e.g. a test class name]
"""
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import unittest

BINARY = ""
CIV_INI = os.path.join("drive_c", "windows", "civ.ini")
WRITE_BITS = stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH


class Prefix:
    """A throw-away Wine prefix with C:\\Windows in it."""

    def __init__(self, root):
        self.path = os.path.join(root, "prefix")
        os.makedirs(os.path.join(self.path, "drive_c", "windows"))
        self.ini = os.path.join(self.path, CIV_INI)

    def write_ini(self, text, mode=0o644):
        with open(self.ini, "wb") as f:
            f.write(text.encode("utf-8"))
        os.chmod(self.ini, mode)

    def ini_bytes(self):
        with open(self.ini, "rb") as f:
            return f.read()

    def mode(self):
        return stat.S_IMODE(os.stat(self.ini).st_mode)


class CliCase(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="quenbrook-cli-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.prefix = Prefix(self.root)

    def run_cli(self, *args, env=None, cwd=None):
        environment = {k: v for k, v in os.environ.items()
                       if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "WINE")}
        environment["WINEPREFIX"] = self.prefix.path
        environment.update(env or {})
        return subprocess.run([BINARY, *args], env=environment, cwd=cwd or self.root,
                              capture_output=True, timeout=30)

    def assert_exit(self, result, code):
        self.assertEqual(result.returncode, code,
                         f"stdout: {result.stdout!r}\nstderr: {result.stderr!r}")


class OptionTest(CliCase):
    """--enable, --lock and --unlock change civ.ini as the window's buttons do."""

    def test_enable_adds_the_key_and_keeps_the_rest(self):
        self.prefix.write_ini("[Civilization Gold]\r\nSound=1\r\n[Other]\r\nA=b\r\n")
        self.assert_exit(self.run_cli("--enable"), 0)
        self.assertEqual(self.prefix.ini_bytes(),
                         b"[Civilization Gold]\r\nSound=1\r\nSimultaneous=1\r\n[Other]\r\nA=b\r\n")
        self.assertTrue(self.prefix.mode() & stat.S_IWUSR, "a plain --enable leaves the file writable")

    def test_enable_creates_a_missing_file(self):
        self.assert_exit(self.run_cli("--enable"), 0)
        self.assertIn(b"[Civilization Gold]", self.prefix.ini_bytes())
        self.assertIn(b"Simultaneous=1", self.prefix.ini_bytes())

    def test_lock_leaves_no_write_bit_and_unlock_gives_the_owner_write_back(self):
        self.prefix.write_ini("[Civilization Gold]\r\n", mode=0o664)
        self.assert_exit(self.run_cli("--enable", "--lock"), 0)
        self.assertIn(b"Simultaneous=1", self.prefix.ini_bytes())
        self.assertEqual(self.prefix.mode() & WRITE_BITS, 0)

        self.assert_exit(self.run_cli("--unlock"), 0)
        self.assertTrue(self.prefix.mode() & stat.S_IWUSR)
        self.assertIn(b"Simultaneous=1", self.prefix.ini_bytes(), "unlocking keeps the option")

    def test_enable_on_a_locked_file_that_has_the_key_is_done(self):
        # The launcher's pre-launch command runs before every start, lock or no lock.
        self.prefix.write_ini("[Civilization Gold]\r\nSimultaneous=1\r\n", mode=0o444)
        self.assert_exit(self.run_cli("--enable"), 0)
        self.assertEqual(self.prefix.mode(), 0o444)

    def test_prefix_option_wins_over_the_environment(self):
        other = Prefix(os.path.join(self.root, "other"))
        # Relative on purpose: it must be taken from where we stand.
        result = self.run_cli("--prefix", "prefix", "--enable", env={"WINEPREFIX": other.path})
        self.assert_exit(result, 0)
        self.assertIn(b"Simultaneous=1", self.prefix.ini_bytes())
        self.assertFalse(os.path.exists(other.ini))


class StatusTest(CliCase):
    """--status prints the four facts, one a line, and changes nothing."""

    def status_lines(self, **kwargs):
        result = self.run_cli("--status", **kwargs)
        self.assert_exit(result, 0)
        self.assertEqual(result.stderr, b"")
        return result.stdout.decode("utf-8").splitlines()

    def test_before_and_after_enabling_with_lock(self):
        self.prefix.write_ini("[Civ2]\r\nPath=C:\\GAME\\CIV2.EXE\r\n")
        before = self.prefix.ini_bytes()
        self.assertEqual(self.status_lines(), [
            f"Wine prefix: {self.prefix.path} (set in WINEPREFIX)",
            f"civ.ini: {self.prefix.ini}",
            "Simultaneous=1: no",
            "read-only: no",
            "game path: C:\\GAME\\CIV2.EXE",
        ])
        self.assertEqual(self.prefix.ini_bytes(), before)

        self.assert_exit(self.run_cli("--enable", "--lock"), 0)
        self.assertEqual(self.status_lines()[2:4], ["Simultaneous=1: yes", "read-only: yes"])

    def test_other_values_are_not_the_option(self):
        self.prefix.write_ini("[Civilization Gold]\r\nSimultaneous=0\r\n")
        self.assertEqual(self.status_lines()[2], "Simultaneous=1: no")

    def test_non_ascii_text_survives_a_c_locale(self):
        # civ.ini holds the path in the prefix's code page (1252 here); under LANG=C it
        # must still come out as UTF-8.
        game = "C:\\Spiele\\Zivilisation Ä\\CIV2.EXE"
        with open(self.prefix.ini, "wb") as f:
            f.write(f"[Civ2]\r\nPath={game}\r\n".encode("cp1252"))
        lines = self.status_lines(env={"LC_ALL": "C", "LANG": "C"})
        self.assertEqual(lines[4], f"game path: {game}")

    def test_missing_prefix_or_civ_ini_exits_1(self):
        for name, prefix, reason in [
            ("no prefix", os.path.join(self.root, "nowhere"), "there is no Wine prefix at"),
            ("no civ.ini", self.prefix.path, "there is no civ.ini in C:\\Windows of the prefix"),
        ]:
            with self.subTest(name):
                result = self.run_cli("--status", env={"WINEPREFIX": prefix})
                self.assert_exit(result, 1)
                self.assertIn(reason, result.stderr.decode())
                self.assertEqual(result.stdout.decode(), f"Wine prefix: {prefix} (set in WINEPREFIX)\n")

    def test_launcher_prefixes_on_a_fresh_home(self):
        # No WINEPREFIX, no ~/.wine: one prefix holding civ.ini is used, two are named.
        home = os.path.join(self.root, "home")
        lutris = os.path.join(home, "Games", "civ2")
        bottle = os.path.join(home, ".local", "share", "bottles", "bottles", "Civ")
        for prefix in (lutris, bottle):
            os.makedirs(os.path.join(prefix, "drive_c", "windows"))
        env = {"HOME": home, "WINEPREFIX": "", "XDG_CONFIG_HOME": ""}
        open(os.path.join(lutris, CIV_INI), "wb").close()
        self.assert_exit(self.run_cli("--enable", env=env), 0)
        with open(os.path.join(lutris, CIV_INI), "rb") as f:
            self.assertIn(b"Simultaneous=1", f.read())

        open(os.path.join(bottle, CIV_INI), "wb").close()
        result = self.run_cli("--enable", env=env)
        self.assert_exit(result, 1)
        self.assertEqual(result.stderr.decode(),
                         "quenbrook: several Wine prefixes hold civ.ini:\n"
                         f"  {bottle} (Bottles)\n  {lutris} (Lutris)\n"
                         f"Choose one with --prefix DIR, for example: quenbrook --prefix {bottle} --status\n")
        with open(os.path.join(bottle, CIV_INI), "rb") as f:
            self.assertEqual(f.read(), b"", "two prefixes: nothing is written")


class UsageTest(CliCase):
    """Wrong arguments exit 2 with the reason on stderr and touch nothing."""

    def assert_usage(self, *args, mentions):
        self.prefix.write_ini("[Civilization Gold]\r\n")
        result = self.run_cli(*args)
        self.assert_exit(result, 2)
        self.assertEqual(result.stdout, b"")
        self.assertIn(mentions, result.stderr.decode())
        self.assertEqual(self.prefix.ini_bytes(), b"[Civilization Gold]\r\n")

    def test_unknown_option(self):
        self.assert_usage("--enable", "--frobnicate", mentions="frobnicate")

    def test_lock_without_enable(self):
        self.assert_usage("--lock", mentions="--lock goes with --enable")

    def test_lock_with_unlock(self):
        self.assert_usage("--enable", "--lock", "--unlock", mentions="contradict")

    def test_stray_argument(self):
        self.assert_usage("--enable", "civ.ini", mentions="civ.ini")

    def test_prefix_without_folder(self):
        self.assert_usage("--enable", "--prefix", mentions="--prefix")

    def test_help_and_version(self):
        help_run = self.run_cli("--help")
        self.assert_exit(help_run, 0)
        for option in ("--status", "--enable", "--lock", "--unlock", "--launch", "--prefix"):
            self.assertIn(option, help_run.stdout.decode())
        version = self.run_cli("--version")
        self.assert_exit(version, 0)
        self.assertEqual(version.stdout, b"quenbrook 1.00\n")


class FailureTest(CliCase):
    """What cannot be done exits 1 and says why on stderr."""

    def test_read_only_file_without_the_key(self):
        self.prefix.write_ini("[Civilization Gold]\r\nSound=1\r\n", mode=0o444)
        before = self.prefix.ini_bytes()
        result = self.run_cli("--enable")
        self.assert_exit(result, 1)
        err = result.stderr.decode()
        self.assertIn("read-only", err)
        self.assertIn(self.prefix.ini, err)
        self.assertEqual(self.prefix.ini_bytes(), before)

    def test_missing_prefix(self):
        result = self.run_cli("--enable", "--prefix", os.path.join(self.root, "nowhere"))
        self.assert_exit(result, 1)
        self.assertIn("no Wine prefix", result.stderr.decode())

    def test_nothing_runs_after_a_failure(self):
        self.prefix.write_ini("[Civilization Gold]\r\n", mode=0o444)
        result = self.run_cli("--enable", "--lock", "--status")
        self.assert_exit(result, 1)
        self.assertEqual(result.stdout, b"", "--status comes after the failed --enable")

    def test_launch_without_a_stored_game(self):
        self.prefix.write_ini("[Civilization Gold]\r\n")
        result = self.run_cli("--launch")
        self.assert_exit(result, 1)
        self.assertIn("no game path is stored", result.stderr.decode())


FAKE_WINE = """#!/bin/sh
# Stands in for Wine: notes how it was started, then leaves.
{
  printf 'args:'; for a in "$@"; do printf ' [%s]' "$a"; done; printf '\\n'
  printf 'cwd: %s\\n' "$(pwd)"
  printf 'prefix: %s\\n' "$WINEPREFIX"
} > "$QUENBROOK_TEST_RECORD.tmp"
mv "$QUENBROOK_TEST_RECORD.tmp" "$QUENBROOK_TEST_RECORD"
"""


class LaunchTest(CliCase):
    """--launch starts the stored Windows game through Wine, in the game's folder."""

    def setUp(self):
        super().setUp()
        self.game_folder = os.path.join(self.prefix.path, "drive_c", "Games", "Civ2")
        os.makedirs(self.game_folder)
        # The stored path's letter case differs from the disk's, as under Wine it may.
        self.game = os.path.join(self.game_folder, "civ2.exe")
        open(self.game, "wb").close()
        self.prefix.write_ini("[Civ2]\r\nPath=C:\\GAMES\\CIV2\\CIV2.EXE\r\n")
        self.wine = os.path.join(self.root, "bin", "wine")
        os.makedirs(os.path.dirname(self.wine))
        with open(self.wine, "w") as f:
            f.write(FAKE_WINE)
        os.chmod(self.wine, 0o755)
        self.record = os.path.join(self.root, "record")

    def wait_for_record(self):
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if os.path.exists(self.record):
                with open(self.record) as f:
                    return f.read().splitlines()
            time.sleep(0.05)
        self.fail("the fake wine was never started")

    def test_through_wine_on_path(self):
        env = {"PATH": os.path.dirname(self.wine) + os.pathsep + os.environ.get("PATH", ""),
               "QUENBROOK_TEST_RECORD": self.record}
        self.assert_exit(self.run_cli("--launch", env=env), 0)
        self.assertEqual(self.wait_for_record(), [
            f"args: [{self.game}]",
            f"cwd: {self.game_folder}",
            f"prefix: {self.prefix.path}",
        ])

    def test_through_wine_named_by_the_environment(self):
        env = {"WINE": self.wine, "QUENBROOK_TEST_RECORD": self.record}
        self.assert_exit(self.run_cli("--launch", env=env), 0)
        self.assertEqual(self.wait_for_record()[2], f"prefix: {self.prefix.path}")

    def test_without_wine(self):
        env = {"PATH": os.path.join(self.root, "empty"), "QUENBROOK_TEST_RECORD": self.record}
        result = self.run_cli("--launch", env=env)
        self.assert_exit(result, 1)
        self.assertIn("Wine is not installed", result.stderr.decode())
        self.assertFalse(os.path.exists(self.record))


if __name__ == "__main__":
    BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main()
