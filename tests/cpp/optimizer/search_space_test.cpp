#include "optimizer/search_space.hpp"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "fixtures.hpp"

namespace bc {
namespace {

using testing::cpu_only;
using testing::gguf_model;
using testing::onnx_model;
using testing::with_gpu;
using Q = QuantizationStrategy;
using R = RuntimeKind;
using Pairs = std::vector<std::pair<R, Q>>;

TEST(SearchSpace, ThreadCandidates) {
  const std::pair<uint32_t, std::vector<uint32_t>> cases[] = {
      {8, {4, 8, 16}},    {1, {1, 2}},         {0, {1}},
      {2, {1, 2, 4}},     {100, {50, 64}},     {128, {64}},
      {33, {16, 33, 64}}, {4294967295u, {64}},  // twice the count must clamp, not wrap
  };
  for (const auto& [cores, expected] : cases) {
    EXPECT_EQ(thread_candidates(cores), expected) << cores << " cores";
  }
}

TEST(SearchSpace, QuantizationCandidatesFilterByAvailableRam) {
  struct Case {
    const char* label;
    ModelFormat format;
    WorkloadClass workload;
    std::optional<uint64_t> params;
    uint64_t available_mb;
    std::vector<Q> expected;
  };
  const Case cases[] = {
      {"both fit",
       ModelFormat::Gguf,
       WorkloadClass::Balanced,
       7'000'000'000,
       16000,
       {Q::Q4_K_M, Q::Q8_0}},
      {"none fit", ModelFormat::Gguf, WorkloadClass::Balanced, 7'000'000'000, 4000, {Q::Q4_K_M}},
      {"exactly at the limit stays",
       ModelFormat::Gguf,
       WorkloadClass::Balanced,
       8'000'000'000,
       5000,
       {Q::Q4_K_M}},
      {"compute bound",
       ModelFormat::Gguf,
       WorkloadClass::ComputeBound,
       30'000'000'000,
       32000,
       {Q::Q4_K_M}},
      {"memory bound",
       ModelFormat::Gguf,
       WorkloadClass::MemoryBound,
       std::nullopt,
       0,
       {Q::Q4_K_M, Q::Q4_0}},
      {"onnx unknown size",
       ModelFormat::Onnx,
       WorkloadClass::MemoryBound,
       std::nullopt,
       0,
       {Q::Int8, Q::F16}},
      {"onnx compute",
       ModelFormat::Onnx,
       WorkloadClass::ComputeBound,
       1000,
       16000,
       {Q::F16, Q::Int8}},
      {"onnx nothing fits",
       ModelFormat::Onnx,
       WorkloadClass::Balanced,
       7'000'000'000,
       1000,
       {Q::Q4_K_M}},
  };
  for (const Case& c : cases) {
    ModelAnalysis a;
    a.workload = c.workload;
    a.param_count = c.params;
    HardwareSummary s;
    s.available_ram_mb = c.available_mb;
    EXPECT_EQ(quantization_candidates(c.format, a, s), c.expected) << c.label;
  }
}

TEST(SearchSpace, MaxGpuLayers) {
  const HardwareProfile cpu = cpu_only(8);
  struct Case {
    HardwareProfile profile;
    std::optional<uint64_t> params;
    uint32_t expected;
  };
  const Case cases[] = {
      {with_gpu(cpu, GpuVendor::Nvidia, 24576), 7'000'000'000, 32},
      {with_gpu(cpu, GpuVendor::Nvidia, 8192), 7'000'000'000, 19},
      {with_gpu(cpu, GpuVendor::Nvidia, 8192), 0, 0},
      {with_gpu(cpu, GpuVendor::Nvidia, 0), 7'000'000'000, 0},
      {with_gpu(cpu, GpuVendor::Amd, 2048), std::nullopt, 16},
      {with_gpu(cpu, GpuVendor::Amd, 6144), std::nullopt, 32},
      {with_gpu(cpu, GpuVendor::Amd, 12288), std::nullopt, 48},
      {cpu, 7'000'000'000, 0},
      {cpu, std::nullopt, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(max_gpu_layers(c.profile, gguf_model(c.params)), c.expected)
        << c.profile.gpu.value_or(GpuInfo{}).vram_mb << " MB, " << c.params.value_or(0);
  }
}

TEST(SearchSpace, GpuLayerLevels) {
  const std::pair<uint32_t, std::vector<uint32_t>> cases[] = {
      {0, {0}},
      {3, {0, 1, 2, 3}},
      {1, {0, 1}},
      {16, {0, 4, 8, 12, 16}},
      {32, {0, 8, 16, 24, 32}},
      {48, {0, 12, 24, 36, 48}},
      // The top level is the bound itself even where 4 × bound exceeds 32 bits.
      {4294967295u, {0, 1073741823, 2147483647, 3221225471u, 4294967295u}},
  };
  for (const auto& [bound, expected] : cases) EXPECT_EQ(gpu_layer_levels(bound), expected) << bound;
}

TEST(SearchSpace, RuntimeQuantizationPairs) {
  const HardwareProfile cpu = cpu_only(8);
  const HardwareProfile nvidia = with_gpu(cpu, GpuVendor::Nvidia, 8192);
  const HardwareProfile amd = with_gpu(cpu, GpuVendor::Amd, 8192);
  EXPECT_EQ(runtime_quantization_pairs(ModelFormat::Gguf, cpu, WorkloadClass::Balanced),
            (Pairs{{R::LlamaCpp, Q::Q4_K_M},
                   {R::Ollama, Q::Q4_K_M},
                   {R::LlamaCpp, Q::Q4_0},
                   {R::Ollama, Q::Q4_0},
                   {R::LlamaCpp, Q::Q8_0},
                   {R::Ollama, Q::Q8_0},
                   {R::LlamaCpp, Q::F16},
                   {R::Ollama, Q::F16}}));
  EXPECT_EQ(runtime_quantization_pairs(ModelFormat::Gguf, nvidia, WorkloadClass::ComputeBound),
            (Pairs{{R::LlamaCpp, Q::F16},
                   {R::Ollama, Q::F16},
                   {R::LlamaCpp, Q::Q8_0},
                   {R::Ollama, Q::Q8_0},
                   {R::LlamaCpp, Q::Q4_K_M},
                   {R::Ollama, Q::Q4_K_M},
                   {R::LlamaCpp, Q::Q4_0},
                   {R::Ollama, Q::Q4_0}}));
  // GGUF is never regrouped for memory-bound models.
  EXPECT_EQ(runtime_quantization_pairs(ModelFormat::Gguf, cpu, WorkloadClass::MemoryBound),
            runtime_quantization_pairs(ModelFormat::Gguf, cpu, WorkloadClass::Balanced));
  EXPECT_EQ(runtime_quantization_pairs(ModelFormat::Onnx, cpu, WorkloadClass::Balanced),
            (Pairs{{R::OnnxRuntime, Q::F16}, {R::OnnxRuntime, Q::Int8}}));
  EXPECT_EQ(runtime_quantization_pairs(ModelFormat::Onnx, amd, WorkloadClass::Balanced),
            (Pairs{{R::OnnxRuntime, Q::F16},
                   {R::OnnxRuntime, Q::Int8},
                   {R::Vllm, Q::F16},
                   {R::Vllm, Q::Q8_0}}));
  EXPECT_EQ(runtime_quantization_pairs(ModelFormat::Onnx, nvidia, WorkloadClass::MemoryBound),
            (Pairs{{R::OnnxRuntime, Q::Int8},
                   {R::TensorRT, Q::Int8},
                   {R::OnnxRuntime, Q::F16},
                   {R::TensorRT, Q::F16},
                   {R::Vllm, Q::F16},
                   {R::Vllm, Q::Q8_0}}));
}

TEST(SearchSpace, GridOrderSizeAndVramFilter) {
  const ModelProfile model = gguf_model(7'000'000'000);
  const std::vector<RuntimeConfig> grid =
      generate_grid(with_gpu(cpu_only(8), GpuVendor::Nvidia, 24576), model);
  ASSERT_EQ(grid.size(), 120u);
  EXPECT_EQ(grid[0], (RuntimeConfig{R::LlamaCpp, Q::Q4_K_M, 4, 512, 0}));
  EXPECT_EQ(grid[1], (RuntimeConfig{R::LlamaCpp, Q::Q4_K_M, 4, 512, 8}));
  EXPECT_EQ(grid[5], (RuntimeConfig{R::LlamaCpp, Q::Q4_K_M, 8, 512, 0}));
  EXPECT_EQ(grid[15], (RuntimeConfig{R::Ollama, Q::Q4_K_M, 4, 512, 0}));
  EXPECT_EQ(grid[119], (RuntimeConfig{R::Ollama, Q::F16, 16, 512, 32}));

  const std::vector<RuntimeConfig> smaller =
      generate_grid(with_gpu(cpu_only(8), GpuVendor::Nvidia, 12288), model);
  ASSERT_EQ(smaller.size(), 90u);
  for (const RuntimeConfig& c : smaller) EXPECT_NE(c.quantization, Q::F16);
  EXPECT_EQ(smaller.back(), (RuntimeConfig{R::Ollama, Q::Q8_0, 16, 512, 29}));

  // Every pair too large for the GPU, llama.cpp and Ollama included.
  EXPECT_TRUE(generate_grid(with_gpu(cpu_only(8), GpuVendor::Amd, 1000), model).empty());
  // Without a GPU nothing is filtered, whatever the size.
  EXPECT_EQ(generate_grid(cpu_only(8, 10), model).size(), 8u * 3u * 1u);
}

TEST(SearchSpace, GridBatchSizeFollowsKvCacheAgainstVram) {
  ModelProfile model = gguf_model();
  model.kv_cache_size_mb = 4000.0;
  const HardwareProfile gpu = with_gpu(cpu_only(8), GpuVendor::Nvidia, 12000);
  for (const RuntimeConfig& c : generate_grid(gpu, model)) EXPECT_EQ(c.batch_size, 256u);
  model.kv_cache_size_mb = 3600.0;  // exactly the limit: not above it
  for (const RuntimeConfig& c : generate_grid(gpu, model)) EXPECT_EQ(c.batch_size, 512u);
  model.kv_cache_size_mb.reset();
  for (const RuntimeConfig& c : generate_grid(gpu, model)) EXPECT_EQ(c.batch_size, 512u);
  model.kv_cache_size_mb = 4000.0;
  for (const RuntimeConfig& c : generate_grid(cpu_only(8), model)) EXPECT_EQ(c.batch_size, 512u);
}

TEST(SearchSpace, OnnxGridOnCpuAndAmd) {
  const std::vector<RuntimeConfig> cpu = generate_grid(cpu_only(8), onnx_model(1'000'000));
  ASSERT_EQ(cpu.size(), 2u * 3u);
  for (const RuntimeConfig& c : cpu) {
    EXPECT_EQ(c.runtime, R::OnnxRuntime);
    EXPECT_EQ(c.gpu_layers, 0u);
  }
  const std::vector<RuntimeConfig> amd =
      generate_grid(with_gpu(cpu_only(8), GpuVendor::Amd, 8192), onnx_model(1'000'000));
  ASSERT_EQ(amd.size(), 4u * 3u * 5u);
  EXPECT_EQ(amd.back(), (RuntimeConfig{R::Vllm, Q::Q8_0, 16, 512, 32}));
  for (const RuntimeConfig& c : amd) EXPECT_NE(c.runtime, R::TensorRT);
}

}  // namespace
}  // namespace bc
