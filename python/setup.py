# Installs the nepora package with Debian's own Python packages (numpy, pandas, xarray; for
# meshes from terrain also gmsh, shapely and GDAL or rasterio): pip install ./python
from setuptools import setup

setup(
    name="nepora",
    version="1.1.0",
    description="Build, check, run and read nepora3d decks (variably saturated flow in 3-D)",
    packages=["nepora"],
    install_requires=["numpy", "pandas", "xarray"],
    extras_require={"terrain": ["gmsh", "shapely"]},
    entry_points={"console_scripts": ["nepora-mesh=nepora.mesh:main"]},
    python_requires=">=3.9",
)
