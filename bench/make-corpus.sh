#!/bin/sh
# make-corpus.sh OUT [SCALE] [SHAPE]: writes a home media library into OUT,
# the same bytes and modification times for the same SCALE and SHAPE on every
# run. SHAPE "artists" (the default) at scale 1 is
# about 3,000 files: 40 artists of 3 albums of 12 tagged tracks (mp3 mostly,
# some flac, ogg and m4a) with covers, 1,000 dated photos in year/event
# folders, 60 short videos (half with subtitles), and 300 files a scan must
# skip (text, playlists, thumbnails databases, empty and extension-less
# files, a web page and a playlist named as music). Scale 0 is a small
# sample of each (the README's demo): 2 artists of 2 albums of 4 tracks,
# 12 photos, 2 videos, 10 files to skip.
# SHAPE "collection" is closer to a library gathered over years; at scale 1:
# 200 album folders of 10 tracks (mp3 with ID3v2.3 and ID3v2.4 tags, some with
# an embedded cover, flac, ogg, m4a; covers beside two thirds of the albums,
# under various names), 1,000 photos in year/date folders (most with an EXIF
# date), 100 videos as films, series episodes and home clips, most with
# subtitles, 20 playlists and 150 files a scan must skip.
set -eu
out=${1:?usage: make-corpus.sh OUT [SCALE]}
scale=${2:-1}
shape=${3:-artists}
templates="${out%/}.templates"  # beside the corpus, so a scan never meets them
mkdir -p "$templates"
q="-loglevel error -y"
# Templates without tags of their own; the generator adds the tags.
[ -f "$templates/t.mp3" ] || ffmpeg $q -f lavfi -i sine=frequency=440:duration=3 -ac 1 -b:a 48k \
  -id3v2_version 0 -write_xing 0 -map_metadata -1 "$templates/t.mp3"
[ -f "$templates/t.flac" ] || ffmpeg $q -f lavfi -i sine=frequency=330:duration=2 -ac 1 -ar 22050 \
  -map_metadata -1 "$templates/t.flac"
[ -f "$templates/t.ogg" ] || ffmpeg $q -f lavfi -i sine=frequency=550:duration=2 -ac 1 -c:a libvorbis \
  -map_metadata -1 "$templates/t.ogg"
[ -f "$templates/t.m4a" ] || ffmpeg $q -f lavfi -i sine=frequency=660:duration=2 -ac 1 -c:a aac -b:a 48k \
  -map_metadata -1 "$templates/t.m4a"
[ -f "$templates/t.mp4" ] || ffmpeg $q -f lavfi -i testsrc=duration=2:size=160x120:rate=10 \
  -f lavfi -i sine=duration=2 -pix_fmt yuv420p -c:v libx264 -c:a aac -shortest "$templates/t.mp4"
[ -f "$templates/t.jpg" ] || convert -size 320x240 gradient:blue-yellow -quality 80 "$templates/t.jpg"
[ -f "$templates/cover.jpg" ] || convert -size 200x200 plasma:fractal -seed 7 -quality 70 "$templates/cover.jpg"

python3 - "$out" "$scale" "$templates" "$shape" <<'PY'
import os, random, struct, subprocess, sys

out, scale, templates, shape = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
if shape not in ("artists", "collection"):
    sys.exit(f"unknown shape {shape}: artists or collection")
rng = random.Random(20261207 + scale + (1000 if shape == "collection" else 0))
MTIME = 1700000000  # every file gets the same clock, so reruns are identical
GENRES = ["Rock", "Jazz", "Pop", "Folk", "Classical", "Electronic", "Blues", "Soul"]
WORDS = ["river", "night", "blue", "echo", "garden", "city", "light", "ghost", "summer", "stone",
         "Café", "Mädchen", "naïve", "l'été", "Ünder", "rock & roll", "\"quoted\"", "<odd>"]

def read(name):
    with open(os.path.join(templates, name), "rb") as f:
        return f.read()

