#!/usr/bin/env python3
"""didl-dump.py MLSERVE INSTALL: prints every answer a control point can get
from the library of an installation folder, for comparing two builds of
mlserve with diff: the BrowseDirectChildren pages (all children) of every
container reached from the root, the BrowseMetadata of every object, and a
set of searches, each answer's SOAP body as the server sent it. What varies
between runs is blanked: UpdateID (the start time) and the port in URLs.
The installation's config.xml gets a free port on 127.0.0.1."""
import re
import subprocess
import sys
import time
import urllib.request
import xml.etree.ElementTree as ET
from xml.sax.saxutils import escape

from bench_common import free_port, listen_on_loopback

CDS = "urn:schemas-upnp-org:service:ContentDirectory:1"
SEARCHES = ['upnp:class derivedfrom "object.item.audioItem"', 'upnp:class derivedfrom "object.item.imageItem"',
            'dc:title contains "Garden"', 'upnp:artist exists true', '*',
            'upnp:class = "object.container.album.musicAlbum"']
DIDL_ID = re.compile(r'<(?:container|item) id="([^"]*)"')


def soap(port, action, arguments):
    inner = "".join(f"<{k}>{escape(str(v))}</{k}>" for k, v in arguments.items())
    body = ('<?xml version="1.0" encoding="utf-8"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/">'
            f'<s:Body><u:{action} xmlns:u="{CDS}">{inner}</u:{action}></s:Body></s:Envelope>')
    request = urllib.request.Request(f"http://127.0.0.1:{port}/control/ContentDirectory", body.encode(),
                                     method="POST", headers={"SOAPACTION": f'"{CDS}#{action}"'})
    try:
        with urllib.request.urlopen(request, timeout=30) as answer:
            text = answer.read().decode()
    except urllib.error.HTTPError as error:
        text = error.read().decode()
    return re.sub(r"<UpdateID>\d+</UpdateID>", "<UpdateID/>", text).replace(f"127.0.0.1:{port}", "127.0.0.1:PORT")


def result_ids(text):
    result = next((e.text or "" for e in ET.fromstring(text).iter() if e.tag.endswith("Result")), "")
    return [(m.group(1), m.group(0).startswith("<container")) for m in DIDL_ID.finditer(result)]


def dump(port):
    pending, seen = ["0"], set()
    while pending:
        oid = pending.pop()
        args = {"ObjectID": oid, "Filter": "*", "StartingIndex": 0, "RequestedCount": 0, "SortCriteria": ""}
        print(oid, "metadata", soap(port, "Browse", {**args, "BrowseFlag": "BrowseMetadata"}))
        children = soap(port, "Browse", {**args, "BrowseFlag": "BrowseDirectChildren"})
        print(oid, "children", children)
        if "<Result>" not in children:
            continue
        for child, container in result_ids(children):
            if child in seen:
                continue
            seen.add(child)
            if container:
                pending.append(child)
            else:
                print(child, "metadata", soap(port, "Browse", {**args, "ObjectID": child,
                                                               "BrowseFlag": "BrowseMetadata"}))
    for criteria in SEARCHES:
        for start, count in ((0, 100), (50, 0)):
            print("search", criteria, start, soap(port, "Search", {
                "ContainerID": "0", "SearchCriteria": criteria, "Filter": "*", "StartingIndex": start,
                "RequestedCount": count, "SortCriteria": ""}))


def main():
    mlserve, folder = sys.argv[1:3]
    port = free_port()
    listen_on_loopback(folder, port)
    server = subprocess.Popen([mlserve], cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):
            try:
                urllib.request.urlopen(f"http://127.0.0.1:{port}/description.xml", timeout=1).read()
                break
            except OSError:
                time.sleep(0.1)
        dump(port)
    finally:
        server.terminate()
        server.wait()


if __name__ == "__main__":
    main()
