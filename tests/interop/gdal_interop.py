#!/usr/bin/env python3
"""Tables written by GDAL's MapInfo driver, recovered here and read back by GDAL without a message.

round-trip TABRESCUE WORK [CASE ...]   every row and object as GDAL wrote it: recovered, rerun over backups, undeleted
spatial TABRESCUE WORK [--wrong-rule]   the spatial index of larger tables, and GDAL's filtered reads
make DIR [CASE ...]   only the round trips' tables
"""

import math, os, random, re, shutil, struct, subprocess, sys
from collections import namedtuple

from osgeo import gdal, ogr, osr

gdal.UseExceptions()


def component(tab, ext):
    """The file beside tab with its base name and extension ext, letter case ignored, or None."""
    folder, name = os.path.split(tab)
    wanted = (os.path.splitext(name)[0] + "." + ext).lower()
    return next((os.path.join(folder, n) for n in os.listdir(folder) if n.lower() == wanted), None)


def quietly(fn, *args):
    """fn(*args), and the warnings and errors GDAL reported meanwhile."""
    messages = []
    gdal.PushErrorHandler(lambda level, number, text: level >= gdal.CE_Warning and messages.append(text))
    try:
        return fn(*args), messages
    finally:
        gdal.PopErrorHandler()


def read_features(path):
    """fid -> (fields, geometry as ISO WKB or None, style)."""
    ds = ogr.Open(path)  # kept while its layer is read
    return {f.GetFID(): (f.items(), f.GetGeometryRef() and bytes(f.GetGeometryRef().ExportToIsoWkb()),
                         f.GetStyleString()) for f in ds.GetLayer(0)}


