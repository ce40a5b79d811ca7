#!/usr/bin/python3
"""GDAL's spatial filters on a geometry result table, checked against brute force.

  spatial_filter_check.py check RESULT.TAB [--rectangles N] [--seed S] [--expect GEOMETRIES.json]
      Descends the result's spatial index and checks its structure and every leaf box (computed
      here from the object records), then compares SetSpatialFilterRect with brute force for N
      random rectangles. With --expect, also compares every feature's geometry with the one its
      old row had (a JSON object: old row number -> WKT).

  spatial_filter_check.py suite --tool RECOVER_TOOL --workdir DIR [--rectangles N] [--wrong-rule]
      Writes tables with GDAL, deletes some rows, recovers the geometries with RECOVER_TOOL (it
      takes a .TAB path and prints the result's .TAB path) and checks every result. With
      --wrong-rule the leaf boxes of each result are first rebuilt with short polyline boxes taken
      relative to the block centre; the suite then passes only if the filters catch it.

Needs the Python bindings of GDAL (Debian's /usr/bin/python3 with python3-gdal).
"""

import argparse
import json
import math
import os
import random
import shutil
import struct
import subprocess
import sys

from osgeo import gdal, ogr

gdal.UseExceptions()

BLOCK = 512
ROOT_AT, DEPTH_AT, HEADER_BOX_AT = 304, 351, 272

LENGTHS = {
    0x00: 5, 0x01: 10, 0x02: 14, 0x04: 14, 0x05: 22, 0x07: 34, 0x08: 38, 0x0A: 26, 0x0B: 42,
    0x0D: 37, 0x0E: 41, 0x10: 39, 0x11: 53, 0x13: 15, 0x14: 23, 0x16: 19, 0x17: 31, 0x19: 15,
    0x1A: 23, 0x25: 36, 0x26: 40, 0x28: 22, 0x29: 26, 0x2B: 13, 0x2C: 17, 0x2E: 37, 0x2F: 41,
    0x31: 36, 0x32: 40, 0x34: 50, 0x35: 54, 0x37: 61, 0x38: 61, 0x3D: 72, 0x3E: 76, 0x40: 71,
    0x41: 75, 0x43: 83, 0x44: 87, 0x46: 66, 0x47: 66,
}

# Where each type keeps its coordinates: (kind, offset from the type byte).
POINT, PAIRS, ARC, ORIGIN = "point", "pairs", "arc", "origin"
LAYOUT = {}
for codes, kind, at in [
    ((0x01, 0x02), POINT, 5), ((0x28, 0x29), POINT, 17), ((0x2B, 0x2C), POINT, 7),
    ((0x04, 0x05, 0x13, 0x14, 0x19, 0x1A), PAIRS, 5), ((0x16,), PAIRS, 9), ((0x17,), PAIRS, 13),
    ((0x10,), PAIRS, 30), ((0x11,), PAIRS, 36), ((0x0A, 0x0B), ARC, 9),
    ((0x07,), ORIGIN, 17), ((0x08,), ORIGIN, 21),
    ((0x0D, 0x25, 0x2E, 0x31), ORIGIN, 19), ((0x0E, 0x26, 0x2F, 0x32), ORIGIN, 23),
    ((0x3D, 0x40), ORIGIN, 54), ((0x3E, 0x41), ORIGIN, 58), ((0x34,), ORIGIN, 34), ((0x35,), ORIGIN, 38),
    ((0x43,), ORIGIN, 67), ((0x44,), ORIGIN, 71), ((0x37, 0x38), ORIGIN, 45), ((0x46, 0x47), ORIGIN, 50),
]:
    for c in codes:
        LAYOUT[c] = (kind, at)


class Failure(Exception):
    pass


def sat(v):
    return max(-2**31, min(2**31 - 1, v))


def num(m, at, fmt):
    """A little-endian value; bytes past the end of the file read as zeros."""
    size = struct.calcsize(fmt)
    raw = m[at:at + size]
    return struct.unpack(fmt, raw + b"\0" * (size - len(raw)))[0]


def unite(a, b):
    if a is None:
        return b
    if b is None:
        return a
    return (min(a[0], b[0]), min(a[1], b[1]), max(a[2], b[2]), max(a[3], b[3]))


def ordered(x1, y1, x2, y2):
    return (min(x1, x2), min(y1, y2), max(x1, x2), max(y1, y2))


