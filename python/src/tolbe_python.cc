// The Python interface, tolbe._core: thin calls into the library's C API.
//
// The Python layer (tolbe/_arguments.py) translates Python's values into
// the library's call, which the library's request layer resolves and
// refuses in its own words (resolve() below), and the library's fit does
// the rest (Request.fit); this file moves numbers between numpy arrays and
// the library. Every matrix is read through its strides into column-major
// order, so that element (i, j) means the same as in the program and in R
// whatever the array's layout. The usual call (quick()) keeps its
// workspace per thread and allocates nothing but its result arrays. The
// GIL is released while the library computes.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tolbe/fit.h"
#include "tolbe/request.h"
#include "tolbe/tolbe.h"

namespace py = pybind11;

namespace {

using Array = py::array_t<double, py::array::forcecast>;

// Workspace kept between calls on the same thread.
struct Kept {
  std::vector<double> doubles;
  std::vector<int> ints;
  std::vector<double> restricted;
  std::vector<double> unrestricted;
  std::vector<int> selection;
  std::vector<double> reliabilities;
};

Kept& kept() {
  thread_local Kept k;
  return k;
}

template <typename T>
T* reserve(std::vector<T>& v, std::size_t n) {
  if (v.size() < n) v.resize(n);
  return v.data();
}

// A q x q result in Fortran order, made by numpy's own constructor: the
// general one of pybind11 builds its shape in heap vectors, which at q = 10
// costs as much as the correction.
Array result_matrix(int q) {
  auto& api = py::detail::npy_api::get();
  Py_intptr_t shape[2] = {q, q};
  Py_intptr_t strides[2] = {static_cast<Py_intptr_t>(sizeof(double)),
                            static_cast<Py_intptr_t>(sizeof(double)) * q};
  PyObject* descr = api.PyArray_DescrFromType_(py::detail::npy_api::NPY_DOUBLE_);
  PyObject* made = api.PyArray_NewFromDescr_(api.PyArray_Type_, descr, 2, shape, strides, nullptr,
                                             py::detail::npy_api::NPY_ARRAY_WRITEABLE_, nullptr);
  if (made == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<Array>(made);
}

// The values of the rows x columns `a` in column-major order: the array's
// own memory when it is already so laid out, else a copy into `into`.
const double* column_major(const Array& a, std::vector<double>& into) {
  auto rows = a.shape(0);
  auto columns = a.shape(1);
  const auto item = static_cast<py::ssize_t>(sizeof(double));
  if (a.strides(0) == item && (columns <= 1 || a.strides(1) == item * rows)) return a.data();
  double* to = reserve(into, static_cast<std::size_t>(rows * columns));
  auto r = a.unchecked<2>();
  for (py::ssize_t j = 0; j < columns; ++j) {
    for (py::ssize_t i = 0; i < rows; ++i) to[i + j * rows] = r(i, j);
  }
  return to;
}

int size_of(const Array& a, int axis) {
  return static_cast<int>(a.shape(static_cast<py::ssize_t>(axis)));
}

// The checks of this module's own arguments: the Python layer passes them
// right, and anything else is refused rather than read out of bounds.
constexpr py::ssize_t largest = 46340;  // a q x q matrix's index fits an int

void require(bool ok, const char* what) {
  if (!ok) throw py::value_error(std::string("tolbe._core: ") + what);
}

void require_square(const Array& a, const char* what) {
  require(a.ndim() == 2 && a.shape(0) == a.shape(1) && a.shape(0) <= largest, what);
}

void require_scores(const Array& a) {
  require(a.ndim() == 2 && a.shape(0) <= std::numeric_limits<int>::max() && a.shape(1) <= largest,
          "scores must be a matrix");
}

py::object place_or_none(int v) {
  if (v < 0) return py::none();
  return py::int_(v);
}

// The usual call, lawley(v, s) with two float64 arrays and nothing else,
// without the Python layer's resolution: (cov, cor) when the
// correction went through and found nothing, else None, and the Python
// layer takes the whole road (which says what went wrong).
py::object quick(const py::handle& v_handle, const py::handle& s_handle, bool diagnose) {
  if (!py::isinstance<Array>(v_handle) || !py::isinstance<Array>(s_handle)) return py::none();
  auto v = py::reinterpret_borrow<Array>(v_handle);
  auto s = py::reinterpret_borrow<Array>(s_handle);
  if (v.ndim() != 2 || s.ndim() != 2 || v.shape(0) != v.shape(1) || s.shape(0) != s.shape(1) ||
      s.shape(0) > v.shape(0) || s.shape(0) == 0 || v.shape(0) > largest) {
    return py::none();
  }
  Kept& k = kept();
  int q = size_of(v, 0);
  int p = size_of(s, 0);
  const double* vd = column_major(v, k.restricted);
  const double* sd = column_major(s, k.unrestricted);
  // Without diagnostics a matrix that may be a triangle entered alone
  // takes the whole road, which asks for the findings so that the
  // library's errors stop it all the same.
  if (!diagnose && (tolbe::may_be_triangle(q, vd, q) || tolbe::may_be_triangle(p, sd, p))) {
    return py::none();
  }
  std::size_t n_work = 0, n_int_work = 0;
  tolbe_lawley_workspace(q, p, &n_work, &n_int_work);
  if (n_work == SIZE_MAX || n_int_work == SIZE_MAX) return py::none();
  double* work = reserve(k.doubles, n_work + 1);
  int* int_work = reserve(k.ints, n_int_work + 1);
  Array cov = result_matrix(q);
  Array cor = result_matrix(q);
  double* cov_out = cov.mutable_data();
  double* cor_out = cor.mutable_data();
  // The diagnostics of a call that found nothing are made anew if they are
  // ever asked for (the same call gives the same ones), so they are not
  // kept here.
  thread_local tolbe_diagnostics d;
  int status;
  {
    py::gil_scoped_release unlocked;
    status =
        tolbe_lawley(q, p, vd, q, sd, p > 0 ? p : 1, nullptr, nullptr, 0, cov_out, q, cor_out, q,
                     nullptr, q, work, n_work, int_work, n_int_work, diagnose ? &d : nullptr);
  }
  if (status != TOLBE_OK || (diagnose && d.n_findings > 0)) return py::none();
  return py::make_tuple(cov, cor);
}

// quick() as a plain CPython function taking its arguments in place:
// pybind11's dispatch, made for overloads and conversions, costs a tenth
// of the usual call at q = 10.
PyObject* quick_call(PyObject*, PyObject* const* args, Py_ssize_t n_args) {
  if (n_args != 3) {
    PyErr_SetString(PyExc_TypeError, "quick(v, s, diagnose) takes 3 arguments");
    return nullptr;
  }
  try {
    return quick(py::handle(args[0]), py::handle(args[1]), PyObject_IsTrue(args[2]) == 1)
        .release()
        .ptr();
  } catch (py::error_already_set& e) {
    e.restore();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  }
  return nullptr;
}

PyMethodDef quick_method = {
    "quick", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(quick_call)), METH_FASTCALL,
    "quick(v, s, diagnose): (cov, cor) of the usual call, or None"};

// Raw scores as the library takes them: column-major, NaN where missing.
struct Scores {
  std::vector<double> values;
  tolbe_scores view{0, 0, nullptr, 1};
};

// The scores' values; given scores of no rows are given all the same.
const double* data_or_empty(const Scores& s) {
  static const double none = 0.0;
  return s.view.data != nullptr ? s.view.data : &none;
}

void scores_of(const Array& x, Scores& out);

// Raw scores of `columns` columns as the library takes them, held by
// `array` and `scores`; none (data null) for None.
tolbe::RawScores raw_scores(const py::object& x, int columns, const char* what, Array& array,
                            Scores& scores) {
  if (x.is_none()) return {};
  array = x.cast<Array>();
  scores_of(array, scores);
  require(scores.view.columns == columns, what);
  return {scores.view.rows, scores.view.columns, data_or_empty(scores), scores.view.ld};
}

void scores_of(const Array& x, Scores& out) {
  require_scores(x);
  int rows = size_of(x, 0);
  int columns = size_of(x, 1);
  const double* d = column_major(x, out.values);
  out.view = tolbe_scores{rows, columns, d, rows > 0 ? rows : 1};
}

// The predictors of `criterion` when none are named: the library's rule,
// which leaves out the criteria.
std::vector<int> default_predictors(int q, int criterion, const std::vector<int>& criteria) {
  require(q >= 0 && q <= largest, "q in 0..46340");
  std::vector<int> out(static_cast<std::size_t>(q) + 1);
  int count = tolbe_default_predictors(q, criterion, criteria.data(),
                                       static_cast<int>(criteria.size()), out.data());
  require(count >= 0, "the criterion and the criteria must be variables");
  out.resize(static_cast<std::size_t>(count));
  return out;
}

// The operational correlations (or their SEs or bounds) of the q x q `cor`.
Array operational(const Array& cor, const Array& criterion_reliabilities) {
  require_square(cor, "cor must be a square matrix");
  int q = size_of(cor, 0);
  require(criterion_reliabilities.ndim() == 1 && criterion_reliabilities.shape(0) == q,
          "criterion_reliabilities must be q values");
  std::vector<double> held;
  const double* cd = column_major(cor, held);
  Array out = result_matrix(q);
  tolbe_operational_correlations(q, cd, q > 0 ? q : 1, criterion_reliabilities.data(),
                                 out.mutable_data(), q > 0 ? q : 1);
  return out;
}

// ---- What a call means: the library's request layer --------------------

// How Python's users write the arguments: as named, the resamples as B,
// variables and places counted from 0.
const tolbe::Spelling& python_spelling() {
  static const tolbe::Spelling spelling = [] {
    tolbe::Spelling s;
    s.names[static_cast<int>(tolbe::CallArgument::resamples)] = "B";
    s.mention = "'{}'";
    s.assignment = "{} = \"{}\"";
    s.matrix_names = "names";
    s.first_index = 0;
    return s;
  }();
  return spelling;
}

// An argument as the Python layer translated it: None (absent), or
// (kind, values, names) with kind 1 numbers, 2 texts (bytes, UTF-8),
// 3 neither, and names None or the elements' names.
tolbe::Given given_of(const py::handle& x) {
  tolbe::Given g;
  if (x.is_none()) return g;
  auto t = x.cast<py::tuple>();
  require(t.size() == 3, "an argument is (kind, values, names)");
  int kind = t[0].cast<int>();
  if (kind == TOLBE_GIVEN_NUMBERS) {
    g.kind = tolbe::Given::Kind::numbers;
    g.numbers = t[1].cast<std::vector<double>>();
  } else if (kind == TOLBE_GIVEN_TEXTS) {
    g.kind = tolbe::Given::Kind::texts;
    g.texts = t[1].cast<std::vector<std::string>>();
  } else {
    g.kind = tolbe::Given::Kind::other;
  }
  if (!t[2].is_none()) {
    g.names = t[2].cast<std::vector<std::string>>();
    g.has_names = true;
    require(g.names.size() == g.size() || g.kind == tolbe::Given::Kind::other,
            "an argument has one name per value");
  }
  return g;
}

std::vector<std::string> names_of(const py::object& x) {
  if (x.is_none()) return {};
  return x.cast<std::vector<std::string>>();
}

// A refusal as (code, argument, variables, message as bytes), or None.
py::object refusal_of(const std::optional<tolbe::Refusal>& r) {
  if (!r) return py::none();
  return py::make_tuple(tolbe::refusal_code_name(r->code), tolbe::call_argument_name(r->argument),
                        r->variables, py::bytes(r->message));
}

std::vector<bool> flags(const std::vector<char>& x) {
  return std::vector<bool>(x.begin(), x.end());
}

// A copy of the n x n column-major `v` as a Fortran-ordered array, or None
// when the fit has none.
py::object matrix_or_none(const std::vector<double>& v, int n) {
  if (v.empty()) return py::none();
  Array out = result_matrix(n);
  std::copy(v.begin(), v.end(), out.mutable_data());
  return out;
}

py::object place_of(const tolbe::Place& at) {
  if (at.row < 0 && at.column < 0) return py::none();
  return py::make_tuple(at.row, at.column);
}

// What the correction found, as fit.diagnostics gives it.
py::dict diagnostics_dict(const tolbe::Diagnostics& d) {
  py::dict o;
  o["status"] = static_cast<int>(d.status);
  o["leading_minor"] = d.leading_minor;
  o["reason"] = d.reason != nullptr ? d.reason : "";
  o["restricted_asymmetry"] = d.restricted_asymmetry;
  o["unrestricted_asymmetry"] = d.unrestricted_asymmetry;
  o["restricted_positive_definite"] = d.restricted_positive_definite;
  o["unrestricted_positive_definite"] = d.unrestricted_positive_definite;
  o["nonpositive_variances"] = d.nonpositive_variances;
  o["first_nonpositive_variance"] = place_or_none(d.first_nonpositive_variance.row);
  o["correlations_out_of_range"] = d.correlations_out_of_range;
  o["first_correlation_out_of_range"] = place_of(d.first_correlation_out_of_range);
  o["disattenuated_out_of_range"] = d.disattenuated_out_of_range;
  o["first_disattenuated_out_of_range"] = place_of(d.first_disattenuated_out_of_range);
  o["reliabilities_out_of_range"] = d.reliabilities_out_of_range;
  o["first_reliability_out_of_range"] = place_or_none(d.first_reliability_out_of_range);
  o["sign_changes"] = d.sign_changes;
  o["unread_not_finite"] = d.unread_not_finite;
  return o;
}

// The fit's messages as (code, severity, argument, message as bytes,
// variables, row or None).
py::list messages_of(const tolbe::Fit& f) {
  py::list out;
  for (const tolbe::FitMessage& m : f.said) {
    out.append(py::make_tuple(m.code, static_cast<int>(m.severity),
                              tolbe::call_argument_name(m.argument), py::bytes(m.message),
                              py::tuple(py::cast(m.variables)), place_or_none(m.row)));
  }
  return out;
}

// The fit as a dict: "messages" always; the rest unless "refused".
py::dict fit_dict(const tolbe::Fit& f) {
  py::dict o;
  o["refused"] = f.refused();
  o["messages"] = messages_of(f);
  if (f.refused()) return o;
  int q = f.q;
  for (int m = 0; m < tolbe::fit_matrix_count; ++m) {
    o[tolbe::fit_matrix_name(static_cast<tolbe::FitMatrix>(m))] = matrix_or_none(f.matrices[m], q);
  }
  o["restricted"] = matrix_or_none(f.restricted, q);
  o["unrestricted"] = matrix_or_none(f.unrestricted, f.p);
  if (f.reliabilities.empty()) {
    o["reliabilities"] = py::none();
  } else {
    o["reliabilities"] = f.reliabilities;
    o["measured_restricted"] = flags(f.measured_restricted);
  }
  o["means"] = f.means.empty() ? py::object(py::none()) : py::object(Array(py::cast(f.means)));
  o["criterion_reliability"] = Array(py::cast(f.criterion_reliability));
  o["rows"] = py::make_tuple(f.rows_used, f.rows_dropped, f.pool_rows_used, f.pool_rows_dropped);
  if (f.diagnosed) {
    py::dict d = diagnostics_dict(f.diagnostics);
    auto pairs = [](const std::vector<tolbe::Place>& places) {
      py::list out;
      for (const tolbe::Place& at : places) out.append(py::make_tuple(at.row, at.column));
      return out;
    };
    d["sign_change_pairs"] = pairs(f.sign_change_pairs);
    d["not_finite_places"] = pairs(f.not_finite_places);
    o["diagnostics"] = d;
  } else {
    o["diagnostics"] = py::none();
  }
  if (!f.with_intervals) {
    o["intervals"] = py::none();
    return o;
  }
  const tolbe::FitIntervals& in = f.intervals;
  py::dict se, lower, upper;
  for (int m = 0; m < tolbe::fit_matrix_count; ++m) {
    if (in.se[m].empty()) continue;
    const char* name = tolbe::fit_matrix_name(static_cast<tolbe::FitMatrix>(m));
    se[name] = matrix_or_none(in.se[m], q);
    lower[name] = matrix_or_none(in.lower[m], q);
    upper[name] = matrix_or_none(in.upper[m], q);
  }
  const tolbe::IntervalSummary& s = in.summary;
  py::dict summary;
  summary["method"] = tolbe::interval_method_name(s.method);
  summary["interval"] = static_cast<int>(s.interval);
  summary["level"] = s.level;
  summary["n"] = s.n;
  summary["n_unrestricted"] = s.n_unrestricted;
  summary["rows_dropped"] = s.rows_dropped;
  summary["pool_rows_dropped"] = s.pool_rows_dropped;
  summary["resamples"] = s.resamples;
  summary["failed_resamples"] = s.failed_resamples;
  summary["threads"] = s.threads;
  summary["percentile_fallbacks"] = s.percentile_fallbacks;
  summary["seed"] = in.seed;
  summary["description"] = py::bytes(in.description);
  o["intervals"] = py::make_tuple(summary, se, lower, upper);
  return o;
}

// A call and what the library made of it, kept for what comes after the
// correction: converting reliabilities, counting rows, and the fit's
// validity questions.
struct Request {
  tolbe::Call call;
  tolbe::Resolution resolution;

