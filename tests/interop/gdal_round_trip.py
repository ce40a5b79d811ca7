#!/usr/bin/env python3
"""Round trips through GDAL's MapInfo driver.

Each case writes a table with GDAL, deletes features with GDAL's DeleteFeature and runs tabrescue
without --all, with --all, and with --all again into the same folder (the first results must stay as
.bak). GDAL must read every result without a warning: the attribute result holds every row in order
with its values, RowId_old and rec_status "D" exactly for the deleted rows; the geometry result one
feature per object in file order with the geometry and style of RowId_old, the type code in
rec_status, and spatially filtered reads that agree with brute force. The input keeps its bytes.

Known gap, a note unless --strict: GDAL shows no geometry when a .MAP header counts no point, line,
area or text object, and the newer kinds (multi-polylines, font and custom symbols) count in none.

  gdal_round_trip.py --tabrescue build/tabrescue --work /tmp/rt [--case NAME ...] [--strict]
  gdal_round_trip.py --make-only DIR        only writes the tables (fuzzing seeds)
"""

import argparse
import math
import os
import re
import shutil
import struct
import subprocess
import sys
from collections import namedtuple

from osgeo import ogr, osr

from gdal_tables import component, delete_features, filter_mismatches, find_file, read_features, wkb, write_table


def path(points):
    return "(" + ", ".join("%r %r" % p for p in points) + ")"


def ring(cx, cy, r, n):
    pts = [(cx + r * math.cos(2 * math.pi * k / n), cy + r * math.sin(2 * math.pi * k / n)) for k in range(n)]
    return path(pts + pts[:1])


def mixed_geometry(i):
    """Every everyday shape by row number; kind 9 has no geometry."""
    x, y = (i % 37) * 2.5 - 45, (i % 23) * 3.0 - 33
    d = 1 if i % 2 else 0.0005  # wide, or small enough for 16-bit coordinates

    def at(*offsets):
        return path((x + a, y + b) for a, b in offsets)

    return [
        ("POINT %s" % at((0, 0)), None),
        ("LINESTRING %s" % at((0, 0), (1.5, 0.5)), None),
        ("LINESTRING %s" % at((0, 0), (1, 2), (3, 0), (4, 4)), None),
        ("LINESTRING %s" % at((0, 0), (0.001, 0.002), (0.003, 0)), None),
        ("POLYGON (%s, %s)" % (ring(x, y, 2, 12), ring(x, y, 0.5, 6)), None),
        ("POLYGON (%s)" % ring(x, y, 0.002, 5), None),
        ("MULTIPOLYGON ((%s), (%s, %s))" % (ring(x, y, 1, 8), ring(x + 5, y, 1, 4), ring(x + 5, y, 0.3, 4)), None),
        ("MULTILINESTRING (%s, %s)" % (at((0, 0), (d, d)), at((2 * d, 0), (3 * d, d), (4 * d, 0))), None),
        ("POINT %s" % at((0, 0)),
         'LABEL(t:"Label %d",s:2g,a:%d,c:#%06x,f:"Arial")' % (i, i % 90, i * 4099 % 0xFFFFFF)),
        (None, None),
        ("POINT %s" % at((0, 0)),
         'SYMBOL(id:"mapinfo-sym-%d",c:#%06x,s:%dpt)' % (32 + i % 30, i * 7919 % 0xFFFFFF, 8 + i % 12)),
    ][i % 11]


def symbol_geometry(i):
    point = "POINT (%r %r)" % (i * 0.5, -i * 0.25)
    return [(point, 'SYMBOL(id:"font-sym-%d",c:#ff0000,s:12pt,f:"MapInfo Symbols")' % (33 + i % 60)),
            (point, 'SYMBOL(id:"mapinfo-custom-sym-0-pin%d.bmp",c:#00ff00,s:14pt)' % (i % 3)),
            (point, None),
            ("LINESTRING %s" % path([(i * 0.5, -i * 0.25), (i * 0.5 + 1, 1 - i * 0.25)]), None)][i % 4]


def unclassed_geometry(i):
    """Only kinds that count as no point, line, area or text object in a .MAP header."""
    x, y = i * 0.5, i * 0.25
    if i % 2:
        return "MULTILINESTRING (%s, %s)" % (path([(x, y), (x + 1, y)]), path([(x, y + 1), (x + 1, y + 1)])), None
    return "POINT (%r %r)" % (x, y), 'SYMBOL(id:"font-sym-%d",c:#0000ff,s:10pt,f:"MapInfo Symbols")' % (40 + i % 20)


