#!/usr/bin/env python3
"""Builds the Windows package: tovixapi-<version>-win32.zip.

  make_package.py --version V --source REPO --objcopy OBJCOPY --out DIR
                  TovixAPI.dll tovixdiag.exe tovixsim.dll

The zip holds one folder, tovixapi-<version>-win32, with TovixAPI.dll,
tovixdiag.exe, simulated-card/tovixsim.dll (all stripped), README.txt (the
README for Windows, its settings and log lines taken from the library's
sources) and SHA256SUMS. The debug information of each stripped file goes
beside the zip as <file>.debug, which the file names in its .gnu_debuglink.
The unpacked folder stays in DIR too, for the tests. The zip carries no time
stamps, owners or modes of the build machine: the same inputs give the same
bytes.
"""
import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import readme  # noqa: E402

# Where each input goes inside the package's folder.
LAYOUT = {
    "TovixAPI.dll": "TovixAPI.dll",
    "tovixdiag.exe": "tovixdiag.exe",
    "tovixsim.dll": "simulated-card/tovixsim.dll",
}
ZIP_TIME = (1980, 1, 1, 0, 0, 0)  # the earliest a zip can say


def strip(objcopy, source, target, debug):
    """target: source without debug information or symbols, linked to debug."""
    # objcopy stamps the PE files it writes with the time, or with
    # SOURCE_DATE_EPOCH when it is set: 0, as the linker's output has.
    env = dict(os.environ, SOURCE_DATE_EPOCH="0")
    subprocess.run([objcopy, "--only-keep-debug", source, debug], check=True, env=env)
    subprocess.run([objcopy, "--strip-all", "--add-gnu-debuglink=" + debug, source, target],
                   check=True, cwd=os.path.dirname(debug), env=env)


def write_zip(path, root, folder):
    files = []
    for base, _, names in os.walk(folder):
        files += [os.path.join(base, n) for n in names]
    with zipfile.ZipFile(path + ".tmp", "w") as z:
        for file in sorted(files, key=lambda f: os.path.relpath(f, folder).replace(os.sep, "/")):
            info = zipfile.ZipInfo(root + "/" + os.path.relpath(file, folder).replace(os.sep, "/"),
                                   ZIP_TIME)
            info.create_system = 0  # MS-DOS: no Unix owner or mode
            info.external_attr = 0
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(file, "rb") as f:
                z.writestr(info, f.read(), compresslevel=9)
    os.replace(path + ".tmp", path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--version", required=True)
    parser.add_argument("--source", required=True, help="the repository")
    parser.add_argument("--objcopy", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("files", nargs=3)
    args = parser.parse_args()

    root = f"tovixapi-{args.version}-win32"
    out = os.path.abspath(args.out)
    folder = os.path.join(out, root)
    shutil.rmtree(out, ignore_errors=True)  # no package of another version stays beside it
    os.makedirs(folder)
    for source in args.files:
        name = os.path.basename(source)
        target = os.path.join(folder, LAYOUT[name])
        os.makedirs(os.path.dirname(target), exist_ok=True)
        strip(args.objcopy, os.path.abspath(source), target, os.path.join(out, name + ".debug"))

    text = readme.render(os.path.join(args.source, "package", "README-Windows.txt.in"),
                         os.path.join(args.source, "src"), args.version)
    with open(os.path.join(folder, "README.txt"), "wb") as f:
        f.write(text.replace("\n", "\r\n").encode("ascii"))

    sums = []
    for name in sorted(LAYOUT.values()) + ["README.txt"]:
        with open(os.path.join(folder, name), "rb") as f:
            sums.append(f"{hashlib.sha256(f.read()).hexdigest()} *{name}\n")
    with open(os.path.join(folder, "SHA256SUMS"), "w", newline="\n") as f:
        f.writelines(sums)

    package = os.path.join(out, root + ".zip")
    write_zip(package, root, folder)
    for name in sorted(LAYOUT.values()):
        print(f"{name}: {os.path.getsize(os.path.join(folder, name))} bytes stripped")
    print(f"{package}: {os.path.getsize(package)} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
