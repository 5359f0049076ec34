"""What the tests share: the command-line program as the oracle of every
number and message, the classic problem files, and a numpy Lawley."""
import csv
import io
import math
import os
import shutil
import subprocess
import warnings

import numpy as np
import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
EXAMPLES = os.path.join(ROOT, "examples")


def cli_path():
    """The program: $TOLBE_CLI, else build/tolbe of the repository, else
    tolbe on PATH."""
    for candidate in (os.environ.get("TOLBE_CLI"), os.path.join(ROOT, "build", "tolbe"),
                      shutil.which("tolbe")):
        if candidate and os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return candidate
    return None


@pytest.fixture(scope="session")
def cli():
    path = cli_path()
    if path is None:
        if os.environ.get("TOLBE_REQUIRE_CLI"):
            pytest.fail("TOLBE_REQUIRE_CLI is set but the tolbe program is not found")
        pytest.skip("the tolbe program is not built (cmake --build build --target tolbe)")

    def run(*args, stdin=None, expect=0):
        done = subprocess.run([path, *args], input=stdin, capture_output=True, timeout=120)
        assert done.returncode == expect, done.stderr.decode("utf-8", "replace")
        return done.stdout.decode("utf-8", "surrogateescape"), done.stderr.decode(
            "utf-8", "surrogateescape")

    return run


def parse_csv(text):
    """The CLI's --format=csv: {matrix: q x q array} (at full precision:
    the shortest text that reads back to the same double) and the
    regression rows, if any, as {(quantity, predictor): (estimate, se,
    lower, upper)}; also the variable names."""
    matrices, regression = {}, {}
    blocks = text.split("\n\n")
    rows = list(csv.reader(io.StringIO(blocks[0])))
    # Columns found by their names: those before the values (the version,
    # the file) may come and go.
    matrix, first = rows[0].index("matrix"), rows[0].index("variable") + 1
    names = rows[0][first:]
    for row in rows[1:]:
        matrices.setdefault(row[matrix], []).append([float(x) for x in row[first:]])
    if len(blocks) > 1 and blocks[1].strip():
        rows = list(csv.reader(io.StringIO(blocks[1])))
        quantity, predictor = rows[0].index("quantity"), rows[0].index("predictor")
        values = rows[0].index("estimate")
        for row in rows[1:]:
            regression[(row[quantity], row[predictor])] = tuple(float(x) for x in row[values:])
    return {k: np.array(v) for k, v in matrices.items()}, regression, names


def read_problem(path):
    """A classic problem file: (V, S, reliabilities or None). Each row
    starts on a new line and may run over several; what follows the last
    value a line needs is a comment."""
    with open(path) as f:
        lines = f.read().splitlines()
    at = 0

    def row(count):
        nonlocal at
        values = []
        while len(values) < count:
            fields = lines[at].replace(",", " ").split()
            at += 1
            values.extend(float(x) for x in fields[:count - len(values)])
        return values

    p, q, flag = (int(x) for x in row(3))
    v = np.array([row(q) for _ in range(q)])
    s = np.array([row(p) for _ in range(p)])
    rel = np.array(row(q - p)) if flag == 1 else None
    return v, s, rel


def write_problem(path, v, s, rel=None):
    """A problem file the program reads back to the same doubles."""
    q, p = v.shape[0], s.shape[0]
    text = [f"{p} {q} {1 if rel is not None else 0}"]
    text += [" ".join(repr(float(x)) for x in r) for r in v]
    text += [" ".join(repr(float(x)) for x in r) for r in s]
    if rel is not None:
        text.append(" ".join(repr(float(x)) for x in rel))
    with open(path, "w") as f:
        f.write("\n".join(text) + "\n")


def numpy_lawley(v, s, selection, rel=None):
    """The correction by its formula, in numpy: C11 = S, C12 = S W V12,
    C22 = V22 + V21 W (C12 - V12), W = V11 inverse, in any variable order;
    the correlations and, with reliabilities of the others, the
    disattenuated ones."""
    q = v.shape[0]
    others = [i for i in range(q) if i not in selection]
    order = list(selection) + others
    p = len(selection)
    w = v[np.ix_(order, order)]
    v11, v12, v22 = w[:p, :p], w[:p, p:], w[p:, p:]
    wv12 = np.linalg.solve(v11, v12)
    c12 = s @ wv12
    c22 = v22 + wv12.T @ (c12 - v12)
    c = np.block([[s, c12], [c12.T, c22]])
    back = np.empty_like(c)
    back[np.ix_(order, order)] = c
    d = np.sqrt(np.diag(back))
    r = back / np.outer(d, d)
    dis = None
    if rel is not None:
        a = np.ones(q)
        a[others] = rel
        dis = r / np.sqrt(np.outer(a, a))
        np.fill_diagonal(dis, np.diag(r))
    return back, r, dis


def random_problem(rng, q, p, selection=None):
    """A positive definite V (q x q), a plausible S for the selection
    variables (in selection order) and reliabilities of the others."""
    a = rng.standard_normal((3 * q + 5, q))
    a[:, 1:] += 0.5 * a[:, :1]
    v = a.T @ a / (3 * q + 5)
    scale = rng.uniform(0.5, 3.0, q)
    v = v * np.outer(scale, scale)
    if selection is None:
        selection = sorted(rng.choice(q, p, replace=False).tolist())
    sv = v[np.ix_(selection, selection)]
    b = rng.standard_normal((p, p)) * 0.2
    s = sv * 1.5 + b @ b.T
    rel = rng.uniform(0.6, 0.95, q - p)
    return v, s, selection, rel


def caught(f, *args, **kwargs):
    """Calls f and returns (result, [(class name, message), ...]) of the
    warnings it raised."""
    with warnings.catch_warnings(record=True) as said:
        warnings.simplefilter("always")
        out = f(*args, **kwargs)
    return out, [(w.category.__name__, str(w.message)) for w in said]


def same_bits(a, b):
    """Equal as doubles, NaN equal to NaN."""
    a = np.asarray(a, dtype=float)
    b = np.asarray(b, dtype=float)
    return a.shape == b.shape and bool(np.all((a == b) | (np.isnan(a) & np.isnan(b))))


def first_difference(a, b):
    a = np.asarray(a, dtype=float)
    b = np.asarray(b, dtype=float)
    where = np.argwhere(~((a == b) | (np.isnan(a) & np.isnan(b))))
    if len(where) == 0:
        return None
    at = tuple(where[0])
    return at, float(a[at]), float(b[at])


__all__ = ["cli", "parse_csv", "read_problem", "write_problem", "numpy_lawley", "random_problem",
           "caught", "same_bits", "first_difference", "EXAMPLES", "ROOT", "math"]
