#!/usr/bin/env python3
"""feed-links.py BUILD WORK: shares, with sharectl -B, feeds written in the
shapes of a podcast parser's test feeds (RSS 2.0, Atom, RDF; absolute,
relative, root-relative and white-space-padded links; web-page links beside
or instead of media; a feed reached through a redirection) from a server on
127.0.0.1, and compares the items' res URLs with the enclosure URLs a
podcast client expects. Prints one line per feed and "N of M agree"; exits
1 when one differs. Each feed gets an installation of its own in WORK."""
import html
import http.server
import os
import shutil
import sqlite3
import subprocess
import sys
import threading

RSS = '<?xml version="1.0"?><rss version="2.0" xmlns:media="http://search.yahoo.com/mrss/"><channel><title>T</title>{}</channel></rss>'
ATOM = '<?xml version="1.0"?><feed xmlns="http://www.w3.org/2005/Atom"><title>T</title>{}</feed>'
RDF = ('<?xml version="1.0"?><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#" '
       'xmlns="http://purl.org/rss/1.0/" xmlns:enc="http://purl.oclc.org/net/rss_2.0/enc#"><channel><title>T</title>'
       '</channel>{}</rdf:RDF>')

# name, document ({b}: the server's base URL), expected enclosure URLs.
FEEDS = [
    ("rss-absolute", RSS.format('<item><title>1</title><enclosure url="{b}/a/e1.mp3" length="10" type="audio/mpeg"/></item>'),
     ["{b}/a/e1.mp3"]),
    ("rss-padded", RSS.format('<item><title>1</title><enclosure url="  {b}/a/e1.mp3\n" type="audio/mpeg"/></item>'),
     ["{b}/a/e1.mp3"]),
    ("rss-relative", RSS.format('<item><title>1</title><enclosure url="e2.mp3" type="audio/mpeg"/></item>'),
     ["{b}/feeds/e2.mp3"]),
    ("rss-root-relative", RSS.format('<item><title>1</title><enclosure url="/a/e3.mp3" type="audio/mpeg"/></item>'),
     ["{b}/a/e3.mp3"]),
    ("rss-parent-relative", RSS.format('<item><title>1</title><enclosure url="../a/e4.mp3" type="audio/mpeg"/></item>'),
     ["{b}/a/e4.mp3"]),
    ("rss-entity", RSS.format('<item><title>1</title><enclosure url="{b}/a/e5.mp3?x=1&amp;y=2" type="audio/mpeg"/></item>'),
     ["{b}/a/e5.mp3?x=1&y=2"]),
    ("rss-link-only", RSS.format('<item><title>1</title><link>{b}/watch?v=1</link></item>'), []),
    ("rss-media-link", RSS.format('<item><title>1</title><link>{b}/a/e0.mp3</link></item>'), ["{b}/a/e0.mp3"]),
    ("rss-html-enclosure", RSS.format('<item><title>1</title><enclosure url="{b}/page.html" type="text/html"/></item>'),
     []),
    ("rss-cover-beside", RSS.format('<item><title>1</title><enclosure url="{b}/a/e6.mp3" type="audio/mpeg"/>'
                                    '<enclosure url="{b}/a/c.jpg" type="image/jpeg"/></item>'), ["{b}/a/e6.mp3"]),
    ("rss-media-content", RSS.format('<item><title>1</title><media:content url="{b}/a/e7.mp3" type="audio/mpeg"/></item>'),
     ["{b}/a/e7.mp3"]),
    ("rss-two-items", RSS.format('<item><title>1</title><enclosure url="e8.mp3" type="audio/mpeg"/></item>'
                                 '<item><title>2</title><enclosure url=" e9.mp3 " type="audio/mpeg"/></item>'),
     ["{b}/feeds/e8.mp3", "{b}/feeds/e9.mp3"]),
    ("atom-enclosure", ATOM.format('<entry><title>1</title><link rel="alternate" href="{b}/p1.html"/>'
                                   '<link rel="enclosure" type="audio/mpeg" href="{b}/a/f1.mp3"/></entry>'),
     ["{b}/a/f1.mp3"]),
    ("atom-alternate-only", ATOM.format('<entry><title>1</title><link rel="alternate" type="text/html" href="{b}/p2.html"/></entry>'),
     []),
    ("atom-relative", ATOM.format('<entry><title>1</title><link rel="enclosure" type="audio/mpeg" href=" f2.mp3"/></entry>'),
     ["{b}/feeds/f2.mp3"]),
    ("atom-self-related", ATOM.format('<entry><title>1</title><link rel="self" href="{b}/s.xml"/>'
                                      '<link rel="related" href="{b}/r"/>'
                                      '<link rel="enclosure" type="audio/mpeg" href="/a/f3.mp3"/></entry>'),
     ["{b}/a/f3.mp3"]),
    ("atom-xhtml", ATOM.format('<entry><title>1</title><link type="application/xhtml+xml" href="{b}/x"/></entry>'), []),
    ("rdf-enclosure", RDF.format('<item><title>1</title><enc:enclosure><enc:Enclosure enc:url="{b}/a/g1.mp3" '
                                 'enc:type="audio/mpeg"/></enc:enclosure></item>'), ["{b}/a/g1.mp3"]),
]


class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.path.startswith("/moved/"):
            self.send_response(302)
            self.send_header("Location", "/feeds/" + self.path[len("/moved/"):])
            self.end_headers()
            return
        super().do_GET()

    do_HEAD = do_GET


def items(library):
    db = sqlite3.connect(os.path.join(library, "data", "medialib.db"))
    rows = db.execute(
        "select v.value from prop p join propName n on n.oid=p.nameOid and n.name='res' join propValue v on "
        "v.oid=p.valueOid where p.objectOid in (select c.objectOid from prop c join propName cn on cn.oid=c.nameOid "
        "and cn.name='upnp:class' join propValue cv on cv.oid=c.valueOid where cv.value like 'object.item%')")
    # The library keeps values escaped for XML.
    return sorted(html.unescape(row[0]) for row in rows)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    build, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    www = os.path.join(work, "www")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(os.path.join(www, "feeds"))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), lambda *a: Handler(*a, directory=www))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = "http://127.0.0.1:%d" % server.server_address[1]
    agree = 0
    for index, (name, document, expected) in enumerate(FEEDS):
        with open(os.path.join(www, "feeds", name + ".xml"), "w") as out:
            out.write(document.replace("{b}", base))
        library = os.path.join(work, name)
        subprocess.run([os.path.join(build, "tools", "mlsetup"), library], check=True, capture_output=True)
        # Every third feed is reached through a redirection.
        url = base + ("/moved/" if index % 3 == 2 else "/feeds/") + name + ".xml"
        subprocess.run([os.path.join(build, "sharectl", "sharectl"), "-B", url], cwd=library, capture_output=True)
        got = items(library)
        want = sorted(u.replace("{b}", base) for u in expected)
        agree += got == want
        print("%-22s %s" % (name, "agree" if got == want else "differ: got %s, expected %s" % (got, want)))
    server.shutdown()
    print("%d of %d agree" % (agree, len(FEEDS)))
    sys.exit(0 if agree == len(FEEDS) else 1)


main()
