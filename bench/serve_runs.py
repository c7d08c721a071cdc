"""serve_runs.py BUILD WORK CORPUS LARGE RUNS SECONDS: the runs of serve.sh
(which says what is measured). Each server is prepared once (mlserve's
installation shared with sharectl, MiniDLNA's database built with -R and
kept), then started and stopped once per run. Object ids differ between the
two, so each run finds its containers by title: the 1,000 photos of the
corpus are Photos > Photo Indexes > All in ours and Pictures > All Pictures in
MiniDLNA; the large file is found by a title search. Every figure is checked
to be a real answer (a full page of objects, no non-2xx response) before it
counts."""
import os
import re
import signal
import shutil
import statistics
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor
import urllib.parse
import urllib.request
import xml.etree.ElementTree as ET
from xml.sax.saxutils import escape

from bench_common import free_port, listen_on_loopback, spread

build, work, corpus, large, runs, seconds = sys.argv[1:5] + [int(sys.argv[5]), int(sys.argv[6])]
bench = os.path.dirname(os.path.abspath(__file__))
CDS = "urn:schemas-upnp-org:service:ContentDirectory:1"
DIDL = "{urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/}"
DC_TITLE = "{http://purl.org/dc/elements/1.1/}title"
AUDIO = 'upnp:class derivedfrom "object.item.audioItem"'
TITLE_SEARCH = 'dc:title contains "Garden"'


def soap_body(action, arguments):
    inner = "".join(f"<{k}>{escape(str(v))}</{k}>" for k, v in arguments.items())
    return ('<?xml version="1.0" encoding="utf-8"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" '
            's:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body>'
            f'<u:{action} xmlns:u="{CDS}">{inner}</u:{action}></s:Body></s:Envelope>')


def browse_args(object_id, flag="BrowseDirectChildren", start=0, count=100):
    return {"ObjectID": object_id, "BrowseFlag": flag, "Filter": "*", "StartingIndex": start,
            "RequestedCount": count, "SortCriteria": ""}


def search_args(criteria):
    return {"ContainerID": "0", "SearchCriteria": criteria, "Filter": "*", "StartingIndex": 0,
            "RequestedCount": 100, "SortCriteria": ""}


def thumbnail_url(element):
    """The JPEG_TN picture of a DIDL-Lite object: its albumArtURI, or a res of that profile."""
    for child in element:
        if child.tag.endswith("albumArtURI") or "JPEG_TN" in child.get("protocolInfo", ""):
            return child.text
    return None


def call(control, action, arguments):
    """The DIDL-Lite objects of an answer: (id, title, res, thumbnail) for each."""
    request = urllib.request.Request(control, soap_body(action, arguments).encode(), method="POST", headers={
        "Content-Type": 'text/xml; charset="utf-8"', "SOAPACTION": f'"{CDS}#{action}"'})
    with urllib.request.urlopen(request, timeout=30) as answer:
        envelope = ET.fromstring(answer.read())
    result = next(e for e in envelope.iter() if e.tag.endswith("Result"))
    objects = []
    for element in ET.fromstring(result.text or "<DIDL-Lite/>"):
        res = element.find(DIDL + "res")
        objects.append((element.get("id"), element.findtext(DC_TITLE), res.text if res is not None else None,
                        thumbnail_url(element)))
    return objects


def find_path(control, titles):
    object_id = "0"
    for title in titles:
        children = call(control, "Browse", browse_args(object_id, count=0))
        object_id = next((c[0] for c in children if c[1] == title), None)
        if object_id is None:
            sys.exit(f"no container {title!r} under {' > '.join(titles)}")
    return object_id


class Server:
    """One of the two servers: how to prepare, start and stop it, and where
    its ContentDirectory and its 1,000-photo container are."""

    def __init__(self, name, folder, description, photo_path):
        self.name, self.folder, self.photo_path = name, folder, photo_path
        self.port = free_port()
        self.base = f"http://127.0.0.1:{self.port}"
        self.description = self.base + description
        self.process = None

    def wait_ready(self):
        end = time.time() + 120
        while time.time() < end:
            if self.process.poll() is not None:
                sys.exit(f"{self.name} stopped at start; see {self.folder}")
            try:
                with urllib.request.urlopen(self.description, timeout=2) as answer:
                    text = answer.read().decode()
                path = re.search(rf"<serviceType>{CDS}</serviceType>.*?<controlURL>(.*?)</controlURL>", text, re.S)
                return self.base + path.group(1)
            except OSError:
                time.sleep(0.2)
        sys.exit(f"{self.name} did not answer within two minutes")

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()

    def memory(self):
        """VmRSS and VmHWM of the server process, MiB."""
        with open(f"/proc/{self.server_pid()}/status") as f:
            status = dict(line.split(":", 1) for line in f)
        return [int(status[k].split()[0]) / 1024 for k in ("VmRSS", "VmHWM")]


