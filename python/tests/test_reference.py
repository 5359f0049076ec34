"""A plain numpy Lawley agrees with the package to 1e-12 on random
problems of every size and selection; and the package gives the same
numbers from many Python threads at once (its workspace is per thread)."""
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import tolbe
from conftest import caught, numpy_lawley, random_problem


def relative_difference(a, b):
    a, b = np.asarray(a), np.asarray(b)
    return float(np.max(np.abs(a - b) / np.maximum(np.abs(b), 1.0)))


@pytest.mark.parametrize("seed", range(12))
@pytest.mark.parametrize("q", [2, 3, 7, 20, 50])
def test_agrees_with_numpy(seed, q):
    rng = np.random.default_rng(1000 * q + seed)
    p = int(rng.integers(1, q + 1))
    v, s, selection, rel = random_problem(rng, q, p)
    rng.shuffle(selection)  # the unrestricted matrix in another order
    s = v[np.ix_(selection, selection)] * 1.5 + np.eye(p) * 0.1
    cov, cor, dis = numpy_lawley(v, s, selection, rel)
    fit, _ = caught(tolbe.lawley, v, s, selection=selection, reliabilities=rel)
    assert relative_difference(fit.cov, cov) < 1e-12
    assert relative_difference(fit.cor, cor) < 1e-12
    assert relative_difference(fit.disattenuated, dis) < 1e-12


def test_threads_do_not_share_a_workspace():
    rng = np.random.default_rng(7)
    problems = [random_problem(rng, q, max(1, q // 3)) for q in [3, 50, 7, 20] * 25]

    def correct(problem):
        v, s, selection, rel = problem
        return tolbe.lawley(v, s, selection=selection, reliabilities=rel, diagnostics=False).cov

    alone = [correct(problem) for problem in problems]
    with ThreadPoolExecutor(4) as pool:
        together = list(pool.map(correct, problems))
    assert all(np.array_equal(a, b) for a, b in zip(alone, together))


def _request(c):
    """The resolved call of a 3-variable problem with 2 selected."""
    return c.resolve(3, None, False, 2, None, False, None, False, {})


@pytest.mark.parametrize("call", [
    lambda c: _request(c).fit(np.ones(3), np.eye(2), None, None, "", True, 0),
    lambda c: _request(c).fit(np.ones((3, 2)), np.eye(2), None, None, "", True, 0),
    lambda c: _request(c).fit(np.eye(3), np.eye(3), None, None, "", True, 0),
    lambda c: _request(c).fit(None, np.eye(2), np.ones((5, 2)), None, "", True, 0),
    lambda c: _request(c).fit(np.eye(3), None, None, np.ones((5, 3)), "", True, 0),
    lambda c: _request(c).fit(None, None, None, None, "", True, 0),
    lambda c: c.operational(np.eye(3), np.ones(2)),
])
def test_the_extension_refuses_what_it_would_read_out_of_bounds(call):
    from tolbe import _core
    with pytest.raises(ValueError, match="tolbe._core"):
        call(_core)


def test_what_a_call_found_is_freed_with_its_result():
    import resource
    from tolbe import _core
    rng = np.random.default_rng(3)
    v, s, _, _ = random_problem(rng, 10, 2, [0, 1])

    request = _core.resolve(10, None, False, 2, None, False, None, False, {})

    def calls(count):
        for _ in range(count):
            assert request.fit(v, s, None, None, "", True, 0)["diagnostics"] is not None

    calls(2000)
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    calls(40000)  # about 40 MB if each call's diagnostics (1 kB) were kept
    grown = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
    assert grown < 10000, f"{grown} kB more"
