#pragma once

// Building the library's refusals: the message pieces every resolver uses.

#include <string>
#include <vector>

#include "tolbe/request.h"

namespace tolbe::request {

inline Refusal refuse(RefusalCode code, CallArgument argument, std::string message,
                      std::vector<int> variables = {}) {
  return Refusal{code, argument, std::move(variables), std::move(message)};
}

// `argument` as the client's users write it ("selection", "select").
const char* written(const Spelling& spelling, CallArgument argument);

// The variables `list` by name (or number), separated by commas.
std::string labels(const std::vector<std::string>& names, const std::vector<int>& list);

// The texts, separated by commas.
std::string joined(const std::vector<std::string>& texts);

// A number as %g writes it.
std::string number_text(double value);

// "NA", "NaN", "Inf" or "-Inf" for a value that is not finite (a missing
// value, NaN, is "NA" as users of R and pandas write it).
std::string not_finite_text(double value);

// The index of `name` in `names`, or -1; "" matches nothing.
int find_name(const std::vector<std::string>& names, const std::string& name);

// Whether element k of `texts` repeats an earlier one.
bool repeats_earlier(const std::vector<std::string>& texts, std::size_t k);

// The argument that holds the restricted sample's variables (data or
// restricted), and what its names are called.
CallArgument restricted_side(const Call& call);
const char* names_word(const Call& call);
CallArgument unrestricted_side(const Call& call);

}  // namespace tolbe::request
