// The request layer through the C API: a resolution keeps its call (the
// names and spelling its messages use) beside what was resolved.

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "api/c_convert.h"
#include "request/c_resolution.h"
#include "tolbe/fit.h"
#include "tolbe/request.h"
#include "tolbe/tolbe.h"
#include "tolbe/validity.h"

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

// `from` as a tolbe::Spelling whose texts `keep` holds.
void spell(const tolbe_spelling& from, SpellingTexts& keep, tolbe::Spelling& to) {
  if (from.names != nullptr) {
    keep.names = texts_of(from.names, TOLBE_CALL_ARGUMENTS);
    for (int a = 1; a < TOLBE_CALL_ARGUMENTS; ++a) {
      if (from.names[a] != nullptr) to.names[a] = keep.names[static_cast<std::size_t>(a)].c_str();
    }
  }
  keep.mention = from.mention != nullptr ? from.mention : "'{}'";
  keep.assignment = from.assignment != nullptr ? from.assignment : "{} = \"{}\"";
  keep.matrix_names = from.matrix_names != nullptr ? from.matrix_names : "names";
  to.mention = keep.mention.c_str();
  to.assignment = keep.assignment.c_str();
  to.matrix_names = keep.matrix_names.c_str();
  to.first_index = from.first_index;
  keep.missing_value = from.missing_value != nullptr ? from.missing_value : "NaN";
  to.missing_value = keep.missing_value.c_str();
}

// The question of the C structure, its spelling's texts kept in `keep`.
tolbe::QuestionCall question_of(const tolbe_question_call& q, SpellingTexts& keep) {
  tolbe::QuestionCall question;
  spell(q.spelling, keep, question.spelling);
  question.q = q.q > 0 ? q.q : 0;
  question.names = texts_of(q.names, question.q);
  if (q.criteria != nullptr && q.n_criteria > 0) {
    question.criteria.assign(q.criteria, q.criteria + q.n_criteria);
  }
  question.criterion = given_of(q.criterion);
  question.predictors = given_of(q.predictors);
  question.added = given_of(q.added);
  return question;
}

