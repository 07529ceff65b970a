#!/usr/bin/env python3
"""The program as people install it: the desktop entry, metadata and manual page pass
the desktop's own validators, and the .deb that `cpack -G DEB` builds puts every file
where the desktop looks, installed into a root of its own, and removes cleanly.

Usage: package_test.py SOURCE_DIR BUILD_DIR [unittest arguments]
"""
import glob
import gzip
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE = BUILD = ""
APP = "org.example.Quenbrook"
INSTALLED = sorted(["bin/quenbrook", f"share/applications/{APP}.desktop", f"share/metainfo/{APP}.metainfo.xml",
                    *(f"share/icons/hicolor/{s}x{s}/apps/{APP}.png" for s in (16, 32, 48, 256)),
                    f"share/icons/hicolor/scalable/apps/{APP}.svg", "share/man/man1/quenbrook.1.gz",
                    "share/doc/quenbrook/copyright"])


def run(*command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, timeout=120, **kwargs)


def files_under(root):
    return sorted(os.path.relpath(os.path.join(d, n), root) for d, _, names in os.walk(root) for n in names)


class PackageTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="quenbrook-package-")
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)

    def test_validators_and_what_the_files_say(self):
        res = f"{SOURCE}/resources/linux/"
        for command in (["desktop-file-validate", res + f"{APP}.desktop"],
                        ["appstreamcli", "validate", "--no-net", "--strict", res + f"{APP}.metainfo.xml"],
                        ["groff", "-man", "-ww", "-z", res + "quenbrook.1"]):
            result = run(*command)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            self.assertEqual(result.stderr if command[0] != "appstreamcli" else "", "", command[0])
        entry = pathlib.Path(res + f"{APP}.desktop").read_text()
        self.assertIn("\nExec=quenbrook\n", entry)
        self.assertIn(f"\nIcon={APP}\n", entry)
        self.assertIn(f'setDesktopFileName(QStringLiteral("{APP}"))', pathlib.Path(f"{SOURCE}/src/main.cpp").read_text())
        xml = pathlib.Path(res + f"{APP}.metainfo.xml").read_text()
        for part in (f'<launchable type="desktop-id">{APP}.desktop</launchable>', f"<id>{APP}</id>",
                     '<release version="1.00"'):
            self.assertIn(part, xml)
        # Every option the program knows has its entry in the manual page.
        page = pathlib.Path(res + "quenbrook.1").read_text().replace("\\-", "-")
        options = set(re.findall(r"--[a-z][a-z-]+", run(f"{BUILD}/src/quenbrook", "--help").stdout)) - {"--help-all"}
        self.assertGreaterEqual(len(options), 8, options)
        for option in options:
            self.assertRegex(page, rf"(?m)^\.TP\n\.B[IR]? [^\n]*(?<![\w-]){re.escape(option)}(?![\w-])")

    def check_tree(self, prefix):
        self.assertEqual(files_under(prefix), INSTALLED)
        self.assertEqual(run(f"{prefix}/bin/quenbrook", "--version").stdout, "quenbrook 1.00\n")
        for size in (16, 32, 48, 256):
            with open(f"{prefix}/share/icons/hicolor/{size}x{size}/apps/{APP}.png", "rb") as f:
                header = f.read(24)
            self.assertEqual((header[:8], int.from_bytes(header[16:20], "big"), int.from_bytes(header[20:24], "big")),
                             (b"\x89PNG\r\n\x1a\n", size, size))
        with gzip.open(f"{prefix}/share/man/man1/quenbrook.1.gz", "rt") as f:
            self.assertIn(".TH QUENBROOK 1", f.read())

    def test_the_deb(self):
        result = run("cpack", "-G", "DEB", "-B", f"{self.tmp}/deb", cwd=BUILD)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        deb, = glob.glob(f"{self.tmp}/deb/*.deb")
        field = lambda name: run("dpkg-deb", "--field", deb, name).stdout.strip()
        arch = run("dpkg", "--print-architecture").stdout.strip()
        self.assertEqual([os.path.basename(deb), field("Package"), field("Version"), field("Section"),
                          field("Maintainer"), field("Architecture")],
                         [f"quenbrook_1.00_{arch}.deb", "quenbrook", "1.00", "games",
                          "The Quenbrook Developers <quenbrook@example.org>", arch])
        # Derived from the binary, so each is an installed package of this system, in the
        # native architecture (libc6:i386 beside libc6 is a second package of that name).
        depends = [d.split("(")[0].strip() for d in field("Depends").split(",")]
        self.assertTrue({"libqt6widgets6", "libc6"} <= set(depends), depends)
        for package in depends:
            statuses = run("dpkg-query", "-W", "-f=${Architecture} ${Status}\n", package).stdout.splitlines()
            self.assertTrue({f"{arch} install ok installed", "all install ok installed"} & set(statuses), package)

        root = f"{self.tmp}/root"
        for folder in ("info", "updates"):
            os.makedirs(f"{root}/var/lib/dpkg/{folder}")
        open(f"{root}/var/lib/dpkg/status", "w").close()
        dpkg = ["dpkg", f"--root={root}", "--force-depends", "--log=/dev/null"] + (["--force-not-root"] * (os.geteuid() != 0))
        result = run(*dpkg, "--install", deb)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.check_tree(f"{root}/usr")
        self.assertRegex(run("file", f"{root}/usr/bin/quenbrook").stdout, r"ELF.*(?<!not )stripped")
        result = run(*dpkg, "--remove", "quenbrook")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(files_under(f"{root}/usr"), [], "removal leaves nothing behind")


if __name__ == "__main__":
    SOURCE = os.path.abspath(sys.argv.pop(1))
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main()
