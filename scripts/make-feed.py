#!/usr/bin/env python3
"""Writes a podcast feed, an M3U radio list and a page of links into FOLDER
for a web server at BASE (e.g. http://127.0.0.1:8000) to serve.

make-feed.py FOLDER BASE ENTRIES AUDIO... : podcast.rss gets ENTRIES items,
each with one of the AUDIO files (names in FOLDER, used in turn) as its
enclosure and cover.jpg as its image; radio.m3u lists every AUDIO file."""
import os
import sys
from xml.sax.saxutils import escape, quoteattr


def main():
    folder, base, entries, audio = sys.argv[1], sys.argv[2].rstrip("/"), int(sys.argv[3]), sys.argv[4:]
    items = []
    for n in range(entries):
        name = audio[n % len(audio)]
        size = os.path.getsize(os.path.join(folder, name))
        items.append(
            "<item><title>%s</title><enclosure url=%s length=\"%d\" type=\"audio/mpeg\"/>"
            "<enclosure url=%s length=\"1\" type=\"image/jpeg\"/></item>"
            % (escape("Episode %d: tea & \"toast\"" % (n + 1)), quoteattr("%s/%s?n=%d" % (base, name, n)), size,
               quoteattr(base + "/cover.jpg")))
    with open(os.path.join(folder, "podcast.rss"), "w", encoding="utf-8") as out:
        out.write("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\"><channel>"
                  "<title>Kitchen talk</title>%s</channel></rss>\n" % "".join(items))
    with open(os.path.join(folder, "radio.m3u"), "w", encoding="utf-8") as out:
        out.write("#EXTM3U\n")
        for n, name in enumerate(audio):
            out.write("#EXTINF:-1,Station %d\n%s/%s\n" % (n + 1, base, name))


if __name__ == "__main__":
    main()
