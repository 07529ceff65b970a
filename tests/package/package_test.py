#!/usr/bin/env python3
"""The program as people install it: the desktop entry and metadata pass the desktop's
own validators, `cmake --install` puts every file where the desktop looks, and the .deb
that `cpack -G DEB` builds installs into a root of its own and removes cleanly.

Usage: package_test.py SOURCE_DIR BUILD_DIR [unittest arguments]
"""
import glob
import gzip
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

SOURCE = ""
BUILD = ""
APP_ID = "org.example.Quenbrook"

# Every file the program installs, relative to the prefix.
INSTALLED = sorted([
    "bin/quenbrook",
    f"share/applications/{APP_ID}.desktop",
    f"share/metainfo/{APP_ID}.metainfo.xml",
    f"share/icons/hicolor/16x16/apps/{APP_ID}.png",
    f"share/icons/hicolor/32x32/apps/{APP_ID}.png",
    f"share/icons/hicolor/48x48/apps/{APP_ID}.png",
    f"share/icons/hicolor/256x256/apps/{APP_ID}.png",
    f"share/icons/hicolor/scalable/apps/{APP_ID}.svg",
    "share/man/man1/quenbrook.1.gz",
    "share/doc/quenbrook/copyright",
])


def resource(name):
    return os.path.join(SOURCE, "resources", "linux", name)


def run(*command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, timeout=120, **kwargs)


def files_under(root):
    found = []
    for folder, _, names in os.walk(root):
        found += [os.path.relpath(os.path.join(folder, n), root) for n in names]
    return sorted(found)


def desktop_entry(path):
    with open(path, encoding="utf-8") as f:
        return dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)


def png_size(path):
    with open(path, "rb") as f:
        header = f.read(24)
    assert header[:8] == b"\x89PNG\r\n\x1a\n", path
    return struct.unpack(">II", header[16:24])


def program_options(binary):
    help_text = run(binary, "--help").stdout
    return sorted(set(re.findall(r"--[a-z][a-z-]+", help_text)) - {"--help-all"})


class TempCase(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="quenbrook-package-")
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)

    def check_tree(self, prefix):
        """What a desktop needs of an installed tree, whoever installed it."""
        self.assertEqual(files_under(prefix), INSTALLED)
        binary = os.path.join(prefix, "bin", "quenbrook")
        self.assertTrue(os.access(binary, os.X_OK))
        self.assertEqual(run(binary, "--version").stdout, "quenbrook 1.00\n")
        for size in (16, 32, 48, 256):
            icon = f"share/icons/hicolor/{size}x{size}/apps/{APP_ID}.png"
            self.assertEqual(png_size(os.path.join(prefix, icon)), (size, size), icon)
        entry = desktop_entry(os.path.join(prefix, f"share/applications/{APP_ID}.desktop"))
        self.assertTrue(os.path.exists(os.path.join(prefix, "bin", entry["Exec"].split()[0])))
        with gzip.open(os.path.join(prefix, "share/man/man1/quenbrook.1.gz"), "rt") as f:
            self.assertIn(".TH QUENBROOK 1", f.read())


class DesktopEntryTest(unittest.TestCase):
    def test_validates_cleanly(self):
        result = run("desktop-file-validate", resource(f"{APP_ID}.desktop"))
        self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""))

    def test_names_the_program_and_icon_the_window_claims(self):
        entry = desktop_entry(resource(f"{APP_ID}.desktop"))
        self.assertEqual(entry["Exec"], "quenbrook")
        self.assertEqual(entry["Icon"], APP_ID)
        # The window tells the desktop which entry it belongs to; the names must agree.
        with open(os.path.join(SOURCE, "src", "main.cpp"), encoding="utf-8") as f:
            self.assertIn(f'setDesktopFileName(QStringLiteral("{APP_ID}"))', f.read())