  py::object refusal() const { return refusal_of(resolution.refusal); }

  py::dict resolved() const {
    const tolbe::ResolvedCall& r = resolution.call;
    const tolbe::IntervalOptions& a = r.intervals;
    py::dict o;
    o["q"] = r.q;
    o["p"] = r.p;
    o["selection"] = r.selection;
    o["unrestricted_rows"] = r.unrestricted_rows;
    o["reordered"] = r.reordered;
    o["position"] = r.position;
    o["others"] = r.others;
    o["reliabilities"] = r.reliabilities;
    o["reliabilities_as_given"] = r.reliabilities_as_given;
    o["reliability_given"] = flags(r.reliability_given);
    o["from_restricted"] = flags(r.from_restricted);
    o["defaulted"] = r.defaulted;
    o["criteria"] = r.criteria;
    o["restricted_means"] = r.restricted_means;
    o["unrestricted_means"] = r.unrestricted_means;
    o["method"] = static_cast<int>(a.method);
    o["ci_type"] = static_cast<int>(a.ci_type);
    o["level"] = a.level;
    o["n"] = a.n;
    o["n_unrestricted"] = a.n_unrestricted;
    o["resamples"] = a.resamples;
    o["seed"] = a.seed_given ? py::object(py::int_(a.seed)) : py::none();
    o["threads"] = a.threads;
    return o;
  }

