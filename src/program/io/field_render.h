#pragma once

#include <cstddef>
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

// The same text as render_fixed, always by the exact road (128-bit scaled
// integers, or the library's fixed conversion for the widest magnitudes).
std::string_view render_fixed_exact(double value, int width, int decimals, std::span<char> out);

// The common road of render_fixed for one number of decimals: renders
// `value` into exactly `width` characters at `out` as render_fixed does and
// returns true, or returns false with `out` untouched when the value is not
// finite, lies within a hair of a rounding tie, has 2^31 units or more, or
// does not fit; render_fixed then settles it. Takes it once per run of fields
// with the same decimals. Null for decimals outside 0..9.
using ShortFixedRenderer = bool (*)(double value, std::size_t width, char* out);
ShortFixedRenderer short_fixed_renderer(int decimals);

}  // namespace tolbe