def record_box(m, rec, code, centre, rule):
    kind, at = LAYOUT[code]
    at += rec
    short = code % 3 == 1
    if short and kind == ORIGIN and rule == "correct":
        ox, oy = num(m, at, "<i"), num(m, at + 4, "<i")
        v = [num(m, at + 8 + 2 * i, "<h") for i in range(4)]
        return ordered(sat(ox + v[0]), sat(oy + v[1]), sat(ox + v[2]), sat(oy + v[3]))
    if short and kind == ORIGIN:  # the wrong rule: the block centre as base
        v = [num(m, at + 8 + 2 * i, "<h") for i in range(4)]
        return ordered(sat(centre[0] + v[0]), sat(centre[1] + v[1]), sat(centre[0] + v[2]), sat(centre[1] + v[3]))
    if kind == ORIGIN:
        return ordered(*(num(m, at + 4 * i, "<i") for i in range(4)))
    count = {POINT: 1, PAIRS: 2, ARC: 4}[kind]
    if short:
        pts = [(sat(centre[0] + num(m, at + 4 * i, "<h")), sat(centre[1] + num(m, at + 4 * i + 2, "<h")))
               for i in range(count)]
    else:
        pts = [(num(m, at + 8 * i, "<i"), num(m, at + 8 * i + 4, "<i")) for i in range(count)]
    xs, ys = [p[0] for p in pts], [p[1] for p in pts]
    return (min(xs), min(ys), max(xs), max(ys))


def walk(m, rule="correct"):
    """Object data blocks in file order: (offset, box or None, offsets of objects after a 0x00 record)."""
    hb = [num(m, HEADER_BOX_AT + 4 * i, "<i") for i in range(4)]
    header_box = ordered(*hb)
    blocks = []
    for off in range(1024, len(m), BLOCK):
        if m[off] != 0x02:
            continue
        used = num(m, off + 2, "<h")
        centre = (num(m, off + 4, "<i"), num(m, off + 8, "<i"))
        box, after_null, seen_null = None, [], False
        rel = 20
        while rel < 20 + used:
            if off + rel + 5 > len(m) or rel + 5 > BLOCK:
                break
            code = m[off + rel]
            length = LENGTHS.get(code, 0)
            if length and rel + length > BLOCK:
                break
            if seen_null:
                after_null.append(off + rel)
            if length == 0:
                box = unite(box, header_box)
                break
            if code == 0x00:
                seen_null = True
            else:
                box = unite(box, record_box(m, off + rel, code, centre, rule))
            rel += length
        blocks.append((off, box, after_null))
    return blocks


def descend(m):
    """Leaf entries as a reader meets them, after checking the tree; [] when there is no index."""
    root, depth = num(m, ROOT_AT, "<i"), m[DEPTH_AT]
    if root == 0 or depth == 0:
        if root != 0 or depth != 0:
            raise Failure(f"root {root} with depth byte {depth}")
        return [], []
    levels = depth - 1
    seen, leaves, index_blocks = set(), [], []

    def visit(off, level):
        if off % BLOCK or off + BLOCK > len(m) or off in seen:
            raise Failure(f"index block at {off} is outside the file or reached twice")
        seen.add(off)
        index_blocks.append(off)
        kind, n = num(m, off, "<H"), num(m, off + 2, "<H")
        if kind != 1 or not 1 <= n <= 25 or any(m[off + 4 + 20 * n:off + BLOCK]):
            raise Failure(f"block at {off} (level {level}) is not a well-formed index block")
        total = None
        for k in range(n):
            e = off + 4 + 20 * k
            box, child = struct.unpack_from("<4i", m, e), num(m, e + 16, "<I")
            total = unite(total, box)
            if level < levels:
                if visit(child, level + 1) != box:
                    raise Failure(f"entry {k} of {off} is not the union of its child {child}")
            else:
                if child % BLOCK or child >= len(m) or m[child] != 0x02 or child in seen:
                    raise Failure(f"leaf entry {k} of {off} points at {child}: no object data block, or reached twice")
                seen.add(child)
                leaves.append((box, child))
        return total

    root_box = visit(root, 1)
    if root + BLOCK != len(m) or min(index_blocks) + BLOCK * len(index_blocks) != len(m):
        raise Failure("the index blocks are not the end of the file with the root last")
    header = struct.unpack_from("<4i", m, HEADER_BOX_AT)
    if unite(header, root_box) != header:
        raise Failure("the header box does not hold the root's")
    return leaves, index_blocks


