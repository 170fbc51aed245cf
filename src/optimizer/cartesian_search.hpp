#pragma once
// The fallback when the estimated best misses the latency limit: measure
// every grid candidate for real and pick the fastest that fits.

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/line_sink.hpp"
#include "core/records.hpp"
#include "optimizer/benchmark_runner.hpp"

namespace bc {

std::optional<OptimizationResult> select_best(const std::vector<BenchmarkOutcome>& outcomes,
                                              const HardwareProfile& hardware,
                                              std::optional<double> max_latency_ms,
                                              LineSink& sink = stderr_sink());

Error no_valid_configuration_error(const std::set<std::string>& reasons,
                                   const std::set<std::string>& missing,
                                   std::optional<double> max_latency_ms);

// The latency message, also the cause the pipeline attaches to a failure.
std::string latency_constraint_message(std::optional<double> max_latency_ms);

[[nodiscard]] Expected<OptimizationResult> cartesian_search(
    const ModelProfile& model, const HardwareProfile& hardware,
    std::optional<double> max_latency_ms, LineSink& sink = stderr_sink(),
    const BenchmarkFn& benchmark = registry_benchmark());

}  // namespace bc
