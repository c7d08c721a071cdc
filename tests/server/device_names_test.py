#!/usr/bin/python3
"""A TV known by the description it announces over SSDP, across a namespace pair.

device_names_test.py MLSETUP SHARECTL MLSERVE
  serves a library holding a Matroska clip with mlserve in one network
  namespace (netns.sh); in the second, a fake TV at 169.254.27.2 with a
  generic User-Agent browses (standard MIME type), announces itself with
  NOTIFY ssdp:alive, and browses again until it gets the Samsung quirk
  (video/x-mkv). Before that, a spoofed NOTIFY from the TV names a third
  host (169.254.27.3) and one comes from an address the access rules refuse
  (169.254.27.4): neither is fetched. Exits 77 (skipped) without namespaces.
device_names_test.py --tv
  the TV itself, run inside the second namespace.
"""
import http.client
import http.server
import os
import re
import socket
import subprocess
import sys
import threading
import time

import netns_harness

SERVER = "169.254.27.1"
TV, THIRD_HOST, REFUSED = "169.254.27.2", "169.254.27.3", "169.254.27.4"
PORT = 41952
TV_PORT = 8200
AGENT = "Linux/6.1 UPnP/1.0 DLNADOC/1.50"
DESCRIPTION = """<?xml version="1.0"?>
<root xmlns="urn:schemas-upnp-org:device-1-0" xmlns:sec="http://www.sec.co.kr/dlna">
 <specVersion><major>1</major><minor>0</minor></specVersion>
 <device>
  <deviceType>urn:schemas-upnp-org:device:MediaRenderer:1</deviceType>
  <friendlyName>[TV] Samsung Q60 Series (55)</friendlyName>
  <manufacturer>Samsung Electronics</manufacturer>
  <modelName>QE55Q60RATXXC</modelName>
  <UDN>uuid:1f2e3d4c-0000-1000-8000-00aa00bb00cc</UDN>
 </device>
</root>
"""


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


# ---- the TV, inside the second namespace ----

def serve_descriptions():
    """One description server per address of the TV's side; the paths each was asked for."""
    asked = {}

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            asked[self.server.server_address[0]].append(self.path)
            body = DESCRIPTION.encode()
            self.send_response(200)
            self.send_header("Content-Type", "text/xml")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    for address in (TV, THIRD_HOST, REFUSED):
        asked[address] = []
        server = http.server.ThreadingHTTPServer((address, TV_PORT), Handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
    return asked


def notify(source, location):
    text = ("NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nCACHE-CONTROL: max-age=1800\r\n"
            "LOCATION: %s\r\nNT: upnp:rootdevice\r\nNTS: ssdp:alive\r\nSERVER: %s\r\n"
            "USN: uuid:1f2e3d4c-0000-1000-8000-00aa00bb00cc::upnp:rootdevice\r\n\r\n" % (location, AGENT))
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind((source, 0))
        s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(source))
        s.sendto(text.encode(), ("239.255.255.250", 1900))


def soap_browse(object_id):
    """The DIDL-Lite of the children of object_id, asked from the TV's address."""
    body = ('<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"><s:Body>'
            '<u:Browse xmlns:u="urn:schemas-upnp-org:service:ContentDirectory:1"><ObjectID>%s</ObjectID>'
            '<BrowseFlag>BrowseDirectChildren</BrowseFlag><Filter>*</Filter><StartingIndex>0</StartingIndex>'
            '<RequestedCount>0</RequestedCount><SortCriteria></SortCriteria></u:Browse></s:Body></s:Envelope>'
            % object_id)
    connection = http.client.HTTPConnection(SERVER, PORT, timeout=10, source_address=(TV, 0))
    connection.request("POST", "/control/ContentDirectory", body.encode(), {
        "User-Agent": AGENT, "Content-Type": 'text/xml; charset="utf-8"',
        "SOAPACTION": '"urn:schemas-upnp-org:service:ContentDirectory:1#Browse"'})
    answer = connection.getresponse().read().decode()
    connection.close()
    return answer.replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", '"').replace("&amp;", "&")


def clip_mime():
    """The MIME type the server gives the clip (the library's one video), found by browsing down from the root."""
    waiting = ["0"]
    while waiting:
        didl = soap_browse(waiting.pop())
        found = re.search(r'protocolInfo="http-get:\*:(video/[^:]+):', didl)
        if found:
            return found.group(1)
        waiting += re.findall(r'<container id="([^"]+)"', didl)
    fail("no video found by browsing")


def wait_for_server():
    for _ in range(200):
        try:
            connection = http.client.HTTPConnection(SERVER, PORT, timeout=2)
            connection.request("GET", "/description.xml")
            if connection.getresponse().status == 200:
                return
        except OSError:
            time.sleep(0.1)
    fail("mlserve did not answer within 20 s")


def tv():
    asked = serve_descriptions()
    wait_for_server()
    before = clip_mime()
    if before != "video/x-matroska":
        fail("before announcing, the TV got %s" % before)
    notify(TV, "http://%s:%d/spoofed.xml" % (THIRD_HOST, TV_PORT))
    notify(REFUSED, "http://%s:%d/refused.xml" % (REFUSED, TV_PORT))
    for _ in range(2):
        notify(TV, "http://%s:%d/tv.xml" % (TV, TV_PORT))
    for _ in range(60):
        if clip_mime() == "video/x-mkv":
            break
        time.sleep(0.25)
    else:
        fail("after announcing, the TV never got video/x-mkv; descriptions asked: %s" % asked)
    print("standard behaviour before the announcement, the Samsung quirk after it")
    if asked[THIRD_HOST] or asked[REFUSED]:
        fail("a spoofed or refused LOCATION was fetched: %s" % asked)
    if asked[TV] != ["/tv.xml"]:
        fail("the TV's description was asked for %s, expected once" % asked[TV])
    print("one fetch from the TV; none from the third host or the refused address")
    print("PASS")


# ---- the harness, in the host's namespace ----

def run(command, **kwargs):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, **kwargs)


def make_library(top, mlsetup, sharectl):
    media = os.path.join(top, "media")
    os.makedirs(media)
    run(["ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i", "testsrc=duration=1:size=160x120:rate=10",
         "-c:v", "mpeg4", os.path.join(media, "clip.mkv")])
    library = os.path.join(top, "library")
    run([mlsetup, library])
    config = os.path.join(library, "config.xml")
    text = open(config).read().replace("<threadPool ", '<noauth from="%s"/><threadPool ' % REFUSED, 1)
    open(config, "w").write(text)
    run([sharectl, "-S", media], cwd=library)
    return library


def main():
    if sys.argv[1:2] == ["--tv"]:
        tv()
        return
    mlsetup, sharectl, mlserve = sys.argv[1:4]
    with netns_harness.namespace_pair("mlserve-tv-") as (tag, top):
        for address in (THIRD_HOST, REFUSED):
            run(["ip", "-n", "ml%sb" % tag, "addr", "add", address + "/16", "dev", "ml%sb0" % tag])
        library = make_library(top, mlsetup, sharectl)
        sys.exit(netns_harness.serve_and_run(tag, top, mlserve, library, ["/usr/bin/python3", "-B", __file__, "--tv"],
                                             timeout=120))


if __name__ == "__main__":
    main()