  // fit(v, s, data, pool, triangle, diagnostics, seed): the library's fit
  // of the call on V (q x q) or the data's scores, and S as given (p x p)
  // or the pool's selection columns in selection order; see fit_dict().
  py::dict fit(const py::object& v, const py::object& s, const py::object& data,
               const py::object& pool, const std::string& triangle, bool diagnostics,
               std::uint64_t seed) {
    require(resolution.ok(), "the call was refused");
    tolbe::FitSources in;
    std::vector<double> v_held, s_held;
    Scores data_scores, pool_scores;
    Array va, sa, da, pa;
    if (!v.is_none()) {
      va = v.cast<Array>();
      require(va.ndim() == 2 && va.shape(0) == call.q && va.shape(1) == call.q, "v must be q x q");
      in.restricted = column_major(va, v_held);
      in.ld_restricted = call.q > 0 ? call.q : 1;
    }
    if (!s.is_none()) {
      sa = s.cast<Array>();
      require(sa.ndim() == 2 && sa.shape(0) == call.p && sa.shape(1) == call.p, "s must be p x p");
      in.unrestricted = column_major(sa, s_held);
      in.ld_unrestricted = call.p > 0 ? call.p : 1;
    }
    in.data = raw_scores(data, call.q, "data must have q columns", da, data_scores);
    in.pool = raw_scores(pool, resolution.call.p, "pool must have p columns", pa, pool_scores);
    require(in.restricted != nullptr || in.data.data != nullptr, "v or data");
    require(in.unrestricted != nullptr || in.pool.data != nullptr, "s or pool");
    in.triangle = triangle == "lower" ? 'l' : triangle == "upper" ? 'u' : '\0';
    in.diagnostics = diagnostics;
    in.seed = seed;
    tolbe::Fit f;
    {
      py::gil_scoped_release unlocked;
      f = tolbe::fit(call, resolution.call, in);
    }
    return fit_dict(f);
  }

