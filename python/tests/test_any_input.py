"""Whatever the matrices hold, lawley() returns or raises a ValueError in
words: never another exception, never a crash. Random problems with
values that are not finite, zeros, triangles and selections anywhere."""
import warnings

import numpy as np
import pytest

import tolbe

SPECIALS = [np.nan, np.inf, -np.inf, 0.0, -1.0, 1e308, 1e-308]


@pytest.mark.parametrize("seed", range(40))
def test_returns_or_refuses_in_words(seed):
    rng = np.random.default_rng(seed)
    q = int(rng.integers(1, 8))
    p = int(rng.integers(0, q + 1))
    a = rng.standard_normal((q + 2, q))
    v = a.T @ a
    s = rng.standard_normal((p, p))
    s = s @ s.T + np.eye(p)
    for m in (v, s):
        if m.size and rng.random() < 0.6:
            for _ in range(int(rng.integers(1, 4))):
                m[tuple(rng.integers(0, m.shape[0], 2))] = rng.choice(SPECIALS)
    if rng.random() < 0.2:
        v = np.tril(v)
    selection = rng.permutation(q)[:p].tolist() if rng.random() < 0.5 else None
    reliabilities = rng.choice([0.8, 0.0, -0.5, np.nan, 2.0], q - p) if rng.random() < 0.5 else None
    kwargs = dict(selection=selection, reliabilities=reliabilities,
                  diagnostics=bool(rng.random() < 0.7))
    if rng.random() < 0.3:
        kwargs["n"] = int(rng.integers(2, 200))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            fit = tolbe.lawley(v, s, **kwargs)
        except ValueError as e:
            assert isinstance(e, tolbe.TolbeError) and str(e)
            return
    assert np.asarray(fit.cov).shape == (q, q)
    repr(fit)
    fit.table("cor")
    if fit.diagnostics is not None:
        assert fit.diagnostics["status"] == 0


@pytest.mark.parametrize("seed", range(20))
def test_raw_scores_return_or_refuse_in_words(seed):
    rng = np.random.default_rng(10000 + seed)
    q = int(rng.integers(1, 6))
    p = int(rng.integers(1, q + 1))
    rows = int(rng.integers(0, 12))
    data = rng.standard_normal((rows, q))
    pool = rng.standard_normal((int(rng.integers(0, 15)), p)) * 2
    for m in (data, pool):
        if m.size and rng.random() < 0.5:
            m[tuple(rng.integers(0, s) for s in m.shape)] = rng.choice(SPECIALS)
    interval = rng.choice(["adf", "normal", "bootstrap", "none"])
    extra = dict(B=20, seed=seed, threads=2) if interval == "bootstrap" else {}
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            fit = tolbe.lawley(data=data, pool=pool, interval=str(interval), **extra)
        except ValueError as e:
            assert isinstance(e, tolbe.TolbeError) and str(e)
            return
    assert np.asarray(fit.cov).shape == (q, q)
    if fit.se is not None:
        assert np.asarray(fit.se["cor"]).shape == (q, q)
