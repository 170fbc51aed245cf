#include "runtime/tensorrt_adapter.hpp"

#include <gtest/gtest.h>

#include "runtime/adapter_registry.hpp"
#include "runtime/fake_tools.hpp"
#include "runtime/fixtures.hpp"

namespace bc {
namespace {

using namespace bc::testing;
using Kind = AdapterError::Kind;

constexpr const char* kReport =
    "&&&& RUNNING TensorRT.trtexec [TensorRT v100300] # trtexec --onnx=model.onnx\n"
    "[08/01/2024-10:00:00] [I] === Performance summary ===\n"
    "[08/01/2024-10:00:00] [I] Throughput: 591.364 qps\n"
    "[08/01/2024-10:00:00] [I] Latency: min = 1.64258 ms, max = 1.77148 ms, mean = 1.68506 ms, "
    "median = 1.68359 ms\n"
    "[08/01/2024-10:00:00] [I] GPU Memory: 1234 MiB\n";

class TensorRtBenchmark : public ::testing::Test {
 protected:
  Expected<BenchmarkResult> benchmark() {
    AdapterRegistry registry;
    return registry.benchmark(config, model, "unused");
  }

  FakeTools tools;
  ModelProfile model = model_at(tools.file("m.onnx", "onnx"), ModelFormat::Onnx, 7'000'000'000);
  RuntimeConfig config = config_for(RuntimeKind::TensorRT, QuantizationStrategy::Int4, 8, 16, 0);
};

TEST_F(TensorRtBenchmark, ReportFiguresAsPrintedAndExactCommandLine) {
  tools.add("nvidia-smi", {"8.9\n", "", 0});
  tools.add("trtexec", {kReport, "[W] some warning\n", 0});
  auto result = benchmark();
  ASSERT_TRUE(result) << result.error().full_message();
  EXPECT_EQ(*result, (BenchmarkResult{591.364, 1.68506, 1234}));
  EXPECT_EQ(tools.calls("nvidia-smi"), (std::vector<std::vector<std::string>>{
                                           {tools.tool_path("nvidia-smi").string(),
                                            "--query-gpu=compute_cap", "--format=csv,noheader"}}));
  const std::vector<std::string> run = {tools.tool_path("trtexec").string(),
                                        "--onnx=" + model.model_path,
                                        "--int8",
                                        "--batch=16",
                                        "--workspace=4096",
                                        "--iterations=10",
                                        "--warmUp=2000",
                                        "--duration=0"};
  EXPECT_EQ(tools.calls("trtexec"), (std::vector<std::vector<std::string>>{run, run}));
}

TEST_F(TensorRtBenchmark, ComputeCapabilityGate) {
  tools.add("trtexec", {kReport, "", 0});
  struct Case {
    FakeRun smi;
    bool passes;
  } cases[] = {
      {{"6.1\n", "", 0}, false},      {{"7.0\n", "", 0}, true}, {{"7.5\n6.1\n", "", 0}, true},
      {{"8\n", "", 0}, true},         {{"N/A\n", "", 0}, true}, {{"6.1\n", "", 1}, true},
      {{"6.1\n", "", 0, true}, true},
  };
  for (const auto& c : cases) {
    tools.add("nvidia-smi", c.smi);
    TensorRtAdapter adapter;
    auto s = adapter.initialize(config);
    EXPECT_EQ(s.has_value(), c.passes) << c.smi.out;
    if (!s) {
      expect_adapter_error(s.error(), Kind::UnsupportedConfiguration,
                           "unsupported configuration: TensorRT requires compute capability "
                           "\u2265 7.0, found 6.x");
      EXPECT_FALSE(adapter.state().tool_path);
    }
  }
  std::filesystem::remove(tools.tool_path("nvidia-smi"));
  EXPECT_TRUE(benchmark());
}

TEST_F(TensorRtBenchmark, FailedRuns) {
  struct Case {
    FakeRun run;
    std::string reason;
  } cases[] = {
      {{"", "[E] Error[4]: invalid ONNX\n", 1},
       "trtexec exited non-zero: [E] Error[4]: invalid ONNX"},
      {{"", "Segmentation fault\n", 0, true}, "trtexec exited non-zero: Segmentation fault"},
      {{"", kReport, 0}, "could not parse throughput from trtexec output"},
      {{"Throughput: 10 qps\nLatency: mean: 1 ms\n", "", 0},
       "could not parse latency from trtexec output"},
  };
  for (const auto& c : cases) {
    tools.add("trtexec", c.run);
    auto result = benchmark();
    ASSERT_FALSE(result) << c.reason;
    expect_adapter_error(result.error(), Kind::InferenceFailed, "inference failed: " + c.reason);
  }
}

TEST_F(TensorRtBenchmark, MissingToolAndModelChecks) {
  auto result = benchmark();
  ASSERT_FALSE(result);
  expect_adapter_error(result.error(), Kind::NotInstalled,
                       "required binary 'trtexec' was not found in PATH \u2014 install NVIDIA "
                       "TensorRT from https://developer.nvidia.com/tensorrt");

  TensorRtAdapter adapter;
  const std::string missing = (tools.root() / "none.onnx").string();
  auto gguf = adapter.load_model(model_at(missing, ModelFormat::Gguf));
  ASSERT_FALSE(gguf);
  expect_adapter_error(gguf.error(), Kind::UnsupportedConfiguration,
                       "unsupported configuration: TensorRT only supports ONNX models, got GGUF");
  auto absent = adapter.load_model(model_at(missing, ModelFormat::Onnx));
  ASSERT_FALSE(absent);
  expect_adapter_error(absent.error(), Kind::ModelLoadFailed,
                       "model load failed for '" + missing + "': file not found");
}

}  // namespace
}  // namespace bc
