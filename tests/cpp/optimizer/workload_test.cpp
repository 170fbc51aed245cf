#include "optimizer/workload.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures.hpp"
#include "optimizer/preselect.hpp"

namespace bc {
namespace {

using testing::cpu_only;
using testing::gguf_model;
using testing::onnx_model;
using testing::with_gpu;

TEST(Workload, ClassifiesByIntegerWidthRatio) {
  struct Case {
    std::optional<uint64_t> ffn;
    std::optional<uint32_t> hidden;
    WorkloadClass expected;
  };
  const Case cases[] = {
      {11008, 4096, WorkloadClass::MemoryBound},   // 2
      {14336, 4096, WorkloadClass::Balanced},      // 3
      {28672, 4096, WorkloadClass::Balanced},      // 7
      {32767, 4096, WorkloadClass::Balanced},      // 7.99 truncates to 7
      {32768, 4096, WorkloadClass::ComputeBound},  // 8
      {11008, std::nullopt, WorkloadClass::Balanced},
      {std::nullopt, 4096, WorkloadClass::Balanced},
      {11008, 0, WorkloadClass::Balanced},
  };
  for (const Case& c : cases) {
    ModelProfile m = gguf_model();
    m.feed_forward_length = c.ffn;
    m.hidden_size = c.hidden;
    EXPECT_EQ(analyze_workload(m, summarize_hardware(cpu_only(8))).workload, c.expected)
        << c.ffn.value_or(0) << "/" << c.hidden.value_or(0);
    EXPECT_EQ(classify_workload(m), c.expected);
  }
  EXPECT_EQ(name(WorkloadClass::MemoryBound), "MemoryBound");
  EXPECT_EQ(name(WorkloadClass::ComputeBound), "ComputeBound");
  EXPECT_EQ(name(WorkloadClass::Balanced), "Balanced");
}

TEST(Workload, Fp16SizePrefersFootprintThenDecimalParams) {
  const HardwareSummary s = summarize_hardware(cpu_only(8));
  ModelProfile m = gguf_model(7'000'000'000);
  EXPECT_EQ(analyze_workload(m, s).fp16_size_mb, 14000.0);
  EXPECT_EQ(analyze_workload(m, s).param_count, 7'000'000'000u);
  m.memory_footprint_mb = 13351.4404296875;
  EXPECT_EQ(analyze_workload(m, s).fp16_size_mb, 13351.4404296875);
  EXPECT_EQ(analyze_workload(gguf_model(), s).fp16_size_mb, std::nullopt);
}

TEST(Workload, KvPressureComparesWithVramElseAvailableRam) {
  ModelProfile m = gguf_model();
  m.kv_cache_size_mb = 2048.0;
  const HardwareProfile cpu = cpu_only(8, 8192);
  EXPECT_FALSE(analyze_workload(m, summarize_hardware(with_gpu(cpu, GpuVendor::Nvidia, 8192)))
                   .kv_pressure);                                         // limit 2457.6
  EXPECT_TRUE(analyze_workload(m, summarize_hardware(cpu)).kv_pressure);  // limit 1638.4
  // A GPU reporting no VRAM is still where the cache would go.
  m.kv_cache_size_mb = 0.5;
  EXPECT_TRUE(
      analyze_workload(m, summarize_hardware(with_gpu(cpu, GpuVendor::Amd, 0))).kv_pressure);
  m.kv_cache_size_mb.reset();
  EXPECT_FALSE(
      analyze_workload(m, summarize_hardware(with_gpu(cpu, GpuVendor::Amd, 0))).kv_pressure);
}

TEST(Workload, SummaryFlagsGpuAndVendor) {
  const HardwareSummary amd = summarize_hardware(with_gpu(cpu_only(12, 9000), GpuVendor::Amd, 0));
  EXPECT_EQ(amd, (HardwareSummary{0u, 9000, 12, true, false}));
  const HardwareSummary nv =
      summarize_hardware(with_gpu(cpu_only(4, 100), GpuVendor::Nvidia, 24576));
  EXPECT_EQ(nv, (HardwareSummary{24576u, 100, 4, true, true}));
  EXPECT_EQ(summarize_hardware(cpu_only(8, 16000)),
            (HardwareSummary{std::nullopt, 16000, 8, false, false}));
}

TEST(Preselect, OutcomesByFormatAndHardware) {
  const std::string trt = "[Stage 3/7] Eliminated TensorRT: TensorRT requires NVIDIA GPU";
  const std::string no_gpu = "[Stage 3/7] Eliminated Vllm: vLLM requires a GPU";
  const std::string kv = "[Stage 3/7] Eliminated Vllm: vLLM cannot handle KV pressure without VRAM";
  struct Case {
    const char* label;
    ModelFormat format;
    HardwareProfile profile;
    bool kv_pressure;
    std::vector<std::string> lines;
    std::vector<RuntimeKind> expected;
  };
  using R = RuntimeKind;
  const HardwareProfile cpu = cpu_only(8);
  const Case cases[] = {
      {"gguf cpu", ModelFormat::Gguf, cpu, true, {}, {R::LlamaCpp, R::Ollama}},
      {"gguf nvidia",
       ModelFormat::Gguf,
       with_gpu(cpu, GpuVendor::Nvidia, 0),
       true,
       {},
       {R::LlamaCpp, R::Ollama}},
      {"onnx nvidia",
       ModelFormat::Onnx,
       with_gpu(cpu, GpuVendor::Nvidia, 8192),
       false,
       {},
       {R::TensorRT, R::OnnxRuntime}},
      {"onnx nvidia kv",
       ModelFormat::Onnx,
       with_gpu(cpu, GpuVendor::Nvidia, 0),
       true,
       {kv},
       {R::TensorRT, R::OnnxRuntime}},
      {"onnx amd",
       ModelFormat::Onnx,
       with_gpu(cpu, GpuVendor::Amd, 16384),
       false,
       {trt},
       {R::OnnxRuntime, R::Vllm}},
      {"onnx amd kv with vram",
       ModelFormat::Onnx,
       with_gpu(cpu, GpuVendor::Amd, 1),
       true,
       {trt},
       {R::OnnxRuntime, R::Vllm}},
      {"onnx amd kv no vram",
       ModelFormat::Onnx,
       with_gpu(cpu, GpuVendor::Amd, 0),
       true,
       {trt, kv},
       {R::OnnxRuntime}},
      {"onnx cpu", ModelFormat::Onnx, cpu, true, {trt, no_gpu}, {R::OnnxRuntime}},
  };
  for (const Case& c : cases) {
    ModelAnalysis analysis;
    analysis.kv_pressure = c.kv_pressure;
    CaptureSink sink;
    EXPECT_EQ(preselect_runtimes(c.format, summarize_hardware(c.profile), analysis, sink),
              c.expected)
        << c.label;
    EXPECT_EQ(sink.lines(), c.lines) << c.label;
  }
}

}  // namespace
}  // namespace bc
