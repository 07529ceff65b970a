#!/usr/bin/env python3
"""The program as people install it: desktop entry, metadata and manual page pass their
validators; the .deb puts every file where the desktop looks, installed into a root of its
own, finds its window module there and removes cleanly. Usage: SOURCE_DIR BUILD_DIR [...]"""
import glob
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
ICONS = [f"share/icons/hicolor/{s}x{s}/apps/{APP}.png" for s in (16, 32, 48, 256)]
INSTALLED = sorted(["bin/quenbrook", f"share/applications/{APP}.desktop",
                    f"share/metainfo/{APP}.metainfo.xml", *ICONS, f"share/icons/hicolor/scalable/apps/{APP}.svg",
                    "share/man/man1/quenbrook.1.gz", "share/doc/quenbrook/copyright"])


def run(*command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, timeout=120, **kwargs)


def ok(case, *command, **kwargs):
    result = run(*command, **kwargs)
    case.assertEqual(result.returncode, 0, result.stdout + result.stderr)
    return result


def files_under(root):
    return sorted(os.path.relpath(os.path.join(d, n), root) for d, _, names in os.walk(root) for n in names)


class PackageTest(unittest.TestCase):
    def test_validators_and_what_the_files_say(self):
        res = f"{SOURCE}/resources/linux/"
        for command in (["desktop-file-validate", res + f"{APP}.desktop"],
                        ["appstreamcli", "validate", "--no-net", "--strict", res + f"{APP}.metainfo.xml"],
                        ["groff", "-man", "-ww", "-z", res + "quenbrook.1"]):
            self.assertEqual(ok(self, *command).stderr if command[0] != "appstreamcli" else "", "", command[0])
        self.assertIn(f"\nExec=quenbrook\nIcon={APP}\n", pathlib.Path(res + f"{APP}.desktop").read_text())
        xml = pathlib.Path(res + f"{APP}.metainfo.xml").read_text()
        for part in (f'<launchable type="desktop-id">{APP}.desktop</launchable>', f"<id>{APP}</id>", '<release version="1.00"'):
            self.assertIn(part, xml)
        # Every option the program knows has its entry in the manual page.
        page = pathlib.Path(res + "quenbrook.1").read_text().replace("\\-", "-")
        options = set(re.findall(r"--[a-z][a-z-]+", run(f"{BUILD}/src/quenbrook", "--help").stdout)) - {"--help-all"}
        self.assertGreaterEqual(len(options), 8, options)
        for option in options:
            self.assertRegex(page, rf"(?m)^\.TP\n\.B[IR]? [^\n]*(?<![\w-]){re.escape(option)}(?![\w-])")

    def test_the_deb(self):
        tmp = tempfile.mkdtemp(prefix="quenbrook-package-")
        self.addCleanup(shutil.rmtree, tmp, ignore_errors=True)
        ok(self, "cpack", "-G", "DEB", "-B", f"{tmp}/deb", cwd=BUILD)
        deb, = glob.glob(f"{tmp}/deb/*.deb")
        field = lambda name: run("dpkg-deb", "--field", deb, name).stdout.strip()
        arch = run("dpkg", "--print-architecture").stdout.strip()
        self.assertEqual([os.path.basename(deb), *map(field, ("Package", "Version", "Section", "Maintainer", "Architecture"))],
                         [f"quenbrook_1.00_{arch}.deb", "quenbrook", "1.00", "games", "The Quenbrook Developers <quenbrook@example.org>", arch])
        # Derived from the binaries (Qt from the window module), so each is an installed
        # package of this system in the native architecture (not libc6:i386 beside libc6).
        depends = [d.split("(")[0].strip() for d in field("Depends").split(",")]
        self.assertTrue({"libqt6widgets6", "libc6"} <= set(depends), depends)
        for package in depends:
            statuses = run("dpkg-query", "-W", "-f=${Architecture} ${Status}\n", package).stdout.splitlines()
            self.assertTrue({f"{arch} install ok installed", "all install ok installed"} & set(statuses), package)

        root = f"{tmp}/root"
        for folder in ("info", "updates"):
            os.makedirs(f"{root}/var/lib/dpkg/{folder}")
        open(f"{root}/var/lib/dpkg/status", "w").close()
        dpkg = ["dpkg", f"--root={root}", "--force-depends", "--log=/dev/null"] + (["--force-not-root"] * (os.geteuid() != 0))
        ok(self, *dpkg, "--install", deb)
        program = f"{root}/usr/bin/quenbrook"
        module = os.path.relpath(*glob.glob(f"{root}/usr/lib/*/quenbrook/quenbrook-window.so"), f"{root}/usr")
        self.assertEqual(files_under(f"{root}/usr"), sorted(INSTALLED + [module]))
        self.assertRegex(run("file", program).stdout, r"ELF.*(?<!not )stripped")
        self.assertNotIn("libQt", run("ldd", program).stdout, "the command line starts without Qt")
        # The module holds the icon and loads from its place (Qt then stops at a platform that
        # does not exist); a copy of the program alone cannot load it.
        shutil.copy(program, tmp)
        self.assertIn(pathlib.Path(f"{SOURCE}/resources/icons/quenbrook-16.png").read_bytes(), pathlib.Path(f"{root}/usr/{module}").read_bytes())
        for binary, words in ((program, 'Qt platform plugin "quenbrook-none"'),
                              (f"{tmp}/quenbrook", f"quenbrook: cannot load the window from {os.path.dirname(tmp)}/{module}: ")):
            self.assertIn(words, run(binary, env=dict(os.environ, QT_QPA_PLATFORM="quenbrook-none"), cwd=tmp).stderr)
        self.assertEqual([pathlib.Path(f"{root}/usr/{icon}").read_bytes()[:24] for icon in ICONS],
                         [b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR" + size.to_bytes(4, "big") * 2 for size in (16, 32, 48, 256)])
        ok(self, *dpkg, "--remove", "quenbrook")
        self.assertEqual(files_under(f"{root}/usr"), [], "removal leaves nothing behind")


if __name__ == "__main__":
    SOURCE = os.path.abspath(sys.argv.pop(1))
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main()
