#!/usr/bin/env python3
"""Tables written by GDAL's MapInfo driver, recovered here and read back by GDAL without a message.

round-trip TABRESCUE WORK [CASE ...]   every row and object as GDAL wrote it: recovered, rerun over backups, undeleted
spatial TABRESCUE WORK [--wrong-rule]   the spatial index of larger tables, and GDAL's filtered reads
make DIR [CASE ...]   only the round trips' tables"""
import functools, math, os, random, re, shutil, struct, subprocess, sys
from collections import namedtuple
from osgeo import gdal, ogr, osr

gdal.UseExceptions()


def component(tab, ext):  # the file beside tab with its base name and extension ext, letter case ignored, or None
    folder, wanted = os.path.dirname(tab), (os.path.splitext(os.path.basename(tab))[0] + "." + ext).lower()
    return next((os.path.join(folder, n) for n in os.listdir(folder) if n.lower() == wanted), None)


def quietly(fn, *args):  # fn(*args), and the warnings and errors GDAL reported meanwhile
    messages = []
    gdal.PushErrorHandler(lambda level, number, text: level >= gdal.CE_Warning and messages.append(text))
    result = fn(*args), messages
    return gdal.PopErrorHandler() or result


def read_features(path):  # fid -> (fields, geometry as ISO WKB or None, style)
    ds = ogr.Open(path)  # kept while its layer is read
    return {f.GetFID(): (f.items(), f.GetGeometryRef() and bytes(f.GetGeometryRef().ExportToIsoWkb()),
                         f.GetStyleString()) for f in ds.GetLayer(0)}


