// The command line's call as the library's request layer takes it (the
// selection, the reliabilities and where they were measured), the
// reliabilities of the restricted sample converted to the unrestricted
// population's (--reliabilities-from=restricted), and the validity
// question (--criterion, --predictors, --base).

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/solved.h"
#include "tolbe/fit.h"
#include "tolbe/validity.h"

namespace tolbe {
namespace {

bool is_whole_number(const std::string& text) {
  int value = 0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// The numbers of a list item: a number or range from 1 in the program's
// syntax, or a plain whole number that the library then finds out of range.
bool item_numbers(const std::string& item, std::vector<int>& numbers) {
  numbers.clear();
  if (item.find(',') == std::string::npos && parse_selection(item, numbers)) return true;
  numbers.clear();
  if (!is_whole_number(item)) return false;
  numbers.push_back(std::stoi(item));
  return true;
}

}  // namespace

Spelling command_line_spelling() {
  Spelling s;
  auto name = [&s](CallArgument a, const char* written) { s.names[static_cast<int>(a)] = written; };
  name(CallArgument::selection, "select");
  name(CallArgument::resamples, "resamples");
  name(CallArgument::reliability_sample, "reliabilities-from");
  name(CallArgument::n_unrestricted, "n-unrestricted");
  name(CallArgument::ci_type, "ci-type");
  name(CallArgument::data, "data");
  name(CallArgument::pool, "pool");
  name(CallArgument::restricted, "restricted");
  name(CallArgument::unrestricted, "unrestricted");
  name(CallArgument::criterion, "criterion");
  name(CallArgument::predictors, "predictors");
  name(CallArgument::base, "base");
  name(CallArgument::added, "predictors");
  s.mention = "'--{}'";
  s.assignment = "--{}={}";
  s.first_index = 1;
  return s;
}

Given list_given(const std::string& list, const std::vector<std::string>& names) {
  // Items split at commas; an item is a name when a variable has it.
  std::vector<std::string> items;
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = list.find(',', start);
    items.push_back(
        list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  Given given;
  std::vector<int> numbers;
  bool all_numbers = true;
  for (const std::string& item : items) {
    bool named = std::find(names.begin(), names.end(), item) != names.end();
    if (named || !item_numbers(item, numbers)) all_numbers = false;
  }
  if (all_numbers) {
    given.kind = Given::Kind::numbers;
    for (const std::string& item : items) {
      item_numbers(item, numbers);
      for (int v : numbers) given.numbers.push_back(v);
    }
    return given;
  }
  // Names, and numbers among them as the names of the variables they
  // count; a number no variable has stays as it was typed.
  given.kind = Given::Kind::texts;
  for (const std::string& item : items) {
    bool named = std::find(names.begin(), names.end(), item) != names.end();
    if (named || !item_numbers(item, numbers)) {
      given.texts.push_back(item);
      continue;
    }
    for (int v : numbers) {
      given.texts.push_back(v >= 1 && static_cast<std::size_t>(v) <= names.size()
                                ? names[static_cast<std::size_t>(v - 1)]
                                : std::to_string(v));
    }
  }
  return given;
}

void set_reliabilities_given(const Options& options, const Problem& problem, Call& call) {
  if (!options.reliabilities.empty()) {
    call.reliabilities.kind = Given::Kind::numbers;
    call.reliabilities.has_names = true;
    for (const auto& [name, value] : options.reliabilities) {
      call.reliabilities.names.push_back(name);
      call.reliabilities.numbers.push_back(value);
    }
  } else if (problem.with_reliabilities()) {
    call.reliabilities.kind = Given::Kind::numbers;
    call.reliabilities.numbers.assign(problem.reliabilities + problem.n_nonrestricted,
                                      problem.reliabilities + problem.n_total);
  }
  if (options.reliabilities_restricted && call.reliabilities.given()) {
    call.reliability_sample.kind = Given::Kind::texts;
    call.reliability_sample.texts = {"restricted"};
  }
}

bool resolve(const std::string& where, Solved& s) {
  Resolution r = resolve_call(s.call);
  if (!r.ok()) return refused(where, *r.refusal, s);
  s.resolved = std::move(r.call);
  Problem& pr = s.problem;
  s.selection = s.resolved.selection;
  pr.n_nonrestricted = s.resolved.p;
  s.criteria = s.resolved.criteria;
  if (!s.resolved.reliabilities.empty()) {
    pr.reliability_flag = 1;
    for (std::size_t j = 0; j < s.resolved.reliabilities.size(); ++j) {
      pr.reliabilities[static_cast<std::size_t>(s.resolved.p) + j] = s.resolved.reliabilities[j];
    }
  }
  std::string note = defaulted_reliabilities_note(s.call, s.resolved);
  if (!note.empty()) {
    std::vector<int> numbers;
    for (int v : s.resolved.defaulted) numbers.push_back(v + 1);
    s.notes.push_back({"reliabilities_taken_as_1", Severity::note, note, numbers});
  }
  return true;
}

bool refused(const std::string& where, const Refusal& refusal, Solved& s) {
  Fault f;
  f.code = refusal_code_name(refusal.code);
  const char* written = refusal.argument == CallArgument::none
                            ? nullptr
                            : s.call.spelling.names[static_cast<int>(refusal.argument)];
  if (refusal.argument != CallArgument::none) {
    f.argument = written != nullptr ? written : call_argument_name(refusal.argument);
  }
  if (!where.empty()) f.file = s.file;
  f.message = refusal.message;
  return fail(s, where, std::move(f));
}

bool convert_reliabilities(const LawleyProblem& lp, const std::string& name, Solved& s) {
  const std::vector<char>& from = s.resolved.from_restricted;
  if (std::find(from.begin(), from.end(), 1) == from.end()) return true;
  // The corrected variances do not depend on the reliabilities; when the
  // correction fails, correct() says why.
  LawleyProblem without = lp;
  without.reliabilities = {};
  LawleyCorrection c = lawley(without);
  if (c.status != Status::ok) return true;
  Problem& pr = s.problem;
  if (auto refusal =
          tolbe::convert_reliabilities(s.call, s.resolved, pr.restricted_cov.data(),
                                       Matrix::leading_dimension, c.covariances.data(), lp.q)) {
    return refused(name, *refusal, s);
  }
  s.restricted_reliabilities.assign(pr.reliabilities, pr.reliabilities + MAX_VARIABLES);
  for (std::size_t j = 0; j < s.resolved.reliabilities.size(); ++j) {
    pr.reliabilities[static_cast<std::size_t>(lp.p) + j] = s.resolved.reliabilities[j];
  }
  return true;
}

namespace {

bool selected(const Solved& s, int k) {
  return std::find(s.selection.begin(), s.selection.end(), k) != s.selection.end();
}

// Where the reliability of variable k (not a selection variable) is in
// s.problem.reliabilities: the other variables follow the p selection
// variables' places in index order.
int reliability_place(const Solved& s, int k) {
  int place = s.problem.n_nonrestricted;
  for (int i = 0; i < k; ++i) {
    if (!selected(s, i)) ++place;
  }
  return place;
}

// The criterion and the predictors of `options` as the library resolves
// them. --predictors lists every predictor and --base those of the base
// set among them; the library takes the base set and the predictors added
// to it apart, so the base is resolved on its own first (its refusals
// spelled as '--base'), and then the rest of the predictors are added.
std::optional<Refusal> question_of(const Options& options, int q, const Solved& s,
                                   QuestionCall& question, ResolvedQuestion& out) {
  const std::vector<std::string>& names = s.source.names;
  question.spelling = command_line_spelling();
  question.q = q;
  question.names = names;
  question.criteria = s.criteria;
  question.criterion = list_given(options.criterion, names);
  if (!options.predictors.empty()) question.predictors = list_given(options.predictors, names);
  if (auto refusal = resolve_question(question, out)) return refusal;
  if (options.base.empty()) return std::nullopt;

  QuestionCall base_question = question;
  base_question.spelling.names[static_cast<int>(CallArgument::predictors)] = "base";
  base_question.predictors = list_given(options.base, names);
  ResolvedQuestion base;
  if (auto refusal = resolve_question(base_question, base)) {
    if (refusal->argument == CallArgument::predictors) refusal->argument = CallArgument::base;
    return refusal;
  }
  const std::vector<int>& all = out.predictors;
  for (int k : base.predictors) {
    if (std::find(all.begin(), all.end(), k) == all.end()) {
      return Refusal{
          RefusalCode::invalid_value,
          CallArgument::base,
          {k},
          "'--base' names " +
              (names.empty() ? std::to_string(k + 1) : names[static_cast<std::size_t>(k)]) +
              ", which is no predictor"};
    }
  }
  if (base.predictors.size() == all.size()) {
    return Refusal{RefusalCode::wrong_count,
                   CallArgument::base,
                   {},
                   "'--base' names every predictor: nothing is added to the base"};
  }
  // The base first, then the predictors added to it, each in its order.
  std::vector<int> ordered = base.predictors;
  for (int k : all) {
    if (std::find(ordered.begin(), ordered.end(), k) == ordered.end()) ordered.push_back(k);
  }
  out.predictors = ordered;
  out.base = static_cast<int>(base.predictors.size());
  return std::nullopt;
}

}  // namespace

bool add_regression(const LawleyProblem& lp, const IntervalRequest& request, const Options& options,
                    const std::string& name, Solved& s) {
  auto r = std::make_unique<Regression>();
  QuestionCall question;
  ResolvedQuestion resolved;
  if (auto refusal = question_of(options, lp.q, s, question, resolved)) {
    return refused(name, *refusal, s);
  }
  r->criterion = resolved.criterion;
  r->predictors = resolved.predictors;
  r->base = resolved.base;
  const Problem& pr = s.problem;
  if (pr.with_reliabilities() && !selected(s, r->criterion)) {
    r->criterion_reliability = pr.reliabilities[reliability_place(s, r->criterion)];
    r->reliability_given = true;
  }

  std::size_t values = validity_values(r->predictors.size());
  for (std::vector<double>* v : {&r->estimate, &r->se, &r->lower, &r->upper}) {
    v->assign(values, std::nan(""));
  }
  ValidityQuestion validity;
  validity.criterion = r->criterion;
  validity.predictors = r->predictors;
  validity.base = r->base;
  validity.criterion_reliability = r->criterion_reliability;
  WorkspaceSize need = lawley_validity_workspace_size(lp.q, lp.p, r->predictors.size(), request);
  std::vector<double> work;
  std::vector<int> int_work;
  if (!allocate_workspace(need, "the validity question", name, s, work, int_work)) return false;
  IntervalSummary summary;
  Status status = lawley_validity(
      lp, request, validity, {r->estimate.data(), r->se.data(), r->lower.data(), r->upper.data()},
      work, int_work, &summary);
  if (status == Status::invalid_argument) {
    return fail(s, name, "invalid_argument",
                "the validity question: " + std::string(summary.reason), s.file);
  }
  if (status == Status::not_positive_definite) {
    return refused(name, question_not_positive_definite(question, resolved), s);
  }
  s.regression = std::move(r);
  std::string note = validity_interval_note(summary, command_line_spelling());
  if (!note.empty()) s.findings.push_back({"small_sample_intervals", Severity::note, note, {}});
  return true;
}

}  // namespace tolbe
