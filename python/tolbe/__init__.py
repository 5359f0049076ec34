"""tolbe: Lawley's (1943) multivariate correction for range restriction.

See help(tolbe.lawley). The version is the library's, compiled in:

>>> import tolbe
>>> tolbe.__version__ == tolbe.library_version()
True
"""
from . import _lawley
from ._core import version as library_version
from ._lawley import (
    Finding,
    Increment,
    Lawley,
    Regression,
    TolbeError,
    TolbeNote,
    TolbeWarning,
    cor2cov,
    lawley,
    lawley_increment,
    lawley_regression,
)

__version__ = library_version()

# The public names are the module's own, and the library's version.
__all__ = [*_lawley.__all__, "library_version"]