def write_table(path, fields, rows, deleted, srs=None, options=()):
    """GDAL writes rows (values, WKT, style), then deletes `deleted`: its view before, row -> (offset, type code)."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    ds = ogr.GetDriverByName("MapInfo File").CreateDataSource(path)
    layer = ds.CreateLayer(os.path.basename(path)[:-4], srs, ogr.wkbUnknown, list(options))
    for name, kind, width in fields:
        (field := ogr.FieldDefn(name, kind)).SetWidth(width)
        layer.CreateField(field)
    for values, wkt, style in rows:
        f = ogr.Feature(layer.GetLayerDefn())
        [f.SetField(name, value) for name, value in values.items()]
        f.SetGeometry(wkt and ogr.CreateGeometryFromWkt(wkt)), f.SetStyleString(style), layer.CreateFeature(f)
    ds = None  # closed, so written out
    (written, messages), ds = quietly(read_features, path), ogr.Open(path, update=1)
    ids, mp = (open(component(path, ext), "rb").read() for ext in ("id", "map"))
    if messages or any(ds.GetLayer(0).DeleteFeature(fid) for fid in deleted):
        raise RuntimeError("GDAL could not read back %s or delete its features: %s" % (path, messages))
    return written, {row: (at, mp[at]) for row, (at,) in enumerate(struct.iter_unpack("<i", ids), 1) if at > 0}


def filter_mismatches(path, features, count, seed):  # [windows due a find, wrong ones, missed, extra] vs brute force
    shapes = {fid: ogr.CreateGeometryFromWkb(g) for fid, (_, g, _) in features.items() if g}
    boxes, figures, rng, ds = [g.GetEnvelope() for g in shapes.values()], [0] * 4, random.Random(seed), ogr.Open(path)
    x0, x1, y0, y1 = whole = tuple(f((e[k] for e in boxes), default=0) for k, f in enumerate((min, max, min, max)))
    for _ in range(count if boxes else 0):  # four decades of sizes, mostly around objects so small ones find something
        w, h = (max(x1 - x0, 1e-6) * 10 ** rng.uniform(-4, -0.3), max(y1 - y0, 1e-6) * 10 ** rng.uniform(-4, -0.3))
        cx, cy = rng.uniform(*(e := rng.choice(boxes) if rng.random() < 0.7 else whole)[:2]), rng.uniform(*e[2:])
        (layer := ds.GetLayer(0)).SetSpatialFilterRect(cx - w, cy - h, cx + w, cy + h)
        due = {fid for fid, g in shapes.items() if g.Intersects(layer.GetSpatialFilter())}
        found = {f.GetFID() for f in layer}
        figures = [a + b for a, b in zip(figures, (bool(due), found != due, len(due - found), len(found - due)))]
    return figures


path_of = lambda points: "(" + ", ".join("%r %r" % p for p in points) + ")"


def mixed(i, x=None, y=None, d=None):  # shape kind i % 11 (9: none) at (x, y), d wide, by default wide or 16-bit small
    x, y, d = (x, y, d) if x is not None else ((i % 37) * 2.5 - 45, (i % 23) * 3.0 - 33, 1 if i % 2 else 0.0005)
    at = lambda *offsets: path_of((x + a * d, y + b * d) for a, b in offsets)
    ring = lambda r, n, cx=x: path_of([(cx + r * math.cos(2 * math.pi * k / n), y + r * math.sin(2 * math.pi * k / n))
                                       for k in range(n)] + [(cx + r, y)])
    return ["POINT " + at((0, 0)), "LINESTRING " + at((0, 0), (1.5, 0.5)), "LINESTRING " + at((0, 0), (1, 2), (3, 0),
            (4, 4)), "LINESTRING " + at((0, 0), (0.001, 0.002), (0.003, 0)), "POLYGON (%s, %s)" % (ring(2 * d, 12),
            ring(0.5 * d, 6)), "POLYGON (%s)" % ring(0.002 * d, 5), "MULTIPOLYGON ((%s), (%s, %s))" % (ring(d, 8),
            ring(d, 4, x + 5 * d), ring(d / 3, 4, x + 5 * d)), "MULTILINESTRING (%s, %s)" % (at((0, 0), (1, 1)),
            at((2, 0), (3, 1), (4, 0))), "POINT " + at((0, 0)), None, "POINT " + at((0, 0))][i % 11], {
        8: 'LABEL(t:"Label %d",s:2g,a:%d,c:#%06x,f:"Arial")' % (i, i % 90, i * 4099 % 0xFFFFFF),
        10: 'SYMBOL(id:"mapinfo-sym-%d",c:#%06x,s:%dpt)' % (32 + i % 30, i * 7919 % 0xFFFFFF, 8 + i % 12)}.get(i % 11)


symbols = lambda i: (  # font and custom symbols, a plain point, a line
    ("POINT " if i % 4 < 3 else "LINESTRING ") + path_of([(i / 2, -i / 4)] + [(i / 2 + 1, 1 - i / 4)] * (i % 4 == 3)),
    ['SYMBOL(id:"font-sym-%d",c:#ff0000,s:12pt,f:"MapInfo Symbols")' % (33 + i % 60),
     'SYMBOL(id:"mapinfo-custom-sym-0-pin%d.bmp",c:#00ff00,s:14pt)' % (i % 3), None, None][i % 4])


unclassed = lambda i: (  # only kinds that count as no point, line, area or text object in a .MAP header
    ("MULTILINESTRING (%s, %s)" % (path_of([(i, i), (i + 1, i)]), path_of([(i, i + 1), (i + 1, i + 1)])), None) if i % 2
    else ("POINT (%r %r)" % (i, i), 'SYMBOL(id:"font-sym-%d",c:#0000ff,s:10pt,f:"MapInfo Symbols")' % (40 + i % 20)))
CITIES = ["Москва", "Санкт-Петербург", "Новосибирск", "Екатеринбург", "Казань", "Нижний Новгород", "Челябинск"]
Case = namedtuple("Case", "name rows shapes deleted options field label", defaults=((), "label", "row %d".__mod__))
CASES = [  # each name a CMake test; the fuzz seeds take mixed, cyrillic, symbols and attributes_only
    Case("mixed", 330, mixed, sorted({1, 2, 3, 10, 11, 45, 100, 101, 102, 103, 200, 249, 330} | {*range(17, 330, 29)})),
    Case("cyrillic", 140, mixed, [2, 7, 8, 70, 139], ["ENCODING=CP1251"], "город", lambda i: f"{CITIES[i % 7]} {i}"),
    Case("symbols", 60, symbols, [1, 2, 5, 6, 30, 60]), Case("all_deleted", 25, mixed, [*range(1, 26)]),
    Case("unclassed", 30, unclassed, [2, 3, 17]), Case("attributes_only", 40, mixed, [10, 21, 32])]  # no shape deleted


def make_case(case, folder):  # the case's table, its rows deleted: its path and write_table's views of it
    rows = (({"num": i * 37 - 500, "amount": i * 1.25 - 7.0 / (i + 1), "day": "%04d/%02d/%02d" % (1990 + i % 30,
              1 + i % 12, 1 + i % 28), case.field: case.label(i)}, *case.shapes(i)) for i in range(case.rows))
    tab, srs = os.path.join(folder, case.name + ".tab"), osr.SpatialReference(osr.SRS_WKT_WGS84_LAT_LONG)
    return (tab, *write_table(tab, [("num", ogr.OFTInteger, 0), ("amount", ogr.OFTReal, 0), ("day", ogr.OFTDate, 0),
            (case.field, ogr.OFTString, 32)], rows, case.deleted, srs, case.options))


snapshot = lambda folder: os.makedirs(folder, exist_ok=True) or {  # the files in a folder, created first if missing
    n: open(os.path.join(folder, n), "rb").read() for n in os.listdir(folder)}


def round_trip(case, tabrescue, work):  # recovers without --all, with it twice into one folder, undeletes; the problems
    failures, folder, deleted = [], os.path.join(work, case.name), set(case.deleted)
    expect = lambda ok, what: ok or failures.append("%s: %s" % (case.name, what))
    tab, truth, objects = make_case(case, os.path.join(folder, "in"))
    source, moved = snapshot(os.path.dirname(tab)), sum(row in deleted for row in objects)
    for restore_all, out, moving in ((False, "out", moved > 0), (True, "out-all", True), (True, "out-all", True)):
        out, earlier = os.path.join(folder, out), snapshot(os.path.join(folder, out))
        proc = subprocess.run([tabrescue, *["--all"] * restore_all, "-o", out, tab], capture_output=True, timeout=600)
        log, now = (proc.stdout + proc.stderr).decode("utf-8", "replace"), snapshot(out)
        expect(snapshot(os.path.dirname(tab)) == source, "the input folder changed")
        expect(all(now.get(f + ".bak") == data for f, data in earlier.items()), "earlier results not kept as .bak")
        dat_tab, map_tab = (component(os.path.join(out, case.name + kind), "tab") for kind in ("_DAT.tab", "_MAP.tab"))
        restored = [(kind, int(n)) for n, kind in re.findall(r" \+!\+ (-?\d+) deleteted (\w+) were restored", log)]
        if not expect(proc.returncode == 0 and "*** Ends by OK at " in log and dat_tab and bool(map_tab) == moving
                      and restored == [("Geometries", moved)] * moving + [("Attributes", len(deleted))],
                      "status %d, results %s; log:\n%s" % (proc.returncode, restored, log)):
            continue
        result, messages = quietly(read_features, dat_tab)
        expect(not messages and sorted(result) == sorted(truth), "attribute result: %s %s" % (messages, sorted(result)))
        for fid, (fields, _, _) in sorted((f, result[f]) for f in set(result) & set(truth)):
            want = dict(truth[fid][0], RowId_old=fid, rec_status="D" if fid in deleted else "")
            got = dict({n: fields.get(n) for n in want}, rec_status=(fields.get("rec_status") or "").strip())
            expect(got == want, "row %d: %s, expected %s" % (fid, got, want))
        if map_tab:  # GDAL shows no geometry when the header counts no point, line, area or text object
            result, messages = quietly(read_features, map_tab)
            counted = any(struct.unpack_from("<4i", open(component(map_tab, "MAP"), "rb").read(), 316))
            expect(not messages and len(result) == len(objects), "geometry result: %s %d" % (messages, len(result)))
            for fid, (row, (offset, code)) in enumerate(sorted(objects.items(), key=lambda o: o[1]), 1):
                fields, geometry, style = result.get(fid, ({}, None, None))
                got = (*map(fields.get, ("RowId_new", "RowId_old", "rec_map_offset")),
                       (fields.get("rec_status") or "").rjust(4), style, geometry)
                want = (fid, row, offset + 1, ("D" if row in deleted else " ") + " %02X" % code,
                        truth[row][2], truth[row][1] if counted else None)
                expect(got == want, "object %d (row %d, type %02X): %s, not %s" % (fid, row, code, got[:5], want[:5]))
    subprocess.run([tabrescue, "--undelete", "-o", folder, tab], capture_output=True)
    undeleted = component(os.path.join(folder, case.name + "_undeleted.tab"), "tab")
    got, messages = quietly(read_features, undeleted) if undeleted else ({}, ["no undeleted table"])
    figures = filter_mismatches(undeleted, got, 50, 17) if undeleted else []
    expect(not messages and {f: v[:2] for f, v in got.items()} == {f: v[:2] for f, v in truth.items()}
           and figures[1:2] == [0], "undeleted table: %s, filtered reads %s" % (messages, figures))
    return failures


# type GDAL writes: (length, points or 0 for an origin and a box, coordinates' offset); 16-bit where type % 3 == 1
RECORDS = {0x00: (5, None, 0), 0x01: (10, 1, 5), 0x02: (14, 1, 5), 0x04: (14, 2, 5), 0x05: (22, 2, 5),
           0x07: (34, 0, 17), 0x08: (38, 0, 21), 0x0D: (37, 0, 19), 0x0E: (41, 0, 23), 0x10: (39, 2, 30),
           0x11: (53, 2, 36), 0x25: (36, 0, 19), 0x26: (40, 0, 23), 0x28: (22, 1, 17), 0x29: (26, 1, 17)}
num = lambda m, at, fmt="<i": struct.unpack_from(fmt, m, at)[0]
unite = lambda a, b: a or b if a is None or b is None else (*map(min, a[:2], b[:2]), *map(max, a[2:], b[2:]))


def block_boxes(m, wrong_rule=False):  # the box of each object data block's records, by block offset, in file order
    boxes, sat = {}, lambda v: max(-2**31, min(2**31 - 1, v))
    for off in (off for off in range(1024, len(m), 512) if m[off] == 0x02):
        centre, rec, end = struct.unpack_from("<2i", m, off + 4), off + 20, off + 20 + num(m, off + 2, "<h")
        while rec < end:
            if m[rec] not in RECORDS:
                raise ValueError("record of unknown type 0x%02X at %d" % (m[rec], rec))
            (length, points, at), short = RECORDS[m[rec]], m[rec] % 3 == 1
            if points is not None:  # 16-bit: offsets from the centre, or from the record's origin before its box
                base = centre if points or wrong_rule else struct.unpack_from("<2i", m, rec + at)
                v = struct.unpack_from("<" + "ih"[short] * 2 * (points or 2), m, rec + at + 8 * (short and not points))
                xs, ys = ([sat(short * base[j] + c) for c in v[j::2]] for j in (0, 1))
                boxes[off] = unite(boxes.get(off), (min(xs), min(ys), max(xs), max(ys)))
            rec += length
    return boxes


def index_entries(m):  # (offset, leaf or not, box, child) of each index entry in descent order, once the index is sound
    root, depth, entries, header = num(m, 304), m[351], [], struct.unpack_from("<4i", m, 272)

    def visit(at, level):  # the union of the block's boxes
        n, leaf = num(m, at + 2, "<H"), level == depth - 1
        if at % 512 or len(m) < at + 512 or num(m, at, "<H") != 1 or not 0 < n < 26 or any(m[at + 4 + 20 * n:at + 512]):
            raise ValueError("no well-formed index block at %d (level %d)" % (at, level))
        for e in range(at + 4, at + 4 + 20 * n, 20):
            entries.append((e, leaf, box := struct.unpack_from("<4i", m, e), child := num(m, e + 16, "<I")))
            if not leaf and visit(child, level + 1) != box:
                raise ValueError("entry at %d is not the union of its child's" % e)
        return functools.reduce(unite, (box for e, _, box, _ in entries if at < e < at + 512))

    if bool(root) != bool(depth) or root and unite(header, visit(root, 1)) != header:
        raise ValueError("root %d, depth byte %d, or a header box that does not hold the root's" % (root, depth))
    return entries


LARGE = [("few", 12, range(11), 0, .3), ("clustered", 1500, range(11), 0, .25), ("scattered", 2000, range(11), 1, .25),
         ("regions", 4000, (4, 5, 6), 0, .2), ("points", 24000, (0,), 1, .2), ("all_deleted", 300, (2, 4, 7), 0, 1)]


def spatial(tool, work, wrong_rule):  # the exit status: with the wrong rule, whether no filtered read went wrong
    wrong, faults = 0, 0
    for seed, (name, count, kinds, scattered, share) in enumerate(LARGE, 1):
        rng, tab = random.Random(seed), os.path.join(work, name, name + ".tab")
        place = lambda i: ((rng.uniform(-2e4, 2e4), rng.uniform(-2e4, 2e4)) if scattered else
                           ((i // 40) * 150.0 - 9000 + rng.uniform(-12, 12), (i // 40 % 11) * 400.0 - 2000))
        rows = [({"name": name + str(i)}, *mixed(11 * i + kinds[i % len(kinds)], *place(i), rng.choice([0.2, 8, 100])))
                for i in range(count)]
        before, _ = write_table(tab, [("name", ogr.OFTString, 0)], rows, rng.sample(range(1, count + 1),
                                round(count * share)), options=["BOUNDS=-1000000,-1000000,1000000,1000000"])
        subprocess.run([tool, "--all", "-o", os.path.dirname(tab), tab], capture_output=True, check=True)
        result = component(os.path.join(os.path.dirname(tab), name + "_MAP.tab"), "TAB")
        try:
            m = bytearray(open(component(result, "MAP"), "rb").read())
            if wrong_rule:  # the index boxes rebuilt from leaf boxes that follow the wrong rule
                boxes, unions = block_boxes(m, wrong_rule=True), {}
                for e, leaf, _, child in reversed(index_entries(m)):  # children before the entries above them
                    struct.pack_into("<4i", m, e, *(box := boxes[child] if leaf else unions[child]))
                    unions[e - e % 512] = unite(unions.get(e - e % 512), box)
                struct.pack_into("<4i", m, 272, *unite(struct.unpack_from("<4i", m, 272), unions[num(m, 304)]))
                open(component(result, "MAP"), "wb").write(m)
            leaves, expected = [(c, box) for _, leaf, box, c in index_entries(m) if leaf], list(block_boxes(m).items())
            if [c for c, _ in leaves] != [c for c, _ in expected] or not wrong_rule and leaves != expected:
                raise ValueError("the leaves are not the object data blocks with their boxes, in file order")
        except ValueError as e:
            print("%s: %s" % (result, e))
            faults += 1
            continue
        features, messages = quietly(read_features, result)
        figures, more = quietly(filter_mismatches, result, features, 100, seed)
        differ = {f["RowId_old"]: g for f, g, _ in features.values()} != {f: v[1] for f, v in before.items() if v[1]}
        print("%s: filtered reads %s, geometries differ %s, GDAL says %s" % (name, figures, differ, messages + more))
        wrong, faults = wrong + figures[1], faults + (not wrong_rule and bool(differ or messages or more))
    return not wrong if wrong_rule else bool(wrong or faults)


if __name__ == "__main__":
    mode, args = (sys.argv + [None])[1], sys.argv[2:]
    chosen = [c for c in CASES if c.name in args[1:]] or CASES
    if mode not in ("round-trip", "spatial", "make") or len(args) < 1 + (mode != "make"):
        sys.exit(__doc__)
    if mode == "make":
        sys.exit([make_case(case, os.path.join(args[0], case.name)) for case in chosen] and None)
    shutil.rmtree(work := os.path.abspath(args[1]), ignore_errors=True)
    if mode == "spatial":
        sys.exit(spatial(os.path.abspath(args[0]), work, "--wrong-rule" in args))
    problems = sum((round_trip(c, os.path.abspath(args[0]), work) for c in chosen), [])
    sys.exit(print("\n".join(problems[:200]) or "no problem") or bool(problems))
