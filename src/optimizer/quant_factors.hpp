#pragma once
// Per-quantization factors shared by the memory filters and the estimate.

#include "core/records.hpp"

namespace bc::quant {

// Bytes each weight takes on disk and in memory.
constexpr double weight_bytes(QuantizationStrategy q) {
  switch (q) {
    case QuantizationStrategy::F16:
      return 2.0;
    case QuantizationStrategy::Q8_0:
      return 1.0;
    case QuantizationStrategy::Q4_K_M:
      return 0.5;
    case QuantizationStrategy::Q4_0:
      return 0.5;
    case QuantizationStrategy::Int8:
      return 1.0;
    case QuantizationStrategy::Int4:
      return 0.5;
  }
  return 2.0;
}

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
