"""scan_runs.py BUILD WORK SCALES SHAPES RUNS: the runs of scan.sh (which
builds the corpora and the statement counter first) and their tables.

Every program is timed from its start to its exit by this process; its CPU
time and peak memory (its own and those of the child processes it waited
for) come from /usr/bin/time. A process started straight from this one
would inherit Python's own peak memory as its floor: the kernel carries the
peak of the forking process across exec. MiniDLNA scans in a child process at
start; its log line "Scanning ... finished (N files)!" ends the wall-clock
measurement, and the server is then stopped to collect its figures. It is
then started three times with -r, its rescan of the unchanged corpus, timed
to its log line "Rescan completed."."""
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import time

from bench_common import free_port, spread

builds, work, scales, shapes, runs = (sys.argv[1].split(","), sys.argv[2], sys.argv[3].split(), sys.argv[4].split(),
                                      int(sys.argv[5]))
MEDIA = (".mp3", ".flac", ".ogg", ".m4a", ".jpg", ".mp4")
counter = os.path.join(work, "sqlite-count.so")


def media_files(corpus):
    return sorted(os.path.join(d, f) for d, _, names in os.walk(corpus) for f in names
                  if f.lower().endswith(MEDIA) and os.path.getsize(os.path.join(d, f)) > 0)


def touch_media(corpus, touch):
    """Every 100th media file in name order gets a new modification time, or
    the corpus's own time again."""
    stamp = 1700003600 if touch else 1700000000
    chosen = media_files(corpus)[99::100]
    for path in chosen:
        os.utime(path, (stamp, stamp))
    return len(chosen)


# MiniDLNA's scanner process lowers its own priority to nice 15; sharectl runs
# at the same, so that on a shared machine neither yields more to the others.
NICE = 15


def timed(command, usage_file):
    return ["/usr/bin/time", "-q", "-f", "%U %S %M", "-o", usage_file] + command


def usage(usage_file):
    """CPU seconds and peak MiB from /usr/bin/time's record."""
    with open(usage_file) as f:
        user, system, peak = f.read().split()[-3:]
    return {"cpu": float(user) + float(system), "peak": int(peak) / 1024}


def measure(command, cwd, env=None):
    usage_file = os.path.join(work, "usage")
    start = time.perf_counter()
    child = subprocess.run(timed(command, usage_file), cwd=cwd, env=env, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT)
    wall = time.perf_counter() - start
    out = child.stdout.decode(errors="replace")
    if child.returncode != 0:
        sys.exit(f"{command} failed ({child.returncode}):\n{out}")
    return dict(usage(usage_file), wall=wall, out=out)


def count(pattern, text):
    found = re.search(pattern, text, re.M)
    return int(found.group(1)) if found else 0


def mib(path):
    return os.path.getsize(path) / 1048576 if os.path.exists(path) else 0.0


def sharectl_run(corpus, run_dir, build):
    sharectl = os.path.join(build, "sharectl", "sharectl")
    inst = os.path.join(run_dir, "inst")
    shutil.rmtree(inst, ignore_errors=True)
    subprocess.run([os.path.join(build, "tools", "mlsetup"), inst], check=True, stdout=subprocess.DEVNULL)
    counts = os.path.join(run_dir, "statements")
    if os.path.exists(counts):
        os.remove(counts)
    env = dict(os.environ, LD_PRELOAD=counter, SQLITE_COUNT_OUT=counts)
    first = measure(["nice", "-n", str(NICE), sharectl, "-S", corpus], inst, env)
    # Sized after the first scan, as MiniDLNA's is: a rescan that replaces
    # items leaves free pages behind in the file.
    db = mib(os.path.join(inst, "data", "medialib.db"))
    admin = mib(os.path.join(inst, "data", "admin.db"))
    prepared = steps = 0
    with open(counts) as f:
        for line in f:
            p, s = re.match(r"prepared (\d+) steps (\d+)", line).groups()
            prepared, steps = prepared + int(p), steps + int(s)
    rescans = sorted((measure(["nice", "-n", str(NICE), sharectl, "-R"], inst) for _ in range(5)),
                     key=lambda r: r["wall"])
    touched_files = touch_media(corpus, True)
    touched = measure(["nice", "-n", str(NICE), sharectl, "-R"], inst)
    touch_media(corpus, False)
    items = count(r"^(\d+) item\(s\) were updated/added", first["out"])
    return {
        "first": first, "items": items, "rescan": rescans[2], "touched": touched, "touched_files": touched_files,
        "touched_added": count(r"^(\d+) item\(s\) were updated/added", touched["out"]),
        "rescan_added": count(r"^(\d+) item\(s\) were updated/added", rescans[2]["out"]),
        "rescan_removed": count(r"^(\d+) item\(s\) were removed", rescans[2]["out"]),
        "db": db, "admin": admin,
        "prepared": prepared / max(items, 1), "steps": steps / max(items, 1),
    }


