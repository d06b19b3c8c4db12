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
    (nrows, ncols), NaN where there is no data; crs its coordinate system (anything pyproj
    takes: "EPSG:4326", a WKT string...) or None when unknown."""

    def __init__(self, x, y, z, crs=None):
        self.x, self.y = np.asarray(x, float), np.asarray(y, float)
        self.z = np.asarray(z, float)
        self.crs = crs or None
        if self.z.shape != (len(self.y), len(self.x)):
            raise ValueError("z must be of shape (len(y), len(x))")
        if len(self.x) < 2 or len(self.y) < 2:
            raise ValueError("a DEM needs 2 x 2 cells at least")

    @property
    def dx(self):
        return self.x[1] - self.x[0]

    @property
    def dy(self):
        return self.y[1] - self.y[0]

    def geographic(self):
        """True when the DEM is in longitude and latitude (its crs says so)."""
        if self.crs is None:
            return False
        import pyproj
        return pyproj.CRS.from_user_input(self.crs).is_geographic

    def utm(self):
        """The UTM zone (WGS 84) of the DEM's centre, as "EPSG:326nn" or "EPSG:327nn"."""
        import pyproj
        from pyproj.aoi import AreaOfInterest
        from pyproj.database import query_utm_crs_info
        lon, lat = self.x.mean(), self.y.mean()
        if not self.geographic():
            to = pyproj.Transformer.from_crs(self.crs, "EPSG:4326", always_xy=True)
            lon, lat = to.transform(lon, lat)
        info = query_utm_crs_info(datum_name="WGS 84",
                                  area_of_interest=AreaOfInterest(lon, lat, lon, lat))
        return "EPSG:" + info[0].code

    def reproject(self, crs=None, cellsize=None, resampling="bilinear"):
        """The DEM warped by GDAL to another coordinate system (default: the UTM zone of its
        centre) on square cells of cellsize (default: the smaller side of a cell at the centre,
        in the new units)."""
        if self.crs is None:
            raise ValueError("the DEM has no coordinate system to reproject from")
        from osgeo import gdal
        import pyproj
        gdal.UseExceptions()
        crs = crs or self.utm()
        src_wkt = pyproj.CRS.from_user_input(self.crs).to_wkt()
        dst_wkt = pyproj.CRS.from_user_input(crs).to_wkt()
        ny, nx = self.z.shape
        src = gdal.GetDriverByName("MEM").Create("", nx, ny, 1, gdal.GDT_Float64)
        # GDAL's rows run from the north.
        src.SetGeoTransform((self.x[0] - self.dx / 2, self.dx, 0.0,
                             self.y[-1] + self.dy / 2, 0.0, -self.dy))
        src.SetProjection(src_wkt)
        band = src.GetRasterBand(1)
        band.SetNoDataValue(np.nan)
        band.WriteArray(self.z[::-1])
        if cellsize is None:
            to = pyproj.Transformer.from_crs(src_wkt, dst_wkt, always_xy=True)
            xc, yc = self.x[nx // 2], self.y[ny // 2]
            px, py = to.transform([xc, xc + self.dx, xc], [yc, yc, yc + self.dy])
            cellsize = min(np.hypot(px[1] - px[0], py[1] - py[0]),
                           np.hypot(px[2] - px[0], py[2] - py[0]))
        out = gdal.Warp("", src, format="MEM", dstSRS=dst_wkt, xRes=cellsize, yRes=cellsize,
                        resampleAlg=resampling, srcNodata=np.nan, dstNodata=np.nan,
                        targetAlignedPixels=True)
        x0, dx, _, y0, _, dy = out.GetGeoTransform()
        z = out.GetRasterBand(1).ReadAsArray().astype(float)[::-1]
        oy, ox = z.shape
        return Raster(x0 + dx * (np.arange(ox) + 0.5), y0 + dy * (oy - np.arange(oy) - 0.5), z,
                      crs=crs)

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
            crs = ds.GetProjection() or None
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
                crs = src.crs.to_wkt() if src.crs else None
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
        return cls(x, y, z, crs=crs)

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
        import os
        prj = os.path.splitext(path)[0] + ".prj"   # the coordinate system beside the grid
        crs = open(prj).read().strip() if os.path.exists(prj) else None
        return cls(xc + cs * np.arange(nx), yc + cs * np.arange(ny), z, crs=crs)

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
        if self.crs is not None:
            import os
            import pyproj
            with open(os.path.splitext(path)[0] + ".prj", "w") as f:
                f.write(pyproj.CRS.from_user_input(self.crs).to_wkt("WKT1_ESRI") + "\n")

    def filled(self):
        """z with the cells without data filled from their neighbours."""
        z = self.z.copy()
        for _ in range(max(z.shape)):
            bad = np.isnan(z)
            if not bad.any():
                break
            p = np.pad(z, 1, constant_values=np.nan)
            nb = np.stack([p[:-2, 1:-1], p[2:, 1:-1], p[1:-1, :-2], p[1:-1, 2:]])
            import warnings
            with np.errstate(all="ignore"), warnings.catch_warnings():
                warnings.simplefilter("ignore", RuntimeWarning)    # cells with no neighbour yet
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


# ---------------------------------------------------------------------------------------------
# Where the water goes on the terrain: sinks filled, D8 directions, accumulation, catchments,
# streams

# The eight neighbours (row step, column step) in the order of their ESRI D8 codes 1, 2, 4, ...
# 128 (east, then clockwise), rows counted from the south.
D8_STEPS = ((0, 1), (-1, 1), (-1, 0), (-1, -1), (0, -1), (1, -1), (1, 0), (1, 1))
D8_CODES = (1, 2, 4, 8, 16, 32, 64, 128)


def fill_sinks(z):
    """z with its pits and depressions filled up to their spill level (morphological
    reconstruction by erosion, scikit-image); the water leaves over the edge of the grid and
    into the cells without data (NaN, kept)."""
    from skimage.morphology import reconstruction
    z = np.asarray(z, float)
    bad = np.isnan(z)
    if bad.all():
        raise ValueError("the DEM holds no data")
    low = np.nanmin(z) - 1.0
    mask = np.where(bad, low, z)
    seed = np.full_like(mask, np.nanmax(z))
    edge = np.zeros(z.shape, bool)
    edge[[0, -1], :] = edge[:, [0, -1]] = True
    edge |= bad
    seed[edge] = mask[edge]
    out = reconstruction(seed, mask, method="erosion")
    out[bad] = np.nan
    return out


def flow_directions(z, dx=1.0, dy=1.0):
    """The D8 receiver of every cell of a filled DEM: the neighbour down the steepest drop
    (drop over the distance between the cell centres). A cell of a flat drains to the
    neighbour of the same elevation nearest (in steps) to the flat's way out, so that flats
    drain too. Returns (receiver, code): receiver the flat index (row * ncols + column) of the
    cell it drains to, -1 where the water leaves the grid (edge cells and cells next to no data
    without a lower neighbour) or there is no data; code the ESRI code (1 east, 2 south-east,
    4 south, 8 south-west, 16 west, 32 north-west, 64 north, 128 north-east; 0 for -1)."""
    from collections import deque
    z = np.asarray(z, float)
    ny, nx = z.shape
    p = np.pad(z, 1, constant_values=np.nan)
    best = np.zeros(z.shape)
    k_best = np.full(z.shape, -1)
    flat_nb = np.zeros(z.shape + (8,), bool)
    open_ = np.zeros(z.shape, bool)        # at the edge of the grid or of the data
    for k, (di, dj) in enumerate(D8_STEPS):
        nb = p[1 + di:1 + di + ny, 1 + dj:1 + dj + nx]
        open_ |= np.isnan(nb)
        with np.errstate(invalid="ignore"):
            slope = (z - nb) / np.hypot(di * dy, dj * dx)
            take = slope > best
            flat_nb[..., k] = nb == z
        best[take] = slope[take]
        k_best[take] = k
    k_best[np.isnan(z)] = -1
    # Flats: from their ways out (cells that drain, or open to the outside), breadth first.
    rows, cols = np.divmod(np.arange(z.size), nx)
    queue = deque(int(c) for c in np.flatnonzero((k_best >= 0) | open_ & ~np.isnan(z)))
    done = (k_best >= 0) | open_ | np.isnan(z)
    done = done.reshape(-1)
    kb = k_best.reshape(-1)
    fl = flat_nb.reshape(-1, 8)
    while queue:
        c = queue.popleft()
        i, j = rows[c], cols[c]
        for k, (di, dj) in enumerate(D8_STEPS):
            a, b = i + di, j + dj
            if 0 <= a < ny and 0 <= b < nx:
                n = a * nx + b
                if not done[n] and fl[n, (k + 4) % 8]:
                    kb[n] = (k + 4) % 8          # back towards c
                    done[n] = True
                    queue.append(n)
    receiver = np.full(z.size, -1)
    has = kb >= 0
    steps = np.array(D8_STEPS)
    receiver[has] = (rows[has] + steps[kb[has], 0]) * nx + cols[has] + steps[kb[has], 1]
    code = np.where(has, np.array(D8_CODES)[np.maximum(kb, 0)], 0)
    return receiver.reshape(z.shape), code.reshape(z.shape)


def _drainage(receiver):
    """The sparse matrix D with D[r, c] = 1 when cell c drains to cell r."""
    from scipy import sparse
    r = np.asarray(receiver).reshape(-1)
    c = np.flatnonzero(r >= 0)
    return sparse.csr_matrix((np.ones(len(c)), (r[c], c)), shape=(r.size, r.size))


def accumulation(receiver, weight=1.0):
    """The weight (1: the number of cells; the cell area: the area) gathered at every cell:
    its own and that of every cell upstream, a = w + D a solved on the drainage tree."""
    from scipy import sparse
    from scipy.sparse.linalg import spsolve
    r = np.asarray(receiver)
    w = np.broadcast_to(np.asarray(weight, float), r.shape).reshape(-1)
    a = spsolve((sparse.identity(r.size, format="csc") - _drainage(r).tocsc()), w)
    return np.asarray(a).reshape(r.shape)


def upstream(receiver, cell):
    """The mask of the cells that drain through the cell (row, column), itself included."""
    from scipy.sparse.csgraph import breadth_first_order
    r = np.asarray(receiver)
    start = int(np.ravel_multi_index(cell, r.shape))
    order = breadth_first_order(_drainage(r), start, directed=True, return_predecessors=False)
    mask = np.zeros(r.size, bool)
    mask[order] = True
    return mask.reshape(r.shape)


def _contains(polygon, x, y):
    """The mask of the points inside a polygon (shapely 1.8 and 2)."""
    try:
        from shapely import contains_xy
    except ImportError:
        from shapely.vectorized import contains as contains_xy
    x, y = np.asarray(x, float), np.asarray(y, float)
    return np.asarray(contains_xy(polygon, x.reshape(-1), y.reshape(-1))).reshape(x.shape)


def _distance(geometry, x, y):
    """The distance of every point to a geometry."""
    from shapely.geometry import Point
    x, y = np.asarray(x, float), np.asarray(y, float)
    return np.array([geometry.distance(Point(a, b)) for a, b in
                     zip(x.reshape(-1), y.reshape(-1))]).reshape(x.shape)


class Terrain:
    """The flow of water over a DEM: dem (a Raster, or a file), its sinks filled (filled),
    the D8 receivers and codes (receiver, direction) and the area drained through every cell
    (area, in the DEM's units squared). A DEM in longitude and latitude is first reprojected
    to crs (default: the UTM zone of its centre); the original is kept as source."""

    def __init__(self, dem, crs=None, cellsize=None):
        raster = dem if isinstance(dem, Raster) else Raster.read(dem)
        self.source = raster
        if raster.geographic() or crs is not None:
            raster = raster.reproject(crs, cellsize)
        self.dem = raster
        self.filled = Raster(raster.x, raster.y, fill_sinks(raster.z), raster.crs)
        self.receiver, self.direction = flow_directions(self.filled.z, raster.dx, raster.dy)
        valid = ~np.isnan(raster.z)
        self.area = accumulation(self.receiver, valid * raster.dx * raster.dy)
        self.area[~valid] = np.nan

    def in_source(self, x0, y0, x1=None, y1=None):
        """True when a point (or the box x0, y0, x1, y1) is given in the coordinates of the
        source DEM rather than those of the terrain: it lies on the source DEM and not on the
        reprojected one (degrees and metres do not meet)."""
        if self.dem is self.source:
            return False
        x1, y1 = (x0, y0) if x1 is None else (x1, y1)

        def on(r):
            return (r.x[0] - r.dx <= x0 and x1 <= r.x[-1] + r.dx
                    and r.y[0] - r.dy <= y0 and y1 <= r.y[-1] + r.dy)
        return on(self.source) and not on(self.dem)

    def to_dem_crs(self, x, y):
        """Points given in the coordinates of the source DEM, in those of the terrain."""
        if self.dem is self.source:
            return np.asarray(x, float), np.asarray(y, float)
        import pyproj
        to = pyproj.Transformer.from_crs(pyproj.CRS.from_user_input(self.source.crs),
                                         pyproj.CRS.from_user_input(self.dem.crs), always_xy=True)
        return to.transform(np.asarray(x, float), np.asarray(y, float))

    def cell(self, x, y):
        """(row, column) of the cell holding the point (terrain coordinates)."""
        r = self.dem
        j = int(np.clip(np.round((x - r.x[0]) / r.dx), 0, len(r.x) - 1))
        i = int(np.clip(np.round((y - r.y[0]) / r.dy), 0, len(r.y) - 1))
        return i, j

    def snap(self, x, y, radius=None):
        """The centre of the cell of largest drained area within radius of the point (default:
        the cell and its eight neighbours): an outlet put beside its stream lands on it (put
        it a cell or two above a confluence, or it lands on the larger stream)."""
        r = self.dem
        radius = 1.5 * max(r.dx, r.dy) if radius is None else radius
        X, Y = np.meshgrid(r.x, r.y)
        near = np.hypot(X - x, Y - y) <= radius
        if not near.any():
            near[self.cell(x, y)] = True
        a = np.where(near, np.nan_to_num(self.area, nan=-1.0), -1.0)
        i, j = np.unravel_index(np.argmax(a), a.shape)
        if a[i, j] < 0:
            raise ValueError("the outlet (%g, %g) is not on the DEM's data" % (x, y))
        return r.x[j], r.y[i]

    def catchment(self, outlet, snap=True, source_crs=None):
        """The catchment of an outlet point (x, y) as a shapely Polygon: the union of the cells
        that drain through the outlet's cell (moved onto the stream first when snap: see snap;
        a number is the radius), traced half way between the centres of the cells in and out,
        holes filled. source_crs: the point is in the source DEM's coordinates (default: when
        it lies on the source DEM and not on the reprojected one). The outlet used, in the
        terrain's coordinates, is kept in self.outlet."""
        from shapely.geometry import Point, Polygon
        from skimage.measure import find_contours
        x, y = outlet
        if source_crs is None:
            source_crs = self.in_source(x, y)
        if source_crs:
            x, y = self.to_dem_crs(x, y)
        r = self.dem
        if not (np.isfinite(x) and np.isfinite(y) and r.x[0] - r.dx <= x <= r.x[-1] + r.dx
                and r.y[0] - r.dy <= y <= r.y[-1] + r.dy):
            raise ValueError("the outlet (%.10g, %.10g) is outside the DEM, which spans x %.10g "
                             "to %.10g and y %.10g to %.10g%s" % (
                                 outlet[0], outlet[1],
                                 *(self.source.x[[0, -1]] if source_crs else r.x[[0, -1]]),
                                 *(self.source.y[[0, -1]] if source_crs else r.y[[0, -1]]),
                                 " (its coordinates as read)" if source_crs else ""))
        if snap:
            x, y = self.snap(x, y, None if snap is True else snap)
        self.outlet = (float(x), float(y))
        mask = upstream(self.receiver, self.cell(x, y))
        # The outline half way between the cell centres in and out (marching squares, the
        # cells that touch at a corner kept together as the water joins them).
        r = self.dem
        rings = find_contours(np.pad(mask, 1).astype(float), 0.5, fully_connected="high")
        at = Point(x, y)
        polys = [Polygon(np.column_stack([r.x[0] + (c[:, 1] - 1) * r.dx,
                                          r.y[0] + (c[:, 0] - 1) * r.dy])) for c in rings
                 if len(c) >= 4]
        return max((q for q in polys if q.buffer(1e-9 * r.dx).contains(at)),
                   key=lambda q: q.area)

    def streams(self, area, within=None):
        """The stream network: the D8 paths of the cells that drain at least the given area
        (within a polygon, the catchment), as a shapely MultiLineString, noded at its
        confluences and crossings."""
        from shapely.geometry import LineString, MultiLineString
        from shapely.ops import linemerge, unary_union
        r = self.dem
        on = np.nan_to_num(self.area, nan=0.0) >= area
        if within is not None:
            X, Y = np.meshgrid(r.x, r.y)
            on &= _contains(within, X, Y)
        c = np.flatnonzero(on.reshape(-1) & (self.receiver.reshape(-1) >= 0))
        d = self.receiver.reshape(-1)[c]
        keep = on.reshape(-1)[d]
        c, d = c[keep], d[keep]
        if not len(c):
            raise ValueError("no cell drains %g or more" % area)
        ci, cj = np.divmod(c, len(r.x))
        di, dj = np.divmod(d, len(r.x))
        segs = [LineString([(r.x[a], r.y[b]), (r.x[c], r.y[d])])
                for a, b, c, d in zip(cj, ci, dj, di)]
        merged = linemerge(unary_union(segs))
        if merged.geom_type == "LineString":
            merged = MultiLineString([merged])
        return merged


def fill_mesh(z, triangles, outlets):
    """The node elevations of a surface triangulation with its pits filled: every node raised
    to the lowest level at which water can go from it, node to node along the edges, to one of
    the outlet nodes (0-based) without climbing (priority flood from the outlets). A mesh
    coarser than its DEM has pits of its own where a valley is narrower than its triangles."""
    import heapq
    z = np.array(z, float)
    tri = np.asarray(triangles)
    a = np.concatenate([tri[:, 0], tri[:, 1], tri[:, 2], tri[:, 1], tri[:, 2], tri[:, 0]])
    b = np.concatenate([tri[:, 1], tri[:, 2], tri[:, 0], tri[:, 0], tri[:, 1], tri[:, 2]])
    order = np.argsort(a, kind="stable")
    a, b = a[order], b[order]
    start = np.searchsorted(a, np.arange(len(z) + 1))
    done = np.zeros(len(z), bool)
    heap = [(z[k], int(k)) for k in np.unique(outlets)]
    heapq.heapify(heap)
    done[np.unique(outlets)] = True
    while heap:
        level, k = heapq.heappop(heap)
        for m in b[start[k]:start[k + 1]]:
            if not done[m]:
                done[m] = True
                z[m] = max(z[m], level)
                heapq.heappush(heap, (z[m], int(m)))
    return z


def boundary_nodes(triangles):
    """The nodes (0-based) on the boundary of a triangulation: on an edge of one triangle."""
    tri = np.sort(np.asarray(triangles), axis=1)
    e = np.concatenate([tri[:, [0, 1]], tri[:, [1, 2]], tri[:, [0, 2]]])
    u, n = np.unique(e, axis=0, return_counts=True)
    return np.unique(u[n == 1])


def write_geojson(path, geometry, properties=None, crs=None):
    """Writes a shapely geometry as a GeoJSON FeatureCollection of one feature (crs noted as
    the old-style "name" member when given, for the tools that read it)."""
    import json
    from shapely.geometry import mapping
    data = {"type": "FeatureCollection",
            "features": [{"type": "Feature", "properties": properties or {},
                          "geometry": mapping(geometry)}]}
    if crs is not None:
        import pyproj
        auth = pyproj.CRS.from_user_input(crs).to_authority()
        if auth:
            data["crs"] = {"type": "name", "properties": {"name": "urn:ogc:def:crs:%s::%s" % auth}}
    with open(path, "w") as f:
        json.dump(data, f)


def channel_nodes(deck, streams, tol=None):
    """The surface nodes (1..NNOD) of a deck that lie on the stream lines (those from_dem
    put there when it was given the streams)."""
    xyz = deck.coordinates()[:deck.NNOD]
    tol = 1e-6 * max(np.ptp(xyz[:, 0]), np.ptp(xyz[:, 1])) if tol is None else tol
    d = _distance(streams, xyz[:, 0], xyz[:, 1])
    return np.flatnonzero(d <= tol) + 1


def _transform(geometry, terrain):
    """A geometry in the source DEM's coordinates, in those of the terrain."""
    from shapely.ops import transform
    return transform(lambda x, y, z=None: terrain.to_dem_crs(x, y), geometry)


def _lines(source):
    """A line layer (GeoJSON, any vector file GDAL reads, a shapely geometry) as a shapely
    MultiLineString."""
    from shapely.geometry import MultiLineString, shape
    from shapely.ops import unary_union
    if hasattr(source, "geom_type"):
        g = source
    else:
        path = str(source)
        if path.lower().endswith((".geojson", ".json")):
            import json
            with open(path) as f:
                data = json.load(f)
            feats = data["features"] if data.get("type") == "FeatureCollection" else [data]
            g = unary_union([shape(ft.get("geometry", ft)) for ft in feats])
        else:
            from osgeo import ogr
            from shapely import wkt
            ds = ogr.Open(path)
            if ds is None:
                raise ValueError("%s: not a vector file GDAL reads" % path)
            g = unary_union([wkt.loads(ft.GetGeometryRef().ExportToWkt())
                             for ft in ds.GetLayer(0)])
    parts = [q for q in getattr(g, "geoms", [g]) if q.geom_type == "LineString"]
    if not parts:
        raise ValueError("no line in the stream layer")
    return MultiLineString(parts)


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


def from_dem(dem, boundary=None, size=None, min_size=None, tolerance=None, layers=None,
             materials=None, material_field="material", default_material=1, simplify=None,
             deck=None, outlet=None, streams=None, stream_size=None, crs=None,
             channel_material=None, filled=None, geometry=False):
    """A deck whose surface triangulation covers the boundary polygon (or the catchment of an
    outlet), refined where the terrain bends, with the surface elevations of the DEM.

    dem        a raster file (ESRI ASCII grid .asc; GeoTIFF and others through GDAL), a Raster
               or a Terrain; a DEM in longitude and latitude is reprojected to crs (default:
               the UTM zone of its centre); the boundary, outlet and streams may be given in
               its coordinates (longitude, latitude) or in the deck's (they lie on the one
               DEM or the other)
    boundary   the outline: GeoJSON, shapefile, shapely Polygon or [(x, y), ...]; holes are
               kept; with several polygons, the largest
    outlet     (x, y) instead of a boundary: the outline is the catchment of that point (moved
               to the cell of largest drained area among its own and its eight neighbours),
               sinks filled first
    size       the largest triangle side (map units); min_size the smallest (default size / 5)
    tolerance  the elevation error allowed between the DEM and the planar triangles: a triangle
               of side h over terrain of curvature c departs from it by about c h^2 / 8, so
               h = sqrt(8 tolerance / c), within [min_size, size] (default: 1/200 of the
               relief)
    streams    a drained area (the streams of Terrain.streams inside the outline) or a line
               layer (shapely, GeoJSON, shapefile): lines the mesh follows, with triangles of
               stream_size (default min_size) along them; channel_nodes(deck, lines) are the
               nodes on them; with channel_material, the triangles with an edge on them
               (two corners) take that material code (a roughness of their own)
    layers     layer thicknesses, top first (Deck.set_layers); default: one layer of 1
    materials  an optional polygon layer (GeoJSON, shapefile, or [(polygon, code)]): a
               triangle whose centroid lies in a polygon takes its code (the property
               material_field, else 2, 3, ... in order); default_material elsewhere
    simplify   drop the outline's vertices that lie within this distance of a simpler line (a
               dense outline traced from a raster would force tiny triangles along the edge;
               default: half a cell for a traced catchment, 0 otherwise)
    filled     the surface elevations from the DEM with its sinks filled (Terrain.filled), and
               the pits of the mesh itself filled (fill_mesh) towards the boundary nodes within
               a cell of the outlet (without an outlet: towards every boundary node), so that
               the water on the ground finds its way out (default: with an outlet or traced
               streams; the DEM as it is otherwise)
    deck       a Deck to set the mesh of (default: a new one)
    geometry   return (deck, outline, streams): the outline meshed and the stream lines
               followed (None without), shapely geometries in the deck's coordinates
    """
    import gmsh
    from shapely.geometry import Point  # noqa: F401  (shapely is needed for the polygons)
    from .deck import Deck

    if size is None:
        raise ValueError("from_dem needs the largest triangle side (size)")
    if (boundary is None) == (outlet is None):
        raise ValueError("from_dem needs a boundary or an outlet (one of them)")
    terrain = dem if isinstance(dem, Terrain) else None
    raster = terrain.dem if terrain else dem if isinstance(dem, Raster) else Raster.read(dem)
    if terrain is None and (outlet is not None or raster.geographic() or crs is not None
                            or isinstance(streams, (int, float))):
        terrain = Terrain(raster, crs=crs)
    if terrain is not None:
        raster = terrain.dem
    if filled is None:
        filled = outlet is not None or isinstance(streams, (int, float))
    if filled and terrain is None:
        terrain = Terrain(raster)
    zf = terrain.filled.filled() if filled else raster.filled()
    min_size = size / 5.0 if min_size is None else min_size
    if tolerance is None:
        tolerance = max(np.nanmax(raster.z) - np.nanmin(raster.z), 1e-6) / 200.0
    curv = raster.curvature()
    with np.errstate(divide="ignore"):
        hgrid = np.clip(np.sqrt(8.0 * tolerance / np.maximum(curv, 1e-300)), min_size, size)
    hgrid = np.nan_to_num(hgrid, nan=size)

    if outlet is not None:
        outline = terrain.catchment(outlet)
        simplify = 0.5 * max(raster.dx, raster.dy) if simplify is None else simplify
    else:
        outline = max((p for p, _ in _polygons(boundary)), key=lambda p: p.area)
        if terrain is not None and terrain.in_source(*outline.bounds):
            outline = _transform(outline, terrain)
    if simplify:
        outline = outline.simplify(simplify, preserve_topology=True)
    lines = None
    if streams is not None:
        from shapely.geometry import MultiLineString
        if isinstance(streams, (int, float)):
            lines = terrain.streams(float(streams), within=outline)
        else:
            lines = _lines(streams)
            if terrain is not None and terrain.in_source(*lines.bounds):
                lines = _transform(lines, terrain)
        stream_size = min_size if stream_size is None else stream_size
        # Inside the outline, clear of it by half a triangle, in pieces gmsh can embed.
        lines = lines.intersection(outline.buffer(-0.5 * stream_size))
        lines = MultiLineString([g for g in getattr(lines, "geoms", [lines])
                                         if g.geom_type == "LineString" and g.length > 0])
        if not lines.is_empty:
            # Triangles of stream_size along the streams, growing by half the distance away.
            # (only the cells near enough to the streams for it to matter)
            X, Y = np.meshgrid(raster.x, raster.y)
            reach = 2.0 * max(size - stream_size, 0.0)
            x0, y0, x1, y1 = lines.bounds
            near = (X >= x0 - reach) & (X <= x1 + reach) & (Y >= y0 - reach) & (Y <= y1 + reach)
            hgrid[near] = np.minimum(hgrid[near],
                                     stream_size + 0.5 * _distance(lines, X[near], Y[near]))

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
        surf = geo.addPlaneSurface(loops)
        embedded = []
        if lines is not None and not lines.is_empty:
            at = {}
            for g in lines.geoms:
                pts = []
                for x, y in np.asarray(g.coords):
                    key = (round(float(x), 6), round(float(y), 6))
                    if key not in at:
                        at[key] = geo.addPoint(float(x), float(y), 0.0, stream_size)
                    if not pts or pts[-1] != at[key]:
                        pts.append(at[key])
                embedded += [geo.addLine(pts[k], pts[k + 1]) for k in range(len(pts) - 1)]
        geo.synchronize()
        if embedded:
            gmsh.model.mesh.embed(1, embedded, 2, surf)
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
    if filled:
        edge = boundary_nodes(tri)
        if outlet is not None:
            ox, oy = terrain.outlet
            d = np.hypot(x[edge] - ox, y[edge] - oy)
            edge = edge[(d <= max(raster.dx, raster.dy)) | (d == d.min())]
        z = fill_mesh(z, tri, edge)

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
    if channel_material is not None and lines is not None and not lines.is_empty:
        tol = 1e-6 * max(np.ptp(x), np.ptp(y))
        on = _distance(lines, x, y) <= tol
        mat[on[tri].sum(axis=1) >= 2] = int(channel_material)
    deck = deck if deck is not None else Deck()
    deck.grid.ISP = 1
    deck.set_mesh(x, y, tri, z, material=mat)
    deck.set_layers(layers if layers is not None else [1.0])
    return (deck, outline, lines) if geometry else deck


def main(argv=None):
    """nepora-mesh: a deck (or its grid file) from a DEM and a boundary polygon or an outlet."""
    import argparse
    ap = argparse.ArgumentParser(
        prog="nepora-mesh",
        description="Meshes the ground surface inside a boundary polygon, or the catchment of "
                    "an outlet point, from a DEM (ESRI ASCII grid, GeoTIFF, ...), refined where "
                    "the terrain bends and along the streams, and writes a deck directory with "
                    "that grid file (or the grid file alone). A DEM in longitude and latitude "
                    "is reprojected to metres first.")
    ap.add_argument("dem", help="the DEM (.asc read directly; GeoTIFF and others through GDAL)")
    ap.add_argument("boundary", nargs="?",
                    help="the outline: GeoJSON or shapefile (or --outlet instead)")
    ap.add_argument("-o", "--output", required=True,
                    help="the deck directory to write (with --grid-only: the grid file)")
    ap.add_argument("--outlet", help="X,Y: mesh the catchment of this point (in the DEM's "
                                     "coordinates: longitude,latitude for a DEM in degrees)")
    ap.add_argument("--streams", type=float,
                    help="follow the streams that drain this area or more (map units squared)")
    ap.add_argument("--stream-size", type=float,
                    help="triangle side along the streams (default: the smallest)")
    ap.add_argument("--channel-material", type=int,
                    help="material code of the triangles with an edge on a stream")
    ap.add_argument("--crs", help="the system to reproject the DEM to (default: its UTM zone "
                                  "when it is in degrees), e.g. EPSG:32616")
    ap.add_argument("--terrain", metavar="DIR",
                    help="also write DIR/catchment.geojson, DIR/streams.geojson and "
                         "DIR/filled.asc (the DEM in the deck's coordinates, sinks filled)")
    ap.add_argument("--size", type=float, required=True, help="largest triangle side")
    ap.add_argument("--min-size", type=float, help="smallest triangle side (default size/5)")
    ap.add_argument("--tolerance", type=float,
                    help="elevation error allowed (default: 1/200 of the relief)")
    ap.add_argument("--layers", default="1.0",
                    help="layer thicknesses from the top, comma-separated (default 1.0)")
    ap.add_argument("--materials", help="polygon layer of materials (GeoJSON or shapefile)")
    ap.add_argument("--material-field", default="material",
                    help="the property holding a polygon's material code (default: material)")
    ap.add_argument("--simplify", type=float,
                    help="simplify the outline to within this distance (default: half a cell "
                         "for a catchment, else keep it)")
    ap.add_argument("--grid-only", action="store_true", help="write only the grid file")
    a = ap.parse_args(argv)
    import os
    from .deck import _column
    from . import sections as S
    if (a.boundary is None) == (a.outlet is None):
        ap.error("give a boundary or --outlet X,Y (one of them)")
    outlet = None
    if a.outlet:
        try:
            outlet = tuple(float(v) for v in a.outlet.split(","))
            assert len(outlet) == 2
        except (ValueError, AssertionError):
            ap.error("--outlet takes X,Y (two numbers), not %r" % a.outlet)
    try:
        layers = [float(t) for t in a.layers.split(",")]
    except ValueError:
        ap.error("--layers takes thicknesses separated by commas, not %r" % a.layers)
    try:
        dem = a.dem
        if outlet is not None or a.streams is not None or a.crs or a.terrain:
            dem = Terrain(a.dem, crs=a.crs)
        deck, outline, lines = from_dem(
            dem, a.boundary, a.size, a.min_size, a.tolerance, layers, a.materials,
            a.material_field, simplify=a.simplify, outlet=outlet, streams=a.streams,
            stream_size=a.stream_size, channel_material=a.channel_material, geometry=True)
    except (ValueError, OSError, RuntimeError) as e:
        import sys
        msg = str(e)
        print("nepora-mesh: %s" % (msg if msg.startswith(a.dem) else "%s: %s" % (a.dem, msg)),
              file=sys.stderr)
        return 1
    if a.terrain:
        os.makedirs(a.terrain, exist_ok=True)
        write_geojson(os.path.join(a.terrain, "catchment.geojson"), outline, {}, dem.dem.crs)
        if lines is not None:
            write_geojson(os.path.join(a.terrain, "streams.geojson"), lines, {}, dem.dem.crs)
        dem.filled.write_ascii(os.path.join(a.terrain, "filled.asc"))
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
    if outlet is not None:
        print("nepora-mesh: the catchment of (%.10g, %.10g) in the deck's coordinates: %.6g "
              "square units" % (dem.outlet[0], dem.outlet[1], outline.area))
    print("nepora-mesh: %d surface nodes, %d triangles (sides %.3g to %.3g), %d layers, "
          "%d materials, N1 = %d: %s" % (deck.NNOD, len(t), side.min(), side.max(), deck.NSTR,
                                         deck.grid.NZONE, deck.grid.N1, where))
    return 0
