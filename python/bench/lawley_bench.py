"""Per-call time of tolbe.lawley() against a plain numpy Lawley correction
(np.linalg.solve based) on the same problems, at q = 10 and q = 50.

Usage: python3 bench/lawley_bench.py [--repeat N]

The problems are random var/cov matrices with p = q / 5 selection
variables (at least 2), corrected with diagnostics on (the default call)
and off; numpy's is the formula and the correlations, nothing checked.
"""
import argparse
import timeit

import numpy as np

import tolbe


def numpy_lawley(v, s, p):
    """C11 = S, C12 = S W V12, C22 = V22 + V21 W (C12 - V12), W = V11^-1."""
    v11, v12, v22 = v[:p, :p], v[:p, p:], v[p:, p:]
    w_v12 = np.linalg.solve(v11, v12)
    c12 = s @ w_v12
    c22 = v22 + w_v12.T @ (c12 - v12)
    c = np.block([[s, c12], [c12.T, c22]])
    d = np.sqrt(np.diag(c))
    return c, c / np.outer(d, d)


def problem(q, p, seed):
    rng = np.random.default_rng(seed)
    a = rng.standard_normal((4 * q, q))
    a[:, 1:] += a[:, :1]
    v = a.T @ a / (4 * q)
    s = v[:p, :p] * 1.6 + 0.1 * np.eye(p)
    return v, s


def per_call(statements, number, rounds=9):
    """The best time per call of each statement, in microseconds, measured
    in turns, so that a busy machine slows them alike."""
    best = [float("inf")] * len(statements)
    for _ in range(rounds):
        for k, statement in enumerate(statements):
            best[k] = min(best[k], timeit.timeit(statement, number=number))
    return [b / number * 1e6 for b in best]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=10000)
    args = parser.parse_args()
    print(f"{'q':>3} {'p':>3} {'numpy us':>9} {'tolbe us':>9} {'ratio':>6} "
          f"{'no diag us':>10} {'ratio':>6}")
    for q in (10, 50):
        p = max(2, q // 5)
        v, s = problem(q, p, q)
        c_np, r_np = numpy_lawley(v, s, p)
        fit = tolbe.lawley(v, s)
        assert np.allclose(fit.cov, c_np, rtol=1e-12, atol=0), "tolbe and numpy disagree"
        assert np.allclose(fit.cor, r_np, rtol=1e-12, atol=1e-15), "tolbe and numpy disagree"
        number = args.repeat if q == 10 else args.repeat // 10
        t_np, t_tolbe, t_fast = per_call([lambda: numpy_lawley(v, s, p), lambda: tolbe.lawley(v, s),
                                          lambda: tolbe.lawley(v, s, diagnostics=False)], number)
        print(f"{q:>3} {p:>3} {t_np:9.2f} {t_tolbe:9.2f} {t_np / t_tolbe:6.1f} "
              f"{t_fast:10.2f} {t_np / t_fast:6.1f}")


if __name__ == "__main__":
    main()
