#!/usr/bin/python3
"""A real UPnP control point (GUPnP and GUPnP-AV through python3-gi) against mlserve.

control_point_test.py MLSETUP SHARECTL MLSERVE
  makes a library of tagged tones, serves it with mlserve in one network
  namespace, and from a second namespace joined to it by a veth pair (netns.sh)
  discovers the server, browses the root and a container, searches for audio
  items, parses every answer with GUPnP-AV's DIDL-Lite parser and fetches one
  item's res with a ranged GET. Exits 77 (skipped) without namespaces.
control_point_test.py --client INTERFACE MEDIA_DIR
  the control point itself, run inside the second namespace.
"""
import os
import subprocess
import sys
import urllib.request

import netns_harness

MEDIA_SERVER = "urn:schemas-upnp-org:device:MediaServer:1"
CONTENT_DIRECTORY = "urn:schemas-upnp-org:service:ContentDirectory:1"
AUDIO_ITEMS = 'upnp:class derivedfrom "object.item.audioItem"'
TONES = {"Tone A": "a.mp3", "Tone B": "b.mp3", "Tone C": "c.mp3"}


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


# ---- the control point, inside the second namespace ----

def discover(interface):
    """The ContentDirectory of the first MediaServer seen within 20 s."""
    import gi
    gi.require_version("GUPnP", "1.6")
    gi.require_version("GSSDP", "1.6")
    from gi.repository import GLib, GSSDP, GUPnP
    context = GUPnP.Context.new_full(interface, None, 0, GSSDP.UDAVersion.VERSION_1_0)
    control_point = GUPnP.ControlPoint.new(context, MEDIA_SERVER)
    loop = GLib.MainLoop()
    found = []

    def available(_, device):
        found.append(device)
        loop.quit()

    control_point.connect("device-proxy-available", available)
    control_point.set_active(True)
    GLib.timeout_add_seconds(20, loop.quit)
    loop.run()
    if not found:
        fail("no MediaServer announced itself on " + interface + " within 20 s")
    device = found[0]
    print("discovered %s at %s" % (device.get_friendly_name(), device.get_location()))
    service = device.get_service(CONTENT_DIRECTORY)
    if service is None:
        fail("the device has no ContentDirectory")
    return control_point, service


def call(service, action, arguments, results):
    from gi.repository import GObject, GUPnP
    values = []
    for value in arguments.values():
        kind = GObject.TYPE_UINT if isinstance(value, int) else GObject.TYPE_STRING
        values.append(GObject.Value(kind, value))
    request = GUPnP.ServiceProxyAction.new_from_list(action, list(arguments), values)
    service.call_action(request, None)
    ok, got = request.get_result_list(list(results), list(results.values()))
    if not ok:
        fail(action + " returned no result")
    return dict(zip(results, got))


def didl_objects(didl):
    """(containers, items) of a DIDL-Lite document, read by GUPnP-AV."""
    import gi
    gi.require_version("GUPnPAV", "1.0")
    from gi.repository import GUPnPAV
    containers, items = [], []
    parser = GUPnPAV.DIDLLiteParser()
    parser.connect("container-available", lambda _, c: containers.append(c))
    parser.connect("item-available", lambda _, i: items.append(i))
    parser.parse_didl(didl)
    return containers, items


def browse(service, object_id, flag="BrowseDirectChildren", start=0, count=0):
    from gi.repository import GObject
    got = call(service, "Browse",
               {"ObjectID": object_id, "BrowseFlag": flag, "Filter": "*",
                "StartingIndex": start, "RequestedCount": count, "SortCriteria": ""},
               {"Result": GObject.TYPE_STRING, "NumberReturned": GObject.TYPE_UINT,
                "TotalMatches": GObject.TYPE_UINT, "UpdateID": GObject.TYPE_UINT})
    containers, items = didl_objects(got["Result"])
    if got["NumberReturned"] != len(containers) + len(items):
        fail("Browse %s: NumberReturned %d for %d objects"
             % (object_id, got["NumberReturned"], len(containers) + len(items)))
    return containers, items


