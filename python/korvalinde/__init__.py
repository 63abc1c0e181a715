"""Fitting extreme-value distributions to samples, one at a time (fit), every
slice of an array at once (fit_many), or along a dimension of an xarray
DataArray (korvalinde.xarray.fit)."""

from ._korvalinde import __version__, fit, fit_many

__all__ = ["__version__", "fit", "fit_many"]
