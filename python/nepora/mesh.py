"""Surface triangulations for Deck.set_mesh: a structured rectangle, and (from_dem) a mesh of a
real terrain from a DEM and a boundary polygon."""
import numpy as np


def rectangle(nx, ny, lx, ly, x0=0.0, y0=0.0):
    """A rectangle of nx x ny surface nodes (lx by ly), each cell split by the same diagonal:
    x, y (node k at column k % nx, row k // nx) and the (NTRI, 3) triangles (0-based)."""
    xs = x0 + np.linspace(0.0, lx, nx)
    ys = y0 + np.linspace(0.0, ly, ny)
    X, Y = np.meshgrid(xs, ys)
    tri = []
    for j in range(ny - 1):
        for i in range(nx - 1):
            a, b = j * nx + i, j * nx + i + 1
            c, d = a + nx, b + nx
            tri += [(a, b, d), (a, d, c)]
    return X.reshape(-1), Y.reshape(-1), np.array(tri, np.int64).reshape(-1, 3)


# ---------------------------------------------------------------------------------------------
# Meshes from terrain

class Raster:
    """A DEM on a regular grid: x (ncols cell centres, ascending), y (nrows, ascending), z
    (nrows, ncols), NaN where there is no data."""

    def __init__(self, x, y, z):
        self.x, self.y = np.asarray(x, float), np.asarray(y, float)
        self.z = np.asarray(z, float)
        if self.z.shape != (len(self.y), len(self.x)):
            raise ValueError("z must be of shape (len(y), len(x))")

    @classmethod
    def read(cls, path):
        """An ESRI ASCII grid (.asc), read here; any other raster (GeoTIFF...) through GDAL
        (Debian: python3-gdal) or rasterio (python3-rasterio)."""
        path = str(path)
        if path.lower().endswith((".asc", ".grd", ".txt")):
            return cls._read_ascii(path)
        try:
            from osgeo import gdal
        except ImportError:
            gdal = None
        if gdal is not None:
            ds = gdal.Open(path)
            if ds is None:
                raise ValueError("%s: not a raster GDAL reads" % path)
            x0, dx, rx, y0, ry, dy = ds.GetGeoTransform()
            band = ds.GetRasterBand(1)
            z = band.ReadAsArray().astype(float)
            nodata = band.GetNoDataValue()
        else:
            try:
                import rasterio
            except ImportError:
                raise ImportError("reading %s needs GDAL (Debian: python3-gdal) or rasterio "
                                  "(python3-rasterio); an ASCII grid (.asc) needs neither" % path)
            with rasterio.open(path) as src:
                z = src.read(1).astype(float)
                t = src.transform
                x0, dx, rx, y0, ry, dy = t.c, t.a, t.b, t.f, t.d, t.e
                nodata = src.nodata
        if rx or ry:
            raise ValueError("%s: rotated rasters are not supported" % path)
        if nodata is not None:
            z[z == nodata] = np.nan
        ny, nx = z.shape
        x = x0 + dx * (np.arange(nx) + 0.5)
        y = y0 + dy * (np.arange(ny) + 0.5)
        if dx < 0:
            x, z = x[::-1], z[:, ::-1]
        if dy < 0:
            y, z = y[::-1], z[::-1]
        return cls(x, y, z)

    @classmethod
    def _read_ascii(cls, path):
        head = {}
        with open(path) as f:
            lines = f.read().split("\n")
        k = 0
        while k < len(lines) and lines[k].split() and lines[k].split()[0][0].isalpha():
            key, value = lines[k].split()[:2]
            head[key.lower()] = float(value)
            k += 1
        nx, ny, cs = int(head["ncols"]), int(head["nrows"]), head["cellsize"]
        z = np.array(" ".join(lines[k:]).split(), float)
        if z.size != nx * ny:
            raise ValueError("%s: %d values for %d x %d cells" % (path, z.size, nx, ny))
        z = z.reshape(ny, nx)[::-1]  # rows from the south
        if "nodata_value" in head:
            z[z == head["nodata_value"]] = np.nan
        xc = head["xllcenter"] if "xllcenter" in head else head["xllcorner"] + cs / 2
        yc = head["yllcenter"] if "yllcenter" in head else head["yllcorner"] + cs / 2
        return cls(xc + cs * np.arange(nx), yc + cs * np.arange(ny), z)

    def write_ascii(self, path, digits=3):
        """Writes an ESRI ASCII grid (square cells)."""
        cs = self.x[1] - self.x[0]
        z = np.where(np.isnan(self.z), -9999.0, self.z)[::-1]
        with open(path, "w") as f:
            f.write("ncols %d\nnrows %d\nxllcorner %r\nyllcorner %r\ncellsize %r\n"
                    "NODATA_value -9999\n" % (len(self.x), len(self.y), self.x[0] - cs / 2,
                                              self.y[0] - cs / 2, cs))
            for row in z:
                f.write(" ".join("%.*f" % (digits, v) for v in row) + "\n")

    def filled(self):
        """z with the cells without data filled from their neighbours."""
        z = self.z.copy()
        for _ in range(max(z.shape)):
            bad = np.isnan(z)
            if not bad.any():
                break
            p = np.pad(z, 1, constant_values=np.nan)
            nb = np.stack([p[:-2, 1:-1], p[2:, 1:-1], p[1:-1, :-2], p[1:-1, 2:]])
            with np.errstate(all="ignore"):
                m = np.nanmean(nb, axis=0)
            z[bad] = m[bad]
        if np.isnan(z).all():
            raise ValueError("the DEM holds no data")
        return z

    def sample(self, x, y, z=None):
        """Bilinear interpolation at points (held at the edge outside the grid)."""
        z = self.filled() if z is None else z
        fx = np.clip((np.asarray(x) - self.x[0]) / (self.x[1] - self.x[0]), 0, len(self.x) - 1)
        fy = np.clip((np.asarray(y) - self.y[0]) / (self.y[1] - self.y[0]), 0, len(self.y) - 1)
        i = np.minimum(fx.astype(int), len(self.x) - 2)
        j = np.minimum(fy.astype(int), len(self.y) - 2)
        u, v = fx - i, fy - j
        return ((1 - u) * (1 - v) * z[j, i] + u * (1 - v) * z[j, i + 1]
                + (1 - u) * v * z[j + 1, i] + u * v * z[j + 1, i + 1])

    def curvature(self):
        """The largest principal curvature magnitude of the surface (1/length) on the grid,
        smoothed over 3 x 3 cells."""
        z = self.filled()
        dx, dy = self.x[1] - self.x[0], self.y[1] - self.y[0]
        zy, zx = np.gradient(z, dy, dx)
        zxy, zxx = np.gradient(zx, dy, dx)
        zyy, _ = np.gradient(zy, dy, dx)
        half = 0.5 * (zxx + zyy)
        root = np.sqrt(0.25 * (zxx - zyy) ** 2 + zxy ** 2)
        c = np.maximum(np.abs(half + root), np.abs(half - root))
        p = np.pad(c, 1, mode="edge")
        return sum(p[a:a + c.shape[0], b:b + c.shape[1]] for a in range(3) for b in range(3)) / 9.0


