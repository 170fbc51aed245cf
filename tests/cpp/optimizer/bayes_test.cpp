#include "optimizer/bayes.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "fixtures.hpp"
#include "optimizer/estimate.hpp"

namespace bc {
namespace {

using testing::cpu_only;
using testing::gguf_model;
using testing::with_gpu;
using Q = QuantizationStrategy;
using R = RuntimeKind;

SearchSpace example_space() {
  return SearchSpace{
      {R::LlamaCpp, R::Ollama}, {Q::Q4_K_M, Q::Q8_0}, {4, 8, 16}, {128, 256, 512}, 32};
}

void expect_point(const SearchPoint& actual, const SearchPoint& expected) {
  for (size_t d = 0; d < actual.size(); ++d) EXPECT_DOUBLE_EQ(actual[d], expected[d]) << d;
}

TEST(Bayes, HaltonPoints) {
  expect_point(halton_point(1), {0.5, 1.0 / 3, 0.2, 1.0 / 7, 1.0 / 11});
  expect_point(halton_point(2), {0.25, 2.0 / 3, 0.4, 2.0 / 7, 2.0 / 11});
  expect_point(halton_point(5), {0.625, 7.0 / 9, 0.04, 5.0 / 7, 5.0 / 11});
  expect_point(halton_point(0), {0, 0, 0, 0, 0});
}

TEST(Bayes, LcgPointWrapsIn64Bits) {
  const SearchPoint p = lcg_point(0);
  EXPECT_EQ(p[0], static_cast<double>(0x14057B7EF767814FULL >> 12) * 0x1p-52);
  uint64_t s = 0x14057B7EF767814FULL * 0x5851F42D4C957F2DULL + 0x14057B7EF767814FULL;
  EXPECT_EQ(p[1], static_cast<double>(s >> 12) * 0x1p-52);
  for (uint64_t seed : {uint64_t{0}, uint64_t{7}, UINT64_MAX}) {
    for (double x : lcg_point(seed)) {
      EXPECT_GE(x, 0.0);
      EXPECT_LT(x, 1.0);
    }
  }
  EXPECT_NE(lcg_point(1), lcg_point(2));
}

TEST(Bayes, DecodePoint) {
  const SearchSpace space = example_space();
  EXPECT_EQ(decode_point(halton_point(1), space), (RuntimeConfig{R::Ollama, Q::Q4_K_M, 4, 128, 6}));
  EXPECT_EQ(decode_point(halton_point(4), space),
            (RuntimeConfig{R::LlamaCpp, Q::Q4_K_M, 8, 256, 26}));

  const double almost_one = std::nextafter(1.0, 0.0);
  EXPECT_EQ(decode_point({almost_one, almost_one, almost_one, almost_one, almost_one}, space),
            (RuntimeConfig{R::Ollama, Q::Q8_0, 16, 512, 32}));
  // Out-of-range coordinates land on the first or last entry.
  EXPECT_EQ(decode_point({-1.0, NAN, 7.0, 1.0, 1e300}, space),
            (RuntimeConfig{R::LlamaCpp, Q::Q4_K_M, 16, 512, 32}));

  SearchSpace halves = space;
  halves.max_gpu_layers = 5;
  EXPECT_EQ(decode_point({0, 0, 0.5, 0, 0}, halves).gpu_layers, 3u);  // 2.5 rounds up
  EXPECT_EQ(decode_point({0, 0, 0.1, 0, 0}, halves).gpu_layers, 1u);  // 0.5 rounds up
  EXPECT_EQ(decode_point({0, 0, -0.5, 0, 0}, halves).gpu_layers, 0u);

  SearchSpace cpu = space;
  cpu.max_gpu_layers = 0;
  cpu.runtimes = {R::OnnxRuntime};
  for (uint64_t i = 1; i <= 12; ++i) {
    const RuntimeConfig c = decode_point(lcg_point(i), cpu);
    EXPECT_EQ(c.gpu_layers, 0u);
    EXPECT_EQ(c.runtime, R::OnnxRuntime);
  }

  // An empty axis must not be indexed; its field keeps the default.
  EXPECT_EQ(decode_point({0.9, 0.9, 0.5, 0.9, 0.9}, SearchSpace{}), RuntimeConfig{});
}

TEST(Bayes, ParzenDensity) {
  const SearchPoint p{0.1, 0.2, 0.3, 0.4, 0.5};
  EXPECT_EQ(parzen_density(p, {}), 1e-10);

  const double single = 1.0 / (2.5066282746310002 * 0.212);
  const std::vector<Observation> one{{p, 1.0}};
  EXPECT_DOUBLE_EQ(parzen_density(p, one), std::pow(single, 5));

  // Identical observations have no spread: the 0.01 floor sets the bandwidth.
  const std::vector<Observation> twins{{p, 1.0}, {p, 2.0}};
  const double h = 0.01 * 1.06 * std::pow(2.0, -0.2);
  EXPECT_DOUBLE_EQ(parzen_density(p, twins), std::pow(1.0 / (2.5066282746310002 * h), 5));

  // One bandwidth step away in the first dimension costs a factor exp(-0.5).
  SearchPoint shifted = p;
  shifted[0] += 0.212;
  EXPECT_NEAR(parzen_density(shifted, one) / parzen_density(p, one), std::exp(-0.5), 1e-12);
}

TEST(Bayes, SuggestPointBeforeAndWithoutCandidates) {
  SearchHistory h;
  EXPECT_EQ(suggest_point(h, 24, 5), lcg_point(5));
  h.observations.push_back({halton_point(1), 3.0});
  h.observations.push_back({halton_point(2), 4.0});
  EXPECT_EQ(suggest_point(h, 24, 5), lcg_point(7));
  h.observations.push_back({halton_point(3), 5.0});
  EXPECT_EQ(suggest_point(h, 0, 5), lcg_point(5));

  // With a model the proposal is one of the candidates.
  const SearchPoint chosen = suggest_point(h, 24, 5);
  bool found = false;
  for (uint64_t k = 0; k < 24; ++k) found |= chosen == lcg_point(5 + 0xDEADBEEFULL + k);
  EXPECT_TRUE(found);

  // A good fraction above 1 must not overrun the history.
  h.good_fraction = 4.0;
  const SearchPoint all_good = suggest_point(h, 24, 5);
  found = false;
  for (uint64_t k = 0; k < 24; ++k) found |= all_good == lcg_point(5 + 0xDEADBEEFULL + k);
  EXPECT_TRUE(found);
}

// The complete output of one search; any change to the sampling, the proposal
// rule, the estimate or the formatting shows up here.
TEST(Bayes, GoldenTrace) {
  ModelProfile model = gguf_model(7'000'000'000);
  model.memory_footprint_mb = 7'000'000'000.0 * 2.0 / 1048576.0;
  model.kv_cache_size_mb = 1024.0;
  const HardwareProfile profile = with_gpu(cpu_only(8, 16000), GpuVendor::Nvidia, 24576);

  CaptureSink sink;
  const BayesianOutcome outcome = bayesian_search(example_space(), model, profile, 1.0, sink);
  const std::vector<std::string> expected = {
      "[Bayes init 1/5] Ollama/Q4_K_M/4 threads/6 gpu_layers → 19.9 tok/s",
      "[Bayes init 2/5] LlamaCpp/Q8_0/4 threads/13 gpu_layers → 16.3 tok/s",
      "[Bayes init 3/5] Ollama/Q4_K_M/8 threads/19 gpu_layers → 63.4 tok/s",
      "[Bayes init 4/5] LlamaCpp/Q4_K_M/8 threads/26 gpu_layers → 79.7 tok/s",
      "[Bayes init 5/5] Ollama/Q8_0/16 threads/1 gpu_layers → 11.8 tok/s",
      "[Bayes iter 1/7] Ollama/Q4_K_M/8 threads/19 gpu_layers",
      "[Bayes iter 1/7] Result: 63.4 tok/s",
      "[Bayes iter 2/7] LlamaCpp/Q8_0/8 threads/28 gpu_layers",
      "[Bayes iter 2/7] Result: 46.4 tok/s",
      "[Bayes iter 3/7] LlamaCpp/Q8_0/8 threads/21 gpu_layers",
      "[Bayes iter 3/7] Result: 37.4 tok/s",
      "[Bayes iter 4/7] LlamaCpp/Q4_K_M/8 threads/26 gpu_layers",
      "[Bayes iter 4/7] Result: 79.7 tok/s",
      "[Bayes iter 5/7] LlamaCpp/Q4_K_M/8 threads/26 gpu_layers",
      "[Bayes iter 5/7] Result: 79.7 tok/s",
      "[Bayes iter 6/7] LlamaCpp/Q4_K_M/8 threads/26 gpu_layers",
      "[Bayes iter 6/7] Result: 79.7 tok/s",
      "[Bayes iter 7/7] LlamaCpp/Q8_0/16 threads/25 gpu_layers",
      "[Bayes iter 7/7] Result: 42.6 tok/s",
      "[Bayes final] Best: LlamaCpp/Q4_K_M/8 threads/26 gpu_layers → 79.7 tok/s",
      "[Bayes final] Best config latency 12.5ms exceeds limit 1.0ms — falling back to cartesian "
      "search",
  };
  const std::vector<std::string> actual = sink.lines();
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(actual[i], expected[i]) << "line " << i + 1;

  EXPECT_TRUE(outcome.fallback);
  // The fourth sample stays best: later equal estimates do not displace it.
  const RuntimeConfig best{R::LlamaCpp, Q::Q4_K_M, 8, 256, 26};
  EXPECT_EQ(outcome.best.config, best);
  EXPECT_EQ(outcome.best.metrics, estimate_performance(best, model, profile));
  EXPECT_EQ(outcome.best.metrics.peak_memory_mb, 4361u);

  // Same inputs, same search.
  CaptureSink again;
  EXPECT_EQ(bayesian_search(example_space(), model, profile, 1.0, again).best, outcome.best);
  EXPECT_EQ(again.lines(), actual);
}

TEST(Bayes, LatencyLimitDecidesFallback) {
  // One value per axis: every estimate is 19.2 tok/s, 52.083... ms.
  const SearchSpace flat{{R::LlamaCpp}, {Q::Q4_K_M}, {8}, {512}, 0};
  const HardwareProfile cpu = cpu_only(8);
  const RuntimeConfig only{R::LlamaCpp, Q::Q4_K_M, 8, 512, 0};

  CaptureSink sink;
  const BayesianOutcome missed = bayesian_search(flat, gguf_model(), cpu, 10.0, sink);
  EXPECT_TRUE(missed.fallback);
  EXPECT_EQ(missed.best.config, only);
  EXPECT_EQ(missed.best.metrics.tokens_per_sec, 19.2);
  const std::vector<std::string> lines = sink.lines();
  ASSERT_EQ(lines.size(), 21u);
  EXPECT_EQ(lines[19], "[Bayes final] Best: LlamaCpp/Q4_K_M/8 threads/0 gpu_layers → 19.2 tok/s");
  EXPECT_EQ(lines[20],
            "[Bayes final] Best config latency 52.1ms exceeds limit 10.0ms — falling back to "
            "cartesian search");

  for (std::optional<double> limit : {std::optional<double>(52.1), std::optional<double>()}) {
    CaptureSink quiet;
    const BayesianOutcome met = bayesian_search(flat, gguf_model(), cpu, limit, quiet);
    EXPECT_FALSE(met.fallback);
    EXPECT_EQ(met.best, missed.best);
    EXPECT_EQ(quiet.lines().size(), 20u);
  }
}

TEST(Bayes, EqualEstimatesKeepTheEarliestBest) {
  // Runtime does not enter the estimate, so every sample ties with the first
  // (Ollama, from coordinate 0.5) although LlamaCpp samples follow.
  const SearchSpace tie{{R::LlamaCpp, R::Ollama}, {Q::Q4_K_M}, {8}, {512}, 0};
  CaptureSink sink;
  const BayesianOutcome r = bayesian_search(tie, gguf_model(), cpu_only(8), std::nullopt, sink);
  EXPECT_EQ(r.best.config.runtime, R::Ollama);
  EXPECT_EQ(sink.lines()[1],
            "[Bayes init 2/5] LlamaCpp/Q4_K_M/8 threads/0 gpu_layers → 19.2 tok/s");
}

}  // namespace
}  // namespace bc