class Mlserve(Server):
    def __init__(self):
        super().__init__("mlserve", os.path.join(work, "serve-ml"), "/description.xml",
                         ["Photos", "Photo Indexes", "All"])

    def prepare(self):
        if not os.path.isdir(self.folder):
            subprocess.run([os.path.join(build, "tools", "mlsetup"), self.folder], check=True,
                           stdout=subprocess.DEVNULL)
            subprocess.run([os.path.join(build, "sharectl", "sharectl"), "-S", corpus, "-S", large],
                           cwd=self.folder, check=True, stdout=subprocess.DEVNULL)
        listen_on_loopback(self.folder, self.port)

    def start(self):
        # Every run meets thumbnails that are not made yet.
        shutil.rmtree(os.path.join(self.folder, "data", "cache", "thumbnails"), ignore_errors=True)
        self.log = open(os.path.join(self.folder, "mlserve.out"), "w")
        self.process = subprocess.Popen([os.path.join(build, "server", "mlserve")], cwd=self.folder,
                                        stdout=self.log, stderr=subprocess.STDOUT)
        return self.wait_ready()

    def server_pid(self):
        return self.process.pid


class MiniDlna(Server):
    def __init__(self):
        super().__init__("MiniDLNA", os.path.join(work, "serve-mdl"), "/rootDesc.xml", ["Pictures", "All Pictures"])
        self.conf = os.path.join(self.folder, "minidlna.conf")

    def prepare(self):
        built = os.path.exists(os.path.join(self.folder, "built"))
        os.makedirs(os.path.join(self.folder, "db"), exist_ok=True)
        with open(self.conf, "w") as f:
            f.write(f"media_dir={corpus}\nmedia_dir={large}\ndb_dir={self.folder}/db\nlog_dir={self.folder}\n"
                    f"port={self.port}\ninotify=no\nenable_tivo=no\n"
                    "friendly_name=serve-bench\n")
        if built:
            return
        # Its database is built once; it is done with the line below.
        self.start(["-R"])
        with open(self.log.name, errors="replace") as f:
            while "Initial file scan completed" not in f.read():
                time.sleep(0.2)
        self.stop()
        open(os.path.join(self.folder, "built"), "w").close()

    def start(self, extra=()):
        self.log = open(os.path.join(self.folder, "out.txt"), "w")
        self.process = subprocess.Popen(["minidlnad", "-f", self.conf, "-P", os.path.join(self.folder, "pid"),
                                         "-d", *extra], stdout=self.log, stderr=subprocess.STDOUT)
        return self.wait_ready()

    def server_pid(self):
        # It forks a process per file it sends; the server is the first.
        return self.process.pid


def wrk(url, connections, action, arguments):
    body = os.path.join(work, f"soap-{action}.xml")
    with open(body, "w") as f:
        f.write(soap_body(action, arguments))
    threads = min(connections, 2)
    out = subprocess.run(["wrk", f"-t{threads}", f"-c{connections}", f"-d{seconds}s", "--latency",
                          "-s", os.path.join(bench, "soap.lua"), url, "--", action, body],
                         capture_output=True, text=True, check=True).stdout
    if re.search(r"Non-2xx or 3xx responses|Socket errors: connect [1-9]", out):
        sys.exit(f"wrk met failed requests:\n{out}")

    def ms(label):
        value, unit = re.search(rf"^\s+{label}\s+([\d.]+)(us|ms|s)\s*$", out, re.M).groups()
        return float(value) * {"us": 0.001, "ms": 1, "s": 1000}[unit]

    return {"p50": ms("50%"), "p99": ms("99%"), "rps": float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1))}


def reachable(url):
    """url with 127.0.0.1 for a missing host: with no interface but loopback
    MiniDLNA leaves the host out of its URLs."""
    parts = urllib.parse.urlsplit(url)
    if not parts.hostname:
        url = parts._replace(netloc="127.0.0.1" + parts.netloc).geturl()
    return url


def stream(url):
    """MB/s of a GET from byte 1,000,000 to the end, the median of three."""
    url = reachable(url)
    speeds = []
    for _ in range(3):
        code, speed = subprocess.run(["curl", "-s", "-o", "/dev/null", "-r", "1000000-", "-w",
                                      "%{http_code} %{speed_download}", url],
                                     capture_output=True, text=True, check=True).stdout.split()
        if code != "206":
            sys.exit(f"ranged GET of {url}: {code}")
        speeds.append(float(speed) / 1e6)
    return statistics.median(speeds)


def fetch_ms(url):
    start = time.perf_counter()
    with urllib.request.urlopen(reachable(url), timeout=60) as answer:
        answer.read()
    return (time.perf_counter() - start) * 1000


