"""Writing, reading and spatially filtering MapInfo tables through GDAL, for the interop checks."""

import contextlib
import os
import random

from osgeo import gdal, ogr

gdal.UseExceptions()


@contextlib.contextmanager
def gdal_messages():
    """GDAL's warnings and errors while in the block."""
    messages = []
    gdal.PushErrorHandler(lambda level, number, text: messages.append(
        "GDAL %d/%d: %s" % (level, number, text)) if level >= gdal.CE_Warning else None)
    try:
        yield messages
    finally:
        gdal.PopErrorHandler()


def find_file(folder, name):
    """The file of that name in folder, letter case ignored, or None."""
    return next((os.path.join(folder, n) for n in os.listdir(folder) if n.lower() == name.lower()), None)


def component(tab, ext):
    """The file beside tab with the same base name and extension ext."""
    folder, name = os.path.split(tab)
    return find_file(folder or ".", os.path.splitext(name)[0] + "." + ext)


def write_table(path, fields, rows, srs=None, options=()):
    """fields: (name, OFT type, width or 0); rows: (values, geometry or WKT or None, style or None)."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    ds = ogr.GetDriverByName("MapInfo File").CreateDataSource(path)
    layer = ds.CreateLayer(os.path.splitext(os.path.basename(path))[0], srs, ogr.wkbUnknown, list(options))
    for name, kind, width in fields:
        field = ogr.FieldDefn(name, kind)
        field.SetWidth(width)
        layer.CreateField(field)
    for values, geometry, style in rows:
        f = ogr.Feature(layer.GetLayerDefn())
        for name, value in values.items():
            f.SetField(name, value)
        if geometry is not None:
            f.SetGeometry(ogr.CreateGeometryFromWkt(geometry) if isinstance(geometry, str) else geometry)
        if style:
            f.SetStyleString(style)
        layer.CreateFeature(f)
    ds = None
    return path


def delete_features(path, fids):
    ds = ogr.Open(path, update=1)
    for fid in fids:
        if ds.GetLayer(0).DeleteFeature(fid) != 0:
            raise RuntimeError("GDAL could not delete feature %d of %s" % (fid, path))
    ds = None


def read_features(path):
    """fid -> (fields, geometry or None, style), and GDAL's messages while reading."""
    with gdal_messages() as messages:
        ds = ogr.Open(path)
        features = {}
        for f in ds.GetLayer(0):
            g = f.GetGeometryRef()
            features[f.GetFID()] = (f.items(), g.Clone() if g else None, f.GetStyleString())
        ds = None
    return features, messages


def wkb(geometry):
    return bytes(geometry.ExportToIsoWkb()) if geometry is not None else None


def filter_mismatches(path, features, count, seed):
    """Reads the table through `count` random spatial filters and compares each with brute force over
    `features` (from read_features). Returns [rectangles that should find something, wrong rectangles,
    features missed, features extra] and GDAL's messages."""
    boxes = {fid: g.GetEnvelope() for fid, (_, g, _) in features.items() if g is not None}
    figures = [0, 0, 0, 0]
    if not boxes:
        return figures, []
    x0, x1 = min(e[0] for e in boxes.values()), max(e[1] for e in boxes.values())
    y0, y1 = min(e[2] for e in boxes.values()), max(e[3] for e in boxes.values())
    w, h = max(x1 - x0, 1e-6), max(y1 - y0, 1e-6)
    centres = [((e[0] + e[1]) / 2, (e[2] + e[3]) / 2) for e in boxes.values()]
    rng = random.Random(seed)
    with gdal_messages() as messages:
        ds = ogr.Open(path)
        layer = ds.GetLayer(0)
        for _ in range(count):
            # Sizes over four decades, mostly around objects so that small windows find something.
            rw, rh = w * 10 ** rng.uniform(-4, 0), h * 10 ** rng.uniform(-4, 0)
            cx, cy = rng.choice(centres) if rng.random() < 0.7 else (rng.uniform(x0, x1), rng.uniform(y0, y1))
            r = (cx - rw / 2, cy - rh / 2, cx + rw / 2, cy + rh / 2)
            window = ogr.CreateGeometryFromWkt("POLYGON ((%r %r, %r %r, %r %r, %r %r, %r %r))" % (
                r[0], r[1], r[2], r[1], r[2], r[3], r[0], r[3], r[0], r[1]))
            truth = {fid for fid, e in boxes.items() if e[0] <= r[2] and e[1] >= r[0] and e[2] <= r[3]
                     and e[3] >= r[1] and features[fid][1].Intersects(window)}
            layer.SetSpatialFilterRect(*r)
            layer.ResetReading()
            found = {f.GetFID() for f in layer}
            figures[0] += bool(truth)
            if found != truth:
                figures[1] += 1
                figures[2] += len(truth - found)
                figures[3] += len(found - truth)
        ds = None
    return figures, messages
