#pragma once
// The optimizer's entry: cache, four reported stages, Bayesian search over
// estimates, and the measured fallback when a latency limit is missed.

#include <optional>

#include "core/error.hpp"
#include "core/line_sink.hpp"
#include "core/records.hpp"
#include "optimizer/benchmark_runner.hpp"

namespace bc {

inline constexpr unsigned kInitialSamples = 5;
inline constexpr unsigned kRefinementIterations = 7;

[[nodiscard]] Expected<OptimizationResult> run_pipeline(
    const ModelProfile& model, std::optional<double> max_latency_ms,
    const HardwareProfile& hardware, bool use_cache, LineSink& sink = stderr_sink(),
    const BenchmarkFn& benchmark = registry_benchmark());

}  // namespace bc