def search(service, criteria):
    from gi.repository import GObject
    got = call(service, "Search",
               {"ContainerID": "0", "SearchCriteria": criteria, "Filter": "*",
                "StartingIndex": 0, "RequestedCount": 100, "SortCriteria": ""},
               {"Result": GObject.TYPE_STRING, "NumberReturned": GObject.TYPE_UINT,
                "TotalMatches": GObject.TYPE_UINT, "UpdateID": GObject.TYPE_UINT})
    return didl_objects(got["Result"])[1]


def ranged_get(item, media_dir):
    """Fetches bytes 100-1099 of the item's res and compares them with its file."""
    uri = item.get_resources()[0].get_uri()
    with open(os.path.join(media_dir, TONES[item.get_title()]), "rb") as f:
        data = f.read()
    request = urllib.request.Request(uri, headers={"Range": "bytes=100-1099"})
    with urllib.request.urlopen(request, timeout=10) as answer:
        body = answer.read()
        if answer.status != 206:
            fail("GET %s with a range: status %d" % (uri, answer.status))
        expected_range = "bytes 100-1099/%d" % len(data)
        if answer.headers.get("Content-Range") != expected_range:
            fail("Content-Range %r, expected %r" % (answer.headers.get("Content-Range"), expected_range))
    if body != data[100:1100]:
        fail("the ranged GET of %s differs from its file" % uri)
    print("ranged GET %s: 206, %s, %d bytes equal to the file" % (uri, expected_range, len(body)))


def client(interface, media_dir):
    _control_point, service = discover(interface)
    containers, _ = browse(service, "0")
    print("root: " + ", ".join("%s (%s)" % (c.get_title(), c.get_id()) for c in containers))
    audio = next((c for c in containers if c.get_upnp_class().startswith("object.container")
                  and c.get_id() == "0/1"), None)
    if audio is None:
        fail("the root holds no Audio container \"0/1\"")
    children, _ = browse(service, audio.get_id())
    print("%s: %s" % (audio.get_title(), ", ".join(c.get_title() for c in children)))
    if not children:
        fail("Audio is empty")
    items = search(service, AUDIO_ITEMS)
    titles = sorted(i.get_title() for i in items)
    print("search for audio items: " + ", ".join(titles))
    if titles != sorted(TONES):
        fail("search found %s, expected %s" % (titles, sorted(TONES)))
    if any(not i.get_upnp_class().startswith("object.item.audioItem") for i in items):
        fail("search returned an item that is not audio")
    metadata = browse(service, items[0].get_id(), "BrowseMetadata")[1]
    if [m.get_title() for m in metadata] != [items[0].get_title()]:
        fail("BrowseMetadata of %s is not that item" % items[0].get_id())
    ranged_get(items[0], media_dir)
    print("PASS")


# ---- the harness, in the host's namespace ----

def run(command, **kwargs):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, **kwargs)


def make_library(top, mlsetup, sharectl):
    media = os.path.join(top, "media", "The Testers", "Tones")
    os.makedirs(media)
    for n, (title, name) in enumerate(sorted(TONES.items())):
        run(["ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i", "sine=frequency=%d:duration=3" % (300 + 100 * n),
             "-q:a", "9", "-metadata", "title=" + title, "-metadata", "artist=The Testers",
             "-metadata", "album=Tones", os.path.join(media, name)])
    library = os.path.join(top, "library")
    run([mlsetup, library])
    run([sharectl, "-S", os.path.join(top, "media")], cwd=library)
    return library, media


def main():
    if sys.argv[1:2] == ["--client"]:
        client(sys.argv[2], sys.argv[3])
        return
    mlsetup, sharectl, mlserve = sys.argv[1:4]
    with netns_harness.namespace_pair("mlserve-cp-") as (tag, top):
        library, media = make_library(top, mlsetup, sharectl)
        command = ["/usr/bin/python3", "-B", __file__, "--client", "ml%sb0" % tag, media]
        sys.exit(netns_harness.serve_and_run(tag, top, mlserve, library, command, timeout=90))


if __name__ == "__main__":
    main()
