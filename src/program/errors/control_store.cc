#include "errors/control_store.h"

#include <algorithm>
#include <iterator>

#include "errors/message_table.h"
#include "io/format_writer.h"
#include "io/output_stream.h"
#include "io/process_frame.h"

namespace tolbe {
namespace {

constexpr int initial_parameters[9] = {0, 2, 0, 10, 1, 0, 0, 0, 0};
int parameters[9] = {0, 2, 0, 10, 1, 0, 0, 0, 0};

constexpr int machine_constants[16] = {5,          6, 7,  0,    32,  1,  2,     31,
                                       2147483647, 2, 24, -125, 128, 53, -1021, 1024};

TextSink* error_unit_override = nullptr;

}  // namespace

int j4save(int item, int new_value, bool set) {
  int old = parameters[item - 1];
  if (set) parameters[item - 1] = new_value;
  return old;
}

void xgetua(int units[5], int& count) {
  count = j4save(5, 0, false);
  units[0] = j4save(3, 0, false);
  for (int i = 2; i <= count; ++i) units[i - 1] = j4save(i + 4, 0, false);
}

int i1mach(int index) {
  if (index >= 1 && index <= 16) return machine_constants[index - 1];
  write_formatted(unit_sink(machine_constants[3]), "(' I1MACH - I OUT OF BOUNDS',I10)", {index});
  xerhlt(" ");
}

void xercnt(std::string_view, std::string_view, std::string_view, int, int, int&) {}

void fdump() {}

void xerhlt(std::string_view) {
  end_run(exit_not_solved);
}

TextSink& unit_sink(int unit) {
  if (unit == 6) return standard_output();
  if (error_unit_override != nullptr) return *error_unit_override;
  return standard_error();
}

void redirect_error_unit_for_tests(TextSink* sink) {
  error_unit_override = sink;
}

void reset_error_package_for_tests() {
  std::copy(std::begin(initial_parameters), std::end(initial_parameters), parameters);
  reset_message_table_for_tests();
}

}  // namespace tolbe
