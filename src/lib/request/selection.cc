#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "request/refusal.h"
#include "request/state.h"
#include "tolbe/request.h"

namespace tolbe::request {

namespace {

using A = CallArgument;
using R = RefusalCode;

std::string count_text(std::size_t n) {
  return std::to_string(n);
}

// The places of a list as the client counts them.
std::string place(const Call& call, std::size_t k) {
  return std::to_string(static_cast<long long>(k) + call.spelling.first_index);
}

std::string selection_hint(const Call& call) {
  std::string hint = "give " + mention(call.spelling, A::selection) +
                     ", the names or numbers of the selection variables in " +
                     mention(call.spelling, restricted_side(call));
  if (!call.from_pool) hint += " in the order of " + mention(call.spelling, A::unrestricted);
  return hint;
}

// Refuses a name given to two of the variables of `argument`.
std::optional<Refusal> distinct(const Call& call, const std::vector<std::string>& names, A argument,
                                const std::vector<int>* read = nullptr) {
  const char* unit = argument == A::data || argument == A::pool ? "columns" : "variables";
  for (std::size_t k = 1; k < names.size(); ++k) {
    if (names[k].empty()) continue;
    if (read != nullptr) {
      bool is_read = false;
      for (int c : *read) is_read = is_read || names[static_cast<std::size_t>(c)] == names[k];
      if (!is_read) continue;
    }
    for (std::size_t i = 0; i < k; ++i) {
      if (names[i] == names[k]) {
        return refuse(R::repeated, argument,
                      mention(call.spelling, argument) + ": the name \"" + names[k] +
                          "\" is given to " + unit + " " + place(call, i) + " and " +
                          place(call, k));
      }
    }
  }
  return std::nullopt;
}

// Each variable's position in the selection (-1 for the others); refuses a
// variable selected twice.
std::optional<Refusal> set_positions(const Call& call, ResolvedCall& out) {
  out.position.assign(static_cast<std::size_t>(call.q), -1);
  for (std::size_t k = 0; k < out.selection.size(); ++k) {
    int v = out.selection[k];
    auto& at = out.position[static_cast<std::size_t>(v)];
    if (at >= 0) {
      return refuse(R::repeated, A::selection,
                    mention(call.spelling, A::selection) +
                        " repeats a variable: " + variable_label(call.names, v),
                    {v});
    }
    at = static_cast<int>(k);
  }
  return std::nullopt;
}

// The selection from the names of the unrestricted side, when no
// selection is given: a named matrix says which variables it holds.
std::optional<Refusal> selection_from_names(const Call& call, ResolvedCall& out) {
  const auto& given = call.unrestricted_names;
  if (call.names.empty()) {
    return refuse(R::no_names, restricted_side(call),
                  mention(call.spelling, restricted_side(call)) + " has none of the names that " +
                      mention(call.spelling, unrestricted_side(call)) + " gives (" + joined(given) +
                      "); " + selection_hint(call));
  }
  std::vector<std::string> lacking;
  out.selection.clear();
  for (std::size_t k = 0; k < given.size(); ++k) {
    int v = find_name(call.names, given[k]);
    out.selection.push_back(v);
    if (v < 0 && !repeats_earlier(given, k)) lacking.push_back(given[k]);
  }
  if (!lacking.empty()) {
    return refuse(R::unknown_variable, unrestricted_side(call),
                  mention(call.spelling, unrestricted_side(call)) + " names variables that " +
                      mention(call.spelling, restricted_side(call)) + " lacks: " + joined(lacking) +
                      "; " + selection_hint(call));
  }
  return set_positions(call, out);
}

// A named unrestricted matrix beside a selection: its rows are found by
// name, so that the two may list the variables in different orders. A
// triangle entered alone keeps its own order, so that what is said of it
// and the side mirrored are those of the matrix as entered.
std::optional<Refusal> match_unrestricted(const Call& call, ResolvedCall& out) {
  const auto& given = call.unrestricted_names;
  int p = out.p;
  std::vector<int> held(static_cast<std::size_t>(p));
  for (std::size_t k = 0; k < held.size(); ++k) held[k] = find_name(call.names, given[k]);
  std::vector<int> rows(static_cast<std::size_t>(p), -1);
  bool same = true, in_order = true;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    for (std::size_t r = 0; r < held.size(); ++r) {
      if (held[r] == out.selection[k]) rows[k] = static_cast<int>(r);
    }
    same = same && rows[k] >= 0;
    in_order = in_order && rows[k] == static_cast<int>(k);
  }
  if (!same) {
    return refuse(R::names_disagree, A::unrestricted,
                  "the unrestricted matrix is that of " + joined(given) + ", but " +
                      mention(call.spelling, A::selection) + " names " +
                      labels(call.names, out.selection),
                  out.selection);
  }
  if (in_order) return std::nullopt;
  if (!call.mirrors_triangle && call.unrestricted != nullptr &&
      one_sided(p, call.unrestricted, call.ld_unrestricted)) {
    out.selection = held;
    return set_positions(call, out);
  }
  out.unrestricted_rows = rows;
  out.reordered = true;
  return std::nullopt;
}

// The selection as given: names or whole numbers, as many as the
// unrestricted side has variables.
std::optional<Refusal> selection_as_given(const Call& call, ResolvedCall& out) {
  const Given& selection = call.selection;
  const Spelling& s = call.spelling;
  if (selection.kind == Given::Kind::other) {
    return refuse(R::not_variables, A::selection,
                  mention(s, A::selection) + " must be variable names or whole numbers");
  }
  if (selection.size() == 0) {
    return refuse(R::wrong_count, A::selection,
                  mention(s, A::selection) +
                      " names no variable; give the selection variables, at least one");
  }
  std::vector<int> chosen;
  if (auto refusal = variables_of(call, selection, A::selection, chosen)) return refusal;
  if (chosen.size() != static_cast<std::size_t>(out.p)) {
    std::string p = std::to_string(out.p);
    return refuse(R::wrong_count, A::selection,
                  mention(s, A::selection) + " names " + count_text(chosen.size()) +
                      " variables, but " +
                      (call.from_pool ? mention(s, A::pool) + " has " + p + " columns"
                                      : mention(s, A::unrestricted) + " is " + p + " x " + p));
  }
  out.selection = chosen;
  if (auto refusal = set_positions(call, out)) return refusal;
  if (!call.from_pool && !call.names.empty() && !call.unrestricted_names.empty()) {
    return match_unrestricted(call, out);
  }
  return std::nullopt;
}

// With a named pool and a selection, the pool's columns are found by the
// selection variables' names; only they are read.
std::optional<Refusal> pool_by_name(const Call& call, ResolvedCall& out) {
  const Spelling& s = call.spelling;
  if (call.selection.kind == Given::Kind::other) {
    return refuse(R::not_variables, A::selection,
                  mention(s, A::selection) + " must be variable names or whole numbers");
  }
  if (call.selection.size() > static_cast<std::size_t>(call.q)) {
    return refuse(R::wrong_count, A::selection,
                  mention(s, A::selection) + " names " + count_text(call.selection.size()) +
                      " variables, but " + mention(s, restricted_side(call)) + " has only " +
                      std::to_string(call.q));
  }
  out.p = static_cast<int>(call.selection.size());
  if (auto refusal = selection_as_given(call, out)) return refusal;
  if (call.names.empty()) {
    return refuse(R::no_names, A::pool,
                  mention(s, A::pool) + " is matched to " + mention(s, restricted_side(call)) +
                      " by column name, but " + mention(s, restricted_side(call)) + " has no " +
                      names_word(call));
  }
  std::vector<int> lacking;
  out.unrestricted_rows.clear();
  for (int v : out.selection) {
    int column = find_name(call.unrestricted_names, call.names[static_cast<std::size_t>(v)]);
    out.unrestricted_rows.push_back(column);
    if (column < 0) lacking.push_back(v);
  }
  if (!lacking.empty()) {
    return refuse(R::unknown_variable, A::pool,
                  mention(s, A::pool) + " has no column for the selection variable" +
                      (lacking.size() == 1 ? " " : "s ") + labels(call.names, lacking),
                  lacking);
  }
  if (auto refusal = distinct(call, call.unrestricted_names, A::pool, &out.unrestricted_rows)) {
    return refusal;
  }
  for (std::size_t k = 0; k < out.unrestricted_rows.size(); ++k) {
    out.reordered = out.reordered || out.unrestricted_rows[k] != static_cast<int>(k);
  }
  return std::nullopt;
}

}  // namespace

