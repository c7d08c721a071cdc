"""smaps-peak.py [--top N] COMMAND [ARG...]: runs COMMAND and samples the
resident memory (/proc/PID/smaps_rollup) of each process of its tree every
few milliseconds; at each new peak of one process (the figure /usr/bin/time
reports: a server's scanner child counts alone) it reads that process's
mappings (/proc/PID/smaps). At the end it prints the peak as Markdown: resident KiB by kind (shared
libraries, heap, other anonymous memory, stacks, files) and the top N
mappings by file, each library's pages summed over its mappings.

Sampling misses peaks shorter than its interval; /usr/bin/time's maximum
resident size is the figure to quote, this says where it lies. A table of
each process's own peak (by program name) follows: a scan and its stream
probers each hold their own libraries."""
import os
import subprocess
import sys
import time


def tree(root):
    """root and its descendants, read from /proc."""
    children = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open(f"/proc/{name}/stat") as f:
                parent = int(f.read().rsplit(")", 1)[1].split()[1])
        except OSError:
            continue
        children.setdefault(parent, []).append(int(name))
    found, todo = [], [root]
    while todo:
        pid = todo.pop()
        found.append(pid)
        todo.extend(children.get(pid, []))
    return found


def rollup_rss(pid):
    try:
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                if line.startswith("Rss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def mappings(pid):
    """Resident KiB by mapping name."""
    sizes = {}
    try:
        with open(f"/proc/{pid}/smaps") as f:
            name = None
            for line in f:
                fields = line.split()
                if "-" in fields[0] and not fields[0].endswith(":"):
                    name = fields[5] if len(fields) > 5 else "[anon]"
                elif fields[0] == "Rss:":
                    sizes[name] = sizes.get(name, 0) + int(fields[1])
    except OSError:
        pass
    return sizes


def program(pid):
    try:
        with open(f"/proc/{pid}/comm") as f:
            return f.read().strip()
    except OSError:
        return "?"


def kind(name):
    if ".so" in os.path.basename(name):
        return "shared libraries"
    if name in ("[heap]", "[anon]") or name.startswith("[stack"):
        return {"[heap]": "heap", "[anon]": "other anonymous"}.get(name, "stacks")
    return "files and others"


def main():
    top = 15
    args = sys.argv[1:]
    if args[:1] == ["--top"]:
        top, args = int(args[1]), args[2:]
    process = subprocess.Popen(args)
    peak, peak_maps = 0, {}
    each = {}  # pid: (program, peak KiB, its mappings then)
    while process.poll() is None:
        for pid in tree(process.pid):
            rss = rollup_rss(pid)
            if rss > each.get(pid, ("", 0))[1]:
                each[pid] = (program(pid), rss, mappings(pid))
            if rss > peak:
                peak, peak_maps = rss, each[pid][2]
        time.sleep(0.005)
    kinds = {}
    for name, size in peak_maps.items():
        kinds[kind(name)] = kinds.get(kind(name), 0) + size
    print(f"peak sampled: {peak / 1024:.1f} MiB (exit status {process.returncode})\n")
    print("| kind | MiB |\n|---|---|")
    for name, size in sorted(kinds.items(), key=lambda item: -item[1]):
        print(f"| {name} | {size / 1024:.1f} |")
    print(f"\n| mapping (top {top}) | KiB |\n|---|---|")
    for name, size in sorted(peak_maps.items(), key=lambda item: -item[1])[:top]:
        print(f"| {os.path.basename(name)} | {size} |")
    libraries = sorted(name for name in peak_maps if kind(name) == "shared libraries")
    print(f"\n{len(libraries)} libraries mapped: " + " ".join(os.path.basename(n) for n in libraries))
    print("\n| process | peak MiB | shared libraries | heap | other anonymous | libraries mapped |\n|---|---|---|---|---|---|")
    for pid, (name, rss, maps) in sorted(each.items(), key=lambda item: -item[1][1]):
        sums = {}
        for mapping, size in maps.items():
            sums[kind(mapping)] = sums.get(kind(mapping), 0) + size
        count = sum(1 for mapping in maps if kind(mapping) == "shared libraries")
        print(f"| {name} ({pid}) | {rss / 1024:.1f} | {sums.get('shared libraries', 0) / 1024:.1f} | "
              f"{sums.get('heap', 0) / 1024:.1f} | {sums.get('other anonymous', 0) / 1024:.1f} | {count} |")


main()