def thumbnails(control, photos):
    """ms to the first thumbnail of a photo not asked before, to it again, and
    from a Browse of 100 other photos to the last of their 100 thumbnails
    fetched by 4 connections, as a TV filling its grid."""
    first = call(control, "Browse", browse_args(photos, count=1))[0][3]
    figures = {"thumb cold": fetch_ms(first), "thumb cached": fetch_ms(first)}
    start = time.perf_counter()
    urls = [o[3] for o in call(control, "Browse", browse_args(photos, start=100))]
    if None in urls:
        sys.exit("a photo of the page has no thumbnail")
    with ThreadPoolExecutor(4) as pool:
        list(pool.map(fetch_ms, urls))
    figures["grid"] = (time.perf_counter() - start) * 1000
    return figures


def measure(server):
    control = server.start()
    try:
        time.sleep(1)
        figures = {"idle": server.memory()}
        photos = find_path(control, server.photo_path)
        page = call(control, "Browse", browse_args(photos, start=900))
        item = call(control, "Browse", browse_args(photos, count=1))[0][0]
        large_res = next(o[2] for o in call(control, "Search", search_args('dc:title contains "large"')) if o[2])
        queries = {
            "Browse root": ("Browse", browse_args("0")),
            "Browse 1,000-photo container, from 0": ("Browse", browse_args(photos)),
            "Browse 1,000-photo container, from 900": ("Browse", browse_args(photos, start=900)),
            "BrowseMetadata of an item": ("Browse", browse_args(item, "BrowseMetadata", count=0)),
            "Search audio items (first 100)": ("Search", search_args(AUDIO)),
            "Search title contains \"Garden\"": ("Search", search_args(TITLE_SEARCH)),
        }
        if len(page) != 100:
            sys.exit(f"{server.name}: the photo container from 900 gave {len(page)} objects, not 100")
        for name, (action, arguments) in queries.items():
            figures[name] = dict(wrk(control, 1, action, arguments), found=len(call(control, action, arguments)))
        figures["16 clients"] = wrk(control, 16, "Browse", browse_args(photos))
        figures["stream"] = stream(large_res)
        figures.update(thumbnails(control, photos))
        figures["load"] = server.memory()
        return figures
    finally:
        server.stop()


def rows(ours, theirs):
    """(figure, ours, theirs, ratio, target, met) for every measured figure."""
    def row(label, pick, fmt, target, better_low):
        a, b = [pick(r) for r in ours], [pick(r) for r in theirs]
        ratio = statistics.median(a) / statistics.median(b)
        met = ratio <= target if better_low else ratio >= target
        sign = "≤" if better_low else "≥"
        return (label, spread(a, fmt), spread(b, fmt), f"{ratio:.2f}", f"{sign} {target:g}", "yes" if met else "**no**")

    table = []
    for name in [k for k in ours[0] if isinstance(ours[0][k], dict) and "found" in ours[0][k]]:
        found = f" ({ours[0][name]['found']} / {theirs[0][name]['found']} objects)"
        table.append(row(f"{name}{found}: p50 ms", lambda r: r[name]["p50"], "{:.2f}", 0.5, True))
        table.append(row(f"{name}: p99 ms", lambda r: r[name]["p99"], "{:.2f}", 1, True))
    table.append(row("Browse of the photo page, 16 clients: requests/s", lambda r: r["16 clients"]["rps"],
                     "{:.0f}", 2, False))
    table.append(row("ranged GET of a 115 MB file: MB/s", lambda r: r["stream"], "{:.0f}", 1, False))
    table.append(row("first thumbnail of a photo, not made before: ms", lambda r: r["thumb cold"], "{:.1f}", 1,
                     True))
    table.append(row("the same thumbnail again: ms", lambda r: r["thumb cached"], "{:.1f}", 1, True))
    table.append(row("Browse of 100 photos and their 100 thumbnails (4 connections), to the last: ms",
                     lambda r: r["grid"], "{:.0f}", 1, True))
    table.append(row("memory idle (VmRSS) MiB", lambda r: r["idle"][0], "{:.1f}", 1, True))
    table.append(row("peak memory after the load (VmHWM) MiB", lambda r: r["load"][1], "{:.1f}", 1, True))
    return table


def main():
    with open("/proc/loadavg") as f:
        print("Load average at start: " + " ".join(f.read().split()[:3]))
    servers = [Mlserve(), MiniDlna()]
    for server in servers:
        server.prepare()
    results = {server.name: [] for server in servers}
    for n in range(runs):
        # Alternate which server goes first, so that neither always meets a
        # cold page cache or the other's leftovers.
        for server in servers if n % 2 == 0 else servers[::-1]:
            results[server.name].append(measure(server))
    print(f"\n{runs} runs, {seconds} s per wrk figure; latency with one client at a time, a new connection "
          "per request.\n")
    print("| figure | mlserve | MiniDLNA | ratio | target | met |")
    print("|---|---|---|---|---|---|")
    for line in rows(results["mlserve"], results["MiniDLNA"]):
        print("| " + " | ".join(line) + " |")
    with open("/proc/loadavg") as f:
        print("\nLoad average at the end: " + " ".join(f.read().split()[:3]))


main()
