"""watch_runs.py BUILD WORK ALBUMS RUNS: the runs of watch.sh and their tables.

Two servers watch an empty shared folder on 127.0.0.1: mlserve (installation
made by mlsetup, the folder shared with sharectl) and MiniDLNA in its inotify
mode (Debian's minidlnad, database in WORK). For each:

- latency: 20 times, a tagged mp3 of a title of its own is copied into the
  share (cp, from outside it) and a ContentDirectory Search for that title
  is repeated every 20 ms until it answers the item; the time from the start
  of the copy to that answer, median and range;
- a collection copied in: the album folders of ALBUMS (2,000 tracks with
  their covers) copied with one cp -r; the time from the start of the copy
  to the last track in the library, the CPU time the server spent from the
  copy until it was done (its process and children, from /proc), and for
  mlserve the number of refreshes it ran (its log).

Runs alternate between the two servers, RUNS times."""
import os
import re
import shutil
import signal
import sqlite3
import statistics
import subprocess
import sys
import time
import urllib.request

from bench_common import free_port, spread

build, work, albums, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
CDS = "urn:schemas-upnp-org:service:ContentDirectory:1"
TICK = os.sysconf("SC_CLK_TCK")
LATENCY_FILES = 20


def cpu_seconds(pid):
    """utime + stime of pid and of the children it waited for."""
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return sum(int(v) for v in fields[11:15]) / TICK


def search(control, criteria):
    body = ('<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"><s:Body>'
            f'<u:Search xmlns:u="{CDS}"><ContainerID>0</ContainerID><SearchCriteria>{criteria}</SearchCriteria>'
            '<Filter>dc:title</Filter><StartingIndex>0</StartingIndex><RequestedCount>1</RequestedCount>'
            '<SortCriteria></SortCriteria></u:Search></s:Body></s:Envelope>')
    request = urllib.request.Request(control, body.encode(), headers={
        "Content-Type": 'text/xml; charset="utf-8"', "SOAPACTION": f'"{CDS}#Search"'})
    with urllib.request.urlopen(request, timeout=10) as answer:
        found = re.search(r"<TotalMatches>(\d+)</TotalMatches>", answer.read().decode())
        return int(found.group(1)) if found else 0


def matches(control, criteria):
    """search, with an answer refused while the server is busy counted as none."""
    try:
        return search(control, criteria)
    except OSError:
        return 0


def wait_until(check, seconds=600, step=0.02):
    deadline = time.perf_counter() + seconds
    while time.perf_counter() < deadline:
        if check():
            return time.perf_counter()
        time.sleep(step)
    sys.exit("timed out")


class Mlserve:
    name = "mlserve"

    def __init__(self, root):
        bin_ = lambda *p: os.path.join(build, *p)
        self.share, library = os.path.join(root, "share"), os.path.join(root, "library")
        os.makedirs(self.share)
        subprocess.run([bin_("tools", "mlsetup"), library], check=True, stdout=subprocess.DEVNULL)
        subprocess.run([bin_("sharectl", "sharectl"), "-S", self.share], cwd=library, check=True,
                       stdout=subprocess.DEVNULL)
        port = free_port()
        config = os.path.join(library, "config.xml")
        text = open(config).read().replace('port="41952" ip=""', f'port="{port}" ip="127.0.0.1"')
        open(config, "w").write(text)
        self.log = os.path.join(library, "logs", "medialib.log")
        self.status = f"http://127.0.0.1:{port}/web/status.json"
        self.control = f"http://127.0.0.1:{port}/control/ContentDirectory"
        self.process = subprocess.Popen([bin_("server", "mlserve")], cwd=library, stdout=subprocess.DEVNULL)
        wait_until(self.up, 30, 0.1)

    def up(self):
        try:
            return search(self.control, 'dc:title = "none"') == 0
        except OSError:
            return False

    def tracks(self):
        return matches(self.control, 'upnp:class derivedfrom "object.item.audioItem"')

    def refreshes(self):
        return open(self.log, errors="replace").read().count("FolderWatch - Refreshed ")

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=60)


