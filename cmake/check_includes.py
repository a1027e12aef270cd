#!/usr/bin/env python3
"""The include check of the library's sources.

Reads every #include line of the C++ files under the given folder (the
library's src/) and fails when
  - one folder's files include another's and that one's, directly or through
    others, include the first (a cycle between folders), or
  - a file includes the simulated world (sim/), which stands in for Windows
    in the Linux build and must never be part of the library.

Prints the include graph between the folders, each edge with one file that
makes it.

With --layers TABLE, checks the repository's top-level folders instead: every
include from one folder into another must be an edge that TABLE allows
(cmake/layers.txt says how it reads); any other edge fails, and so does a
cycle.

Usage: check_includes.py SRC_DIR | check_includes.py --layers TABLE ROOT
"""

import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')
SOURCE_SUFFIXES = (".h", ".hpp", ".c", ".cpp")


def folder_of(src, path):
    """The top folder under src that holds path ('.' for src itself)."""
    parts = os.path.relpath(path, src).split(os.sep)
    return parts[0] if len(parts) > 1 else "."


def is_sim(src, name, resolved):
    if re.match(r"(\.\./)*sim/", name):
        return True
    sim = os.path.join(os.path.dirname(os.path.abspath(src)), "sim")
    return resolved is not None and os.path.commonpath([resolved, sim]) == sim


def resolve(src, including, name):
    """The file under src that a quoted include names, or None."""
    for base in (os.path.dirname(including), src):
        candidate = os.path.abspath(os.path.join(base, name))
        if os.path.isfile(candidate):
            return candidate
    return None


def read_edges(src):
    """Folder edges {(from, to): (file, line)} and the sim includes found."""
    edges = {}
    sim_includes = []
    for root, _, files in os.walk(src):
        for file_name in sorted(files):
            if not file_name.endswith(SOURCE_SUFFIXES):
                continue
            path = os.path.join(root, file_name)
            with open(path, encoding="utf-8", errors="replace") as f:
                for number, text in enumerate(f, 1):
                    m = INCLUDE.match(text)
                    if not m:
                        continue
                    quoted, name = m.group(1) == '"', m.group(2)
                    target = resolve(src, path, name) if quoted else None
                    where = (os.path.relpath(path, src), number)
                    if is_sim(src, name, target):
                        sim_includes.append((where, name))
                        continue
                    if target is None or os.path.commonpath([target, src]) != src:
                        continue
                    edge = (folder_of(src, path), folder_of(src, target))
                    if edge[0] != edge[1]:
                        edges.setdefault(edge, (where, name))
    return edges, sim_includes


def cycles(edges):
    """The groups of two or more folders that reach one another (Tarjan)."""
    graph = {}
    for a, b in edges:
        graph.setdefault(a, set()).add(b)
        graph.setdefault(b, set())
    index, low, stack, on_stack, groups = {}, {}, [], set(), []

    def visit(node):
        index[node] = low[node] = len(index)
        stack.append(node)
        on_stack.add(node)
        for nxt in sorted(graph[node]):
            if nxt not in index:
                visit(nxt)
                low[node] = min(low[node], low[nxt])
            elif nxt in on_stack:
                low[node] = min(low[node], index[nxt])
        if low[node] == index[node]:
            group = []
            while True:
                top = stack.pop()
                on_stack.discard(top)
                group.append(top)
                if top == node:
                    break
            if len(group) > 1:
                groups.append(sorted(group))

    for node in sorted(graph):
        if node not in index:
            visit(node)
    return groups


def read_table(path):
    """({folder: [allowed...]}, [search folders]) from a layers table."""
    allowed, search = {}, []
    with open(path, encoding="utf-8") as f:
        for text in f:
            text = text.split("#", 1)[0].strip()
            if not text:
                continue
            key, _, rest = text.partition(":")
            if key.strip() == "search":
                search = rest.split()
            else:
                allowed[key.strip()] = rest.split()
    return allowed, search


def owner(folders, rel):
    """The longest listed folder that holds the path rel, or None."""
    best = None
    for folder in folders:
        if (rel + "/").startswith(folder + "/") and (best is None or len(folder) > len(best)):
            best = folder
    return best


def check_layers(table, root):
    allowed, search = read_table(table)
    root = os.path.abspath(root)
    edges = {}
    for folder in sorted(allowed):
        for dirpath, dirnames, files in os.walk(os.path.join(root, folder)):
            dirnames[:] = [d for d in dirnames if d != "build"]
            for file_name in sorted(files):
                if not file_name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(dirpath, file_name)
                rel = os.path.relpath(path, root)
                source = owner(allowed, rel)
                if source != folder:
                    continue  # a sub-folder listed on its own
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, text in enumerate(f, 1):
                        m = INCLUDE.match(text)
                        if not m or m.group(1) != '"':
                            continue
                        name = m.group(2)
                        target = None
                        for base in [os.path.dirname(path), root] + [
                                os.path.join(root, s) for s in search]:
                            candidate = os.path.abspath(os.path.join(base, name))
                            if os.path.isfile(candidate):
                                target = os.path.relpath(candidate, root)
                                break
                        if target is None or target.startswith(".."):
                            continue
                        dest = owner(allowed, target)
                        if dest is None or dest == source:
                            continue
                        edges.setdefault((source, dest, target), (rel, number, name))

    print("Include graph between the top-level folders of %s:" % root)
    graph = {}
    failed = False
    for (a, b, target), (rel, number, name) in sorted(edges.items()):
        graph.setdefault((a, b), (rel, number, name))
        if not any((target + "/").startswith(entry + "/") for entry in allowed[a]):
            print('%s:%d: includes "%s": %s may not include %s' % (rel, number, name, a, target))
            failed = True
    for a in sorted({a for a, _ in graph}):
        print("  %s -> %s" % (a, ", ".join(sorted(b for x, b in graph if x == a))))
    for group in cycles(graph):
        print("Cycle between the folders %s" % ", ".join(group))
        failed = True
    if not failed:
        print("Every include between folders is an allowed edge; no cycle.")
    return 1 if failed else 0


def main(argv):
    if len(argv) == 4 and argv[1] == "--layers":
        return check_layers(argv[2], argv[3])
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    src = os.path.abspath(argv[1])
    edges, sim_includes = read_edges(src)

    print("Include graph between the folders of %s:" % src)
    for a in sorted({a for a, _ in edges}):
        targets = sorted(b for x, b in edges if x == a)
        print("  %s -> %s" % (a, ", ".join(targets)))

    failed = False
    for (file_name, line), name in sim_includes:
        print('%s:%d: includes "%s": the library never includes the simulated world'
              % (file_name, line, name))
        failed = True
    for group in cycles(edges):
        print("Cycle between the folders %s:" % ", ".join(group))
        for (a, b), ((file_name, line), name) in sorted(edges.items()):
            if a in group and b in group:
                print('  %s -> %s: %s:%d includes "%s"' % (a, b, file_name, line, name))
        failed = True
    if not failed:
        print("No cycle between folders, no include of sim/.")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
