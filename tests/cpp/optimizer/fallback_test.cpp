// Benchmark execution, selection and the measured fallback, with the tool
// runs replaced by an injected function so each rule shows on its own.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "optimizer/benchmark_runner.hpp"
#include "optimizer/cartesian_search.hpp"
#include "optimizer/estimate.hpp"
#include "optimizer/fixtures.hpp"

namespace bc {
namespace {

using testing::cpu_only;
using testing::gguf_model;

RuntimeConfig config(RuntimeKind kind, uint32_t threads = 4) {
  return {kind, QuantizationStrategy::Q4_K_M, threads, 512, 0};
}

Error missing(const char* binary) {
  return Error(AdapterError::not_installed(binary, "install it"));
}

TEST(RunBenchmarks, OrderedOutcomesAtMostThreeAtOnce) {
  std::vector<RuntimeConfig> candidates;
  for (uint32_t i = 1; i <= 10; ++i) candidates.push_back(config(RuntimeKind::LlamaCpp, i));
  std::atomic<int> active{0}, peak{0}, calls{0};
  std::mutex mu;
  std::vector<std::string> prompts;
  auto fn = [&](const RuntimeConfig& c, const ModelProfile&,
                const std::string& prompt) -> Expected<BenchmarkResult> {
    int now = ++active;
    int seen = peak.load();
    while (now > seen && !peak.compare_exchange_weak(seen, now)) {
    }
    {
      std::lock_guard lock(mu);
      prompts.push_back(prompt);
    }
    // Later candidates finish first, so order comes from collection alone.
    std::this_thread::sleep_for(std::chrono::milliseconds(5 * (11 - c.threads)));
    ++calls;
    --active;
    if (c.threads == 7) return fail("tool failed");
    if (c.threads == 4) throw std::runtime_error("boom");
    return BenchmarkResult{static_cast<double>(c.threads), 1.0, 1};
  };
  auto outcomes = run_benchmarks(candidates, gguf_model(), fn);
  ASSERT_EQ(outcomes.size(), 10u);
  EXPECT_EQ(calls.load(), 10);
  EXPECT_LE(peak.load(), 3);
  for (uint32_t i = 0; i < 10; ++i) {
    EXPECT_EQ(outcomes[i].config.threads, i + 1);
    if (i + 1 == 7) {
      EXPECT_EQ(outcomes[i].result.error().message(), "tool failed");
    } else if (i + 1 == 4) {
      EXPECT_EQ(outcomes[i].result.error().message(), "benchmark task panicked: boom");
    } else {
      EXPECT_EQ(outcomes[i].result->tokens_per_sec, i + 1.0);
    }
  }
  for (const auto& p : prompts) EXPECT_EQ(p, "Summarize the following text in one sentence:");
  EXPECT_TRUE(run_benchmarks({}, gguf_model(), fn).empty());
}

TEST(SelectBest, BudgetLimitTiesAndErrors) {
  const auto hw = cpu_only(8, 16000);  // budget 14400
  std::vector<BenchmarkOutcome> outcomes;
  outcomes.push_back({config(RuntimeKind::LlamaCpp, 1), fail("first failure")});
  outcomes.push_back({config(RuntimeKind::LlamaCpp, 2), BenchmarkResult{50, 10, 14401}});
  outcomes.push_back({config(RuntimeKind::LlamaCpp, 3), BenchmarkResult{40, 50.0, 14400}});
  outcomes.push_back({config(RuntimeKind::Ollama, 4), BenchmarkResult{40, 20, 100}});
  outcomes.push_back({config(RuntimeKind::Ollama, 5), BenchmarkResult{90, std::nan(""), 1}});
  outcomes.push_back({config(RuntimeKind::Ollama, 6), BenchmarkResult{99, 50.1, 1}});
  CaptureSink sink;
  auto best = select_best(outcomes, hw, 50.0, sink);
  ASSERT_TRUE(best);
  EXPECT_EQ(best->config.threads, 3u);  // equal throughput: grid order stands
  EXPECT_EQ(sink.lines(),
            std::vector<std::string>{"[brindlecove-optimizer] benchmark error: first failure"});
  // Without a limit the NaN-latency and slow ones compete too.
  EXPECT_EQ(select_best(outcomes, hw, std::nullopt, sink)->config.threads, 6u);
  EXPECT_FALSE(select_best(outcomes, cpu_only(8, 0), std::nullopt, sink));
}

TEST(SelectBest, NaNThroughputKeepsGridOrder) {
  // A faster candidate may pass slower ones but never a NaN measurement, so
  // the 5 behind the NaN cannot reach the front.
  std::vector<BenchmarkOutcome> outcomes;
  for (double rate : {3.0, std::nan(""), 3.0, 5.0}) {
    const auto threads = static_cast<uint32_t>(outcomes.size() + 1);
    outcomes.push_back({config(RuntimeKind::Ollama, threads), BenchmarkResult{rate, 1, 1}});
  }
  CaptureSink sink;
  EXPECT_EQ(select_best(outcomes, cpu_only(8), std::nullopt, sink)->config.threads, 1u);
  outcomes.erase(outcomes.begin());
  EXPECT_EQ(select_best(outcomes, cpu_only(8), std::nullopt, sink)->config.threads, 2u);
  outcomes.erase(outcomes.begin());
  EXPECT_EQ(select_best(outcomes, cpu_only(8), std::nullopt, sink)->config.threads, 4u);
}

TEST(NoValidConfiguration, Messages) {
  EXPECT_EQ(no_valid_configuration_error({"b", "a"}, {}, 10.0).message(),
            "no compatible runtimes found \u2014 all benchmark attempts failed.\n"
            "Failure reasons: a; b");
  EXPECT_EQ(no_valid_configuration_error({"r"}, {"ollama", "llama-cli"}, 10.0).message(),
            "no compatible runtimes found \u2014 required runtime binaries are missing: "
            "llama-cli, ollama\nInstall the missing programs and retry.\n"
            "Additional failure reasons: r");
  EXPECT_EQ(no_valid_configuration_error({}, {"trtexec"}, 10.0).message(),
            "no compatible runtimes found \u2014 required runtime binaries are missing: "
            "trtexec\nInstall the missing programs and retry.");
  auto e = no_valid_configuration_error({}, {}, 50.0);
  EXPECT_EQ(e.message(),
            "no valid configuration found: no configuration meets the latency constraint of "
            "50.0 ms. Try relaxing --latency or freeing RAM.");
  EXPECT_EQ(e.cause(), nullptr);
}

TEST(CartesianSearch, MissingLlamaCliUsesEstimatesAndSkipsOtherMissingTools) {
  const auto hw = cpu_only(8, 16000);
  const auto model = gguf_model(7'000'000'000);
  auto fn = [](const RuntimeConfig& c, const ModelProfile&,
               const std::string&) -> Expected<BenchmarkResult> {
    return std::unexpected(missing(c.runtime == RuntimeKind::LlamaCpp ? "llama-cli" : "ollama"));
  };
  CaptureSink sink;
  auto best = cartesian_search(model, hw, 1e9, sink, fn);
  ASSERT_TRUE(best) << best.error().full_message();
  EXPECT_EQ(best->config.runtime, RuntimeKind::LlamaCpp);
  EXPECT_EQ(best->metrics, estimate_performance(best->config, model, hw));
  EXPECT_EQ(sink.lines(),
            (std::vector<std::string>{
                "[brindlecove] llama-cli not found \u2014 using hardware-aware estimates for GGUF "
                "configs",
                "[brindlecove] ollama not found \u2014 skipping configs that require it"}));
}

TEST(CartesianSearch, OneWorkingLlamaCliMeansNoEstimates) {
  const auto hw = cpu_only(8, 16000);
  int llama_calls = 0;
  std::mutex mu;
  auto fn = [&](const RuntimeConfig& c, const ModelProfile&,
                const std::string&) -> Expected<BenchmarkResult> {
    std::lock_guard lock(mu);
    if (c.runtime == RuntimeKind::LlamaCpp && llama_calls++ == 0)
      return BenchmarkResult{5.0, 200.0, 10};
    return std::unexpected(missing(c.runtime == RuntimeKind::LlamaCpp ? "llama-cli" : "ollama"));
  };
  CaptureSink sink;
  auto best = cartesian_search(gguf_model(7'000'000'000), hw, 1e9, sink, fn);
  ASSERT_TRUE(best);
  EXPECT_EQ(best->metrics.tokens_per_sec, 5.0);
  EXPECT_EQ(sink.lines(),
            (std::vector<std::string>{
                "[brindlecove] llama-cli not found \u2014 skipping configs that require it",
                "[brindlecove] ollama not found \u2014 skipping configs that require it"}));
}

TEST(CartesianSearch, FailuresExplainThemselves) {
  const auto hw = cpu_only(8, 16000);
  auto all_fail = [](const RuntimeConfig& c, const ModelProfile&,
                     const std::string&) -> Expected<BenchmarkResult> {
    Error root(AdapterError::inference_failed(c.runtime == RuntimeKind::LlamaCpp ? "x" : "y"));
    return std::unexpected(Error::wrap(root, "outer"));
  };
  CaptureSink sink;
  auto r = cartesian_search(gguf_model(), hw, 10.0, sink, all_fail);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(),
            "no compatible runtimes found \u2014 all benchmark attempts failed.\n"
            "Failure reasons: inference failed: x; inference failed: y");
  EXPECT_EQ(sink.lines().size(), 24u);  // one benchmark error line per candidate
  EXPECT_EQ(sink.lines()[0], "[brindlecove-optimizer] benchmark error: outer");

  auto slow = [](const RuntimeConfig&, const ModelProfile&,
                 const std::string&) -> Expected<BenchmarkResult> {
    return BenchmarkResult{1.0, 1000.0, 1};
  };
  r = cartesian_search(gguf_model(), hw, 50.0, sink, slow);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(),
            "no valid configuration found: no configuration meets the latency constraint of "
            "50.0 ms. Try relaxing --latency or freeing RAM.");
}

TEST(CartesianSearch, EmptyGridRunsNothing) {
  // A 100B-parameter model on a small GPU: every pair is too large for VRAM.
  auto hw = testing::with_gpu(cpu_only(8), GpuVendor::Nvidia, 4096);
  int calls = 0;
  auto fn = [&](const RuntimeConfig&, const ModelProfile&,
                const std::string&) -> Expected<BenchmarkResult> {
    ++calls;
    return BenchmarkResult{};
  };
  CaptureSink sink;
  auto r = cartesian_search(gguf_model(100'000'000'000), hw, 10.0, sink, fn);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(),
            "no candidate configurations generated for this hardware / model combination");
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace bc
