#pragma once
// Per-quantization factors of the estimate. Bytes per weight live with the
// adapters (bytes_per_weight), which share them with the memory filters.

#include "core/records.hpp"

namespace bc::quant {

// Throughput relative to Q4_K_M.
constexpr double speed_factor(QuantizationStrategy q) {
  switch (q) {
    case QuantizationStrategy::F16:
      return 0.28;
    case QuantizationStrategy::Q8_0:
      return 0.55;
    case QuantizationStrategy::Q4_K_M:
      return 1.0;
    case QuantizationStrategy::Q4_0:
      return 0.95;
    case QuantizationStrategy::Int8:
      return 0.55;
    case QuantizationStrategy::Int4:
      return 1.0;
  }
  return 1.0;
}

// Share of the 16-bit footprint that remains after quantization.
constexpr double memory_factor(QuantizationStrategy q) {
  switch (q) {
    case QuantizationStrategy::F16:
      return 1.0;
    case QuantizationStrategy::Q8_0:
      return 0.5;
    case QuantizationStrategy::Q4_K_M:
      return 0.25;
    case QuantizationStrategy::Q4_0:
      return 0.25;
    case QuantizationStrategy::Int8:
      return 0.5;
    case QuantizationStrategy::Int4:
      return 0.25;
  }
  return 1.0;
}

}  // namespace bc::quant
