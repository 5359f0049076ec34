"""What tolbe says: its error, warnings and notes, the library's findings
and refusals, and how variables are named in them."""
from __future__ import annotations

import warnings
from typing import Any, List, NamedTuple, NoReturn, Optional, Sequence, Tuple, Union

_SEVERITY = ("note", "warning", "error")
_NOTE, _WARNING = 0, 1


class TolbeError(ValueError):
    """An argument tolbe cannot use, or a finding that makes the results
    certainly wrong. ``code`` lists the stable codes: of the refusal (such
    as "unknown_variable"), or of the findings, all of which are
    ``findings``; a refusal names its ``argument`` and the ``variables``
    concerned. A ValueError, as the arguments' other errors."""

    def __init__(self, message: str, code: Optional[List[str]] = None,
                 findings: Optional[List["Finding"]] = None, argument: Optional[str] = None,
                 variables: Tuple[Union[str, int], ...] = ()) -> None:
        super().__init__(message)
        self.code = code or []
        self.findings = findings or []
        self.argument = argument
        self.variables = variables


class TolbeWarning(UserWarning):
    """A finding that the numbers may be wrong (severity "warning"), or a
    note (TolbeNote). ``code`` is the finding's stable code (None for what
    the package itself says), ``variables`` the variables concerned,
    ``row`` the row of raw scores (from 0; None: none)."""

    def __init__(self, message: str, code: Optional[str] = None, severity: str = "warning",
                 variables: Tuple[Union[str, int], ...] = (), row: Optional[int] = None) -> None:
        super().__init__(message)
        self.code = code
        self.severity = severity
        self.variables = variables
        self.row = row


class TolbeNote(TolbeWarning):
    """A note: worth knowing, not a sign of wrong numbers (correlations
    beside covariances, sign changes, rows left out). Silence with
    ``warnings.simplefilter("ignore", tolbe.TolbeNote)``."""


class Finding(NamedTuple):
    """One finding of the library's checks of the input, the raw scores and
    the results. ``row`` is the row of raw scores it concerns (from 0, as
    pandas' iloc counts; the message, in the library's words, counts from
    1), None when it concerns none."""

    code: str
    severity: str
    message: str
    variables: Tuple[Union[str, int], ...]
    row: Optional[int] = None


def _fail(message: str, code: Optional[str] = None, argument: Optional[str] = None) -> NoReturn:
    raise TolbeError(message, [code] if code else None, argument=argument)


def _encode(name: str) -> bytes:
    # Any str goes to the library's messages and comes back the same,
    # lone surrogates (bytes of another encoding read with surrogateescape)
    # included.
    return name.encode("utf-8", "surrogatepass")


def _decode(text: bytes) -> str:
    return text.decode("utf-8", "surrogatepass")


def _label(names: Optional[List[str]], v: int) -> str:
    """Variable v by name, else "variable N" with N from 1: the library's
    way."""
    if names is not None and names[v] != "":
        return names[v]
    return f"variable {v + 1}"


def _labels(names: Optional[List[str]], variables: Sequence[int]) -> str:
    return ", ".join(_label(names, v) for v in variables)


def _named(names: Optional[List[str]], variables: Sequence[int]) -> Tuple[Union[str, int], ...]:
    """The variables by name where they have one, else by number from 0."""
    return tuple(names[v] if names is not None and names[v] != "" else v for v in variables)


def _refuse(refusal: Any, names: Optional[List[str]]) -> NoReturn:
    """Raises the library's refusal (code, argument, variables, message)."""
    code, argument, variables, message = refusal
    raise TolbeError(_decode(message), [code], None, argument or None, _named(names, variables))


def _say(severity: int, message: str, code: Optional[str],
         variables: Tuple[Union[str, int], ...], row: Optional[int] = None) -> None:
    kind = TolbeNote if severity == _NOTE else TolbeWarning
    # Pointing at the caller of lawley(): _say, lawley, the caller.
    warnings.warn(kind(message, code, _SEVERITY[severity], variables, row), stacklevel=3)