def _polygons(source, what="boundary"):
    """[(shapely Polygon, properties)] of a GeoJSON file, a shapefile (or any vector file GDAL
    reads), a shapely geometry or a list of (x, y) points."""
    from shapely.geometry import Polygon, shape
    if hasattr(source, "geom_type"):
        geoms = [(source, {})]
    elif isinstance(source, (list, tuple, np.ndarray)) and len(source) and np.ndim(source[0]) == 1:
        geoms = [(Polygon(source), {})]
    else:
        path = str(source)
        if path.lower().endswith((".geojson", ".json")):
            import json
            with open(path) as f:
                data = json.load(f)
            feats = data["features"] if data.get("type") == "FeatureCollection" else (
                [data] if data.get("type") == "Feature" else [{"geometry": data, "properties": {}}])
            geoms = [(shape(ft["geometry"]), ft.get("properties") or {}) for ft in feats]
        else:
            try:
                from osgeo import ogr
            except ImportError:
                raise ImportError("reading %s needs GDAL (Debian: python3-gdal); GeoJSON needs "
                                  "nothing more" % path)
            from shapely import wkt
            ds = ogr.Open(path)
            if ds is None:
                raise ValueError("%s: not a vector file GDAL reads" % path)
            layer = ds.GetLayer(0)
            geoms = []
            for ft in layer:
                props = {layer.GetLayerDefn().GetFieldDefn(k).GetName(): ft.GetField(k)
                         for k in range(ft.GetFieldCount())}
                geoms.append((wkt.loads(ft.GetGeometryRef().ExportToWkt()), props))
    out = []
    for g, props in geoms:
        parts = list(g.geoms) if g.geom_type == "MultiPolygon" else [g]
        out += [(p, props) for p in parts if p.geom_type == "Polygon"]
    if not out:
        raise ValueError("no polygon in the %s" % what)
    return out


