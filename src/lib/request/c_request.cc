// The request layer through the C API: a resolution keeps its call (the
// names and spelling its messages use) beside what was resolved.

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "tolbe/request.h"
#include "tolbe/tolbe.h"
#include "tolbe/validity.h"

struct tolbe_resolution {
  tolbe::Call call;
  tolbe::Resolution resolution;
  std::vector<std::string> spelling_names;
  std::string mention, assignment, matrix_names;
};

namespace {

std::string text_of(const char* s) {
  return s != nullptr ? s : "";
}

std::vector<std::string> texts_of(const char* const* texts, int n) {
  std::vector<std::string> out;
  if (texts == nullptr || n <= 0) return out;
  for (int k = 0; k < n; ++k) out.push_back(text_of(texts[k]));
  return out;
}

tolbe::Given given_of(const tolbe_given& g) {
  tolbe::Given out;
  int n = g.length > 0 ? g.length : 0;
  switch (g.kind) {
    case TOLBE_GIVEN_NUMBERS:
      out.kind = tolbe::Given::Kind::numbers;
      if (g.numbers != nullptr) out.numbers.assign(g.numbers, g.numbers + n);
      break;
    case TOLBE_GIVEN_TEXTS:
      out.kind = tolbe::Given::Kind::texts;
      out.texts = texts_of(g.texts, n);
      break;
    case TOLBE_GIVEN_OTHER:
      out.kind = tolbe::Given::Kind::other;
      break;
    default:
      return out;
  }
  if (g.names != nullptr) {
    out.names = texts_of(g.names, n);
    out.has_names = true;
  }
  return out;
}

}  // namespace

