"""GDAL opens the undeleted table of a GDAL-written table with deleted rows and sees every row as written."""
import os, shutil, subprocess, sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "interop"))
from gdal_tables import delete_features, filter_mismatches, ogr, read_features, wkb, write_table

tool, work = sys.argv[1:3]
shutil.rmtree(work, ignore_errors=True)
shapes = ["POINT (%d 5)", "LINESTRING (%d 0,7 9,2 40)", "POLYGON ((%d 0,30 0,30 30,%d 0))"]
rows = [({"NAME": "row %d" % i, "N": i}, shapes[i % 3].replace("%d", str(i)), None) for i in range(1, 30)]
tab = write_table(os.path.join(work, "in", "gdal table.tab"), [("NAME", ogr.OFTString, 12), ("N", ogr.OFTInteger, 0)], rows)
truth, _ = read_features(tab)
delete_features(tab, [2, 3, 7, 29])
os.makedirs(os.path.join(work, "out"))
subprocess.run([tool, "--undelete", "-o", os.path.join(work, "out"), tab], check=True)
undeleted = os.path.join(work, "out", "gdal table_undeleted.TAB")
got, messages = read_features(undeleted)
problems = messages + ["feature %d: %s" % (fid, got.get(fid)) for fid, (values, geometry, _) in truth.items()
                       if fid not in got or got[fid][0] != values or wkb(got[fid][1]) != wkb(geometry)]
figures, messages = filter_mismatches(undeleted, got, 200, 17)
problems += messages + (["spatial filters: %s" % figures] if figures[1] else [])
print("\n".join(problems) or "%d features as written" % len(got))
sys.exit(1 if problems or len(got) != len(truth) else 0)
