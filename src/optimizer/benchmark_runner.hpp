#pragma once
// Real measurements of many candidates, at most three tool runs at a time.

#include <functional>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/line_sink.hpp"
#include "core/records.hpp"

namespace bc {

inline constexpr char kBenchmarkPrompt[] = "Summarize the following text in one sentence:";
inline constexpr unsigned kMaxConcurrentBenchmarks = 3;

struct BenchmarkOutcome {
  RuntimeConfig config;
  Expected<BenchmarkResult> result;
};

// Measures one candidate; the default builds a fresh adapter registry per
// call, so candidates share nothing.
using BenchmarkFn = std::function<Expected<BenchmarkResult>(
    const RuntimeConfig&, const ModelProfile&, const std::string& prompt)>;
BenchmarkFn registry_benchmark();

// One outcome per candidate, in candidate order. Every worker thread is
// joined before this returns.
std::vector<BenchmarkOutcome> run_benchmarks(const std::vector<RuntimeConfig>& candidates,
                                             const ModelProfile& model,
                                             const BenchmarkFn& benchmark = registry_benchmark());

}  // namespace bc
