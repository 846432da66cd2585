#!/usr/bin/env python3
"""Prints the module's include graph between folders and any cycles in it.

Reads every `#include "folder/file"` line of the module's sources and lists,
for each folder, the folders it includes from (with the number of lines).
Exits 1 when the graph has a cycle, so that it can guard the layering.

    python3 scripts/include_graph.py [--files] [ROOT]
"""
import os
import re
import sys

MODULE_DIRS = ["common", "host", "settings", "mime", "certs", "incoming", "outgoing"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/([^"]+)"')


def read_edges(root):
    edges = {}  # (from folder, to folder) -> [(file, included)]
    for folder in MODULE_DIRS:
        path = os.path.join(root, folder)
        if not os.path.isdir(path):
            continue
        for name in sorted(os.listdir(path)):
            if not name.endswith((".cpp", ".h")):
                continue
            with open(os.path.join(path, name), encoding="utf-8") as f:
                for line in f:
                    m = INCLUDE.match(line)
                    if m and m.group(1) in MODULE_DIRS and m.group(1) != folder:
                        edges.setdefault((folder, m.group(1)), []).append(
                            (f"{folder}/{name}", f"{m.group(1)}/{m.group(2)}"))
    return edges


def find_cycles(folders, edges):
    """Every elementary cycle, each once, starting at its first folder in list order."""
    successors = {f: sorted({b for (a, b) in edges if a == f}, key=folders.index) for f in folders}
    cycles = []

    def walk(start, node, path):
        for nxt in successors[node]:
            if nxt == start:
                cycles.append(path + [start])
            elif nxt not in path and folders.index(nxt) > folders.index(start):
                walk(start, nxt, path + [nxt])

    for start in folders:
        walk(start, start, [start])
    return cycles


def main(argv):
    show_files = "--files" in argv
    args = [a for a in argv if not a.startswith("--")]
    root = args[0] if args else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    edges = read_edges(root)
    folders = [f for f in MODULE_DIRS if os.path.isdir(os.path.join(root, f))]
    for folder in folders:
        targets = [(b, lines) for (a, b), lines in sorted(edges.items()) if a == folder]
        listed = ", ".join(f"{b} ({len(lines)})" for b, lines in targets) or "-"
        print(f"{folder:9} -> {listed}")
        if show_files:
            for _, lines in targets:
                for source, included in lines:
                    print(f"    {source} -> {included}")
    cycles = find_cycles(folders, edges)
    if not cycles:
        print("no cycle")
        return 0
    for cycle in cycles:
        print("cycle: " + " -> ".join(cycle))
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
