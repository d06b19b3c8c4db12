"""The .vtu files of vtk/ read (appended raw data, zlib blocks or plain, UInt32 or UInt64
headers), the .pvtu files of a run on several processes read as one grid, and .vtu files
written (appended raw, uncompressed), with numpy alone."""
import os
import struct
import xml.etree.ElementTree as ET
import zlib

import numpy as np

_TYPES = {"Int8": "i1", "UInt8": "u1", "Int16": "i2", "UInt16": "u2", "Int32": "i4",
          "UInt32": "u4", "Int64": "i8", "UInt64": "u8", "Float32": "f4", "Float64": "f8"}
_NAMES = {np.dtype(v).newbyteorder("<"): k for k, v in _TYPES.items()}


def read_vtu(path):
    """{'points', 'cells' (connectivity), 'offsets', 'types', 'point': {name: array},
    'cell': {name: array}, 'field': {name: array}} of one .vtu file."""
    with open(path, "rb") as f:
        data = f.read()
    at = data.index(b"<AppendedData")
    start = data.index(b"_", data.index(b">", at)) + 1
    xml = data[:at].decode() + "</VTKFile>"
    root = ET.fromstring(xml)
    order = "<" if root.get("byte_order", "LittleEndian") == "LittleEndian" else ">"
    hdr = order + ("Q" if root.get("header_type", "UInt32") == "UInt64" else "I")
    hsize = struct.calcsize(hdr)
    compressed = root.get("compressor") is not None

    def array(el):
        off = start + int(el.get("offset"))
        dt = np.dtype(_TYPES[el.get("type")]).newbyteorder(order)
        if compressed:
            nb, _, _ = struct.unpack_from(order + hdr[1] * 3, data, off)
            sizes = struct.unpack_from(order + hdr[1] * nb, data, off + 3 * hsize)
            p = off + (3 + nb) * hsize
            raw = bytearray()
            for s in sizes:
                raw += zlib.decompress(data[p:p + s])
                p += s
            raw = bytes(raw)
        else:
            (n,) = struct.unpack_from(hdr, data, off)
            raw = data[off + hsize:off + hsize + n]
        a = np.frombuffer(raw, dtype=dt).astype(dt.newbyteorder("="))
        nc = int(el.get("NumberOfComponents", "1"))
        return a.reshape(-1, nc) if nc > 1 else a

    out = {"point": {}, "cell": {}, "field": {}}
    for part, key in (("FieldData", "field"), ("PointData", "point"), ("CellData", "cell")):
        for el in root.iter(part):
            for da in el.findall("DataArray"):
                out[key][da.get("Name")] = array(da)
    out["points"] = array(root.find(".//Points/DataArray"))
    for da in root.find(".//Cells").findall("DataArray"):
        out[da.get("Name") if da.get("Name") != "connectivity" else "cells"] = array(da)
    return out


def read_pvtu(path):
    """The pieces of a .pvtu (a run on several processes) put together in the deck's numbering
    by their `node` and `element` arrays: the same dict as read_vtu of the one .vtu a run on
    one process writes (nodes shared by two pieces hold the same values in both)."""
    root = ET.parse(path).getroot()
    folder = os.path.dirname(path)
    pieces = [read_vtu(os.path.join(folder, p.get("Source"))) for p in root.iter("Piece")]
    if not pieces:
        raise ValueError("%s lists no piece" % path)
    nodes = [p["point"]["node"].astype(np.int64) for p in pieces]
    elems = [p["cell"]["element"].astype(np.int64) for p in pieces]
    n = max((int(a.max()) for a in nodes if len(a)), default=0)
    nt = max((int(a.max()) for a in elems if len(a)), default=0)
    seen_n, seen_e = np.zeros(n, bool), np.zeros(nt, bool)

    def whole(size, parts, index):
        out = np.zeros((size,) + parts[0].shape[1:], parts[0].dtype)
        for a, i in zip(parts, index):
            out[i - 1] = a
        return out

    out = {"field": pieces[0]["field"], "point": {}, "cell": {}}
    for name in pieces[0]["point"]:
        out["point"][name] = whole(n, [p["point"][name] for p in pieces], nodes)
    for name in pieces[0]["cell"]:
        if name != "element":
            out["cell"][name] = whole(nt, [p["cell"][name] for p in pieces], elems)
    out["points"] = whole(n, [p["points"] for p in pieces], nodes)
    # Every tetrahedron's vertices from the points of its piece to the deck's nodes.
    cells = [(nd[p["cells"].reshape(-1, 4)] - 1).astype(p["cells"].dtype)
             for p, nd in zip(pieces, nodes)]
    out["cells"] = whole(nt, cells, elems).reshape(-1)
    out["types"] = whole(nt, [p["types"] for p in pieces], elems)
    out["offsets"] = (4 * np.arange(1, nt + 1)).astype(pieces[0]["offsets"].dtype)
    for a in nodes:
        seen_n[a - 1] = True
    for a in elems:
        seen_e[a - 1] = True
    if not (seen_n.all() and seen_e.all()):
        raise ValueError("%s: its pieces miss %d nodes and %d elements of 1..%d and 1..%d"
                         % (path, (~seen_n).sum(), (~seen_e).sum(), n, nt))
    return out