def large_geometry(i):
    """Beyond 32,767 points or parts, wide (32-bit coordinates) and small (16-bit), then everyday shapes."""
    small = i % 2
    if i < 2:
        rings = [ring(0, 0, 0.01 if small else 10, 40000)] + [ring(0, 0, 0.001, 8)] * small
        return "POLYGON (%s)" % ", ".join(rings), None
    if i < 4:
        step, gap = (5e-7, 0.001) if small else (0.001, 50)
        return "MULTILINESTRING (%s)" % ", ".join(
            path((k * gap + j * step, math.sin(j * 0.01) * step * 100) for j in range(36000)) for k in range(2)), None
    if i < 6:
        s, h = (5e-7, 0.001) if small else (0.001, 1)
        return "MULTILINESTRING (%s)" % ", ".join(path([(k * s, 0), (k * s, h)]) for k in range(33000)), None
    if i < 8:
        s, h = (1e-6, 0.0001) if small else (0.01, 1)
        return "MULTIPOLYGON (%s)" % ", ".join(
            "(%s)" % path([(k * s, 0), (k * s + s / 2, 0), (k * s, h), (k * s, 0)]) for k in range(33000)), None
    return mixed_geometry(i)


CYRILLIC = ["Москва", "Санкт-Петербург", "Новосибирск", "Екатеринбург", "Казань", "Нижний Новгород",
            "Челябинск", "Самара", "Омск", "Ростов-на-Дону", "Уфа", "Красноярск", "Воронеж", "Пермь"]

Case = namedtuple("Case", "name rows geometry deleted encoding char_name char_value",
                  defaults=(None, "label", lambda i: "row %d" % i))
CASES = [
    Case("mixed", 330, mixed_geometry, sorted({1, 2, 3, 10, 11, 45, 100, 101, 102, 103, 200, 249, 330}
                                              | set(range(17, 330, 29)))),
    Case("cyrillic", 140, mixed_geometry, [2, 7, 8, 70, 139], "CP1251", "город",
         lambda i: "%s %d" % (CYRILLIC[i % len(CYRILLIC)], i)),
    Case("symbols", 60, symbol_geometry, [1, 2, 5, 6, 30, 60]),
    Case("large", 14, large_geometry, [1, 4, 6, 8, 11]),
    Case("unclassed", 30, unclassed_geometry, [2, 3, 17]),
    Case("attributes_only", 40, mixed_geometry, [10, 21, 32]),  # only rows without geometry deleted
    Case("intact", 50, mixed_geometry, []),
    Case("all_deleted", 25, mixed_geometry, list(range(1, 26))),
]


def make_table(case, folder):
    srs = osr.SpatialReference()
    srs.ImportFromEPSG(4326)
    fields = [("num", ogr.OFTInteger, 0), ("amount", ogr.OFTReal, 0), ("day", ogr.OFTDate, 0),
              (case.char_name, ogr.OFTString, 32)]
    rows = (({"num": i * 37 - 500, "amount": i * 1.25 - 7.0 / (i + 1), case.char_name: case.char_value(i),
              "day": "%04d/%02d/%02d" % (1990 + i % 30, 1 + i % 12, 1 + i % 28)}, *case.geometry(i))
            for i in range(case.rows))
    return write_table(os.path.join(folder, case.name + ".tab"), fields, rows, srs,
                       ["ENCODING=" + case.encoding] if case.encoding else [])


def read_objects(tab):
    """row -> (offset, type code) of each row's object, from the raw .ID and .MAP."""
    ids, mp = (open(tab[:-4] + ext, "rb").read() for ext in (".id", ".map"))
    return {row: (offset, mp[offset]) for row, (offset,) in enumerate(struct.iter_unpack("<i", ids), 1) if offset > 0}


def snapshot(folder):
    if not os.path.isdir(folder):
        return {}
    return {name: open(os.path.join(folder, name), "rb").read() for name in sorted(os.listdir(folder))}


class Checks:
    """Collects failed checks so that one run shows them all; known gaps are notes unless strict."""

    def __init__(self, strict):
        self.strict, self.failures, self.notes = strict, [], set()

    def that(self, ok, what):
        if not ok:
            self.failures.append(what)
        return ok

    def equal(self, actual, expected, what):
        return self.that(actual == expected, "%s: got %r, expected %r" % (what, actual, expected))

    def known_gap(self, ok, what):
        if ok or self.strict:
            return self.that(ok, what)
        self.notes.add(what)


def check_attribute_result(checks, tab, truth, deleted):
    result, messages = read_features(tab)
    checks.equal(messages, [], "GDAL messages reading the attribute result")
    checks.equal(sorted(result), sorted(truth), "attribute result feature ids")
    for fid in sorted(set(result) & set(truth)):
        expected = dict(truth[fid][0], RowId_old=fid, rec_status="D" if fid in deleted else "")
        got = {name: result[fid][0].get(name) for name in expected}
        got["rec_status"] = (got["rec_status"] or "").strip()
        checks.equal(got, expected, "row %d" % fid)


