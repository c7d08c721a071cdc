#!/usr/bin/env python3
"""Prints part of a library as an indented tree of titles, for people.

Run from an installation folder:
  show-library.py MLBROWSE ID [--title TITLE ...] [--depth N]
browses ID with mlbrowse, goes down through the children with the given
titles (one --title per level) and prints DEPTH levels below (default 2).
Items show their class and duration, containers their child count.
"""
import argparse
import subprocess
import sys
import xml.etree.ElementTree as ET

NS = {"d": "urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/",
      "dc": "http://purl.org/dc/elements/1.1/",
      "upnp": "urn:schemas-upnp-org:metadata-1-0/upnp/"}


def children(mlbrowse, oid):
    out = subprocess.run([mlbrowse, "browse", oid], check=True, capture_output=True, text=True).stdout
    for node in ET.fromstring(out):
        title = node.findtext("dc:title", "", NS)
        if node.tag.endswith("container"):
            yield node.get("id"), title, f"{title}/ ({node.get('childCount')})", True
        else:
            kind = node.findtext("upnp:class", "", NS).split(".")[-1]
            res = node.find("d:res", NS)
            duration = res.get("duration") if res is not None else None
            yield node.get("id"), title, f"{title}  [{kind}{' ' + duration if duration else ''}]", False


def descend(mlbrowse, oid, titles):
    for wanted in titles:
        found = [child for child, title, _, _ in children(mlbrowse, oid) if title == wanted]
        if not found:
            sys.exit(f"show-library: no child titled {wanted!r} under {oid}")
        oid = found[0]
    return oid


def show(mlbrowse, oid, depth, indent=""):
    for child, _, label, is_container in children(mlbrowse, oid):
        print(f"{indent}{label}")
        if is_container and depth > 1:
            show(mlbrowse, child, depth - 1, indent + "    ")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("mlbrowse")
    parser.add_argument("id")
    parser.add_argument("--title", action="append", default=[])
    parser.add_argument("--depth", type=int, default=2)
    args = parser.parse_args()
    show(args.mlbrowse, descend(args.mlbrowse, args.id, args.title), args.depth)


if __name__ == "__main__":
    main()
