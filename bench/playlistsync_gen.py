#!/usr/bin/env python3
"""Writes an iTunes library file for benchmarking playlistsync.

The file has the shape iTunes gives it: a plist whose top-level dict holds
"Tracks" keyed by track id (about twenty keys per track) and "Playlists"
with a master playlist of every track followed by smaller ones. The content
is deterministic for a given seed, so two runs produce the same bytes;
--edit N appends one more track to playlist N, to measure a run in which a
single playlist changed.
"""
import argparse
import random

KINDS = [("mp3", "MPEG audio file"), ("m4a", "AAC audio file"), ("wma", "Windows Media audio file"),
         ("mp4", "MPEG-4 video file"), ("asf", "Windows Media file"), ("ogg", "Ogg file")]
WORDS = ["Blue", "Night", "River", "Song", "Dream", "Fire", "Été", "Straße", "Любовь", "夜", "Road", "Home",
         "Rain", "Gold", "Heart", "Light", "Stone", "Wind", "Sea", "Sky"]


def esc(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def url_path(text):
    out = []
    for byte in text.encode("utf-8"):
        ch = chr(byte)
        out.append(ch if ch.isalnum() and byte < 128 or ch in "/-_.:" else "%%%02X" % byte)
    return "".join(out)


def title(rng):
    return " ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 4)))


def write_track(out, rng, track_id):
    extension, kind = rng.choice(KINDS)
    name = title(rng)
    artist = title(rng)
    album = title(rng)
    location = "file://localhost/C:/Users/Music/iTunes/" + url_path("%s/%s/%d %s.%s" % (artist, album, track_id, name, extension))
    out.write("\t\t<key>%d</key>\n\t\t<dict>\n" % track_id)
    pairs = [
        ("Track ID", "integer", str(track_id)), ("Name", "string", esc(name)), ("Artist", "string", esc(artist)),
        ("Album Artist", "string", esc(artist)), ("Album", "string", esc(album)), ("Genre", "string", "Rock"),
        ("Kind", "string", kind), ("Size", "integer", str(rng.randint(10 ** 6, 10 ** 7))),
        ("Total Time", "integer", str(rng.randint(60000, 600000))), ("Track Number", "integer", str(rng.randint(1, 20))),
        ("Year", "integer", str(rng.randint(1960, 2010))), ("Date Modified", "date", "2009-05-11T19:22:03Z"),
        ("Date Added", "date", "2009-05-11T19:22:05Z"), ("Bit Rate", "integer", "256"),
        ("Sample Rate", "integer", "44100"), ("Play Count", "integer", str(rng.randint(0, 50))),
        ("Persistent ID", "string", "%016X" % rng.getrandbits(64)), ("Track Type", "string", "File"),
        ("Location", "string", esc(location)), ("File Folder Count", "integer", "4"),
        ("Library Folder Count", "integer", "1"),
    ]
    for key, element, value in pairs:
        out.write("\t\t\t<key>%s</key><%s>%s</%s>\n" % (key, element, value, element))
    if rng.random() < 0.02:
        out.write("\t\t\t<key>Protected</key><true/>\n")
    out.write("\t\t</dict>\n")


def write_playlist(out, name, playlist_id, items):
    out.write("\t\t<dict>\n\t\t\t<key>Name</key><string>%s</string>\n" % esc(name))
    out.write("\t\t\t<key>Playlist ID</key><integer>%d</integer>\n" % playlist_id)
    out.write("\t\t\t<key>Playlist Persistent ID</key><string>%016X</string>\n" % (playlist_id * 7919))
    out.write("\t\t\t<key>All Items</key><true/>\n\t\t\t<key>Playlist Items</key>\n\t\t\t<array>\n")
    for track_id in items:
        out.write("\t\t\t\t<dict>\n\t\t\t\t\t<key>Track ID</key><integer>%d</integer>\n\t\t\t\t</dict>\n" % track_id)
    out.write("\t\t\t</array>\n\t\t</dict>\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("output")
    parser.add_argument("--tracks", type=int, default=50000)
    parser.add_argument("--playlists", type=int, default=500)
    parser.add_argument("--edit", type=int, default=-1, help="playlist number that gets one more track")
    parser.add_argument("--seed", type=int, default=20260101)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    first_id = 1000
    ids = list(range(first_id, first_id + args.tracks))
    with open(args.output, "w", encoding="utf-8") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n<!DOCTYPE plist PUBLIC "-//Apple Computer//DTD PLIST 1.0//EN" '
                  '"http://www.apple.com/DTDs/PropertyList-1.0.dtd">\n<plist version="1.0">\n<dict>\n')
        out.write("\t<key>Major Version</key><integer>1</integer>\n\t<key>Minor Version</key><integer>1</integer>\n")
        out.write("\t<key>Application Version</key><string>9.2.1</string>\n\t<key>Tracks</key>\n\t<dict>\n")
        for track_id in ids:
            write_track(out, rng, track_id)
        out.write("\t</dict>\n\t<key>Playlists</key>\n\t<array>\n")
        write_playlist(out, "Library", 1, ids)
        for number in range(1, args.playlists):
            items = rng.sample(ids, rng.randint(10, 400))
            if number == args.edit:
                items.append(ids[0])
            write_playlist(out, "%s %d" % (title(rng), number), number + 1, items)
        out.write("\t</array>\n\t<key>Music Folder</key><string>file://localhost/C:/Users/Music/iTunes/</string>\n"
                  "</dict>\n</plist>\n")


if __name__ == "__main__":
    main()
