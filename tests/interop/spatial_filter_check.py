#!/usr/bin/python3
"""GDAL's spatial filters on the geometry results of GDAL-written tables, checked against brute force.

  spatial_filter_check.py --tool RECOVER_TOOL --workdir DIR [--rectangles N] [--wrong-rule]

Writes tables with GDAL, deletes some rows and recovers the geometries with RECOVER_TOOL (it takes a
.TAB path and prints the result's .TAB path). Each result's spatial index must be well formed with
every leaf box the box of its object data block computed here from the records, every geometry must
be its old row's, and SetSpatialFilterRect must agree with brute force for N random rectangles.
With --wrong-rule the leaf boxes are first rebuilt with short records taken relative to the block
centre; the run then passes only if the filters catch it.
"""

import argparse
import os
import random
import shutil
import struct
import subprocess
import sys

from osgeo import ogr

from gdal_tables import component, delete_features, filter_mismatches, read_features, wkb, write_table

BLOCK = 512
ROOT_AT, DEPTH_AT, HEADER_BOX_AT = 304, 351, 272

# type: (record length, points or 0 for an origin and a box, offset of the coordinates); the types
# GDAL writes for these tables
RECORDS = {0x00: (5, None, 0), 0x01: (10, 1, 5), 0x02: (14, 1, 5), 0x04: (14, 2, 5), 0x05: (22, 2, 5),
           0x07: (34, 0, 17), 0x08: (38, 0, 21), 0x0D: (37, 0, 19), 0x0E: (41, 0, 23), 0x10: (39, 2, 30),
           0x11: (53, 2, 36), 0x25: (36, 0, 19), 0x26: (40, 0, 23), 0x28: (22, 1, 17), 0x29: (26, 1, 17)}


class Failure(Exception):
    pass


def sat(v):
    return max(-2**31, min(2**31 - 1, v))


def num(m, at, fmt):
    return struct.unpack_from(fmt, m, at)[0]


def unite(a, b):
    if a is None or b is None:
        return a or b
    return (min(a[0], b[0]), min(a[1], b[1]), max(a[2], b[2]), max(a[3], b[3]))


def record_box(m, rec, code, centre, wrong_rule):
    _, points, at = RECORDS[code]
    at += rec
    if code % 3 != 1:  # 32-bit coordinates; an origin and a box are two points
        pts = [(num(m, at + 8 * i, "<i"), num(m, at + 8 * i + 4, "<i")) for i in range(points or 2)]
    else:  # 16-bit offsets from the block centre, or from the record's own origin before its box
        base = centre
        if points == 0:
            base = centre if wrong_rule else (num(m, at, "<i"), num(m, at + 4, "<i"))
            at += 8
        pts = [(sat(base[0] + num(m, at + 4 * i, "<h")), sat(base[1] + num(m, at + 4 * i + 2, "<h")))
               for i in range(points or 2)]
    xs, ys = zip(*pts)
    return (min(xs), min(ys), max(xs), max(ys))


def walk(m, wrong_rule=False):
    """Object data blocks in file order: (offset, box or None)."""
    blocks = []
    for off in range(1024, len(m), BLOCK):
        if m[off] != 0x02:
            continue
        used, centre = num(m, off + 2, "<h"), (num(m, off + 4, "<i"), num(m, off + 8, "<i"))
        box, rel = None, 20
        while rel < 20 + used:
            code = m[off + rel]
            if code not in RECORDS:
                raise Failure(f"record of unknown type 0x{code:02X} at {off + rel}")
            if code != 0x00:
                box = unite(box, record_box(m, off + rel, code, centre, wrong_rule))
            rel += RECORDS[code][0]
        blocks.append((off, box))
    return blocks


def descend(m):
    """Leaf entries (box, block) as a reader meets them, after checking the tree; [] without an index."""
    root, depth = num(m, ROOT_AT, "<i"), m[DEPTH_AT]
    if root == 0 or depth == 0:
        if root != 0 or depth != 0:
            raise Failure(f"root {root} with depth byte {depth}")
        return [], []
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
            box, child = struct.unpack_from("<4i", m, off + 4 + 20 * k), num(m, off + 20 + 20 * k, "<I")
            total = unite(total, box)
            if level < depth - 1:
                if visit(child, level + 1) != box:
                    raise Failure(f"entry {k} of {off} is not the union of its child {child}")
            elif child % BLOCK or child >= len(m) or m[child] != 0x02 or child in seen:
                raise Failure(f"leaf entry {k} of {off} points at {child}: no object data block, or reached twice")
            else:
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


def make_wrong(result_tab, folder):
    """A copy of the result whose leaf boxes (and the boxes above them) follow the wrong rule."""
    os.makedirs(folder, exist_ok=True)
    for ext in ("TAB", "DAT", "ID", "MAP"):
        shutil.copy(component(result_tab, ext), folder)
    copy = os.path.join(folder, os.path.basename(result_tab))
    map_path = component(copy, "MAP")
    m = bytearray(open(map_path, "rb").read())
    boxes = {off: box for off, box in walk(m, wrong_rule=True) if box is not None}

    def visit(off, level):
        total = None
        for k in range(num(m, off + 2, "<H")):
            e = off + 4 + 20 * k
            child = num(m, e + 16, "<I")
            box = boxes[child] if level == m[DEPTH_AT] - 1 else visit(child, level + 1)
            struct.pack_into("<4i", m, e, *box)
            total = unite(total, box)
        return total

    root_box = visit(num(m, ROOT_AT, "<i"), 1)
    struct.pack_into("<4i", m, HEADER_BOX_AT, *unite(struct.unpack_from("<4i", m, HEADER_BOX_AT), root_box))
    open(map_path, "wb").write(m)
    return copy