def check_geometry_result(checks, tab, truth, objects, deleted):
    result, messages = read_features(tab)
    checks.equal(messages, [], "GDAL messages reading the geometry result")
    counted = any(struct.unpack_from("<4i", open(component(tab, "MAP"), "rb").read(), 316))  # points ... texts
    checks.known_gap(counted or not result,
                     "the header counts no point, line, area or text object, so GDAL shows no geometry")
    shown = counted or checks.strict
    in_file_order = sorted(objects.items(), key=lambda item: item[1][0])
    checks.equal(len(result), len(in_file_order), "geometry result feature count")
    for fid, (row, (offset, code)) in enumerate(in_file_order, 1):
        what = "object %d (row %d, type 0x%02X)" % (fid, row, code)
        if not checks.that(fid in result, what + " missing from the geometry result"):
            continue
        fields, geometry, style = result[fid]
        checks.equal((fields.get("RowId_new"), fields.get("RowId_old"), fields.get("rec_map_offset"),
                      (fields.get("rec_status") or "").rjust(4), style),
                     (fid, row, offset + 1, ("D" if row in deleted else " ") + " %02X" % code, truth[row][2]), what)
        if shown:
            checks.that(wkb(geometry) == wkb(truth[row][1]), what + " geometry differs from the original")
        else:
            checks.that(geometry is None, what + " has a geometry although the header counts none")
    if counted:
        figures, messages = filter_mismatches(tab, result, 10, seed=len(result))
        checks.equal((figures[1:], messages), ([0, 0, 0], []), "filtered reads: wrong, missed, extra; GDAL messages")


def verify_run(checks, case, tabrescue, tab, out, restore_all, truth, objects):
    deleted = set(case.deleted)
    before = snapshot(os.path.dirname(tab))
    os.makedirs(out, exist_ok=True)
    proc = subprocess.run([tabrescue] + ["--all"] * restore_all + ["-o", out, tab], capture_output=True, timeout=600)
    log = (proc.stdout + proc.stderr).decode("utf-8", "replace")
    checks.that(snapshot(os.path.dirname(tab)) == before, "the input folder changed")
    dat_tab, map_tab = find_file(out, case.name + "_DAT.tab"), find_file(out, case.name + "_MAP.tab")
    deleted_objects = sum(row in deleted for row in objects)
    if not (restore_all or deleted):
        checks.equal((proc.returncode, "*** ends by ERROR at " in log, dat_tab, map_tab), (1, True, None, None),
                     "exit status, verdict and results of a run with nothing to do; log:\n" + log)
        return
    if not checks.equal(proc.returncode, 0, "exit status; log:\n" + log):
        return
    checks.that("*** Ends by OK at " in log, "verdict line missing; log:\n" + log)

    def restored(kind):
        pattern = r" \+!\+ (-?\d+) deleteted %s were restored to file '[^']*' \+!\+" % kind
        return [int(n) for n in re.findall(pattern, log)]

    if restore_all or deleted_objects:
        if checks.that(map_tab is not None, "geometry result missing in " + out):
            check_geometry_result(checks, map_tab, truth, objects, deleted)
            checks.equal(restored("Geometries"), [deleted_objects], "restored geometries reported")
    else:
        checks.that(map_tab is None, "geometry result written although no object was deleted")
    checks.equal(restored("Attributes"), [len(deleted)], "restored attributes reported")
    if checks.that(dat_tab is not None, "attribute result missing in " + out):
        check_attribute_result(checks, dat_tab, truth, deleted)


def run_case(case, tabrescue, work, strict):
    checks = Checks(strict)
    folder = os.path.join(work, case.name)
    shutil.rmtree(folder, ignore_errors=True)
    tab = make_table(case, os.path.join(folder, "in"))
    truth, messages = read_features(tab)
    checks.equal(messages, [], "GDAL messages reading the original")
    objects = read_objects(tab)
    delete_features(tab, case.deleted)
    checks.equal(sorted(read_features(tab)[0]), sorted(set(truth) - set(case.deleted)),
                 "GDAL's view after DeleteFeature")
    for restore_all, name in ((False, "out"), (True, "out-all"), (True, "out-all")):
        out = os.path.join(folder, name)
        earlier = snapshot(out)
        verify_run(checks, case, tabrescue, tab, out, restore_all, truth, objects)
        now = snapshot(out)
        for file, data in earlier.items():
            checks.that(now.get(file + ".bak") == data, "%s in %s was not kept as %s.bak" % (file, out, file))
    print("%-16s %4d rows, %4d deleted, %4d objects (types %s), %d failed, %d notes"
          % (case.name, len(truth), len(case.deleted), len(objects),
             " ".join("%02X" % c for c in sorted({code for _, code in objects.values()})),
             len(checks.failures), len(checks.notes)))
    for note in sorted(checks.notes):
        print("NOTE %s: %s" % (case.name, note))
    return ["%s: %s" % (case.name, f) for f in checks.failures]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tabrescue")
    parser.add_argument("--work")
    parser.add_argument("--case", action="append", choices=[c.name for c in CASES])
    parser.add_argument("--make-only", metavar="DIR")
    parser.add_argument("--strict", action="store_true", help="fail on the known gaps instead of noting them")
    args = parser.parse_args()
    selected = [c for c in CASES if not args.case or c.name in args.case]
    if args.make_only:
        for case in selected:
            delete_features(make_table(case, os.path.join(args.make_only, case.name)), case.deleted)
        return 0
    if not args.tabrescue or not args.work:
        parser.error("--tabrescue and --work are needed")
    failures = []
    for case in selected:
        failures += run_case(case, os.path.abspath(args.tabrescue), os.path.abspath(args.work), args.strict)
    for f in failures[:200]:
        print("FAIL " + f)
    if len(failures) > 200:
        print("... and %d more failures" % (len(failures) - 200))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