def from_dem(dem, boundary, size, min_size=None, tolerance=None, layers=None, materials=None,
             material_field="material", default_material=1, simplify=0.0, deck=None):
    """A deck whose surface triangulation covers the boundary polygon, refined where the
    terrain bends, with the surface elevations of the DEM.

    dem        a raster file (ESRI ASCII grid .asc; GeoTIFF and others through GDAL) or a Raster
    boundary   the outline: GeoJSON, shapefile, shapely Polygon or [(x, y), ...]; holes are
               kept; with several polygons, the largest
    size       the largest triangle side (map units); min_size the smallest (default size / 5)
    tolerance  the elevation error allowed between the DEM and the planar triangles: a triangle
               of side h over terrain of curvature c departs from it by about c h^2 / 8, so
               h = sqrt(8 tolerance / c), within [min_size, size] (default: 1/200 of the
               relief)
    layers     layer thicknesses, top first (Deck.set_layers); default: one layer of 1
    materials  an optional polygon layer (GeoJSON, shapefile, or [(polygon, code)]): a
               triangle whose centroid lies in a polygon takes its code (the property
               material_field, else 2, 3, ... in order); default_material elsewhere
    simplify   drop the outline's vertices that lie within this distance of a simpler line (a
               dense outline traced from a raster would force tiny triangles along the edge)
    deck       a Deck to set the mesh of (default: a new one)
    """
    import gmsh
    from shapely.geometry import Point  # noqa: F401  (shapely is needed for the polygons)
    from .deck import Deck

    raster = dem if isinstance(dem, Raster) else Raster.read(dem)
    zf = raster.filled()
    min_size = size / 5.0 if min_size is None else min_size
    if tolerance is None:
        tolerance = max(np.nanmax(raster.z) - np.nanmin(raster.z), 1e-6) / 200.0
    curv = raster.curvature()
    with np.errstate(divide="ignore"):
        hgrid = np.clip(np.sqrt(8.0 * tolerance / np.maximum(curv, 1e-300)), min_size, size)
    hgrid = np.nan_to_num(hgrid, nan=size)

    polys = _polygons(boundary)
    outline = max((p for p, _ in polys), key=lambda p: p.area)
    if simplify:
        outline = outline.simplify(simplify, preserve_topology=True)

    gmsh.initialize(["nepora"], readConfigFiles=False)
    try:
        gmsh.option.setNumber("General.Terminal", 0)
        gmsh.model.add("terrain")
        geo = gmsh.model.geo

        def loop(ring):
            pts = np.asarray(ring.coords)[:-1]
            tags = [geo.addPoint(float(x), float(y), 0.0, size) for x, y in pts]
            lines = [geo.addLine(tags[k], tags[(k + 1) % len(tags)]) for k in range(len(tags))]
            return geo.addCurveLoop(lines)

        loops = [loop(outline.exterior)] + [loop(r) for r in outline.interiors]
        geo.addPlaneSurface(loops)
        geo.synchronize()
        gmsh.option.setNumber("Mesh.MeshSizeExtendFromBoundary", 0)
        gmsh.option.setNumber("Mesh.MeshSizeFromPoints", 0)
        gmsh.option.setNumber("Mesh.MeshSizeFromCurvature", 0)
        gmsh.option.setNumber("Mesh.Algorithm", 6)
        gmsh.model.mesh.setSizeCallback(
            lambda dim, tag, x, y, z, *lc: float(raster.sample(x, y, hgrid)))
        gmsh.model.mesh.generate(2)
        tags, coords, _ = gmsh.model.mesh.getNodes()
        _, _, conn = gmsh.model.mesh.getElements(2)
    finally:
        gmsh.finalize()
    xyz = np.asarray(coords).reshape(-1, 3)
    tri_tags = np.asarray(conn[0], np.int64).reshape(-1, 3)
    used = np.unique(tri_tags)
    index = {int(t): k for k, t in enumerate(tags)}
    keep = np.array([index[int(t)] for t in used])
    renum = {int(t): k for k, t in enumerate(used)}
    tri = np.vectorize(renum.get)(tri_tags)
    x, y = xyz[keep, 0], xyz[keep, 1]
    z = raster.sample(x, y, zf)

    mat = np.full(len(tri), int(default_material), np.int64)
    if materials is not None:
        from shapely.geometry import Point
        if isinstance(materials, list) and materials and isinstance(materials[0], tuple):
            zones = [(p, {material_field: c}) for p, c in materials]
        else:
            zones = _polygons(materials, "material layer")
        cx, cy = x[tri].mean(axis=1), y[tri].mean(axis=1)
        for k, (poly, props) in enumerate(zones):
            code = int(props.get(material_field, k + 2))
            inside = np.array([poly.contains(Point(a, b)) for a, b in zip(cx, cy)])
            mat[inside] = code
    deck = deck if deck is not None else Deck()
    deck.grid.ISP = 1
    deck.set_mesh(x, y, tri, z, material=mat)
    deck.set_layers(layers if layers is not None else [1.0])
    return deck


