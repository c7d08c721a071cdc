"""prober-requests.py STREAMPROBE LIST [SMAPS_OUT]: drives one stream prober
as a scan does (a socket pair as its descriptor 3, a frame of a 4-byte
little-endian length and a path per request) over the paths in LIST, one a
line, and prints its resident set (/proc/PID/status: VmHWM, which counts
transients, VmRSS, RssFile, RssAnon) once it has started, after a request for
"/" (not a media file: ffmpeg opened, nothing probed), after the first path
and after each request that raised the high-water mark; at the end its page
faults and CPU time (/proc/PID/stat, schedstat) and the maximum resident set
its parent's wait4 reports (what /usr/bin/time counts, exit included). With
SMAPS_OUT, the prober's /proc/PID/smaps after the last request is written
there."""
import os
import sys
import time

from bench_common import prober_request, prober_start


def status(pid):
    wanted = ("VmHWM", "VmRSS", "RssFile", "RssAnon")
    with open(f"/proc/{pid}/status") as f:
        fields = dict(line.split(":", 1) for line in f)
    return {key: int(fields[key].split()[0]) for key in wanted}


def show(label, values):
    print(label, " ".join(f"{key} {kib / 1024:.1f}" for key, kib in values.items()), "MiB")


def main():
    prober, listing = sys.argv[1], sys.argv[2]
    ours, child = prober_start(prober)
    time.sleep(0.3)
    show("started", status(child.pid))
    prober_request(ours, "/")
    show("ffmpeg opened", status(child.pid))
    high = 0
    with open(listing) as f:
        paths = [line.rstrip("\n") for line in f]
    for number, path in enumerate(paths):
        prober_request(ours, path)
        now = status(child.pid)
        if now["VmHWM"] > high or number == 0:
            high = now["VmHWM"]
            show(f"{number} {path}:", now)
    show("end", status(child.pid))
    with open(f"/proc/{child.pid}/stat") as f:
        faults = f.read().rsplit(")", 1)[1].split()[7]
    with open(f"/proc/{child.pid}/schedstat") as f:
        cpu_ms = int(f.read().split()[0]) // 1000000
    if len(sys.argv) > 3:
        with open(f"/proc/{child.pid}/smaps") as f, open(sys.argv[3], "w") as out:
            out.write(f.read())
    ours.close()
    _, _, usage = os.wait4(child.pid, 0)
    print(f"page faults {faults}, CPU {cpu_ms} ms, maximum resident set at exit {usage.ru_maxrss / 1024:.1f} MiB")


main()