def check(tab, rectangles, seed, before, wrong_rule):
    """Checks one result; returns its filter figures and how many geometries differ. Raises Failure on
    a faulty index."""
    m = open(component(tab, "MAP"), "rb").read()
    blocks = walk(m)
    expected = [(box, off) for off, box in blocks if box is not None]
    leaves, index_blocks = descend(m)
    found = [(tuple(b), c) for b, c in leaves]
    if wrong_rule:  # its boxes differ by design: only which blocks are indexed, in which order
        found, expected = [c for _, c in found], [c for _, c in expected]
    if found != expected:
        raise Failure(f"leaf entries differ from the object data blocks' boxes "
                      f"({len(found)} leaves, {len(expected)} blocks with a box)")
    features, _ = read_features(tab)
    figures, messages = filter_mismatches(tab, features, rectangles, seed)
    faults = len(messages)
    if not wrong_rule:
        olds = sorted(fields["RowId_old"] for fields, _, _ in features.values())
        if olds != sorted(before):
            raise Failure("the result's old row numbers are not those of the table's objects")
        faults += sum(wkb(g) != before[fields["RowId_old"]] for fields, g, _ in features.values())
    print(f"{tab}: {len(blocks)} object data blocks, {len(leaves)} leaves, {m[DEPTH_AT]} at 351, "
          f"{len(index_blocks)} index blocks; {rectangles} rectangles, {figures[0]} that should find objects, "
          f"{figures[1]} wrong ({figures[2]} features missed, {figures[3]} extra); {faults} geometries differ "
          f"or GDAL messages")
    return figures, faults


def wkt_for(kind, x, y, d):
    return {
        "point": f"POINT ({x} {y})",
        "line": f"LINESTRING ({x} {y}, {x + d} {y - d / 2})",  # two points: a line object
        "polyline": f"LINESTRING ({x} {y}, {x + d} {y + d / 3}, {x + d / 2} {y - d})",
        "multiline": f"MULTILINESTRING (({x} {y}, {x + d} {y + d}), ({x - d} {y}, {x} {y - d}))",
        "region": f"POLYGON (({x} {y}, {x + d} {y}, {x + d} {y + d}, {x} {y}))",
        "multiregion": f"MULTIPOLYGON ((({x} {y}, {x + d} {y}, {x} {y + d}, {x} {y})), "
                       f"(({x + 2 * d} {y}, {x + 3 * d} {y}, {x + 2 * d} {y + d}, {x + 2 * d} {y})))",
        # too wide for 16-bit coordinates
        "bigregion": f"POLYGON (({x} {y}, {x + 300} {y}, {x + 300} {y + 20}, {x} {y}))",
        "bigpolyline": f"LINESTRING ({x} {y}, {x + 250} {y + 90}, {x + 30} {y - 80})",
    }[kind]


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


def make_table(folder, name, count, kinds, clustered, deleted_share, seed):
    """Writes a table with GDAL and deletes some rows; returns its path and fid -> WKB before the deletion."""
    rng = random.Random(seed)

    def rows():
        for i in range(count):
            if clustered:
                x = (i // 40) * 150.0 - 9000 + rng.uniform(-12, 12)
                y = ((i // 40) % 11) * 400.0 - 2000 + rng.uniform(-12, 12)
            else:
                x, y = rng.uniform(-20000, 20000), rng.uniform(-20000, 20000)
            kind = kinds[i % len(kinds)]
            shape = wkt_for("point" if kind in STYLES else kind, x, y, rng.uniform(0.2, 8))
            yield {"name": f"{name}{i}"}, shape, STYLES.get(kind)

    path = write_table(os.path.join(folder, name + ".tab"), [("name", ogr.OFTString, 0)], rows(),
                       options=["BOUNDS=-1000000,-1000000,1000000,1000000"])
    before = {fid: wkb(g) for fid, (_, g, _) in read_features(path)[0].items()}
    delete_features(path, rng.sample(sorted(before), round(len(before) * deleted_share)))
    return path, before


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--tool", required=True)
    p.add_argument("--workdir", required=True)
    p.add_argument("--rectangles", type=int, default=100)
    p.add_argument("--wrong-rule", action="store_true")
    args = p.parse_args()
    shutil.rmtree(args.workdir, ignore_errors=True)
    totals, faults, structural = [0, 0, 0, 0], 0, 0
    for n, (name, count, kinds, clustered, deleted) in enumerate(TABLES, 1):
        folder = os.path.join(args.workdir, name)
        tab, before = make_table(folder, name, count, kinds, clustered, deleted, seed=n)
        run = subprocess.run([args.tool, tab], capture_output=True, text=True)
        if run.returncode != 0:
            print(f"{args.tool} failed on {tab}: {run.stdout}{run.stderr}")
            return 1
        result = run.stdout.strip()
        if args.wrong_rule:
            result = make_wrong(result, os.path.join(folder, "wrong"))
        try:
            figures, table_faults = check(result, args.rectangles, n, before, args.wrong_rule)
        except Failure as e:
            print(f"{result}: {e}")
            structural += 1
            continue
        totals = [a + b for a, b in zip(totals, figures)]
        faults += table_faults
    print(f"{len(TABLES)} tables, {totals[0]} rectangles that should find objects, {totals[1]} wrong "
          f"({totals[2]} features missed, {totals[3]} extra), {faults} geometries differ or GDAL messages, "
          f"{structural} tables with a faulty index")
    if args.wrong_rule:
        if totals[1] == 0:
            print("the wrong rule went unnoticed by GDAL's filters")
        return 0 if totals[1] else 1
    return 0 if totals[1] == 0 and faults == 0 and structural == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