def write_table(path, fields, rows, deleted, srs=None, options=()):
    """fields: (name, OFT type, width); rows: (values, WKT or None, style or None); then GDAL deletes `deleted`.
    Returns GDAL's view before the deletion and, from the .ID and .MAP, row -> (offset, type code)."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    ds = ogr.GetDriverByName("MapInfo File").CreateDataSource(path)
    layer = ds.CreateLayer(os.path.basename(path)[:-4], srs, ogr.wkbUnknown, list(options))
    for name, kind, width in fields:
        field = ogr.FieldDefn(name, kind)
        field.SetWidth(width)
        layer.CreateField(field)
    for values, wkt, style in rows:
        f = ogr.Feature(layer.GetLayerDefn())
        [f.SetField(name, value) for name, value in values.items()]
        f.SetGeometry(wkt and ogr.CreateGeometryFromWkt(wkt))
        style and f.SetStyleString(style)
        layer.CreateFeature(f)
    ds = None
    written, messages = quietly(read_features, path)
    ids, mp = (open(component(path, ext), "rb").read() for ext in ("id", "map"))
    ds = ogr.Open(path, update=1)
    if messages or any(ds.GetLayer(0).DeleteFeature(fid) for fid in deleted):
        raise RuntimeError("GDAL could not read back %s or delete its features: %s" % (path, messages))
    return written, {row: (at, mp[at]) for row, (at,) in enumerate(struct.iter_unpack("<i", ids), 1) if at > 0}


def filter_mismatches(path, features, count, seed):
    """Reads the table through `count` random rectangles and compares each with brute force over
    `features`: [rectangles that should find something, wrong ones, features missed, features extra]."""
    shapes = {fid: ogr.CreateGeometryFromWkb(g) for fid, (_, g, _) in features.items() if g}
    boxes, figures, rng, ds = [g.GetEnvelope() for g in shapes.values()], [0] * 4, random.Random(seed), ogr.Open(path)
    if not boxes:
        return figures
    x0, x1, y0, y1 = (f(e[k] for e in boxes) for f, k in ((min, 0), (max, 1), (min, 2), (max, 3)))
    for _ in range(count):
        # Sizes over four decades, mostly around objects so that small windows find something.
        w, h = (max(x1 - x0, 1e-6) * 10 ** rng.uniform(-4, -0.3), max(y1 - y0, 1e-6) * 10 ** rng.uniform(-4, -0.3))
        e = rng.choice(boxes) if rng.random() < 0.7 else (x0, x1, y0, y1)
        cx, cy = rng.uniform(e[0], e[1]), rng.uniform(e[2], e[3])
        window = ogr.CreateGeometryFromWkt("POLYGON (%s)" % path_of([(cx + a * w, cy + b * h) for a, b in
                                                                    ((-1, -1), (1, -1), (1, 1), (-1, 1), (-1, -1))]))
        truth = {fid for fid, g in shapes.items() if g.Intersects(window)}
        ds.GetLayer(0).SetSpatialFilter(window)
        found = {f.GetFID() for f in ds.GetLayer(0)}
        figures = [a + b for a, b in zip(figures, (bool(truth), found != truth, len(truth - found), len(found - truth)))]
    return figures


path_of = lambda points: "(" + ", ".join("%r %r" % p for p in points) + ")"


ring = lambda cx, cy, r, n: path_of([(cx + r * math.cos(2 * math.pi * k / n), cy + r * math.sin(2 * math.pi * k / n))
                                     for k in range(n)] + [(cx + r, cy)])


def mixed(i, x=None, y=None, d=None):
    """Every everyday shape by row number, at (x, y) and d wide (by default wide, or small enough for
    16-bit coordinates); kind 9 has no geometry."""
    if x is None:
        x, y, d = (i % 37) * 2.5 - 45, (i % 23) * 3.0 - 33, 1 if i % 2 else 0.0005
    at = lambda *offsets: path_of((x + a * d, y + b * d) for a, b in offsets)
    label = 'LABEL(t:"Label %d",s:2g,a:%d,c:#%06x,f:"Arial")' % (i, i % 90, i * 4099 % 0xFFFFFF)
    symbol = 'SYMBOL(id:"mapinfo-sym-%d",c:#%06x,s:%dpt)' % (32 + i % 30, i * 7919 % 0xFFFFFF, 8 + i % 12)
    return [("POINT " + at((0, 0)), None), ("LINESTRING " + at((0, 0), (1.5, 0.5)), None),
            ("LINESTRING " + at((0, 0), (1, 2), (3, 0), (4, 4)), None),
            ("LINESTRING " + at((0, 0), (0.001, 0.002), (0.003, 0)), None),
            ("POLYGON (%s, %s)" % (ring(x, y, 2 * d, 12), ring(x, y, 0.5 * d, 6)), None),
            ("POLYGON (%s)" % ring(x, y, 0.002 * d, 5), None),
            ("MULTIPOLYGON ((%s), (%s, %s))" % (ring(x, y, d, 8), ring(x + 5 * d, y, d, 4), ring(x + 5 * d, y, d / 3, 4)),
             None),
            ("MULTILINESTRING (%s, %s)" % (at((0, 0), (1, 1)), at((2, 0), (3, 1), (4, 0))), None),
            ("POINT " + at((0, 0)), label), (None, None), ("POINT " + at((0, 0)), symbol)][i % 11]


def symbols(i):
    point = "POINT (%r %r)" % (i * 0.5, -i * 0.25)
    return [(point, 'SYMBOL(id:"font-sym-%d",c:#ff0000,s:12pt,f:"MapInfo Symbols")' % (33 + i % 60)),
            (point, 'SYMBOL(id:"mapinfo-custom-sym-0-pin%d.bmp",c:#00ff00,s:14pt)' % (i % 3)), (point, None),
            ("LINESTRING " + path_of([(i * 0.5, -i * 0.25), (i * 0.5 + 1, 1 - i * 0.25)]), None)][i % 4]


def unclassed(i):
    """Only kinds that count as no point, line, area or text object in a .MAP header."""
    if i % 2:
        return "MULTILINESTRING (%s, %s)" % (path_of([(i, i), (i + 1, i)]), path_of([(i, i + 1), (i + 1, i + 1)])), None
    return "POINT (%r %r)" % (i, i), 'SYMBOL(id:"font-sym-%d",c:#0000ff,s:10pt,f:"MapInfo Symbols")' % (40 + i % 20)


CITIES = ["Москва", "Санкт-Петербург", "Новосибирск", "Екатеринбург", "Казань", "Нижний Новгород", "Челябинск"]
Case = namedtuple("Case", "name rows geometry deleted encoding field label",
                  defaults=(None, "label", lambda i: "row %d" % i))
CASES = [  # each name a CMake test; the fuzz seeds take mixed, cyrillic, symbols and attributes_only
    Case("mixed", 330, mixed, sorted({1, 2, 3, 10, 11, 45, 100, 101, 102, 103, 200, 249, 330} | set(range(17, 330, 29)))),
    Case("cyrillic", 140, mixed, [2, 7, 8, 70, 139], "CP1251", "город", lambda i: "%s %d" % (CITIES[i % 7], i)),
    Case("symbols", 60, symbols, [1, 2, 5, 6, 30, 60]),
    Case("unclassed", 30, unclassed, [2, 3, 17]),
    Case("attributes_only", 40, mixed, [10, 21, 32]),  # only rows without geometry deleted
    Case("all_deleted", 25, mixed, list(range(1, 26)))]


def make_case(case, folder):
    """Writes the case's table and deletes its rows; returns its path and write_table's views of it."""
    srs = osr.SpatialReference()
    srs.ImportFromEPSG(4326)
    rows = (({"num": i * 37 - 500, "amount": i * 1.25 - 7.0 / (i + 1), case.field: case.label(i),
              "day": "%04d/%02d/%02d" % (1990 + i % 30, 1 + i % 12, 1 + i % 28)}, *case.geometry(i)) for i in range(case.rows))
    tab = os.path.join(folder, case.name + ".tab")
    return (tab, *write_table(tab, [("num", ogr.OFTInteger, 0), ("amount", ogr.OFTReal, 0), ("day", ogr.OFTDate, 0),
                                    (case.field, ogr.OFTString, 32)], rows, case.deleted, srs,
                              ["ENCODING=%s" % case.encoding] * bool(case.encoding)))


snapshot = lambda folder: {n: open(os.path.join(folder, n), "rb").read() for n in os.listdir(folder)} if os.path.isdir(folder) else {}


def check_run(expect, case, tabrescue, tab, out, restore_all, truth, objects):
    """Runs tabrescue once and checks its results with GDAL; expect(ok, what) records a failed check."""
    before = snapshot(os.path.dirname(tab))
    os.makedirs(out, exist_ok=True)
    proc = subprocess.run([tabrescue] + ["--all"] * restore_all + ["-o", out, tab], capture_output=True, timeout=600)
    log = (proc.stdout + proc.stderr).decode("utf-8", "replace")
    dat_tab, map_tab = (component(os.path.join(out, case.name + kind), "tab") for kind in ("_DAT.tab", "_MAP.tab"))
    deleted, deleted_objects = set(case.deleted), sum(row in case.deleted for row in objects)
    expect(snapshot(os.path.dirname(tab)) == before, "the input folder changed")
    moving_geometry = restore_all or deleted_objects > 0
    restored = [(kind, int(n)) for n, kind in re.findall(r" \+!\+ (-?\d+) deleteted (\w+) were restored", log)]
    if not expect(proc.returncode == 0 and "*** Ends by OK at " in log and dat_tab and bool(map_tab) == moving_geometry
                  and restored == [("Geometries", deleted_objects)] * moving_geometry + [("Attributes", len(deleted))],
                  "status %d, results %s; log:\n%s" % (proc.returncode, restored, log)):
        return
    result, messages = quietly(read_features, dat_tab)
    expect(not messages and sorted(result) == sorted(truth), "attribute result: %s %s" % (messages, sorted(result)))
    for fid in sorted(set(result) & set(truth)):
        want = dict(truth[fid][0], RowId_old=fid, rec_status="D" if fid in deleted else "")
        got = {name: result[fid][0].get(name) for name in want}
        got["rec_status"] = (got["rec_status"] or "").strip()
        expect(got == want, "row %d: %s, expected %s" % (fid, got, want))
    if not map_tab:
        return
    result, messages = quietly(read_features, map_tab)
    # GDAL shows no geometry when the header counts no point, line, area or text object
    counted = any(struct.unpack_from("<4i", open(component(map_tab, "MAP"), "rb").read(), 316))
    in_file_order = sorted(objects.items(), key=lambda item: item[1][0])
    expect(not messages and len(result) == len(in_file_order), "geometry result: %s %d" % (messages, len(result)))
    for fid, (row, (offset, code)) in enumerate(in_file_order, 1):
        fields, geometry, style = result.get(fid, ({}, None, None))
        got = (fields.get("RowId_new"), fields.get("RowId_old"), fields.get("rec_map_offset"),
               (fields.get("rec_status") or "").rjust(4), style, geometry)
        want = (fid, row, offset + 1, ("D" if row in deleted else " ") + " %02X" % code, truth[row][2],
                truth[row][1] if counted else None)
        expect(got == want, "object %d (row %d, type 0x%02X): %s, expected %s" % (fid, row, code, got[:5], want[:5]))


def round_trip(case, tabrescue, work):
    """Runs without --all, with --all, and with --all again into the same folder, then an undelete; the
    problems found."""
    failures, folder = [], os.path.join(work, case.name)
    expect = lambda ok, what: ok or failures.append("%s: %s" % (case.name, what))
    tab, truth, objects = make_case(case, os.path.join(folder, "in"))
    for restore_all, name in ((False, "out"), (True, "out-all"), (True, "out-all")):
        out, earlier = os.path.join(folder, name), snapshot(os.path.join(folder, name))
        check_run(expect, case, tabrescue, tab, out, restore_all, truth, objects)
        now = snapshot(out)
        expect(all(now.get(f + ".bak") == data for f, data in earlier.items()), "earlier results not kept as .bak")
    # The undeleted table holds every row as GDAL wrote it, and its filtered reads agree with brute force.
    subprocess.run([tabrescue, "--undelete", "-o", folder, tab], capture_output=True)
    undeleted = component(os.path.join(folder, case.name + "_undeleted.tab"), "tab")
    got, messages = quietly(read_features, undeleted) if undeleted else ({}, ["no undeleted table"])
    figures = filter_mismatches(undeleted, got, 50, 17) if undeleted else []
    expect(not messages and {f: v[:2] for f, v in got.items()} == {f: v[:2] for f, v in truth.items()}
           and figures[1:2] == [0], "undeleted table: %s, filtered reads %s" % (messages, figures))
    return failures


# type: (record length, points or 0 for an origin and a box, offset of the coordinates), for the types
# GDAL writes; 16-bit coordinates where type % 3 == 1
RECORDS = {0x00: (5, None, 0), 0x01: (10, 1, 5), 0x02: (14, 1, 5), 0x04: (14, 2, 5), 0x05: (22, 2, 5),
           0x07: (34, 0, 17), 0x08: (38, 0, 21), 0x0D: (37, 0, 19), 0x0E: (41, 0, 23), 0x10: (39, 2, 30),
           0x11: (53, 2, 36), 0x25: (36, 0, 19), 0x26: (40, 0, 23), 0x28: (22, 1, 17), 0x29: (26, 1, 17)}


num = lambda m, at, fmt="<i": struct.unpack_from(fmt, m, at)[0]


unite = lambda a, b: a or b if a is None or b is None else (*map(min, a[:2], b[:2]), *map(max, a[2:], b[2:]))


def block_boxes(m, wrong_rule=False):
    """The box of each object data block's records, by block offset, in file order."""
    boxes, sat = {}, lambda v: max(-2**31, min(2**31 - 1, v))
    for off in (off for off in range(1024, len(m), 512) if m[off] == 0x02):
        centre, rec, end = (num(m, off + 4), num(m, off + 8)), off + 20, off + 20 + num(m, off + 2, "<h")
        while rec < end:
            if m[rec] not in RECORDS:
                raise ValueError("record of unknown type 0x%02X at %d" % (m[rec], rec))
            (length, points, at), code = RECORDS[m[rec]], m[rec]
            if points is not None and code % 3 != 1:  # 32-bit coordinates; an origin and a box are two points
                pts = [(num(m, rec + at + 8 * k), num(m, rec + at + 8 * k + 4)) for k in range(points or 2)]
            elif points is not None:  # 16-bit offsets from the centre, or from the record's origin before its box
                base = centre if points or wrong_rule else (num(m, rec + at), num(m, rec + at + 4))
                at += 0 if points else 8
                pts = [(sat(base[0] + num(m, rec + at + 4 * k, "<h")), sat(base[1] + num(m, rec + at + 4 * k + 2, "<h")))
                       for k in range(points or 2)]
            if points is not None:
                boxes[off] = unite(boxes.get(off), (min(xs := [p[0] for p in pts]), min(ys := [p[1] for p in pts]), max(xs), max(ys)))
            rec += length
    return boxes