def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (MTIME, MTIME))

def phrase(n):
    return " ".join(rng.choice(WORDS) for _ in range(n)).title()

def syncsafe(size):
    return bytes([(size >> 21) & 0x7F, (size >> 14) & 0x7F, (size >> 7) & 0x7F, size & 0x7F])

def id3(tags, version=3, picture=None):
    # Version 3: UTF-16 text, plain frame sizes; version 4: UTF-8 text,
    # sync-safe frame sizes. picture: JPEG bytes for an APIC front cover.
    frames = b""
    bodies = []
    for key, value in tags.items():
        if version == 3:
            bodies.append((key, b"\x01" + "\ufeff".encode("utf-16-le") + value.encode("utf-16-le")))
        else:
            bodies.append((key, b"\x03" + value.encode("utf-8")))
    if picture is not None:
        bodies.append(("APIC", b"\x00image/jpeg\x00\x03\x00" + picture))
    for key, body in bodies:
        size = struct.pack(">I", len(body)) if version == 3 else syncsafe(len(body))
        frames += key.encode() + size + b"\x00\x00" + body
    return b"ID3" + bytes([version]) + b"\x00\x00" + syncsafe(len(frames)) + frames

def flac(template, tags):
    # fLaC, STREAMINFO (kept), our VORBIS_COMMENT (last), then the frames.
    pos, blocks = 4, []
    while True:
        header = template[pos]
        length = int.from_bytes(template[pos + 1:pos + 4], "big")
        if header & 0x7F == 0:
            blocks.append(template[pos:pos + 4 + length])
        pos += 4 + length
        if header & 0x80:
            break
    vendor = b"corpus"
    comments = [f"{k}={v}".encode() for k, v in tags.items()]
    body = struct.pack("<I", len(vendor)) + vendor + struct.pack("<I", len(comments))
    for c in comments:
        body += struct.pack("<I", len(c)) + c
    streaminfo = bytes([blocks[0][0] & 0x7F]) + blocks[0][1:]
    comment = bytes([0x84]) + len(body).to_bytes(3, "big") + body
    return b"fLaC" + streaminfo + comment + template[pos:]

def exif_jpeg(jpeg, date):
    value = date.encode() + b"\x00"
    tiff = b"MM" + struct.pack(">HI", 42, 8) + struct.pack(">H", 1)
    tiff += struct.pack(">HHII", 0x0132, 2, len(value), 26) + struct.pack(">I", 0) + value
    app1 = b"Exif\x00\x00" + tiff
    return jpeg[:2] + b"\xFF\xE1" + struct.pack(">H", len(app1) + 2) + app1 + jpeg[2:]

mp3, flac_t, mp4, jpg, cover = read("t.mp3"), read("t.flac"), read("t.mp4"), read("t.jpg"), read("cover.jpg")
retag = []  # (template, path, tags) for ogg and m4a, tagged by ffmpeg
counts = {"tracks": 0, "covers": 0, "photos": 0, "videos": 0, "junk": 0}
# artists, albums per artist, tracks per album, photos, videos, skipped files
if shape == "collection":
    ARTISTS = ALBUMS = TRACKS = PHOTOS = VIDEOS = JUNK = 0
elif scale == 0:
    ARTISTS, ALBUMS, TRACKS, PHOTOS, VIDEOS, JUNK = 2, 2, 4, 12, 2, 10
else:
    ARTISTS, ALBUMS, TRACKS, PHOTOS, VIDEOS, JUNK = 40 * scale, 3, 12, 1000 * scale, 60 * scale, 300 * scale

