#!/usr/bin/env python3
"""The README for Windows, from package/README-Windows.txt.in and the library's sources.

The template marks what the sources know:
  @VERSION@        the plug-in version;
  @SETTING key@    a host setting the library reads: replaced by the key, its
                   default and the values it takes, all read from the call that
                   reads it;
  @LOG text@       a plug-in log message, which must appear in the sources as
                   written ('%s' and '%d' are shown as <text> and <number>).
Every setting the library reads must be described by the template, and every
@SETTING and @LOG must still exist in the code: render() raises otherwise, so
the README cannot drift from the library.

  readme.py TEMPLATE SRC_DIR   prints the README, or what has drifted
"""
import os
import re
import sys

READ = re.compile(r'getProperty\(\s*env,\s*cls,\s*"([^"]+)",\s*"([^"]*)",\s*(\w+)')
TABLE = re.compile(r"const\s+Code\s+(\w+)\[\]\s*=\s*\{(.*?)\};", re.S)
MARK = re.compile(r"@(SETTING|LOG) ([^@]+)@")


class Drift(Exception):
    pass


def sources(src):
    for base, _, names in sorted(os.walk(src)):
        for name in sorted(names):
            if name.endswith((".cpp", ".h")):
                with open(os.path.join(base, name)) as f:
                    yield f.read()


def accepted(text, variable):
    """What the code does with the value read into `variable`, in words."""
    tables = {name: re.findall(r'\{"([^"]+)",', body) for name, body in TABLE.findall(text)}
    table = re.search(r"encode\((\w+),\s*" + variable + r"\b", text)
    if table and table.group(1) in tables:
        return "one of " + ", ".join(tables[table.group(1)]) + ", exactly as written"
    if re.search(r"parseInteger\(" + variable + r"\b", text):
        return "a whole number"
    if re.search(r"switchOn\(" + variable + r"\)", text):
        return "true or yes (in any case) to switch it on; anything else is off"
    return "any text"


def settings(src):
    """{key: (default, what it takes)} for every setting the library reads."""
    found = {}
    for text in sources(src):
        for key, default, variable in READ.findall(text):
            found[key] = (default, accepted(text, variable))
    return found


def render(template, src, version):
    with open(template) as f:
        text = f.read()
    read = settings(src)
    code = "\n".join(sources(src))
    drift = []
    described = set()

    def replace(mark):
        kind, value = mark.group(1), mark.group(2)
        if kind == "SETTING":
            if value not in read:
                drift.append(f"the README describes {value}, which the library no longer reads")
                return value
            described.add(value)
            default, takes = read[value]
            return f'{value}\n    Default: "{default}". Takes {takes}.'
        if value not in code:
            drift.append(f'the log line "{value}" is no longer in the library')
        return value.replace("%s", "<text>").replace("%d", "<number>")

    text = MARK.sub(replace, text).replace("@VERSION@", version)
    drift += [f"the library reads {key}, which the README does not describe"
              for key in sorted(set(read) - described)]
    if drift:
        raise Drift("README-Windows.txt.in has drifted from the library:\n  " + "\n  ".join(drift))
    return text


if __name__ == "__main__":
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    try:
        sys.stdout.write(render(sys.argv[1], sys.argv[2], "x.y.z"))
    except Drift as e:
        print(e, file=sys.stderr)
        sys.exit(1)
