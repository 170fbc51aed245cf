#include "runtime/ollama_adapter.hpp"

#include <gtest/gtest.h>

#include "runtime/adapter_registry.hpp"
#include "runtime/fake_tools.hpp"
#include "runtime/fixtures.hpp"

namespace bc {
namespace {

using namespace bc::testing;
using Kind = AdapterError::Kind;

class OllamaBenchmark : public ::testing::Test {
 protected:
  Expected<BenchmarkResult> benchmark(const RuntimeConfig& c) {
    AdapterRegistry registry;
    return registry.benchmark(c, model, prompt);
  }

  FakeTools tools;
  ModelProfile model = model_at(tools.file("Llama-3.2-1B-Instruct.Q4_K_M.gguf", "GGUF"),
                                ModelFormat::Gguf, 1'000'000'000);
  std::string prompt = "Why is the sky \"blue\"?\n";
};

TEST_F(OllamaBenchmark, StatisticsOnStderrAndExactCommandLine) {
  tools.add("ollama", {"Because of Rayleigh scattering.\n", kOllamaVerbose, 0});
  auto a = config_for(RuntimeKind::Ollama, QuantizationStrategy::Q4_0, 1, 1, 0);
  auto b = config_for(RuntimeKind::Ollama, QuantizationStrategy::Q4_0, 32, 64, 99);
  auto result = benchmark(a);
  ASSERT_TRUE(result) << result.error().full_message();
  EXPECT_DOUBLE_EQ(result->tokens_per_sec, 40.5);
  EXPECT_DOUBLE_EQ(result->latency_ms, 1234.567);
  EXPECT_EQ(result->peak_memory_mb, 500u);
  ASSERT_TRUE(benchmark(b));
  const std::vector<std::string> run = {tools.tool_path("ollama").string(), "run",
                                        "llama-3-2-1b-instruct-q4-k-m", prompt, "--verbose"};
  // Threads, batch size and GPU layers never reach ollama.
  EXPECT_EQ(tools.calls("ollama"), (std::vector<std::vector<std::string>>{run, run, run, run}));
}

TEST_F(OllamaBenchmark, MillisecondDurationFallsBackToTheRate) {
  tools.add("ollama",
            {"", "eval duration:        523.456ms\neval rate:            12.5 tokens/s\n", 0});
  auto result = benchmark(config_for(RuntimeKind::Ollama));
  ASSERT_TRUE(result);
  EXPECT_DOUBLE_EQ(result->latency_ms, 80.0);
}

TEST_F(OllamaBenchmark, FailedRuns) {
  struct Case {
    FakeRun run;
    std::string reason;
  } cases[] = {
      {{"", "Error: model 'llama-3-2-1b-instruct-q4-k-m' not found\n", 1},
       "ollama exited non-zero: Error: model 'llama-3-2-1b-instruct-q4-k-m' not found"},
      {{"", "", 0, true}, "ollama exited non-zero: "},
      {{kOllamaVerbose, "", 0}, "could not parse timing output from ollama"},
  };
  for (const auto& c : cases) {
    tools.add("ollama", c.run);
    auto result = benchmark(config_for(RuntimeKind::Ollama));
    ASSERT_FALSE(result) << c.reason;
    expect_adapter_error(result.error(), Kind::InferenceFailed, "inference failed: " + c.reason);
  }
}

TEST_F(OllamaBenchmark, MissingToolAndModelChecks) {
  auto result = benchmark(config_for(RuntimeKind::Ollama));
  ASSERT_FALSE(result);
  expect_adapter_error(result.error(), Kind::NotInstalled,
                       "required binary 'ollama' was not found in PATH \u2014 install Ollama from "
                       "https://ollama.com/download or via your package manager (e.g. brew install "
                       "ollama)");

  OllamaAdapter adapter;
  ASSERT_TRUE(adapter.load_model(model_at(tools.file("My Model 2.onnx", ""), ModelFormat::Onnx)));
  EXPECT_EQ(adapter.model_tag(), "my-model-2");
  const std::string missing = (tools.root() / "none.gguf").string();
  auto absent = adapter.load_model(model_at(missing, ModelFormat::Gguf));
  ASSERT_FALSE(absent);
  expect_adapter_error(absent.error(), Kind::ModelLoadFailed,
                       "model load failed for '" + missing + "': file not found");
  EXPECT_EQ(adapter.model_tag(), "my-model-2");
}

}  // namespace
}  // namespace bc
