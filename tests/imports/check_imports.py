#!/usr/bin/env python3
"""Checks that a 32-bit program can start on Windows XP SP3.

Host-side, standard library only:
    check_imports.py [--objdump OBJDUMP] PROGRAM.exe ALLOWED.txt

Reads the program's headers and import table with objdump -p and fails,
naming each one, on an import that is not in the allowed list (a function
someone has checked that XP SP3's DLL exports), an import by ordinal, or a
subsystem or OS version above XP's 5.1, which XP's loader refuses. With
--cxx it also compiles a reference to every listed system function (the C
runtime's aside) with the headers set to Windows XP, which declare no call
they know to be newer.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

XP = (5, 1)


def read_allowed(path):
    allowed = set()
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            parts = line.split()
            if len(parts) != 2:
                sys.exit(f"{path}:{number}: expected 'DLL function', got {line!r}")
            allowed.add((parts[0].lower(), parts[1]))
    return allowed


def read_program(objdump, program):
    out = subprocess.run([objdump, "-p", program], check=True, capture_output=True,
                         text=True).stdout
    headers = dict(re.findall(r"^(\w+)\s+([0-9A-Fa-fx]+)", out, re.M))
    imports, dll, in_table = set(), None, False
    for line in out.splitlines():
        if line.startswith("The Import Tables"):
            in_table = True
        elif in_table and re.match(r"^The |^There ", line):
            break
        elif in_table:
            m = re.match(r"^\s*DLL Name: (\S+)", line)
            if m:
                dll = m.group(1).lower()
                continue
            m = re.match(r"^\s+([0-9a-f]+)\s+(\d+)\s+(\S+)$", line)
            if dll and m:
                name = m.group(3)
                imports.add((dll, f"#{m.group(2)}" if name == "<none>" else name))
    return out, headers, imports


PROBE_HEADERS = ["windows.h", "commctrl.h", "commdlg.h", "ole2.h", "oleauto.h", "mmsystem.h"]


def declared_for_xp(cxx, functions):
    """The compiler's complaints about functions the XP headers do not declare."""
    source = "".join(f"#include <{h}>\n" for h in PROBE_HEADERS)
    source += "void* probes[] = {\n" + "".join(f"  (void*)&{f},\n" for f in functions) + "};\n"
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "probe.cpp")
        with open(path, "w") as f:
            f.write(source)
        result = subprocess.run([cxx, "-D_WIN32_WINNT=0x0501", "-DWINVER=0x0501", "-fsyntax-only",
                                 path], capture_output=True, text=True)
    return [] if result.returncode == 0 else [
        line for line in result.stderr.splitlines() if "error" in line]


def version(headers, major, minor):
    return int(headers.get(major, "99")), int(headers.get(minor, "0"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("--cxx", help="the i686 C++ compiler, to check the list against the "
                        "XP headers")
    parser.add_argument("program")
    parser.add_argument("allowed")
    args = parser.parse_args()

    allowed = read_allowed(args.allowed)
    out, headers, imports = read_program(args.objdump, args.program)
    problems = []
    if "file format pei-i386" not in out:
        problems.append("not a 32-bit x86 program (objdump: no 'pei-i386')")
    for what, major, minor in (("subsystem", "MajorSubsystemVersion", "MinorSubsystemVersion"),
                               ("OS", "MajorOSystemVersion", "MinorOSystemVersion")):
        v = version(headers, major, minor)
        if v > XP:
            problems.append(f"{what} version {v[0]}.{v[1]} is above Windows XP's 5.1")
    if not imports:
        problems.append("no imports found: objdump's output was not understood")
    for dll, name in sorted(imports - allowed):
        kind = "import by ordinal" if name.startswith("#") else "import"
        problems.append(f"new {kind} {dll} {name}: check that Windows XP SP3's {dll} exports it, "
                        f"then add it to {args.allowed}")
    if args.cxx:
        system = sorted(name for dll, name in allowed if dll != "msvcrt.dll")
        for error in declared_for_xp(args.cxx, system):
            problems.append(f"listed, but not declared for Windows XP: {error}")
    for dll, name in sorted(allowed - imports):
        print(f"note: {dll} {name} is allowed but no longer imported")

    print(f"{len(imports)} imports from {len({d for d, _ in imports})} DLLs")
    for p in problems:
        print("FAIL:", p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
