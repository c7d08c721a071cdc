#!/usr/bin/env python3
"""Browses a UPnP MediaServer's ContentDirectory over SOAP, as a player does,
and prints the tree below an object: titles, ids and each item's first URL;
with --didl TEXT, the DIDL-Lite of the first item below it whose DIDL-Lite
holds TEXT instead (its DLNA fields, thumbnail and subtitles as a TV reads them).

usage: upnp-browse.py DESCRIPTION_URL [ID] [--depth N] [--didl TEXT]
"""
import argparse
import urllib.parse
import urllib.request
import xml.etree.ElementTree as ET

CDS = "urn:schemas-upnp-org:service:ContentDirectory:1"
NS = {"d": "urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/", "dc": "http://purl.org/dc/elements/1.1/",
      "dev": "urn:schemas-upnp-org:device-1-0"}


def control_url(description_url):
    root = ET.fromstring(urllib.request.urlopen(description_url, timeout=10).read())
    for service in root.iter("{%s}service" % NS["dev"]):
        if service.findtext("dev:serviceType", namespaces=NS) == CDS:
            return urllib.parse.urljoin(description_url, service.findtext("dev:controlURL", namespaces=NS))
    raise SystemExit("no ContentDirectory in " + description_url)


def browse(control, object_id):
    body = ('<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"><s:Body>'
            '<u:Browse xmlns:u="%s"><ObjectID>%s</ObjectID><BrowseFlag>BrowseDirectChildren</BrowseFlag>'
            '<Filter>*</Filter><StartingIndex>0</StartingIndex><RequestedCount>0</RequestedCount>'
            '<SortCriteria></SortCriteria></u:Browse></s:Body></s:Envelope>' % (CDS, object_id))
    request = urllib.request.Request(control, body.encode(), {
        "Content-Type": 'text/xml; charset="utf-8"', "SOAPACTION": '"%s#Browse"' % CDS})
    answer = ET.fromstring(urllib.request.urlopen(request, timeout=10).read())
    return ET.fromstring(answer.find(".//Result").text)


def show(control, object_id, depth, indent=""):
    for entry in browse(control, object_id):
        title = entry.findtext("dc:title", namespaces=NS)
        res = entry.findtext("d:res", namespaces=NS)
        print("%s%s [%s]%s" % (indent, title, entry.get("id"), "  " + res if res else ""))
        if entry.tag.endswith("container") and depth > 1:
            show(control, entry.get("id"), depth - 1, indent + "  ")


def first_item(control, object_id, depth, text):
    for entry in browse(control, object_id):
        if entry.tag.endswith("item") and text in ET.tostring(entry, encoding="unicode"):
            return entry
        if entry.tag.endswith("container") and depth > 1:
            found = first_item(control, entry.get("id"), depth - 1, text)
            if found is not None:
                return found
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("description")
    parser.add_argument("id", nargs="?", default="0")
    parser.add_argument("--depth", type=int, default=1)
    parser.add_argument("--didl")
    args = parser.parse_args()
    if args.didl is None:
        show(control_url(args.description), args.id, args.depth)
        return
    for prefix, uri in [("dc", NS["dc"]), ("upnp", "urn:schemas-upnp-org:metadata-1-0/upnp/"),
                        ("dlna", "urn:schemas-dlna-org:metadata-1-0/"), ("sec", "http://www.sec.co.kr/"), ("", NS["d"])]:
        ET.register_namespace(prefix, uri)
    item = first_item(control_url(args.description), args.id, args.depth, args.didl)
    if item is None:
        raise SystemExit("no item below %s holds %s" % (args.id, args.didl))
    ET.indent(item)
    print(ET.tostring(item, encoding="unicode"))


if __name__ == "__main__":
    main()
