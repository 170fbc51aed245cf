#pragma once
// The main search: five Halton samples, then seven proposals chosen by a
// tree-structured Parzen estimator, every one judged by the estimate alone.
// Deterministic for given inputs.

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "core/line_sink.hpp"
#include "core/records.hpp"
#include "optimizer/search_space.hpp"

namespace bc {

// Coordinates in [0, 1): runtime, quantization, GPU layers, threads, batch size.
using SearchPoint = std::array<double, 5>;

struct Observation {
  SearchPoint point{};
  double tokens_per_sec = 0.0;
};

struct SearchHistory {
  std::vector<Observation> observations;  // in evaluation order
  double good_fraction = 0.25;
  double best_tokens_per_sec = -std::numeric_limits<double>::infinity();
};

// `best` is always set; `fallback` asks the caller for the cartesian search
// because the best estimate misses the latency limit.
struct BayesianOutcome {
  OptimizationResult best;
  bool fallback = false;
};

// Radical inverses of n in the bases 2, 3, 5, 7, 11.
SearchPoint halton_point(uint64_t n);

// Five outputs of a 64-bit LCG started at `seed`.
SearchPoint lcg_point(uint64_t seed);

// An empty axis leaves that field at its RuntimeConfig default.
RuntimeConfig decode_point(const SearchPoint& point, const SearchSpace& space);

// Gaussian kernel density with a per-dimension Scott-style bandwidth.
double parzen_density(const SearchPoint& point, std::span<const Observation> set);

SearchPoint suggest_point(const SearchHistory& history, size_t candidates, uint64_t seed);

BayesianOutcome bayesian_search(const SearchSpace& space, const ModelProfile& model,
                                const HardwareProfile& profile,
                                std::optional<double> max_latency_ms,
                                LineSink& sink = stderr_sink());

}  // namespace bc
