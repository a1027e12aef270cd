#!/usr/bin/env python3
"""What the Windows package's DLLs and programs ask of the system.

  pe_check.py imports ALLOWED FILE...   every imported function is in ALLOWED;
                                        the PE headers name Windows XP (5.1)
                                        and carry no time stamp
  pe_check.py verify ALLOWED CC         every function in ALLOWED is declared
                                        by the mingw-w64 headers when built for
                                        Windows XP (_WIN32_WINNT=0x0501)
  pe_check.py list FILE...              the imports of FILE, as ALLOWED lists them

ALLOWED holds one section per system DLL, "[KERNEL32.dll]", then one function
per line. A section named "[msvcrt.dll runtime]" lists the C runtime's own
start-up entries, which no public header declares.
"""
import os
import struct
import subprocess
import sys
import tempfile

XP = (5, 1)


class PeFile:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        self.path = path
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path} is not a PE file")
        sections, self.time_stamp, _, _, optional_size = struct.unpack_from("<HIIIH", self.data, pe + 6)
        optional = pe + 24
        if struct.unpack_from("<H", self.data, optional)[0] != 0x10B:
            raise ValueError(f"{path} is not a 32-bit PE file")
        self.os_version = struct.unpack_from("<HH", self.data, optional + 40)
        self.subsystem_version = struct.unpack_from("<HH", self.data, optional + 48)
        count = struct.unpack_from("<I", self.data, optional + 92)[0]
        self.directories = [struct.unpack_from("<II", self.data, optional + 96 + 8 * i) for i in range(count)]
        table = optional + optional_size
        self.sections = [struct.unpack_from("<IIII", self.data, table + 40 * i + 8) for i in range(sections)]

    def offset(self, rva):
        for virtual_size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw + rva - address
        raise ValueError(f"{self.path}: address {rva:#x} lies in no section")

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def imports(self):
        """(DLL, function) pairs; a function imported by ordinal is '#N'."""
        rva, _ = self.directory(1)
        found = []
        while rva:
            lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, self.offset(rva))
            if not name:
                break
            dll = self.text(name)
            thunk = self.offset(lookup or first)
            while True:
                entry = struct.unpack_from("<I", self.data, thunk)[0]
                if not entry:
                    break
                found.append((dll, f"#{entry & 0xFFFF}" if entry & 0x80000000 else self.text(entry + 2)))
                thunk += 4
            rva += 20
        return found

    def stamped_directories(self):
        """Names of the directories (export, resource, debug) that carry a time stamp."""
        stamped = []
        for index, name in ((0, "export"), (2, "resource")):
            rva, size = self.directory(index)
            if size and struct.unpack_from("<I", self.data, self.offset(rva) + 4)[0]:
                stamped.append(name)
        rva, size = self.directory(6)
        for entry in range(size // 28 if rva else 0):
            if struct.unpack_from("<I", self.data, self.offset(rva) + 28 * entry + 4)[0]:
                stamped.append("debug")
        return stamped


def read_allowed(path):
    """{dll (lower case): {function: runtime?}}"""
    allowed = {}
    section = None
    with open(path) as f:
        for number, raw in enumerate(f, 1):
            line = raw.split("#", 1)[0].strip()
            if not line:
                continue
            if line.startswith("["):
                words = line.strip("[]").split()
                section = (words[0].lower(), words[1:] == ["runtime"])
                allowed.setdefault(section[0], {})
            elif section is None:
                raise ValueError(f"{path}:{number}: a function before any [DLL] section")
            else:
                allowed[section[0]][line] = section[1]
    return allowed


def check_imports(allowed_path, files):
    allowed = read_allowed(allowed_path)
    failures = []
    for path in files:
        pe = PeFile(path)
        name = os.path.basename(path)
        for dll, function in pe.imports():
            if function not in allowed.get(dll.lower(), {}):
                failures.append(f"{name} imports {dll}!{function}, which Windows XP SP3 may not export")
        if pe.os_version != XP or pe.subsystem_version != XP:
            failures.append(f"{name}: OS version {pe.os_version}, subsystem version "
                            f"{pe.subsystem_version}; Windows XP is (5, 1)")
        if pe.time_stamp:
            failures.append(f"{name}: the file header carries the time stamp {pe.time_stamp:#x}")
        for directory in pe.stamped_directories():
            failures.append(f"{name}: the {directory} directory carries a time stamp")
        print(f"{name}: {len(pe.imports())} imports, OS {pe.os_version}, subsystem {pe.subsystem_version}")
    return failures


# The headers a Windows XP program of ours may include, with the declarations
# they make only for Windows XP and older.
VERIFY_HEADERS = """#define _WIN32_WINNT 0x0501
#define WINVER 0x0501
#include <windows.h>
#include <ole2.h>
#include <shlwapi.h>
#include <errors.h>
#include <ctype.h>
#include <errno.h>
#include <io.h>
#include <locale.h>
#include <process.h>
#include <setjmp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <wchar.h>
#include <wctype.h>
"""


def verify(allowed_path, compiler):
    allowed = read_allowed(allowed_path)
    names = sorted({f for functions in allowed.values() for f, runtime in functions.items() if not runtime})
    first_line = VERIFY_HEADERS.count("\n") + 1
    source = VERIFY_HEADERS + "".join(f"void f{i}(void) {{ void *p = (void *)&({n}); (void)p; }}\n" for i, n in enumerate(names))
    with tempfile.TemporaryDirectory() as folder:
        c_file = os.path.join(folder, "xp.c")
        with open(c_file, "w") as f:
            f.write(source)
        result = subprocess.run([compiler, "-fsyntax-only", "-w", "-fmax-errors=0", c_file],
                                capture_output=True, text=True)
    failures = []
    for line in result.stderr.splitlines():
        parts = line.split(":")
        if len(parts) > 3 and parts[0] == c_file and "error" in parts[3]:
            index = int(parts[1]) - first_line
            if 0 <= index < len(names):
                failures.append(f"{names[index]} is not declared for Windows XP: {':'.join(parts[3:]).strip()}")
    if result.returncode and not failures:
        failures.append("the headers did not compile:\n" + result.stderr)
    print(f"{len(names)} functions checked against the headers for Windows XP")
    return failures


def main(argv):
    if len(argv) >= 3 and argv[1] == "imports":
        failures = check_imports(argv[2], argv[3:])
    elif len(argv) == 4 and argv[1] == "verify":
        failures = verify(argv[2], argv[3])
    elif len(argv) >= 3 and argv[1] == "list":
        by_dll = {}
        for path in argv[2:]:
            for dll, function in PeFile(path).imports():
                by_dll.setdefault(dll, set()).add(function)
        for dll in sorted(by_dll, key=str.lower):
            print(f"[{dll}]")
            print("\n".join(sorted(by_dll[dll])))
        return 0
    else:
        print(__doc__, file=sys.stderr)
        return 2
    for failure in failures:
        print("FAILED:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
