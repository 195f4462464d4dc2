#!/usr/bin/env python3
"""Checks that Windows programs start on every system they are for.

Windows refuses to start a program whose import table names a DLL or a
function that the system lacks, before the program's first instruction runs.
This check reads the import tables of 32-bit Windows programs (or of every
.EXE and .DLL inside a ZIP, such as the release kit) and fails unless

  - the image is for the i386 processor (PE32) with a subsystem version of at
    most 4.0 (what Windows 95 and NT 3.51 load),
  - every imported DLL is KERNEL32, ADVAPI32, USER32 or CRTDLL,
  - every KERNEL32 function is exported by Windows 95 (kernel32-win95.txt)
    and by NT 3.51 (not in kernel32-win95-only.txt),
  - every ADVAPI32 and USER32 function is on advapi32-user32-both-families.txt,
  - every CRTDLL function is one the toolchain's libcrtdll.a imports,
  - nothing is imported by ordinal.

Each failure is one line: the program, the DLL, the function and, where
known, the first system that exports it.

    check_imports.py [--reference DIR] [--crtdll-lib LIB] [--nm NM]
                     [--require NAME]... FILE...

--require NAME (for ZIP files) fails the check unless the archive holds a
program of that name. Exit status: 0 all good, 1 a rule is broken, 2 a file
could not be read.
"""

import argparse
import functools
import os
import struct
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_REFERENCE = os.path.join(HERE, "reference")
DEFAULT_CRTDLL_LIB = "/usr/i686-w64-mingw32/lib/libcrtdll.a"
DEFAULT_NM = "i686-w64-mingw32-nm"

ALLOWED_DLLS = ("KERNEL32.DLL", "ADVAPI32.DLL", "USER32.DLL", "CRTDLL.DLL")
# Where a DLL outside the allowed four comes from, for the failure line.
KNOWN_DLLS = {
    "MSVCRT.DLL": "the DLL is part of Windows only from Windows 2000 on",
}
MACHINES = {0x14C: "i386", 0x8664: "x86-64", 0x1C0: "ARM", 0xAA64: "ARM64", 0x200: "IA-64"}
MAX_SUBSYSTEM_VERSION = (4, 0)
IMAGE_DIRECTORY_IMPORT = 1


class BadImage(Exception):
    """The file is not a PE image this check can read."""


class Rules:
    """The reference lists: what each DLL of the oldest systems exports."""

    def __init__(self, reference_dir, crtdll_lib, nm):
        def names(file_name):
            path = os.path.join(reference_dir, file_name)
            with open(path, encoding="ascii") as f:
                return [line.rstrip("\r\n") for line in f if line.strip() and not line.startswith("#")]

        self.kernel32 = set(names("kernel32-win95.txt"))
        self.win95_only = set(names("kernel32-win95-only.txt"))
        self.newer = {}
        for line in names("kernel32-newer.txt"):
            name, _, systems = line.partition("\t")
            self.newer[name.strip()] = systems.strip()
        self.both_families = {}
        for line in names("advapi32-user32-both-families.txt"):
            dll, _, function = line.partition("!")
            self.both_families.setdefault(dll.strip().upper() + ".DLL", set()).add(function.strip())
        self.crtdll = crtdll_exports(crtdll_lib, nm)

    def problem(self, dll, function):
        """Why `function` of `dll` must not be imported, or None."""
        if dll == "KERNEL32.DLL":
            if function in self.newer:
                return "not exported by Windows 95; first in " + self.newer[function]
            if function not in self.kernel32:
                return "not exported by Windows 95 (not in kernel32-win95.txt)"
            if function in self.win95_only:
                return "exported by the Windows 95 family only; NT 3.51 and NT 4 lack it"
            return None
        if dll in ("ADVAPI32.DLL", "USER32.DLL"):
            if function not in self.both_families.get(dll, set()):
                return "not on the list of functions both Windows 95 and NT 3.51 export " \
                       "(advapi32-user32-both-families.txt)"
            return None
        if dll == "CRTDLL.DLL":
            if function not in self.crtdll:
                return "not exported by CRTDLL.DLL (the toolchain's libcrtdll.a has no such import)"
            return None
        return KNOWN_DLLS.get(dll, "the DLL is not one every Windows 95 and NT 3.51 has") + \
            " (allowed: " + ", ".join(d[:-4] for d in ALLOWED_DLLS) + ")"


@functools.lru_cache(maxsize=None)
def crtdll_exports(lib, nm):
    """Names CRTDLL.DLL exports: the import symbols (__imp__NAME) of libcrtdll.a."""
    try:
        out = subprocess.run([nm, lib], check=True, capture_output=True, text=True).stdout
    except (OSError, subprocess.CalledProcessError) as e:
        print(f"check_imports: cannot list {lib} with {nm}: {e}", file=sys.stderr)
        raise SystemExit(2)
    names = set()
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[1] == "I" and parts[2].startswith("__imp__"):
            names.add(parts[2][len("__imp__"):])
    if not names:
        print(f"check_imports: {lib} names no CRTDLL import", file=sys.stderr)
        raise SystemExit(2)
    return frozenset(names)