class MetainfoTest(unittest.TestCase):
    def test_validates_strictly(self):
        result = run("appstreamcli", "validate", "--no-net", "--strict",
                     resource(f"{APP_ID}.metainfo.xml"))
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_agrees_with_the_entry_and_the_program(self):
        with open(resource(f"{APP_ID}.metainfo.xml"), encoding="utf-8") as f:
            xml = f.read()
        self.assertIn(f'<launchable type="desktop-id">{APP_ID}.desktop</launchable>', xml)
        self.assertIn(f"<id>{APP_ID}</id>", xml)
        version = run(os.path.join(BUILD, "src", "quenbrook"), "--version").stdout.split()[-1]
        self.assertIn(f'<release version="{version}"', xml)


class ManPageTest(unittest.TestCase):
    def test_formats_without_warnings(self):
        result = run("groff", "-man", "-ww", "-z", resource("quenbrook.1"))
        self.assertEqual((result.returncode, result.stderr), (0, ""))

    def test_documents_every_option(self):
        with open(resource("quenbrook.1"), encoding="utf-8") as f:
            page = f.read().replace("\\-", "-")
        options = program_options(os.path.join(BUILD, "src", "quenbrook"))
        self.assertGreaterEqual(len(options), 8, options)
        for option in options:
            entry = rf"^\.TP\n\.B[IR]? [^\n]*(?<![\w-]){re.escape(option)}(?![\w-])"
            self.assertTrue(re.search(entry, page, re.M), f"{option} has no entry")


class InstallTest(TempCase):
    def test_cmake_install_puts_everything_in_place(self):
        prefix = os.path.join(self.tmp, "usr")
        result = run("cmake", "--install", BUILD, "--prefix", prefix)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.check_tree(prefix)


class DebTest(TempCase):
    def build_deb(self):
        result = run("cpack", "-G", "DEB", "-B", self.tmp, cwd=BUILD)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        debs = glob.glob(os.path.join(self.tmp, "*.deb"))
        self.assertEqual(len(debs), 1, debs)
        return debs[0]

    def field(self, deb, name):
        return run("dpkg-deb", "--field", deb, name).stdout.strip()

    def test_package_installs_into_a_root_and_removes_cleanly(self):
        deb = self.build_deb()
        arch = self.field(deb, "Architecture")
        self.assertEqual(os.path.basename(deb), f"quenbrook_1.00_{arch}.deb")
        self.assertEqual(self.field(deb, "Package"), "quenbrook")
        self.assertEqual(self.field(deb, "Version"), "1.00")
        self.assertEqual(self.field(deb, "Section"), "games")
        self.assertEqual(self.field(deb, "Maintainer"),
                         "The Quenbrook Developers <quenbrook@example.org>")

        # Derived from the binary, so each is a real package of this system.
        depends = [d.split("(")[0].strip() for d in self.field(deb, "Depends").split(",")]
        self.assertIn("libqt6widgets6", depends)
        self.assertIn("libc6", depends)
        for package in depends:
            status = run("dpkg-query", "-W", "-f=${Status}", f"{package}:{arch}").stdout
            self.assertEqual(status, "install ok installed", package)

        root = os.path.join(self.tmp, "root")
        database = os.path.join(root, "var", "lib", "dpkg")
        os.makedirs(os.path.join(database, "info"))
        os.makedirs(os.path.join(database, "updates"))
        open(os.path.join(database, "status"), "w").close()
        dpkg = ["dpkg", f"--root={root}", "--force-depends", "--log=/dev/null"]
        if os.geteuid() != 0:
            dpkg.append("--force-not-root")
        result = run(*dpkg, "--install", deb)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(run(*dpkg, "--status", "quenbrook").stdout.splitlines()[1],
                         "Status: install ok installed")
        self.check_tree(os.path.join(root, "usr"))
        kind = run("file", os.path.join(root, "usr/bin/quenbrook")).stdout
        self.assertIn("ELF", kind)
        self.assertRegex(kind, r"(?<!not )stripped")

        result = run(*dpkg, "--remove", "quenbrook")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(files_under(root + "/usr"), [], "removal leaves nothing behind")


if __name__ == "__main__":
    SOURCE = os.path.abspath(sys.argv.pop(1))
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main()