def children(pid, task):
    try:
        with open(f"/proc/{pid}/task/{task}/children") as f:
            return f.read().split()
    except FileNotFoundError:
        return []


def minidlna_serve(conf, mdl, flag, done, settled):
    """Starts the server on conf with flag ("-R" rebuilds the database, "-r"
    rescans it), times it from its start to the log line matched by done,
    stops it once the line matched by settled has come too and returns its
    figures and the match of done."""
    log = os.path.join(mdl, "out.txt")
    usage_file = os.path.join(mdl, "usage")
    with open(log, "wb") as out:
        start = time.perf_counter()
        child = subprocess.Popen(timed(["minidlnad", "-f", conf, "-P", os.path.join(mdl, "pid"), flag, "-d"],
                                       usage_file), stdout=out, stderr=subprocess.STDOUT)
        wall, found, text = None, None, ""
        with open(log, errors="replace") as f:
            while True:
                # Only what came since the last look is new; a line may
                # arrive in pieces, so the tail of the text is kept.
                chunk = f.read()
                text = text[-4096:] + chunk
                if wall is None:
                    found = re.search(done, text)
                    if found:
                        wall = time.perf_counter() - start
                if wall is not None and re.search(settled, text):
                    whole = time.perf_counter() - start
                    break
                if child.poll() is not None:
                    sys.exit(f"minidlnad {flag} stopped before its scan finished")
                if not chunk:
                    time.sleep(0.01)
        # The server is the one child of /usr/bin/time. Its scanner runs in
        # a child process of its own: the server is stopped once that has
        # ended, so that its CPU time and memory are in the figures.
        with open(f"/proc/{child.pid}/task/{child.pid}/children") as f:
            server = int(f.read().split()[0])
        while any(children(server, task) for task in os.listdir(f"/proc/{server}/task")):
            time.sleep(0.01)
        # Stopped the moment its rescan ends, it now and then ignores the
        # first request to stop.
        os.kill(server, signal.SIGTERM)
        try:
            child.wait(timeout=10)
        except subprocess.TimeoutExpired:
            os.kill(server, signal.SIGKILL)
            child.wait()
    return dict(usage(usage_file), wall=wall, whole=whole), found


def minidlna_run(corpus, run_dir):
    mdl = os.path.join(run_dir, "minidlna")
    shutil.rmtree(mdl, ignore_errors=True)
    os.makedirs(os.path.join(mdl, "db"))
    os.makedirs(os.path.join(mdl, "log"))
    conf = os.path.join(mdl, "minidlna.conf")
    with open(conf, "w") as f:
        f.write(f"media_dir={corpus}\ndb_dir={mdl}/db\nlog_dir={mdl}/log\n"
                f"port={free_port()}\ninotify=no\nenable_tivo=no\nfriendly_name=scan-bench\n")
    # It still reads playlists and writes after its "finished" line (stopped
    # then, its database was short or malformed, and its next start scanned
    # everything again): it is stopped once it logs the whole scan done.
    first, found = minidlna_serve(conf, mdl, "-R", r"finished \((\d+) files\)", r"Initial file scan completed")
    db = mib(os.path.join(mdl, "db", "files.db"))
    # Its rescan of the unchanged corpus, the counterpart of sharectl -R,
    # ends with "Rescan completed."; the median of three counts.
    rescans = []
    for _ in range(3):
        ended = r"Rescan completed|Initial file scan completed"
        rescan, found_end = minidlna_serve(conf, mdl, "-r", ended, ended)
        if not found_end.group(0).startswith("Rescan"):
            sys.exit("minidlnad -r scanned the whole corpus again instead of rescanning it")
        rescans.append(rescan)
    rescans.sort(key=lambda r: r["wall"])
    return dict(first, items=int(found.group(1)), db=db, rescan=rescans[1])


