#include "runtime/llamacpp_adapter.hpp"

#include <gtest/gtest.h>

#include "runtime/adapter_registry.hpp"
#include "runtime/fake_tools.hpp"
#include "runtime/fixtures.hpp"

namespace bc {
namespace {

using namespace bc::testing;
using Kind = AdapterError::Kind;

constexpr const char* kCurrentStdout =
    "Once upon a time there was a little fox who lived by the river.\n"
    "\n"
    "[ Prompt: 8888.9 t/s | Generation: 2163.1 t/s ]\n";
constexpr const char* kPerfStderr =
    "llama_perf_context_print: prompt eval time =      50.00 ms /     8 tokens (    6.25 ms per "
    "token,   160.00 tokens per second)\n"
    "llama_perf_context_print:        eval time =     227.40 ms /    49 runs   (    4.64 ms per "
    "token,   215.48 tokens per second)\n";

class LlamaCppBenchmark : public ::testing::Test {
 protected:
  void add_cli(const FakeRun& run) {
    tools.add("llama-cli", run, {{"--version", FakeRun{"version: 6123 (abc)\n", "", 0}}});
  }
  Expected<BenchmarkResult> benchmark(const ModelProfile& model, const RuntimeConfig& config,
                                      const std::string& prompt = "Hello") {
    AdapterRegistry registry;
    return registry.benchmark(config, model, prompt);
  }
  std::vector<std::vector<std::string>> calls() { return tools.calls("llama-cli"); }

  FakeTools tools;
  ModelProfile gguf = model_at(tools.file("m.gguf", kGgufBytes), ModelFormat::Gguf, 1'000'000'000);
  RuntimeConfig config =
      config_for(RuntimeKind::LlamaCpp, QuantizationStrategy::Q8_0, /*threads=*/6, 16, 0);
};

TEST_F(LlamaCppBenchmark, CurrentSummaryLineAndExactCommandLine) {
  add_cli({kCurrentStdout, "load_backend: loaded CPU backend\n", 0});
  const std::string prompt = "Say \"hi\" to 'me' $HOME\nnow";
  auto result = benchmark(gguf, config, prompt);
  ASSERT_TRUE(result) << result.error().full_message();
  EXPECT_DOUBLE_EQ(result->tokens_per_sec, 2163.1);
  EXPECT_DOUBLE_EQ(result->latency_ms, 1000.0 / 2163.1);
  EXPECT_EQ(result->peak_memory_mb, 1000u);

  const std::string cli = tools.tool_path("llama-cli").string();
  const std::vector<std::string> run = {
      cli,   "-m", gguf.model_path, "--threads",   "6",  "--n-gpu-layers", "0", "--ctx-size",
      "512", "-p", prompt,          "--n-predict", "50", "--log-disable"};
  // The version probe, the warm-up run, the measured run.
  EXPECT_EQ(calls(), (std::vector<std::vector<std::string>>{{cli, "--version"}, run, run}));
}

TEST_F(LlamaCppBenchmark, EvalTimeLinesOnStdoutGiveTheGenerationFigures) {
  config.gpu_layers = 33;
  add_cli({std::string("text\n") + kPerfStderr, "", 0});
  auto result = benchmark(gguf, config);
  ASSERT_TRUE(result) << result.error().full_message();
  EXPECT_EQ(*result, (BenchmarkResult{215.48, 4.64, 1000}));
  EXPECT_EQ(calls().back()[6], "33");
}

TEST_F(LlamaCppBenchmark, FailingProbeDoesNotMatter) {
  tools.add("llama-cli", {kCurrentStdout, "", 0}, {{"--version", FakeRun{"", "boom", 3, true}}});
  EXPECT_TRUE(benchmark(gguf, config));
}

TEST_F(LlamaCppBenchmark, FailedRunsReportTrimmedStderrAndStopTheBenchmark) {
  struct Case {
    FakeRun run;
    std::string reason;
  } cases[] = {
      {{"partial", "\n  error: failed to load model\n\n", 1},
       "llama-cli exited non-zero: error: failed to load model"},
      {{"", "out of memory\n", 0, /*killed=*/true}, "llama-cli exited non-zero: out of memory"},
      {{"", std::string(kPerfStderr), 0}, "could not parse timing output from llama-cli"},
      {{"[ Prompt: 1 t/s | Generation: ? t/s ]", "", 0},
       "could not parse timing output from llama-cli"},
  };
  for (const auto& c : cases) {
    FakeTools fresh;
    fresh.add("llama-cli", c.run, {{"--version", FakeRun{}}});
    AdapterRegistry registry;
    auto result = registry.benchmark(config, gguf, "Hello");
    ASSERT_FALSE(result) << c.reason;
    expect_adapter_error(result.error(), Kind::InferenceFailed, "inference failed: " + c.reason);
    // No measured run after a failed warm-up.
    EXPECT_EQ(fresh.calls("llama-cli").size(), 2u) << c.reason;
  }
}

TEST_F(LlamaCppBenchmark, ToolThatCannotStart) {
  write_file(tools.tool_path("llama-cli"), "#!/nonexistent/interpreter\n", true);
  auto result = benchmark(gguf, config);
  ASSERT_FALSE(result);
  expect_adapter_error(result.error(), Kind::InferenceFailed,
                       "inference failed: No such file or directory (os error 2)");
}

TEST_F(LlamaCppBenchmark, MissingToolRunsNothing) {
  auto result = benchmark(gguf, config);
  ASSERT_FALSE(result);
  expect_adapter_error(result.error(), Kind::NotInstalled,
                       "required binary 'llama-cli' was not found in PATH \u2014 install llama.cpp "
                       "from https://github.com/ggml-org/llama.cpp/releases or via your package "
                       "manager (e.g. brew install llama.cpp)");
  EXPECT_EQ(result.error().find_adapter_error()->a, "llama-cli");
}

TEST_F(LlamaCppBenchmark, ModelChecks) {
  const std::string missing = (tools.root() / "files/none.gguf").string();
  struct Case {
    ModelProfile model;
    Kind kind;
    std::string text;
  } cases[] = {
      {model_at(missing, ModelFormat::Onnx), Kind::UnsupportedConfiguration,
       "unsupported configuration: llama.cpp only supports GGUF models, got ONNX"},
      {model_at(missing, ModelFormat::Gguf), Kind::ModelLoadFailed,
       "model load failed for '" + missing + "': file not found"},
      {model_at(tools.file("short.gguf", "GGU"), ModelFormat::Gguf), Kind::ModelLoadFailed,
       "model load failed for '" + (tools.root() / "files/short.gguf").string() +
           "': failed to fill whole buffer"},
      {model_at(tools.root() / "files", ModelFormat::Gguf), Kind::ModelLoadFailed,
       "model load failed for '" + (tools.root() / "files").string() +
           "': Is a directory (os error 21)"},
      {model_at(tools.file("zip.gguf", "PK\x03\x04rest"), ModelFormat::Gguf),
       Kind::UnsupportedConfiguration,
       "unsupported configuration: file does not start with GGUF magic bytes (got [80, 75, 3, 4])"},
  };
  for (const auto& c : cases) {
    LlamaCppAdapter adapter;
    ASSERT_TRUE(adapter.load_model(gguf));
    auto s = adapter.load_model(c.model);
    ASSERT_FALSE(s) << c.text;
    expect_adapter_error(s.error(), c.kind, c.text);
    // A failed load keeps the model loaded before.
    EXPECT_EQ(adapter.state().loaded_model, gguf);
  }
}

}  // namespace
}  // namespace bc
