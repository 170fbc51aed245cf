#pragma once
// On-disk cache of optimization results, one JSON file per model file and
// hardware profile, under ~/.quarlent/cache.

#include <optional>
#include <string>

#include "core/error.hpp"
#include "core/records.hpp"

namespace bc {

struct CachedResult {
  OptimizationResult result;
  std::string model_path;
  uint64_t created_at = 0;
};

std::optional<std::string> home_directory();
// The text that is hashed: mtime + "_" + size + "_" + compact hardware JSON.
std::optional<std::string> cache_key_text(const HardwareProfile& hardware,
                                          const std::string& model_path);
std::optional<std::string> cache_key(const HardwareProfile& hardware,
                                     const std::string& model_path);
std::optional<std::string> cache_file_path(const std::string& key);

std::string cached_result_json(const CachedResult& entry);
// Strict reading; only JSON whitespace may follow the value.
Expected<CachedResult> read_cached_result(std::string_view text);

std::optional<OptimizationResult> lookup_cached_result(const HardwareProfile& hardware,
                                                       const ModelProfile& model);
[[nodiscard]] Status store_cached_result(const HardwareProfile& hardware, const ModelProfile& model,
                                         const OptimizationResult& result);

}  // namespace bc
