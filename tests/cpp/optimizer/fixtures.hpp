#pragma once
// Small builders for the hardware and model profiles the planning tests use.

#include <cstdint>
#include <optional>

#include "core/records.hpp"

namespace bc::testing {

inline HardwareProfile cpu_only(uint32_t cores, uint64_t available_mb = 16000,
                                SimdLevel simd = SimdLevel::AVX2) {
  HardwareProfile p;
  p.cpu.core_count = cores;
  p.cpu.brand = "Test CPU";
  p.cpu.simd_level = simd;
  p.ram.total_mb = available_mb * 2;
  p.ram.available_mb = available_mb;
  return p;
}

inline HardwareProfile with_gpu(HardwareProfile p, GpuVendor vendor, uint64_t vram_mb) {
  p.gpu = GpuInfo{"Test GPU", vram_mb, std::nullopt, vendor};
  return p;
}

inline ModelProfile gguf_model(std::optional<uint64_t> params = std::nullopt) {
  ModelProfile m;
  m.model_path = "/models/test.gguf";
  m.format = ModelFormat::Gguf;
  m.param_count = params;
  return m;
}

inline ModelProfile onnx_model(std::optional<uint64_t> params = std::nullopt) {
  ModelProfile m;
  m.model_path = "/models/test.onnx";
  m.format = ModelFormat::Onnx;
  m.param_count = params;
  return m;
}

}  // namespace bc::testing
