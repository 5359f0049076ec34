"""correct_r(): single validity coefficients corrected by the library,
against the formulas written out here."""
import math
import warnings

import numpy as np
import pytest

import tolbe


def test_direct_is_case_two_with_its_closed_form_se():
    r = np.array([0.25, -0.1, 0.4])
    ux = np.array([0.6, 0.8, 1.2])
    n = np.array([120, 60, 300])
    out = tolbe.correct_r(r, n=n, ux=ux, ryy=0.52)
    big_u = 1 / ux
    x = r / math.sqrt(0.52)
    d = 1 + x**2 * (big_u**2 - 1)
    rho = big_u * x / np.sqrt(d)
    se = big_u / d**1.5 / math.sqrt(0.52) * (1 - r**2) / np.sqrt(n - 1)
    np.testing.assert_allclose(out["rho_operational"], rho, rtol=1e-12)
    np.testing.assert_allclose(out["rho_operational_se"], se, rtol=1e-12)
    z = 1.959963984540054
    np.testing.assert_allclose(out["rho_operational_upper"],
                               np.tanh(np.arctanh(rho) + z * se / (1 - rho**2)), rtol=1e-12)
    assert np.isnan(out["rho_true"]).all()
    assert list(out["problem"]) == [None, None, None]


def test_indirect_broadcasts_and_matches_hunter_schmidt_and_le():
    out = tolbe.correct_r([0.2, 0.3], n=100, method="indirect", ux=0.7, rxx=0.85, ryy=0.6)
    rxx_i = 1 - (1 - 0.85) / 0.7**2
    ut = math.sqrt((0.7**2 - (1 - 0.85)) / 0.85)
    x = np.array([0.2, 0.3]) / math.sqrt(rxx_i * 0.6)
    rho_tp = (x / ut) / np.sqrt(1 + x**2 * (1 / ut**2 - 1))
    np.testing.assert_allclose(out["rho_true"], rho_tp, rtol=1e-12)
    np.testing.assert_allclose(out["rho_operational"], rho_tp * math.sqrt(0.85), rtol=1e-12)
    assert list(out["n"]) == [100, 100]


def test_a_study_that_cannot_be_corrected_is_said_and_left_nan():
    with warnings.catch_warnings(record=True) as said:
        warnings.simplefilter("always")
        out = tolbe.correct_r([0.3, 0.3, 1.0], method="indirect", ux=[0.8, 0.5, 0.8], rxx=0.7)
    codes = [w.message.code for w in said if isinstance(w.message, tolbe.TolbeWarning)]
    assert codes == ["u_true_undefined", "r_out_of_range"]
    assert str(said[0].message).startswith("study 1: u of the true scores is not defined")
    assert list(out["problem"]) == [None, "u_true_undefined", "r_out_of_range"]
    assert np.isnan(out["rho_true"][1]) and not np.isnan(out["rho_true"][0])
    with pytest.raises(tolbe.TolbeError, match="'rxx_sample' must be"):
        tolbe.correct_r(0.3, ux=0.7, rxx_sample="applicants")
    with pytest.raises(tolbe.TolbeError, match="'method' must be one of"):
        tolbe.correct_r(0.3, ux=0.7, method="thorndike")


def test_the_bivariate_signs_move_only_the_selection_term():
    # One study by both bivariate signs: only the sign term differs.
    same = tolbe.correct_r(0.25, method="bivariate_indirect", ux=0.7, uy=0.8, rxx=0.85,
                           ryy=0.6)
    other = tolbe.correct_r(0.25, method="bivariate_indirect", ux=0.7, uy=0.8, rxx=0.85,
                            ryy=0.6, sign_yz=-1)
    ut, up = float(same["ut"][0]), float(same["up"][0])
    shift = math.sqrt((1 - ut**2) * (1 - up**2))
    assert float(same["rho_true"][0]) - float(other["rho_true"][0]) == pytest.approx(2 * shift,
                                                                                       rel=1e-12)
