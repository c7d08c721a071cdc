"""probe-kinds.py STREAMPROBE CORPUS [ROUNDS]: the stream prober's CPU time
per file for each kind of media file in CORPUS. One prober is started as a
scan starts it and opened (a request for "/"); then for each kind it probes
one file to warm up, and all the kind's files ROUNDS times over (default 3),
reading its CPU time from /proc/PID/schedstat before and after. Kinds: the
extension, and for MP3 the ID3v2 version and whether the tag holds a cover;
files that are empty or not media are left out."""
import os
import sys

from bench_common import prober_request, prober_start

MEDIA = ("mp3", "flac", "ogg", "m4a", "mp4")


def kind_of(path, extension):
    if extension != "mp3":
        return extension
    with open(path, "rb") as f:
        head = f.read(1 << 16)
    if not head.startswith(b"ID3"):
        return "mp3 without ID3v2"
    return f"mp3 ID3v2.{head[3]}" + (" with cover" if b"APIC" in head else "")


def kinds(corpus):
    found = {}
    for folder, _, names in os.walk(corpus):
        for name in names:
            path = os.path.join(folder, name)
            extension = name.rsplit(".", 1)[-1].lower() if "." in name else ""
            if extension in MEDIA and os.path.getsize(path) > 0:
                found.setdefault(kind_of(path, extension), []).append(path)
    return {kind: sorted(paths) for kind, paths in sorted(found.items())}


def cpu_ns(pid):
    with open(f"/proc/{pid}/schedstat") as f:
        return int(f.read().split()[0])


def main():
    program, corpus = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    channel, child = prober_start(program)
    prober_request(channel, "/")
    for kind, paths in kinds(corpus).items():
        prober_request(channel, paths[0])
        start = cpu_ns(child.pid)
        for _ in range(rounds):
            for path in paths:
                prober_request(channel, path)
        used_us = (cpu_ns(child.pid) - start) / 1000 / (rounds * len(paths))
        print(f"{kind}: {len(paths)} files, {used_us:.0f} us per probe")
    channel.close()
    child.wait()


main()