def main(argv=None):
    """nepora-mesh: a deck (or its grid file) from a DEM and a boundary polygon."""
    import argparse
    ap = argparse.ArgumentParser(
        prog="nepora-mesh",
        description="Meshes the ground surface inside a boundary polygon from a DEM (ESRI "
                    "ASCII grid, GeoTIFF, ...), refined where the terrain bends, and writes a "
                    "deck directory with that grid file (or the grid file alone).")
    ap.add_argument("dem", help="the DEM (.asc read directly; GeoTIFF and others through GDAL)")
    ap.add_argument("boundary", help="the outline: GeoJSON or shapefile")
    ap.add_argument("-o", "--output", required=True,
                    help="the deck directory to write (with --grid-only: the grid file)")
    ap.add_argument("--size", type=float, required=True, help="largest triangle side")
    ap.add_argument("--min-size", type=float, help="smallest triangle side (default size/5)")
    ap.add_argument("--tolerance", type=float,
                    help="elevation error allowed (default: 1/200 of the relief)")
    ap.add_argument("--layers", default="1.0",
                    help="layer thicknesses from the top, comma-separated (default 1.0)")
    ap.add_argument("--materials", help="polygon layer of materials (GeoJSON or shapefile)")
    ap.add_argument("--material-field", default="material",
                    help="the property holding a polygon's material code (default: material)")
    ap.add_argument("--simplify", type=float, default=0.0,
                    help="simplify the outline to within this distance (default: keep it)")
    ap.add_argument("--grid-only", action="store_true", help="write only the grid file")
    a = ap.parse_args(argv)
    import os
    from .deck import Deck, _column
    from . import sections as S
    deck = from_dem(a.dem, a.boundary, a.size, a.min_size, a.tolerance,
                    [float(t) for t in a.layers.split(",")], a.materials, a.material_field,
                    simplify=a.simplify)
    if a.grid_only:
        os.makedirs(os.path.dirname(os.path.abspath(a.output)), exist_ok=True)
        with open(a.output, "w") as f:
            f.write(S.render(deck.grid, S._grid, _column("grid")))
        where = a.output
    else:
        where = deck.write(a.output)
    t = deck.grid.TRIANG[:, :3] - 1
    side = np.hypot(np.diff(deck.grid.X[t[:, [0, 1, 2, 0]]], axis=1),
                    np.diff(deck.grid.Y[t[:, [0, 1, 2, 0]]], axis=1))
    print("nepora-mesh: %d surface nodes, %d triangles (sides %.3g to %.3g), %d layers, "
          "%d materials, N1 = %d: %s" % (deck.NNOD, len(t), side.min(), side.max(), deck.NSTR,
                                         deck.grid.NZONE, deck.grid.N1, where))
    return 0