def table(shape, scale, corpus, build, ours, theirs):
    med = statistics.median
    nfiles = sum(len(names) for _, _, names in os.walk(corpus))
    our_rate = [r["items"] / r["first"]["wall"] for r in ours]
    their_rate = [r["items"] / r["wall"] for r in theirs]
    their_whole_rate = [r["items"] / r["whole"] for r in theirs]
    rows = [
        ("items", spread([r["items"] for r in ours], "{:.0f}"), spread([r["items"] for r in theirs], "{:.0f}"), ""),
        ("first scan, wall s", spread([r["first"]["wall"] for r in ours], "{:.2f}"),
         spread([r["wall"] for r in theirs], "{:.2f}"),
         f"{med([r['first']['wall'] for r in ours]) / med([r['wall'] for r in theirs]):.2f}"),
        ("first scan, items/s", spread(our_rate, "{:.0f}"), spread(their_rate, "{:.0f}"),
         f"{med(our_rate) / med(their_rate):.2f}"),
        ("first scan, items/s until the library is complete (MiniDLNA: to \"Initial file scan completed\")",
         spread(our_rate, "{:.0f}"), spread(their_whole_rate, "{:.0f}"),
         f"{med(our_rate) / med(their_whole_rate):.2f}"),
        ("first scan to its very end, wall s (MiniDLNA: to \"Initial file scan completed\", playlists read)",
         spread([r["first"]["wall"] for r in ours], "{:.2f}"), spread([r["whole"] for r in theirs], "{:.2f}"),
         f"{med([r['first']['wall'] for r in ours]) / med([r['whole'] for r in theirs]):.2f}"),
        ("first scan, CPU s", spread([r["first"]["cpu"] for r in ours], "{:.2f}"),
         spread([r["cpu"] for r in theirs], "{:.2f}"),
         f"{med([r['first']['cpu'] for r in ours]) / med([r['cpu'] for r in theirs]):.2f}"),
        ("first scan, peak memory MiB", spread([r["first"]["peak"] for r in ours], "{:.1f}"),
         spread([r["peak"] for r in theirs], "{:.1f}"),
         f"{med([r['first']['peak'] for r in ours]) / med([r['peak'] for r in theirs]):.2f}"),
        ("database MiB after the first scan (ours: medialib.db + admin.db)",
         f"{med([r['db'] for r in ours]):.1f} + {med([r['admin'] for r in ours]):.1f}",
         f"{med([r['db'] for r in theirs]):.1f}",
         f"{med([r['db'] + r['admin'] for r in ours]) / med([r['db'] for r in theirs]):.2f}"),
        ("unchanged rescan s (ours: median of five; MiniDLNA -r: of three)",
         spread([r["rescan"]["wall"] for r in ours], "{:.3f}"), spread([r["rescan"]["wall"] for r in theirs], "{:.3f}"),
         f"{med([r['rescan']['wall'] for r in ours]) / med([r['rescan']['wall'] for r in theirs]):.2f}"),
        (f"rescan after touching {ours[0]['touched_files']} files, s",
         spread([r["touched"]["wall"] for r in ours], "{:.3f}") + f", {ours[0]['touched_added']} added", "", ""),
        ("first scan: statements compiled / stepped per item",
         f"{med([r['prepared'] for r in ours]):.1f} / {med([r['steps'] for r in ours]):.1f}", "", ""),
    ]
    named = f", sharectl of {build}" if len(builds) > 1 else ""
    print(f"\n#### Shape {shape}, scale {scale}: {nfiles} files, {len(ours)} runs each{named}\n")
    print("| measure | sharectl: median (range) | MiniDLNA: median (range) | sharectl / MiniDLNA |")
    print("|---|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")
    print(f"\nUnchanged rescan: {ours[0]['rescan_added']} added, {ours[0]['rescan_removed']} removed; "
          f"peak {spread([r['rescan']['peak'] for r in ours], '{:.1f}')} MiB.")
    sys.stdout.flush()


with open("/proc/loadavg") as f:
    print("Load average at start: " + " ".join(f.read().split()[:3]))
for shape in shapes:
    for scale in scales:
        corpus = os.path.join(work, f"corpus-{shape}-{scale}")
        run_dir = os.path.join(work, f"run-{shape}-{scale}")
        os.makedirs(run_dir, exist_ok=True)
        touch_media(corpus, False)
        ours, theirs = {build: [] for build in builds}, []
        for n in range(runs):
            # Rotate which program goes first, so that none always meets a
            # cold page cache or another's leftovers.
            turns = builds + [None]
            for build in turns[n % len(turns):] + turns[:n % len(turns)]:
                if build is None:
                    theirs.append(minidlna_run(corpus, run_dir))
                else:
                    ours[build].append(sharectl_run(corpus, run_dir, build))
        for build in builds:
            table(shape, scale, corpus, build, ours[build], theirs)
with open("/proc/loadavg") as f:
    print("\nLoad average at the end: " + " ".join(f.read().split()[:3]))
