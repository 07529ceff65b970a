#!/usr/bin/env python3
"""The program as people install it: desktop entry, metadata and manual page pass their
validators; the .deb passes lintian without an error or a warning, puts every file where the
desktop looks, installed into a root of its own, finds its window module there and removes
cleanly. Usage: SOURCE_DIR BUILD_DIR [...]"""
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
INSTALLED = sorted(["games/quenbrook", f"share/applications/{APP}.desktop",
                    f"share/metainfo/{APP}.metainfo.xml", *ICONS, f"share/icons/hicolor/scalable/apps/{APP}.svg",
                    "share/man/man6/quenbrook.6.gz", "share/doc/quenbrook/copyright", "share/doc/quenbrook/changelog.gz",
                    "share/lintian/overrides/quenbrook"])


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

    def test_the_docs_show_what_the_program_prints(self):
        # The console example of docs/linux.md, run on a Lutris prefix in a home of its own.
        text = pathlib.Path(f"{SOURCE}/docs/linux.md").read_text()
        shown = re.search(r"```console\n\$ (quenbrook --enable --status)\n(.*?)```", text, re.S)
        home = tempfile.mkdtemp(prefix="quenbrook-docs-")
        self.addCleanup(shutil.rmtree, home, ignore_errors=True)
        os.makedirs(f"{home}/Games/civ2/drive_c/windows")
        pathlib.Path(f"{home}/Games/civ2/drive_c/windows/civ.ini").write_bytes(b"[Civ2]\r\nPath=C:\\MPS\\CIV2\\CIV2.EXE\r\n")
        result = run(f"{BUILD}/src/quenbrook", *shown.group(1).split()[1:], env=dict(HOME=home, PATH="/usr/bin:/bin", LC_ALL="C.UTF-8"))
        self.assertEqual(result.stdout.replace(home, "/home/me"), shown.group(2))

    def test_the_deb(self):
        tmp = tempfile.mkdtemp(prefix="quenbrook-package-")
        self.addCleanup(shutil.rmtree, tmp, ignore_errors=True)
        ok(self, "cpack", "-G", "DEB", "-B", f"{tmp}/deb", cwd=BUILD)
        deb, = glob.glob(f"{tmp}/deb/*.deb")
        # Errors and warnings fail; the pedantic and informational tags are printed for the record.
        tags = run("lintian", "--display-info", "--pedantic", "--tag-display-limit", "0", deb).stdout.splitlines()
        print("\n".join(["lintian:", *tags]), file=sys.stderr)
        self.assertEqual([t for t in tags if re.match(r"[EW]: ", t)], [])
        field = lambda name: run("dpkg-deb", "--field", deb, name).stdout.strip()
        arch = run("dpkg", "--print-architecture").stdout.strip()
        self.assertEqual([os.path.basename(deb), *map(field, ("Package", "Version", "Section", "Maintainer", "Architecture", "Recommends"))],
                         [f"quenbrook_1.00_{arch}.deb", "quenbrook", "1.00", "games", "The Quenbrook Developers <quenbrook@example.org>", arch,
                          "qt6-wayland, wine, xdg-utils"])
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
        program = f"{root}/usr/games/quenbrook"
        module = os.path.relpath(*glob.glob(f"{root}/usr/lib/*/quenbrook/quenbrook-window.so"), f"{root}/usr")
        self.assertEqual(files_under(f"{root}/usr"), sorted(INSTALLED + [module]))
        self.assertRegex(run("file", program).stdout, r"ELF.*(?<!not )stripped")
        self.assertNotIn("libQt", run("ldd", program).stdout, "the command line starts without Qt")
        # The module holds the icon and loads from its place (Qt then finds no platform of that
        # name, which the window says in one line); a copy of the program alone cannot load it.
        shutil.copy(program, tmp)
        self.assertIn(pathlib.Path(f"{SOURCE}/resources/icons/quenbrook-16.png").read_bytes(), pathlib.Path(f"{root}/usr/{module}").read_bytes())
        for binary, words in ((program, 'quenbrook: cannot open the window: there is no Qt platform plugin "quenbrook-none" (installed: '),
                              (f"{tmp}/quenbrook", f"quenbrook: cannot load the window from {os.path.dirname(tmp)}/{module}: ")):
            result = run(binary, env=dict(os.environ, QT_QPA_PLATFORM="quenbrook-none"), cwd=tmp)
            self.assertEqual((result.returncode, result.stderr.count("\n")), (1, 1), result.stderr)
            self.assertTrue(result.stderr.startswith(words), result.stderr)
        self.assertEqual([pathlib.Path(f"{root}/usr/{icon}").read_bytes()[:24] for icon in ICONS],
                         [b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR" + size.to_bytes(4, "big") * 2 for size in (16, 32, 48, 256)])
        ok(self, *dpkg, "--remove", "quenbrook")
        self.assertEqual(files_under(f"{root}/usr"), [], "removal leaves nothing behind")


if __name__ == "__main__":
    SOURCE = os.path.abspath(sys.argv.pop(1))
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main()
