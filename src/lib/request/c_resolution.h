#pragma once

// A resolution as the C API holds it: the call (the names and spelling its
// messages use) beside what was resolved.

#include <string>
#include <vector>

#include "tolbe/fit.h"
#include "tolbe/request.h"

// The texts of a spelling, kept while it is in use.
struct SpellingTexts {
  std::vector<std::string> names;
  std::string mention, assignment, matrix_names, missing_value;
};

struct tolbe_resolution : SpellingTexts {
  tolbe::Call call;
  tolbe::Resolution resolution;
};

struct tolbe_answer {
  tolbe::ValidityAnswer answer;
};
