// A fit through the C API: the C++ fit kept behind a handle, read by
// getters that point into it.

#include <new>

#include "api/c_convert.h"
#include "request/c_resolution.h"
#include "tolbe/fit.h"
#include "tolbe/tolbe.h"

struct tolbe_fit {
  tolbe::Fit fit;
};

namespace {

tolbe::RawScores scores_of(const tolbe_scores& s) {
  return {s.rows, s.columns, s.data, s.ld};
}

}  // namespace

extern "C" {

tolbe_fit* tolbe_fit_make(tolbe_resolution* resolution, const tolbe_fit_sources* sources) {
  if (resolution == nullptr || sources == nullptr || !resolution->resolution.ok()) return nullptr;
  tolbe::FitSources in;
  in.restricted = sources->restricted;
  in.ld_restricted = sources->ld_restricted;
  in.unrestricted = sources->unrestricted;
  in.ld_unrestricted = sources->ld_unrestricted;
  if (sources->data.data != nullptr) in.data = scores_of(sources->data);
  if (sources->pool.data != nullptr) in.pool = scores_of(sources->pool);
  in.triangle = sources->triangle == 'l' || sources->triangle == 'u'
                    ? static_cast<char>(sources->triangle)
                    : '\0';
  in.diagnostics = sources->diagnostics != 0;
  in.seed = sources->seed;
  try {
    auto* out = new tolbe_fit;
    out->fit = tolbe::fit(resolution->call, resolution->resolution.call, in);
    return out;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void tolbe_fit_free(tolbe_fit* fit) {
  delete fit;
}

int tolbe_fit_refused(const tolbe_fit* fit) {
  return fit != nullptr && fit->fit.refused() ? 1 : 0;
}

int tolbe_fit_messages(const tolbe_fit* fit) {
  return fit != nullptr ? static_cast<int>(fit->fit.said.size()) : 0;
}

int tolbe_fit_message_get(const tolbe_fit* fit, int k, tolbe_fit_message* out) {
  if (fit == nullptr || out == nullptr || k < 0 || k >= tolbe_fit_messages(fit)) {
    return TOLBE_INVALID_ARGUMENT;
  }
  const tolbe::FitMessage& m = fit->fit.said[static_cast<std::size_t>(k)];
  out->code = m.code.c_str();
  out->severity = static_cast<int>(m.severity);
  out->argument = static_cast<int>(m.argument);
  out->message = m.message.c_str();
  out->variables = m.variables.empty() ? nullptr : m.variables.data();
  out->n_variables = static_cast<int>(m.variables.size());
  out->row = m.row;
  return TOLBE_OK;
}

const double* tolbe_fit_matrix(const tolbe_fit* fit, int matrix, int part) {
  if (fit == nullptr || matrix < 0 || matrix >= TOLBE_FIT_MATRICES) return nullptr;
  const tolbe::Fit& f = fit->fit;
  auto m = static_cast<std::size_t>(matrix);
  const std::vector<double>* v = nullptr;
  switch (part) {
    case TOLBE_FIT_ESTIMATE:
      v = &f.matrices[m];
      break;
    case TOLBE_FIT_SE:
      v = f.with_intervals ? &f.intervals.se[m] : nullptr;
      break;
    case TOLBE_FIT_LOWER:
      v = f.with_intervals ? &f.intervals.lower[m] : nullptr;
      break;
    case TOLBE_FIT_UPPER:
      v = f.with_intervals ? &f.intervals.upper[m] : nullptr;
      break;
    default:
      break;
  }
  return v == nullptr || v->empty() ? nullptr : v->data();
}

const double* tolbe_fit_restricted(const tolbe_fit* fit) {
  return fit == nullptr || fit->fit.restricted.empty() ? nullptr : fit->fit.restricted.data();
}

const double* tolbe_fit_unrestricted(const tolbe_fit* fit) {
  return fit == nullptr || fit->fit.unrestricted.empty() ? nullptr : fit->fit.unrestricted.data();
}

const double* tolbe_fit_means(const tolbe_fit* fit) {
  return fit == nullptr || fit->fit.means.empty() ? nullptr : fit->fit.means.data();
}

const double* tolbe_fit_criterion_reliabilities(const tolbe_fit* fit) {
  return fit == nullptr || fit->fit.criterion_reliability.empty()
             ? nullptr
             : fit->fit.criterion_reliability.data();
}

const double* tolbe_fit_reliabilities(const tolbe_fit* fit, const char** measured_restricted) {
  if (fit == nullptr || fit->fit.reliabilities.empty()) return nullptr;
  if (measured_restricted != nullptr) *measured_restricted = fit->fit.measured_restricted.data();
  return fit->fit.reliabilities.data();
}

void tolbe_fit_rows(const tolbe_fit* fit, int* used, int* dropped, int* pool_used,
                    int* pool_dropped) {
  if (fit == nullptr) return;
  if (used != nullptr) *used = fit->fit.rows_used;
  if (dropped != nullptr) *dropped = fit->fit.rows_dropped;
  if (pool_used != nullptr) *pool_used = fit->fit.pool_rows_used;
  if (pool_dropped != nullptr) *pool_dropped = fit->fit.pool_rows_dropped;
}

int tolbe_fit_intervals(const tolbe_fit* fit, tolbe_interval_summary* summary,
                        unsigned long long* seed, const char** description) {
  if (fit == nullptr || !fit->fit.with_intervals) return 0;
  if (description != nullptr) *description = fit->fit.intervals.description.c_str();
  if (summary != nullptr) *summary = tolbe::c_api::summary_to_c(fit->fit.intervals.summary);
  if (seed != nullptr) *seed = fit->fit.intervals.seed;
  return 1;
}

int tolbe_fit_diagnostics(const tolbe_fit* fit, tolbe_diagnostics* out) {
  if (fit == nullptr || !fit->fit.diagnosed) return 0;
  tolbe::c_api::to_c(fit->fit.diagnostics, out);
  return 1;
}

int tolbe_fit_places(const tolbe_fit* fit, int which, int* rows, int* columns, int capacity) {
  if (fit == nullptr) return 0;
  const std::vector<tolbe::Place>& places =
      which == TOLBE_FIT_SIGN_CHANGES ? fit->fit.sign_change_pairs : fit->fit.not_finite_places;
  int count = static_cast<int>(places.size());
  for (int k = 0; k < count && k < capacity; ++k) {
    if (rows != nullptr) rows[k] = places[static_cast<std::size_t>(k)].row;
    if (columns != nullptr) columns[k] = places[static_cast<std::size_t>(k)].column;
  }
  return count;
}

}  // extern "C"
