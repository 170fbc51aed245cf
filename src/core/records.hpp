#pragma once
// The plain records and closed enumerations every subsystem exchanges.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace bc {

enum class SimdLevel { None, AVX, AVX2, AVX512 };
enum class GpuVendor { Nvidia, Amd, Apple, Unknown };
// Ollama comes before Vllm: the order is part of the external contract.
enum class RuntimeKind { LlamaCpp, OnnxRuntime, TensorRT, Ollama, Vllm };
enum class QuantizationStrategy { F16, Q8_0, Q4_K_M, Q4_0, Int8, Int4 };
enum class ModelFormat { Onnx, Gguf };

inline constexpr RuntimeKind kAllRuntimeKinds[] = {RuntimeKind::LlamaCpp, RuntimeKind::OnnxRuntime,
                                                   RuntimeKind::TensorRT, RuntimeKind::Ollama,
                                                   RuntimeKind::Vllm};
inline constexpr QuantizationStrategy kAllQuantizations[] = {
    QuantizationStrategy::F16,  QuantizationStrategy::Q8_0, QuantizationStrategy::Q4_K_M,
    QuantizationStrategy::Q4_0, QuantizationStrategy::Int8, QuantizationStrategy::Int4};

// Canonical names, used in JSON (both ways), reprs and getters.
std::string_view name(SimdLevel v);
std::string_view name(GpuVendor v);
std::string_view name(RuntimeKind v);
std::string_view name(QuantizationStrategy v);
// "gguf" / "onnx"; adapter messages use upper_name ("GGUF" / "ONNX").
std::string_view name(ModelFormat v);
std::string_view upper_name(ModelFormat v);
// The type name llama-quantize takes on its command line.
std::string_view llama_quantize_type(QuantizationStrategy q);

// Exact, case-sensitive inverses of name().
std::optional<RuntimeKind> runtime_kind_from_name(std::string_view s);
std::optional<QuantizationStrategy> quantization_from_name(std::string_view s);

struct CpuInfo {
  uint32_t core_count = 0;
  std::string brand;
  SimdLevel simd_level = SimdLevel::None;
  bool operator==(const CpuInfo&) const = default;
};

struct GpuInfo {
  std::string name;
  uint64_t vram_mb = 0;
  std::optional<std::pair<uint32_t, uint32_t>> compute_capability;
  GpuVendor vendor = GpuVendor::Unknown;
  bool operator==(const GpuInfo&) const = default;
};

struct RamInfo {
  uint64_t total_mb = 0;
  uint64_t available_mb = 0;
  bool operator==(const RamInfo&) const = default;
};

struct HardwareProfile {
  CpuInfo cpu;
  std::optional<GpuInfo> gpu;  // absent: CPU-only
  RamInfo ram;
  bool operator==(const HardwareProfile&) const = default;
};

struct RuntimeConfig {
  RuntimeKind runtime = RuntimeKind::LlamaCpp;
  QuantizationStrategy quantization = QuantizationStrategy::F16;
  uint32_t threads = 0;
  uint32_t batch_size = 0;
  uint32_t gpu_layers = 0;
  bool operator==(const RuntimeConfig&) const = default;
};

struct BenchmarkResult {
  double tokens_per_sec = 0.0;
  double latency_ms = 0.0;
  uint64_t peak_memory_mb = 0;
  bool operator==(const BenchmarkResult&) const = default;
};

struct OptimizationResult {
  RuntimeConfig config;
  BenchmarkResult metrics;
  bool operator==(const OptimizationResult&) const = default;
};

// The model as the optimizer and the adapters see it.
struct ModelProfile {
  std::string model_path;
  ModelFormat format = ModelFormat::Gguf;
  std::optional<uint64_t> param_count;
  std::optional<uint64_t> feed_forward_length;
  std::optional<uint32_t> hidden_size;
  std::optional<uint32_t> attention_head_count;
  std::optional<uint32_t> attention_head_count_kv;
  std::optional<double> kv_cache_size_mb;
  std::optional<double> memory_footprint_mb;
  std::optional<double> flops_per_token;
  bool operator==(const ModelProfile&) const = default;
};

}  // namespace bc
