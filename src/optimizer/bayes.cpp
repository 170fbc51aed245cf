#include "optimizer/bayes.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "core/text.hpp"
#include "optimizer/estimate.hpp"

namespace bc {
namespace {

constexpr int kInitialSamples = 5;
constexpr int kIterations = 7;
constexpr size_t kCandidates = 24;
constexpr size_t kMinHistoryForModel = 3;
constexpr double kBandwidthFactor = 1.06;
constexpr double kBandwidthExponent = -0.2;
constexpr double kStdDevFloor = 0.01;
constexpr double kBandwidthFloor = 1e-8;
constexpr double kSingleBandwidth = 0.212;
constexpr double kEmptyDensity = 1e-10;
constexpr double kDenominatorFloor = 1e-10;
constexpr double kSqrtTwoPi = 2.5066282746310002;
constexpr uint64_t kLcgMultiplier = 0x5851F42D4C957F2DULL;
constexpr uint64_t kLcgIncrement = 0x14057B7EF767814FULL;
constexpr uint64_t kCandidateSeedOffset = 0xDEADBEEFULL;

constexpr uint64_t kHaltonBases[5] = {2, 3, 5, 7, 11};

double radical_inverse(uint64_t n, uint64_t base) {
  double result = 0.0;
  double scale = 1.0;
  while (n > 0) {
    scale /= static_cast<double>(base);
    result += static_cast<double>(n % base) * scale;
    n /= base;
  }
  return result;
}

template <typename T>
T pick(const std::vector<T>& list, double x, T fallback) {
  if (list.empty()) return fallback;
  const uint64_t index = saturate_u64(std::floor(static_cast<double>(list.size()) * x));
  return list[std::min<uint64_t>(index, list.size() - 1)];
}

std::string describe(const RuntimeConfig& c) {
  std::string s(name(c.runtime));
  s += '/';
  s += name(c.quantization);
  s += '/';
  s += std::to_string(c.threads);
  s += " threads/";
  s += std::to_string(c.gpu_layers);
  s += " gpu_layers";
  return s;
}

std::string progress_prefix(const char* prefix, int i, int n) {
  return std::string(prefix) + std::to_string(i) + '/' + std::to_string(n) + "] ";
}

}  // namespace

SearchPoint halton_point(uint64_t n) {
  SearchPoint p{};
  for (size_t d = 0; d < p.size(); ++d) p[d] = radical_inverse(n, kHaltonBases[d]);
  return p;
}

SearchPoint lcg_point(uint64_t seed) {
  SearchPoint p{};
  uint64_t s = seed;
  for (double& x : p) {
    s = s * kLcgMultiplier + kLcgIncrement;
    x = static_cast<double>(s >> 12) * 0x1p-52;
  }
  return p;
}

RuntimeConfig decode_point(const SearchPoint& point, const SearchSpace& space) {
  const RuntimeConfig defaults;
  RuntimeConfig c;
  c.runtime = pick(space.runtimes, point[0], defaults.runtime);
  c.quantization = pick(space.quantizations, point[1], defaults.quantization);
  if (space.max_gpu_layers != 0) {
    const uint32_t layers =
        saturate_u32(std::round(static_cast<double>(space.max_gpu_layers) * point[2]));
    c.gpu_layers = std::min(layers, space.max_gpu_layers);
  }
  c.threads = pick(space.threads, point[3], defaults.threads);
  c.batch_size = pick(space.batch_sizes, point[4], defaults.batch_size);
  return c;
}

double parzen_density(const SearchPoint& point, std::span<const Observation> set) {
  const size_t n = set.size();
  if (n == 0) return kEmptyDensity;
  const double count = static_cast<double>(n);

  SearchPoint bandwidth{};
  if (n == 1) {
    bandwidth.fill(
        std::max(kSingleBandwidth * std::pow(count, kBandwidthExponent), kBandwidthFloor));
  } else {
    for (size_t d = 0; d < bandwidth.size(); ++d) {
      double sum = 0.0;
      for (const Observation& o : set) sum += o.point[d];
      const double mean = sum / count;
      double squares = 0.0;
      for (const Observation& o : set) {
        const double dev = o.point[d] - mean;
        squares += dev * dev;
      }
      const double sigma = std::sqrt(squares / (count - 1.0));
      bandwidth[d] = std::max(
          std::max(sigma, kStdDevFloor) * kBandwidthFactor * std::pow(count, kBandwidthExponent),
          kBandwidthFloor);
    }
  }

  double total = 0.0;
  for (const Observation& o : set) {
    double kernel = 1.0;
    for (size_t d = 0; d < point.size(); ++d) {
      const double z = (point[d] - o.point[d]) / bandwidth[d];
      kernel *= std::exp(-0.5 * (z * z)) / (kSqrtTwoPi * bandwidth[d]);
    }
    total += kernel;
  }
  return total / count;
}

SearchPoint suggest_point(const SearchHistory& history, size_t candidates, uint64_t seed) {
  const size_t m = history.observations.size();
  if (m < kMinHistoryForModel) return lcg_point(seed + m);

  std::vector<Observation> ranked = history.observations;
  std::stable_sort(ranked.begin(), ranked.end(), [](const Observation& a, const Observation& b) {
    return a.tokens_per_sec > b.tokens_per_sec;
  });
  const double wanted = std::ceil(static_cast<double>(m) * history.good_fraction);
  // Clamped to the history so that an odd good_fraction cannot overrun it.
  const size_t good = std::clamp<uint64_t>(saturate_u64(wanted), 1, m);
  const std::span<const Observation> good_set(ranked.data(), good);
  const std::span<const Observation> bad_set(ranked.data() + good, m - good);

  SearchPoint proposal = lcg_point(seed);
  double best_score = -std::numeric_limits<double>::infinity();
  for (size_t k = 0; k < candidates; ++k) {
    const SearchPoint candidate = lcg_point(seed + kCandidateSeedOffset + k);
    const double score = parzen_density(candidate, good_set) /
                         std::max(parzen_density(candidate, bad_set), kDenominatorFloor);
    // Strictly greater: the first of equal scores wins and NaN never does.
    if (score > best_score) {
      best_score = score;
      proposal = candidate;
    }
  }
  return proposal;
}

BayesianOutcome bayesian_search(const SearchSpace& space, const ModelProfile& model,
                                const HardwareProfile& profile,
                                std::optional<double> max_latency_ms, LineSink& sink) {
  SearchHistory history;
  history.observations.reserve(kInitialSamples + kIterations);
  OptimizationResult best;

  auto record = [&](const SearchPoint& point, const RuntimeConfig& config,
                    const BenchmarkResult& estimate) {
    history.observations.push_back(Observation{point, estimate.tokens_per_sec});
    // Strictly greater: an equal estimate later on does not displace the best.
    if (estimate.tokens_per_sec > history.best_tokens_per_sec) {
      history.best_tokens_per_sec = estimate.tokens_per_sec;
      best = OptimizationResult{config, estimate};
    }
  };

  // All five samples are estimated before any is reported or recorded.
  std::array<SearchPoint, kInitialSamples> points{};
  std::array<RuntimeConfig, kInitialSamples> configs{};
  std::array<BenchmarkResult, kInitialSamples> estimates{};
  for (int i = 0; i < kInitialSamples; ++i) {
    points[i] = halton_point(static_cast<uint64_t>(i) + 1);
    configs[i] = decode_point(points[i], space);
    estimates[i] = estimate_performance(configs[i], model, profile);
  }
  for (int i = 0; i < kInitialSamples; ++i) {
    sink.write_line(progress_prefix("[Bayes init ", i + 1, kInitialSamples) + describe(configs[i]) +
                    " → " + format_fixed(estimates[i].tokens_per_sec, 1) + " tok/s");
    record(points[i], configs[i], estimates[i]);
  }

  for (int i = 0; i < kIterations; ++i) {
    const SearchPoint point = suggest_point(history, kCandidates, static_cast<uint64_t>(i));
    const RuntimeConfig config = decode_point(point, space);
    sink.write_line(progress_prefix("[Bayes iter ", i + 1, kIterations) + describe(config));
    const BenchmarkResult estimate = estimate_performance(config, model, profile);
    sink.write_line(progress_prefix("[Bayes iter ", i + 1, kIterations) +
                    "Result: " + format_fixed(estimate.tokens_per_sec, 1) + " tok/s");
    record(point, config, estimate);
  }

  sink.write_line("[Bayes final] Best: " + describe(best.config) + " → " +
                  format_fixed(history.best_tokens_per_sec, 1) + " tok/s");

  BayesianOutcome outcome{best, false};
  if (max_latency_ms && best.metrics.latency_ms > *max_latency_ms) {
    sink.write_line("[Bayes final] Best config latency " +
                    format_fixed(best.metrics.latency_ms, 1) + "ms exceeds limit " +
                    format_fixed(*max_latency_ms, 1) + "ms — falling back to cartesian search");
    outcome.fallback = true;
  }
  return outcome;
}

}  // namespace bc
