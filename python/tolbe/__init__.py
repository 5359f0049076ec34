"""tolbe: Lawley's (1943) multivariate correction for range restriction.

See help(tolbe.lawley). The version is the library's, compiled in:

>>> import tolbe
>>> tolbe.__version__ == tolbe.library_version()
True
"""
from ._arguments import cor2cov
from ._core import version as library_version
from ._errors import Finding, TolbeError, TolbeNote, TolbeWarning
from ._fit import Lawley, lawley
from ._univariate import correct_r
from ._validity import Increment, Regression, lawley_increment, lawley_regression

__version__ = library_version()

__all__ = [
    "lawley",
    "lawley_regression",
    "lawley_increment",
    "cor2cov",
    "correct_r",
    "Lawley",
    "Regression",
    "Increment",
    "Finding",
    "TolbeError",
    "TolbeWarning",
    "TolbeNote",
    "library_version",
]
