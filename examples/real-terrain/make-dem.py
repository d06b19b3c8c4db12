#!/usr/bin/env python3
"""Writes dem.tif, this example's DEM: a 2.3 km x 2.8 km piece of the Jacksboro fault DEM that
matplotlib ships as sample data (Debian: python-matplotlib-data,
/usr/share/matplotlib/mpl-data/sample_data/jacksboro_fault_dem.npz; 3 arc-second cells of a
USGS DEM of north-east Tennessee), as it is there: elevations in metres on a grid of longitude
and latitude (WGS 84, EPSG:4326), written as a GeoTIFF by GDAL. The piece holds the catchment
of run.py's outlet and a margin of a few cells round it."""
import os

import numpy as np
from osgeo import gdal, osr

SAMPLE = "/usr/share/matplotlib/mpl-data/sample_data/jacksboro_fault_dem.npz"
WEST, EAST, SOUTH, NORTH = -84.3870, -84.3610, 36.4825, 36.5080   # the piece, in degrees

here = os.path.dirname(os.path.abspath(__file__))
d = np.load(SAMPLE)
z = d["elevation"]                      # rows from the north (its "ymin" is the north edge)
north, west, step = float(d["ymin"]), float(d["xmin"]), float(d["dx"])
j0, j1 = int(round((WEST - west) / step)), int(round((EAST - west) / step))
i0, i1 = int(round((north - NORTH) / step)), int(round((north - SOUTH) / step))
gdal.UseExceptions()
out = gdal.GetDriverByName("GTiff").Create(os.path.join(here, "dem.tif"), j1 - j0, i1 - i0, 1,
                                           gdal.GDT_Int16)
out.SetGeoTransform((west + j0 * step, step, 0.0, north - i0 * step, 0.0, -step))
srs = osr.SpatialReference()
srs.ImportFromEPSG(4326)
out.SetProjection(srs.ExportToWkt())
out.GetRasterBand(1).WriteArray(z[i0:i1, j0:j1])
out = None
print("dem.tif: %d x %d cells of %.6f degrees" % (j1 - j0, i1 - i0, step))