std::optional<Refusal> variables_of(const Call& call, const Given& given, CallArgument argument,
                                    std::vector<int>& out) {
  return variables_in({call.spelling, call.q, call.names,
                       mention(call.spelling, restricted_side(call)), names_word(call)},
                      given, argument, out);
}

std::optional<Refusal> variables_in(const VariableSet& set, const Given& given,
                                    CallArgument argument, std::vector<int>& out) {
  const Spelling& s = set.spelling;
  out.clear();
  if (given.kind == Given::Kind::texts) {
    if (set.names.empty()) {
      return refuse(
          R::no_names, argument,
          mention(s, argument) + " gives names, but " + set.whose + " has no " + set.whose_names);
    }
    // An empty item (a list such as "x1,,x2") is no variable's name: no
    // variable is unnamed on purpose by a user who names the others.
    for (const auto& text : given.texts) {
      if (text.empty()) {
        return refuse(R::not_variables, argument, mention(s, argument) + " holds an empty name");
      }
    }
    std::vector<std::string> unknown;
    for (std::size_t k = 0; k < given.texts.size(); ++k) {
      int v = find_name(set.names, given.texts[k]);
      out.push_back(v);
      if (v < 0 && !repeats_earlier(given.texts, k)) unknown.push_back(given.texts[k]);
    }
    if (!unknown.empty()) {
      return refuse(R::unknown_variable, argument,
                    mention(s, argument) + " names " +
                        (unknown.size() == 1 ? "an unknown variable: " : "unknown variables: ") +
                        joined(unknown));
    }
    return std::nullopt;
  }
  std::string must = mention(s, argument) + " must be variable names or whole numbers";
  if (given.kind != Given::Kind::numbers) return refuse(R::not_variables, argument, must);
  for (double value : given.numbers) {
    if (!std::isfinite(value) || value != std::floor(value)) {
      return refuse(R::not_variables, argument, must);
    }
  }
  int first = s.first_index;
  for (double value : given.numbers) {
    if (value < first || value > set.q - 1 + first) {
      return refuse(R::number_out_of_range, argument,
                    mention(s, argument) + " holds numbers outside " + std::to_string(first) +
                        ".." + std::to_string(set.q - 1 + first));
    }
    out.push_back(static_cast<int>(value) - first);
  }
  return std::nullopt;
}

