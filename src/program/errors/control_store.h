#pragma once

#include <string_view>

#include "io/text_sink.h"

namespace tolbe {

// The control values of the error message package, kept for the whole run.
// Items: 1 last error number (0), 2 control flag (2), 3 first output unit
// (0 = the error message unit), 4 print limit (10), 5 number of units (1),
// 6-9 further units (0). Returns the item's value before the call and stores
// `new_value` when `set` is true. `item` must be 1..9.
int j4save(int item, int new_value, bool set);

// The items of j4save by name.
inline constexpr int item_last_error_number = 1;
inline constexpr int item_control_flag = 2;
inline constexpr int item_first_unit = 3;
inline constexpr int item_print_limit = 4;
inline constexpr int item_unit_count = 5;

// The output units of the package: the count is item 5 (1..5), unit 1 is
// item 3 and unit i item i + 4.
void xgetua(int units[5], int& count);

// Integer machine constants, index 1..16 (4 is the error message unit, 0).
// Any other index writes " I1MACH - I OUT OF BOUNDS" and the index on
// standard error and ends the run as xerhlt does.
int i1mach(int index);

// Per-message hook that may change the control flag; does nothing here.
void xercnt(std::string_view library, std::string_view routine, std::string_view message,
            int error_number, int level, int& control_flag);

// Traceback hook; does nothing here.
void fdump();

// Ends the run: flushes both output streams and exits with status 2.
// The message is ignored.
[[noreturn]] void xerhlt(std::string_view message);

// The stream of an output unit: 6 is standard output, any other unit standard
// error (where the package's unit 0 goes).
TextSink& unit_sink(int unit);

// Calls `write` with the stream of each unit of the package, in list order;
// unit 0 stands for the error message unit.
template <typename Write>
void write_to_units(Write write) {
  int units[5];
  int count = 0;
  xgetua(units, count);
  for (int i = 0; i < count; ++i) write(unit_sink(units[i] == 0 ? i1mach(4) : units[i]));
}

// For tests only: send unit 0 to `sink` (nullptr restores standard error)
// and give the control store and the message table their initial values.
void redirect_error_unit_for_tests(TextSink* sink);
void reset_error_package_for_tests();

}  // namespace tolbe
