#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace tolbe {

// Room for the widest field the writer accepts.
inline constexpr int max_field_width = 64;

// Renders `value` right-justified in `width` columns as the Iw descriptor
// does: a minus sign for negative values, never a plus; `width` asterisks
// when it does not fit. `out` must hold `width` characters (1..max_field_width).
// Returns the rendered text, a view into `out`. Does not allocate.
std::string_view render_integer(std::int64_t value, int width, std::span<char> out);

// Renders `value` as the Fw.d descriptor does: exactly `decimals` digits after
// the point, rounded as "%.*f" rounds (to nearest on the exact binary value,
// ties to even), at least one digit before the point, a minus sign only when a
// non-zero digit shows (so never "-0.0000"), right-justified; the leading "0"
// is dropped when that alone makes it fit; otherwise `width` asterisks.
// Non-finite values are "NaN", "Infinity", "-Infinity", or "Inf"/"-Inf" when
// the long form does not fit. Returns a view into `out` (max_field_width
// characters). Does not allocate.
std::string_view render_fixed(double value, int width, int decimals, std::span<char> out);

}  // namespace tolbe
