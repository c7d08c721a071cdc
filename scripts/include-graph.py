#!/usr/bin/env python3
"""include-graph.py FOLDER...: the include graph of the modules of the given
source folders (a module is X.h with X.cpp), its circles and, per module, the
modules it includes. A private header XInternal.h that includes X.h, the
public header it builds on, does not count as X's dependant. A module that
includes, directly or not, a module that includes it back is listed under
"circles"; the exit status is 1 then.
"""
import os
import re
import sys
from collections import defaultdict

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def main():
    folders = sys.argv[1:] or ["."]
    files = {}
    for folder in folders:
        for root, _, names in os.walk(folder):
            for name in names:
                if name.endswith((".h", ".cpp")):
                    files[os.path.join(root, name)] = os.path.splitext(name)[0]
    modules = set(files.values())
    edges = defaultdict(set)
    for path, module in files.items():
        with open(path, encoding="utf-8", errors="replace") as f:
            for header in INCLUDE.findall(f.read()):
                target = os.path.splitext(os.path.basename(header))[0]
                if target in modules and target != module and module != target + "Internal":
                    edges[module].add(target)

    # Strongly connected components (Tarjan): every one with more than one module is a circle.
    index, low, stack, on_stack, circles = {}, {}, [], set(), []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(v)
        for w in sorted(edges[v]):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                component.append(w)
                if w == v:
                    break
            if len(component) > 1:
                circles.append(sorted(component))

    sys.setrecursionlimit(10000)
    for v in sorted(modules):
        if v not in index:
            visit(v)
    for module in sorted(modules):
        print(f"{module} -> {', '.join(sorted(edges[module])) or '-'}")
    print("circles:" if circles else "circles: none")
    for component in circles:
        print("  " + " <-> ".join(component))
    return 1 if circles else 0


if __name__ == "__main__":
    sys.exit(main())
