#!/usr/bin/env python3
"""dump-library.py INSTALL [--oids]: prints both databases of an installation
folder (data/medialib.db, data/db/admin.db) as sorted text lines, so that two
libraries built by different binaries from the same disk can be compared with
diff.

Every object is named by a key that does not depend on the order in which the
scan created it: the fixed objects of a new library keep their oid, any other
object is named by its lowest title path from a root ("0/Audio/Music
Indexes/All/Track"), followed by "#N" when objects share a path (N counts them
in the order of their sorted property lists). Edges (with ordinals), ancestor
rows (with id paths written in keys), properties (name, value and the element
an attribute belongs to), source associations, sources, tags, URI properties
and accounts follow. With --oids the raw oids are printed as well, for
comparing two runs that are expected to number alike.
"""
import sqlite3
import sys
from collections import defaultdict

FIXED = {0, 1, 2, 3, 100, 200, 300, 400}  # the objects a new library starts with


def load(path, sql):
    db = sqlite3.connect(f"file:{path}?mode=ro", uri=True)
    # Ordinals are binary sort keys: undecodable bytes are printed escaped.
    db.text_factory = lambda raw: raw.decode("utf-8", "backslashreplace")
    try:
        return db.execute(sql).fetchall()
    finally:
        db.close()


def object_keys(objects, edges, titles, props):
    parents = defaultdict(list)
    for _, parent, child, _ in edges:
        parents[child].append(parent)
    names = {}

    def name(oid, stack=()):
        if oid in names:
            return names[oid]
        if oid in FIXED:
            names[oid] = str(oid)
            return names[oid]
        if oid in stack:  # a cycle would be a broken library; name it plainly
            return f"cycle:{oid}"
        title = titles.get(oid, "")
        options = [name(p, stack + (oid,)) + "/" + title for p in parents.get(oid, [])]
        names[oid] = min(options) if options else "/" + title
        return names[oid]

    for oid in objects:
        name(oid)
    groups = defaultdict(list)
    for oid in objects:
        groups[names[oid]].append(oid)
    keys = {}
    for path, members in groups.items():
        if len(members) == 1 or members[0] in FIXED:
            for oid in members:
                keys[oid] = path
            continue
        members.sort(key=lambda oid: (props.get(oid, []), oid))
        for n, oid in enumerate(members):
            keys[oid] = f"{path}#{n}"
    return keys


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: dump-library.py INSTALL [--oids]")
    inst = sys.argv[1]
    with_oids = "--oids" in sys.argv[2:]
    lib = f"{inst}/data/medialib.db"
    admin = f"{inst}/data/db/admin.db"

    objects = load(lib, "select oid, signature from object")
    edges = load(lib, "select oid, parentObjectOid, objectOid, ordinal from edge")
    ancestors = load(lib, "select oid, ancestorObjectOid, objectOid, path from ancestor")
    prop_rows = load(lib, "select p.oid, p.parentOid, n.name, p.objectOid, v.value from prop p "
                          "left join propName n on n.oid = p.nameOid left join propValue v on v.oid = p.valueOid")
    objms = load(lib, "select oid, objectOid, sourceOid from objms")

    by_oid = {row[0]: row for row in prop_rows}
    titles = {row[3]: row[4] for row in prop_rows if row[2] == "dc:title" and row[1] is None}

    def element(prop_oid):
        if prop_oid is None:
            return ""
        parent = by_oid.get(prop_oid)
        return f"{parent[2]}={parent[4]}" if parent else f"missing:{prop_oid}"

    props = defaultdict(list)
    for oid, parent, pname, obj, value in prop_rows:
        props[obj].append((pname or "", value or "", element(parent)))
    for rows in props.values():
        rows.sort()

    keys = object_keys([o for o, _ in objects], edges, titles, props)

    def key(oid):
        return keys.get(oid, f"unknown:{oid}")

    def idpath(path):
        if not path:
            return path
        return " > ".join(key(int(p)) if p.isdigit() else p for p in path.split("/"))

    out = []
    for oid, signature in objects:
        out.append(f"object {key(oid)} signature={signature}" + (f" oid={oid}" if with_oids else ""))
    for oid, parent, child, ordinal in edges:
        out.append(f"edge {key(parent)} -> {key(child)} ordinal={ordinal}" + (f" oid={oid}" if with_oids else ""))
    for oid, ancestor, obj, path in ancestors:
        out.append(f"ancestor {key(ancestor)} of {key(obj)} path={idpath(path)}" +
                   (f" oid={oid}" if with_oids else ""))
    for oid, parent, pname, obj, value in prop_rows:
        out.append(f"prop {key(obj)} {pname}={value} element={element(parent)}" +
                   (f" oid={oid}" if with_oids else ""))
    for oid, obj, source in objms:
        out.append(f"objms {key(obj)} source={source}" + (f" oid={oid}" if with_oids else ""))
    for name in ("propName", "propValue"):
        column = "name" if name == "propName" else "value"
        for (value,) in load(lib, f"select {column} from {name}"):
            out.append(f"{name} {value}")
    for row in load(admin, "select * from mediaSource"):
        out.append("source " + "|".join("" if v is None else str(v) for v in row))
    for row in load(admin, "select sourceOid, tag from tag"):
        out.append(f"tag source={row[0]} {row[1]}")
    for row in load(admin, "select is_recursive, propvalue, URI, propname, instanceid from URIProps"):
        out.append("uriprop " + "|".join("" if v is None else str(v) for v in row))
    for row in load(admin, "select username, password, domain, description from useraccount"):
        out.append("account " + "|".join("" if v is None else str(v) for v in row))
    out.sort()
    sys.stdout.write("".join(line + "\n" for line in out))


if __name__ == "__main__":
    main()