  tolbe::QuestionCall question_call() const {
    tolbe::QuestionCall out;
    out.spelling = call.spelling;
    out.q = call.q;
    out.names = call.names;
    out.criteria = resolution.call.criteria;
    return out;
  }

  // ask(v, s, data, pool, seed, criterion, predictors, added): the
  // validity question asked of the fit of this call (V and S as the fit
  // corrected them, its raw scores and its bootstrap's seed) -> (refusal,
  // criterion, predictors, base, summary, estimate, se, lower, upper).
  py::tuple ask(const Array& v, const Array& s, const py::object& data, const py::object& pool,
                std::uint64_t seed, const py::object& criterion, const py::object& predictors,
                const py::object& added) const {
    const tolbe::ResolvedCall& r = resolution.call;
    require(resolution.ok() && v.ndim() == 2 && v.shape(0) == r.q && v.shape(1) == r.q &&
                s.ndim() == 2 && s.shape(0) == r.p && s.shape(1) == r.p,
            "v must be q x q and s p x p");
    tolbe::QuestionCall asked = question_call();
    asked.criterion = given_of(criterion);
    asked.predictors = given_of(predictors);
    asked.added = given_of(added);
    std::vector<double> v_held, s_held, reliabilities;
    Scores data_scores, pool_scores;
    tolbe::FitAsked fit;
    fit.q = r.q;
    fit.p = r.p;
    fit.restricted = column_major(v, v_held);
    fit.ld_restricted = r.q > 0 ? r.q : 1;
    fit.unrestricted = column_major(s, s_held);
    fit.ld_unrestricted = r.p > 0 ? r.p : 1;
    fit.selection = r.selection;
    if (!r.reliabilities.empty() || call.reliabilities.given()) {
      reliabilities = tolbe::reliabilities_by_variable(r);
      fit.reliabilities = reliabilities;
    }
    Array data_array, pool_array;
    fit.intervals = tolbe::interval_request(
        r.intervals, seed,
        raw_scores(data, r.q, "data must have q columns", data_array, data_scores),
        raw_scores(pool, r.p, "pool must have p columns", pool_array, pool_scores));
    tolbe::ValidityAnswer answer;
    {
      py::gil_scoped_release unlocked;
      answer = tolbe::ask(asked, fit);
    }
    const tolbe::ResolvedQuestion& q = answer.question;
    if (answer.refusal) {
      return py::make_tuple(refusal_of(answer.refusal), q.criterion, q.predictors, q.base,
                            py::none(), py::none(), py::none(), py::none(), py::none(), "");
    }
    py::dict summary;
    summary["failed_resamples"] = answer.summary.failed_resamples;
    summary["percentile_fallbacks"] = answer.summary.percentile_fallbacks;
    return py::make_tuple(py::none(), q.criterion, q.predictors, q.base, summary,
                          Array(py::cast(answer.estimate)), Array(py::cast(answer.se)),
                          Array(py::cast(answer.lower)), Array(py::cast(answer.upper)),
                          answer.note);
  }
};

// resolve(q, names, from_data, p, unrestricted_names, from_pool,
// unrestricted, mirrors_triangle, arguments) -> Request: the call of q
// variables (names: None or q names as bytes, b"" unnamed) and a p x p
// unrestricted matrix (as given, or None) or a pool of p columns, with the
// other arguments by their stable names (see given_of).
std::unique_ptr<Request> resolve(int q, const py::object& names, bool from_data, int p,
                                 const py::object& unrestricted_names, bool from_pool,
                                 const py::object& unrestricted, bool mirrors_triangle,
                                 const py::dict& arguments) {
  require(q >= 0 && q <= largest && p >= 0 && p <= largest, "q and p in 0..46340");
  auto out = std::make_unique<Request>();
  tolbe::Call& c = out->call;
  c.spelling = python_spelling();
  c.q = q;
  c.names = names_of(names);
  require(c.names.empty() || c.names.size() == static_cast<std::size_t>(q), "q names or none");
  c.from_data = from_data;
  c.p = p;
  c.unrestricted_names = names_of(unrestricted_names);
  c.from_pool = from_pool;
  c.mirrors_triangle = mirrors_triangle;
  std::vector<double> held;
  Array s;
  if (!unrestricted.is_none()) {
    s = unrestricted.cast<Array>();
    require(s.ndim() == 2 && s.shape(0) == p && s.shape(1) == p, "unrestricted must be p x p");
    c.unrestricted = column_major(s, held);
    c.ld_unrestricted = p > 0 ? p : 1;
  }
  tolbe::Given* slots[] = {&c.selection,
                           &c.reliabilities,
                           &c.reliability_sample,
                           &c.criteria,
                           &c.restricted_means,
                           &c.unrestricted_means,
                           &c.interval,
                           &c.n,
                           &c.n_unrestricted,
                           &c.level,
                           &c.resamples,
                           &c.seed,
                           &c.threads,
                           &c.ci_type};
  tolbe::CallArgument order[] = {tolbe::CallArgument::selection,
                                 tolbe::CallArgument::reliabilities,
                                 tolbe::CallArgument::reliability_sample,
                                 tolbe::CallArgument::criteria,
                                 tolbe::CallArgument::restricted_means,
                                 tolbe::CallArgument::unrestricted_means,
                                 tolbe::CallArgument::interval,
                                 tolbe::CallArgument::n,
                                 tolbe::CallArgument::n_unrestricted,
                                 tolbe::CallArgument::level,
                                 tolbe::CallArgument::resamples,
                                 tolbe::CallArgument::seed,
                                 tolbe::CallArgument::threads,
                                 tolbe::CallArgument::ci_type};
  for (auto item : arguments) {
    auto name = item.first.cast<std::string>();
    bool known = false;
    for (std::size_t k = 0; k < std::size(order); ++k) {
      if (name != tolbe::call_argument_name(order[k])) continue;
      *slots[k] = given_of(item.second);
      known = true;
    }
    require(known, "an argument the call does not have");
  }
  out->resolution = tolbe::resolve_call(c);
  // The matrix as given was read by the resolution only.
  c.unrestricted = nullptr;
  c.ld_unrestricted = 0;
  return out;
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "The tolbe library's C API for the Python package (see tolbe.lawley).";
  PyObject* made = PyCFunction_NewEx(&quick_method, nullptr, m.attr("__name__").ptr());
  if (made == nullptr) throw py::error_already_set();
  m.add_object("quick", py::reinterpret_steal<py::object>(made));
  m.def("operational", &operational);
  m.def("default_predictors", &default_predictors);
  m.def("version", &tolbe_version);
  py::class_<Request>(m, "Request")
      .def_property_readonly("refusal", &Request::refusal)
      .def("resolved", &Request::resolved)
      .def("fit", &Request::fit)
      .def("ask", &Request::ask);
  m.def("resolve", &resolve);
  // Which sides were given, and means beside raw scores: None, or the
  // refusal as (code, argument, message).
  m.def("sources_refusal",
        [](bool restricted, bool data, bool unrestricted, bool pool, bool restricted_means,
           bool unrestricted_means) -> py::object {
          auto refusal = tolbe::sources_refusal(
              python_spelling(),
              {restricted, data, unrestricted, pool, restricted_means, unrestricted_means});
          if (!refusal) return py::none();
          return py::make_tuple(tolbe::refusal_code_name(refusal->code),
                                tolbe::call_argument_name(refusal->argument), refusal->message);
        });
  // The library's refusal of a matrix (scores false) or of raw scores
  // (scores true) given as `argument` with this shape, or None.
  m.def("shape_refusal",
        [](bool scores, const std::string& argument, bool numeric, long rows, long columns,
           const py::object& row_names, const py::object& column_names,
           const std::vector<int>& not_numbers) -> py::object {
          tolbe::CallArgument which = tolbe::CallArgument::none;
          for (int a = 1; a < tolbe::call_argument_count; ++a) {
            auto candidate = static_cast<tolbe::CallArgument>(a);
            if (argument == tolbe::call_argument_name(candidate)) which = candidate;
          }
          require(which != tolbe::CallArgument::none, "an argument the call does not have");
          tolbe::Shape shape{numeric,    rows, columns, names_of(row_names), names_of(column_names),
                             not_numbers};
          return refusal_of(scores ? tolbe::scores_refusal(python_spelling(), which, shape)
                                   : tolbe::matrix_refusal(python_spelling(), which, shape));
        });
  m.def("validity_offset", [](int k, int part) { return tolbe_validity_offset(k, part); });
  // correct_studies(r, n, method, ux, uy, rxx, ryy, rxx_sample, ryy_sample,
  // sign_xz, sign_yz, level): one study per element of the equally long
  // arrays (NaN: not given; n 0: no SE), corrected by the library. Returns
  // (problem names, None for none; a dict of arrays of the results).
  m.def("correct_studies", [](const py::array_t<double>& r, const py::array_t<int>& n, int method,
                              const py::array_t<double>& ux, const py::array_t<double>& uy,
                              const py::array_t<double>& rxx, const py::array_t<double>& ryy,
                              const py::array_t<int>& rxx_sample,
                              const py::array_t<int>& ryy_sample, const py::array_t<int>& sign_xz,
                              const py::array_t<int>& sign_yz, double level) {
    auto count = static_cast<std::size_t>(r.size());
    for (const py::buffer_info& b :
         {n.request(), ux.request(), uy.request(), rxx.request(), ryy.request(),
          rxx_sample.request(), ryy_sample.request(), sign_xz.request(), sign_yz.request()}) {
      require(static_cast<std::size_t>(b.size) == count, "arrays of one length");
    }
    std::vector<tolbe_study> studies(count);
    for (std::size_t k = 0; k < count; ++k) {
      auto at = static_cast<py::ssize_t>(k);
      studies[k] = {r.data()[at],          n.data()[at],          ux.data()[at],
                    uy.data()[at],         rxx.data()[at],        ryy.data()[at],
                    rxx_sample.data()[at], ryy_sample.data()[at], sign_xz.data()[at],
                    sign_yz.data()[at]};
    }
    std::vector<tolbe_study_result> results(count);
    require(tolbe_correct_studies(studies.data(), count, method, level, results.data()) == 0,
            "a method of the library's");
    py::list problems;
    const char* names[] = {"rho_operational",
                           "rho_operational_se",
                           "rho_operational_lower",
                           "rho_operational_upper",
                           "rho_true",
                           "rho_true_se",
                           "rho_true_lower",
                           "rho_true_upper",
                           "ut",
                           "up"};
    std::vector<std::vector<double>> columns(10, std::vector<double>(count));
    for (std::size_t k = 0; k < count; ++k) {
      const tolbe_study_result& g = results[k];
      problems.append(g.problem == 0 ? py::object(py::none())
                                     : py::object(py::str(tolbe_study_problem_name(g.problem))));
      double values[10] = {g.rho_operational,
                           g.se_operational,
                           g.lower_operational,
                           g.upper_operational,
                           g.rho_true,
                           g.se_true,
                           g.lower_true,
                           g.upper_true,
                           g.ut,
                           g.up};
      for (std::size_t j = 0; j < 10; ++j) columns[j][k] = values[j];
    }
    py::dict out;
    for (std::size_t j = 0; j < 10; ++j) out[names[j]] = Array(py::cast(columns[j]));
    return py::make_tuple(problems, out);
  });
  m.def("study_problem_message", [](const std::string& name) {
    for (int code = 1; code < 64; ++code) {
      std::string known = tolbe_study_problem_name(code);
      if (known.empty()) break;
      if (known == name) return std::string(tolbe_study_problem_message(code));
    }
    return std::string();
  });
  m.attr("VALIDITY_B") = TOLBE_VALIDITY_B;
  m.attr("VALIDITY_BETA") = TOLBE_VALIDITY_BETA;
  m.attr("VALIDITY_VALIDITY") = TOLBE_VALIDITY_VALIDITY;
  m.attr("VALIDITY_OPERATIONAL_VALIDITY") = TOLBE_VALIDITY_OPERATIONAL_VALIDITY;
  m.attr("VALIDITY_R2") = TOLBE_VALIDITY_R2;
  m.attr("VALIDITY_R") = TOLBE_VALIDITY_R;
  m.attr("VALIDITY_OPERATIONAL_R") = TOLBE_VALIDITY_OPERATIONAL_R;
  m.attr("VALIDITY_BASE_R2") = TOLBE_VALIDITY_BASE_R2;
  m.attr("VALIDITY_DELTA_R2") = TOLBE_VALIDITY_DELTA_R2;
  m.attr("VALIDITY_DELTA_R") = TOLBE_VALIDITY_DELTA_R;
}