def index_entries(m):
    """(entry offset, leaf or not, box, child) of each spatial index entry in the order of a full descent,
    after checking that the index blocks are well formed and each box is the union of its child's."""
    root, depth, entries = num(m, 304), m[351], []

    def visit(off, level):
        n, total = num(m, off + 2, "<H"), None
        if off % 512 or off + 512 > len(m) or num(m, off, "<H") != 1 or not 1 <= n <= 25 or any(m[off + 4 + 20 * n:off + 512]):
            raise ValueError("no well-formed index block at %d (level %d)" % (off, level))
        for e in range(off + 4, off + 4 + 20 * n, 20):
            entries.append((e, leaf := level == depth - 1, box := struct.unpack_from("<4i", m, e), child := num(m, e + 16, "<I")))
            if not leaf and visit(child, level + 1) != box:
                raise ValueError("entry at %d is not the union of its child's" % e)
            total = unite(total, box)
        return total

    header = struct.unpack_from("<4i", m, 272)
    if bool(root) != bool(depth) or root and unite(header, visit(root, 1)) != header:
        raise ValueError("root %d, depth byte %d, or a header box that does not hold the root's" % (root, depth))
    return entries


def use_wrong_rule(map_path):
    """Rewrites the index boxes of a .MAP from leaf boxes that follow the wrong rule."""
    m = bytearray(open(map_path, "rb").read())
    boxes, unions = block_boxes(m, wrong_rule=True), {}
    for e, leaf, _, child in reversed(index_entries(m)):  # children before the entries above them
        box = boxes[child] if leaf else unions[child]
        struct.pack_into("<4i", m, e, *box)
        unions[e - e % 512] = unite(unions.get(e - e % 512), box)
    struct.pack_into("<4i", m, 272, *unite(struct.unpack_from("<4i", m, 272), unions[num(m, 304)]))
    open(map_path, "wb").write(m)