def rewrite_leaves(m, boxes):
    """The file with every leaf entry's box replaced from `boxes` (block -> box) and the inner entries recomputed."""
    m = bytearray(m)
    levels = m[DEPTH_AT] - 1

    def visit(off, level):
        total = None
        for k in range(num(m, off + 2, "<H")):
            e = off + 4 + 20 * k
            child = num(m, e + 16, "<I")
            box = boxes[child] if level == levels else visit(child, level + 1)
            struct.pack_into("<4i", m, e, *box)
            total = unite(total, box)
        return total

    root_box = visit(num(m, ROOT_AT, "<i"), 1)
    header = struct.unpack_from("<4i", m, HEADER_BOX_AT)
    struct.pack_into("<4i", m, HEADER_BOX_AT, *unite(header, root_box))
    return bytes(m)


def component(tab, ext):
    base = os.path.splitext(tab)[0]
    for name in os.listdir(os.path.dirname(tab) or "."):
        full = os.path.join(os.path.dirname(tab), name)
        if os.path.splitext(full)[0] == base and name.lower().endswith("." + ext.lower()):
            return full
    raise Failure(f"no .{ext} beside {tab}")


def read_features(tab):
    ds = ogr.Open(tab)
    lyr = ds.GetLayer(0)
    feats = {}
    for f in lyr:
        g = f.GetGeometryRef()
        old = f.GetField("RowId_old") if f.GetFieldIndex("RowId_old") >= 0 else None
        feats[f.GetFID()] = (g.Clone() if g else None, g.GetEnvelope() if g else None, old)
    return ds, lyr, feats


def rect_geometry(x0, y0, x1, y1):
    ring = ogr.Geometry(ogr.wkbLinearRing)
    for x, y in ((x0, y0), (x1, y0), (x1, y1), (x0, y1), (x0, y0)):
        ring.AddPoint_2D(x, y)
    poly = ogr.Geometry(ogr.wkbPolygon)
    poly.AddGeometry(ring)
    return poly


