#pragma once
// JSON forms of the shared records. Writing goes through one formatter so
// every file we produce follows the same float and escaping rules.

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "core/error.hpp"
#include "core/records.hpp"

namespace bc {

using OrderedJson = nlohmann::ordered_json;

// Compact (no whitespace) or indented by two spaces per level. Floats in the
// shortest round-trip form with ".0" kept on integral values; NaN and
// infinities as null.
std::string write_json(const OrderedJson& value, bool indented = false);
// A JSON string literal with our escaping rules.
std::string json_quote(std::string_view text);

OrderedJson to_json_value(const HardwareProfile& p);
OrderedJson to_json_value(const RuntimeConfig& c);
OrderedJson to_json_value(const BenchmarkResult& b);
OrderedJson to_json_value(const OptimizationResult& r);

std::string to_json_compact(const HardwareProfile& p);
std::string to_json_compact(const OptimizationResult& r);
std::string to_json_indented(const OptimizationResult& r);

// Strict reading: every member present once with the right type; enum names
// exact; unknown members skipped.
Expected<OptimizationResult> read_optimization_result(std::string_view text);
Expected<OptimizationResult> optimization_result_from_value(const OrderedJson& v);

// Parses JSON text rejecting objects with repeated keys.
Expected<OrderedJson> parse_json_strict(std::string_view text);

}  // namespace bc