extern "C" {

size_t tolbe_validity_offset(int n_predictors, int part) {
  if (n_predictors < 0 || part < 0 || part >= static_cast<int>(tolbe::ValidityPart::count)) {
    return 0;
  }
  return tolbe::validity_offset(static_cast<std::size_t>(n_predictors),
                                static_cast<tolbe::ValidityPart>(part));
}

void tolbe_call_init(tolbe_call* call) {
  if (call == nullptr) return;
  std::memset(call, 0, sizeof *call);
  call->mention = "'{}'";
  call->assignment = "{} = \"{}\"";
  call->matrix_names = "names";
  call->first_index = 1;
}

const char* tolbe_refusal_code_name(int code) {
  return tolbe::refusal_code_name(static_cast<tolbe::RefusalCode>(code));
}

const char* tolbe_call_argument_name(int argument) {
  return tolbe::call_argument_name(static_cast<tolbe::CallArgument>(argument));
}

tolbe_resolution* tolbe_resolve(const tolbe_call* c) {
  if (c == nullptr) return nullptr;
  try {
    auto* r = new tolbe_resolution;
    tolbe::Call& call = r->call;
    if (c->spelling_names != nullptr) {
      r->spelling_names = texts_of(c->spelling_names, TOLBE_CALL_ARGUMENTS);
      for (int a = 1; a < TOLBE_CALL_ARGUMENTS; ++a) {
        if (c->spelling_names[a] != nullptr) {
          call.spelling.names[a] = r->spelling_names[static_cast<std::size_t>(a)].c_str();
        }
      }
    }
    r->mention = c->mention != nullptr ? c->mention : "'{}'";
    r->assignment = c->assignment != nullptr ? c->assignment : "{} = \"{}\"";
    r->matrix_names = c->matrix_names != nullptr ? c->matrix_names : "names";
    call.spelling.mention = r->mention.c_str();
    call.spelling.assignment = r->assignment.c_str();
    call.spelling.matrix_names = r->matrix_names.c_str();
    call.spelling.first_index = c->first_index;
    call.q = c->q > 0 ? c->q : 0;
    call.names = texts_of(c->names, call.q);
    call.from_data = c->from_data != 0;
    call.p = c->p > 0 ? c->p : 0;
    call.unrestricted_names = texts_of(c->unrestricted_names, call.p);
    call.from_pool = c->from_pool != 0;
    call.unrestricted = c->unrestricted;
    call.ld_unrestricted = c->ld_unrestricted;
    call.mirrors_triangle = c->mirrors_triangle != 0;
    tolbe::Given* slots[TOLBE_CALL_ARGUMENTS] = {};
    slots[TOLBE_CALL_SELECTION] = &call.selection;
    slots[TOLBE_CALL_RELIABILITIES] = &call.reliabilities;
    slots[TOLBE_CALL_RELIABILITY_SAMPLE] = &call.reliability_sample;
    slots[TOLBE_CALL_CRITERIA] = &call.criteria;
    slots[TOLBE_CALL_RESTRICTED_MEANS] = &call.restricted_means;
    slots[TOLBE_CALL_UNRESTRICTED_MEANS] = &call.unrestricted_means;
    slots[TOLBE_CALL_INTERVAL] = &call.interval;
    slots[TOLBE_CALL_N] = &call.n;
    slots[TOLBE_CALL_N_UNRESTRICTED] = &call.n_unrestricted;
    slots[TOLBE_CALL_LEVEL] = &call.level;
    slots[TOLBE_CALL_RESAMPLES] = &call.resamples;
    slots[TOLBE_CALL_SEED] = &call.seed;
    slots[TOLBE_CALL_THREADS] = &call.threads;
    slots[TOLBE_CALL_CI_TYPE] = &call.ci_type;
    for (int a = 0; a < TOLBE_CALL_ARGUMENTS; ++a) {
      if (slots[a] != nullptr) *slots[a] = given_of(c->arguments[a]);
    }
    r->resolution = tolbe::resolve_call(call);
    return r;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void tolbe_resolution_free(tolbe_resolution* resolution) {
  delete resolution;
}

int tolbe_refusal_code(const tolbe_resolution* r) {
  if (r == nullptr || r->resolution.ok()) return 0;
  return static_cast<int>(r->resolution.refusal->code);
}

int tolbe_refusal_argument(const tolbe_resolution* r) {
  if (r == nullptr || r->resolution.ok()) return 0;
  return static_cast<int>(r->resolution.refusal->argument);
}

const char* tolbe_refusal_message(const tolbe_resolution* r) {
  if (r == nullptr) return "out of memory";
  if (r->resolution.ok()) return "";
  return r->resolution.refusal->message.c_str();
}

int tolbe_refusal_variables(const tolbe_resolution* r, const int** variables) {
  if (r == nullptr || r->resolution.ok()) {
    if (variables != nullptr) *variables = nullptr;
    return 0;
  }
  const auto& list = r->resolution.refusal->variables;
  if (variables != nullptr) *variables = list.data();
  return static_cast<int>(list.size());
}

int tolbe_resolution_get(const tolbe_resolution* r, tolbe_resolved* out) {
  if (r == nullptr || out == nullptr || !r->resolution.ok()) return TOLBE_INVALID_ARGUMENT;
  const tolbe::ResolvedCall& c = r->resolution.call;
  auto ints = [](const std::vector<int>& v) { return v.empty() ? nullptr : v.data(); };
  auto doubles = [](const std::vector<double>& v) { return v.empty() ? nullptr : v.data(); };
  auto flags = [](const std::vector<char>& v) { return v.empty() ? nullptr : v.data(); };
  out->q = c.q;
  out->p = c.p;
  out->selection = ints(c.selection);
  out->unrestricted_rows = ints(c.unrestricted_rows);
  out->reordered = c.reordered ? 1 : 0;
  out->position = ints(c.position);
  out->others = ints(c.others);
  bool any = !c.reliabilities.empty() || r->call.reliabilities.given();
  out->reliabilities = any ? c.reliabilities.data() : nullptr;
  out->reliabilities_as_given = any ? c.reliabilities_as_given.data() : nullptr;
  out->reliability_given = any ? flags(c.reliability_given) : nullptr;
  out->from_restricted = any ? flags(c.from_restricted) : nullptr;
  out->defaulted = ints(c.defaulted);
  out->n_defaulted = static_cast<int>(c.defaulted.size());
  out->criteria = ints(c.criteria);
  out->n_criteria = static_cast<int>(c.criteria.size());
  out->restricted_means = doubles(c.restricted_means);
  out->unrestricted_means = doubles(c.unrestricted_means);
  const tolbe::IntervalOptions& o = c.intervals;
  out->method = static_cast<int>(o.method);
  out->ci_type = static_cast<int>(o.ci_type);
  out->level = o.level;
  out->n = o.n;
  out->n_unrestricted = o.n_unrestricted;
  out->resamples = o.resamples;
  out->seed = o.seed;
  out->seed_given = o.seed_given ? 1 : 0;
  out->threads = o.threads;
  return TOLBE_OK;
}

int tolbe_resolution_convert(tolbe_resolution* r, const double* restricted, int ld_restricted,
                             const double* corrected, int ld_corrected) {
  if (r == nullptr || !r->resolution.ok()) return tolbe_refusal_code(r);
  if (restricted == nullptr || corrected == nullptr) return 0;
  try {
    r->resolution.refusal = tolbe::convert_reliabilities(r->call, r->resolution.call, restricted,
                                                         ld_restricted, corrected, ld_corrected);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return tolbe_refusal_code(r);
}

int tolbe_resolution_check_rows(tolbe_resolution* r, int argument, int rows_used) {
  if (r == nullptr || !r->resolution.ok()) return tolbe_refusal_code(r);
  try {
    r->resolution.refusal =
        tolbe::rows_refusal(r->call, r->resolution.call.intervals,
                            static_cast<tolbe::CallArgument>(argument), rows_used);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return tolbe_refusal_code(r);
}

size_t tolbe_resolution_defaulted_note(const tolbe_resolution* r, char* buffer, size_t size) {
  if (r == nullptr || !r->resolution.ok()) return 0;
  std::string note;
  try {
    note = tolbe::defaulted_reliabilities_note(r->call, r->resolution.call);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  if (buffer != nullptr && size > 0) std::snprintf(buffer, size, "%s", note.c_str());
  return note.size();
}

int tolbe_may_be_triangle(int n, const double* a, int ld) {
  return tolbe::may_be_triangle(n, a, ld) ? 1 : 0;
}

int tolbe_one_sided(int n, const double* a, int ld) {
  return tolbe::one_sided(n, a, ld) ? 1 : 0;
}

}  // extern "C"
