#include "optimizer/workload.hpp"

namespace bc {

std::string_view name(WorkloadClass v) {
  switch (v) {
    case WorkloadClass::MemoryBound:
      return "MemoryBound";
    case WorkloadClass::ComputeBound:
      return "ComputeBound";
    case WorkloadClass::Balanced:
      return "Balanced";
  }
  return "Balanced";
}

HardwareSummary summarize_hardware(const HardwareProfile& profile) {
  HardwareSummary s;
  if (profile.gpu) {
    s.vram_mb = profile.gpu->vram_mb;
    s.has_gpu = true;
    s.is_nvidia = profile.gpu->vendor == GpuVendor::Nvidia;
  }
  s.available_ram_mb = profile.ram.available_mb;
  s.core_count = profile.cpu.core_count;
  return s;
}

WorkloadClass classify_workload(const ModelProfile& model) {
  if (!model.feed_forward_length || !model.hidden_size || *model.hidden_size == 0) {
    return WorkloadClass::Balanced;
  }
  // Integer quotient on purpose: a ratio of 7.9 is still Balanced.
  const uint64_t ratio = *model.feed_forward_length / *model.hidden_size;
  if (ratio > 7) return WorkloadClass::ComputeBound;
  if (ratio < 3) return WorkloadClass::MemoryBound;
  return WorkloadClass::Balanced;
}

ModelAnalysis analyze_workload(const ModelProfile& model, const HardwareSummary& summary) {
  ModelAnalysis a;
  a.workload = classify_workload(model);
  if (model.memory_footprint_mb) {
    a.fp16_size_mb = *model.memory_footprint_mb;
  } else if (model.param_count) {
    // Decimal megabytes here, unlike the MiB of the model description.
    a.fp16_size_mb = static_cast<double>(*model.param_count) * 2.0 / 1'000'000.0;
  }
  if (model.kv_cache_size_mb) {
    // The KV cache lives where the weights would: VRAM when there is a GPU.
    const double limit = summary.vram_mb ? static_cast<double>(*summary.vram_mb) * 0.3
                                         : static_cast<double>(summary.available_ram_mb) * 0.2;
    a.kv_pressure = *model.kv_cache_size_mb > limit;
  }
  a.param_count = model.param_count;
  return a;
}

}  // namespace bc
