"""tolbe: Lawley's (1943) multivariate correction for range restriction.

See help(tolbe.lawley). The version is the library's, compiled in:

>>> import tolbe
>>> tolbe.__version__ == tolbe.library_version()
True
"""
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

__all__ = [
    "lawley",
    "lawley_regression",
    "lawley_increment",
    "cor2cov",
    "library_version",
    "Lawley",
    "Regression",
    "Increment",
    "Finding",
    "TolbeError",
    "TolbeWarning",
    "TolbeNote",
]