for a in range(ARTISTS):
    artist = f"{phrase(2)} {a:03d}"
    for b in range(ALBUMS):
        album = f"{phrase(2)} {b + 1}"
        folder = os.path.join(out, "Music", artist, album)
        genre, year = rng.choice(GENRES), rng.randint(1960, 2025)
        for t in range(TRACKS):
            title = phrase(3)
            fmt = rng.choices(["mp3", "flac", "ogg", "m4a"], [70, 10, 10, 10])[0]
            path = os.path.join(folder, f"{t + 1:02d} {title}.{fmt}")
            tags = {"title": title, "artist": artist, "album": album, "genre": genre,
                    "date": str(year), "track": str(t + 1)}
            if fmt == "mp3":
                write(path, id3({"TIT2": title, "TPE1": artist, "TALB": album, "TCON": genre,
                                 "TYER": str(year), "TRCK": str(t + 1)}) + mp3)
            elif fmt == "flac":
                write(path, flac(flac_t, {k.upper(): v for k, v in tags.items()}))
            else:
                retag.append((os.path.join(templates, "t." + fmt), path, tags))
            counts["tracks"] += 1
        write(os.path.join(folder, "folder.jpg"), cover)
        counts["covers"] += 1
        if b == 0:
            write(os.path.join(folder, "AlbumArtSmall.jpg"), cover)
            counts["covers"] += 1

for p in range(PHOTOS):
    year = 2005 + p % 20
    event = f"{year} {rng.choice(WORDS).title()} {p // 40:03d}"
    date = f"{year}:{rng.randint(1, 12):02d}:{rng.randint(1, 28):02d} {rng.randint(0, 23):02d}:{rng.randint(0, 59):02d}:00"
    write(os.path.join(out, "Photos", str(year), event, f"IMG_{p:05d}.jpg"), exif_jpeg(jpg, date))
    counts["photos"] += 1

for v in range(VIDEOS):
    folder = os.path.join(out, "Videos", f"Series {v // 10:02d}")
    write(os.path.join(folder, f"Episode {v:03d}.mp4"), mp4)
    if v % 2 == 0:
        write(os.path.join(folder, f"Episode {v:03d}.srt"), b"1\n00:00:00,000 --> 00:00:01,000\nHello\n")
    counts["videos"] += 1

junk = [("notes.txt", b"shopping list\n"), ("info.nfo", b"release info\n"), ("Thumbs.db", b"\0" * 64),
        ("desktop.ini", b"[.ShellClassInfo]\n"), ("empty.mp3", b""), ("README", b"no extension\n"),
        ("page.mp3", b"<html><body>not music</body></html>\n"), ("list.mp3", b"#EXTM3U\nnothing.mp3\n"),
        ("party.m3u", b"#EXTM3U\n../a.mp3\n"), ("scan.log", b"log\n")]
for j in range(JUNK):
    name, data = junk[j % len(junk)]
    write(os.path.join(out, "Misc", f"box {j // len(junk):03d}", name), data)
    counts["junk"] += 1

