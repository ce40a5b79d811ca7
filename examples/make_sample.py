#!/usr/bin/python3
# Writes the bundled sample table with GDAL: 36 rows of points, polylines and regions, five of
# them deleted through GDAL itself. Usage: /usr/bin/python3 examples/make_sample.py examples/roads.tab
import sys, os
from osgeo import ogr, osr, gdal
gdal.UseExceptions()
out = sys.argv[1]
drv = ogr.GetDriverByName("MapInfo File")
if os.path.exists(out): drv.DeleteDataSource(out)
ds = drv.CreateDataSource(out)
srs = osr.SpatialReference(); srs.ImportFromEPSG(4326)
lyr = ds.CreateLayer("roads", srs, ogr.wkbUnknown, options=["BOUNDS=-180,-90,180,90"])
for name, t in [("ID", ogr.OFTInteger), ("NAME", ogr.OFTString), ("LEN", ogr.OFTReal)]:
    fd = ogr.FieldDefn(name, t)
    if t == ogr.OFTString: fd.SetWidth(20)
    lyr.CreateField(fd)
import math
for i in range(36):
    f = ogr.Feature(lyr.GetLayerDefn())
    f.SetField("ID", i + 1); f.SetField("NAME", "feature %d" % (i + 1)); f.SetField("LEN", i * 1.5)
    x, y = 30 + (i % 6) * 0.5, 50 + (i // 6) * 0.5
    k = i % 3
    if k == 0: g = ogr.CreateGeometryFromWkt("POINT (%f %f)" % (x, y))
    elif k == 1: g = ogr.CreateGeometryFromWkt("LINESTRING (%f %f, %f %f, %f %f)" % (x, y, x+0.2, y+0.1, x+0.3, y-0.1))
    else: g = ogr.CreateGeometryFromWkt("POLYGON ((%f %f, %f %f, %f %f, %f %f))" % (x, y, x+0.3, y, x+0.3, y+0.3, x, y))
    f.SetGeometry(g)
    lyr.CreateFeature(f)
ds = None
ds = ogr.Open(out, update=1)
lyr = ds.GetLayer(0)
for fid in (3, 8, 14, 22, 30):
    lyr.DeleteFeature(fid)
ds = None
