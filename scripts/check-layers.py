#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Fails when a source file under src/ includes from a folder above its own,
naming the file and the include, and when includes form a cycle between
modules (a module is name.h with name.cpp), naming them. The folders, lowest first:

    base < transport < auth < smb2 < rpc < query < platform < src/ itself

A file may include from its own folder and the folders below it. Tests
(*_test.cpp) and the shared test helpers (src/testing/) may include from any
folder, as some drive their code through the whole query; nothing else may
include src/testing/."""
import os
import re
import sys

LAYERS = ["base", "transport", "auth", "smb2", "rpc", "query", "platform", ""]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folder(path):
    """The folder of src/ a path (relative to src/) belongs to; "" for src/ itself."""
    return path.split("/", 1)[0] if "/" in path else ""


def module(path):
    return os.path.splitext(path)[0]


def is_test(path):
    return path.endswith("_test.cpp") or folder(path) == "testing"


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    os.chdir(root)
    files = set()
    for top, _, names in os.walk("src"):
        for n in names:
            if n.endswith((".cpp", ".h")):
                files.add(os.path.relpath(os.path.join(top, n), "src").replace(os.sep, "/"))
    problems = []
    edges = {}
    for path in sorted(files):
        with open(os.path.join("src", path), encoding="utf-8") as f:
            text = f.read()
        own = folder(path)
        if own not in LAYERS and own != "testing":
            problems.append(f"src/{path}: in a folder that has no place among the layers")
            continue
        for name in INCLUDE.findall(text):
            if name not in files:
                continue  # a generated or system header
            if module(name) != module(path):
                edges.setdefault(module(path), set()).add(module(name))
            theirs = folder(name)
            if is_test(path):
                continue
            if theirs == "testing":
                problems.append(f'src/{path}: includes "{name}", a test helper')
            elif theirs not in LAYERS:
                problems.append(f'src/{path}: includes "{name}", outside the layers')
            elif LAYERS.index(theirs) > LAYERS.index(own):
                problems.append(f'src/{path}: includes "{name}" ({theirs or "src"} is above '
                                f'{own or "src"})')
    problems += cycles(edges)
    if problems:
        print("\n".join(problems))
        return 1
    print(f"layers: {len(files)} files include only from their own folder or below, no cycles")
    return 0


def cycles(edges):
    """One line per cycle between modules, found by depth-first search."""
    state = {}  # absent: unvisited, 1: on the stack, 2: done
    stack = []
    found = []

    def visit(node):
        state[node] = 1
        stack.append(node)
        for nxt in sorted(edges.get(node, ())):
            if state.get(nxt) == 1:
                loop = stack[stack.index(nxt):] + [nxt]
                found.append("include cycle: " + " -> ".join("src/" + p for p in loop))
            elif nxt not in state:
                visit(nxt)
        stack.pop()
        state[node] = 2

    sys.setrecursionlimit(10000)
    for node in sorted(edges):
        if node not in state:
            visit(node)
    return found


if __name__ == "__main__":
    sys.exit(main())