std::optional<Refusal> check_names(const Call& call) {
  if (auto refusal = distinct(call, call.names, restricted_side(call))) return refusal;
  bool pool_by_name = call.from_pool && !call.unrestricted_names.empty() && call.selection.given();
  if (!pool_by_name) {
    if (auto refusal = distinct(call, call.unrestricted_names, unrestricted_side(call))) {
      return refusal;
    }
  }
  // An unrestricted matrix is matched by its names, all of them: a row
  // without one could be any variable.
  const auto& given = call.unrestricted_names;
  bool any_named = false;
  std::size_t unnamed = given.size();
  for (std::size_t k = 0; k < given.size(); ++k) {
    if (!given[k].empty()) any_named = true;
    if (given[k].empty() && unnamed == given.size()) unnamed = k;
  }
  if (!call.from_pool && any_named && unnamed < given.size()) {
    return refuse(R::partly_named, A::unrestricted,
                  mention(call.spelling, A::unrestricted) + " names some of its variables but " +
                      "not all: row " +
                      std::to_string(static_cast<int>(unnamed) + call.spelling.first_index) +
                      " has no name; name them all, or none");
  }
  return std::nullopt;
}

std::optional<Refusal> resolve_selection(const Call& call, ResolvedCall& out) {
  const Spelling& s = call.spelling;
  out.q = call.q;
  out.reordered = false;
  if (call.from_pool && !call.unrestricted_names.empty() && call.selection.given()) {
    if (auto refusal = pool_by_name(call, out)) return refusal;
  } else {
    out.p = call.p;
    if (call.p > call.q) {
      std::string p = std::to_string(call.p);
      std::string tail = ", but " + mention(s, restricted_side(call)) + " has only " +
                         std::to_string(call.q) + (call.q == 1 ? " variable" : " variables");
      return refuse(R::wrong_count, unrestricted_side(call),
                    call.from_pool ? mention(s, A::pool) + " has " + p + " columns" + tail
                                   : mention(s, A::unrestricted) + " is " + p + " x " + p + tail);
    }
    std::optional<Refusal> refusal;
    if (call.selection.given()) {
      refusal = selection_as_given(call, out);
    } else if (!call.unrestricted_names.empty()) {
      refusal = selection_from_names(call, out);
    } else {
      out.selection.clear();
      for (int k = 0; k < call.p; ++k) out.selection.push_back(k);
      refusal = set_positions(call, out);
    }
    if (refusal) return refusal;
  }
  if (out.unrestricted_rows.size() != static_cast<std::size_t>(out.p)) {
    out.unrestricted_rows.clear();
    for (int k = 0; k < out.p; ++k) out.unrestricted_rows.push_back(k);
    out.reordered = false;
  }
  // The others, in index order, after the selection.
  int next = out.p;
  out.others.clear();
  for (int v = 0; v < call.q; ++v) {
    auto& at = out.position[static_cast<std::size_t>(v)];
    if (at >= 0) continue;
    at = next++;
    out.others.push_back(v);
  }
  return std::nullopt;
}

}  // namespace tolbe::request