class Image:
    """What the check needs of a PE image: header values and imports."""

    def __init__(self, data):
        self.data = data
        if len(data) < 0x40 or data[:2] != b"MZ":
            raise BadImage("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise BadImage("no PE signature")
        machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        self.machine = machine
        optional = pe + 24
        # PE32+ (64-bit) images keep the version fields at the same places.
        self.pe32 = self.u16(optional) == 0x10B
        self.subsystem_version = (self.u16(optional + 48), self.u16(optional + 50))
        if self.pe32:
            self.image_base = self.u32(optional + 28)
            directories = optional + 96
            count = self.u32(optional + 92)
        else:
            self.image_base = struct.unpack_from("<Q", data, optional + 24)[0]
            directories = optional + 112
            count = self.u32(optional + 108)
        self.section_alignment = self.u32(optional + 32)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(min(count, 16))]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            at = table + 40 * i
            virtual_size, rva, raw_size, raw_at = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((rva, max(virtual_size, raw_size), raw_at, raw_size))

    def u16(self, at):
        if at + 2 > len(self.data):
            raise BadImage("cut short")
        return struct.unpack_from("<H", self.data, at)[0]

    def u32(self, at):
        if at + 4 > len(self.data):
            raise BadImage("cut short")
        return struct.unpack_from("<I", self.data, at)[0]

    def offset(self, rva):
        for start, size, raw_at, raw_size in self.sections:
            if start <= rva < start + size:
                if rva - start >= raw_size:
                    raise BadImage(f"address {rva:#x} has no bytes in the file")
                return raw_at + rva - start
        raise BadImage(f"address {rva:#x} lies in no section")

    def string(self, rva):
        at = self.offset(rva)
        end = self.data.find(b"\0", at)
        if end < 0:
            raise BadImage("unterminated name")
        return self.data[at:end].decode("latin-1")

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def imports(self):
        """[(dll, [name or ordinal number, ...]), ...] in table order."""
        rva, size = self.directory(IMAGE_DIRECTORY_IMPORT)
        result = []
        if rva == 0 or size == 0:
            return result
        entry = self.offset(rva)
        thunk_size, ordinal_flag = (4, 1 << 31) if self.pe32 else (8, 1 << 63)
        while True:
            lookup, _, _, name_rva, address = struct.unpack_from("<IIIII", self.data, entry)
            if name_rva == 0 and lookup == 0 and address == 0:
                break
            dll = self.string(name_rva)
            functions = []
            at = self.offset(lookup or address)
            while True:
                value = struct.unpack_from("<I" if self.pe32 else "<Q", self.data, at)[0]
                if value == 0:
                    break
                if value & ordinal_flag:
                    functions.append(value & 0xFFFF)
                else:
                    functions.append(self.string((value & 0x7FFFFFFF) + 2))
                at += thunk_size
            result.append((dll, functions))
            entry += 20
        return result


def check_image(label, data, rules, out):
    """Prints the failures of one image; returns their number."""
    failures = []
    try:
        image = Image(data)
        if image.machine != 0x14C or not image.pe32:
            failures.append(f"{label}: machine {MACHINES.get(image.machine, hex(image.machine))}"
                            f"{'' if image.pe32 else ' (PE32+)'}; the programs must be i386 (PE32) images")
        if image.subsystem_version > MAX_SUBSYSTEM_VERSION:
            failures.append(f"{label}: subsystem version {image.subsystem_version[0]}.{image.subsystem_version[1]}; "
                            f"Windows 95 and NT 3.51 load only images of version 4.0 or lower")
        imports = image.imports()
    except (BadImage, struct.error) as e:
        print(f"{label}: not a readable Windows image ({e})", file=out)
        return 1
    count = 0
    for dll, functions in imports:
        key = dll.upper()
        if not key.endswith(".DLL"):
            key += ".DLL"
        for function in functions:
            count += 1
            if isinstance(function, int):
                failures.append(f"{label}: {dll}!#{function}: imported by ordinal; ordinals differ between "
                                f"systems, the programs import by name only")
                continue
            why = rules.problem(key, function)
            if why:
                failures.append(f"{label}: {dll}!{function}: {why}")
    for line in failures:
        print(line, file=out)
    if not failures:
        print(f"{label}: i386, subsystem version {image.subsystem_version[0]}.{image.subsystem_version[1]}, "
              f"image base {image.image_base:#x}, section alignment {image.section_alignment:#x}, "
              f"{count} functions from {', '.join(d for d, _ in imports)}: starts on Windows 95 and NT 3.51",
              file=out)
    return len(failures)


def is_program(name):
    return name.upper().endswith((".EXE", ".DLL"))


def check_file(path, rules, required, out):
    """Checks a program or every program in a ZIP; returns the number of failures."""
    if zipfile.is_zipfile(path):
        failures = 0
        with zipfile.ZipFile(path) as kit:
            members = [m for m in kit.namelist() if is_program(m)]
            for member in members:
                failures += check_image(f"{os.path.basename(path)}:{member}", kit.read(member), rules, out)
            present = {os.path.basename(m).upper() for m in members}
            for name in required:
                if name.upper() not in present:
                    print(f"{os.path.basename(path)}: holds no {name}", file=out)
                    failures += 1
            if not members:
                print(f"{os.path.basename(path)}: holds no program", file=out)
                failures += 1
        return failures
    with open(path, "rb") as f:
        data = f.read()
    return check_image(os.path.basename(path), data, rules, out)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("files", nargs="+", metavar="FILE")
    parser.add_argument("--reference", default=DEFAULT_REFERENCE, help="directory of the reference lists")
    parser.add_argument("--crtdll-lib", default=DEFAULT_CRTDLL_LIB, help="the toolchain's libcrtdll.a")
    parser.add_argument("--nm", default=DEFAULT_NM, help="nm of the toolchain")
    parser.add_argument("--require", action="append", default=[], metavar="NAME",
                        help="a program a ZIP must hold (may be repeated)")
    args = parser.parse_args(argv)
    rules = Rules(args.reference, args.crtdll_lib, args.nm)
    failures = 0
    for path in args.files:
        try:
            failures += check_file(path, rules, args.require, sys.stdout)
        except OSError as e:
            print(f"{path}: cannot be read ({e.strerror})", file=sys.stdout)
            return 2
    if failures:
        print(f"import check FAILED: {failures} problem(s)")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
