#pragma once
// Small text helpers shared by every parser of tool output and /proc files.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bc {

// Decode as UTF-8, replacing each invalid sequence with U+FFFD.
std::string decode_utf8_lossy(std::string_view bytes);
bool is_valid_utf8(std::string_view bytes);

// Trim Unicode White_Space at both ends (input is UTF-8).
std::string_view trim(std::string_view s);
std::string_view trim_start(std::string_view s);
// Split at runs of Unicode White_Space, dropping empty pieces.
std::vector<std::string_view> split_whitespace(std::string_view s);
// Pieces between line feeds; a carriage return before a line feed is part of
// the line ending; a final line feed is not followed by an empty line.
std::vector<std::string_view> split_lines(std::string_view s);
std::vector<std::string_view> split_char(std::string_view s, char sep);

// Full-text Unicode lower-casing (simple case mapping per code point).
std::string to_lower_unicode(std::string_view s);
std::string to_lower_ascii(std::string_view s);

// An optional single '+' then one or more decimal digits that fit the type.
std::optional<uint64_t> parse_u64(std::string_view s);
std::optional<uint32_t> parse_u32(std::string_view s);
// A whole-word decimal float: sign, digits, optional fraction and exponent,
// or inf/infinity/nan in any case with an optional sign.
std::optional<double> parse_f64(std::string_view s);

// Fixed-point rendering of the exact binary value; NaN as "NaN", infinities
// as "inf" / "-inf".
std::string format_fixed(double v, int decimals);

// Saturating conversion toward zero, NaN to 0.
uint64_t saturate_u64(double v);
uint32_t saturate_u32(double v);

}  // namespace bc