std::size_t written(const std::string& text, char* buffer, std::size_t size) {
  if (buffer != nullptr && size > 0) std::snprintf(buffer, size, "%s", text.c_str());
  return text.size();
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
  call->spelling.mention = "'{}'";
  call->spelling.assignment = "{} = \"{}\"";
  call->spelling.matrix_names = "names";
  call->spelling.first_index = 1;
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
    spell(c->spelling, *r, call.spelling);
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
  try {
    return written(tolbe::defaulted_reliabilities_note(r->call, r->resolution.call), buffer, size);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int tolbe_resolve_question(const tolbe_question_call* q, int* criterion, int* predictors,
                           int* n_predictors, int* base, int* argument, char* message,
                           size_t size) {
  if (q == nullptr || criterion == nullptr || predictors == nullptr || n_predictors == nullptr ||
      base == nullptr) {
    return static_cast<int>(tolbe::RefusalCode::invalid_value);
  }
  try {
    SpellingTexts keep;
    tolbe::QuestionCall question = question_of(*q, keep);
    tolbe::ResolvedQuestion out;
    auto refusal = tolbe::resolve_question(question, out);
    if (refusal) {
      if (argument != nullptr) *argument = static_cast<int>(refusal->argument);
      written(refusal->message, message, size);
      return static_cast<int>(refusal->code);
    }
    *criterion = out.criterion;
    for (std::size_t k = 0; k < out.predictors.size(); ++k) predictors[k] = out.predictors[k];
    *n_predictors = static_cast<int>(out.predictors.size());
    *base = out.base;
    if (argument != nullptr) *argument = 0;
    written("", message, size);
    return 0;
  } catch (const std::bad_alloc&) {
    written("out of memory", message, size);
    return static_cast<int>(tolbe::RefusalCode::invalid_value);
  }
}

size_t tolbe_question_not_positive_definite(const tolbe_question_call* q, const int* predictors,
                                            int n_predictors, char* message, size_t size) {
  if (q == nullptr) return 0;
  try {
    SpellingTexts keep;
    tolbe::QuestionCall question;
    spell(q->spelling, keep, question.spelling);
    question.q = q->q > 0 ? q->q : 0;
    question.names = texts_of(q->names, question.q);
    tolbe::ResolvedQuestion resolved;
    if (predictors != nullptr && n_predictors > 0) {
      resolved.predictors.assign(predictors, predictors + n_predictors);
    }
    return written(tolbe::question_not_positive_definite(question, resolved).message, message,
                   size);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int tolbe_sources_refusal(const tolbe_spelling* spelling, int restricted, int data,
                          int unrestricted, int pool, int restricted_means, int unrestricted_means,
                          int* argument, char* message, size_t size) {
  try {
    SpellingTexts keep;
    tolbe::Spelling s;
    if (spelling != nullptr) spell(*spelling, keep, s);
    tolbe::Sources given{restricted != 0,       data != 0,
                         unrestricted != 0,     pool != 0,
                         restricted_means != 0, unrestricted_means != 0};
    auto refusal = tolbe::sources_refusal(s, given);
    if (argument != nullptr) *argument = refusal ? static_cast<int>(refusal->argument) : 0;
    written(refusal ? refusal->message : "", message, size);
    return refusal ? static_cast<int>(refusal->code) : 0;
  } catch (const std::bad_alloc&) {
    written("out of memory", message, size);
    return static_cast<int>(tolbe::RefusalCode::invalid_value);
  }
}

static int shape_refusal(bool scores, const tolbe_spelling* spelling, int argument,
                         const tolbe_shape* shape, char* message, size_t size) {
  if (shape == nullptr || argument <= 0 || argument >= TOLBE_CALL_ARGUMENTS) {
    written("", message, size);
    return 0;
  }
  try {
    SpellingTexts keep;
    tolbe::Spelling s;
    if (spelling != nullptr) spell(*spelling, keep, s);
    tolbe::Shape in;
    in.numeric = shape->numeric != 0;
    in.rows = shape->rows;
    in.columns = shape->columns;
    in.row_names = texts_of(shape->row_names, shape->n_row_names);
    in.column_names = texts_of(shape->column_names, shape->n_column_names);
    if (shape->not_numbers != nullptr && shape->n_not_numbers > 0) {
      in.not_numbers.assign(shape->not_numbers, shape->not_numbers + shape->n_not_numbers);
    }
    auto which = static_cast<tolbe::CallArgument>(argument);
    auto refusal =
        scores ? tolbe::scores_refusal(s, which, in) : tolbe::matrix_refusal(s, which, in);
    written(refusal ? refusal->message : "", message, size);
    return refusal ? static_cast<int>(refusal->code) : 0;
  } catch (const std::bad_alloc&) {
    written("out of memory", message, size);
    return static_cast<int>(tolbe::RefusalCode::invalid_value);
  }
}

int tolbe_matrix_refusal(const tolbe_spelling* spelling, int argument, const tolbe_shape* shape,
                         char* message, size_t size) {
  return shape_refusal(false, spelling, argument, shape, message, size);
}

int tolbe_scores_refusal(const tolbe_spelling* spelling, int argument, const tolbe_shape* shape,
                         char* message, size_t size) {
  return shape_refusal(true, spelling, argument, shape, message, size);
}

int tolbe_may_be_triangle(int n, const double* a, int ld) {
  return tolbe::may_be_triangle(n, a, ld) ? 1 : 0;
}

int tolbe_one_sided(int n, const double* a, int ld) {
  return tolbe::one_sided(n, a, ld) ? 1 : 0;
}

tolbe_answer* tolbe_ask(const tolbe_question_call* question, const tolbe_asked_fit* fit) {
  if (question == nullptr || fit == nullptr || fit->q < 0 || fit->p < 0 || fit->p > fit->q) {
    return nullptr;
  }
  try {
    SpellingTexts keep;
    tolbe::QuestionCall asked = question_of(*question, keep);
    tolbe::FitAsked in;
    in.q = fit->q;
    in.p = fit->p;
    in.restricted = fit->restricted;
    in.ld_restricted = fit->ld_restricted;
    in.unrestricted = fit->unrestricted;
    in.ld_unrestricted = fit->ld_unrestricted;
    if (fit->selection != nullptr)
      in.selection = {fit->selection, static_cast<std::size_t>(fit->p)};
    if (fit->reliabilities != nullptr) {
      in.reliabilities = {fit->reliabilities, static_cast<std::size_t>(fit->q)};
    }
    in.intervals = tolbe::c_api::request_from_c(fit->request);
    auto* out = new tolbe_answer;
    out->answer = tolbe::ask(asked, in);
    return out;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void tolbe_answer_free(tolbe_answer* answer) {
  delete answer;
}

int tolbe_answer_refusal(const tolbe_answer* answer, int* argument, const char** message,
                         const int** variables, int* n_variables) {
  if (answer == nullptr || !answer->answer.refusal) return 0;
  const tolbe::Refusal& r = *answer->answer.refusal;
  if (argument != nullptr) *argument = static_cast<int>(r.argument);
  if (message != nullptr) *message = r.message.c_str();
  if (variables != nullptr) *variables = r.variables.empty() ? nullptr : r.variables.data();
  if (n_variables != nullptr) *n_variables = static_cast<int>(r.variables.size());
  return static_cast<int>(r.code);
}

int tolbe_answer_question(const tolbe_answer* answer, int* criterion, const int** predictors,
                          int* base) {
  if (answer == nullptr) return 0;
  const tolbe::ResolvedQuestion& q = answer->answer.question;
  if (criterion != nullptr) *criterion = q.criterion;
  if (predictors != nullptr) *predictors = q.predictors.empty() ? nullptr : q.predictors.data();
  if (base != nullptr) *base = q.base;
  return static_cast<int>(q.predictors.size());
}

const double* tolbe_answer_values(const tolbe_answer* answer, int part) {
  if (answer == nullptr || answer->answer.refusal) return nullptr;
  const tolbe::ValidityAnswer& a = answer->answer;
  const std::vector<double>* v = part == TOLBE_FIT_ESTIMATE ? &a.estimate
                                 : part == TOLBE_FIT_SE     ? &a.se
                                 : part == TOLBE_FIT_LOWER  ? &a.lower
                                 : part == TOLBE_FIT_UPPER  ? &a.upper
                                                            : nullptr;
  return v == nullptr || v->empty() ? nullptr : v->data();
}

void tolbe_answer_summary(const tolbe_answer* answer, tolbe_interval_summary* summary) {
  if (answer == nullptr || summary == nullptr) return;
  *summary = tolbe::c_api::summary_to_c(answer->answer.summary);
}

const char* tolbe_answer_note(const tolbe_answer* answer) {
  return answer == nullptr ? "" : answer->answer.note.c_str();
}

}  // extern "C"
