# Installs the nepora package with Debian's own Python packages (numpy, pandas, xarray; for
# meshes from terrain also gmsh, shapely and GDAL or rasterio, for catchments and streams
# scikit-image and pyproj, for maps and sections matplotlib): pip install ./python
from setuptools import setup

setup(
    name="nepora",
    version="1.1.0",
    description="Build, check, run and read nepora3d decks (variably saturated flow in 3-D)",
    packages=["nepora"],
    install_requires=["numpy", "pandas", "xarray"],
    extras_require={"terrain": ["gmsh", "shapely", "scikit-image", "pyproj", "scipy"],
                    "plots": ["matplotlib"]},
    entry_points={"console_scripts": ["nepora-mesh=nepora.mesh:main"]},
    python_requires=">=3.9",
)