# name, features, mixed()'s kinds, scattered or clustered, share deleted
SPATIAL = [("few", 12, range(11), False, 0.3), ("clustered", 1500, range(11), False, 0.25),
           ("scattered", 2000, range(11), True, 0.25), ("regions", 4000, (4, 5, 6), False, 0.2),
           ("points", 24000, (0,), True, 0.2), ("all_deleted", 300, (2, 4, 7), False, 1.0)]


def spatial(tool, work, wrong_rule):
    """Recovers the geometries of larger tables with tabrescue (`tool`) and checks their index and GDAL's filters;
    returns the number of wrong filtered reads and of tables with other faults."""
    wrong, faults = 0, 0
    for seed, (name, count, kinds, scattered, share) in enumerate(SPATIAL, 1):
        rng, tab = random.Random(seed), os.path.join(work, name, name + ".tab")
        place = lambda i: ((rng.uniform(-2e4, 2e4), rng.uniform(-2e4, 2e4)) if scattered else
                           ((i // 40) * 150.0 - 9000 + rng.uniform(-12, 12), (i // 40 % 11) * 400.0 - 2000))
        rows = [({"name": "%s%d" % (name, i)}, *mixed(11 * i + kinds[i % len(kinds)], *place(i), rng.choice([0.2, 8, 100])))
                for i in range(count)]
        before, _ = write_table(tab, [("name", ogr.OFTString, 0)], rows, rng.sample(range(1, count + 1), round(count * share)),
                                options=["BOUNDS=-1000000,-1000000,1000000,1000000"])
        subprocess.run([tool, "--all", "-o", os.path.dirname(tab), tab], capture_output=True, check=True)
        result = component(os.path.join(os.path.dirname(tab), name + "_MAP.tab"), "TAB")
        try:
            if wrong_rule:
                use_wrong_rule(component(result, "MAP"))
            m = open(component(result, "MAP"), "rb").read()
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
    return wrong, faults


if __name__ == "__main__":
    mode, args = (sys.argv + [None])[1], sys.argv[2:]
    chosen = [c for c in CASES if c.name in args[1:]] or CASES
    if mode not in ("round-trip", "spatial", "make") or len(args) < 1 + (mode != "make"):
        sys.exit(__doc__)
    if mode == "make":
        sys.exit([make_case(case, os.path.join(args[0], case.name)) for case in chosen] and None)
    tool, work = (os.path.abspath(a) for a in args[:2])
    shutil.rmtree(work, ignore_errors=True)
    if mode == "spatial":
        wrong, faults = spatial(tool, work, "--wrong-rule" in args)
        sys.exit(not wrong if "--wrong-rule" in args else bool(wrong or faults))
    problems = sum((round_trip(c, tool, work) for c in chosen), [])
    print("\n".join(problems[:200]) or "no problem")
    sys.exit(bool(problems))
