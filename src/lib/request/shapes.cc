// Whether a matrix or raw scores, as the client read them, are what the
// argument takes: one rule and one wording for every client.

#include <string>

#include "request/refusal.h"
#include "tolbe/request.h"

namespace tolbe {
namespace {

using request::refuse;

std::string count(long n) {
  return std::to_string(n);
}

}  // namespace

std::optional<Refusal> matrix_refusal(const Spelling& spelling, CallArgument argument,
                                      const Shape& shape) {
  std::string what = mention(spelling, argument);
  bool restricted = argument == CallArgument::restricted;
  if (shape.rows == 0 && shape.columns == 0) {
    // Corrected by nothing, or with nothing to correct, the results would
    // be the input, as if corrected.
    return refuse(RefusalCode::no_variables, argument,
                  what + " has no variables (it is 0 x 0); " +
                      (restricted ? "give the var/cov matrix of all the variables in the "
                                    "restricted sample"
                                  : "give the var/cov matrix of the selection variables, at "
                                    "least one"));
  }
  if (!shape.numeric) {
    return refuse(RefusalCode::not_a_matrix, argument,
                  what + " must be a numeric matrix (or a data frame of numbers)");
  }
  std::string size = count(shape.rows) + " x " + count(shape.columns);
  if (shape.rows > shape.columns) {
    // More rows than columns: most likely raw scores, one row per person.
    CallArgument scores = restricted ? CallArgument::data : CallArgument::pool;
    return refuse(RefusalCode::not_square, argument,
                  what + " must be square, not " + size +
                      "; raw scores, one row per person, are given as " +
                      request::written(spelling, scores) + " = (not " +
                      request::written(spelling, argument) + " =)");
  }
  if (shape.rows != shape.columns) {
    return refuse(RefusalCode::not_square, argument, what + " must be square, not " + size);
  }
  const auto& rows = shape.row_names;
  const auto& columns = shape.column_names;
  for (std::size_t k = 0; k < rows.size() && k < columns.size(); ++k) {
    if (rows[k] == columns[k]) continue;
    // The results would be labelled by one and the variables found by the
    // other.
    std::string place = count(static_cast<long>(k) + spelling.first_index);
    return refuse(RefusalCode::names_contradict, argument,
                  what + ": row " + place + " is named \"" + rows[k] + "\", but column " + place +
                      " \"" + columns[k] +
                      "\"; the rows and the columns are the same variables, in the same order");
  }
  return std::nullopt;
}

std::optional<Refusal> scores_refusal(const Spelling& spelling, CallArgument argument,
                                      const Shape& shape) {
  std::string what = mention(spelling, argument);
  if (!shape.numeric) {
    return refuse(RefusalCode::not_a_matrix, argument,
                  what +
                      " must be a data frame or a numeric matrix of raw scores, one row per "
                      "person and one column per variable");
  }
  if (shape.columns == 0) {
    return refuse(RefusalCode::no_variables, argument, what + " has no columns");
  }
  if (!shape.not_numbers.empty()) {
    std::string list;
    for (int j : shape.not_numbers) {
      if (!list.empty()) list += ", ";
      list += variable_label(shape.column_names, j);
    }
    return refuse(
        RefusalCode::not_numbers, argument,
        what + " must hold numbers only; " +
            (shape.not_numbers.size() == 1 ? "this column does not: " : "these columns do not: ") +
            list);
  }
  return std::nullopt;
}

}  // namespace tolbe
