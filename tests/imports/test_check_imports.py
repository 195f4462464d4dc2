#!/usr/bin/env python3
"""The import check on images that break its rules, one rule each.

    test_check_imports.py --images DIR --crtdll-lib LIB --nm NM

DIR holds the images built from tests/imports/images/ by the shipped tree.
"""

import argparse
import io
import os
import shutil
import struct
import sys
import tempfile
import unittest
import zipfile

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import check_imports  # noqa: E402

ARGS = None


def run_check(*files, require=()):
    """Runs the check as the command line does; returns (status, output lines)."""
    argv = ["--crtdll-lib", ARGS.crtdll_lib, "--nm", ARGS.nm]
    for name in require:
        argv += ["--require", name]
    argv += list(files)
    out = io.StringIO()
    saved = sys.stdout
    sys.stdout = out
    try:
        status = check_imports.main(argv)
    finally:
        sys.stdout = saved
    return status, out.getvalue().splitlines()


def image(name):
    return os.path.join(ARGS.images, name + ".exe")


class BrokenRules(unittest.TestCase):
    def expect_failure(self, name, *parts):
        """The check fails on the image with a line holding every part."""
        status, lines = run_check(image(name))
        self.assertEqual(status, 1, lines)
        matching = [line for line in lines if all(part in line for part in parts)]
        self.assertTrue(matching, f"no line with {parts} in {lines}")
        self.assertTrue(matching[0].startswith(name + ".exe: "), matching[0])
        self.assertEqual(lines[-1].split(":")[0], "import check FAILED")
        return lines

    def test_clean_image_passes(self):
        status, lines = run_check(image("clean"))
        self.assertEqual(status, 0, lines)
        self.assertEqual(len(lines), 1)
        self.assertIn("clean.exe: i386, subsystem version 4.0", lines[0])
        self.assertIn("crtdll.dll", lines[0])

    def test_function_of_a_later_windows_names_the_first_system(self):
        lines = self.expect_failure("tick64", "KERNEL32.dll!GetTickCount64",
                                    "not exported by Windows 95; first in Windows Vista")
        self.assertEqual(len(lines), 2, lines)  # that one import and the summary

    def test_windows95_only_function_fails_for_nt(self):
        self.expect_failure("toolhelp", "KERNEL32.dll!CreateToolhelp32Snapshot",
                            "Windows 95 family only; NT 3.51 and NT 4 lack it")

    def test_advapi32_function_off_the_list(self):
        self.expect_failure("username", "ADVAPI32.dll!GetUserNameA", "advapi32-user32-both-families.txt")

    def test_msvcrt_import_names_each_function(self):
        lines = self.expect_failure("msvcrt", "msvcrt.dll!_strdup", "part of Windows only from Windows 2000")
        self.assertTrue(all("msvcrt.dll!" in line for line in lines[:-1]), lines)

    def test_crtdll_function_the_dll_lacks(self):
        self.expect_failure("crtdll_rand_s", "CRTDLL.dll!rand_s", "not exported by CRTDLL.DLL")

    def test_import_by_ordinal(self):
        self.expect_failure("ordinal", "KERNEL32.dll!#7", "imported by ordinal")

    def test_subsystem_version_above_4_0(self):
        self.expect_failure("subsystem51", "subsystem version 5.1")

    def test_image_for_another_processor(self):
        with tempfile.TemporaryDirectory() as tmp:
            copy = os.path.join(tmp, "x64.exe")
            shutil.copy(image("clean"), copy)
            with open(copy, "r+b") as f:
                data = f.read()
                pe = struct.unpack_from("<I", data, 0x3C)[0]
                f.seek(pe + 4)
                f.write(struct.pack("<H", 0x8664))
            status, lines = run_check(copy)
        self.assertEqual(status, 1, lines)
        self.assertIn("x64.exe: machine x86-64; the programs must be i386 (PE32) images", lines)

    def test_not_a_program(self):
        with tempfile.TemporaryDirectory() as tmp:
            text = os.path.join(tmp, "README.EXE")
            with open(text, "w") as f:
                f.write("not a program\n")
            status, lines = run_check(text)
        self.assertEqual(status, 1, lines)
        self.assertIn("README.EXE: not a readable Windows image (no MZ header)", lines)


class Kits(unittest.TestCase):
    def kit(self, tmp, members):
        path = os.path.join(tmp, "kit.zip")
        with zipfile.ZipFile(path, "w") as z:
            for name, source in members.items():
                z.write(source, name)
        return path

    def test_every_program_in_the_zip_is_checked_and_named(self):
        with tempfile.TemporaryDirectory() as tmp:
            notes = os.path.join(tmp, "notes.txt")
            with open(notes, "w") as f:
                f.write("text files are not programs\n")
            kit = self.kit(tmp, {"TAVUPD.EXE": image("clean"), "TOOLS/BAD.EXE": image("tick64"),
                                 "README.TXT": notes})
            status, lines = run_check(kit, require=["TAVUPD.EXE"])
        self.assertEqual(status, 1, lines)
        self.assertIn("kit.zip:TOOLS/BAD.EXE: KERNEL32.dll!GetTickCount64: "
                      "not exported by Windows 95; first in Windows Vista", lines)
        self.assertTrue(any(line.startswith("kit.zip:TAVUPD.EXE: i386") for line in lines), lines)

    def test_zip_without_a_required_program_fails(self):
        with tempfile.TemporaryDirectory() as tmp:
            kit = self.kit(tmp, {"TAVUPD.EXE": image("clean")})
            status, lines = run_check(kit, require=["TAVUPD.EXE", "RESTARTER.EXE"])
        self.assertEqual(status, 1, lines)
        self.assertIn("kit.zip: holds no RESTARTER.EXE", lines)

    def test_clean_kit_passes(self):
        with tempfile.TemporaryDirectory() as tmp:
            kit = self.kit(tmp, {"TAVUPD.EXE": image("clean"), "RESTARTER.EXE": image("clean")})
            status, lines = run_check(kit, require=["TAVUPD.EXE", "RESTARTER.EXE"])
        self.assertEqual(status, 0, lines)
        self.assertEqual(len(lines), 2, lines)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--images", required=True)
    parser.add_argument("--crtdll-lib", required=True)
    parser.add_argument("--nm", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