class Minidlna:
    name = "MiniDLNA (inotify=yes)"

    def __init__(self, root):
        self.share, mdl = os.path.join(root, "share"), os.path.join(root, "minidlna")
        for folder in (self.share, os.path.join(mdl, "db"), os.path.join(mdl, "log")):
            os.makedirs(folder)
        port = free_port()
        conf = os.path.join(mdl, "minidlna.conf")
        with open(conf, "w") as f:
            f.write(f"media_dir={self.share}\ndb_dir={mdl}/db\nlog_dir={mdl}/log\nnetwork_interface=lo\n"
                    f"port={port}\ninotify=yes\nenable_tivo=no\nfriendly_name=watch-bench\n")
        self.db = os.path.join(mdl, "db", "files.db")
        self.control = f"http://127.0.0.1:{port}/ctl/ContentDir"
        self.out = open(os.path.join(mdl, "out.txt"), "wb")
        self.process = subprocess.Popen(["minidlnad", "-f", conf, "-P", os.path.join(mdl, "pid"), "-R", "-d"],
                                        stdout=self.out, stderr=subprocess.STDOUT)
        # Its watches come after the scan of the (empty) share.
        wait_until(lambda: b"Added watch to" in open(self.out.name, "rb").read(), 60, 0.1)

    def tracks(self):
        try:
            with sqlite3.connect(f"file:{self.db}?mode=ro", uri=True, timeout=5) as db:
                return db.execute("select count(*) from DETAILS where MIME like 'audio/%'").fetchone()[0]
        except sqlite3.Error:
            return -1

    def refreshes(self):
        return None

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=60)
        self.out.close()


def make_latency_files(folder):
    os.makedirs(folder, exist_ok=True)
    for n in range(LATENCY_FILES):
        path = os.path.join(folder, f"new{n:02d}.mp3")
        if not os.path.exists(path):
            subprocess.run(["ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i", "sine=duration=1", "-q:a", "9",
                            "-metadata", f"title=Fresh {n:02d}", path], check=True)


def latency(server, staging):
    times = []
    for n in range(LATENCY_FILES):
        start = time.perf_counter()
        subprocess.run(["cp", os.path.join(staging, f"new{n:02d}.mp3"), server.share], check=True)
        seen = wait_until(lambda: matches(server.control, f'dc:title = "Fresh {n:02d}"') > 0, 120)
        times.append(seen - start)
        time.sleep(0.5)
    return times


def collection(server, expected):
    before = server.tracks()
    refreshed = server.refreshes()
    cpu = cpu_seconds(server.process.pid)
    start = time.perf_counter()
    subprocess.run(["cp", "-r", albums, os.path.join(server.share, "Music")], check=True)
    copied = time.perf_counter() - start
    done = wait_until(lambda: server.tracks() >= before + expected, 900, 0.1)
    time.sleep(3)  # what it still does once the last track is in
    result = dict(copy=copied, done=done - start, cpu=cpu_seconds(server.process.pid) - cpu,
                  tracks=server.tracks() - before)
    if refreshed is not None:
        result["refreshes"] = server.refreshes() - refreshed
    return result


def main():
    expected = sum(1 for _, _, names in os.walk(albums) for n in names
                   if n.lower().endswith((".mp3", ".flac", ".ogg", ".m4a")))
    files = sum(len(names) for _, _, names in os.walk(albums))
    staging = os.path.join(work, "latency-files")
    make_latency_files(staging)
    results = {Mlserve.name: [], Minidlna.name: []}
    for run in range(runs):
        for kind in (Mlserve, Minidlna) if run % 2 == 0 else (Minidlna, Mlserve):
            root = os.path.join(work, f"run-{kind.__name__}")
            shutil.rmtree(root, ignore_errors=True)
            server = kind(root)
            try:
                results[kind.name].append(dict(latency=latency(server, staging), **collection(server, expected)))
            finally:
                server.stop()
            shutil.rmtree(root, ignore_errors=True)
    print(f"{files} files ({expected} tracks) copied; {runs} runs; latency over {LATENCY_FILES} files per run\n")
    print("| server | creation to Browse, median (range) s | copy s | copy start to last track s "
          "| CPU s | refreshes | tracks |")
    print("|---|---|---|---|---|---|---|")
    for name, rows in results.items():
        lat = [statistics.median(r["latency"]) for r in rows]
        lat_all = sorted(t for r in rows for t in r["latency"])
        refreshes = spread([r["refreshes"] for r in rows], "{}") if "refreshes" in rows[0] else "-"
        print(f"| {name} | {statistics.median(lat_all):.2f} ({lat_all[0]:.2f}-{lat_all[-1]:.2f}) "
              f"| {spread([r['copy'] for r in rows], '{:.2f}')} | {spread([r['done'] for r in rows], '{:.1f}')} "
              f"| {spread([r['cpu'] for r in rows], '{:.1f}')} | {refreshes} "
              f"| {spread([r['tracks'] for r in rows], '{}')} |")


main()