def read_series_file(path):
    """One time of a series: a .vtu, or the pieces of a .pvtu put together."""
    return read_pvtu(path) if path.endswith(".pvtu") else read_vtu(path)


def write_vtu(path, points, tetrahedra, point_data=None, cell_data=None, field_data=None):
    """An UnstructuredGrid of tetrahedra (0-based node indices), appended raw little-endian
    data with UInt64 headers; arrays of shape (n,) or (n, k)."""
    arrays, blobs = [], []
    offset = 0

    def add(section, name, a):
        nonlocal offset
        a = np.ascontiguousarray(a)
        if a.dtype.kind == "b":
            a = a.astype(np.uint8)
        a = a.astype(a.dtype.newbyteorder("<"))
        nc = 1 if a.ndim == 1 else a.shape[1]
        arrays.append((section, name, _NAMES[a.dtype], nc, offset))
        b = a.tobytes()
        blobs.append(struct.pack("<Q", len(b)) + b)
        offset += 8 + len(b)

    for name, a in (field_data or {}).items():
        add("FieldData", name, np.atleast_1d(a))
    for name, a in (point_data or {}).items():
        add("PointData", name, a)
    for name, a in (cell_data or {}).items():
        add("CellData", name, a)
    tet = np.asarray(tetrahedra, np.int64)
    add("Points", "Points", np.asarray(points, np.float64))
    add("Cells", "connectivity", tet.reshape(-1))
    add("Cells", "offsets", 4 * np.arange(1, len(tet) + 1, dtype=np.int64))
    add("Cells", "types", np.full(len(tet), 10, np.uint8))

    def das(section, indent):
        s = ""
        for sec, name, typ, nc, off in arrays:
            if sec == section:
                comp = ' NumberOfComponents="%d"' % nc if nc > 1 or section == "Points" else ""
                tup = ' NumberOfTuples="1"' if section == "FieldData" else ""
                s += '%s<DataArray type="%s" Name="%s"%s%s format="appended" offset="%d"/>\n' % (
                    indent, typ, name, comp, tup, off)
        return s

    head = ('<?xml version="1.0"?>\n<VTKFile type="UnstructuredGrid" version="1.0" '
            'byte_order="LittleEndian" header_type="UInt64">\n  <UnstructuredGrid>\n')
    if field_data:
        head += "    <FieldData>\n" + das("FieldData", "      ") + "    </FieldData>\n"
    head += '    <Piece NumberOfPoints="%d" NumberOfCells="%d">\n' % (len(points), len(tet))
    head += "      <PointData>\n" + das("PointData", "        ") + "      </PointData>\n"
    head += "      <CellData>\n" + das("CellData", "        ") + "      </CellData>\n"
    head += "      <Points>\n" + das("Points", "        ") + "      </Points>\n"
    head += "      <Cells>\n" + das("Cells", "        ") + "      </Cells>\n"
    head += '    </Piece>\n  </UnstructuredGrid>\n  <AppendedData encoding="raw">\n   _'
    with open(path, "wb") as f:
        f.write(head.encode())
        for b in blobs:
            f.write(b)
        f.write(b"\n  </AppendedData>\n</VTKFile>\n")


def write_pvd(path, entries):
    """A collection: entries of (time, file name relative to the .pvd)."""
    with open(path, "w") as f:
        f.write('<?xml version="1.0"?>\n<VTKFile type="Collection" version="0.1" '
                'byte_order="LittleEndian">\n  <Collection>\n')
        for t, name in entries:
            f.write('    <DataSet timestep="%r" group="" part="0" file="%s"/>\n' % (float(t), name))
        f.write("  </Collection>\n</VTKFile>\n")


def read_pvd(path):
    """[(time, file name)] of a collection."""
    root = ET.parse(path).getroot()
    return [(float(d.get("timestep")), d.get("file")) for d in root.iter("DataSet")]
