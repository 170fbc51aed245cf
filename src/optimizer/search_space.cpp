#include "optimizer/search_space.hpp"

#include <algorithm>
#include <cmath>

#include "core/text.hpp"
#include "runtime/tool_helpers.hpp"

namespace bc {
namespace {

using Q = QuantizationStrategy;

// Megabytes here are decimal (10^6 bytes), as in every memory filter.
double weights_mb(Q q, uint64_t param_count) {
  return bytes_per_weight(q) * static_cast<double>(param_count) / 1'000'000.0;
}

std::vector<Q> base_quantizations(ModelFormat format, WorkloadClass workload) {
  if (format == ModelFormat::Gguf) {
    switch (workload) {
      case WorkloadClass::MemoryBound:
        return {Q::Q4_K_M, Q::Q4_0};
      case WorkloadClass::ComputeBound:
        return {Q::Q8_0, Q::Q4_K_M, Q::F16};
      case WorkloadClass::Balanced:
        return {Q::Q4_K_M, Q::Q8_0};
    }
  }
  switch (workload) {
    case WorkloadClass::MemoryBound:
      return {Q::Int8, Q::F16};
    case WorkloadClass::ComputeBound:
      return {Q::F16, Q::Int8};
    case WorkloadClass::Balanced:
      return {Q::F16, Q::Int8};
  }
  return {Q::Q4_K_M};
}

bool is_integer_quantization(Q q) { return q == Q::Int8 || q == Q::Int4; }

}  // namespace

std::vector<QuantizationStrategy> quantization_candidates(ModelFormat format,
                                                          const ModelAnalysis& analysis,
                                                          const HardwareSummary& summary) {
  std::vector<Q> list = base_quantizations(format, analysis.workload);
  if (analysis.param_count) {
    const double limit = static_cast<double>(summary.available_ram_mb) * 0.8;
    std::erase_if(list, [&](Q q) { return !(limit >= weights_mb(q, *analysis.param_count)); });
  }
  // Q4_K_M even for ONNX: the search must always have something to decode.
  if (list.empty()) list.push_back(Q::Q4_K_M);
  return list;
}

std::vector<uint32_t> thread_candidates(uint32_t core_count) {
  // 64-bit so that twice a huge core count clamps instead of wrapping.
  const uint64_t n = core_count;
  std::vector<uint32_t> out;
  for (uint64_t v : {n / 2, n, n * 2})
    out.push_back(static_cast<uint32_t>(std::clamp<uint64_t>(v, 1, 64)));
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

uint32_t max_gpu_layers(const HardwareProfile& profile, const ModelProfile& model) {
  if (!profile.gpu) return 0;
  const uint64_t vram = profile.gpu->vram_mb;
  if (!model.param_count) {
    if (vram < 4096) return 16;
    if (vram < 12288) return 32;
    return 48;
  }
  // The 16-bit size in MiB, compared with VRAM as reported (also MiB).
  const double size = static_cast<double>(*model.param_count) * 2.0 * std::ldexp(1.0, -20);
  if (!(size > 0.0)) return 0;
  return saturate_u32(std::floor(std::min(static_cast<double>(vram) / size, 1.0) * 32.0));
}

std::vector<uint32_t> gpu_layer_levels(uint32_t bound) {
  if (bound == 0) return {0};
  std::vector<uint32_t> levels;
  for (uint64_t i = 0; i <= 4; ++i) {
    // 64-bit product: a 32-bit one would wrap for bounds above 2^30.
    levels.push_back(static_cast<uint32_t>(std::min<uint64_t>(bound, i * bound / 4)));
  }
  std::sort(levels.begin(), levels.end());
  levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
  return levels;
}

std::vector<std::pair<RuntimeKind, QuantizationStrategy>> runtime_quantization_pairs(
    ModelFormat format, const HardwareProfile& profile, WorkloadClass workload) {
  std::vector<std::pair<RuntimeKind, Q>> pairs;
  if (format == ModelFormat::Gguf) {
    const std::vector<Q> order = workload == WorkloadClass::ComputeBound
                                     ? std::vector<Q>{Q::F16, Q::Q8_0, Q::Q4_K_M, Q::Q4_0}
                                     : std::vector<Q>{Q::Q4_K_M, Q::Q4_0, Q::Q8_0, Q::F16};
    for (Q q : order) {
      pairs.emplace_back(RuntimeKind::LlamaCpp, q);
      pairs.emplace_back(RuntimeKind::Ollama, q);
    }
    return pairs;
  }
  pairs.emplace_back(RuntimeKind::OnnxRuntime, Q::F16);
  pairs.emplace_back(RuntimeKind::OnnxRuntime, Q::Int8);
  if (profile.gpu && profile.gpu->vendor == GpuVendor::Nvidia) {
    pairs.emplace_back(RuntimeKind::TensorRT, Q::F16);
    pairs.emplace_back(RuntimeKind::TensorRT, Q::Int8);
  }
  if (profile.gpu) {
    pairs.emplace_back(RuntimeKind::Vllm, Q::F16);
    pairs.emplace_back(RuntimeKind::Vllm, Q::Q8_0);
  }
  if (workload == WorkloadClass::MemoryBound) {
    std::stable_partition(pairs.begin(), pairs.end(),
                          [](const auto& p) { return is_integer_quantization(p.second); });
  }
  return pairs;
}

std::vector<RuntimeConfig> generate_grid(const HardwareProfile& profile,
                                         const ModelProfile& model) {
  auto pairs = runtime_quantization_pairs(model.format, profile, classify_workload(model));
  const std::vector<uint32_t> threads = thread_candidates(profile.cpu.core_count);
  const std::vector<uint32_t> levels = gpu_layer_levels(max_gpu_layers(profile, model));

  uint32_t batch_size = 512;
  if (profile.gpu && model.kv_cache_size_mb &&
      *model.kv_cache_size_mb > static_cast<double>(profile.gpu->vram_mb) * 0.3) {
    batch_size = 256;
  }
  if (profile.gpu && model.param_count) {
    const double limit = static_cast<double>(profile.gpu->vram_mb) * 0.9;
    std::erase_if(pairs,
                  [&](const auto& p) { return weights_mb(p.second, *model.param_count) > limit; });
  }

  std::vector<RuntimeConfig> grid;
  grid.reserve(pairs.size() * threads.size() * levels.size());
  for (const auto& [runtime, quantization] : pairs) {
    for (uint32_t t : threads) {
      for (uint32_t level : levels) {
        grid.push_back(RuntimeConfig{runtime, quantization, t, batch_size, level});
      }
    }
  }
  return grid;
}

}  // namespace bc