def compare_filters(tab, rectangles, seed, excused_offsets):
    """Returns (rectangles, rectangles that should find something, wrong rectangles, features missed, extra)."""
    ds, lyr, feats = read_features(tab)
    ids = open(component(tab, "ID"), "rb").read()
    excused = {i + 1 for i in range(len(ids) // 4) if struct.unpack_from("<i", ids, 4 * i)[0] in excused_offsets}
    envs = [e for g, e, _ in feats.values() if e]
    if not envs:
        return rectangles, 0, 0, 0, 0
    x0, x1 = min(e[0] for e in envs), max(e[1] for e in envs)
    y0, y1 = min(e[2] for e in envs), max(e[3] for e in envs)
    w, h = max(x1 - x0, 1e-6), max(y1 - y0, 1e-6)
    rng = random.Random(seed)
    centres = [((e[0] + e[1]) / 2, (e[2] + e[3]) / 2) for e in envs]
    nonempty = wrong = missed = extra = 0
    for _ in range(rectangles):
        rw, rh = w * 10 ** rng.uniform(-4, 0), h * 10 ** rng.uniform(-4, 0)
        cx, cy = rng.choice(centres) if rng.random() < 0.7 else (rng.uniform(x0, x1), rng.uniform(y0, y1))
        r = (cx - rw / 2, cy - rh / 2, cx + rw / 2, cy + rh / 2)
        rg = rect_geometry(*r)
        truth = {fid for fid, (g, e, _) in feats.items()
                 if g and e[0] <= r[2] and e[1] >= r[0] and e[2] <= r[3] and e[3] >= r[1] and g.Intersects(rg)}
        lyr.SetSpatialFilterRect(*r)
        lyr.ResetReading()
        found = {f.GetFID() for f in lyr}
        lyr.SetSpatialFilter(None)
        truth -= excused
        found -= excused
        nonempty += bool(truth)
        if found != truth:
            wrong += 1
            missed += len(truth - found)
            extra += len(found - truth)
    return rectangles, nonempty, wrong, missed, extra


def check(tab, rectangles, seed, expect=None, leaf_boxes=True):
    """Checks one result table; returns its figures. Raises Failure on a structural fault."""
    m = open(component(tab, "MAP"), "rb").read()
    blocks = walk(m)
    expected_leaves = [(box, off) for off, box, _ in blocks if box is not None]
    leaves, index_blocks = descend(m)
    found = [(tuple(b), c) for b, c in leaves]
    if not leaf_boxes:  # only which blocks are indexed, in which order
        found, expected_leaves = [c for _, c in found], [c for _, c in expected_leaves]
    if found != expected_leaves:
        raise Failure(f"leaf entries differ from the object data blocks' boxes "
                      f"({len(found)} leaves, {len(expected_leaves)} blocks with a box)")
    excused = {o for _, _, after in blocks for o in after}
    figures = compare_filters(tab, rectangles, seed, excused)
    geometry_faults = 0
    if expect is not None:
        _, _, feats = read_features(tab)
        olds = sorted(old for _, _, old in feats.values())
        if olds != sorted(int(k) for k in expect):
            raise Failure("the result's old row numbers are not those of the table's objects")
        for g, _, old in feats.values():
            if (g.ExportToWkt() if g else None) != expect[str(old)]:
                geometry_faults += 1
    print(f"{tab}: {len(blocks)} object data blocks, {len(leaves)} leaves, {m[DEPTH_AT]} at 351, "
          f"{len(index_blocks)} index blocks; {figures[0]} rectangles, {figures[1]} that should find "
          f"objects, {figures[2]} wrong ({figures[3]} features missed, {figures[4]} extra)"
          + (f"; {geometry_faults} geometries differ" if expect is not None else ""))
    return figures, geometry_faults


# ----------------------------------------------------------------------------------------------
# GDAL-written tables.

def wkt_for(kind, x, y, rng):
    d = rng.uniform(0.2, 8)
    if kind == "point":
        return f"POINT ({x} {y})"
    if kind == "line":  # two points: a line object
        return f"LINESTRING ({x} {y}, {x + d} {y - d / 2})"
    if kind == "polyline":
        return f"LINESTRING ({x} {y}, {x + d} {y + d / 3}, {x + d / 2} {y - d})"
    if kind == "multiline":
        return f"MULTILINESTRING (({x} {y}, {x + d} {y + d}), ({x - d} {y}, {x} {y - d}))"
    if kind == "region":
        return f"POLYGON (({x} {y}, {x + d} {y}, {x + d} {y + d}, {x} {y}))"
    if kind == "multiregion":
        return (f"MULTIPOLYGON ((({x} {y}, {x + d} {y}, {x} {y + d}, {x} {y})), "
                f"(({x + 2 * d} {y}, {x + 3 * d} {y}, {x + 2 * d} {y + d}, {x + 2 * d} {y})))")
    if kind == "bigregion":  # too wide for 16-bit coordinates
        return f"POLYGON (({x} {y}, {x + 300} {y}, {x + 300} {y + 20}, {x} {y}))"
    if kind == "bigpolyline":
        return f"LINESTRING ({x} {y}, {x + 250} {y + 90}, {x + 30} {y - 80})"
    raise ValueError(kind)


STYLES = {"text": 'LABEL(f:"Arial",t:"label",s:2g)',
          "fontsymbol": 'SYMBOL(id:"font-sym-35",c:#ff0000,s:12pt,f:"MapInfo Symbols")'}

# name, features, kinds, clustered (neighbours in creation order lie close together), share deleted
TABLES = [
    ("few", 12, ["point", "polyline", "region"], True, 0.3),
    ("mixed", 1500, ["point", "line", "polyline", "multiline", "region", "multiregion", "text", "fontsymbol",
                     "bigregion", "bigpolyline"], True, 0.25),
    ("scattered", 2000, ["polyline", "region", "point", "multiline"], False, 0.25),
    ("regions", 4000, ["region", "multiregion", "bigregion"], True, 0.2),
    ("points", 24000, ["point"], False, 0.2),
    ("all_deleted", 300, ["polyline", "multiline", "region"], True, 1.0),
]


def write_table(folder, name, count, kinds, clustered, deleted_share, seed):
    """Writes a table with GDAL and deletes some rows; returns the geometries before the deletion."""
    rng = random.Random(seed)
    path = os.path.join(folder, name + ".tab")
    drv = ogr.GetDriverByName("MapInfo File")
    ds = drv.CreateDataSource(path)
    lyr = ds.CreateLayer(name, None, ogr.wkbUnknown, options=["BOUNDS=-1000000,-1000000,1000000,1000000"])
    lyr.CreateField(ogr.FieldDefn("name", ogr.OFTString))
    for i in range(count):
        if clustered:
            cx, cy = (i // 40) * 150.0 - 9000, ((i // 40) % 11) * 400.0 - 2000
            x, y = cx + rng.uniform(-12, 12), cy + rng.uniform(-12, 12)
        else:
            x, y = rng.uniform(-20000, 20000), rng.uniform(-20000, 20000)
        kind = kinds[i % len(kinds)]
        f = ogr.Feature(lyr.GetLayerDefn())
        f.SetField("name", f"{name}{i}")
        f.SetGeometry(ogr.CreateGeometryFromWkt(wkt_for("point" if kind in STYLES else kind, x, y, rng)))
        if kind in STYLES:
            f.SetStyleString(STYLES[kind])
        lyr.CreateFeature(f)
    f = lyr = ds = None

    ds = ogr.Open(path)
    lyr = ds.GetLayer(0)
    before = {}
    for f in lyr:
        g = f.GetGeometryRef()
        before[str(f.GetFID())] = g.ExportToWkt() if g else None
    f = lyr = ds = None

    ds = ogr.Open(path, 1)
    lyr = ds.GetLayer(0)
    fids = sorted(int(k) for k in before)
    for fid in rng.sample(fids, round(len(fids) * deleted_share)):
        lyr.DeleteFeature(fid)
    lyr = ds = None
    return path, before


def recover(tool, tab):
    out = subprocess.run([tool, tab], capture_output=True, text=True)
    if out.returncode != 0:
        raise Failure(f"{tool} failed on {tab}: {out.stdout}{out.stderr}")
    return out.stdout.strip()


def make_wrong(result_tab, folder):
    """A copy of the result whose leaf boxes take short polylines relative to the block centre."""
    os.makedirs(folder, exist_ok=True)
    copy = os.path.join(folder, os.path.basename(result_tab))
    for ext in ("TAB", "DAT", "ID", "MAP"):
        src = component(result_tab, ext)
        shutil.copyfile(src, os.path.join(folder, os.path.basename(src)))
    map_path = component(copy, "MAP")
    m = open(map_path, "rb").read()
    boxes = {off: box for off, box, _ in walk(m, rule="centre") if box is not None}
    open(map_path, "wb").write(rewrite_leaves(m, boxes))
    return copy


def suite(args):
    if os.path.isdir(args.workdir):
        shutil.rmtree(args.workdir)
    totals = [0, 0, 0, 0, 0]
    geometry_faults = structural = 0
    for n, (name, count, kinds, clustered, deleted) in enumerate(TABLES):
        folder = os.path.join(args.workdir, name)
        os.makedirs(folder)
        tab, before = write_table(folder, name, count, kinds, clustered, deleted, seed=n + 1)
        result = recover(args.tool, tab)
        if args.wrong_rule:
            result = make_wrong(result, os.path.join(folder, "wrong"))
        try:
            figures, faults = check(result, args.rectangles, n + 1, expect=None if args.wrong_rule else before,
                                    leaf_boxes=not args.wrong_rule)
        except Failure as e:
            print(f"{result}: {e}")
            structural += 1
            continue
        totals = [a + b for a, b in zip(totals, figures)]
        geometry_faults += faults
    print(f"{len(TABLES)} tables, {totals[0]} rectangles, {totals[1]} that should find objects, "
          f"{totals[2]} wrong ({totals[3]} features missed, {totals[4]} extra), "
          f"{geometry_faults} geometries differ, {structural} tables with a faulty index")
    if args.wrong_rule:
        # Only the filters judge the wrong rule: its leaves differ from ours by design.
        if totals[2] == 0:
            print("the wrong rule went unnoticed by GDAL's filters")
            return 1
        return 0
    return 0 if totals[2] == 0 and geometry_faults == 0 and structural == 0 else 1


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = p.add_subparsers(dest="command", required=True)
    c = sub.add_parser("check")
    c.add_argument("tab")
    c.add_argument("--rectangles", type=int, default=100)
    c.add_argument("--seed", type=int, default=1)
    c.add_argument("--expect")
    s = sub.add_parser("suite")
    s.add_argument("--tool", required=True)
    s.add_argument("--workdir", required=True)
    s.add_argument("--rectangles", type=int, default=100)
    s.add_argument("--wrong-rule", action="store_true")
    args = p.parse_args()
    if args.command == "suite":
        return suite(args)
    try:
        expect = json.load(open(args.expect)) if args.expect else None
        figures, faults = check(args.tab, args.rectangles, args.seed, expect)
    except Failure as e:
        print(f"{args.tab}: {e}")
        return 1
    return 0 if figures[2] == 0 and faults == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