if shape == "collection":
    s = scale
    ALBUMS_C, PHOTOS_C, VIDEOS_C, LISTS_C, JUNK_C = (200 * s, 1000 * s, 100 * s, 20 * s, 150 * s) if s else (4, 12, 3, 1, 10)
    COVER_NAMES = ["cover.jpg", "folder.jpg", "Folder.jpg", "front.jpg", "AlbumArt.jpg"]
    tracks_made = []
    for a in range(ALBUMS_C):
        year = rng.randint(1958, 2025)
        album = f"{phrase(rng.randint(1, 3))} {a:03d}"
        various = a % 12 == 0
        artist = "Various Artists" if various else f"{phrase(2)} {a % 150:03d}"
        folder = (os.path.join(out, "Music", "Compilations", album) if various
                  else os.path.join(out, "Music", artist, f"{year} - {album}"))
        genre = rng.choice(GENRES)
        covered = a % 3 != 2  # two thirds of the albums have a cover file
        embedded = not covered and a % 2 == 0
        for t in range(10):
            title = phrase(rng.randint(1, 4))
            track_artist = f"{phrase(2)}" if various else artist
            fmt = rng.choices(["mp3v3", "mp3v4", "flac", "ogg", "m4a"], [40, 25, 15, 10, 10])[0]
            ext = "mp3" if fmt.startswith("mp3") else fmt
            path = os.path.join(folder, f"{t + 1:02d} - {title}.{ext}")
            tags = {"title": title, "artist": track_artist, "album": album, "genre": genre,
                    "date": str(year), "track": f"{t + 1}/10"}
            if fmt.startswith("mp3"):
                version = 3 if fmt == "mp3v3" else 4
                frames = {"TIT2": title, "TPE1": track_artist, "TALB": album, "TCON": genre,
                          "TYER" if version == 3 else "TDRC": str(year), "TRCK": f"{t + 1}/10"}
                if various:
                    frames["TPE2"] = "Various Artists"
                write(path, id3(frames, version, cover if embedded else None) + mp3)
            elif fmt == "flac":
                write(path, flac(flac_t, {k.upper(): v for k, v in tags.items()}))
            else:
                retag.append((os.path.join(templates, "t." + fmt), path, tags))
            tracks_made.append(path)
            counts["tracks"] += 1
        if covered:
            write(os.path.join(folder, COVER_NAMES[a % len(COVER_NAMES)]), cover)
            counts["covers"] += 1
    for p in range(PHOTOS_C):
        year = 2004 + p % 21
        month, day = rng.randint(1, 12), rng.randint(1, 28)
        event = f"{year}-{month:02d}-{day:02d} {rng.choice(WORDS).title()}"
        date = f"{year}:{month:02d}:{day:02d} {rng.randint(0, 23):02d}:{rng.randint(0, 59):02d}:00"
        data = exif_jpeg(jpg, date) if p % 8 != 0 else jpg  # one in eight without EXIF
        name = f"DSC_{p:05d}.jpg" if p % 3 else f"IMG_{p:05d}.JPG"
        write(os.path.join(out, "Pictures", str(year), f"{event} {p // 25:03d}", name), data)
        counts["photos"] += 1
    for v in range(VIDEOS_C):
        style = v % 3
        if style == 0:
            title = f"{phrase(2)} ({1970 + v % 50})"
            base = os.path.join(out, "Videos", "Movies", title, title)
        elif style == 1:
            show = f"Show {v // 30:02d}"
            base = os.path.join(out, "Videos", "TV", show, f"Season {v // 10 % 3 + 1:02d}",
                                f"{show} - S{v // 10 % 3 + 1:02d}E{v % 10 + 1:02d}")
        else:
            base = os.path.join(out, "Videos", "Home", str(2010 + v % 12), f"VID_{v:04d}")
        write(base + ".mp4", mp4)
        if v % 4 != 3:
            write(base + (".en.srt" if style == 1 else ".srt"), b"1\n00:00:00,000 --> 00:00:01,000\nHello\n")
        counts["videos"] += 1
    for n in range(LISTS_C):
        chosen = rng.sample(tracks_made, min(15, len(tracks_made)))
        body = "#EXTM3U\n" + "".join(os.path.relpath(t, os.path.join(out, "Playlists")) + "\n" for t in chosen)
        write(os.path.join(out, "Playlists", f"Mix {n:02d}.m3u"), body.encode())
        counts["junk"] += 1
    for j in range(JUNK_C):
        name, data = junk[j % len(junk)]
        write(os.path.join(out, "Downloads", f"batch {j // len(junk):03d}", name), data)
        counts["junk"] += 1

for template, path, tags in retag:
    args = ["ffmpeg", "-loglevel", "error", "-y", "-i", template, "-c", "copy"]
    for k, v in tags.items():
        args += ["-metadata", f"{k}={v}"]
    os.makedirs(os.path.dirname(path), exist_ok=True)
    subprocess.run(args + [path], check=True)
    os.utime(path, (MTIME, MTIME))

total = sum(counts.values())
print(f"{out}: {total} files: " + ", ".join(f"{v} {k}" for k, v in counts.items()))
PY
